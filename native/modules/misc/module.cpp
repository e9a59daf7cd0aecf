// orbivex.mathtools.misc.misc: publishes the native atan2_asymmetric; no Python-level functions.
#include <Python.h>

#include <array>

#include "kernels/misc.hpp"
#include "support/capi.hpp"
#include "support/module.hpp"

namespace {

// Pure and lock-free: the exported pointer may be called from any thread without the GIL.
double atan2_asymmetric(const double y, const double x) noexcept {
    return orbivex::kern::atan2_asymmetric(y, x);
}

/// Present only so that reloading the same module object does not run exec again.
struct misc_state {
    char unused;
};

ORBIVEX_MODULE_CREATE(misc)

int misc_exec(PyObject* module) noexcept {
    const std::array entries{
        orbivex::py::capi_function("atan2_asymmetric", "double (double const , double const )",
                                   &atan2_asymmetric),
    };
    if (orbivex::py::export_capi(module, entries) < 0) return -1;
    misc_initialised = true;
    return 0;
}

PyModuleDef_Slot misc_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(misc_create)},
    {Py_mod_exec, reinterpret_cast<void*>(misc_exec)},
    {0, nullptr},
};

PyModuleDef misc_def = {
    PyModuleDef_HEAD_INIT,
    "misc",
    "Miscellaneous native helpers, published for other native modules in __pyx_capi__.",
    sizeof(misc_state),
    nullptr,
    misc_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_misc() { return PyModuleDef_Init(&misc_def); }
