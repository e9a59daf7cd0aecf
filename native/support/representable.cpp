// Import of the Representable base type, checked against the layout native subclasses assume.
#include "support/representable.hpp"

namespace orbivex::py {

Ref import_representable() {
    Ref module = Ref::steal(PyImport_ImportModule(representable_module));
    if (!module) return {};
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), "Representable"));
    if (!type) return {};
    if (!PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%s.Representable is not a type object",
                     representable_module);
        return {};
    }
    const PyTypeObject* tp = as_type(type);
    if (tp->tp_basicsize != static_cast<Py_ssize_t>(sizeof(RepresentableObject))) {
        PyErr_Format(PyExc_ValueError,
                     "%s.Representable size changed, may indicate binary incompatibility. "
                     "Expected %zd from C header, got %zd from PyObject",
                     representable_module, static_cast<Py_ssize_t>(sizeof(RepresentableObject)),
                     tp->tp_basicsize);
        return {};
    }
    if (tp->tp_dictoffset != static_cast<Py_ssize_t>(offsetof(RepresentableObject, dict))) {
        PyErr_Format(PyExc_TypeError,
                     "%s.Representable keeps its instance dict at offset %zd, not %zd",
                     representable_module, tp->tp_dictoffset,
                     static_cast<Py_ssize_t>(offsetof(RepresentableObject, dict)));
        return {};
    }
    return type;
}

}  // namespace orbivex::py
