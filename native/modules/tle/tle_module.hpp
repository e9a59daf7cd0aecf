// Shared declarations of the tle module: object layouts, module state and bound native entries.
#pragma once
#include <Python.h>

#include <cstddef>

#include "kernels/tle_fields.hpp"
#include "support/args.hpp"
#include "support/representable.hpp"

namespace orbivex::tle {

using RepresentableObject = ::orbivex::py::RepresentableObject;

struct TLEObject;

/// Virtual operations of TLE, in slot order; the layout Cython derives from tle.pxd.
struct TLEVtable {
    void (*parse_line1)(TLEObject*);
    void (*parse_line2)(TLEObject*);
};

/// Instance layout of TLE: {base; virtual table; fields in declared order}, as in tle.pxd.
struct TLEObject {
    RepresentableObject base;
    TLEVtable* vtab;
    char _line1[kern::tle_line_size];
    char _line2[kern::tle_line_size];
    int strict_validation;
    char _satno[kern::tle_satno_size];
    PyObject* epoch;
    double inc, raa, ecc, mea, arp, mnm;
    double sma, orp, eca, tra, pge, apg;
};

/// Instance layout of ELSET, as in tle.pxd (no virtual operations, so no table pointer).
struct ELSETObject {
    RepresentableObject base;
    PyObject* epoch;
    int _satno;
    PyObject* elements;
    PyObject* _ecc;
    PyObject* _sma;
    PyObject* _inc;
    PyObject* _raa;
    PyObject* _arp;
    PyObject* _tra;
    PyObject* _mnm;
    PyObject* _orp;
    PyObject* _eca;
    PyObject* _mea;
    PyObject* _pge;
    PyObject* _apg;
};

constexpr std::size_t align_up(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }

// Offsets a Cython consumer derives from the declarations: base part, then the table pointer,
// then each field in order with natural alignment and no reordering.
static_assert(offsetof(TLEObject, vtab) == sizeof(RepresentableObject));
static_assert(offsetof(TLEObject, _line1) == offsetof(TLEObject, vtab) + sizeof(void*));
static_assert(offsetof(TLEObject, _line2) == offsetof(TLEObject, _line1) + 70);
static_assert(offsetof(TLEObject, strict_validation) ==
              align_up(offsetof(TLEObject, _line2) + 70, alignof(int)));
static_assert(offsetof(TLEObject, _satno) == offsetof(TLEObject, strict_validation) + sizeof(int));
static_assert(offsetof(TLEObject, epoch) ==
              align_up(offsetof(TLEObject, _satno) + 6, alignof(PyObject*)));
static_assert(offsetof(TLEObject, inc) == offsetof(TLEObject, epoch) + sizeof(PyObject*));
static_assert(offsetof(TLEObject, apg) == offsetof(TLEObject, inc) + 11 * sizeof(double));
static_assert(sizeof(TLEObject) == offsetof(TLEObject, apg) + sizeof(double));
static_assert(offsetof(ELSETObject, epoch) == sizeof(RepresentableObject));
static_assert(offsetof(ELSETObject, _satno) == offsetof(ELSETObject, epoch) + sizeof(PyObject*));
static_assert(offsetof(ELSETObject, elements) ==
              align_up(offsetof(ELSETObject, _satno) + sizeof(int), alignof(PyObject*)));
static_assert(offsetof(ELSETObject, _ecc) == offsetof(ELSETObject, elements) + sizeof(PyObject*));
static_assert(offsetof(ELSETObject, _apg) == offsetof(ELSETObject, _ecc) + 11 * sizeof(PyObject*));
static_assert(sizeof(ELSETObject) == offsetof(ELSETObject, _apg) + sizeof(PyObject*));

/// Per-module state: the types, the bound sibling objects and interned names.
struct tle_state {
    PyTypeObject* TLE_type;
    PyTypeObject* ELSET_type;
    PyTypeObject* Representable;
    PyObject* Time;
    PyObject* Earth;
    PyObject* TEME;
    PyObject* epoch_key;  ///< sort key of ELSET: element.epoch
    PyObject* bound;      ///< tuple of every sibling object bound at import, kept alive
    PyObject* jd_kwnames; ///< ("format",)
    PyObject* key_kwnames; ///< ("key",)
    PyObject* str_jd_format;
    PyObject* s_strip, *s_upper, *s_jd, *s_GM, *s_Re, *s_epoch, *s_satno, *s_int64;
    PyObject* s_utc, *s_repr, *s_name, *s_line1, *s_line2, *s_satname, *s__satname;
    PyObject* s_vtable, *s_empty, *s_sort;
    PyObject* s_form, *s_frame, *s_prop;
    bool debug;  ///< assertions on: builtins __debug__ when the module was imported
};

/// State of the tle module that defined `type` or one of its bases; NULL with an error set.
tle_state* state_of(PyTypeObject* type) noexcept;
/// State of the module object itself.
tle_state* module_state(PyObject* module) noexcept;

// Native entries bound at import. Process-global: the module initialises once per process.
inline double (*c_orp_from_sma)(double, double) = nullptr;
inline double (*c_sma_from_mnm)(double, double) = nullptr;
inline double (*c_eca_from_mea)(double, double) = nullptr;
inline double (*c_tra_from_eca)(double, double) = nullptr;
inline double (*c_pge_from_sma_ecc)(double, double, double) = nullptr;
inline double (*c_apg_from_sma_ecc)(double, double, double) = nullptr;
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

// Parameters of the two types' methods: the object comes first and is left out of call-error
// counts; the text hooks return str.
inline const char* const method_self[] = {"self"};
inline const char* const method_self_state[] = {"self", "state"};
inline const char* const returns_str[] = {"return", "str"};
inline const py::Params method_no_args{method_self, 1, 1, true};
inline const py::Params method_one_arg{method_self_state, 2, 2, true};

}  // namespace orbivex::tle
