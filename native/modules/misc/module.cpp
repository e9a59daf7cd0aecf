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

struct misc_module {
    static constexpr const char name[] = "misc";
    static constexpr const char doc[] =
        "Miscellaneous native helpers, published for other native modules in __pyx_capi__.";

    static int exec(PyObject* module) noexcept {
        const std::array entries{
            orbivex::py::capi_function("atan2_asymmetric", "double (double const , double const )",
                                       &atan2_asymmetric),
        };
        return orbivex::py::export_capi(module, entries);
    }
};

}  // namespace

PyMODINIT_FUNC PyInit_misc() { return orbivex::py::Module<misc_module>::init(); }
