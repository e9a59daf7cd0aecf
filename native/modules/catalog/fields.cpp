// Catalogs made from columns: Catalog._from_fields (records of a format read in Python, in the
// published units) and Catalog._from_columns (the pickled state).
#include <Python.h>

#include <climits>
#include <cstring>

#include "catalog.hpp"
#include "kernels/tle_write.hpp"
#include "support/args.hpp"

namespace orbivex::catalog {

namespace {

namespace tle = kern::tle;

const char* const make_names[] = {"fields", "rejected"};
const py::Params make_params{make_names, 1, 2};

/// Whether _from_fields takes the column as a field.
constexpr bool is_field(const ColumnSpec& spec) { return spec.field != Field::computed; }

/// `rejected` as a tuple of TLEFormatError.
Ref rejected_tuple(catalog_state* st, PyObject* rejected) {
    if (!rejected) return Ref::steal(PyTuple_New(0));
    Ref tuple = Ref::steal(PySequence_Tuple(rejected));
    if (!tuple) return {};
    Ref type = Ref::steal(PyObject_GetAttr(st->helper, st->s_TLEFormatError));
    if (!type) return {};
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(tuple.get()); ++i) {
        PyObject* item = PyTuple_GET_ITEM(tuple.get(), i);
        const int ok = PyObject_IsInstance(item, type.get());
        if (ok < 0) return {};
        if (!ok) {
            PyErr_Format(PyExc_TypeError, "rejected holds '%.200s', not TLEFormatError",
                         Py_TYPE(item)->tp_name);
            return {};
        }
    }
    return tuple;
}

/// The same length as the fields before, or the first.
int check_length(const char* func, const char* name, Py_ssize_t len, Py_ssize_t& n) {
    if (n < 0) n = len;
    if (len == n) return 0;
    PyErr_Format(PyExc_ValueError, "%s: '%s' has %zd items, the fields before it %zd", func, name,
                 len, n);
    return -1;
}

/// A 1-D C-contiguous array of `type` from `obj`, by safe casts only: the values are read as
/// they are, then cast (a list of floats is not truncated into integers).
Ref numbers(const char* func, const char* name, PyObject* obj, int type, Py_ssize_t& n) {
    Ref found = Ref::steal(PyArray_FromAny(obj, nullptr, 1, 1, 0, nullptr));
    if (!found) return {};
    auto* f = reinterpret_cast<PyArrayObject*>(found.get());
    // An empty list is read as float64; nothing is lost casting no values.
    const int cast = PyArray_SIZE(f) == 0 ? NPY_ARRAY_FORCECAST : 0;
    Ref a =
        Ref::steal(PyArray_FromArray(f, PyArray_DescrFromType(type), NPY_ARRAY_CARRAY_RO | cast));
    if (!a) return {};
    if (check_length(func, name, PyArray_SIZE(reinterpret_cast<PyArrayObject*>(a.get())), n) < 0)
        return {};
    return a;
}

int text_fault(const char* func, const char* name, Py_ssize_t i, int width) {
    PyErr_Format(PyExc_ValueError, "%s: %s[%zd] is not ASCII text of at most %d characters", func,
                 name, i, width);
    return -1;
}

/// Items of `obj` (str or bytes, ASCII, at most `width` characters; None for none) into a
/// text column, NUL-padded.
int text_into(const char* func, const char* name, PyObject* obj, int width, Py_ssize_t& n,
              Ref& out) {
    Ref a = Ref::steal(PyArray_FromAny(obj, nullptr, 1, 1, NPY_ARRAY_CARRAY_RO, nullptr));
    if (!a) return -1;
    auto* arr = reinterpret_cast<PyArrayObject*>(a.get());
    if (check_length(func, name, PyArray_SIZE(arr), n) < 0) return -1;
    npy_intp dims[1] = {n};
    out = Ref::steal(
        PyArray_New(&PyArray_Type, 1, dims, NPY_STRING, nullptr, nullptr, width, 0, nullptr));
    if (!out) return -1;
    char* dst = data_of<char>(out.get());
    std::memset(dst, 0, static_cast<std::size_t>(n) * static_cast<std::size_t>(width));
    const char kind = PyArray_DESCR(arr)->kind;
    const auto item = static_cast<Py_ssize_t>(PyArray_ITEMSIZE(arr));
    const char* src = data_of<char>(a.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        char* to = dst + i * width;
        if (kind == 'S') {
            const char* p = src + i * item;
            const auto len = static_cast<Py_ssize_t>(strnlen(p, static_cast<std::size_t>(item)));
            if (len > width) return text_fault(func, name, i, width);
            for (Py_ssize_t k = 0; k < len; ++k) {
                if (static_cast<unsigned char>(p[k]) >= 0x80)
                    return text_fault(func, name, i, width);
                to[k] = p[k];
            }
        } else if (kind == 'U') {
            const auto* p = reinterpret_cast<const Py_UCS4*>(src + i * item);
            const Py_ssize_t chars = item / 4;
            Py_ssize_t len = chars;
            while (len > 0 && p[len - 1] == 0) --len;
            if (len > width) return text_fault(func, name, i, width);
            for (Py_ssize_t k = 0; k < len; ++k) {
                if (p[k] >= 0x80 || p[k] == 0) return text_fault(func, name, i, width);
                to[k] = static_cast<char>(p[k]);
            }
        } else if (kind == 'O') {
            PyObject* v = *reinterpret_cast<PyObject* const*>(src + i * item);
            if (!v || v == Py_None) continue;
            Py_ssize_t len = 0;
            const char* p = nullptr;
            if (PyUnicode_Check(v)) {
                if (!PyUnicode_IS_ASCII(v)) return text_fault(func, name, i, width);
                p = PyUnicode_AsUTF8AndSize(v, &len);
                if (!p) return -1;
            } else if (PyBytes_Check(v)) {
                p = PyBytes_AS_STRING(v);
                len = PyBytes_GET_SIZE(v);
            } else {
                PyErr_Format(PyExc_TypeError, "%s: %s[%zd] is '%.200s', not str", func, name, i,
                             Py_TYPE(v)->tp_name);
                return -1;
            }
            if (len > width ||
                strnlen(p, static_cast<std::size_t>(len)) != static_cast<std::size_t>(len))
                return text_fault(func, name, i, width);
            for (Py_ssize_t k = 0; k < len; ++k) {
                if (static_cast<unsigned char>(p[k]) >= 0x80)
                    return text_fault(func, name, i, width);
                to[k] = p[k];
            }
        } else {
            PyErr_Format(PyExc_TypeError, "%s: '%s' holds %R, not text", func, name,
                         reinterpret_cast<PyObject*>(PyArray_DESCR(arr)));
            return -1;
        }
    }
    return 0;
}

/// Names: each str (a str subclass as its str) or None, into a new object column.
int names_into(const char* func, PyObject* obj, Py_ssize_t& n, Ref& out) {
    Ref seq = Ref::steal(PySequence_Fast(obj, "_from_fields: 'name' is not a sequence"));
    if (!seq) return -1;
    const Py_ssize_t len = PySequence_Fast_GET_SIZE(seq.get());
    if (check_length(func, "name", len, n) < 0) return -1;
    out = new_column(c_name, n);
    if (!out) return -1;
    auto** dst = data_of<PyObject*>(out.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* v = PySequence_Fast_GET_ITEM(seq.get(), i);
        if (v == Py_None || PyUnicode_CheckExact(v)) {
            dst[i] = Py_NewRef(v);
        } else if (PyUnicode_Check(v)) {
            dst[i] = PyUnicode_FromObject(v);
            if (!dst[i]) return -1;
        } else {
            PyErr_Format(PyExc_TypeError, "%s: name[%zd] is '%.200s', not str or None", func, i,
                         Py_TYPE(v)->tp_name);
            return -1;
        }
    }
    return 0;
}

std::int32_t clamp32(std::int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(v);
}

}  // namespace

