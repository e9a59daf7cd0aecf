// What tle binds at import from the package's other modules: native entries, classes, objects.
#include <Python.h>

#include <initializer_list>

#include "support/capi.hpp"
#include "support/imports.hpp"
#include "support/ref.hpp"
#include "support/representable.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Ref;

/// A name to bind from a module, and whether it must be a class.
struct Sibling {
    const char* name;
    bool is_class;
};

// Binds `names` of module `modname` as `from modname import ...` would, appending each object
// to the list `keep`. A missing name is an ImportError; an object that must be a class and is
// not, a TypeError.
int bind_objects(const char* modname, std::initializer_list<Sibling> names,
                 PyObject* keep) {
    Ref mod = Ref::steal(PyImport_ImportModule(modname));
    if (!mod) return -1;
    for (const Sibling& s : names) {
        Ref obj = py::import_name(mod.get(), modname, s.name, py::MissingName::ImportError,
                                  s.is_class);
        if (!obj || PyList_Append(keep, obj.get()) < 0) return -1;
    }
    return 0;
}

int bind_coe() {
    Ref coe = Ref::steal(PyImport_ImportModule("orbivex.state.coe"));
    if (!coe) return -1;
    constexpr const char* size = "double (double const , double)";
    constexpr const char* anomaly = "double (double const , double const )";
    constexpr const char* shape = "double (double const , double const , double const )";
    using py::import_function;
    if (py::import_variable(coe.get(), "_2pi", "double", coe_2pi) < 0 ||
        import_function(coe.get(), "c_orp_from_sma", size, c_orp_from_sma) < 0 ||
        import_function(coe.get(), "c_sma_from_mnm", size, c_sma_from_mnm) < 0 ||
        import_function(coe.get(), "c_eca_from_mea", anomaly, c_eca_from_mea) < 0 ||
        import_function(coe.get(), "c_tra_from_eca", anomaly, c_tra_from_eca) < 0 ||
        import_function(coe.get(), "c_pge_from_sma_ecc", shape, c_pge_from_sma_ecc) < 0 ||
        import_function(coe.get(), "c_apg_from_sma_ecc", shape, c_apg_from_sma_ecc) < 0)
        return -1;
    return 0;
}

int bind_units() {
    Ref mod = Ref::steal(PyImport_ImportModule("orbivex.units.units"));
    if (!mod) return -1;
    struct Unit {
        const char* name;
        const double** slot;
    };
    Units u{};
    const Unit table[] = {
        {"s", &u.s},     {"sec", &u.sec}, {"second", &u.second}, {"minute", &u.minute},
        {"hour", &u.hour}, {"day", &u.day}, {"sday", &u.sday},   {"m", &u.m},
        {"km", &u.km},   {"rad", &u.rad}, {"deg", &u.deg},       {"rev", &u.rev},
        {"kg", &u.kg},
    };
    for (const Unit& e : table) {
        if (py::import_variable(mod.get(), e.name, "double", *e.slot) < 0) return -1;
    }
    units = u;
    return 0;
}

}  // namespace

int bind_siblings(PyObject*, tle_state* st) noexcept {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return -1;
    PyObject* keep = list.get();
    // Indices into `keep` of the objects the module uses itself; Representable is taken from
    // the checked import below.
    if (bind_objects("orbivex.time.time", {{"Time", true}}, keep) < 0) return -1;
    const Py_ssize_t i_time = 0;
    if (bind_objects("orbivex.utils.representable", {{"Representable", true}}, keep) < 0)
        return -1;
    if (bind_objects("orbivex.bodies.bodies",
                     {{"CelestialBody", true}, {"Earth", true}, {"Sun", true}, {"Moon", true}},
                     keep) < 0)
        return -1;
    const Py_ssize_t i_earth = 3;
    if (bind_objects("orbivex.frames.frames",
                     {{"Frame", true}, {"_GCRF", true}, {"_ITRF", true}, {"_TEME", true},
                      {"ENU", true}, {"GCRF", false}, {"ITRF", false}, {"TEME", false}},
                     keep) < 0)
        return -1;
    const Py_ssize_t i_teme = 13;
    if (bind_objects("orbivex.mathtools.ellipsoid.ellipsoid",
                     {{"Ellipsoid", true}, {"WGS84", false}, {"WGS72", false}, {"GRS80", false}},
                     keep) < 0)
        return -1;
    if (bind_units() < 0 || bind_coe() < 0) return -1;

    // The base's layout must be the one our structs start with.
    Ref base = py::import_representable();
    if (!base) return -1;
    PyTypeObject* repr = py::as_type(base);
    st->Time = Py_NewRef(PyList_GET_ITEM(keep, i_time));
    st->Representable = reinterpret_cast<PyTypeObject*>(Py_NewRef(repr));
    representable_base = repr;
    st->Earth = Py_NewRef(PyList_GET_ITEM(keep, i_earth));
    st->TEME = Py_NewRef(PyList_GET_ITEM(keep, i_teme));
    st->bound = PyList_AsTuple(keep);
    return st->bound ? 0 : -1;
}

}  // namespace orbivex::tle
