// orbivex.time.ctime: the native Time class (re-exported by orbivex.time.time) and its UTC view.
#define ORBIVEX_NUMPY_IMPORT
#include <Python.h>

#include "modules/ctime/ctime.hpp"

namespace orbivex::ctime {

namespace {

int add_type(PyObject* module, PyType_Spec* spec, PyTypeObject*& slot) {
    PyObject* type = PyType_FromModuleAndSpec(module, spec, nullptr);
    if (!type) return -1;
    slot = reinterpret_cast<PyTypeObject*>(type);
    return PyModule_AddType(module, slot);
}

}  // namespace

int ctime_module::exec(PyObject* module, ctime_state& st) noexcept {
    if (py::import_numpy() < 0 || import_datetime() < 0) return -1;
    py::Ref dtype_text = py::Ref::steal(PyUnicode_FromString("M8[ns]"));
    if (!dtype_text || !PyArray_DescrConverter(dtype_text.get(), &st.ns_descr)) return -1;
    if (add_type(module, &time_spec, st.time_type) < 0 ||
        add_type(module, &utc_spec, st.utc_type) < 0)
        return -1;
    // Calls of the exact type skip the argument tuple and dict (not inherited by subclasses).
    st.time_type->tp_vectorcall = Time_vectorcall;
    return 0;
}

}  // namespace orbivex::ctime

PyMODINIT_FUNC PyInit_ctime() { return orbivex::py::Module<orbivex::ctime::ctime_module>::init(); }
