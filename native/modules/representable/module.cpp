// orbivex.utils.representable: the native Representable base type with an instance __dict__.
#include <Python.h>
#include <structmember.h>

#include <cstddef>
#include <tuple>

#include "modules/representable/text.hpp"
#include "support/module.hpp"

namespace orbivex::representable {

namespace {

// The layout representable.pxd declares (`cdef dict __dict__` after the object head).
static_assert(offsetof(RepresentableObject, dict) == sizeof(PyObject));
static_assert(sizeof(RepresentableObject) == sizeof(PyObject) + sizeof(PyObject*));

struct representable_state {
    PyObject* type;

    static constexpr auto refs() { return std::tuple{py::owned(&representable_state::type)}; }
};

RepresentableObject* as_repr(PyObject* self) {
    return reinterpret_cast<RepresentableObject*>(self);
}

// Allocation and initialisation accept any arguments and ignore them, so that subclasses can
// pass their own constructor arguments through.
PyObject* Representable_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    return type->tp_alloc(type, 0);
}

int Representable_init(PyObject*, PyObject*, PyObject*) noexcept { return 0; }

int Representable_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(as_repr(self)->dict);
    // Instances of heap types own a reference to their type; a static (Cython) subclass's
    // type is not collectable and is not visited.
    if (PyType_HasFeature(Py_TYPE(self), Py_TPFLAGS_HEAPTYPE)) Py_VISIT(Py_TYPE(self));
    return 0;
}

int Representable_clear(PyObject* self) noexcept {
    Py_CLEAR(as_repr(self)->dict);
    return 0;
}

// Also the last step of every subclass's dealloc: only here is the type reference dropped.
void Representable_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_repr(self)->dict);
    type->tp_free(self);
    if (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) Py_DECREF(type);
}

PyMethodDef Representable_methods[] = {
    {"_create_formatted_form", create_formatted_form, METH_O,
     "_create_formatted_form(self, data: dict) -> str\n--\n\n"
     "Aligned 'label : value' lines, one per entry of `data`."},
    {"_create_formatted_frame", create_formatted_frame, METH_O,
     "_create_formatted_frame(self, data: dict) -> str\n--\n\n"
     "A plain-text table: one column per key of `data` (its title over the column), one row\n"
     "per key of the inner dicts; cells right-aligned."},
    {"_format_as_property", format_as_property, METH_O,
     "_format_as_property(self, title: str) -> str\n--\n\n"
     "The title as a property heading, ending in ':'."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef Representable_members[] = {
    {"__dictoffset__", T_PYSSIZET, offsetof(RepresentableObject, dict), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef Representable_getset[] = {
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot representable_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Representable(*args, **kwargs)\n--\n\n"
                    "Base of objects with a titled text form. A subclass defines _get_header()\n"
                    "and _get_body(), both returning str; repr() and str() then show the header,\n"
                    "a rule, and the body with each '{fence}' line replaced by the rule.\n"
                    "Construction accepts and ignores any arguments.")},
    {Py_tp_new, reinterpret_cast<void*>(Representable_new)},
    {Py_tp_init, reinterpret_cast<void*>(Representable_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Representable_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(Representable_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(Representable_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(Representable_repr)},
    {Py_tp_str, reinterpret_cast<void*>(Representable_repr)},
    {Py_tp_methods, Representable_methods},
    {Py_tp_members, Representable_members},
    {Py_tp_getset, Representable_getset},
    {0, nullptr},
};

PyType_Spec representable_spec = {
    "orbivex.utils.representable.Representable",
    sizeof(RepresentableObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
    representable_slots,
};

struct representable_module {
    static constexpr const char name[] = "representable";
    static constexpr const char doc[] =
        "Representable: the base of orbivex objects with a titled plain-text form.";
    using State = representable_state;

    static int exec(PyObject* module, representable_state& st) noexcept {
        PyObject* type = PyType_FromModuleAndSpec(module, &representable_spec, nullptr);
        if (!type) return -1;
        st.type = type;
        return PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type));
    }
};

}  // namespace

}  // namespace orbivex::representable

PyMODINIT_FUNC PyInit_representable() {
    return orbivex::py::Module<orbivex::representable::representable_module>::init();
}
