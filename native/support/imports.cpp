// Binding names of sibling modules at import.
#include "support/imports.hpp"

namespace orbivex::py {

Ref import_name(PyObject* module, const char* modname, const char* name, MissingName missing,
                bool must_be_class) {
    Ref obj = Ref::steal(PyObject_GetAttrString(module, name));
    if (!obj) {
        if (missing == MissingName::ImportError && PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, modname);
        }
        return {};
    }
    if (must_be_class && !PyType_Check(obj.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", modname, name);
        return {};
    }
    return obj;
}

}  // namespace orbivex::py
