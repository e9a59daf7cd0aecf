// Shared glue of the coe module: module state, call-time global lookups and buffer views.
#pragma once
#include <Python.h>

#include <cstdint>
#include <cstring>

#include "support/function.hpp"
#include "support/ref.hpp"

namespace orbivex::coe {

/// What the module fixes at import. The real modules are kept to recognise, at call time, that
/// the module-level names still refer to them (the condition for the fast paths).
struct coe_state {
    PyObject* numbers;     // the standard `numbers` module
    PyObject* real;        // numbers.Real
    PyObject* numpy;       // the NumPy module
    PyObject* ndarray;     // numpy.ndarray
    PyObject* key_numbers;  // interned global names
    PyObject* key_numpy;
    PyObject* key_real;
    PyObject* key_coe_dt;
    PyObject* str_ndim;
    PyObject* str_shape;
    PyObject* str_reshape;
    PyObject* str_zeros_like;
    PyObject* str_zeros;
    PyObject* str_asarray;
    PyObject* str_double;
    PyObject* str_dtype;
    PyObject* one;           // int 1
    PyObject* three_tuple;   // (3,)
    PyObject* row_shape;     // (1, 3)
    bool assertions;         // builtins __debug__ at import
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
    // The record dtype last found to have the plain layout, with its names tuple (renaming the
    // fields replaces the tuple; nothing else about the layout can change): held, so that the
    // pointers keep meaning these objects.
    PyObject* plain_descr;
    PyObject* plain_names;
    PyObject* kw_shape_dtype;  // ("shape", "dtype"), made on first use
};

inline coe_state* state_of(PyObject* module) {
    return static_cast<coe_state*>(PyModule_GetState(module));
}

/// Value of a module-level name at call time (module dict, then builtins; NameError if neither
/// has it). New reference or NULL.
PyObject* global(PyObject* module, PyObject* key);

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
    if (have_dict_versions && st->versions_known && dict_version(PyModule_GetDict(module)) == st->globals_version &&
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

/// A writable typed buffer view: doubles (`ndim` dimensions) or records of `record_doubles`
/// doubles. Released on destruction.
class View {
public:
    View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    ~View() {
        if (held_) PyBuffer_Release(&buf_);
    }
    /// Acquires `obj` as a writable view of `ndim` dimensions whose items are `record_doubles`
    /// native doubles (1 for a plain double array). ValueError when the buffer differs. `st`,
    /// if given, keeps the last record dtype found plain.
    int acquire(PyObject* obj, int ndim, int record_doubles, coe_state* st = nullptr);
    Py_ssize_t len(int axis = 0) const { return buf_.shape[axis]; }
    char* at(Py_ssize_t i) const { return static_cast<char*>(buf_.buf) + i * buf_.strides[0]; }
    char* at(Py_ssize_t i, Py_ssize_t j) const { return at(i) + j * buf_.strides[1]; }
    Py_ssize_t stride(int axis = 0) const { return buf_.strides[axis]; }
    void store(Py_ssize_t i, double value) const { std::memcpy(at(i), &value, sizeof value); }

private:
    /// An exact ndarray that the buffer request would give unchanged is read through its own
    /// data (valid while the caller holds it) with a copy of its shape and strides: the
    /// request costs more than the rest of a call on empty input, for records most of all
    /// (numpy writes their format).
    bool adopt(PyObject* obj, int ndim, int record_doubles, coe_state* st);

    Py_buffer buf_{};
    bool held_ = false;
    Py_ssize_t extents_[4] = {};  // shape, then strides, of an adopted array
};

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

/// Exact ndarray of native float64 with `ndim` dimensions (a fast-path operand)?
bool is_plain_double_array(PyObject* obj, int ndim);

/// The module's twelve functions, in order of creation.
extern const py::FunctionSpec size_specs[4];
extern const py::FunctionSpec anomaly_specs[6];
extern const py::FunctionSpec coe_from_sv_spec;
extern const py::FunctionSpec sv_from_coe_spec;

}  // namespace orbivex::coe
