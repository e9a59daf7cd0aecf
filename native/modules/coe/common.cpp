// Shared glue of the coe module: call-time lookups and conversions.
#include "common.hpp"

#include "support/globals.hpp"
#include "support/module.hpp"
#include "support/numpy.hpp"

namespace orbivex::coe {

using py::Ref;

bool numbers_untouched_lookup(PyObject* module, coe_state* st) {
    PyObject* globals = PyModule_GetDict(module);
    PyObject* numbers = PyDict_GetItemWithError(globals, st->key_numbers);
    if (numbers != st->numbers) return false;
    PyObject* numbers_dict = PyModule_GetDict(numbers);
    PyObject* real = PyDict_GetItemWithError(numbers_dict, st->key_real);
    if (real != st->real) return false;  // a lookup error leaves NULL: retried the slow way
    st->globals_version = dict_version(globals);
    st->numbers_version = dict_version(numbers_dict);
    st->versions_known = true;
    return true;
}

int is_real(PyObject* module, coe_state* st, PyObject* x) {
    if ((PyFloat_CheckExact(x) || PyLong_CheckExact(x)) && numbers_untouched(module, st)) return 1;
    if (PyErr_Occurred()) PyErr_Clear();  // from the probe only; the slow path asks again
    Ref numbers = global(module, st->key_numbers);
    if (!numbers) return -1;
    Ref real = Ref::steal(PyObject_GetAttr(numbers.get(), st->key_real));
    if (!real) return -1;
    return PyObject_IsInstance(x, real.get());
}

int check_assertion(int ok) {
    if (ok < 0) return -1;
    if (!ok) {
        py::raise_assertion();
        return -1;
    }
    return 0;
}

int attr_equals(PyObject* obj, PyObject* attr, PyObject* value) {
    Ref got = Ref::steal(PyObject_GetAttr(obj, attr));
    if (!got) return -1;
    Ref eq = Ref::steal(PyObject_RichCompare(got.get(), value, Py_EQ));
    if (!eq) return -1;
    return PyObject_IsTrue(eq.get());
}

PyObject* subscript(PyObject* obj, Py_ssize_t i) {
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    return index ? PyObject_GetItem(obj, index.get()) : nullptr;
}

int item_to_double(PyObject* obj, Py_ssize_t i, double& out) {
    Ref item = Ref::steal(subscript(obj, i));
    if (!item) return -1;
    return to_double(item.get(), out);
}

const decltype(coe_state::np)* numpy_names(PyObject* module, coe_state* st) {
    if (!have_dict_versions || !Py_IS_TYPE(st->numpy, &PyModule_Type)) return nullptr;
    auto& np = st->np;
    PyObject* globals = PyModule_GetDict(module);
    PyObject* numpy_dict = PyModule_GetDict(st->numpy);
    if (np.known && dict_version(globals) == np.globals_version &&
        dict_version(numpy_dict) == np.numpy_version)
        return &np;
    np.known = false;
    if (PyDict_GetItemWithError(globals, st->key_numpy) != st->numpy) return nullptr;
    np.zeros = PyDict_GetItemWithError(numpy_dict, st->str_zeros);
    np.zeros_like = PyDict_GetItemWithError(numpy_dict, st->str_zeros_like);
    np.asarray = PyDict_GetItemWithError(numpy_dict, st->str_asarray);
    np.dbl = PyDict_GetItemWithError(numpy_dict, st->str_double);
    np.coe_dt = PyDict_GetItemWithError(globals, st->key_coe_dt);
    // A name missing (or a failed lookup): the callers' own lookups report it.
    if (PyErr_Occurred() || !np.zeros || !np.zeros_like || !np.asarray || !np.dbl || !np.coe_dt) {
        PyErr_Clear();
        return nullptr;
    }
    np.globals_version = dict_version(globals);
    np.numpy_version = dict_version(numpy_dict);
    np.known = true;
    return &np;
}

PyObject* call_numpy(PyObject* module, coe_state* st, PyObject* name, PyObject* arg) {
    if (const auto* np = numpy_names(module, st)) {
        Ref f = Ref::borrow(name == st->str_asarray ? np->asarray : np->zeros_like);
        return PyObject_CallOneArg(f.get(), arg);
    }
    Ref numpy = global(module, st->key_numpy);
    if (!numpy) return nullptr;
    Ref f = Ref::steal(PyObject_GetAttr(numpy.get(), name));
    if (!f) return nullptr;
    return PyObject_CallOneArg(f.get(), arg);
}

PyObject* zeros(PyObject* module, coe_state* st, PyObject* shape, bool records) {
    if (const auto* np = numpy_names(module, st)) {
        // Held for the call, as the evaluation of the expression would hold them.
        Ref f = Ref::borrow(np->zeros);
        Ref dtype = Ref::borrow(records ? np->coe_dt : np->dbl);
        return py::call_zeros(f.get(), shape, dtype.get());
    }
    return py::numpy_zeros(PyModule_GetDict(module), shape, records ? st->key_coe_dt : nullptr);
}

bool is_plain_double_array(PyObject* obj, int ndim) {
    if (!PyArray_CheckExact(obj)) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    return PyArray_NDIM(a) == ndim && PyArray_TYPE(a) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(a);
}

}  // namespace orbivex::coe
