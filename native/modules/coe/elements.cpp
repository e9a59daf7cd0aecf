// The ten scalar-or-array functions of coe: size, period and mean motion; the anomalies.
#include <cstring>

#include "bound.hpp"
#include "common.hpp"
#include "kernels/coe.hpp"
#include "support/numpy.hpp"

namespace orbivex::coe {
namespace {

using py::Ref;
namespace k = kern::coe;
using Kernel = double (*)(double, double);

// The anomaly kernels as the loops call them: bound angle function, lock held.
double loop_eca_from_tra(double t, double e) { return k::eca_from_tra(t, e, LoopEnv{}); }
double loop_tra_from_eca(double a, double e) { return k::tra_from_eca(a, e, LoopEnv{}); }
double loop_tra_from_mea(double m, double e) { return k::tra_from_mea(m, e, LoopEnv{}); }
double loop_mea_from_tra(double t, double e) { return k::mea_from_tra(t, e, LoopEnv{}); }

// One argument of a call: a scalar object (converted for every element, as the contract reads)
// or an array read through its own item access; or, when nothing could tell the difference,
// a double converted once or a float64 buffer read directly.
struct Operand {
    PyObject* obj;
    bool array;
    double value = 0.0;
    const char* data = nullptr;
    Py_ssize_t stride = 0;

