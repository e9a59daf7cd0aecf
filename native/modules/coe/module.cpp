// The orbivex.state.coe extension module: native table, sibling bindings and initialisation.
#define ORBIVEX_NUMPY_IMPORT
#include "support/numpy.hpp"

#include "bound.hpp"
#include "catalogue.hpp"
#include "common.hpp"
#include "exports.hpp"
#include "kernels/coe.hpp"
#include "kernels/records.hpp"
#include "support/capi.hpp"
#include "support/imports.hpp"
#include "support/module.hpp"

namespace orbivex::coe {

Bound bound;

namespace {

using py::Kind;
using py::Ref;
namespace k = kern::coe;
namespace ex = exports;

// ---- the exported table ---------------------------------------------------------------------
// Plain functions over the same inline kernels the module's loops use, one per row of
// exports.hpp, each of exactly the C type its signature text declares. The entries that take
// the angle environment probe for a failure whether or not their caller holds the lock.

double two_pi_variable = 0.0;  // `_2pi`, set during import

/// The entry of C type `Sig` that calls `Kernel` (a captureless lambda over the kernel).
template <class Sig, class Kernel>
struct Entry;
template <class R, class... A, class Kernel>
struct Entry<R(A...), Kernel> {
    static R call(A... a) noexcept { return Kernel{}(a...); }
};

#define ORBIVEX_ENV_true , ExportEnv{}
#define ORBIVEX_ENV_false
#define ORBIVEX_ROW(kernel, form, env, ...)                                                   \
    py::capi_function(                                                                         \
        ex::entry(ex::Id::kernel).name, ex::signature(ex::Form::form),                         \
        static_cast<ex::c_type_t<ex::Form::form>*>(                                            \
            &Entry<ex::c_type_t<ex::Form::form>,                                               \
                   decltype([](auto... a) { return k::kernel(a... ORBIVEX_ENV_##env); })>::call)),
const py::CapiEntry table[] = {
    py::capi_variable(ex::two_pi_name, ex::two_pi_signature, &two_pi_variable),
    ORBIVEX_COE_EXPORTS(ORBIVEX_ROW)};
#undef ORBIVEX_ROW
#undef ORBIVEX_ENV_false
#undef ORBIVEX_ENV_true
static_assert(std::size(table) == ex::n_entries + 1);

// ---- siblings -------------------------------------------------------------------------------

// The classes and objects of the siblings, then the native functions; `earth` receives Earth.
int bind_siblings(Ref& earth) {
    constexpr const char* bodies = "orbivex.bodies.bodies";
    constexpr const char* frames = "orbivex.frames.frames";
    constexpr const char* ellipsoid = "orbivex.mathtools.ellipsoid.ellipsoid";
    // NumPy's core types are unused here, but checked: a NumPy that lacks one is refused at
    // import, as by every module compiled against NumPy's declarations.
    const py::Sibling classes[] = {
        {"numpy", "dtype", Kind::class_},
        {"numpy", "flatiter", Kind::class_},
        {"numpy", "broadcast", Kind::class_},
        {"numpy", "ndarray", Kind::class_},
        {"numpy", "generic", Kind::class_},
        {"numpy", "number", Kind::class_},
        {"numpy", "integer", Kind::class_},
        {"numpy", "signedinteger", Kind::class_},
        {"numpy", "unsignedinteger", Kind::class_},
        {"numpy", "inexact", Kind::class_},
        {"numpy", "floating", Kind::class_},
        {"numpy", "complexfloating", Kind::class_},
        {"numpy", "flexible", Kind::class_},
        {"numpy", "character", Kind::class_},
        {"numpy", "ufunc", Kind::class_},
        {"orbivex.time.time", "Time", Kind::class_},
        {bodies, "CelestialBody", Kind::class_},
        {bodies, "Earth", Kind::class_, &earth},
        {bodies, "Sun", Kind::class_},
        {bodies, "Moon", Kind::class_},
        {ellipsoid, "Ellipsoid", Kind::class_},
        {frames, "Frame", Kind::class_},
        {frames, "_GCRF", Kind::class_},
        {frames, "_ITRF", Kind::class_},
        {frames, "_TEME", Kind::class_},
        {frames, "ENU", Kind::class_},
    };
    const py::Sibling objects[] = {
        {ellipsoid, "WGS84", Kind::object}, {ellipsoid, "WGS72", Kind::object},
        {ellipsoid, "GRS80", Kind::object}, {frames, "GCRF", Kind::object},
        {frames, "ITRF", Kind::object},     {frames, "TEME", Kind::object},
    };
    if (py::bind_siblings(classes, py::MissingName::AttributeError) < 0 ||
        py::bind_siblings(objects, py::MissingName::ImportError) < 0)
        return -1;

    // Bound into a copy, kept only when every entry was found.
    Bound b;
    constexpr const char* misc = "orbivex.mathtools.misc.misc";
    constexpr const char* quiver = "orbivex.mathtools.quiver.quiver";
    const py::NativeImport natives[] = {
        py::native_function(misc, "atan2_asymmetric", "double (double const , double const )",
                            b.atan2_asymmetric),
        py::native_function(quiver, "dot", "double (double *, double *)", b.dot),
        py::native_function(quiver, "cross", "void (double *, double *, double *)", b.cross),
        py::native_function(quiver, "norm", "double (double *)", b.norm),
        py::native_function(quiver, "normalize", "void (double *, double *)", b.normalize),
    };
    if (py::bind_native(natives) < 0) return -1;
    bound = b;
    return 0;
}

// `from <package> import <name>` bound as the same name in `module`.
int add_from(PyObject* module, const char* package, const char* name) {
    Ref obj;
    const py::Sibling entry[] = {{package, name, Kind::object, &obj}};
    if (py::bind_siblings(entry, py::MissingName::ImportError) < 0) return -1;
    return PyModule_AddObjectRef(module, name, obj.get());
}

// A module imported and bound under its own name in `module`; the module, or empty.
Ref add_module(PyObject* module, const char* name) {
    Ref mod = Ref::steal(PyImport_ImportModule(name));
    if (!mod || PyModule_AddObjectRef(module, name, mod.get()) < 0) return {};
    return mod;
}

// The defaults a row's form gives its function, Earth.GM read afresh: a tuple, or empty (with
// no error set) for none.
Ref defaults_of(const cat::Function& f, PyObject* earth) {
    if (f.form->defaults == cat::Defaults::none) return {};
    Ref gm = Ref::steal(PyObject_GetAttrString(earth, "GM"));
    if (!gm) return {};
    if (f.form->defaults == cat::Defaults::earth_gm_float) {
        double value;
        if (to_double(gm.get(), value) < 0) return {};
        gm = Ref::steal(PyFloat_FromDouble(value));
        if (!gm) return {};
    }
    return Ref::steal(PyTuple_Pack(1, gm.get()));
}

}  // namespace

int coe_module::exec(PyObject* module, coe_state& st) noexcept {
    const int debug = py::debug_enabled();
    if (debug < 0) return -1;
    st.assertions = debug != 0;
    st.one = PyLong_FromLong(1);
    st.three_tuple = Py_BuildValue("(i)", 3);
    st.row_shape = Py_BuildValue("(ii)", 1, 3);
    if (!st.one || !st.three_tuple || !st.row_shape) return -1;

    // In this order, each failure ending the import with its own error: NumPy's C API; the
    // native table (_2pi is set below); the siblings' classes, objects and native functions;
    // the module-level names; 2π; the functions of the catalogue.
    if (py::import_numpy() < 0) return -1;
    if (py::export_capi(module, table) < 0) return -1;
    Ref earth;
    if (bind_siblings(earth) < 0) return -1;

    Ref numbers = add_module(module, "numbers");
    if (!numbers) return -1;
    Ref numpy = add_module(module, "numpy");
    if (!numpy || add_from(module, "orbivex.datamodel", "COE_dt") < 0 ||
        add_from(module, "orbivex.typing", "DatetimeLike") < 0)
        return -1;
    st.real = PyObject_GetAttr(numbers.get(), st.key_real);
    if (!st.real) return -1;
    st.numbers = numbers.release();
    st.numpy = numpy.release();

    two_pi_variable = k::two_pi;

    for (std::size_t i = 0; i < cat::n_functions; ++i) {
        Ref defaults = defaults_of(cat::functions[i], earth.get());
        if (PyErr_Occurred() ||
            py::add_function(module, &function_specs[i], module, defaults.get()) < 0)
            return -1;
    }
    return 0;
}

}  // namespace orbivex::coe

PyMODINIT_FUNC PyInit_coe() { return orbivex::py::Module<orbivex::coe::coe_module>::init(); }
