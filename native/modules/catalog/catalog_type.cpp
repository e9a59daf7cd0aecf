// The Catalog type: its columns, construction, properties, repr, pickling and GC.
#include <Python.h>

#include <cstdint>
#include <iterator>

#include "catalog.hpp"
#include "kernels/civil_time.hpp"

namespace orbivex::catalog {

namespace {

CatalogObject* as_catalog(PyObject* self) { return reinterpret_cast<CatalogObject*>(self); }

/// Every owned reference of a Catalog, for traverse, clear and dealloc.
template <class F>
void for_each_ref(CatalogObject* c, F&& f) {
    for (PyObject*& p : c->column) f(p);
    for (PyObject*& p : c->shown) f(p);
    f(c->epoch);
    f(c->satellites);
    f(c->rejected);
}

int Catalog_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    int err = 0;
    for_each_ref(as_catalog(self), [&](PyObject* p) {
        if (!err && p) err = visit(p, arg);
    });
    return err;
}

int Catalog_clear(PyObject* self) noexcept {
    for_each_ref(as_catalog(self), [](PyObject*& p) { Py_CLEAR(p); });
    return 0;
}

void Catalog_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Catalog_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

/// A new view of a stored column: the stored array is read-only, so is the view, and the
/// view cannot be made writeable.
PyObject* view(PyObject* array) {
    return PyArray_View(reinterpret_cast<PyArrayObject*>(array), nullptr, nullptr);
}

PyObject* Catalog_get_column(PyObject* self, void* closure) noexcept {
    CatalogObject* c = as_catalog(self);
    const auto k = static_cast<Column>(reinterpret_cast<std::intptr_t>(closure));
    if (columns[k].kind != Kind::text) return view(c->column[k]);
    if (!c->shown[k]) {
        PyArray_Descr* u = PyArray_DescrNewFromType(NPY_UNICODE);
        if (!u) return nullptr;
        PyDataType_SET_ELSIZE(u, 4 * columns[k].width);
        PyObject* shown = PyArray_CastToType(reinterpret_cast<PyArrayObject*>(c->column[k]), u, 0);
        if (!shown) return nullptr;
        PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(shown), NPY_ARRAY_WRITEABLE);
        c->shown[k] = shown;
    }
    return view(c->shown[k]);
}

PyObject* Catalog_get_epoch(PyObject* self, void*) noexcept {
    CatalogObject* c = as_catalog(self);
    if (!c->epoch) {
        catalog_state* st = state_of(self);
        c->epoch = PyObject_CallOneArg(st->Time, c->column[c_epoch_ns]);
        if (!c->epoch) return nullptr;
    }
    return Py_NewRef(c->epoch);
}

/// Number of satellites: of runs of equal numbers.
Py_ssize_t count_satellites(const CatalogObject* c) {
    const std::int64_t* s = i64(c, c_satno);
    Py_ssize_t runs = 0;
    for (Py_ssize_t i = 0; i < c->n; ++i) runs += i == 0 || s[i] != s[i - 1];
    return runs;
}

PyObject* Catalog_get_satellites(PyObject* self, void*) noexcept {
    CatalogObject* c = as_catalog(self);
    if (!c->satellites) {
        npy_intp m = count_satellites(c);
        Ref out = Ref::steal(PyArray_SimpleNew(1, &m, NPY_INT64));
        if (!out) return nullptr;
        const std::int64_t* s = i64(c, c_satno);
        std::int64_t* o = data_of<std::int64_t>(out.get());
        for (Py_ssize_t i = 0, j = 0; i < c->n; ++i)
            if (i == 0 || s[i] != s[i - 1]) o[j++] = s[i];
        PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(out.get()), NPY_ARRAY_WRITEABLE);
        c->satellites = out.release();
    }
    return view(c->satellites);
}

PyObject* Catalog_get_rejected(PyObject* self, void*) noexcept {
    return PySequence_List(as_catalog(self)->rejected);
}

Py_ssize_t Catalog_length(PyObject* self) noexcept { return as_catalog(self)->n; }

PyObject* Catalog_repr(PyObject* self) noexcept {
    const CatalogObject* c = as_catalog(self);
    const Py_ssize_t rejected = PyTuple_GET_SIZE(c->rejected);
    if (c->n == 0) return PyUnicode_FromFormat("Catalog(0 sets, %zd rejected)", rejected);
    const std::int64_t* e = i64(c, c_epoch_ns);
    std::int64_t lo = e[0], hi = e[0];
    for (Py_ssize_t i = 1; i < c->n; ++i) {
        lo = e[i] < lo ? e[i] : lo;
        hi = e[i] > hi ? e[i] : hi;
    }
    char first[kern::iso_buffer_size], last[kern::iso_buffer_size];
    kern::format_iso(lo, 0, first);
    kern::format_iso(hi, 0, last);
    const Py_ssize_t satellites = count_satellites(c);
    return PyUnicode_FromFormat(
        "Catalog(%zd set%s of %zd satellite%s, epochs %s to %s, %zd rejected)", c->n,
        c->n == 1 ? "" : "s", satellites, satellites == 1 ? "" : "s", first, last, rejected);
}

