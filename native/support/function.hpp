// A native function type with the introspection of a Python function: __defaults__,
// __annotations__, a docstring whose first line is the signature, inspect.signature(),
// binding as a method, and vectorcall for a low per-call cost.
#pragma once
#include <Python.h>

#include <span>

#include "support/args.hpp"

namespace orbivex::py {

/// Body of a function: `owner` is the module that created it, `argv` one borrowed object per
/// parameter in declared order, defaults already filled in, each alive for the whole call even
/// if __defaults__ is replaced meanwhile. New reference or NULL with an error.
using FunctionImpl = PyObject* (*)(PyObject* owner, PyObject* const* argv);

/// Largest parameter count a FunctionSpec may declare.
inline constexpr size_t max_function_params = 8;

/// Everything that describes one function; must outlive the function objects (static storage).
struct FunctionSpec {
    const char* name;
    const char* qualname;  ///< NULL: same as name
    const char* doc;       ///< full docstring, first line the signature
    Params params;         ///< defaults apply to the trailing positional parameters
    /// Alternating parameter name and annotation text; "return" for the result.
    std::span<const char* const> annotations;
    FunctionImpl impl;
};

/// New function object of `spec`, owned by `module` (its __name__ becomes __module__).
/// `defaults` is a tuple for the trailing parameters, or NULL for none. A spec of more than
/// max_function_params parameters is refused with SystemError.
PyObject* new_function(const FunctionSpec* spec, PyObject* module, PyObject* defaults);

/// Creates the function and stores it as `spec->name` in `target` (a module or a type dict).
int add_function(PyObject* target, const FunctionSpec* spec, PyObject* module, PyObject* defaults);

}  // namespace orbivex::py
