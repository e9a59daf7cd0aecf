// Orbit mean-element messages in the catalog module: the four forms read natively into a
// Catalog, and a Catalog written in each of them.
#pragma once
#include <Python.h>

#include <cstddef>

#include "catalog.hpp"

namespace orbivex::catalog {

/// The forms of the messages, in the order of their format names.
enum class OmmForm : int { csv, json, xml, kvn };

/// The form of a format name ("omm-csv" ...); -1 for a name that is none of them (no error).
int omm_form(PyObject* format) noexcept;

/// Reads the records of `data` into a Catalog. `skip`: keep refused records in `rejected`
/// instead of raising the first. The text is read without the lock (Ctrl-C ends it); the
/// columns are filled on up to `threads` threads.
PyObject* read_omm(catalog_state* st, OmmForm form, const char* data, std::size_t size,
                   PyObject* source, bool skip, int threads) noexcept;

/// _write_omm(catalog, format): the bytes of the catalogue in that form.
PyObject* write_omm(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

}  // namespace orbivex::catalog
