// Shared declarations of the tle module: module state, bound native entries, the types' setup.
#pragma once
#include <Python.h>

#include <array>
#include <tuple>
#include <type_traits>

#include "modules/coe/exports.hpp"
#include "records.hpp"
#include "support/args.hpp"
#include "support/function.hpp"
#include "support/module.hpp"

namespace orbivex::tle {

/// Per-module state: the types, the bound sibling objects and interned names.
struct tle_state {
    PyTypeObject* TLE_type;
    PyTypeObject* ELSET_type;
    PyTypeObject* Representable;
    PyObject* Time;
    PyObject* Earth;
    PyObject* TEME;
    PyObject* epoch_key;    ///< sort key of ELSET: element.epoch
    PyObject* bound;        ///< tuple of every sibling object bound at import, kept alive
    PyObject* jd_kwnames;   ///< ("format",)
    PyObject* key_kwnames;  ///< ("key",)
    PyObject *s_strip, *s_upper, *s_jd, *s_GM, *s_Re, *s_epoch, *s_satno, *s_int64;
    PyObject *s_utc, *s_repr, *s_name, *s_line1, *s_line2, *s_satname, *s__satname;
    PyObject *s_vtable, *s_empty, *s_sort;
    PyObject *s_form, *s_frame, *s_prop;
    bool debug;  ///< assertions on: builtins __debug__ when the module was imported

    static constexpr auto refs() {
        using S = tle_state;
        using py::interned, py::owned;
        return std::tuple{
            owned(&S::TLE_type),
            owned(&S::ELSET_type),
            owned(&S::Representable),
            owned(&S::Time),
            owned(&S::Earth),
            owned(&S::TEME),
            owned(&S::epoch_key),
            owned(&S::bound),
            owned(&S::jd_kwnames),
            owned(&S::key_kwnames),
            interned(&S::s_strip, "strip"),
            interned(&S::s_upper, "upper"),
            interned(&S::s_jd, "jd"),
            interned(&S::s_GM, "GM"),
            interned(&S::s_Re, "Re"),
            interned(&S::s_epoch, "epoch"),
            interned(&S::s_satno, "satno"),
            interned(&S::s_int64, "int64"),
            interned(&S::s_utc, "utc"),
            interned(&S::s_repr, "__repr__"),
            interned(&S::s_name, "name"),
            interned(&S::s_line1, "line1"),
            interned(&S::s_line2, "line2"),
            interned(&S::s_satname, "satname"),
            interned(&S::s__satname, "_satname"),
            interned(&S::s_vtable, "__pyx_vtable__"),
            interned(&S::s_empty, ""),
            interned(&S::s_sort, "sort"),
            interned(&S::s_form, "_create_formatted_form"),
            interned(&S::s_frame, "_create_formatted_frame"),
            interned(&S::s_prop, "_format_as_property"),
        };
    }
};

/// The module: TLE and ELSET.
struct tle_module {
    static constexpr const char name[] = "tle";
    static constexpr const char doc[] =
        "Two-line element sets: TLE (one element set) and ELSET (the element sets of one "
        "satellite, as arrays in epoch order).";
    using State = tle_state;
    static int exec(PyObject* module, tle_state& st) noexcept;
};

/// State of the tle module that defined `type` or one of its bases (found along the MRO, so
/// that Cython's static subclasses are served too); NULL with an error set.
inline tle_state* state_of(PyTypeObject* type) noexcept {
    return py::Module<tle_module>::state_of(type);
}
/// State of the module object itself; NULL with SystemError when it has none.
inline tle_state* module_state(PyObject* module) noexcept {
    return py::Module<tle_module>::state(module);
}

// Native entries bound at import. Process-global: the module initialises once per process.
// coe's entries have the types coe publishes them under (modules/coe/exports.hpp).
using coe::exports::Id, coe::exports::pointer_t;
inline pointer_t<Id::orp_from_sma> c_orp_from_sma = nullptr;
inline pointer_t<Id::sma_from_mnm> c_sma_from_mnm = nullptr;
inline pointer_t<Id::eca_from_mea> c_eca_from_mea = nullptr;
inline pointer_t<Id::tra_from_eca> c_tra_from_eca = nullptr;
inline pointer_t<Id::pge_from_sma_ecc> c_pge_from_sma_ecc = nullptr;
inline pointer_t<Id::apg_from_sma_ecc> c_apg_from_sma_ecc = nullptr;
inline const double* coe_2pi = nullptr;

/// The base type of TLE and ELSET (borrowed: each of them holds it as its base).
inline PyTypeObject* representable_base = nullptr;

/// The thirteen unit constants, by address (the providing module may change them).
struct Units {
    const double *s, *sec, *second, *minute, *hour, *day, *sday, *m, *km, *rad, *deg, *rev, *kg;
};
inline Units units{};

/// Binds every sibling module's entries, classes and objects into `st`; 0 or -1 with an error.
int bind_siblings(PyObject* module, tle_state* st) noexcept;

/// Creates TLE and ELSET, stores them in `st` and adds them to the module; 0 or -1.
int add_tle_type(PyObject* module, tle_state* st) noexcept;
int add_elset_type(PyObject* module, tle_state* st) noexcept;
/// Adds _get_header, _get_body, __reduce__ and __setstate__ to TLE's dict; 0 or -1.
int add_tle_methods(PyObject* module, tle_state* st) noexcept;

/// The `satno` property of a TLE (or subclass) instance.
PyObject* tle_satno(PyObject* self) noexcept;

/// TypeError "no default __reduce__ due to non-trivial __cinit__"; always NULL.
PyObject* refuse_reduce() noexcept;

/// The TLE or ELSET (by T) a method of that type was called on, or NULL with the error a method
/// descriptor raises for another object.
template <class T>
T* checked_self(PyObject* module, PyObject* self, const char* method) noexcept {
    static_assert(std::is_same_v<T, TLEObject> || std::is_same_v<T, ELSETObject>);
    tle_state* st = module_state(module);
    if (!st) return nullptr;
    PyTypeObject* type = std::is_same_v<T, TLEObject> ? st->TLE_type : st->ELSET_type;
    return py::checked_self<T>(self, type, method);
}

/// The method specs of one type: the catalogue's methods with that type's texts and bodies.
constexpr std::array<py::FunctionSpec, cat::n_methods> method_specs(
    const std::array<cat::MethodText, cat::n_methods>& texts,
    const std::array<py::FunctionImpl, cat::n_methods>& impls) {
    std::array<py::FunctionSpec, cat::n_methods> out{};
    for (std::size_t i = 0; i < cat::n_methods; ++i) {
        const cat::Method& m = cat::methods[i];
        out[i] = {m.name,
                  texts[i].qualname.c_str(),
                  m.signature_doc ? texts[i].doc.c_str() : nullptr,
                  m.params,
                  m.annotations,
                  impls[i]};
    }
    return out;
}

}  // namespace orbivex::tle
