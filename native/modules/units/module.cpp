// orbivex.units.units: the unit constants in SI base units, as native doubles and as floats.
#include <Python.h>

#include <array>

#include "kernels/constants.hpp"
#include "support/capi.hpp"
#include "support/module.hpp"
#include "support/ref.hpp"

namespace {

// Published by address under the text "double"; mutable like a Cython module's cdef globals,
// since that is the type the text declares.
double s = 1.0;
double sec = 1.0;
double second = 1.0;
double minute = 60.0;
double hour = 3600.0;
double day = 86400.0;
double sday = 86164.0905;  // sidereal day
double m = 1.0;
double km = 1000.0;
double rad = 1.0;
double deg = orbivex::kern::pi / 180.0;
double rev = orbivex::kern::two_pi;
double kg = 1.0;

using orbivex::py::capi_variable;

const std::array units_table{
    capi_variable("s", "double", &s),           capi_variable("sec", "double", &sec),
    capi_variable("second", "double", &second), capi_variable("minute", "double", &minute),
    capi_variable("hour", "double", &hour),     capi_variable("day", "double", &day),
    capi_variable("sday", "double", &sday),     capi_variable("m", "double", &m),
    capi_variable("km", "double", &km),         capi_variable("rad", "double", &rad),
    capi_variable("deg", "double", &deg),       capi_variable("rev", "double", &rev),
    capi_variable("kg", "double", &kg),
};

struct units_module {
    static constexpr const char name[] = "units";
    static constexpr const char doc[] =
        "Units in SI base units (s, m, rad, kg); each is a float attribute and a native double "
        "published in __pyx_capi__.";

    static int exec(PyObject* module) noexcept {
        if (orbivex::py::export_capi(module, units_table) < 0) return -1;
        for (const auto& entry : units_table) {
            const double value = *static_cast<const double*>(entry.pointer);
            orbivex::py::Ref number = orbivex::py::Ref::steal(PyFloat_FromDouble(value));
            if (!number || PyModule_AddObjectRef(module, entry.name, number.get()) < 0) return -1;
        }
        return 0;
    }
};

}  // namespace

PyMODINIT_FUNC PyInit_units() { return orbivex::py::Module<units_module>::init(); }
