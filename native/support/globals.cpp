// Module-level names read at call time, and the allocation through the module-level `numpy`.
#include "support/globals.hpp"

#include <initializer_list>
#include <utility>

namespace orbivex::py {

namespace {

// Names the allocation looks up. Made once per process and kept, as the modules that use them
// initialise once per process; a failed attempt is retried at the next call.
struct ZerosNames {
    PyObject* numpy;
    PyObject* zeros;
    PyObject* dbl;
    PyObject* kwnames;  // ("shape", "dtype")
};

const ZerosNames* zeros_names() {
    static ZerosNames names{};
    if (names.kwnames) return &names;
    for (auto [slot, text] : {std::pair{&names.numpy, "numpy"}, std::pair{&names.zeros, "zeros"},
                              std::pair{&names.dbl, "double"}}) {
        if (!*slot && !(*slot = PyUnicode_InternFromString(text))) return nullptr;
    }
    Ref shape = Ref::steal(PyUnicode_InternFromString("shape"));
    Ref dtype = Ref::steal(PyUnicode_InternFromString("dtype"));
    if (!shape || !dtype) return nullptr;
    names.kwnames = PyTuple_Pack(2, shape.get(), dtype.get());
    return names.kwnames ? &names : nullptr;
}

}  // namespace

Ref module_global(PyObject* globals, PyObject* key) {
    PyObject* value = PyDict_GetItemWithError(globals, key);  // borrowed
    if (!value && !PyErr_Occurred()) {
        PyObject* builtins = PyEval_GetBuiltins();  // borrowed
        value = builtins ? PyDict_GetItemWithError(builtins, key) : nullptr;
        if (!value && !PyErr_Occurred())
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
    }
    return Ref::borrow(value);
}

PyObject* call_zeros(PyObject* zeros, PyObject* shape, PyObject* dtype) {
    const ZerosNames* names = zeros_names();
    if (!names) return nullptr;
    PyObject* args[] = {nullptr, shape, dtype};
    return PyObject_Vectorcall(zeros, args + 1, PY_VECTORCALL_ARGUMENTS_OFFSET, names->kwnames);
}

PyObject* numpy_zeros(PyObject* globals, PyObject* shape, PyObject* dtype_key) {
    const ZerosNames* names = zeros_names();
    if (!names) return nullptr;
    // Owned throughout: each lookup may run code that rebinds the module's names.
    Ref numpy = module_global(globals, names->numpy);
    if (!numpy) return nullptr;
    Ref zeros = Ref::steal(PyObject_GetAttr(numpy.get(), names->zeros));
    if (!zeros) return nullptr;
    Ref dtype;
    if (dtype_key) {
        dtype = module_global(globals, dtype_key);
    } else {
        numpy = module_global(globals, names->numpy);
        if (!numpy) return nullptr;
        dtype = Ref::steal(PyObject_GetAttr(numpy.get(), names->dbl));
    }
    if (!dtype) return nullptr;
    return call_zeros(zeros.get(), shape, dtype.get());
}

}  // namespace orbivex::py