PyObject* Catalog_from_fields(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
    constexpr const char* func = "_from_fields";
    PyObject* argv[2];
    if (py::bind_vectorcall(func, make_params, args, nargs, kwnames, argv) < 0) return nullptr;
    auto* st =
        static_cast<catalog_state*>(PyType_GetModuleState(reinterpret_cast<PyTypeObject*>(type)));
    if (!st) return nullptr;
    PyObject* fields = argv[0];
    if (!PyDict_Check(fields)) {
        PyErr_Format(PyExc_TypeError, "%s: fields must be a dict, not '%.200s'", func,
                     Py_TYPE(fields)->tp_name);
        return nullptr;
    }
    {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(fields, &pos, &key, &value)) {
            bool known = false;
            for (int k = 0; k < column_count && !known; ++k)
                known = is_field(columns[k]) && PyUnicode_Check(key) &&
                        PyUnicode_CompareWithASCIIString(key, columns[k].name) == 0;
            if (!known) {
                PyErr_Format(PyExc_ValueError, "%s: unknown field %R", func, key);
                return nullptr;
            }
        }
    }
    Ref rejected = rejected_tuple(st, argv[1]);
    if (!rejected) return nullptr;

    Py_ssize_t n = -1;
    Ref in[column_count];  // the fields given, by column
    for (int k = 0; k < column_count; ++k) {
        const ColumnSpec& spec = columns[k];
        if (!is_field(spec)) continue;
        PyObject* obj = PyDict_GetItemString(fields, spec.name);  // borrowed; no error raised
        if (!obj) {
            if (spec.field == Field::optional) continue;
            PyErr_Format(PyExc_ValueError, "%s: no field '%s'", func, spec.name);
            return nullptr;
        }
        Ref held = Ref::borrow(obj);
        int rc = 0;
        switch (spec.kind) {
        case Kind::int64: in[k] = numbers(func, spec.name, obj, NPY_INT64, n); break;
        case Kind::float64: in[k] = numbers(func, spec.name, obj, NPY_DOUBLE, n); break;
        case Kind::object: rc = names_into(func, obj, n, in[k]); break;
        case Kind::text: rc = text_into(func, spec.name, obj, spec.width, n, in[k]); break;
        }
        if (rc < 0 || !in[k]) return nullptr;
    }
    if (n < 0) n = 0;

    double gm = 0.0, re = 0.0;
    if (earth_constants(st, gm, re) < 0) return nullptr;
    const tle::Units units = units_now();
    Ref cols[column_count];
    for (int k = 0; k < column_count; ++k) {
        cols[k] = new_column(static_cast<Column>(k), n);
        if (!cols[k]) return nullptr;
    }
    const auto i64in = [&](Column c) { return data_of<std::int64_t>(in[c].get()); };
    const auto f64in = [&](Column c) { return data_of<double>(in[c].get()); };
    const auto i64out = [&](Column c) { return data_of<std::int64_t>(cols[c].get()); };
    const auto f64out = [&](Column c) { return data_of<double>(cols[c].get()); };
    for (int k = 0; k < column_count; ++k) {
        if (!in[k]) continue;
        if (columns[k].kind == Kind::object) {
            cols[k] = std::move(in[k]);  // already a new column of its own
            continue;
        }
        const std::size_t bytes =
            static_cast<std::size_t>(PyArray_NBYTES(reinterpret_cast<PyArrayObject*>(in[k].get())));
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(cols[k].get())),
                    PyArray_DATA(reinterpret_cast<PyArrayObject*>(in[k].get())), bytes);
    }
    std::int64_t* source_line = i64out(c_source_line);
    const std::int64_t* epoch = i64in(c_epoch_ns);
    char* line1 = data_of<char>(cols[c_line1].get());
    char* line2 = data_of<char>(cols[c_line2].get());
    const char* classification = data_of<char>(cols[c_classification].get());
    const char* intldes = data_of<char>(cols[c_intldes].get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (epoch[i] == kern::not_a_time) {
            PyErr_Format(PyExc_ValueError, "%s: epoch_ns[%zd] is NaT", func, i);
            return nullptr;
        }
        if (!in[c_source_line]) source_line[i] = i + 1;
        // Degrees and revolutions per day as TLE scales them.
        double* el[6] = {f64out(c_inc), f64out(c_raa), f64out(c_ecc),
                         f64out(c_arp), f64out(c_mea), f64out(c_mnm)};
        el[0][i] = f64in(c_inc)[i] * units.deg;
        el[1][i] = f64in(c_raa)[i] * units.deg;
        el[2][i] = f64in(c_ecc)[i];
        el[3][i] = f64in(c_arp)[i] * units.deg;
        el[4][i] = f64in(c_mea)[i] * units.deg;
        el[5][i] = (f64in(c_mnm)[i] * units.rev) / units.day;
        double d[6];
        derive(el[5][i], el[2][i], el[4][i], gm, re, d);
        const Column derived[6] = {c_sma, c_orp, c_eca, c_tra, c_pge, c_apg};
        for (int k = 0; k < 6; ++k) f64out(derived[k])[i] = d[k];

        tle::Fields f{};
        f.satno = i64in(c_satno)[i];
        f.epoch_ns = epoch[i];
        f.ephemeris_type = clamp32(i64in(c_ephemeris_type)[i]);
        f.element_number = clamp32(i64in(c_element_number)[i]);
        f.revolution = clamp32(i64in(c_revolution)[i]);
        f.ndot = f64in(c_ndot)[i];
        f.nddot = f64in(c_nddot)[i];
        f.bstar = f64in(c_bstar)[i];
        f.inc = el[0][i];
        f.raa = el[1][i];
        f.ecc = el[2][i];
        f.arp = el[3][i];
        f.mea = el[4][i];
        f.mnm = el[5][i];
        f.classification = classification[i];
        std::memcpy(f.intldes, intldes + 8 * i, 8);
        char a[kern::tle_line_size], b[kern::tle_line_size];
        const bool written = tle::format(f, a, b, units) == tle::Reason::none;
        std::memcpy(line1 + 69 * i, a, 69);
        std::memcpy(line2 + 69 * i, b, 69);
        if (!written) {
            std::memset(line1 + 69 * i, 0, 69);
            std::memset(line2 + 69 * i, 0, 69);
        }
    }
    return sorted_catalog(st, n, cols, rejected.get());
}

