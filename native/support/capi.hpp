// Native tables between modules: entries published in `__pyx_capi__` as capsules named by their
// signature text, the convention Cython modules use, so Cython code can cimport ours and back.
#pragma once
#include <Python.h>

#include <span>

namespace orbivex::py {

/// One published entry. `signature` must live for the process (a string literal).
struct CapiEntry {
    const char* name;
    const char* signature;
    void* pointer;
    bool is_function;
};

/// Entry for a C function (stored as the function's address).
template <class F>
CapiEntry capi_function(const char* name, const char* signature, F* f) {
    return {name, signature, reinterpret_cast<void*>(f), true};
}
/// Entry for a variable (stored as the variable's address).
template <class T>
CapiEntry capi_variable(const char* name, const char* signature, T* v) {
    return {name, signature, const_cast<void*>(static_cast<const void*>(v)), false};
}

/// Adds the entries, in order, to the module's `__pyx_capi__` dict (created when absent).
int export_capi(PyObject* module, std::span<const CapiEntry> entries);

/// Looks `name` up in `module.__pyx_capi__` and checks its signature text character for
/// character. Missing: ImportError naming module and entry; other text: TypeError naming
/// module, entry, expected and found text. 0 on success, -1 with the error set.
int import_capi(PyObject* module, const char* name, const char* signature, bool is_function,
                void** out);

template <class F>
int import_function(PyObject* module, const char* name, const char* signature, F*& out) {
    void* p = nullptr;
    if (import_capi(module, name, signature, true, &p) < 0) return -1;
    out = reinterpret_cast<F*>(p);
    return 0;
}

template <class T>
int import_variable(PyObject* module, const char* name, const char* signature, T*& out) {
    void* p = nullptr;
    if (import_capi(module, name, signature, false, &p) < 0) return -1;
    out = static_cast<T*>(p);
    return 0;
}

}  // namespace orbivex::py
