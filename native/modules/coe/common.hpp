// Shared glue of the coe module: module state, call-time global lookups and conversions.
#pragma once
#include <Python.h>

#include <cstdint>
#include <tuple>

#include "catalogue.hpp"
#include "support/buffer.hpp"
#include "support/function.hpp"
#include "support/globals.hpp"
#include "support/module.hpp"
#include "support/ref.hpp"

namespace orbivex::coe {

/// What the module fixes at import. The real modules are kept to recognise, at call time, that
/// the module-level names still refer to them (the condition for the fast paths).
struct coe_state {
    PyObject* numbers;                                          // the standard `numbers` module
    PyObject* real;                                             // numbers.Real
    PyObject* numpy;                                            // the NumPy module
    PyObject *key_numbers, *key_numpy, *key_real, *key_coe_dt;  // global names
    PyObject *str_ndim, *str_shape, *str_reshape, *str_zeros_like, *str_zeros, *str_asarray;
    PyObject* str_double;
    PyObject* one;          // int 1
    PyObject* three_tuple;  // (3,)
    PyObject* row_shape;    // (1, 3)
    bool assertions;        // builtins __debug__ at import
    // Versions of the coe and `numbers` module dicts when the names were last found untouched.
    uint64_t globals_version;
    uint64_t numbers_version;
    bool versions_known;
    // What the module-level `numpy` and `COE_dt` gave when last looked up, kept while neither
    // the coe module's dict nor numpy's has changed since (borrowed: those dicts hold them).
    struct {
        uint64_t globals_version;
        uint64_t numpy_version;
        PyObject* zeros;
        PyObject* zeros_like;
        PyObject* asarray;
        PyObject* dbl;  // numpy.double
        PyObject* coe_dt;
        bool known;
    } np;
    py::PlainRecords plain_records;  // held; dropped in coe_module::free

