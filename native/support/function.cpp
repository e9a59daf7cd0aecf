// The orbivex function type.
#include "support/function.hpp"

#include <algorithm>
#include <cstddef>

#include "support/ref.hpp"

namespace orbivex::py {
namespace {

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionSpec* spec;
    PyObject* owner;        // module passed to the body
    PyObject* defaults;     // tuple or NULL
    PyObject* module_name;  // __module__
    PyObject* annotations;  // built on first read, then the caller's to change
    PyObject* dict;
};

// Fills unbound trailing parameters from `defaults` (tuple or NULL); a required one missing is
// an error.
int fill_defaults(const FunctionSpec* spec, PyObject* defaults, Py_ssize_t nargs, PyObject** argv) {
    const Params& p = spec->params;
    const auto n = static_cast<Py_ssize_t>(p.names.size());
    const Py_ssize_t ndef = defaults ? PyTuple_GET_SIZE(defaults) : 0;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (argv[i]) continue;
        const Py_ssize_t d = i - (p.npositional - ndef);
        if (i < p.npositional && d >= 0 && d < ndef) {
            argv[i] = PyTuple_GET_ITEM(defaults, d);
        } else {
            // With fewer defaults than declared, more parameters are required.
            const Py_ssize_t required = std::max(p.nrequired, p.npositional - ndef);
            raise_params_count(spec->name, p, required, nargs);
            return -1;
        }
    }
    return 0;
}

PyObject* Function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
    auto* f = reinterpret_cast<Function*>(self);
    const FunctionSpec* spec = f->spec;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject* argv[max_function_params];
    const auto n = static_cast<Py_ssize_t>(spec->params.names.size());
    if (!kwnames && nargs >= spec->params.nrequired && nargs <= spec->params.npositional) {
        for (Py_ssize_t i = 0; i < nargs; ++i) argv[i] = args[i];
        for (Py_ssize_t i = nargs; i < n; ++i) argv[i] = nullptr;
    } else if (bind_vectorcall(spec->name, spec->params, args, nargs, kwnames, argv) < 0) {
        return nullptr;
    }
    if (nargs >= n) return spec->impl(f->owner, argv);
    // The body may run Python code that replaces __defaults__ (a __float__, another thread):
    // the tuple in force when the call starts stays alive, and with it every default taken.
    const Ref defaults = Ref::borrow(f->defaults);
    if (fill_defaults(spec, defaults.get(), nargs, argv) < 0) return nullptr;
    return spec->impl(f->owner, argv);
}

PyObject* Function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (!obj || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

int Function_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<Function*>(self);
    Py_VISIT(f->owner);
    Py_VISIT(f->defaults);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    return 0;
}

int Function_clear(PyObject* self) {
    auto* f = reinterpret_cast<Function*>(self);
    Py_CLEAR(f->owner);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    return 0;
}

void Function_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    Function_clear(self);
    Py_CLEAR(reinterpret_cast<Function*>(self)->module_name);
    PyObject_GC_Del(self);
}

PyObject* Function_repr(PyObject* self) {
    auto* f = reinterpret_cast<Function*>(self);
    const char* q = f->spec->qualname ? f->spec->qualname : f->spec->name;
    return PyUnicode_FromFormat("<function %s at %p>", q, self);
}

PyObject* get_name(PyObject* self, void*) {
    return PyUnicode_FromString(reinterpret_cast<Function*>(self)->spec->name);
}

PyObject* get_qualname(PyObject* self, void*) {
    const FunctionSpec* s = reinterpret_cast<Function*>(self)->spec;
    return PyUnicode_FromString(s->qualname ? s->qualname : s->name);
}

PyObject* get_doc(PyObject* self, void*) {
    const FunctionSpec* s = reinterpret_cast<Function*>(self)->spec;
    if (!s->doc) Py_RETURN_NONE;
    return PyUnicode_FromString(s->doc);
}

PyObject* get_module(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    return Py_NewRef(f->module_name ? f->module_name : Py_None);
}

PyObject* get_defaults(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    return Py_NewRef(f->defaults ? f->defaults : Py_None);
}

int set_defaults(PyObject* self, PyObject* value, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (value == Py_None) value = nullptr;
    if (value && !PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__defaults__ must be set to a tuple object");
        return -1;
    }
    if (value && PyTuple_GET_SIZE(value) > f->spec->params.npositional) {
        PyErr_SetString(PyExc_ValueError, "__defaults__ has more entries than parameters");
        return -1;
    }
    Py_XSETREF(f->defaults, Py_XNewRef(value));
    return 0;
}

PyObject* get_kwdefaults(PyObject*, void*) { Py_RETURN_NONE; }

PyObject* get_annotations(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (!f->annotations) {
        Ref d = Ref::steal(PyDict_New());
        if (!d) return nullptr;
        const auto& a = f->spec->annotations;
        for (size_t i = 0; i + 1 < a.size(); i += 2) {
            Ref text = Ref::steal(PyUnicode_FromString(a[i + 1]));
            if (!text || PyDict_SetItemString(d.get(), a[i], text.get()) < 0) return nullptr;
        }
        f->annotations = d.release();
    }
    return Py_NewRef(f->annotations);
}

