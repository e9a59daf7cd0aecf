// Shared glue of the coe module: call-time lookups, conversions and typed buffer views.
#include "common.hpp"

#include <string_view>

#include "support/module.hpp"
#include "support/numpy.hpp"

namespace orbivex::coe {

using py::Ref;

PyObject* global(PyObject* module, PyObject* key) {
    PyObject* value = PyDict_GetItemWithError(PyModule_GetDict(module), key);  // borrowed
    if (!value && !PyErr_Occurred()) {
        PyObject* builtins = PyEval_GetBuiltins();  // borrowed
        value = builtins ? PyDict_GetItemWithError(builtins, key) : nullptr;
        if (!value && !PyErr_Occurred())
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
    }
    return Py_XNewRef(value);
}

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
    if ((PyFloat_CheckExact(x) || PyLong_CheckExact(x)) && numbers_untouched(module, st))
        return 1;
    if (PyErr_Occurred()) PyErr_Clear();  // from the probe only; the slow path asks again
    Ref numbers = Ref::steal(global(module, st->key_numbers));
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

namespace {

// Byte-order prefixes that mean native little-endian doubles here.
bool native_order(char c) {
    if (c == '@' || c == '=' || c == '^') return true;
    return c == '<' && PY_LITTLE_ENDIAN;
}

// True when the struct-module format `f` is one native double, with or without an order mark.
bool is_double(std::string_view f) {
    if (!f.empty() && native_order(f.front())) f.remove_prefix(1);
    return f == "d";
}

// Number of fields of a record format "T{d:ecc:d:sma:...}" when every field is one native
// double; -1 for anything else (other types, padding, sub-arrays, nested records).
Py_ssize_t double_fields(std::string_view f) {
    if (!f.empty() && native_order(f.front())) f.remove_prefix(1);
    if (f.size() < 3 || f.substr(0, 2) != "T{" || f.back() != '}') return -1;
    f = f.substr(2, f.size() - 3);
    Py_ssize_t n = 0;
    while (!f.empty()) {
        if (native_order(f.front())) f.remove_prefix(1);
        if (f.size() < 2 || f[0] != 'd' || f[1] != ':') return -1;
        const size_t close = f.find(':', 2);  // end of the field name
        if (close == std::string_view::npos) return -1;
        f.remove_prefix(close + 1);
        ++n;
    }
    return n;
}

}  // namespace

int View::acquire(PyObject* obj, int ndim, int record_doubles) {
    // Asked read-only first, so that the dimension and the layout are reported before the
    // write access (a NumPy scalar record is a read-only buffer of no dimensions).
    if (PyObject_GetBuffer(obj, &buf_, PyBUF_RECORDS_RO) < 0) return -1;
    held_ = true;
    if (buf_.ndim != ndim) {
        PyErr_Format(PyExc_ValueError, "Buffer has wrong number of dimensions (expected %d, got %d)",
                     ndim, buf_.ndim);
        return -1;
    }
    const std::string_view f = buf_.format ? buf_.format : "B";
    const bool layout_ok = record_doubles == 1 ? is_double(f) : double_fields(f) == record_doubles;
    if (!layout_ok ||
        buf_.itemsize != static_cast<Py_ssize_t>(sizeof(double)) * record_doubles) {
        if (record_doubles == 1)
            PyErr_Format(PyExc_ValueError,
                         "Buffer dtype mismatch, expected 'double' but got format '%s'",
                         buf_.format ? buf_.format : "B");
        else
            PyErr_Format(PyExc_ValueError,
                         "Buffer dtype mismatch, expected 'COE_t' (%d float64 fields, %d bytes) "
                         "but got format '%s' of %zd bytes",
                         record_doubles, record_doubles * 8, buf_.format ? buf_.format : "B",
                         buf_.itemsize);
        return -1;
    }
    if (buf_.readonly) {
        PyErr_SetString(PyExc_ValueError, "buffer source array is read-only");
        return -1;
    }
    return 0;
}

PyObject* call_numpy(PyObject* module, const coe_state* st, PyObject* name, PyObject* arg) {
    Ref numpy = Ref::steal(global(module, st->key_numpy));
    if (!numpy) return nullptr;
    Ref f = Ref::steal(PyObject_GetAttr(numpy.get(), name));
    if (!f) return nullptr;
    return PyObject_CallOneArg(f.get(), arg);
}

bool is_plain_double_array(PyObject* obj, int ndim) {
    if (!PyArray_CheckExact(obj)) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    return PyArray_NDIM(a) == ndim && PyArray_TYPE(a) == NPY_DOUBLE && PyArray_ISNOTSWAPPED(a);
}

}  // namespace orbivex::coe
