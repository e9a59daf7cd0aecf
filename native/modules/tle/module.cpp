// orbivex.propagators.analytical.sgp4.tle: the module, its state and its initialisation.
#include <Python.h>

#define ORBIVEX_NUMPY_IMPORT
#include "support/numpy.hpp"

#include "support/module.hpp"
#include "support/ref.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Ref;

// Every owned reference of the state, for traverse and clear.
template <class F>
void for_each_ref(tle_state* st, F&& f) {
    PyObject** refs[] = {
        reinterpret_cast<PyObject**>(&st->TLE_type),
        reinterpret_cast<PyObject**>(&st->ELSET_type),
        reinterpret_cast<PyObject**>(&st->Representable),
        &st->Time, &st->Earth, &st->TEME, &st->epoch_key, &st->bound, &st->jd_kwnames,
        &st->key_kwnames,
        &st->str_jd_format, &st->s_strip, &st->s_upper, &st->s_jd, &st->s_GM, &st->s_Re,
        &st->s_epoch, &st->s_satno, &st->s_int64, &st->s_utc, &st->s_repr, &st->s_name,
        &st->s_line1, &st->s_line2, &st->s_satname, &st->s__satname, &st->s_vtable, &st->s_empty,
        &st->s_sort,
        &st->s_form, &st->s_frame, &st->s_prop,
    };
    for (PyObject** r : refs) f(r);
}

int intern_names(tle_state* st) {
    struct Name {
        PyObject** slot;
        const char* text;
    };
    const Name names[] = {
        {&st->str_jd_format, "jd"},     {&st->s_strip, "strip"},
        {&st->s_upper, "upper"},        {&st->s_jd, "jd"},
        {&st->s_GM, "GM"},              {&st->s_Re, "Re"},
        {&st->s_epoch, "epoch"},        {&st->s_satno, "satno"},
        {&st->s_int64, "int64"},        {&st->s_utc, "utc"},
        {&st->s_repr, "__repr__"},      {&st->s_name, "name"},
        {&st->s_line1, "line1"},        {&st->s_line2, "line2"},
        {&st->s_satname, "satname"},    {&st->s__satname, "_satname"},
        {&st->s_vtable, "__pyx_vtable__"}, {&st->s_empty, ""},
        {&st->s_sort, "sort"},
        {&st->s_form, "_create_formatted_form"}, {&st->s_frame, "_create_formatted_frame"},
        {&st->s_prop, "_format_as_property"},
    };
    for (const Name& n : names) {
        *n.slot = PyUnicode_InternFromString(n.text);
        if (!*n.slot) return -1;
    }
    st->jd_kwnames = Py_BuildValue("(s)", "format");
    st->key_kwnames = Py_BuildValue("(s)", "key");
    if (!st->jd_kwnames || !st->key_kwnames) return -1;
    return 0;
}

// Sort key of ELSET: element.epoch. An exact TLE's property returns its field, so the field is
// read directly; anything else goes through attribute access.
PyObject* epoch_of(PyObject* module, PyObject* element) noexcept {
    tle_state* st = module_state(module);
    if (!st) return nullptr;
    if (Py_TYPE(element) == st->TLE_type)
        return Py_NewRef(reinterpret_cast<TLEObject*>(element)->epoch);
    return PyObject_GetAttr(element, st->s_epoch);
}

PyMethodDef epoch_key_def = {"_epoch_key", epoch_of, METH_O, nullptr};

ORBIVEX_MODULE_CREATE(tle)

int tle_exec(PyObject* module) noexcept {
    tle_state* st = module_state(module);
    if (!st) return -1;
    if (py::import_numpy() < 0) return -1;
    // NumPy is also a module-level name, as for the package's other modules.
    py::Ref numpy = py::Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy || PyModule_AddObjectRef(module, "numpy", numpy.get()) < 0) return -1;
    const int debug = py::debug_enabled();
    if (debug < 0) return -1;
    st->debug = debug != 0;
    if (intern_names(st) < 0) return -1;
    if (bind_siblings(module, st) < 0) return -1;
    if (add_tle_type(module, st) < 0) return -1;
    if (add_tle_methods(module, st) < 0) return -1;
    if (add_elset_type(module, st) < 0) return -1;
    st->epoch_key = PyCFunction_NewEx(&epoch_key_def, module, nullptr);
    if (!st->epoch_key) return -1;
    tle_initialised = true;
    return 0;
}

int tle_traverse(PyObject* module, visitproc visit, void* arg) {
    auto* st = static_cast<tle_state*>(PyModule_GetState(module));
    if (!st) return 0;
    int err = 0;
    for_each_ref(st, [&](PyObject** r) {
        if (!err && *r) err = visit(*r, arg);
    });
    return err;
}

int tle_clear(PyObject* module) {
    auto* st = static_cast<tle_state*>(PyModule_GetState(module));
    if (st) for_each_ref(st, [](PyObject** r) { Py_CLEAR(*r); });
    return 0;
}

void tle_free(void* module) { tle_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot tle_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(tle_create)},
    {Py_mod_exec, reinterpret_cast<void*>(tle_exec)},
    {0, nullptr},
};

PyModuleDef tle_def = {
    PyModuleDef_HEAD_INIT,
    "tle",
    "Two-line element sets: TLE (one element set) and ELSET (the element sets of one "
    "satellite, as arrays in epoch order).",
    sizeof(tle_state),
    nullptr,
    tle_slots,
    tle_traverse,
    tle_clear,
    tle_free,
};

}  // namespace

tle_state* module_state(PyObject* module) noexcept {
    auto* st = static_cast<tle_state*>(PyModule_GetState(module));
    if (!st && !PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "tle: no module state");
    return st;
}

// The first heap type along the MRO whose module is ours. PyType_GetModuleByDef cannot serve:
// since 3.13 it refuses a static type, and Cython builds its subclasses as static types.
tle_state* state_of(PyTypeObject* type) noexcept {
    PyObject* mro = type->tp_mro;
    const Py_ssize_t n = mro ? PyTuple_GET_SIZE(mro) : 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        auto* t = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
        if (!PyType_HasFeature(t, Py_TPFLAGS_HEAPTYPE)) continue;
        // Read directly: PyType_GetModule raises for a heap type made without a module.
        PyObject* module = reinterpret_cast<PyHeapTypeObject*>(t)->ht_module;  // borrowed
        if (module && PyModule_Check(module) && PyModule_GetDef(module) == &tle_def)
            return module_state(module);
    }
    PyErr_Format(PyExc_TypeError, "'%.200s' does not derive from a type of module tle",
                 type->tp_name);
    return nullptr;
}

}  // namespace orbivex::tle

PyMODINIT_FUNC PyInit_tle() { return PyModuleDef_Init(&orbivex::tle::tle_def); }