/// Pickled as its columns: Catalog._from_columns({name: column}, rejected).
PyObject* Catalog_reduce(PyObject* self, PyObject*) noexcept {
    CatalogObject* c = as_catalog(self);
    Ref state = Ref::steal(PyDict_New());
    if (!state) return nullptr;
    for (int k = 0; k < column_count; ++k)
        if (PyDict_SetItemString(state.get(), columns[k].name, c->column[k]) < 0) return nullptr;
    Ref make = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_columns"));
    if (!make) return nullptr;
    return Py_BuildValue("O(OO)", make.get(), state.get(), c->rejected);
}

/// Arrow and pandas live in the Python half (_catalog_arrow), which imports them when used.
PyObject* call_arrow(const char* name, PyObject* arg) noexcept {
    Ref module =
        Ref::steal(PyImport_ImportModule("orbivex.propagators.analytical.sgp4._catalog_arrow"));
    if (!module) return nullptr;
    Ref func = Ref::steal(PyObject_GetAttrString(module.get(), name));
    if (!func) return nullptr;
    return PyObject_CallOneArg(func.get(), arg);
}

PyObject* Catalog_to_pandas(PyObject* self, PyObject*) noexcept {
    return call_arrow("to_pandas", self);
}
PyObject* Catalog_to_arrow(PyObject* self, PyObject*) noexcept {
    return call_arrow("to_arrow", self);
}
PyObject* Catalog_from_arrow(PyObject*, PyObject* table) noexcept {
    return call_arrow("from_arrow", table);
}

