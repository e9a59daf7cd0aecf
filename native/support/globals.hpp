// Module-level names read at call time, as the module's Python code would read them, and the
// result allocation through the module-level `numpy`.
#pragma once
#include <Python.h>

#include "support/ref.hpp"

namespace orbivex::py {

/// Value of the module-level name `key` (a str) now, for the module whose dict is `globals`:
/// that dict, then builtins; NameError "name 'K' is not defined" when neither has it. Empty
/// with an error set on failure.
Ref module_global(PyObject* globals, PyObject* key);

/// `numpy.zeros(shape=shape, dtype=...)` as that expression evaluates in the module whose dict
/// is `globals`: the
/// module-level `numpy` and its `zeros` first, then the dtype, which is the module-level name
/// `dtype_key` when given and otherwise `numpy.double` (with `numpy` looked up again). Keywords
/// are passed as a call from Python passes them. New reference, or NULL with an error set.
PyObject* numpy_zeros(PyObject* globals, PyObject* shape, PyObject* dtype_key = nullptr);

/// The call itself, for a caller that already holds `zeros` and the dtype.
PyObject* call_zeros(PyObject* zeros, PyObject* shape, PyObject* dtype);

}  // namespace orbivex::py