PyObject* Catalog_from_columns(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept {
    constexpr const char* func = "_from_columns";
    PyObject* argv[2];
    const char* const names[] = {"columns", "rejected"};
    const py::Params params{names, 1, 2};
    if (py::bind_vectorcall(func, params, args, nargs, kwnames, argv) < 0) return nullptr;
    auto* st =
        static_cast<catalog_state*>(PyType_GetModuleState(reinterpret_cast<PyTypeObject*>(type)));
    if (!st) return nullptr;
    if (!PyDict_Check(argv[0]) || PyDict_GET_SIZE(argv[0]) != column_count) {
        PyErr_Format(PyExc_ValueError, "%s: columns must be a dict of the %d columns", func,
                     column_count);
        return nullptr;
    }
    Ref rejected = rejected_tuple(st, argv[1]);
    if (!rejected) return nullptr;
    Py_ssize_t n = -1;
    Ref cols[column_count];
    for (int k = 0; k < column_count; ++k) {
        const ColumnSpec& spec = columns[k];
        PyObject* obj = PyDict_GetItemString(argv[0], spec.name);
        if (!obj) {
            PyErr_Format(PyExc_ValueError, "%s: no column '%s'", func, spec.name);
            return nullptr;
        }
        PyArray_Descr* descr = spec.kind == Kind::int64     ? PyArray_DescrFromType(NPY_INT64)
                               : spec.kind == Kind::float64 ? PyArray_DescrFromType(NPY_DOUBLE)
                               : spec.kind == Kind::object  ? PyArray_DescrFromType(NPY_OBJECT)
                                                            : PyArray_DescrNewFromType(NPY_STRING);
        if (!descr) return nullptr;
        if (spec.kind == Kind::text) PyDataType_SET_ELSIZE(descr, spec.width);
        // Taken as they are when they already are what a column holds.
        cols[k] = Ref::steal(PyArray_FromAny(obj, descr, 1, 1, NPY_ARRAY_CARRAY_RO, nullptr));
        if (!cols[k]) return nullptr;
        auto* a = reinterpret_cast<PyArrayObject*>(cols[k].get());
        if (check_length(func, spec.name, PyArray_SIZE(a), n) < 0) return nullptr;
        if (spec.kind == Kind::object) {
            auto** items = data_of<PyObject*>(cols[k].get());
            for (Py_ssize_t i = 0; i < n; ++i) {
                if (items[i] && items[i] != Py_None && !PyUnicode_CheckExact(items[i])) {
                    PyErr_Format(PyExc_TypeError, "%s: name[%zd] is '%.200s', not str or None",
                                 func, i, Py_TYPE(items[i])->tp_name);
                    return nullptr;
                }
            }
        } else if (spec.kind == Kind::text) {
            const char* p = data_of<char>(cols[k].get());
            for (Py_ssize_t i = 0; i < n * spec.width; ++i)
                if (static_cast<unsigned char>(p[i]) >= 0x80)
                    return text_fault(func, spec.name, i / spec.width, spec.width), nullptr;
        }
    }
    const std::int64_t* s = data_of<std::int64_t>(cols[c_satno].get());
    const std::int64_t* e = data_of<std::int64_t>(cols[c_epoch_ns].get());
    for (Py_ssize_t i = 1; i < n; ++i) {
        if (s[i] < s[i - 1] || (s[i] == s[i - 1] && e[i] < e[i - 1])) {
            PyErr_Format(PyExc_ValueError, "%s: rows %zd and %zd are not in catalogue order", func,
                         i - 1, i);
            return nullptr;
        }
    }
    if (n < 0) n = 0;
    return new_catalog(st, n, cols, rejected.get());
}

}  // namespace orbivex::catalog
