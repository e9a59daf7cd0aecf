// The ELSET type: the element sets of one satellite as arrays in epoch order.
#include <Python.h>

#include <array>
#include <climits>
#include <cstring>

#include "kernels/tle_format.hpp"
#include "support/args.hpp"
#include "support/function.hpp"
#include "support/module.hpp"
#include "support/numpy.hpp"
#include "support/ref.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Ref;

ELSETObject* as_elset(PyObject* self) { return reinterpret_cast<ELSETObject*>(self); }

/// Every object field, for initialisation, traversal and clearing.
template <class F>
void for_each_field(ELSETObject* self, F&& f) {
    f(self->epoch);
    f(self->elements);
    for (PyObject*& array : self->arrays) f(array);
}

/// An exact int from `value` by the rules of a Cython integer field: an int as it is, otherwise
/// its __int__ (a float truncates as int() does); none is "an integer is required".
Ref integer_of(PyObject* value) {
    if (PyLong_Check(value)) return Ref::borrow(value);
    PyNumberMethods* nb = Py_TYPE(value)->tp_as_number;
    if (!nb || !nb->nb_int) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return {};
    }
    Ref number = Ref::steal(nb->nb_int(value));
    if (!number || PyLong_CheckExact(number.get())) return number;
    if (PyLong_Check(number.get())) {
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  The ability to return an "
                             "instance of a strict subclass of int is deprecated, and may be "
                             "removed in a future version of Python.",
                             Py_TYPE(number.get())->tp_name) < 0)
            return {};
        return number;
    }
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                 Py_TYPE(number.get())->tp_name);
    return {};
}

/// A C int from the satellite number (integer_of); out of range is an OverflowError.
int to_int32(PyObject* value, int* out) {
    Ref number = integer_of(value);
    if (!number) return -1;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return -1;
    if (overflow != 0 || v < INT_MIN || v > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return -1;
    }
    *out = static_cast<int>(v);
    return 0;
}

/// True with the number in `out` when `value` is a str of Alpha-5 form (a letter other than I
/// and O, then four digits, as TLE.satno gives it for satellites above 99999: A0000 = 100000
/// ... Z9999 = 339999); false for anything else, which is then converted as an integer.
bool alpha5_value(PyObject* value, int* out) {
    if (!PyUnicode_Check(value) || PyUnicode_GET_LENGTH(value) != 5) return false;
    Py_UCS4 c[5];
    for (Py_ssize_t i = 0; i < 5; ++i) c[i] = PyUnicode_READ_CHAR(value, i);
    const int letter = c[0] < 128 ? kern::tle::alpha5_letter_value(static_cast<char>(c[0])) : -1;
    if (letter < 0) return false;
    int v = letter;
    for (int i = 1; i < 5; ++i) {
        if (c[i] < '0' || c[i] > '9') return false;
        v = v * 10 + static_cast<int>(c[i] - '0');
    }
    *out = v;
    return true;
}

constexpr const char* satname_param = cat::elset_init_names[0];

// Keyword arguments: only `satname`, exactly a str or None. Every keyword is bound before the
// type is tested, so an unknown keyword is reported first. Writes a new reference.
int bind_satname(PyObject* kwds, Ref* satname) {
    *satname = Ref::borrow(Py_None);
    if (!kwds) return 0;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwds, &pos, &key, &value)) {
        if (!PyUnicode_Check(key) || PyUnicode_CompareWithASCIIString(key, satname_param) != 0) {
            py::raise_unexpected_keyword("__cinit__", key);
            return -1;
        }
        *satname = Ref::borrow(value);
    }
    if (satname->get() != Py_None && !PyUnicode_CheckExact(satname->get())) {
        py::raise_arg_type(satname_param, "str", satname->get());
        return -1;
    }
    return 0;
}

// The one satellite number all element sets share (checked only with assertions on).
int shared_satno(PyObject* items, tle_state* st, int* out) {
    Ref satnos = Ref::steal(PySet_New(nullptr));
    if (!satnos) return -1;
    const Py_ssize_t n = PyTuple_GET_SIZE(items);
    const char* previous = nullptr;  // catalogue-number field of the last exact TLE added
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* item = PyTuple_GET_ITEM(items, k);
        const bool exact = Py_TYPE(item) == st->TLE_type;
        if (exact) {
            // An exact TLE's satno is a function of this field alone: the same field again
            // would add an equal member, which leaves the set as it is.
            const char* field = reinterpret_cast<TLEObject*>(item)->_satno;
            if (previous && std::strncmp(previous, field, kern::tle_satno_size) == 0) continue;
            previous = field;
        }
        Ref satno = Ref::steal(exact ? tle_satno(item) : PyObject_GetAttr(item, st->s_satno));
        if (!satno || PySet_Add(satnos.get(), satno.get()) < 0) return -1;
    }
    if (st->debug && PySet_GET_SIZE(satnos.get()) != 1) {
        py::raise_assertion();
        return -1;
    }
    Ref member = Ref::steal(PySet_Pop(satnos.get()));  // KeyError when there is none
    if (!member) return -1;
    if (alpha5_value(member.get(), out)) return 0;
    return to_int32(member.get(), out);
}

