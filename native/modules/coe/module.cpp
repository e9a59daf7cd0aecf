// The orbivex.state.coe extension module: native table, sibling bindings and initialisation.
#define ORBIVEX_NUMPY_IMPORT
#include "support/numpy.hpp"

#include <cstring>
#include <initializer_list>

#include "bound.hpp"
#include "common.hpp"
#include "kernels/coe.hpp"
#include "kernels/records.hpp"
#include "support/capi.hpp"
#include "support/imports.hpp"
#include "support/module.hpp"

namespace orbivex::coe {

Bound bound;

namespace {

using py::Ref;
namespace k = kern::coe;

// ---- the exported table ---------------------------------------------------------------------
// Plain functions over the same inline kernels the module's loops use. The anomaly and
// state-vector entries probe for a failure whether or not their caller holds the lock.

double two_pi_variable = 0.0;  // `_2pi`, set during import

double c_orp_from_sma(const double sma, double GM) noexcept { return k::orp_from_sma(sma, GM); }
double c_sma_from_orp(const double orp, double GM) noexcept { return k::sma_from_orp(orp, GM); }
double c_mnm_from_sma(const double sma, double GM) noexcept { return k::mnm_from_sma(sma, GM); }
double c_sma_from_mnm(const double mnm, double GM) noexcept { return k::sma_from_mnm(mnm, GM); }
double c_eca_from_mea(const double mea, const double ecc) noexcept { return k::eca_from_mea(mea, ecc); }
double c_mea_from_eca(const double eca, const double ecc) noexcept { return k::mea_from_eca(eca, ecc); }
double c_eca_from_tra(const double tra, const double ecc) noexcept {
    return k::eca_from_tra(tra, ecc, ExportEnv{});
}
double c_tra_from_eca(const double eca, const double ecc) noexcept {
    return k::tra_from_eca(eca, ecc, ExportEnv{});
}
double c_tra_from_mea(const double mea, const double ecc) noexcept {
    return k::tra_from_mea(mea, ecc, ExportEnv{});
}
double c_mea_from_tra(const double tra, const double ecc) noexcept {
    return k::mea_from_tra(tra, ecc, ExportEnv{});
}
double c_pge_from_sma_ecc(const double a, const double e, const double Re) noexcept {
    return k::pge_from_sma_ecc(a, e, Re);
}
double c_apg_from_sma_ecc(const double a, const double e, const double Re) noexcept {
    return k::apg_from_sma_ecc(a, e, Re);
}
double c_sma_from_pge_apg(const double p, const double q, const double Re) noexcept {
    return k::sma_from_pge_apg(p, q, Re);
}
double c_sma_from_ecc_pge(const double e, const double p, const double Re) noexcept {
    return k::sma_from_ecc_pge(e, p, Re);
}
double c_sma_from_ecc_apg(const double e, const double q, const double Re) noexcept {
    return k::sma_from_ecc_apg(e, q, Re);
}
double c_ecc_from_pge_apg(const double p, const double q, const double Re) noexcept {
    return k::ecc_from_pge_apg(p, q, Re);
}
double c_ecc_from_sma_pge(const double a, const double p, const double Re) noexcept {
    return k::ecc_from_sma_pge(a, p, Re);
}
double c_ecc_from_sma_apg(const double a, const double q, const double Re) noexcept {
    return k::ecc_from_sma_apg(a, q, Re);
}
void c_coe_from_sv(double* r, double* v, const double GM, COE_t* coe) noexcept {
    k::coe_from_sv(r, v, GM, coe, ExportEnv{});
}
void c_sv_from_coe(const COE_t coe, const double GM, double* r, double* v) noexcept {
    k::sv_from_coe(coe, GM, r, v);
}

// Signature texts as Cython derives them from coe.pxd (COE_t under its mangled name).
constexpr const char* sig_size = "double (double const , double)";
constexpr const char* sig_anomaly = "double (double const , double const )";
constexpr const char* sig_shape = "double (double const , double const , double const )";
constexpr const char* sig_coe_from_sv =
    "void (double *, double *, double const , __pyx_t_7orbivex_9datamodel_10structured_COE_t *)";
constexpr const char* sig_sv_from_coe =
    "void (__pyx_t_7orbivex_9datamodel_10structured_COE_t const , double const , double *, "
    "double *)";

using py::capi_function;
const py::CapiEntry table[] = {
    py::capi_variable("_2pi", "double", &two_pi_variable),
    capi_function("c_orp_from_sma", sig_size, c_orp_from_sma),
    capi_function("c_sma_from_orp", sig_size, c_sma_from_orp),
    capi_function("c_mnm_from_sma", sig_size, c_mnm_from_sma),
    capi_function("c_sma_from_mnm", sig_size, c_sma_from_mnm),
    capi_function("c_eca_from_mea", sig_anomaly, c_eca_from_mea),
    capi_function("c_mea_from_eca", sig_anomaly, c_mea_from_eca),
    capi_function("c_eca_from_tra", sig_anomaly, c_eca_from_tra),
    capi_function("c_tra_from_eca", sig_anomaly, c_tra_from_eca),
    capi_function("c_tra_from_mea", sig_anomaly, c_tra_from_mea),
    capi_function("c_mea_from_tra", sig_anomaly, c_mea_from_tra),
    capi_function("c_pge_from_sma_ecc", sig_shape, c_pge_from_sma_ecc),
    capi_function("c_apg_from_sma_ecc", sig_shape, c_apg_from_sma_ecc),
    capi_function("c_sma_from_pge_apg", sig_shape, c_sma_from_pge_apg),
    capi_function("c_sma_from_ecc_pge", sig_shape, c_sma_from_ecc_pge),
    capi_function("c_sma_from_ecc_apg", sig_shape, c_sma_from_ecc_apg),
    capi_function("c_ecc_from_pge_apg", sig_shape, c_ecc_from_pge_apg),
    capi_function("c_ecc_from_sma_pge", sig_shape, c_ecc_from_sma_pge),
    capi_function("c_ecc_from_sma_apg", sig_shape, c_ecc_from_sma_apg),
    capi_function("c_coe_from_sv", sig_coe_from_sv, c_coe_from_sv),
    capi_function("c_sv_from_coe", sig_sv_from_coe, c_sv_from_coe),
};

// ---- siblings -------------------------------------------------------------------------------

// Each named attribute of `modname` must be a class: a missing one raises AttributeError, one
// that is not a class TypeError. The class called `keep`, if any, is stored in `out`.
int require_classes(const char* modname, std::initializer_list<const char*> names,
                    const char* keep = nullptr, Ref* out = nullptr) {
    Ref mod = Ref::steal(PyImport_ImportModule(modname));
    if (!mod) return -1;
    for (const char* name : names) {
        Ref cls = py::import_name(mod.get(), modname, name, py::MissingName::AttributeError, true);
        if (!cls) return -1;
        if (keep && std::strcmp(name, keep) == 0) *out = std::move(cls);
    }
    return 0;
}

// Objects that must be present in `modname`; a missing one raises ImportError.
int require_objects(const char* modname, std::initializer_list<const char*> names) {
    Ref mod = Ref::steal(PyImport_ImportModule(modname));
    if (!mod) return -1;
    for (const char* name : names) {
        if (!py::import_name(mod.get(), modname, name, py::MissingName::ImportError, false))
            return -1;
    }
    return 0;
}

// `from <package> import <name>` as a new reference.
PyObject* from_import(const char* package, const char* name) {
    Ref mod = Ref::steal(PyImport_ImportModule(package));
    if (!mod) return nullptr;
    return py::import_name(mod.get(), package, name, py::MissingName::ImportError, false)
        .release();
}

// Step 3 of the import: the classes and objects of the siblings, then the native functions.
int bind_siblings(Ref& earth) {
    if (require_classes("numpy", {"dtype", "flatiter", "broadcast", "ndarray", "generic",
                                  "number", "integer", "signedinteger", "unsignedinteger",
                                  "inexact", "floating", "complexfloating", "flexible",
                                  "character", "ufunc"}) < 0 ||
        require_classes("orbivex.time.time", {"Time"}) < 0)
        return -1;
    if (require_classes("orbivex.bodies.bodies", {"CelestialBody", "Earth", "Sun", "Moon"},
                        "Earth", &earth) < 0 ||
        require_classes("orbivex.mathtools.ellipsoid.ellipsoid", {"Ellipsoid"}) < 0 ||
        require_classes("orbivex.frames.frames", {"Frame", "_GCRF", "_ITRF", "_TEME", "ENU"}) < 0 ||
        require_objects("orbivex.mathtools.ellipsoid.ellipsoid", {"WGS84", "WGS72", "GRS80"}) < 0 ||
        require_objects("orbivex.frames.frames", {"GCRF", "ITRF", "TEME"}) < 0)
        return -1;

    Bound b;
    Ref misc = Ref::steal(PyImport_ImportModule("orbivex.mathtools.misc.misc"));
    if (!misc ||
        py::import_function(misc.get(), "atan2_asymmetric", sig_anomaly, b.atan2_asymmetric) < 0)
        return -1;
    Ref quiver = Ref::steal(PyImport_ImportModule("orbivex.mathtools.quiver.quiver"));
    if (!quiver ||
        py::import_function(quiver.get(), "dot", "double (double *, double *)", b.dot) < 0 ||
        py::import_function(quiver.get(), "cross", "void (double *, double *, double *)",
                            b.cross) < 0 ||
        py::import_function(quiver.get(), "norm", "double (double *)", b.norm) < 0 ||
        py::import_function(quiver.get(), "normalize", "void (double *, double *)",
                            b.normalize) < 0)
        return -1;
    bound = b;
    return 0;
}

// ---- module state ---------------------------------------------------------------------------

int intern(PyObject*& slot, const char* text) {
    slot = PyUnicode_InternFromString(text);
    return slot ? 0 : -1;
}

int init_state(coe_state* st) {
    if (intern(st->key_numbers, "numbers") < 0 || intern(st->key_numpy, "numpy") < 0 ||
        intern(st->key_real, "Real") < 0 || intern(st->key_coe_dt, "COE_dt") < 0 ||
        intern(st->str_ndim, "ndim") < 0 || intern(st->str_shape, "shape") < 0 ||
        intern(st->str_reshape, "reshape") < 0 || intern(st->str_zeros_like, "zeros_like") < 0 ||
        intern(st->str_zeros, "zeros") < 0 || intern(st->str_asarray, "asarray") < 0 ||
        intern(st->str_double, "double") < 0 || intern(st->str_dtype, "dtype") < 0)
        return -1;
    st->one = PyLong_FromLong(1);
    st->three_tuple = Py_BuildValue("(i)", 3);
    st->row_shape = Py_BuildValue("(ii)", 1, 3);
    return (st->one && st->three_tuple && st->row_shape) ? 0 : -1;
}

// Every object slot of the state, for traverse and clear.
template <class F>
void for_each_slot(coe_state* st, F&& f) {
    PyObject** slots[] = {&st->numbers,     &st->real,         &st->numpy,      &st->ndarray,
                          &st->key_numbers, &st->key_numpy,    &st->key_real,   &st->key_coe_dt,
                          &st->str_ndim,    &st->str_shape,    &st->str_reshape,
                          &st->str_zeros_like, &st->str_zeros, &st->str_asarray,
                          &st->str_double,  &st->str_dtype,    &st->one,        &st->three_tuple,
                          &st->row_shape,   &st->plain_descr,  &st->plain_names,
                          &st->kw_shape_dtype};
    for (PyObject** s : slots) f(s);
}

int coe_traverse(PyObject* module, visitproc visit, void* arg) {
    coe_state* st = state_of(module);
    if (!st) return 0;
    int err = 0;
    for_each_slot(st, [&](PyObject** s) {
        if (!err && *s) err = visit(*s, arg);
    });
    return err;
}

int coe_clear(PyObject* module) {
    coe_state* st = state_of(module);
    if (st) for_each_slot(st, [](PyObject** s) { Py_CLEAR(*s); });
    return 0;
}

void coe_free(void* module) { coe_clear(static_cast<PyObject*>(module)); }

ORBIVEX_MODULE_CREATE(coe)

// Creates one function per spec, with `defaults` (a tuple or NULL).
int add(PyObject* module, const py::FunctionSpec& spec, PyObject* defaults) {
    return py::add_function(module, &spec, module, defaults);
}

// Earth.GM, read afresh; converted to a float when `as_float`.
PyObject* earth_gm_defaults(PyObject* earth, bool as_float) {
    Ref gm = Ref::steal(PyObject_GetAttrString(earth, "GM"));
    if (!gm) return nullptr;
    if (as_float) {
        double value;
        if (to_double(gm.get(), value) < 0) return nullptr;
        gm = Ref::steal(PyFloat_FromDouble(value));
        if (!gm) return nullptr;
    }
    return PyTuple_Pack(1, gm.get());
}

int coe_exec(PyObject* module) noexcept {
    coe_state* st = state_of(module);
    if (init_state(st) < 0) return -1;
    const int debug = py::debug_enabled();
    if (debug < 0) return -1;
    st->assertions = debug != 0;

    if (py::import_numpy() < 0) return -1;                    // 1
    if (py::export_capi(module, table) < 0) return -1;        // 2
    Ref earth;
    if (bind_siblings(earth) < 0) return -1;                  // 3

    Ref numbers = Ref::steal(PyImport_ImportModule("numbers"));  // 4
    if (!numbers || PyModule_AddObjectRef(module, "numbers", numbers.get()) < 0) return -1;
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy || PyModule_AddObjectRef(module, "numpy", numpy.get()) < 0) return -1;
    Ref coe_dt = Ref::steal(from_import("orbivex.datamodel", "COE_dt"));
    if (!coe_dt || PyModule_AddObjectRef(module, "COE_dt", coe_dt.get()) < 0) return -1;
    Ref datetime_like = Ref::steal(from_import("orbivex.typing", "DatetimeLike"));
    if (!datetime_like || PyModule_AddObjectRef(module, "DatetimeLike", datetime_like.get()) < 0)
        return -1;
    st->real = PyObject_GetAttr(numbers.get(), st->key_real);
    st->ndarray = PyObject_GetAttrString(numpy.get(), "ndarray");
    if (!st->real || !st->ndarray) return -1;
    st->numbers = numbers.release();
    st->numpy = numpy.release();

