// The coe module's catalogue: every Python function, declared once. The parameter names, kinds
// and defaults, the annotations and the docstrings (their first line the signature, rendered
// from those) follow from it; orbivex._testing.testing_coe shows it to the tests. The native
// table is declared in exports.hpp.
//
// The rows are an X-macro, as in the tle catalogue: each row also names the glue that runs the
// function, and C++ has no other way to turn a table into code. Everything else is constexpr
// data computed from the rows at compile time.
#pragma once
#include <Python.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "support/function.hpp"
#include "support/text.hpp"

namespace orbivex::coe::cat {

// The parameters shared by the rows of one form: the size functions take GM (Earth's, read at
// import), the anomaly functions the eccentricity; the state-vector functions have their own.
#define ORBIVEX_COE_SIZE_TAIL                                                                  \
    "\nGM: gravitational parameter of the central body in m^3/s^2 (default: that of the "      \
    "Earth, read at import).\nA scalar gives a float; a one-dimensional float64 array gives a " \
    "new array of its length."
#define ORBIVEX_COE_ANOMALY_TAIL                                                                \
    "\necc: eccentricity (dimensionless).\nEach argument is a scalar or a one-dimensional "      \
    "array (two arrays must have equal length; there is no broadcasting). Scalars give a "      \
    "float, otherwise a new float64 array. Angles are not wrapped into a turn."

// The functions, in order of creation: X(name, form, first parameter, docstring after the
// signature line, without the form's closing paragraph). Forms: size and anomaly run
// kern::coe::<name> over scalars or arrays; anomaly_bound the same through the bound angle
// function, which can fail; coe_from_sv and sv_from_coe their own glue, <name>_impl. Adding a
// function takes one row here, its kernel, and its lines in coe.pyi, which tests compare with
// this catalogue.
#define ORBIVEX_COE_FUNCTIONS(X)                                                               \
    X(orp_from_sma, size, sma,                                                                 \
      "Orbital period in seconds from the semimajor axis.\n\n"                                 \
      "ORP = 2π * a * sqrt(a / GM)\n\nsma: semimajor axis in metres.")                         \
    X(sma_from_orp, size, orp,                                                                 \
      "Semimajor axis in metres from the orbital period.\n\n"                                  \
      "SMA = [GM * (ORP / 2π)^2]^{1/3}\n\norp: orbital period in seconds.")                    \
    X(mnm_from_sma, size, sma,                                                                 \
      "Mean motion in radians per second from the semimajor axis.\n\n"                         \
      "MNM = sqrt(GM / a) / a\n\nsma: semimajor axis in metres.")                              \
    X(sma_from_mnm, size, mnm,                                                                 \
      "Semimajor axis in metres from the mean motion.\n\n"                                     \
      "a = [GM / mnm^2]^{1/3}\n\nmnm: mean motion in radians per second.")                     \
    X(eca_from_mea, anomaly, mea,                                                              \
      "Eccentric anomaly in radians from the mean anomaly: Kepler's "                          \
      "equation MEA = ECA - ecc * sin(ECA), solved by Newton-Raphson.\n\n"                     \
      "mea: mean anomaly in radians; the result keeps its turn.")                              \
    X(mea_from_eca, anomaly, eca,                                                              \
      "Mean anomaly in radians from the eccentric anomaly: "                                   \
      "MEA = ECA - ecc * sin(ECA).\n\neca: eccentric anomaly in radians.")                     \
    X(eca_from_tra, anomaly_bound, tra,                                                        \
      "Eccentric anomaly in radians from the true anomaly.\n\n"                                \
      "tra: true anomaly in radians.")                                                         \
    X(tra_from_eca, anomaly_bound, eca,                                                        \
      "True anomaly in radians from the eccentric anomaly.\n\n"                                \
      "eca: eccentric anomaly in radians.")                                                    \
    X(tra_from_mea, anomaly_bound, mea,                                                        \
      "True anomaly in radians from the mean anomaly, through the "                            \
      "eccentric anomaly (Kepler's equation).\n\n"                                             \
      "mea: mean anomaly in radians.")                                                         \
    X(mea_from_tra, anomaly_bound, tra,                                                        \
      "Mean anomaly in radians from the true anomaly, through the "                            \
      "eccentric anomaly.\n\ntra: true anomaly in radians.")                                   \
    X(coe_from_sv, coe_from_sv, r,                                                             \
      "Classical orbital elements of the orbits through Cartesian states.\n\n"                 \
      "r: positions in metres, shape (3,) or (N, 3), in an inertial frame.\n"                  \
      "v: velocities in metres per second, the same shape as r, in the same frame.\n"          \
      "GM: gravitational parameter of the central body in m^3/s^2 (default: that of the "      \
      "Earth).\n\n"                                                                            \
      "Returns an array of N COE_dt records (one for a single state): ecc eccentricity,\n"     \
      "sma semimajor axis (m, +inf for a parabola, negative for a hyperbola), inc "            \
      "inclination,\nraa right ascension of the ascending node, arp argument of periapsis, "   \
      "tra true anomaly\n(radians), slr semilatus rectum (m). Zero angular momentum gives "    \
      "seven NaNs.")                                                                           \
    X(sv_from_coe, sv_from_coe, coe,                                                           \
      "Cartesian states of the orbits given by classical orbital elements.\n\n"                \
      "coe: one-dimensional writable array of COE_dt records (seven float64 fields): ecc\n"    \
      "eccentricity, sma semimajor axis (m, not used), inc inclination, raa right ascension "  \
      "of\nthe ascending node, arp argument of periapsis, tra true anomaly (radians), slr "    \
      "semilatus\nrectum (m).\n"                                                               \
      "GM: gravitational parameter of the central body in m^3/s^2 (default: that of the "      \
      "Earth).\n\n"                                                                            \
      "Returns (r, v): positions in metres and velocities in metres per second, each of "      \
      "shape\n(N, 3), in the inertial frame of the elements.")

// ---- forms --------------------------------------------------------------------------------

/// What a function's default is made of when the module is imported.
enum class Defaults {
    none,
    earth_gm,        ///< (Earth.GM,) as the attribute gives it
    earth_gm_float,  ///< (float(Earth.GM),)
};

/// One parameter of a form. The first parameter's name comes from the row.
struct Param {
    const char* name;                     ///< nullptr: the row's first parameter
    const char* annotation;               ///< in __annotations__ and the signature line
    const char* shown_default = nullptr;  ///< the default as the signature line shows it
    const char* c_type = nullptr;         ///< shown before the name in the signature line
};

inline constexpr std::size_t max_params = 3;
static_assert(max_params <= py::max_function_params);

/// The parameters, result and defaults of the rows of one form.
struct Form {
    std::array<Param, max_params> params;
    std::size_t count;
    std::size_t required;  ///< the first `required` have no default
    const char* returns;
    Defaults defaults;
    const char* tail;  ///< the docstring's closing paragraph
};

inline constexpr const char doubles[] = "double | ndarray[double]";

inline constexpr Form size_form{{{{nullptr, doubles}, {"GM", "double", "Earth.GM"}}},
                                2,
                                1,
                                doubles,
                                Defaults::earth_gm,
                                ORBIVEX_COE_SIZE_TAIL};
inline constexpr Form anomaly_form{{{{nullptr, doubles}, {"ecc", doubles}}},
                                   2,
                                   2,
                                   doubles,
                                   Defaults::none,
                                   ORBIVEX_COE_ANOMALY_TAIL};
// GM carries "double" before its name in these signature lines, as it always has.
inline constexpr Form coe_from_sv_form{{{{nullptr, "ndarray[double]"},
                                         {"v", "ndarray[double]"},
                                         {"GM", "float", "Earth.GM", "double"}}},
                                       3,
                                       2,
                                       "ndarray[COE_dt]",
                                       Defaults::earth_gm_float,
                                       ""};
inline constexpr Form sv_from_coe_form{
    {{{nullptr, "ndarray[COE_dt]"}, {"GM", "float", "Earth.GM", "double"}}},
    2,
    1,
    "tuple[ndarray[double], 2]",
    Defaults::earth_gm_float,
    ""};

constexpr const Form& form_of(std::string_view form) {
    if (form == "size") return size_form;
    if (form == "coe_from_sv") return coe_from_sv_form;
    if (form == "sv_from_coe") return sv_from_coe_form;
    return anomaly_form;  // anomaly and anomaly_bound
}

// ---- rendered texts -----------------------------------------------------------------------

using py::Text;

/// Everything one row gives its function object.
struct Function {
    const char* name;
    const Form* form;
    std::array<const char*, max_params> names{};
    /// Alternating parameter name and annotation, then "return" and the result's.
    std::array<const char*, 2 * max_params + 2> annotations{};
    Text<1024> doc;

