// Test-only extension: a native subclass of Representable built the way
// modules/representable/representable.hpp prescribes, and a door to import_representable()'s
// checks.
#include <Python.h>

#include "modules/representable/representable.hpp"

namespace {

using orbivex::py::Ref;
using orbivex::representable::RepresentableObject;

struct ProbeObject {
    RepresentableObject base;
    PyObject* payload;
};

// Bound once per process at exec, like the tle module's base.
PyTypeObject* representable_base = nullptr;

ProbeObject* as_probe(PyObject* self) { return reinterpret_cast<ProbeObject*>(self); }

PyObject* Probe_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
    Ref obj = Ref::steal(representable_base->tp_new(type, args, kwds));
    if (!obj) return nullptr;
    PyObject* first = PyTuple_GET_SIZE(args) > 0 ? PyTuple_GET_ITEM(args, 0) : Py_None;
    as_probe(obj.get())->payload = Py_NewRef(first);
    return obj.release();
}

int Probe_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(as_probe(self)->payload);
    return representable_base->tp_traverse(self, visit, arg);
}

int Probe_clear(PyObject* self) noexcept {
    Py_CLEAR(as_probe(self)->payload);
    return representable_base->tp_clear(self);
}

void Probe_dealloc(PyObject* self) noexcept {
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_probe(self)->payload);
    representable_base->tp_dealloc(self);
}

PyObject* Probe_get_payload(PyObject* self, void*) noexcept {
    return Py_NewRef(as_probe(self)->payload);
}

PyObject* Probe_get_header(PyObject*, PyObject*) noexcept { return PyUnicode_FromString("Probe"); }

PyObject* Probe_get_body(PyObject* self, PyObject*) noexcept {
    return PyUnicode_FromFormat("payload %R\n{fence}", as_probe(self)->payload);
}

PyGetSetDef Probe_getset[] = {
    {"payload", Probe_get_payload, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef Probe_methods[] = {
    {"_get_header", Probe_get_header, METH_NOARGS, nullptr},
    {"_get_body", Probe_get_body, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot Probe_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(Probe_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(Probe_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(Probe_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Probe_dealloc)},
    {Py_tp_getset, Probe_getset},
    {Py_tp_methods, Probe_methods},
    {0, nullptr},
};

PyType_Spec Probe_spec = {
    "representable_probe.Probe",
    sizeof(ProbeObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    Probe_slots,
};

PyObject* import_base(PyObject*, PyObject*) noexcept {
    return orbivex::representable::import_representable().release();
}

PyMethodDef probe_functions[] = {
    {"import_base", import_base, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

int probe_exec(PyObject* module) noexcept {
    Ref base = orbivex::representable::import_representable();
    if (!base) return -1;
    PyObject* type = PyType_FromModuleAndSpec(module, &Probe_spec, base.get());
    if (!type || PyModule_AddObjectRef(module, "Probe", type) < 0) {
        Py_XDECREF(type);
        return -1;
    }
    Py_DECREF(type);
    representable_base = orbivex::representable::as_type(base);
    static_cast<void>(base.release());  // kept for the life of the process
    return 0;
}

PyModuleDef_Slot probe_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(probe_exec)},
    {0, nullptr},
};

PyModuleDef probe_def = {
    PyModuleDef_HEAD_INIT,
    "representable_probe",
    nullptr,
    0,
    probe_functions,
    probe_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_representable_probe() { return PyModuleDef_Init(&probe_def); }
