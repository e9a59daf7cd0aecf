// orbivex.propagators.analytical.sgp4.tle: the module and its initialisation.
#include <Python.h>

#define ORBIVEX_NUMPY_IMPORT
#include "support/numpy.hpp"

#include "support/module.hpp"
#include "support/ref.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Ref;

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

}  // namespace

int tle_module::exec(PyObject* module, tle_state& st) noexcept {
    if (py::import_numpy() < 0) return -1;
    // NumPy is also a module-level name, as for the package's other modules.
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy || PyModule_AddObjectRef(module, "numpy", numpy.get()) < 0) return -1;
    const int debug = py::debug_enabled();
    if (debug < 0) return -1;
    st.debug = debug != 0;
    st.jd_kwnames = Py_BuildValue("(s)", "format");
    st.key_kwnames = Py_BuildValue("(s)", "key");
    if (!st.jd_kwnames || !st.key_kwnames) return -1;
    if (bind_siblings(module, &st) < 0) return -1;
    if (add_tle_type(module, &st) < 0) return -1;
    if (add_tle_methods(module, &st) < 0) return -1;
    if (add_elset_type(module, &st) < 0) return -1;
    st.epoch_key = PyCFunction_NewEx(&epoch_key_def, module, nullptr);
    return st.epoch_key ? 0 : -1;
}

}  // namespace orbivex::tle

PyMODINIT_FUNC PyInit_tle() { return orbivex::py::Module<orbivex::tle::tle_module>::init(); }