int set_annotations(PyObject* self, PyObject* value, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (value && value != Py_None && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(f->annotations, value == Py_None ? nullptr : Py_XNewRef(value));
    return 0;
}

// inspect.Signature built from the FunctionSpec and the current defaults and annotations.
// inspect.Parameter runs Python code, so another thread may replace __defaults__ meanwhile:
// the tuple read at the start is the one used throughout.
PyObject* get_signature(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    const Params& p = f->spec->params;
    const Ref defaults = Ref::borrow(f->defaults);
    Ref inspect = Ref::steal(PyImport_ImportModule("inspect"));
    if (!inspect) return nullptr;
    Ref parameter = Ref::steal(PyObject_GetAttrString(inspect.get(), "Parameter"));
    Ref signature = Ref::steal(PyObject_GetAttrString(inspect.get(), "Signature"));
    if (!parameter || !signature) return nullptr;
    Ref pos_kind = Ref::steal(PyObject_GetAttrString(parameter.get(), "POSITIONAL_OR_KEYWORD"));
    Ref kw_kind = Ref::steal(PyObject_GetAttrString(parameter.get(), "KEYWORD_ONLY"));
    Ref annotations = Ref::steal(get_annotations(self, nullptr));
    if (!pos_kind || !kw_kind || !annotations) return nullptr;
    const auto n = static_cast<Py_ssize_t>(p.names.size());
    const Py_ssize_t ndef = defaults ? PyTuple_GET_SIZE(defaults.get()) : 0;
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref kwargs = Ref::steal(PyDict_New());
        if (!kwargs) return nullptr;
        const Py_ssize_t d = i - (p.npositional - ndef);
        if (i < p.npositional && d >= 0 && d < ndef &&
            PyDict_SetItemString(kwargs.get(), "default", PyTuple_GET_ITEM(defaults.get(), d)) < 0)
            return nullptr;
        PyObject* ann = PyDict_GetItemString(annotations.get(), p.names[i]);  // borrowed
        if (ann && PyDict_SetItemString(kwargs.get(), "annotation", ann) < 0) return nullptr;
        Ref args = Ref::steal(
            Py_BuildValue("(sO)", p.names[i], i < p.npositional ? pos_kind.get() : kw_kind.get()));
        if (!args) return nullptr;
        Ref param = Ref::steal(PyObject_Call(parameter.get(), args.get(), kwargs.get()));
        if (!param || PyList_Append(list.get(), param.get()) < 0) return nullptr;
    }
    Ref kwargs = Ref::steal(PyDict_New());
    if (!kwargs) return nullptr;
    PyObject* ret = PyDict_GetItemString(annotations.get(), "return");  // borrowed
    if (ret && PyDict_SetItemString(kwargs.get(), "return_annotation", ret) < 0) return nullptr;
    Ref args = Ref::steal(PyTuple_Pack(1, list.get()));
    if (!args) return nullptr;
    return PyObject_Call(signature.get(), args.get(), kwargs.get());
}

// Pickled by reference, as Python functions are.
PyObject* Function_reduce(PyObject* self, PyObject*) { return get_qualname(self, nullptr); }

PyGetSetDef Function_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {"__module__", get_module, nullptr, nullptr, nullptr},
    {"__defaults__", get_defaults, set_defaults, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef Function_methods[] = {
    {"__reduce__", Function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// A static type: every extension module carries its own copy, made ready on first use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject* function_type() {
    static PyTypeObject type = [] {
        PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
        t.tp_name = "orbivex_function";
        t.tp_basicsize = sizeof(Function);
        t.tp_dealloc = Function_dealloc;
        t.tp_vectorcall_offset = offsetof(Function, vectorcall);
        t.tp_repr = Function_repr;
        t.tp_call = PyVectorcall_Call;
        t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                     Py_TPFLAGS_METHOD_DESCRIPTOR;
        t.tp_traverse = Function_traverse;
        t.tp_clear = Function_clear;
        t.tp_methods = Function_methods;
        t.tp_getset = Function_getset;
        t.tp_descr_get = Function_descr_get;
        t.tp_dictoffset = offsetof(Function, dict);
        return t;
    }();
    return &type;
}
#pragma GCC diagnostic pop

}  // namespace

PyObject* new_function(const FunctionSpec* spec, PyObject* module, PyObject* defaults) {
    // Calls bind the arguments into a fixed buffer of max_function_params slots.
    if (spec->params.names.size() > max_function_params) {
        PyErr_Format(PyExc_SystemError,
                     "%s() declares %zu parameters, more than the %zu a native function can take",
                     spec->name, spec->params.names.size(), max_function_params);
        return nullptr;
    }
    PyTypeObject* type = function_type();
    if (!(type->tp_flags & Py_TPFLAGS_READY) && PyType_Ready(type) < 0) return nullptr;
    Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    if (!module_name) return nullptr;
    auto* f = PyObject_GC_New(Function, type);
    if (!f) return nullptr;
    f->vectorcall = Function_vectorcall;
    f->spec = spec;
    f->owner = Py_NewRef(module);
    f->defaults = (defaults && defaults != Py_None) ? Py_NewRef(defaults) : nullptr;
    f->module_name = module_name.release();
    f->annotations = nullptr;
    f->dict = nullptr;
    PyObject_GC_Track(f);
    return reinterpret_cast<PyObject*>(f);
}

int add_function(PyObject* target, const FunctionSpec* spec, PyObject* module, PyObject* defaults) {
    Ref f = Ref::steal(new_function(spec, module, defaults));
    if (!f) return -1;
    if (PyDict_Check(target)) return PyDict_SetItemString(target, spec->name, f.get());
    return PyObject_SetAttrString(target, spec->name, f.get());
}

}  // namespace orbivex::py
