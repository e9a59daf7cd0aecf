// Rows of a catalogue: one satellite's history, the newest or nearest set of each satellite,
// repeated sets dropped, catalogues joined, and the sort and row selection under them.
#include <Python.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "catalog.hpp"
#include "order.hpp"
#include "support/args.hpp"

namespace orbivex::catalog {

namespace {

CatalogObject* as_catalog(PyObject* self) { return reinterpret_cast<CatalogObject*>(self); }

/// An intp array of `index`; empty with an error set.
Ref index_array(const std::vector<npy_intp>& index) {
    npy_intp n = static_cast<npy_intp>(index.size());
    Ref out = Ref::steal(PyArray_SimpleNew(1, &n, NPY_INTP));
    if (out && n)
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())), index.data(),
                    index.size() * sizeof(npy_intp));
    return out;
}

/// The first row of each satellite's run, and n at the end.
std::vector<Py_ssize_t> run_starts(const CatalogObject* c) {
    const std::int64_t* s = i64(c, c_satno);
    std::vector<Py_ssize_t> starts;
    for (Py_ssize_t i = 0; i < c->n; ++i)
        if (i == 0 || s[i] != s[i - 1]) starts.push_back(i);
    starts.push_back(c->n);
    return starts;
}

/// take_rows of the rows `index` picks, as a Catalog.
PyObject* pick(catalog_state* st, CatalogObject* c, const std::vector<npy_intp>& index) {
    Ref array = index_array(index);
    return array ? take_rows(st, c, array.get()) : nullptr;
}

}  // namespace

int satno_arg(PyObject* arg, std::int64_t& out) noexcept {
    if (PyUnicode_Check(arg)) {
        // The catalogue-number columns of a line: five digits (leading blanks allowed) or
        // Alpha-5.
        Py_ssize_t len = 0;
        const char* text = PyUnicode_AsUTF8AndSize(arg, &len);
        if (!text) return -1;
        char field[5] = {' ', ' ', ' ', ' ', ' '};
        if (len >= 1 && len <= 5) std::memcpy(field + 5 - len, text, static_cast<std::size_t>(len));
        if (len < 1 || len > 5 || kern::tle::alpha5_decode(field, out) != kern::tle::no_fault) {
            PyErr_Format(PyExc_ValueError,
                         "%R is not a catalogue number (five digits, or Alpha-5 such as 'A0042')",
                         arg);
            return -1;
        }
        return 0;
    }
    Ref number = Ref::steal(PyNumber_Index(arg));
    if (!number) return -1;
    int overflow = 0;
    out = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (out == -1 && PyErr_Occurred()) return -1;
    if (overflow) {
        // No catalogue holds such a number.
        out = overflow > 0 ? INT64_MAX : INT64_MIN;
    }
    return 0;
}

void satellite_range(const CatalogObject* c, const std::int64_t satno, Py_ssize_t& lo,
                     Py_ssize_t& hi) noexcept {
    const std::int64_t* s = i64(c, c_satno);
    lo = std::lower_bound(s, s + c->n, satno) - s;
    hi = std::upper_bound(s + lo, s + c->n, satno) - s;
}

PyObject* take_rows(catalog_state* st, CatalogObject* c, PyObject* index) noexcept {
    Ref cols[column_count];
    for (int k = 0; k < column_count; ++k) {
        cols[k] = Ref::steal(PyArray_TakeFrom(reinterpret_cast<PyArrayObject*>(c->column[k]), index,
                                              0, nullptr, NPY_RAISE));
        if (!cols[k]) return nullptr;
    }
    return new_catalog(st, PyArray_SIZE(reinterpret_cast<PyArrayObject*>(cols[0].get())), cols,
                       nullptr);
}

PyObject* slice_rows(catalog_state* st, CatalogObject* c, const Py_ssize_t lo,
                     const Py_ssize_t hi) noexcept {
    Ref cols[column_count];
    for (int k = 0; k < column_count; ++k) {
        cols[k] = Ref::steal(PySequence_GetSlice(c->column[k], lo, hi));
        if (!cols[k]) return nullptr;
    }
    return new_catalog(st, hi - lo, cols, nullptr);
}

