// Layout of orbivex.utils.representable.Representable and the import that native subclasses
// (TLE and ELSET) use: what a module that derives from the type includes.
#pragma once
#include <Python.h>

#include <cstddef>

#include "support/ref.hpp"

namespace orbivex::representable {

/// Instance layout of `Representable`, the one that `cdef class Representable: cdef dict __dict__`
/// in representable.pxd describes: the object head and the instance dict (tp_dictoffset points
/// at `dict`; no managed dict, no weak-reference slot). A native subclass puts this struct
/// first in its own.
///
/// Protocol for a native subclass (a heap type made with this type as its base):
/// - tp_new: call `base->tp_new(type, args, kwds)` with the same arguments first (it accepts
///   and ignores them, and allocates through `type->tp_alloc`), then fill the own fields.
///   Define no tp_init: the base's, which ignores its arguments, runs afterwards.
/// - tp_traverse: visit the own fields, then return `base->tp_traverse(self, visit, arg)`,
///   which visits `dict` and, for a heap type, the type itself.
/// - tp_clear: clear the own fields, then return `base->tp_clear(self)`.
/// - tp_dealloc: `PyObject_GC_UnTrack(self)`, clear the own fields, then call
///   `base->tp_dealloc(self)`, which clears `dict`, frees the memory and drops the reference
///   to `Py_TYPE(self)` when that is a heap type. Do not drop the type reference yourself.
struct RepresentableObject {
    PyObject_HEAD
    PyObject* dict;
};

/// Import path of the module that defines the type.
inline constexpr const char module_path[] = "orbivex.utils.representable";

/// The `Representable` returned by import_representable(), as a type pointer.
inline PyTypeObject* as_type(const py::Ref& type) {
    return reinterpret_cast<PyTypeObject*>(type.get());
}

/// Imports `orbivex.utils.representable` and returns its `Representable` as a new reference,
/// after checking what a Cython consumer checks: TypeError "... is not a type object" when it
/// is not a class, ValueError "... size changed, may indicate binary incompatibility. Expected
/// N from C header, got M from PyObject" when tp_basicsize is not sizeof(RepresentableObject),
/// and TypeError when its tp_dictoffset is not the offset of `dict`. Import and attribute
/// errors propagate. Empty with the error set on failure.
inline py::Ref import_representable() {
    using py::Ref;
    Ref module = Ref::steal(PyImport_ImportModule(module_path));
    if (!module) return {};
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), "Representable"));
    if (!type) return {};
    if (!PyType_Check(type.get())) {
        PyErr_Format(PyExc_TypeError, "%s.Representable is not a type object", module_path);
        return {};
    }
    const PyTypeObject* tp = as_type(type);
    if (tp->tp_basicsize != static_cast<Py_ssize_t>(sizeof(RepresentableObject))) {
        PyErr_Format(PyExc_ValueError,
                     "%s.Representable size changed, may indicate binary incompatibility. "
                     "Expected %zd from C header, got %zd from PyObject",
                     module_path, static_cast<Py_ssize_t>(sizeof(RepresentableObject)),
                     tp->tp_basicsize);
        return {};
    }
    if (tp->tp_dictoffset != static_cast<Py_ssize_t>(offsetof(RepresentableObject, dict))) {
        PyErr_Format(PyExc_TypeError,
                     "%s.Representable keeps its instance dict at offset %zd, not %zd", module_path,
                     tp->tp_dictoffset,
                     static_cast<Py_ssize_t>(offsetof(RepresentableObject, dict)));
        return {};
    }
    return type;
}

}  // namespace orbivex::representable
