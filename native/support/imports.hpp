// Names bound at import from the package's other modules, with the errors `from m import n`
// gives, and native entries bound from their tables.
#pragma once
#include <Python.h>

#include <span>

#include "support/ref.hpp"

namespace orbivex::py {

/// What a missing name raises.
enum class MissingName {
    AttributeError,  ///< the attribute lookup's own error
    ImportError,     ///< "cannot import name 'N' from 'M'", as `from M import N` words it
};

/// `name` of `module` (called `modname` in messages) as a new reference, or an empty Ref with
/// the error set. With `must_be_class`, an object that is not a class raises TypeError
/// "M.N is not a type object".
Ref import_name(PyObject* module, const char* modname, const char* name, MissingName missing,
                bool must_be_class);

/// What a bound name must be.
enum class Kind { object, class_ };

/// One name a module binds from a sibling at import.
struct Sibling {
    const char* module;  ///< import path
    const char* name;
    Kind kind;
    Ref* out = nullptr;  ///< receives the object; NULL: only checked (and kept, see bind_siblings)
};

/// Binds `names` in order, as `from M import N` would: each module is imported when its entry
/// follows one of another module; a missing name raises as `missing` says, a name of
/// Kind::class_ that is not a class raises TypeError. With `all`, a tuple of every object
/// bound, in order, is stored there (for a module that keeps its siblings alive). 0 on
/// success; -1 with the error set, the outputs then partly filled.
int bind_siblings(std::span<const Sibling> names, MissingName missing, Ref* all = nullptr);

/// One native entry a module binds from a sibling's `__pyx_capi__` (see capi.hpp).
struct NativeImport {
    const char* module;  ///< import path
    const char* name;
    const char* signature;  ///< the text the entry must carry, character for character
    bool is_function;
    void* slot;                           ///< the typed pointer to set
    void (*assign)(void* slot, void* p);  ///< stores `p` into `slot` under its type
};

/// The entry for a C function, stored into `out`.
template <class F>
NativeImport native_function(const char* module, const char* name, const char* signature, F*& out) {
    return {
        module,    name,
        signature, true,
        &out,      [](void* slot, void* p) { *static_cast<F**>(slot) = reinterpret_cast<F*>(p); }};
}
/// The entry for a variable, whose address is stored into `out`.
template <class T>
NativeImport native_variable(const char* module, const char* name, const char* signature, T*& out) {
    return {module,    name,
            signature, false,
            &out,      [](void* slot, void* p) { *static_cast<T**>(slot) = static_cast<T*>(p); }};
}

/// Binds `entries` in order (each module imported when its entry follows one of another
/// module), with import_capi's errors. 0 on success; -1 with the error set, the outputs then
/// partly filled: bind into a copy and keep it only on success where that matters.
int bind_native(std::span<const NativeImport> entries);

}  // namespace orbivex::py