int construct(ELSETObject* self, tle_state* st, PyObject* args, PyObject* kwds) {
    Ref satname;
    if (bind_satname(kwds, &satname) < 0) return -1;

    // Sorted by epoch: list.sort with a key reads each key once, is stable and uses only `<`.
    Ref elements = Ref::steal(PySequence_List(args));
    if (!elements) return -1;
    PyObject* sort_args[] = {elements.get(), st->epoch_key};
    Ref sorted = Ref::steal(PyObject_VectorcallMethod(st->s_sort, sort_args, 1, st->key_kwnames));
    if (!sorted) return -1;
    // The loops below run Python code (satno, epoch, int64 of subclasses) that can reach and
    // change the list: they read a snapshot that holds every element.
    Ref items = Ref::steal(PyList_AsTuple(elements.get()));
    if (!items) return -1;
    Py_SETREF(self->elements, elements.release());

    if (PyObject_SetAttr(reinterpret_cast<PyObject*>(self), st->s__satname, satname.get()) < 0)
        return -1;
    if (shared_satno(items.get(), st, &self->_satno) < 0) return -1;

    // Arrays of their final length, filled straight from the stored doubles.
    npy_intp n = PyTuple_GET_SIZE(items.get());
    Ref epochs = Ref::steal(PyArray_ZEROS(1, &n, NPY_INT64, 0));
    if (!epochs) return -1;
    std::array<double*, cat::n_elements> columns{};
    for (size_t j = 0; j < cat::n_elements; ++j) {
        PyObject* arr = PyArray_ZEROS(1, &n, NPY_FLOAT64, 0);
        if (!arr) return -1;
        Py_SETREF(self->arrays[j], arr);
        columns[j] = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)));
    }
    auto* epoch_data =
        static_cast<npy_int64*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(epochs.get())));
    for (npy_intp k = 0; k < n; ++k) {
        PyObject* item = PyTuple_GET_ITEM(items.get(), k);
        if (!PyObject_TypeCheck(item, st->TLE_type)) {
            PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(item)->tp_name,
                         st->TLE_type->tp_name);
            return -1;
        }
        Ref epoch = Py_TYPE(item) == st->TLE_type
                        ? Ref::borrow(reinterpret_cast<TLEObject*>(item)->epoch)
                        : Ref::steal(PyObject_GetAttr(item, st->s_epoch));
        if (!epoch) return -1;
        Ref ns = Ref::steal(PyObject_GetAttr(epoch.get(), st->s_int64));
        if (!ns) return -1;
        Ref integer = integer_of(ns.get());
        if (!integer) return -1;
        const long long v = PyLong_AsLongLong(integer.get());
        if (v == -1 && PyErr_Occurred()) return -1;
        epoch_data[k] = v;
        const auto* tle = reinterpret_cast<const TLEObject*>(item);
        for (size_t j = 0; j < cat::n_elements; ++j) columns[j][k] = tle->*array_sources[j];
    }
    PyObject* epoch = PyObject_CallOneArg(st->Time, epochs.get());
    if (!epoch) return -1;
    Py_SETREF(self->epoch, epoch);
    return 0;
}

// All work happens here, after the base allocation with the same arguments.
PyObject* ELSET_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
    tle_state* st = state_of(type);
    if (!st) return nullptr;
    Ref obj = Ref::steal(representable_base->tp_new(type, args, kwds));
    if (!obj) return nullptr;
    ELSETObject* self = as_elset(obj.get());
    for_each_field(self, [](PyObject*& f) { f = Py_NewRef(Py_None); });
    if (construct(self, st, args, kwds) < 0) return nullptr;
    return obj.release();
}

int ELSET_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    int err = 0;
    for_each_field(as_elset(self), [&](PyObject* f) {
        if (!err && f) err = visit(f, arg);
    });
    if (err) return err;
    traverseproc base = representable_base->tp_traverse;
    return base ? base(self, visit, arg) : 0;
}

int ELSET_clear(PyObject* self) noexcept {
    for_each_field(as_elset(self), [](PyObject*& f) { Py_XSETREF(f, Py_NewRef(Py_None)); });
    inquiry base = representable_base->tp_clear;
    return base ? base(self) : 0;
}

