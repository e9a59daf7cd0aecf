// orbivex.time.ctime: the native Time class (re-exported by orbivex.time.time) and its UTC view.
#define ORBIVEX_NUMPY_IMPORT
#include <Python.h>

#include "modules/ctime/ctime.hpp"
#include "support/module.hpp"

namespace orbivex::ctime {

namespace {

ctime_state* state(PyObject* module) { return static_cast<ctime_state*>(PyModule_GetState(module)); }

ORBIVEX_MODULE_CREATE(ctime)

int add_type(PyObject* module, PyType_Spec* spec, PyTypeObject*& slot) {
    PyObject* type = PyType_FromModuleAndSpec(module, spec, nullptr);
    if (!type) return -1;
    slot = reinterpret_cast<PyTypeObject*>(type);
    return PyModule_AddType(module, slot);
}

int ctime_exec(PyObject* module) noexcept {
    if (py::import_numpy() < 0 || import_datetime() < 0) return -1;
    ctime_state* st = state(module);
    py::Ref dtype_text = py::Ref::steal(PyUnicode_FromString("M8[ns]"));
    if (!dtype_text || !PyArray_DescrConverter(dtype_text.get(), &st->ns_descr)) return -1;
    if (add_type(module, &time_spec, st->time_type) < 0 ||
        add_type(module, &utc_spec, st->utc_type) < 0)
        return -1;
    // Calls of the exact type skip the argument tuple and dict (not inherited by subclasses).
    st->time_type->tp_vectorcall = Time_vectorcall;
    ctime_initialised = true;
    return 0;
}

int ctime_traverse(PyObject* module, visitproc visit, void* arg) noexcept {
    ctime_state* st = state(module);
    Py_VISIT(st->time_type);
    Py_VISIT(st->utc_type);
    Py_VISIT(reinterpret_cast<PyObject*>(st->ns_descr));
    return 0;
}

int ctime_clear(PyObject* module) noexcept {
    ctime_state* st = state(module);
    Py_CLEAR(st->time_type);
    Py_CLEAR(st->utc_type);
    Py_CLEAR(st->ns_descr);
    return 0;
}

void ctime_free(void* module) noexcept { ctime_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot ctime_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(ctime_create)},
    {Py_mod_exec, reinterpret_cast<void*>(ctime_exec)},
    {0, nullptr},
};

}  // namespace

PyModuleDef ctime_def = {
    PyModuleDef_HEAD_INIT,
    "ctime",
    "Native Time: instants as int64 nanoseconds since 1970-01-01T00:00:00 UTC.",
    sizeof(ctime_state),
    nullptr,
    ctime_slots,
    ctime_traverse,
    ctime_clear,
    ctime_free,
};

}  // namespace orbivex::ctime

PyMODINIT_FUNC PyInit_ctime() { return PyModuleDef_Init(&orbivex::ctime::ctime_def); }
