// The scalar-or-array functions of coe (size, period and mean motion; the anomalies) and the
// table of all the module's functions.
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

// An anomaly kernel as the loops call it: bound angle function, lock held.
template <double (*K)(double, double, const LoopEnv&) noexcept>
double in_loop(double a, double b) {
    return K(a, b, LoopEnv{});
}

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
int fast_loop(const py::Buffer& out, Py_ssize_t n, const Operand& a, const Operand& b) {
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
int run(const py::Buffer& out, Py_ssize_t n, Operand& a, Operand& b) {
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
PyObject* array_result(PyObject* module, coe_state* st, PyObject* like, Operand a, Operand b,
                       const Py_ssize_t* length) {
    Ref result = Ref::steal(call_numpy(module, st, st->str_zeros_like, like));
    if (!result) return nullptr;
    py::Buffer view;
    if (view.acquire_doubles(result.get(), 1, py::Access::writable, got_format) < 0) return nullptr;
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

// The glue of each form: size and anomaly over kern::coe::<name>, anomaly_bound the same
// through the bound angle function; the state-vector rows have their own.
#define ORBIVEX_GLUE_size(name) size_impl<k::name>
#define ORBIVEX_GLUE_anomaly(name) anomaly_impl<k::name, false>
#define ORBIVEX_GLUE_anomaly_bound(name) anomaly_impl<in_loop<k::name<LoopEnv>>, true>
#define ORBIVEX_GLUE_coe_from_sv(name) coe_from_sv_impl
#define ORBIVEX_GLUE_sv_from_coe(name) sv_from_coe_impl

constexpr py::FunctionSpec function_of(cat::Fn row, py::FunctionImpl impl) {
    const cat::Function& f = cat::function(row);
    return {f.name, nullptr, f.doc.c_str(), f.params(), f.annotation_list(), impl};
}

}  // namespace

const py::FunctionSpec function_specs[cat::n_functions] = {
#define ORBIVEX_ROW(name, form, ...) function_of(cat::Fn::name, ORBIVEX_GLUE_##form(name)),
    ORBIVEX_COE_FUNCTIONS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};
#undef ORBIVEX_GLUE_size
#undef ORBIVEX_GLUE_anomaly
#undef ORBIVEX_GLUE_anomaly_bound
#undef ORBIVEX_GLUE_coe_from_sv
#undef ORBIVEX_GLUE_sv_from_coe

}  // namespace orbivex::coe
