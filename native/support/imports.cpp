// Binding names and native entries of sibling modules at import.
#include "support/imports.hpp"

#include <cstring>

#include "support/capi.hpp"

namespace orbivex::py {

namespace {

// The module of an entry: the one already imported when the previous entry named it.
int import_for(const char* modname, const char*& current, Ref& module) {
    if (module && current && std::strcmp(current, modname) == 0) return 0;
    module = Ref::steal(PyImport_ImportModule(modname));
    current = modname;
    return module ? 0 : -1;
}

}  // namespace

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

int bind_siblings(std::span<const Sibling> names, MissingName missing, Ref* all) {
    Ref list;
    if (all) {
        list = Ref::steal(PyList_New(0));
        if (!list) return -1;
    }
    const char* current = nullptr;
    Ref module;
    for (const Sibling& s : names) {
        if (import_for(s.module, current, module) < 0) return -1;
        Ref obj = import_name(module.get(), s.module, s.name, missing, s.kind == Kind::class_);
        if (!obj || (list && PyList_Append(list.get(), obj.get()) < 0)) return -1;
        if (s.out) *s.out = std::move(obj);
    }
    if (all) {
        *all = Ref::steal(PyList_AsTuple(list.get()));
        if (!*all) return -1;
    }
    return 0;
}

int bind_native(std::span<const NativeImport> entries) {
    const char* current = nullptr;
    Ref module;
    for (const NativeImport& e : entries) {
        if (import_for(e.module, current, module) < 0) return -1;
        void* p = nullptr;
        if (import_capi(module.get(), e.name, e.signature, e.is_function, &p) < 0) return -1;
        e.assign(e.slot, p);
    }
    return 0;
}

}  // namespace orbivex::py
