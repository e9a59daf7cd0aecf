// The native table orbivex.state.coe publishes in `__pyx_capi__`: entry names, C types and
// signature texts, declared once. coe builds its table from this header; a module that binds
// coe's entries includes it, so the texts it expects are the texts coe publishes.
#pragma once

#include <cstddef>

#include "kernels/records.hpp"
#include "support/imports.hpp"

namespace orbivex::coe::exports {

inline constexpr char module[] = "orbivex.state.coe";

/// The C shapes of the entries.
enum class Form { size, anomaly, shape, coe_from_sv, sv_from_coe };

// The entries after `_2pi`, in table order: X(kernel, form, whether the kernel takes the angle
// environment, its parameter names as coe.pxd declares them). Each is published as c_<kernel>,
// a plain function over kern::coe::<kernel>. Adding one takes a row here, its kernel, and its
// line in coe.pxd, which tests compare with this table.
#define ORBIVEX_COE_EXPORTS(X)                                 \
    X(orp_from_sma, size, false, sma, GM)                      \
    X(sma_from_orp, size, false, orp, GM)                      \
    X(mnm_from_sma, size, false, sma, GM)                      \
    X(sma_from_mnm, size, false, mnm, GM)                      \
    X(eca_from_mea, anomaly, false, mea, ecc)                  \
    X(mea_from_eca, anomaly, false, eca, ecc)                  \
    X(eca_from_tra, anomaly, true, tra, ecc)                   \
    X(tra_from_eca, anomaly, true, eca, ecc)                   \
    X(tra_from_mea, anomaly, true, mea, ecc)                   \
    X(mea_from_tra, anomaly, true, tra, ecc)                   \
    X(pge_from_sma_ecc, shape, false, sma, ecc, Re)            \
    X(apg_from_sma_ecc, shape, false, sma, ecc, Re)            \
    X(sma_from_pge_apg, shape, false, pge, apg, Re)            \
    X(sma_from_ecc_pge, shape, false, ecc, pge, Re)            \
    X(sma_from_ecc_apg, shape, false, ecc, apg, Re)            \
    X(ecc_from_pge_apg, shape, false, pge, apg, Re)            \
    X(ecc_from_sma_pge, shape, false, sma, pge, Re)            \
    X(ecc_from_sma_apg, shape, false, sma, apg, Re)            \
    X(coe_from_sv, coe_from_sv, true, r, v, GM, coe)           \
    X(sv_from_coe, sv_from_coe, false, coe, GM, r, v)

/// The C type of each form (const on a by-value parameter is no part of a function's type).
template <Form>
struct c_type;
template <>
struct c_type<Form::size> {
    using type = double(double, double);
};
template <>
struct c_type<Form::anomaly> {
    using type = double(double, double);
};
template <>
struct c_type<Form::shape> {
    using type = double(double, double, double);
};
template <>
struct c_type<Form::coe_from_sv> {
    using type = void(double*, double*, double, COE_t*);
};
template <>
struct c_type<Form::sv_from_coe> {
    using type = void(COE_t, double, double*, double*);
};
template <Form f>
using c_type_t = typename c_type<f>::type;

/// Signature text of each form, as Cython derives it from coe.pxd (COE_t under its mangled
/// name): capsules are named by it, and importers compare it character for character.
constexpr const char* signature(Form f) {
    switch (f) {
    case Form::size: return "double (double const , double)";
    case Form::anomaly: return "double (double const , double const )";
    case Form::shape: return "double (double const , double const , double const )";
    case Form::coe_from_sv:
        return "void (double *, double *, double const , "
               "__pyx_t_7orbivex_9datamodel_10structured_COE_t *)";
    case Form::sv_from_coe:
        return "void (__pyx_t_7orbivex_9datamodel_10structured_COE_t const , double const , "
               "double *, double *)";
    }
    return nullptr;
}

/// The variable published first: 2π, set when coe is imported.
inline constexpr char two_pi_name[] = "_2pi";
inline constexpr char two_pi_signature[] = "double";

/// One published function.
struct Entry {
    const char* name;  ///< c_<kernel>
    Form form;
    bool angle_env;      ///< goes through the bound angle function and can report a failure
    const char* params;  ///< parameter names as coe.pxd declares them, ", " between
};

/// The entries by name, for importers: Id::orp_from_sma and so on.
enum class Id : std::size_t {
#define ORBIVEX_ROW(kernel, ...) kernel,
    ORBIVEX_COE_EXPORTS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};

inline constexpr Entry entries[] = {
#define ORBIVEX_ROW(kernel, form, angle_env, ...) \
    {"c_" #kernel, Form::form, angle_env, #__VA_ARGS__},
    ORBIVEX_COE_EXPORTS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};
inline constexpr std::size_t n_entries = std::size(entries);

constexpr const Entry& entry(Id id) { return entries[static_cast<std::size_t>(id)]; }

/// The pointer an importer keeps for entry `id`.
template <Id id>
using pointer_t = c_type_t<entry(id).form>*;

/// What an importer lists to bind entry `id` into `out`, typed by the entry's form.
template <Id id>
py::NativeImport bind(pointer_t<id>& out) {
    return py::native_function(module, entry(id).name, signature(entry(id).form), out);
}
/// What an importer lists to bind the address of `_2pi` into `out`.
inline py::NativeImport bind_two_pi(const double*& out) {
    return py::native_variable(module, two_pi_name, two_pi_signature, out);
}

}  // namespace orbivex::coe::exports