    // Exact float or int scalars; exact native-float64 ndarrays long enough for the loop.
    bool can_be_fast(Py_ssize_t n) const {
        if (!array) return PyFloat_CheckExact(obj) || PyLong_CheckExact(obj);
        if (!is_plain_double_array(obj, 1)) return false;
        return PyArray_DIM(reinterpret_cast<PyArrayObject*>(obj), 0) >= n;
    }
    int make_fast() {
        if (!array) return to_double(obj, value);
        auto* a = reinterpret_cast<PyArrayObject*>(obj);
        data = static_cast<const char*>(PyArray_DATA(a));
        stride = PyArray_STRIDE(a, 0);
        return 0;
    }
    int read(Py_ssize_t i, double& out) const {
        return array ? item_to_double(obj, i, out) : to_double(obj, out);
    }
};

inline double load(const char* p) {
    double x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

// Instantiated per operand kind so that a scalar stays in a register and arrays are read
// straight from their buffers.
template <Kernel K, bool CanFail, bool AArray, bool BArray>
int fast_loop(const View& out, Py_ssize_t n, const Operand& a, const Operand& b) {
    char* dst = out.at(0);
    const Py_ssize_t step = out.stride();
    const double av = a.value, bv = b.value;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (interrupted(i)) return -1;
        const double x = AArray ? load(a.data + i * a.stride) : av;
        const double y = BArray ? load(b.data + i * b.stride) : bv;
        const double r = K(x, y);
        if (CanFail && r == k::failed_result && PyErr_Occurred()) return -1;
        std::memcpy(dst + i * step, &r, sizeof r);
    }
    return 0;
}

// Fills out[0..n) with K(a[i], b[i]), converting a before b for every element.
template <Kernel K, bool CanFail>
int run(const View& out, Py_ssize_t n, Operand& a, Operand& b) {
    if (n > 0 && n <= out.len() && a.can_be_fast(n) && b.can_be_fast(n)) {
        if (a.make_fast() < 0 || b.make_fast() < 0) return -1;
        if (a.array && b.array) return fast_loop<K, CanFail, true, true>(out, n, a, b);
        if (a.array) return fast_loop<K, CanFail, true, false>(out, n, a, b);
        return fast_loop<K, CanFail, false, true>(out, n, a, b);
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        double x, y;
        if (interrupted(i) || a.read(i, x) < 0 || b.read(i, y) < 0) return -1;
        const double r = K(x, y);
        if (CanFail && r == k::failed_result && PyErr_Occurred()) return -1;
        if (i >= out.len()) {
            PyErr_SetString(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
            return -1;
        }
        out.store(i, r);
    }
    return 0;
}

template <Kernel K, bool CanFail>
PyObject* scalar_result(PyObject* a, PyObject* b) {
    double x, y;
    if (to_double(a, x) < 0 || to_double(b, y) < 0) return nullptr;
    const double r = K(x, y);
    if (CanFail && r == k::failed_result && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(r);
}

// `x.shape[0]` as an index.
int first_dimension(PyObject* x, const coe_state* st, Py_ssize_t& n) {
    if (PyArray_CheckExact(x) && PyArray_NDIM(reinterpret_cast<PyArrayObject*>(x)) >= 1) {
        n = PyArray_DIM(reinterpret_cast<PyArrayObject*>(x), 0);
        return 0;
    }
    Ref shape = Ref::steal(PyObject_GetAttr(x, st->str_shape));
    if (!shape) return -1;
    Ref first = Ref::steal(subscript(shape.get(), 0));
    if (!first) return -1;
    n = PyNumber_AsSsize_t(first.get(), PyExc_OverflowError);
    return (n == -1 && PyErr_Occurred()) ? -1 : 0;
}

// `a.shape[0] == b.shape[0]`: 1, 0 or -1.
int same_length(PyObject* a, PyObject* b, const coe_state* st) {
    Ref sa = Ref::steal(PyObject_GetAttr(a, st->str_shape));
    if (!sa) return -1;
    Ref la = Ref::steal(subscript(sa.get(), 0));
    if (!la) return -1;
    Ref sb = Ref::steal(PyObject_GetAttr(b, st->str_shape));
    if (!sb) return -1;
    Ref lb = Ref::steal(subscript(sb.get(), 0));
    if (!lb) return -1;
    Ref eq = Ref::steal(PyObject_RichCompare(la.get(), lb.get(), Py_EQ));
    return eq ? PyObject_IsTrue(eq.get()) : -1;
}

// `a.ndim == b.ndim == 1`, chained as Python evaluates it: 1, 0 or -1.
int both_one_dimensional(PyObject* a, PyObject* b, const coe_state* st) {
    Ref na = Ref::steal(PyObject_GetAttr(a, st->str_ndim));
    if (!na) return -1;
    Ref nb = Ref::steal(PyObject_GetAttr(b, st->str_ndim));
    if (!nb) return -1;
    Ref eq = Ref::steal(PyObject_RichCompare(na.get(), nb.get(), Py_EQ));
    if (!eq) return -1;
    const int same = PyObject_IsTrue(eq.get());
    if (same <= 0) return same;
    eq = Ref::steal(PyObject_RichCompare(nb.get(), st->one, Py_EQ));
    return eq ? PyObject_IsTrue(eq.get()) : -1;
}

// Allocates numpy.zeros_like(like), fills it and returns numpy.asarray of it.
template <Kernel K, bool CanFail>
PyObject* array_result(PyObject* module, coe_state* st, PyObject* like, Operand a,
                       Operand b, const Py_ssize_t* length) {
    Ref result = Ref::steal(call_numpy(module, st, st->str_zeros_like, like));
    if (!result) return nullptr;
    View view;
    if (view.acquire(result.get(), 1, 1) < 0) return nullptr;
    Py_ssize_t n = view.len();
    if (length && first_dimension(like, st, n) < 0) return nullptr;
    if (run<K, CanFail>(view, n, a, b) < 0) return nullptr;
    return call_numpy(module, st, st->str_asarray, result.get());
}

/// sma_from_orp and friends: one scalar-or-array argument and one scalar GM.
template <Kernel K>
PyObject* size_impl(PyObject* module, PyObject* const* argv) noexcept {
    coe_state* st = state_of(module);
    PyObject* x = argv[0];
    PyObject* gm = argv[1];
    const int scalar = is_real(module, st, x);
    if (scalar < 0) return nullptr;
    if (scalar) return scalar_result<K, false>(x, gm);
    if (st->assertions && check_assertion(attr_equals(x, st->str_ndim, st->one)) < 0)
        return nullptr;
    const Py_ssize_t loop_over_x_shape = 1;
    return array_result<K, false>(module, st, x, Operand{x, true}, Operand{gm, false},
                                  &loop_over_x_shape);
}

/// eca_from_mea and friends: anomaly and eccentricity, each a scalar or an array.
template <Kernel K, bool CanFail>
PyObject* anomaly_impl(PyObject* module, PyObject* const* argv) noexcept {
    coe_state* st = state_of(module);
    PyObject* a = argv[0];
    PyObject* b = argv[1];
    int a_real = is_real(module, st, a);
    if (a_real < 0) return nullptr;
    if (a_real) {
        const int b_real = is_real(module, st, b);
        if (b_real < 0) return nullptr;
        if (b_real) return scalar_result<K, CanFail>(a, b);
    }
    const int b_real = is_real(module, st, b);
    if (b_real < 0) return nullptr;
    if (b_real) {
        if (st->assertions && check_assertion(attr_equals(a, st->str_ndim, st->one)) < 0)
            return nullptr;
        return array_result<K, CanFail>(module, st, a, Operand{a, true}, Operand{b, false},
                                        nullptr);
    }
    a_real = is_real(module, st, a);
    if (a_real < 0) return nullptr;
    if (a_real) {
        if (st->assertions && check_assertion(attr_equals(b, st->str_ndim, st->one)) < 0)
            return nullptr;
        return array_result<K, CanFail>(module, st, b, Operand{a, false}, Operand{b, true},
                                        nullptr);
    }
    if (st->assertions && (check_assertion(both_one_dimensional(a, b, st)) < 0 ||
                           check_assertion(same_length(a, b, st)) < 0))
        return nullptr;
    return array_result<K, CanFail>(module, st, a, Operand{a, true}, Operand{b, true}, nullptr);
}

constexpr const char* ann_array = "double | ndarray[double]";

#define SIZE_PARAMS(first) static constexpr const char* first##_gm_names[] = {#first, "GM"};
SIZE_PARAMS(sma)
SIZE_PARAMS(orp)
SIZE_PARAMS(mnm)
#undef SIZE_PARAMS
static constexpr const char* ann_sma_gm[] = {"sma", ann_array, "GM", "double", "return", ann_array};
static constexpr const char* ann_orp_gm[] = {"orp", ann_array, "GM", "double", "return", ann_array};
static constexpr const char* ann_mnm_gm[] = {"mnm", ann_array, "GM", "double", "return", ann_array};

#define ANOMALY_PARAMS(first)                                                           \
    static constexpr const char* first##_ecc_names[] = {#first, "ecc"};                 \
    static constexpr const char* ann_##first##_ecc[] = {#first, ann_array, "ecc", ann_array, \
                                                        "return", ann_array};
ANOMALY_PARAMS(mea)
ANOMALY_PARAMS(eca)
ANOMALY_PARAMS(tra)
#undef ANOMALY_PARAMS

#define SIG1(name, first)                                                                  \
    #name "(" #first ": double | ndarray[double], GM: double = Earth.GM) -> double | "     \
          "ndarray[double]\n\n"
#define SIG2(name, first)                                                                  \
    #name "(" #first ": double | ndarray[double], ecc: double | ndarray[double]) -> double " \
          "| ndarray[double]\n\n"

}  // namespace

// Documentation: the signature line, what is computed, then the parameters.
#define SIZE_TAIL                                                                              \
    "\nGM: gravitational parameter of the central body in m^3/s^2 (default: that of the "      \
    "Earth, read at import).\nA scalar gives a float; a one-dimensional float64 array gives a " \
    "new array of its length."
#define ANOMALY_TAIL                                                                            \
    "\necc: eccentricity (dimensionless).\nEach argument is a scalar or a one-dimensional "      \
    "array (two arrays must have equal length; there is no broadcasting). Scalars give a "      \
    "float, otherwise a new float64 array. Angles are not wrapped into a turn."

const py::FunctionSpec size_specs[4] = {
    {"orp_from_sma", nullptr,
     SIG1(orp_from_sma, sma) "Orbital period in seconds from the semimajor axis.\n\n"
                             "ORP = 2π * a * sqrt(a / GM)\n\nsma: semimajor axis in metres." SIZE_TAIL,
     {sma_gm_names, 1, 2}, ann_sma_gm, size_impl<k::orp_from_sma>},
    {"sma_from_orp", nullptr,
     SIG1(sma_from_orp, orp) "Semimajor axis in metres from the orbital period.\n\n"
                             "SMA = [GM * (ORP / 2π)^2]^{1/3}\n\norp: orbital period in seconds." SIZE_TAIL,
     {orp_gm_names, 1, 2}, ann_orp_gm, size_impl<k::sma_from_orp>},
    {"mnm_from_sma", nullptr,
     SIG1(mnm_from_sma, sma) "Mean motion in radians per second from the semimajor axis.\n\n"
                             "MNM = sqrt(GM / a) / a\n\nsma: semimajor axis in metres." SIZE_TAIL,
     {sma_gm_names, 1, 2}, ann_sma_gm, size_impl<k::mnm_from_sma>},
    {"sma_from_mnm", nullptr,
     SIG1(sma_from_mnm, mnm) "Semimajor axis in metres from the mean motion.\n\n"
                             "a = [GM / mnm^2]^{1/3}\n\nmnm: mean motion in radians per second." SIZE_TAIL,
     {mnm_gm_names, 1, 2}, ann_mnm_gm, size_impl<k::sma_from_mnm>},
};

const py::FunctionSpec anomaly_specs[6] = {
    {"eca_from_mea", nullptr,
     SIG2(eca_from_mea, mea) "Eccentric anomaly in radians from the mean anomaly: Kepler's "
                             "equation MEA = ECA - ecc * sin(ECA), solved by Newton-Raphson.\n\n"
                             "mea: mean anomaly in radians; the result keeps its turn." ANOMALY_TAIL,
     {mea_ecc_names, 2, 2}, ann_mea_ecc, anomaly_impl<k::eca_from_mea, false>},
    {"mea_from_eca", nullptr,
     SIG2(mea_from_eca, eca) "Mean anomaly in radians from the eccentric anomaly: "
                             "MEA = ECA - ecc * sin(ECA).\n\neca: eccentric anomaly in radians."
                                 ANOMALY_TAIL,
     {eca_ecc_names, 2, 2}, ann_eca_ecc, anomaly_impl<k::mea_from_eca, false>},
    {"eca_from_tra", nullptr,
     SIG2(eca_from_tra, tra) "Eccentric anomaly in radians from the true anomaly.\n\n"
                             "tra: true anomaly in radians." ANOMALY_TAIL,
     {tra_ecc_names, 2, 2}, ann_tra_ecc, anomaly_impl<loop_eca_from_tra, true>},
    {"tra_from_eca", nullptr,
     SIG2(tra_from_eca, eca) "True anomaly in radians from the eccentric anomaly.\n\n"
                             "eca: eccentric anomaly in radians." ANOMALY_TAIL,
     {eca_ecc_names, 2, 2}, ann_eca_ecc, anomaly_impl<loop_tra_from_eca, true>},
    {"tra_from_mea", nullptr,
     SIG2(tra_from_mea, mea) "True anomaly in radians from the mean anomaly, through the "
                             "eccentric anomaly (Kepler's equation).\n\n"
                             "mea: mean anomaly in radians." ANOMALY_TAIL,
     {mea_ecc_names, 2, 2}, ann_mea_ecc, anomaly_impl<loop_tra_from_mea, true>},
    {"mea_from_tra", nullptr,
     SIG2(mea_from_tra, tra) "Mean anomaly in radians from the true anomaly, through the "
                             "eccentric anomaly.\n\ntra: true anomaly in radians." ANOMALY_TAIL,
     {tra_ecc_names, 2, 2}, ann_tra_ecc, anomaly_impl<loop_mea_from_tra, true>},
};

}  // namespace orbivex::coe
