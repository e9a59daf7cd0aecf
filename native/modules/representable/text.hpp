// The text services of Representable, shared by the module's files.
#pragma once
#include <Python.h>

#include "modules/representable/representable.hpp"
#include "support/ref.hpp"

namespace orbivex::representable {

/// `_create_formatted_form(data)`: "label : value" lines, labels padded to the widest.
PyObject* create_formatted_form(PyObject* self, PyObject* data) noexcept;
/// `_create_formatted_frame(data)`: a plain-text table, one column per outer key (its title
/// right-aligned over right-aligned cells), one row per inner key in order of first appearance.
PyObject* create_formatted_frame(PyObject* self, PyObject* data) noexcept;
/// `_format_as_property(title)`: the title as a property heading, ending in ":".
PyObject* format_as_property(PyObject* self, PyObject* title) noexcept;
/// repr and str: `_get_header()`, a rule, then `_get_body()` with each "{fence}" line replaced
/// by the rule; the default object repr when either hook is missing.
PyObject* Representable_repr(PyObject* self) noexcept;

}  // namespace orbivex::representable
