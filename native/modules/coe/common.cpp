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

// A field name the buffer format carries unchanged: numpy refuses ':' in it, and a NUL would
// end the format string early.
bool plain_field_name(PyObject* name) {
    if (!PyUnicode_CheckExact(name)) return false;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    if (PyUnicode_IS_COMPACT_ASCII(name)) {
        const auto* text = static_cast<const char*>(PyUnicode_DATA(name));
        for (Py_ssize_t i = 0; i < n; ++i)
            if (text[i] == ':' || text[i] == 0) return false;
        return true;
    }
    return PyUnicode_FindChar(name, ':', 0, n, 1) == -1 &&
           PyUnicode_FindChar(name, 0, 0, n, 1) == -1;
}

// Records of `count` native float64 fields at offsets 0, 8, 16, ... in the order of their
// names, no titles: the layout whose buffer format acquire accepts.
bool plain_records(PyArray_Descr* d, int count) {
    // NumPy's own float64 descriptor, which native float64 fields normally are.
    static PyObject* const double_descr =
        reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE));
    if (!PyDataType_HASFIELDS(d) || PyDataType_HASSUBARRAY(d) ||
        PyDataType_ELSIZE(d) != static_cast<npy_intp>(sizeof(double)) * count)
        return false;
    PyObject* names = PyDataType_NAMES(d);
    PyObject* fields = PyDataType_FIELDS(d);
    if (!names || !PyTuple_CheckExact(names) || PyTuple_GET_SIZE(names) != count || !fields ||
        !PyDict_CheckExact(fields) || PyDict_GET_SIZE(fields) != count)
        return false;
    // The fields in their dict's order, which is normally that of the names; looked up by
    // name where it is not.
    Py_ssize_t pos = 0;
    PyObject *key, *info;
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* name = PyTuple_GET_ITEM(names, k);
        if (!plain_field_name(name)) return false;
        if (!PyDict_Next(fields, &pos, &key, &info) || key != name) {
            info = PyDict_GetItemWithError(fields, name);  // borrowed
            pos = PY_SSIZE_T_MAX;
        }
        if (!info || !PyTuple_CheckExact(info) || PyTuple_GET_SIZE(info) != 2) return false;
        PyObject* sub = PyTuple_GET_ITEM(info, 0);
        PyObject* offset = PyTuple_GET_ITEM(info, 1);
        auto* f = reinterpret_cast<PyArray_Descr*>(sub);
        if (sub != double_descr &&
            !(PyArray_DescrCheck(sub) && f->type_num == NPY_DOUBLE && PyArray_ISNBO(f->byteorder)))
            return false;
        if (!PyLong_CheckExact(offset) ||
            PyLong_AsSsize_t(offset) != k * static_cast<Py_ssize_t>(sizeof(double)))
            return false;
    }
    return true;
}

}  // namespace

bool View::adopt(PyObject* obj, int ndim, int record_doubles, coe_state* st) {
    if (!PyArray_CheckExact(obj) || ndim > 2) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(a) != ndim || !PyArray_ISWRITEABLE(a)) return false;
    PyArray_Descr* d = PyArray_DESCR(a);
    auto* descr = reinterpret_cast<PyObject*>(d);
    if (record_doubles == 1) {
        if (d->type_num != NPY_DOUBLE || !PyArray_ISNBO(d->byteorder)) return false;
    } else if (!st || descr != st->plain_descr || PyDataType_NAMES(d) != st->plain_names) {
        if (!plain_records(d, record_doubles)) {
            if (PyErr_Occurred()) PyErr_Clear();  // from a field lookup: the request decides
            return false;
        }
        if (st) {
            Py_XSETREF(st->plain_descr, Py_NewRef(descr));
            Py_XSETREF(st->plain_names, Py_NewRef(PyDataType_NAMES(d)));
        }
    }
    // The extents are copied: Python code run during a loop (an element's __float__, a signal
    // handler) may give the array a new shape, which frees the array's own.
    for (int k = 0; k < ndim; ++k) {
        extents_[k] = PyArray_DIM(a, k);
        extents_[2 + k] = PyArray_STRIDE(a, k);
    }
    buf_.buf = PyArray_DATA(a);
    buf_.ndim = ndim;
    buf_.shape = extents_;
    buf_.strides = extents_ + 2;
    return true;
}

int View::acquire(PyObject* obj, int ndim, int record_doubles, coe_state* st) {
    if (adopt(obj, ndim, record_doubles, st)) return 0;
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
