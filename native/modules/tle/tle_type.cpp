// The TLE type: construction, line parsing, derived elements, properties and GC.
#include <Python.h>

#include <array>
#include <charconv>
#include <cstring>

#include "kernels/tle_fields.hpp"
#include "support/args.hpp"
#include "support/ref.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Ref;

TLEObject* as_tle(PyObject* self) { return reinterpret_cast<TLEObject*>(self); }

// ---- virtual operations -------------------------------------------------------------------

// Catalogue number and epoch from line 1. The epoch is the year's first instant as a Time,
// moved by the day of year (day 1.0 is 1 January 00:00).
void TLE_parse_line1(TLEObject* self) {
    const kern::TleLine1Fields f = kern::tle_parse_line1(self->_line1);
    std::memcpy(self->_satno, f.satno, sizeof self->_satno);
    tle_state* st = state_of(Py_TYPE(self));
    if (!st) return;
    char year[16];
    const auto written = std::to_chars(year, year + sizeof year, f.year);
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(year, written.ptr - year));
    if (!text) return;
    Ref start = Ref::steal(PyObject_CallOneArg(st->Time, text.get()));
    if (!start) return;
    Ref jd_obj = Ref::steal(PyObject_GetAttr(start.get(), st->s_jd));
    if (!jd_obj) return;
    const double jd = PyFloat_AsDouble(jd_obj.get());
    if (jd == -1.0 && PyErr_Occurred()) return;
    Ref jd_epoch = Ref::steal(PyFloat_FromDouble((jd - 1.0) + f.day));
    if (!jd_epoch) return;
    PyObject* args[] = {jd_epoch.get(), st->s_jd};
    PyObject* epoch = PyObject_Vectorcall(st->Time, args, 1, st->jd_kwnames);
    if (!epoch) return;
    Py_SETREF(self->epoch, epoch);
}

// The six mean elements of line 2, in SI units.
void TLE_parse_line2(TLEObject* self) {
    const kern::TleLine2Fields f = kern::tle_parse_line2(self->_line2);
    self->inc = f.inc_deg * *units.deg;
    self->raa = f.raa_deg * *units.deg;
    self->ecc = f.ecc;
    self->arp = f.arp_deg * *units.deg;
    self->mea = f.mea_deg * *units.deg;
    self->mnm = (f.mnm_rev_per_day * *units.rev) / *units.day;
}

TLEVtable tle_vtable = {
#define ORBIVEX_SLOT(name) TLE_##name,
    ORBIVEX_TLE_VIRTUALS(ORBIVEX_SLOT)
#undef ORBIVEX_SLOT
};

// ---- construction -------------------------------------------------------------------------

// The table of the most derived type that has one: a Cython subclass stores its own table
// only after this constructor has returned, so it is looked up along the MRO.
TLEVtable* derived_vtable(PyTypeObject* type, tle_state* st) {
    // Held: a key's __eq__ run by the lookup may assign __bases__ and replace the MRO.
    const Ref mro = Ref::borrow(type->tp_mro);
    const Py_ssize_t n = mro ? PyTuple_GET_SIZE(mro.get()) : 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        auto* t = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro.get(), i));
        if (!t->tp_dict) continue;
        PyObject* capsule = PyDict_GetItemWithError(t->tp_dict, st->s_vtable);  // borrowed
        if (capsule) return static_cast<TLEVtable*>(PyCapsule_GetPointer(capsule, nullptr));
        if (PyErr_Occurred()) return nullptr;
    }
    PyErr_SetString(PyExc_TypeError, "TLE subtype without a table of virtual operations");
    return nullptr;
}

// Python's own strip() and upper(), then ASCII bytes.
Ref normalise(PyObject* line, tle_state* st) {
    Ref stripped = Ref::steal(PyObject_VectorcallMethod(st->s_strip, &line, 1, nullptr));
    if (!stripped) return {};
    PyObject* s = stripped.get();
    Ref upper = Ref::steal(PyObject_VectorcallMethod(st->s_upper, &s, 1, nullptr));
    if (!upper) return {};
    return Ref::steal(PyUnicode_AsASCIIString(upper.get()));
}

