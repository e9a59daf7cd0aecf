// Call-error wordings shared by every module, and a binder of call arguments to named parameters.
#pragma once
#include <Python.h>

#include <span>

#include "support/ref.hpp"

namespace orbivex::py {

/// "f() takes exactly|at least|at most N positional argument(s) (M given)"; "exactly" when
/// min == max, otherwise the bound that `given` violates.
void raise_arg_count(const char* func, Py_ssize_t min, Py_ssize_t max, Py_ssize_t given);
/// "f() got an unexpected keyword argument 'k'"; "f() keywords must be strings" for a key that
/// is not a str.
void raise_unexpected_keyword(const char* func, PyObject* key);
/// "f() got multiple values for keyword argument 'k'".
void raise_duplicate_keyword(const char* func, PyObject* key);
/// "Argument 'name' has incorrect type (expected T, got U)".
void raise_arg_type(const char* name, const char* expected, PyObject* got);

/// True when `self` is an instance of `type` (or of a subclass); otherwise false with TypeError
/// "descriptor 'method' for 'T' objects doesn't apply to a 'U' object", as a method of a
/// class called on another object words it.
bool check_self(PyObject* self, PyTypeObject* type, const char* method);

/// `self` as the instance layout `T` of `type`, or NULL with check_self's TypeError.
template <class T>
T* checked_self(PyObject* self, PyTypeObject* type, const char* method) {
    return check_self(self, type, method) ? reinterpret_cast<T*>(self) : nullptr;
}

/// Parameters of a callable: names in order; the first `npositional` may be given by position,
/// the first `nrequired` must be given; the rest are keyword-only.
struct Params {
    std::span<const char* const> names;
    Py_ssize_t nrequired;
    Py_ssize_t npositional;
    /// The first parameter is the object a method is called on: call errors count only the
    /// arguments besides it, as for a method that takes "no arguments besides the object".
    bool method = false;
};

/// raise_arg_count for `params` with at least `required` arguments: leaves out the object of a
/// method from all three counts when it was passed.
void raise_params_count(const char* func, const Params& params, Py_ssize_t required,
                        Py_ssize_t given);

/// Binds vectorcall arguments to `params` and writes borrowed references into `out`
/// (one slot per parameter, NULL where a parameter was not given). 0 on success, -1 with
/// the error set. `func` names the callable in error messages.
int bind_vectorcall(const char* func, const Params& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out);
/// The same for a tuple and an optional dict, as tp_new and tp_init receive them. The dict is
/// mutable and Python code the callee runs can reach it (gc.get_referrers), so each value bound
/// from it is also held in `held` (one slot per parameter) for as long as the caller keeps it.
int bind_tuple_dict(const char* func, const Params& params, PyObject* args, PyObject* kwds,
                    PyObject** out, Ref* held);

}  // namespace orbivex::py
