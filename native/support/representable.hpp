// Layout of orbivex.utils.representable.Representable and the import that native subclasses use.
#pragma once
#include <Python.h>

#include <cstddef>

#include "support/ref.hpp"

namespace orbivex::py {

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
inline constexpr const char representable_module[] = "orbivex.utils.representable";

/// Imports `orbivex.utils.representable` and returns its `Representable` as a new reference,
/// after checking what a Cython consumer checks: TypeError "... is not a type object" when it
/// is not a class, ValueError "... size changed, may indicate binary incompatibility. Expected
/// N from C header, got M from PyObject" when tp_basicsize is not sizeof(RepresentableObject),
/// and TypeError when its tp_dictoffset is not the offset of `dict`. Import and attribute
/// errors propagate. NULL with the error set on failure.
Ref import_representable();

/// The `Representable` returned by import_representable(), as a type pointer.
inline PyTypeObject* as_type(const Ref& type) {
    return reinterpret_cast<PyTypeObject*>(type.get());
}

}  // namespace orbivex::py