// A fresh lookup of Earth.<name> as a double.
int earth_constant(tle_state* st, PyObject* name, double* out) {
    Ref v = Ref::steal(PyObject_GetAttr(st->Earth, name));
    if (!v) return -1;
    const double d =
        PyFloat_CheckExact(v.get()) ? PyFloat_AS_DOUBLE(v.get()) : PyFloat_AsDouble(v.get());
    if (d == -1.0 && PyErr_Occurred()) return -1;
    *out = d;
    return 0;
}

int construct(TLEObject* self, tle_state* st, PyObject* args, PyObject* kwds) {
    PyObject* argv[std::size(cat::tle_init_names)];
    Ref held[std::size(cat::tle_init_names)];
    if (py::bind_tuple_dict("__cinit__", cat::tle_init, args, kwds, argv, held) < 0) return -1;
    if (argv[2] && PyObject_IsTrue(argv[2]) < 0) return -1;
    for (int i = 0; i < 2; ++i) {
        if (!PyUnicode_CheckExact(argv[i])) {
            py::raise_arg_type(cat::tle_init_names[i], "str", argv[i]);
            return -1;
        }
    }
    Ref line1 = normalise(argv[0], st);
    if (!line1) return -1;
    Ref line2 = normalise(argv[1], st);
    if (!line2) return -1;
    kern::tle_store_line(self->_line1, PyBytes_AS_STRING(line1.get()),
                         static_cast<size_t>(PyBytes_GET_SIZE(line1.get())));
    kern::tle_store_line(self->_line2, PyBytes_AS_STRING(line2.get()),
                         static_cast<size_t>(PyBytes_GET_SIZE(line2.get())));

    // Overrides report failure by leaving an exception pending.
    self->vtab->parse_line1(self);
    if (PyErr_Occurred()) return -1;
    self->vtab->parse_line2(self);
    if (PyErr_Occurred()) return -1;

    // Each derived element reads its Earth constant afresh (GM twice, Re twice), so a value that
    // changes between reads (a descriptor on Earth, a __float__) is seen as each read got it.
    double gm = 0.0, re = 0.0;
    if (earth_constant(st, st->s_GM, &gm) < 0) return -1;
    self->sma = c_sma_from_mnm(self->mnm, gm);
    if (earth_constant(st, st->s_GM, &gm) < 0) return -1;
    self->orp = c_orp_from_sma(self->sma, gm);
    self->eca = c_eca_from_mea(self->mea, self->ecc);
    if (PyErr_Occurred()) return -1;
    // Reports a failure of atan2_asymmetric by leaving it pending.
    self->tra = c_tra_from_eca(self->eca, self->ecc);
    if (PyErr_Occurred()) return -1;
    if (earth_constant(st, st->s_Re, &re) < 0) return -1;
    self->pge = c_pge_from_sma_ecc(self->sma, self->ecc, re);
    if (earth_constant(st, st->s_Re, &re) < 0) return -1;
    self->apg = c_apg_from_sma_ecc(self->sma, self->ecc, re);
    return 0;
}

// All work happens here, after the base allocation with the same arguments; the base's
// initialiser runs afterwards as Python calls it.
PyObject* TLE_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
    tle_state* st = state_of(type);
    if (!st) return nullptr;
    Ref obj = Ref::steal(representable_base->tp_new(type, args, kwds));
    if (!obj) return nullptr;
    TLEObject* self = as_tle(obj.get());
    self->epoch = Py_NewRef(Py_None);
    self->vtab = derived_vtable(type, st);
    if (!self->vtab) return nullptr;
    if (construct(self, st, args, kwds) < 0) return nullptr;
    return obj.release();
}

// ---- GC -----------------------------------------------------------------------------------

int TLE_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(as_tle(self)->epoch);  // NULL while the base allocation is being made
    traverseproc base = representable_base->tp_traverse;
    return base ? base(self, visit, arg) : 0;
}

int TLE_clear(PyObject* self) noexcept {
    Py_XSETREF(as_tle(self)->epoch, Py_NewRef(Py_None));
    inquiry base = representable_base->tp_clear;
    return base ? base(self) : 0;
}