    two_pi_variable = k::two_pi;                              // 5

    for (const auto& spec : size_specs) {                     // 6
        Ref defaults = Ref::steal(earth_gm_defaults(earth.get(), false));
        if (!defaults || add(module, spec, defaults.get()) < 0) return -1;
    }
    for (const auto& spec : anomaly_specs) {
        if (add(module, spec, nullptr) < 0) return -1;
    }
    for (const auto* spec : {&coe_from_sv_spec, &sv_from_coe_spec}) {
        Ref defaults = Ref::steal(earth_gm_defaults(earth.get(), true));
        if (!defaults || add(module, *spec, defaults.get()) < 0) return -1;
    }
    coe_initialised = true;
    return 0;
}

PyModuleDef_Slot coe_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(coe_create)},
    {Py_mod_exec, reinterpret_cast<void*>(coe_exec)},
    {0, nullptr},
};

PyModuleDef coe_def = {
    PyModuleDef_HEAD_INIT,
    "coe",
    "Classical orbital elements: size, period and mean motion, the anomalies (Kepler's\n"
    "equation) and state vectors, for floats and one-dimensional float64 arrays.",
    sizeof(coe_state),
    nullptr,
    coe_slots,
    coe_traverse,
    coe_clear,
    coe_free,
};

}  // namespace
}  // namespace orbivex::coe

PyMODINIT_FUNC PyInit_coe() { return PyModuleDef_Init(&orbivex::coe::coe_def); }
