// Multi-phase module initialisation: the once-per-process guard and the version warning.
#pragma once
#include <Python.h>

namespace orbivex::py {

/// Py_mod_create body. Warns (RuntimeWarning) when loaded into another minor Python version
/// than the one compiled for, then refuses with RuntimeError "Module '<short>' has already been
/// imported. Re-initialisation is not supported." once `initialised` is set; otherwise returns
/// a new plain module named after the import machinery's ModuleSpec.
PyObject* create_module(PyObject* spec, const char* short_name, bool initialised);

/// Value of builtins `__debug__` now (the assertion switch a module fixes at exec).
/// 1 or 0, -1 with an error set.
int debug_enabled();

/// Raises AssertionError without a message (a failed `assert` of the module's own code).
void raise_assertion();

}  // namespace orbivex::py

/// Declares the module's create slot and a `<name>_initialised` flag for its exec slot to set.
#define ORBIVEX_MODULE_CREATE(short_name)                                           \
    static bool short_name##_initialised = false;                                   \
    static PyObject* short_name##_create(PyObject* spec, PyModuleDef*) {            \
        return ::orbivex::py::create_module(spec, #short_name, short_name##_initialised); \
    }