// Clears our own field; the base untracks, clears the dict, frees, and drops a heap type.
void TLE_dealloc(PyObject* self) noexcept {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_tle(self)->epoch);
    representable_base->tp_dealloc(self);
}

// ---- properties ---------------------------------------------------------------------------

PyObject* decode(const char* buf, size_t size) {
    return PyUnicode_DecodeASCII(buf, static_cast<Py_ssize_t>(strnlen(buf, size)), nullptr);
}

PyObject* TLE_get_line1(PyObject* self, void*) noexcept {
    return decode(as_tle(self)->_line1, sizeof as_tle(self)->_line1);
}
PyObject* TLE_get_line2(PyObject* self, void*) noexcept {
    return decode(as_tle(self)->_line2, sizeof as_tle(self)->_line2);
}

// The catalogue number as int(text) converts the stripped text, or that text when int() refuses
// it. Blanks around plain digits, the usual field, are handled here; anything else by Python.
PyObject* satno_value(PyObject* self) {
    const char* field = as_tle(self)->_satno;
    size_t begin = 0, end = strnlen(field, sizeof as_tle(self)->_satno);
    while (begin < end && field[begin] == ' ') ++begin;
    while (end > begin && field[end - 1] == ' ') --end;
    long value = 0;
    size_t i = begin;
    for (; i < end && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10 + (field[i] - '0');
    if (begin < end && i == end) return PyLong_FromLong(value);

    Ref raw = Ref::steal(decode(field, sizeof as_tle(self)->_satno));
    if (!raw) return nullptr;
    Ref text = Ref::steal(PyObject_CallMethod(raw.get(), "strip", nullptr));
    if (!text) return nullptr;
    PyObject* number = PyLong_FromUnicodeObject(text.get(), 10);
    if (number || !PyErr_ExceptionMatches(PyExc_ValueError)) return number;
    PyErr_Clear();
    return text.release();
}

PyObject* TLE_get_satno(PyObject* self, void*) noexcept { return satno_value(self); }

PyObject* TLE_get_epoch(PyObject* self, void*) noexcept {
    PyObject* epoch = as_tle(self)->epoch;
    return Py_NewRef(epoch ? epoch : Py_None);
}

// An element's stored double; the closure is its entry of element_fields.
PyObject* TLE_get_element(PyObject* self, void* closure) noexcept {
    return PyFloat_FromDouble(as_tle(self)->**static_cast<double TLEObject::* const*>(closure));
}

constinit auto TLE_getset =
    getset_table(cat::tle_properties, ORBIVEX_OWN_GETTERS(ORBIVEX_TLE_PROPERTIES), TLE_get_element,
                 element_fields);

PyType_Slot TLE_slots[] = {
    // Only the signature, for __text_signature__: the class itself has no docstring.
    {Py_tp_doc, const_cast<char*>(cat::tle_doc.c_str())},
    {Py_tp_new, reinterpret_cast<void*>(TLE_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(TLE_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(TLE_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(TLE_clear)},
    {Py_tp_getset, TLE_getset.data()},
    {0, nullptr},
};

PyType_Spec TLE_spec = {
    "orbivex.propagators.analytical.sgp4.tle.TLE",
    static_cast<int>(sizeof(TLEObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    TLE_slots,
};

}  // namespace

PyObject* tle_satno(PyObject* self) noexcept { return satno_value(self); }

int add_tle_type(PyObject* module, tle_state* st) noexcept {
    PyObject* type =
        PyType_FromModuleAndSpec(module, &TLE_spec, reinterpret_cast<PyObject*>(st->Representable));
    if (!type) return -1;
    st->TLE_type = reinterpret_cast<PyTypeObject*>(type);
    Ref capsule = Ref::steal(PyCapsule_New(&tle_vtable, nullptr, nullptr));
    if (!capsule || PyDict_SetItem(st->TLE_type->tp_dict, st->s_vtable, capsule.get()) < 0)
        return -1;
    // What is left of the docstring without its signature is empty: no docstring at all.
    if (PyDict_SetItemString(st->TLE_type->tp_dict, "__doc__", Py_None) < 0) return -1;
    PyType_Modified(st->TLE_type);
    return PyModule_AddObjectRef(module, "TLE", type);
}

}  // namespace orbivex::tle