    constexpr std::size_t count() const { return form->count; }
    constexpr py::Params params() const {
        const auto n = static_cast<Py_ssize_t>(form->count);
        return {{names.data(), form->count}, static_cast<Py_ssize_t>(form->required), n};
    }
    constexpr std::span<const char* const> annotation_list() const {
        return {annotations.data(), 2 * form->count + 2};
    }
};

/// The row's function: names, annotations, and the docstring
/// "name(p: A, GM: double = Earth.GM) -> R\n\n<body><tail>".
consteval Function make_function(const char* name, const Form& form, const char* first,
                                 std::string_view body) {
    Function f{name, &form, {}, {}, {}};
    f.doc += name;
    f.doc += "(";
    for (std::size_t i = 0; i < form.count; ++i) {
        const Param& p = form.params[i];
        const char* pname = p.name ? p.name : first;
        f.names[i] = pname;
        f.annotations[2 * i] = pname;
        f.annotations[2 * i + 1] = p.annotation;
        if (i) f.doc += ", ";
        if (p.c_type) {
            f.doc += p.c_type;
            f.doc += " ";
        }
        f.doc += pname;
        f.doc += ": ";
        f.doc += p.annotation;
        if (p.shown_default) {
            f.doc += " = ";
            f.doc += p.shown_default;
        }
        if ((i >= form.required) != (p.shown_default != nullptr))
            throw "exactly the parameters after the required ones show a default";
    }
    f.annotations[2 * form.count] = "return";
    f.annotations[2 * form.count + 1] = form.returns;
    f.doc += ") -> ";
    f.doc += form.returns;
    f.doc += "\n\n";
    f.doc += body;
    f.doc += form.tail;
    return f;
}

inline constexpr Function functions[] = {
#define ORBIVEX_ROW(name, form, first, body) make_function(#name, form_of(#form), #first, body),
    ORBIVEX_COE_FUNCTIONS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};
inline constexpr std::size_t n_functions = std::size(functions);

/// The rows by name: Fn::orp_from_sma and so on, indices into `functions`.
enum class Fn : std::size_t {
#define ORBIVEX_ROW(name, ...) name,
    ORBIVEX_COE_FUNCTIONS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};
constexpr const Function& function(Fn f) { return functions[static_cast<std::size_t>(f)]; }

}  // namespace orbivex::coe::cat
