// Module creation guard, version warning, the assertion switch and the state lookup by type.
#include "support/module.hpp"

#include "support/ref.hpp"

namespace orbivex::py {

PyObject* create_module(PyObject* spec, const char* short_name, bool initialised) {
    const unsigned long runtime_minor = (Py_Version >> 16) & 0xFF;
    if (runtime_minor != PY_MINOR_VERSION) {
        if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                             "compile time Python version %d.%d of module '%.100s' does not "
                             "match runtime version %d.%d",
                             PY_MAJOR_VERSION, PY_MINOR_VERSION, short_name,
                             static_cast<int>((Py_Version >> 24) & 0xFF),
                             static_cast<int>(runtime_minor)) < 0)
            return nullptr;
    }
    if (initialised) {
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     short_name);
        return nullptr;
    }
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    return PyModule_NewObject(name.get());
}

int debug_enabled() {
    PyObject* builtins = PyEval_GetBuiltins();  // borrowed
    PyObject* flag = builtins ? PyDict_GetItemString(builtins, "__debug__") : nullptr;
    if (!flag) return 1;  // no builtins to ask: assertions stay on, as in a plain interpreter
    return PyObject_IsTrue(flag);
}

void raise_assertion() { PyErr_SetNone(PyExc_AssertionError); }

PyObject* module_along_mro(PyTypeObject* type, const PyModuleDef* def) noexcept {
    PyObject* mro = type->tp_mro;
    const Py_ssize_t n = mro ? PyTuple_GET_SIZE(mro) : 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        auto* t = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
        if (!PyType_HasFeature(t, Py_TPFLAGS_HEAPTYPE)) continue;
        // Read directly: PyType_GetModule raises for a heap type made without a module.
        PyObject* module = reinterpret_cast<PyHeapTypeObject*>(t)->ht_module;  // borrowed
        if (module && PyModule_Check(module) && PyModule_GetDef(module) == def) return module;
    }
    PyErr_Format(PyExc_TypeError, "'%.200s' does not derive from a type of module %s",
                 type->tp_name, def->m_name);
    return nullptr;
}

}  // namespace orbivex::py
