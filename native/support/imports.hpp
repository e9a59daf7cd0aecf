// Names bound at import from the package's other modules, with the errors `from m import n` gives.
#pragma once
#include <Python.h>

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

}  // namespace orbivex::py