    static constexpr auto refs() {
        using S = coe_state;
        using py::interned, py::owned;
        return std::tuple{
            owned(&S::numbers),
            owned(&S::real),
            owned(&S::numpy),
            interned(&S::key_numbers, "numbers"),
            interned(&S::key_numpy, "numpy"),
            interned(&S::key_real, "Real"),
            interned(&S::key_coe_dt, "COE_dt"),
            interned(&S::str_ndim, "ndim"),
            interned(&S::str_shape, "shape"),
            interned(&S::str_reshape, "reshape"),
            interned(&S::str_zeros_like, "zeros_like"),
            interned(&S::str_zeros, "zeros"),
            interned(&S::str_asarray, "asarray"),
            interned(&S::str_double, "double"),
            owned(&S::one),
            owned(&S::three_tuple),
            owned(&S::row_shape),
        };
    }
};

/// The module: the functions of the catalogue and the native table of exports.hpp.
struct coe_module {
    static constexpr const char name[] = "coe";
    static constexpr const char doc[] =
        "Classical orbital elements: size, period and mean motion, the anomalies (Kepler's\n"
        "equation) and state vectors, for floats and one-dimensional float64 arrays.";
    using State = coe_state;
    static int exec(PyObject* module, coe_state& st) noexcept;
    static void free(coe_state& st) noexcept {
        Py_CLEAR(st.plain_records.descr);
        Py_CLEAR(st.plain_records.names);
    }
};

/// The state of one of the module's own function owners (set from exec on, never NULL then).
inline coe_state* state_of(PyObject* module) {
    return static_cast<coe_state*>(PyModule_GetState(module));
}

/// Value of a module-level name at call time (module dict, then builtins; NameError if neither
/// has it); empty with the error set.
inline py::Ref global(PyObject* module, PyObject* key) {
    return py::module_global(PyModule_GetDict(module), key);
}

/// Version tag of a dict: changes whenever the dict is modified (deprecated since 3.12, still
/// maintained through 3.13; later versions drop it, and every call then takes the lookup).
inline constexpr bool have_dict_versions = PY_VERSION_HEX < 0x030E0000;
inline uint64_t dict_version([[maybe_unused]] PyObject* dict) {
#if PY_VERSION_HEX < 0x030E0000
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#pragma GCC diagnostic pop
#else
    return 0;
#endif
}

/// The lookup behind numbers_untouched, for when a dict changed since the last one.
bool numbers_untouched_lookup(PyObject* module, coe_state* st);

/// True when the module-level `numbers` is the real module and its `Real` the real class: then
/// an exact float or int is a scalar without asking isinstance. Two version reads when neither
/// dict changed since the last look (the scalar call's cost is dominated by this test).
inline bool numbers_untouched(PyObject* module, coe_state* st) {
    if (have_dict_versions && st->versions_known &&
        dict_version(PyModule_GetDict(module)) == st->globals_version &&
        dict_version(PyModule_GetDict(st->numbers)) == st->numbers_version)
        return true;
    return numbers_untouched_lookup(module, st);
}

/// isinstance(x, numbers.Real) with `numbers` looked up now. 1, 0, or -1 with an error.
int is_real(PyObject* module, coe_state* st, PyObject* x);

/// Raises the module's own failed assertion (no message) unless `ok` (1); passes errors (-1).
int check_assertion(int ok);

/// `obj.attr == value` as Python evaluates it: 1, 0, or -1.
int attr_equals(PyObject* obj, PyObject* attr, PyObject* value);

/// Conversion as float() does for numbers (__float__, then __index__); -1 with an error.
/// A str is refused with TypeError, not parsed.
inline int to_double(PyObject* obj, double& out) {
    if (PyFloat_CheckExact(obj)) {
        out = PyFloat_AS_DOUBLE(obj);
        return 0;
    }
    if (PyFloat_Check(obj)) {
        // A float subclass: float() calls its own __float__, which PyFloat_AsDouble skips.
        PyObject* f = PyNumber_Float(obj);
        if (!f) return -1;
        out = PyFloat_AS_DOUBLE(f);
        Py_DECREF(f);
        return 0;
    }
    out = PyFloat_AsDouble(obj);
    return (out == -1.0 && PyErr_Occurred()) ? -1 : 0;
}

/// obj[i] as Python evaluates it (the object's own subscript, also for a mapping). New
/// reference or NULL.
PyObject* subscript(PyObject* obj, Py_ssize_t i);

/// obj[i] converted to a double, through the object's own item access.
int item_to_double(PyObject* obj, Py_ssize_t i, double& out);

/// Elements between two looks for a pending signal in the array loops: a look costs a few
/// nanoseconds, far below the work of this many elements, and Ctrl-C is answered well within a
/// second for any ordinary input.
inline constexpr Py_ssize_t signal_interval = 4096;

/// Before element i of an array loop: at every signal_interval-th element, runs the pending
/// signal handlers; true, with their exception set (KeyboardInterrupt on Ctrl-C), when one
/// raised, and the call ends with it.
inline bool interrupted(Py_ssize_t i) {
    return (i & (signal_interval - 1)) == 0 && i != 0 && PyErr_CheckSignals() < 0;
}

/// The names of st->np, valid now, when the module-level `numpy` is the real module and
/// neither dict changed since they were read (then nothing could tell them from a lookup);
/// otherwise NULL, and the caller looks the names up itself.
const decltype(coe_state::np)* numpy_names(PyObject* module, coe_state* st);

/// Calls the module-level `numpy.<name>(arg)` (name: zeros_like or asarray). New reference or
/// NULL.
PyObject* call_numpy(PyObject* module, coe_state* st, PyObject* name, PyObject* arg);

/// `numpy.zeros(shape=shape, dtype=COE_dt)` (records) or `dtype=numpy.double`, with the
/// module-level names. New reference or NULL.
PyObject* zeros(PyObject* module, coe_state* st, PyObject* shape, bool records);

/// Exact ndarray of native float64 with `ndim` dimensions (a fast-path operand)?
bool is_plain_double_array(PyObject* obj, int ndim);

/// The module's functions, one per catalogue row, in its order (elements.cpp).
extern const py::FunctionSpec function_specs[cat::n_functions];

/// The glue of the state-vector rows (state_vectors.cpp).
PyObject* coe_from_sv_impl(PyObject* module, PyObject* const* argv) noexcept;
PyObject* sv_from_coe_impl(PyObject* module, PyObject* const* argv) noexcept;

/// The message of a float64 view's dtype mismatch as the functions word it.
inline constexpr auto got_format = py::GotFormat::labelled;

}  // namespace orbivex::coe