PyObject* sorted_catalog(catalog_state* st, const Py_ssize_t n, Ref (&cols)[column_count],
                         PyObject* rejected) noexcept {
    const std::int64_t* satno = data_of<std::int64_t>(cols[c_satno].get());
    const std::int64_t* epoch = data_of<std::int64_t>(cols[c_epoch_ns].get());
    std::vector<npy_intp> order;
    try {
        order.resize(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
        sort_catalogue(
            order, [satno](npy_intp i) { return satno[i]; },
            [epoch](npy_intp i) { return epoch[i]; });
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    bool identity = true;
    for (Py_ssize_t i = 0; i < n && identity; ++i)
        identity = order[static_cast<std::size_t>(i)] == i;
    if (!identity) {
        Ref index = index_array(order);
        if (!index) return nullptr;
        for (Ref& col : cols) {
            col = Ref::steal(PyArray_TakeFrom(reinterpret_cast<PyArrayObject*>(col.get()),
                                              index.get(), 0, nullptr, NPY_RAISE));
            if (!col) return nullptr;
        }
    }
    return new_catalog(st, n, cols, rejected);
}

PyObject* Catalog_satellite(PyObject* self, PyObject* arg) noexcept {
    std::int64_t satno = 0;
    if (satno_arg(arg, satno) < 0) return nullptr;
    CatalogObject* c = as_catalog(self);
    Py_ssize_t lo = 0, hi = 0;
    satellite_range(c, satno, lo, hi);
    return slice_rows(state_of(self), c, lo, hi);
}

PyObject* Catalog_latest(PyObject* self, PyObject*) noexcept {
    CatalogObject* c = as_catalog(self);
    std::vector<npy_intp> index;
    try {
        const std::vector<Py_ssize_t> starts = run_starts(c);
        for (std::size_t r = 1; r < starts.size(); ++r) index.push_back(starts[r] - 1);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return pick(state_of(self), c, index);
}

namespace {

const char* const at_names[] = {"time", "pick"};
const py::Params at_params{at_names, 1, 2};

}  // namespace

PyObject* Catalog_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    PyObject* argv[2];
    if (py::bind_vectorcall("at", at_params, args, nargs, kwnames, argv) < 0) return nullptr;
    catalog_state* st = state_of(self);
    bool nearest = false;
    if (argv[1]) {
        if (!PyUnicode_Check(argv[1])) {
            PyErr_Format(PyExc_TypeError, "pick must be a str, not '%.200s'",
                         Py_TYPE(argv[1])->tp_name);
            return nullptr;
        }
        nearest = PyUnicode_CompareWithASCIIString(argv[1], "nearest") == 0;
        if (!nearest && PyUnicode_CompareWithASCIIString(argv[1], "newest") != 0) {
            PyErr_Format(PyExc_ValueError, "pick must be 'newest' or 'nearest', not %R", argv[1]);
            return nullptr;
        }
    }
    Ref time = Ref::steal(PyObject_CallOneArg(st->Time, argv[0]));
    if (!time) return nullptr;
    Ref ns = Ref::steal(PyObject_GetAttr(time.get(), st->s_int64));
    if (!ns) return nullptr;
    if (PyArray_Check(ns.get())) {
        PyErr_SetString(PyExc_TypeError, "at() needs one instant, not an array of them");
        return nullptr;
    }
    Ref integer = Ref::steal(PyNumber_Index(ns.get()));
    if (!integer) return nullptr;
    const std::int64_t t = PyLong_AsLongLong(integer.get());
    if (t == -1 && PyErr_Occurred()) return nullptr;

    CatalogObject* c = as_catalog(self);
    const std::int64_t* e = i64(c, c_epoch_ns);
    std::vector<npy_intp> index;
    try {
        const std::vector<Py_ssize_t> starts = run_starts(c);
        for (std::size_t r = 1; r < starts.size(); ++r) {
            const Py_ssize_t a = starts[r - 1], b = starts[r];
            // Rows [a, after) are at or before t.
            const Py_ssize_t after = std::upper_bound(e + a, e + b, t) - e;
            if (!nearest || after == b) {
                if (after > a) index.push_back(after - 1);
                continue;
            }
            if (after == a) {
                index.push_back(a);
                continue;
            }
            // Distances without overflow: e[after - 1] <= t < e[after].
            const auto before =
                static_cast<std::uint64_t>(t) - static_cast<std::uint64_t>(e[after - 1]);
            const auto later = static_cast<std::uint64_t>(e[after]) - static_cast<std::uint64_t>(t);
            index.push_back(later < before ? after : after - 1);
        }
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return pick(st, c, index);
}

PyObject* Catalog_drop_duplicates(PyObject* self, PyObject*) noexcept {
    CatalogObject* c = as_catalog(self);
    const std::int64_t *s = i64(c, c_satno), *e = i64(c, c_epoch_ns);
    // The bytes of every compared column must agree: numbers to the bit, text to the byte.
    const auto same = [&](Py_ssize_t i, Py_ssize_t j) {
        for (int k = 0; k < column_count; ++k) {
            if (!columns[k].compared) continue;
            const auto w = static_cast<std::size_t>(
                PyArray_ITEMSIZE(reinterpret_cast<PyArrayObject*>(c->column[k])));
            const char* p = data_of<char>(c->column[k]);
            if (std::memcmp(p + w * static_cast<std::size_t>(i),
                            p + w * static_cast<std::size_t>(j), w) != 0)
                return false;
        }
        return true;
    };
    std::vector<npy_intp> index;
    try {
        index.reserve(static_cast<std::size_t>(c->n));
        for (Py_ssize_t a = 0; a < c->n;) {
            Py_ssize_t b = a + 1;
            while (b < c->n && s[b] == s[a] && e[b] == e[a]) ++b;
            const std::size_t group = index.size();
            for (Py_ssize_t i = a; i < b; ++i) {
                bool repeated = false;
                for (std::size_t k = group; k < index.size() && !repeated; ++k)
                    repeated = same(index[k], i);
                if (!repeated) index.push_back(i);
            }
            a = b;
        }
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    if (static_cast<Py_ssize_t>(index.size()) == c->n) return Py_NewRef(self);
    Ref array = index_array(index);
    if (!array) return nullptr;
    catalog_state* st = state_of(self);
    Ref out = Ref::steal(take_rows(st, c, array.get()));
    if (!out) return nullptr;
    Py_SETREF(as_catalog(out.get())->rejected, Py_NewRef(c->rejected));
    return out.release();
}

PyObject* Catalog_concat(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept {
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
        py::raise_unexpected_keyword("concat", PyTuple_GET_ITEM(kwnames, 0));
        return nullptr;
    }
    auto* st =
        static_cast<catalog_state*>(PyType_GetModuleState(reinterpret_cast<PyTypeObject*>(type)));
    if (!st) return nullptr;
    Py_ssize_t n = 0;
    Ref rejected = Ref::steal(PyList_New(0));
    if (!rejected) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        if (Py_TYPE(args[i]) != st->Catalog_type) {
            PyErr_Format(PyExc_TypeError, "concat() takes Catalogs, not '%.200s'",
                         Py_TYPE(args[i])->tp_name);
            return nullptr;
        }
        const CatalogObject* c = as_catalog(args[i]);
        n += c->n;
        for (Py_ssize_t j = 0; j < PyTuple_GET_SIZE(c->rejected); ++j)
            if (PyList_Append(rejected.get(), PyTuple_GET_ITEM(c->rejected, j)) < 0) return nullptr;
    }
    Ref cols[column_count];
    for (int k = 0; k < column_count; ++k) {
        if (nargs == 0) {
            cols[k] = new_column(static_cast<Column>(k), 0);
        } else {
            Ref parts = Ref::steal(PyList_New(nargs));
            if (!parts) return nullptr;
            for (Py_ssize_t i = 0; i < nargs; ++i)
                PyList_SET_ITEM(parts.get(), i, Py_NewRef(as_catalog(args[i])->column[k]));
            cols[k] = Ref::steal(PyArray_Concatenate(parts.get(), 0));
        }
        if (!cols[k]) return nullptr;
    }
    Ref tuple = Ref::steal(PyList_AsTuple(rejected.get()));
    if (!tuple) return nullptr;
    return sorted_catalog(st, n, cols, tuple.get());
}

}  // namespace orbivex::catalog
