// What tle binds at import from the package's other modules: native entries, classes, objects.
#include <Python.h>

#include "modules/coe/exports.hpp"
#include "modules/representable/representable.hpp"
#include "support/imports.hpp"
#include "support/ref.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Kind;
using py::Ref;

constexpr const char units_module[] = "orbivex.units.units";

int bind_native_entries() {
    using coe::exports::bind, coe::exports::Id;
    Units& u = units;
    auto unit = [](const char* name, const double*& out) {
        return py::native_variable(units_module, name, "double", out);
    };
    const py::NativeImport entries[] = {
        unit("s", u.s),
        unit("sec", u.sec),
        unit("second", u.second),
        unit("minute", u.minute),
        unit("hour", u.hour),
        unit("day", u.day),
        unit("sday", u.sday),
        unit("m", u.m),
        unit("km", u.km),
        unit("rad", u.rad),
        unit("deg", u.deg),
        unit("rev", u.rev),
        unit("kg", u.kg),
        coe::exports::bind_two_pi(coe_2pi),
        bind<Id::orp_from_sma>(c_orp_from_sma),
        bind<Id::sma_from_mnm>(c_sma_from_mnm),
        bind<Id::eca_from_mea>(c_eca_from_mea),
        bind<Id::tra_from_eca>(c_tra_from_eca),
        bind<Id::pge_from_sma_ecc>(c_pge_from_sma_ecc),
        bind<Id::apg_from_sma_ecc>(c_apg_from_sma_ecc),
    };
    return py::bind_native(entries);
}

}  // namespace

int bind_siblings(PyObject*, tle_state* st) noexcept {
    // Every name is bound as `from M import N` would, and kept alive in `bound`; the module uses
    // Time, Earth and TEME itself.
    Ref time, earth, teme;
    constexpr const char* bodies = "orbivex.bodies.bodies";
    constexpr const char* frames = "orbivex.frames.frames";
    constexpr const char* ellipsoid = "orbivex.mathtools.ellipsoid.ellipsoid";
    const py::Sibling names[] = {
        {"orbivex.time.time", "Time", Kind::class_, &time},
        {representable::module_path, "Representable", Kind::class_},
        {bodies, "CelestialBody", Kind::class_},
        {bodies, "Earth", Kind::class_, &earth},
        {bodies, "Sun", Kind::class_},
        {bodies, "Moon", Kind::class_},
        {frames, "Frame", Kind::class_},
        {frames, "_GCRF", Kind::class_},
        {frames, "_ITRF", Kind::class_},
        {frames, "_TEME", Kind::class_},
        {frames, "ENU", Kind::class_},
        {frames, "GCRF", Kind::object},
        {frames, "ITRF", Kind::object},
        {frames, "TEME", Kind::object, &teme},
        {ellipsoid, "Ellipsoid", Kind::class_},
        {ellipsoid, "WGS84", Kind::object},
        {ellipsoid, "WGS72", Kind::object},
        {ellipsoid, "GRS80", Kind::object},
    };
    Ref all;
    if (py::bind_siblings(names, py::MissingName::ImportError, &all) < 0) return -1;
    if (bind_native_entries() < 0) return -1;

    // The base's layout must be the one our records start with.
    Ref base = representable::import_representable();
    if (!base) return -1;
    PyTypeObject* repr = representable::as_type(base);
    st->Time = time.release();
    st->Representable = reinterpret_cast<PyTypeObject*>(Py_NewRef(repr));
    representable_base = repr;
    st->Earth = earth.release();
    st->TEME = teme.release();
    st->bound = all.release();
    return 0;
}

}  // namespace orbivex::tle