template <class F>
PyCFunction cfunc(F* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef Catalog_methods[] = {
    {"satellite", cfunc(Catalog_satellite), METH_O,
     "satellite($self, satno, /)\n--\n\n"
     "The history of one satellite (an int, or its five-column text such as 'A0042') as a\n"
     "Catalog: a slice of this one's rows, empty when the satellite has none; no rejected\n"
     "sets."},
    {"latest", cfunc(Catalog_latest), METH_NOARGS,
     "latest($self, /)\n--\n\nThe newest set of each satellite, as a Catalog."},
    {"at", cfunc(Catalog_at), METH_FASTCALL | METH_KEYWORDS,
     "at($self, /, time, pick='newest')\n--\n\n"
     "One set per satellite for the instant `time` (a Time or anything Time reads), as a\n"
     "Catalog. pick='newest': the newest set at or before `time`; a satellite whose first\n"
     "set is later than `time` is left out. pick='nearest': the set nearest in time, the\n"
     "earlier of two equally near."},
    {"drop_duplicates", cfunc(Catalog_drop_duplicates), METH_NOARGS,
     "drop_duplicates($self, /)\n--\n\n"
     "This catalogue without repeated sets (the same satellite, epoch, lines and published\n"
     "values; names and source lines may differ): the first of each is kept. The rejected\n"
     "sets stay."},
    {"concat", cfunc(Catalog_concat), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "concat($type, /, *catalogs)\n--\n\n"
     "One catalogue of the rows of all, sorted again (stably: rows of equal satellite and\n"
     "epoch keep the order of the arguments), with the rejected sets of all."},
    {"tle", cfunc(Catalog_tle), METH_O,
     "tle($self, i, /)\n--\n\nTLE(line1[i], line2[i]): the set of row i as a TLE."},
    {"elset", cfunc(Catalog_elset), METH_O,
     "elset($self, satno, /)\n--\n\n"
     "The sets of one satellite as an ELSET, named with its newest name; KeyError when the\n"
     "catalogue has none."},
    {"write", cfunc(Catalog_write), METH_FASTCALL | METH_KEYWORDS,
     "write($self, /, target, format='tle')\n--\n\n"
     "Writes the catalogue to `target`, a path (compressed by a .gz, .bz2 or .xz suffix) or a\n"
     "file object (text or binary). format 'tle': two lines a set, the stored line text;\n"
     "'3le': each set after its name line (padded to 24 columns, or as '0 NAME' where the\n"
     "plain line would not read back as a name; a set without a name has no name line). The\n"
     "other formats are written by the writers in _catalog_py.WRITERS."},
    {"to_pandas", cfunc(Catalog_to_pandas), METH_NOARGS,
     "to_pandas($self, /)\n--\n\n"
     "The catalogue as a pandas DataFrame: one column per catalogue column, and epoch (the\n"
     "instants as datetime64[ns, UTC]) before epoch_ns. Needs pandas and pyarrow."},
    {"to_arrow", cfunc(Catalog_to_arrow), METH_NOARGS,
     "to_arrow($self, /)\n--\n\n"
     "The catalogue as a pyarrow Table: int64, float64 and string columns (name nullable),\n"
     "and epoch (timestamp[ns, UTC]) before epoch_ns. The rejected sets are left out."},
    {"from_arrow", cfunc(Catalog_from_arrow), METH_O | METH_CLASS,
     "from_arrow($type, table, /)\n--\n\n"
     "The Catalog of a pyarrow Table (or anything with __arrow_c_stream__) of to_arrow's\n"
     "columns and types, in any column order, epoch optional: from_arrow(c.to_arrow())\n"
     "equals c bit for bit. Rows out of catalogue order are sorted (stably); no rejected sets.\n"
     "ValueError names a missing, unknown or mistyped column."},
    {"_from_fields", cfunc(Catalog_from_fields), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_from_fields($type, /, fields, rejected=())\n--\n\n"
     "A Catalog of the records of a format read in Python. `fields` maps each of satno,\n"
     "name, classification, intldes, epoch_ns, ndot, nddot, bstar, ephemeris_type,\n"
     "element_number, revolution, inc, raa, ecc, arp, mea and mnm (and optionally\n"
     "source_line, by default 1, 2, ...) to a 1-D array-like, every one of the same length,\n"
     "in the published units: angles in degrees, mean motion in rev/day, the rest as the\n"
     "columns hold them. Elements are converted as TLE converts them, the derived elements\n"
     "computed and the two lines written; rows are sorted. `rejected`: TLEFormatErrors kept\n"
     "in catalog.rejected."},
    {"_from_columns", cfunc(Catalog_from_columns), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_from_columns($type, /, columns, rejected=())\n--\n\n"
     "A Catalog from the state it pickles as: every column by name, as stored."},
    {"__reduce__", cfunc(Catalog_reduce), METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef column_property(const Column k) {
    return {columns[k].name, Catalog_get_column, nullptr, columns[k].doc,
            reinterpret_cast<void*>(static_cast<std::intptr_t>(k))};
}

PyGetSetDef Catalog_getset[] = {
#define ORBIVEX_ROW(name, kind, width, field, compared, doc) column_property(c_##name),
    ORBIVEX_CATALOG_COLUMNS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
        {"epoch", Catalog_get_epoch, nullptr, "The epochs as a Time (of epoch_ns: exact instants).",
         nullptr},
    {"satellites", Catalog_get_satellites, nullptr,
     "The satellite numbers, each once, in increasing order (int64).", nullptr},
    {"rejected", Catalog_get_rejected, nullptr,
     "The refused sets of the source, in text order: a new list of TLEFormatError.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
static_assert(std::size(Catalog_getset) == column_count + 4);

PyType_Slot Catalog_slots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Element sets as columns: N sets of any number of satellites, sorted by satellite, then\n"
         "epoch (stably), each column a read-only NumPy array of length N. Made by read(),\n"
         "parse(), Catalog.concat() and the selection methods; pickled as its columns.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(Catalog_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(Catalog_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(Catalog_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(Catalog_repr)},
    {Py_mp_length, reinterpret_cast<void*>(Catalog_length)},
    {Py_sq_length, reinterpret_cast<void*>(Catalog_length)},
    {Py_tp_methods, Catalog_methods},
    {Py_tp_getset, Catalog_getset},
    {0, nullptr},
};

}  // namespace

PyType_Spec Catalog_spec = {
    "orbivex.propagators.analytical.sgp4.catalog.Catalog",
    static_cast<int>(sizeof(CatalogObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
        Py_TPFLAGS_DISALLOW_INSTANTIATION,
    Catalog_slots,
};

Ref new_column(const Column c, const Py_ssize_t n) noexcept {
    npy_intp dims[1] = {n};
    switch (columns[c].kind) {
    case Kind::int64: return Ref::steal(PyArray_SimpleNew(1, dims, NPY_INT64));
    case Kind::float64: return Ref::steal(PyArray_SimpleNew(1, dims, NPY_DOUBLE));
    // Object arrays start with NULL items, which NumPy reads as None.
    case Kind::object: return Ref::steal(PyArray_SimpleNew(1, dims, NPY_OBJECT));
    case Kind::text:
        return Ref::steal(PyArray_New(&PyArray_Type, 1, dims, NPY_STRING, nullptr, nullptr,
                                      columns[c].width, 0, nullptr));
    }
    return {};
}

PyObject* new_catalog(catalog_state* st, const Py_ssize_t n, Ref (&cols)[column_count],
                      PyObject* rejected) noexcept {
    Ref empty;
    if (!rejected) {
        empty = Ref::steal(PyTuple_New(0));
        if (!empty) return nullptr;
        rejected = empty.get();
    }
    PyObject* obj = st->Catalog_type->tp_alloc(st->Catalog_type, 0);
    if (!obj) return nullptr;
    CatalogObject* c = as_catalog(obj);
    c->n = n;
    for (int k = 0; k < column_count; ++k) {
        PyArray_CLEARFLAGS(reinterpret_cast<PyArrayObject*>(cols[k].get()), NPY_ARRAY_WRITEABLE);
        c->column[k] = cols[k].release();
    }
    c->rejected = Py_NewRef(rejected);
    return obj;
}

}  // namespace orbivex::catalog