void ELSET_dealloc(PyObject* self) noexcept {
    PyObject_GC_UnTrack(self);
    for_each_field(as_elset(self), [](PyObject*& f) { Py_CLEAR(f); });
    representable_base->tp_dealloc(self);
}

// ---- properties ---------------------------------------------------------------------------

PyObject* ELSET_get_size(PyObject* self, void*) noexcept {
    PyObject* elements = as_elset(self)->elements;
    return PyLong_FromSsize_t(elements && PyList_Check(elements) ? PyList_GET_SIZE(elements) : 0);
}

PyObject* ELSET_get_satname(PyObject* self, void*) noexcept {
    return PyObject_GetAttrString(self, "_satname");
}

PyObject* ELSET_get_satno(PyObject* self, void*) noexcept {
    return PyLong_FromLong(as_elset(self)->_satno);
}

PyObject* ELSET_get_epoch(PyObject* self, void*) noexcept {
    PyObject* epoch = as_elset(self)->epoch;
    return Py_NewRef(epoch ? epoch : Py_None);
}

// A new view of the stored array on every read: writes through it reach the stored array.
// The closure is the element's catalogue row.
PyObject* ELSET_get_array(PyObject* self, void* closure) noexcept {
    PyObject* stored = as_elset(self)->arrays[static_cast<const cat::Element*>(closure)->place];
    if (!stored || !PyArray_Check(stored)) return Py_NewRef(stored ? stored : Py_None);
    return PyArray_View(reinterpret_cast<PyArrayObject*>(stored), nullptr, nullptr);
}

constinit auto ELSET_getset =
    getset_table(cat::elset_properties, ORBIVEX_OWN_GETTERS(ORBIVEX_ELSET_PROPERTIES),
                 ELSET_get_array, cat::elements);

// ---- methods ------------------------------------------------------------------------------

/// format(self.<name>, ""): read through the property, so a subclass may override it.
Ref formatted_attr(PyObject* self, PyObject* name, tle_state* st) {
    Ref value = Ref::steal(PyObject_GetAttr(self, name));
    if (!value) return {};
    return Ref::steal(PyObject_Format(value.get(), st->s_empty));
}

PyObject* ELSET__get_header(PyObject* module, PyObject* const* argv) {
    if (!checked_self<ELSETObject>(module, argv[0], "_get_header")) return nullptr;
    tle_state* st = module_state(module);
    Ref name = formatted_attr(argv[0], st->s_satname, st);
    if (!name) return nullptr;
    Ref number = formatted_attr(argv[0], st->s_satno, st);
    if (!number) return nullptr;
    return PyUnicode_FromFormat("ELSET %U (%U)", name.get(), number.get());
}

// The count of the private element list, not the `size` property.
PyObject* ELSET__get_body(PyObject* module, PyObject* const* argv) {
    ELSETObject* self = checked_self<ELSETObject>(module, argv[0], "_get_body");
    if (!self) return nullptr;
    const Py_ssize_t n = PyObject_Size(self->elements);
    if (n < 0) return nullptr;
    return PyUnicode_FromFormat("%zd elements", n);
}

PyObject* ELSET___reduce__(PyObject*, PyObject* const*) { return refuse_reduce(); }
PyObject* ELSET___setstate__(PyObject*, PyObject* const*) { return refuse_reduce(); }

constexpr auto ELSET_methods =
    method_specs(cat::elset_method_texts, {
#define ORBIVEX_IMPL(name, ...) ELSET_##name,
                                              ORBIVEX_TLE_METHODS(ORBIVEX_IMPL)
#undef ORBIVEX_IMPL
                                          });

PyType_Slot ELSET_slots[] = {
    {Py_tp_doc, const_cast<char*>(cat::elset_doc.c_str())},
    {Py_tp_new, reinterpret_cast<void*>(ELSET_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(ELSET_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(ELSET_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(ELSET_clear)},
    {Py_tp_getset, ELSET_getset.data()},
    {0, nullptr},
};

PyType_Spec ELSET_spec = {
    "orbivex.propagators.analytical.sgp4.tle.ELSET",
    static_cast<int>(sizeof(ELSETObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    ELSET_slots,
};

}  // namespace

int add_elset_type(PyObject* module, tle_state* st) noexcept {
    PyObject* type = PyType_FromModuleAndSpec(module, &ELSET_spec,
                                              reinterpret_cast<PyObject*>(st->Representable));
    if (!type) return -1;
    st->ELSET_type = reinterpret_cast<PyTypeObject*>(type);
    for (const py::FunctionSpec& spec : ELSET_methods) {
        if (py::add_function(st->ELSET_type->tp_dict, &spec, module, nullptr) < 0) return -1;
    }
    PyType_Modified(st->ELSET_type);
    return PyModule_AddObjectRef(module, "ELSET", type);
}

}  // namespace orbivex::tle
