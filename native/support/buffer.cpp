// Checked buffer views of float64 arrays and float64 records, with their error texts.
#include "support/buffer.hpp"

#include <string_view>

#include "support/numpy.hpp"

namespace orbivex::py {

namespace {

// Byte-order marks that mean the host's own order.
bool native_order(char c) noexcept {
    if (c == '@' || c == '=' || c == '^') return true;
#if PY_LITTLE_ENDIAN
    return c == '<';
#else
    return c == '>' || c == '!';
#endif
}

std::string_view without_order(std::string_view f) noexcept {
    if (!f.empty() && native_order(f.front())) f.remove_prefix(1);
    return f;
}

// A field name the buffer format carries unchanged: NumPy refuses ':' in it, and a NUL would
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
// names, no titles: the dtypes whose buffer format native_double_fields counts as `count`.
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

bool is_native_double_format(const char* format) noexcept {
    return format && without_order(format) == "d";
}

Py_ssize_t native_double_fields(const char* format) noexcept {
    if (!format) return -1;
    std::string_view f = without_order(format);
    if (f.size() < 3 || f.substr(0, 2) != "T{" || f.back() != '}') return -1;
    f = f.substr(2, f.size() - 3);
    Py_ssize_t n = 0;
    while (!f.empty()) {
        f = without_order(f);
        if (f.size() < 2 || f[0] != 'd' || f[1] != ':') return -1;
        const size_t close = f.find(':', 2);  // end of the field name
        if (close == std::string_view::npos) return -1;
        f.remove_prefix(close + 1);
        ++n;
    }
    return n;
}

int Buffer::acquire(PyObject* obj, int flags) noexcept {
    if (PyObject_GetBuffer(obj, &view_, flags) < 0) return -1;
    held_ = true;
    return 0;
}

int Buffer::acquire_doubles(PyObject* obj, int ndim, Access access, GotFormat got) noexcept {
    return acquire_checked(obj, ndim, 1, nullptr, access, got, nullptr);
}

int Buffer::acquire_records(PyObject* obj, int ndim, int fields, const char* record,
                            PlainRecords* known) noexcept {
    return acquire_checked(obj, ndim, fields, record, Access::writable, GotFormat::labelled, known);
}

bool Buffer::adopt(PyObject* obj, int ndim, int fields, Access access,
                   PlainRecords* known) noexcept {
    if (!PyArray_CheckExact(obj)) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    if (ndim > 2 || PyArray_NDIM(a) != ndim ||
        (access == Access::writable && !PyArray_ISWRITEABLE(a)))
        return false;
    PyArray_Descr* d = PyArray_DESCR(a);
    auto* descr = reinterpret_cast<PyObject*>(d);
    if (fields == 1) {
        if (d->type_num != NPY_DOUBLE || !PyArray_ISNBO(d->byteorder)) return false;
    } else if (!known || descr != known->descr || PyDataType_NAMES(d) != known->names) {
        if (!plain_records(d, fields)) {
            if (PyErr_Occurred()) PyErr_Clear();  // from a field lookup: the request decides
            return false;
        }
        if (known) {
            Py_XSETREF(known->descr, Py_NewRef(descr));
            Py_XSETREF(known->names, Py_NewRef(PyDataType_NAMES(d)));
        }
    }
    view_.buf = PyArray_DATA(a);
    view_.ndim = ndim;
    for (int k = 0; k < ndim; ++k) {
        extents_[k] = PyArray_DIM(a, k);
        extents_[2 + k] = PyArray_STRIDE(a, k);
    }
    view_.shape = extents_;
    view_.strides = extents_ + 2;
    return true;
}

int Buffer::acquire_checked(PyObject* obj, int ndim, int fields, const char* record, Access access,
                            GotFormat got, PlainRecords* known) noexcept {
    if (adopt(obj, ndim, fields, access, known)) return 0;
    // Asked read-only first, so that the dimension and the layout are reported before the
    // write access (a NumPy scalar record is a read-only buffer of no dimensions).
    if (acquire(obj, PyBUF_RECORDS_RO) < 0) return -1;
    if (view_.ndim != ndim) {
        PyErr_Format(PyExc_ValueError,
                     "Buffer has wrong number of dimensions (expected %d, got %d)", ndim,
                     view_.ndim);
        return -1;
    }
    const char* format = view_.format ? view_.format : "B";
    const bool layout_ok =
        fields == 1 ? is_native_double_format(format) : native_double_fields(format) == fields;
    if (!layout_ok || view_.itemsize != static_cast<Py_ssize_t>(sizeof(double)) * fields) {
        if (fields == 1)
            PyErr_Format(PyExc_ValueError,
                         "Buffer dtype mismatch, expected 'double' but got %s'%s'",
                         got == GotFormat::labelled ? "format " : "", format);
        else
            PyErr_Format(PyExc_ValueError,
                         "Buffer dtype mismatch, expected '%s' (%d float64 fields, %d bytes) "
                         "but got format '%s' of %zd bytes",
                         record, fields, fields * 8, format, view_.itemsize);
        return -1;
    }
    if (access == Access::writable && view_.readonly) {
        PyErr_SetString(PyExc_ValueError, "buffer source array is read-only");
        return -1;
    }
    return 0;
}

}  // namespace orbivex::py
