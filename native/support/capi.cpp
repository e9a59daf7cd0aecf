// Export and import of native tables through `__pyx_capi__`.
#include "support/capi.hpp"

#include <cstring>

#include "support/ref.hpp"

namespace orbivex::py {

int export_capi(PyObject* module, std::span<const CapiEntry> entries) {
    Ref dict = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!dict) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        dict = Ref::steal(PyDict_New());
        if (!dict || PyObject_SetAttrString(module, "__pyx_capi__", dict.get()) < 0) return -1;
    }
    for (const CapiEntry& e : entries) {
        Ref capsule = Ref::steal(PyCapsule_New(e.pointer, e.signature, nullptr));
        if (!capsule || PyDict_SetItemString(dict.get(), e.name, capsule.get()) < 0) return -1;
    }
    return 0;
}

int import_capi(PyObject* module, const char* name, const char* signature, bool is_function,
                void** out) {
    const char* what = is_function ? "function" : "variable";
    const char* modname = PyModule_Check(module) ? PyModule_GetName(module) : nullptr;
    if (!modname) {
        PyErr_Clear();
        modname = Py_TYPE(module)->tp_name;
    }
    Ref dict = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    PyObject* capsule = nullptr;  // borrowed from dict
    if (dict) {
        if (!PyDict_Check(dict.get())) {
            PyErr_Format(PyExc_TypeError, "%.200s.__pyx_capi__ is not a dict", modname);
            return -1;
        }
        capsule = PyDict_GetItemString(dict.get(), name);
    } else if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
        return -1;
    }
    if (!capsule) {
        PyErr_Clear();
        PyErr_Format(PyExc_ImportError, "%.200s does not export expected C %.8s %.200s", modname,
                     what, name);
        return -1;
    }
    const char* found = PyCapsule_CheckExact(capsule) ? PyCapsule_GetName(capsule) : nullptr;
    if (!found || std::strcmp(found, signature) != 0) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError,
                     "C %.8s %.200s.%.200s has wrong signature (expected %.500s, got %.500s)", what,
                     modname, name, signature, found ? found : "(none)");
        return -1;
    }
    void* p = PyCapsule_GetPointer(capsule, signature);
    if (!p) return -1;
    *out = p;
    return 0;
}

}  // namespace orbivex::py
