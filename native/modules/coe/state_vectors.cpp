// coe_from_sv and sv_from_coe: whole arrays of state vectors to and from COE_dt records.
#include <cstring>

#include "bound.hpp"
#include "common.hpp"
#include "kernels/coe.hpp"
#include "kernels/records.hpp"
#include "support/numpy.hpp"

namespace orbivex::coe {
namespace {

using py::Ref;
namespace k = kern::coe;

constexpr int coe_doubles = sizeof(COE_t) / sizeof(double);
static_assert(sizeof(COE_t) == 7 * sizeof(double));

// obj[i, j] through the object's own item access, as a double.
int item2_to_double(PyObject* obj, Py_ssize_t i, Py_ssize_t j, double& out) {
    Ref key = Ref::steal(Py_BuildValue("(nn)", i, j));
    if (!key) return -1;
    Ref item = Ref::steal(PyObject_GetItem(obj, key.get()));
    if (!item) return -1;
    return to_double(item.get(), out);
}

// `obj.shape[axis]` as a Python object.
PyObject* shape_at(PyObject* obj, const coe_state* st, Py_ssize_t axis) {
    Ref shape = Ref::steal(PyObject_GetAttr(obj, st->str_shape));
    if (!shape) return nullptr;
    return subscript(shape.get(), axis);
}

int objects_equal(PyObject* a, PyObject* b) {
    Ref eq = Ref::steal(PyObject_RichCompare(a, b, Py_EQ));
    return eq ? PyObject_IsTrue(eq.get()) : -1;
}

// The shape checks of coe_from_sv for two-dimensional input, in their order.
int check_rows(PyObject* r, PyObject* v, const coe_state* st) {
    Ref two = Ref::steal(PyLong_FromLong(2));
    Ref three = Ref::steal(PyLong_FromLong(3));
    Ref rn = Ref::steal(PyObject_GetAttr(r, st->str_ndim));
    if (!two || !three || !rn) return -1;
    Ref vn = Ref::steal(PyObject_GetAttr(v, st->str_ndim));
    if (!vn) return -1;
    int ok = objects_equal(rn.get(), vn.get());
    if (ok > 0) ok = objects_equal(vn.get(), two.get());
    if (check_assertion(ok) < 0) return -1;
    Ref r0 = Ref::steal(shape_at(r, st, 0));
    if (!r0) return -1;
    Ref v0 = Ref::steal(shape_at(v, st, 0));
    if (!v0 || check_assertion(objects_equal(r0.get(), v0.get())) < 0) return -1;
    Ref r1 = Ref::steal(shape_at(r, st, 1));
    if (!r1) return -1;
    Ref v1 = Ref::steal(shape_at(v, st, 1));
    if (!v1) return -1;
    ok = objects_equal(r1.get(), v1.get());
    if (ok > 0) ok = objects_equal(v1.get(), three.get());
    return check_assertion(ok);
}

// v.shape == r.shape == (3,)
int check_single(PyObject* r, PyObject* v, const coe_state* st) {
    Ref vs = Ref::steal(PyObject_GetAttr(v, st->str_shape));
    if (!vs) return -1;
    Ref rs = Ref::steal(PyObject_GetAttr(r, st->str_shape));
    if (!rs) return -1;
    int ok = objects_equal(vs.get(), rs.get());
    if (ok > 0) ok = objects_equal(rs.get(), st->three_tuple);
    return check_assertion(ok);
}

// numpy.zeros(shape=shape, dtype=<dtype>) with the module-level names, evaluated as Python
// does: `numpy.zeros` first, then the dtype (`COE_dt` for records, else `numpy.double`).
PyObject* zeros(PyObject* module, const coe_state* st, PyObject* shape, bool records) {
    Ref numpy = Ref::steal(global(module, st->key_numpy));
    if (!numpy) return nullptr;
    Ref f = Ref::steal(PyObject_GetAttr(numpy.get(), st->str_zeros));
    if (!f) return nullptr;
    Ref dtype;
    if (records) {
        dtype = Ref::steal(global(module, st->key_coe_dt));
    } else {
        numpy = Ref::steal(global(module, st->key_numpy));
        if (!numpy) return nullptr;
        dtype = Ref::steal(PyObject_GetAttr(numpy.get(), st->str_double));
    }
    if (!dtype) return nullptr;
    Ref kwargs = Ref::steal(PyDict_New());
    if (!kwargs || PyDict_SetItem(kwargs.get(), st->str_shape, shape) < 0 ||
        PyDict_SetItem(kwargs.get(), st->str_dtype, dtype.get()) < 0)
        return nullptr;
    Ref args = Ref::steal(PyTuple_New(0));
    if (!args) return nullptr;
    return PyObject_Call(f.get(), args.get(), kwargs.get());
}

// Exact float64 ndarray of at least `rows` rows and three columns: read directly.
bool direct_rows(PyObject* obj, Py_ssize_t rows) {
    if (!is_plain_double_array(obj, 2)) return false;
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    return PyArray_DIM(a, 0) >= rows && PyArray_DIM(a, 1) >= 3;
}

// Copies a local 3-vector into a row whose components lie `step` bytes apart.
inline void store_row(char* row, Py_ssize_t step, const double* x) {
    for (int j = 0; j < 3; ++j) std::memcpy(row + j * step, &x[j], sizeof(double));
}

inline void load_row(const char* row, Py_ssize_t step, double* x) {
    for (int j = 0; j < 3; ++j) std::memcpy(&x[j], row + j * step, sizeof(double));
}

int fill_elements(const View& out, Py_ssize_t n, PyObject* r, PyObject* v, double gm) {
    if (n > out.len()) {
        PyErr_SetString(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
        return -1;
    }
    char* dst = out.at(0);
    const Py_ssize_t dst_step = out.stride();
    if (n > 0 && direct_rows(r, n) && direct_rows(v, n)) {
        auto* ra = reinterpret_cast<PyArrayObject*>(r);
        auto* va = reinterpret_cast<PyArrayObject*>(v);
        const char* rp = PyArray_BYTES(ra);
        const char* vp = PyArray_BYTES(va);
        const npy_intp r0 = PyArray_STRIDE(ra, 0), r1 = PyArray_STRIDE(ra, 1);
        const npy_intp v0 = PyArray_STRIDE(va, 0), v1 = PyArray_STRIDE(va, 1);
        for (Py_ssize_t i = 0; i < n; ++i, rp += r0, vp += v0, dst += dst_step) {
            if (interrupted(i)) return -1;
            double lr[3], lv[3];
            load_row(rp, r1, lr);
            load_row(vp, v1, lv);
            COE_t rec;
            k::coe_from_sv(lr, lv, gm, &rec, LoopEnv{});
            if (PyErr_Occurred()) return -1;
            std::memcpy(dst, &rec, sizeof rec);
        }
        return 0;
    }
    for (Py_ssize_t i = 0; i < n; ++i, dst += dst_step) {
        if (interrupted(i)) return -1;
        double lr[3], lv[3];
        for (Py_ssize_t j = 0; j < 3; ++j) {
            if (item2_to_double(r, i, j, lr[j]) < 0 || item2_to_double(v, i, j, lv[j]) < 0)
                return -1;
        }
        COE_t rec;
        k::coe_from_sv(lr, lv, gm, &rec, LoopEnv{});
        if (PyErr_Occurred()) return -1;
        std::memcpy(dst, &rec, sizeof rec);
    }
    return 0;
}

PyObject* coe_from_sv_impl(PyObject* module, PyObject* const* argv) noexcept {
    coe_state* st = state_of(module);
    double gm;
    if (to_double(argv[2], gm) < 0) return nullptr;
    Ref r = Ref::borrow(argv[0]);
    Ref v = Ref::borrow(argv[1]);
    const int single = attr_equals(r.get(), st->str_ndim, st->one);
    if (single < 0) return nullptr;
    if (single) {
        if (st->assertions && check_single(r.get(), v.get(), st) < 0) return nullptr;
        r = Ref::steal(PyObject_CallMethodOneArg(r.get(), st->str_reshape, st->row_shape));
        if (!r) return nullptr;
        v = Ref::steal(PyObject_CallMethodOneArg(v.get(), st->str_reshape, st->row_shape));
        if (!v) return nullptr;
    } else if (st->assertions && check_rows(r.get(), v.get(), st) < 0) {
        return nullptr;
    }
    Ref rows = Ref::steal(shape_at(r.get(), st, 0));
    if (!rows) return nullptr;
    const Py_ssize_t n = PyNumber_AsSsize_t(rows.get(), PyExc_OverflowError);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    Ref count = Ref::steal(PyLong_FromSsize_t(n));
    if (!count) return nullptr;
    Ref result = Ref::steal(zeros(module, st, count.get(), true));
    if (!result) return nullptr;
    {
        View view;
        if (view.acquire(result.get(), 1, coe_doubles) < 0) return nullptr;
        if (fill_elements(view, n, r.get(), v.get(), gm) < 0) return nullptr;
    }
    return call_numpy(module, st, st->str_asarray, result.get());
}

PyObject* sv_from_coe_impl(PyObject* module, PyObject* const* argv) noexcept {
    coe_state* st = state_of(module);
    PyObject* coe = argv[0];
    double gm;
    if (to_double(argv[1], gm) < 0) return nullptr;
    if (coe == Py_None) {  // an empty typed view; asking it for its shape fails
        PyErr_SetString(PyExc_AttributeError, "'NoneType' object has no attribute 'shape'");
        return nullptr;
    }
    View records;
    if (records.acquire(coe, 1, coe_doubles) < 0) return nullptr;
    const Py_ssize_t n = records.len();
    Ref shape = Ref::steal(Py_BuildValue("(ni)", n, 3));
    if (!shape) return nullptr;
    Ref r = Ref::steal(zeros(module, st, shape.get(), false));
    if (!r) return nullptr;
    Ref v = Ref::steal(zeros(module, st, shape.get(), false));
    if (!v) return nullptr;
    {
        View rv, vv;
        if (rv.acquire(r.get(), 2, 1) < 0 || vv.acquire(v.get(), 2, 1) < 0) return nullptr;
        if (rv.len(0) < n || vv.len(0) < n || rv.len(1) < 3 || vv.len(1) < 3) {
            PyErr_SetString(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
            return nullptr;
        }
        const char* src = records.at(0);
        char* rp = rv.at(0);
        char* vp = vv.at(0);
        const Py_ssize_t src_step = records.stride(), r0 = rv.stride(0), r1 = rv.stride(1);
        const Py_ssize_t v0 = vv.stride(0), v1 = vv.stride(1);
        for (Py_ssize_t i = 0; i < n; ++i, src += src_step, rp += r0, vp += v0) {
            if (interrupted(i)) return nullptr;
            COE_t rec;
            std::memcpy(&rec, src, sizeof rec);
            double lr[3], lv[3];
            k::sv_from_coe(rec, gm, lr, lv);
            store_row(rp, r1, lr);
            store_row(vp, v1, lv);
        }
    }
    Ref ra = Ref::steal(call_numpy(module, st, st->str_asarray, r.get()));
    if (!ra) return nullptr;
    Ref va = Ref::steal(call_numpy(module, st, st->str_asarray, v.get()));
    if (!va) return nullptr;
    return PyTuple_Pack(2, ra.get(), va.get());
}

constexpr const char* coe_from_sv_names[] = {"r", "v", "GM"};
constexpr const char* coe_from_sv_ann[] = {"r",      "ndarray[double]", "v", "ndarray[double]",
                                           "GM",     "float",           "return",
                                           "ndarray[COE_dt]"};
constexpr const char* sv_from_coe_names[] = {"coe", "GM"};
constexpr const char* sv_from_coe_ann[] = {"coe", "ndarray[COE_dt]", "GM", "float", "return",
                                           "tuple[ndarray[double], 2]"};

}  // namespace

const py::FunctionSpec coe_from_sv_spec = {
    "coe_from_sv", nullptr,
    "coe_from_sv(r: ndarray[double], v: ndarray[double], double GM: float = Earth.GM) -> "
    "ndarray[COE_dt]\n\n"
    "Classical orbital elements of the orbits through Cartesian states.\n\n"
    "r: positions in metres, shape (3,) or (N, 3), in an inertial frame.\n"
    "v: velocities in metres per second, the same shape as r, in the same frame.\n"
    "GM: gravitational parameter of the central body in m^3/s^2 (default: that of the Earth).\n\n"
    "Returns an array of N COE_dt records (one for a single state): ecc eccentricity,\n"
    "sma semimajor axis (m, +inf for a parabola, negative for a hyperbola), inc inclination,\n"
    "raa right ascension of the ascending node, arp argument of periapsis, tra true anomaly\n"
    "(radians), slr semilatus rectum (m). Zero angular momentum gives seven NaNs.",
    {coe_from_sv_names, 2, 3}, coe_from_sv_ann, coe_from_sv_impl};

const py::FunctionSpec sv_from_coe_spec = {
    "sv_from_coe", nullptr,
    "sv_from_coe(coe: ndarray[COE_dt], double GM: float = Earth.GM) -> "
    "tuple[ndarray[double], 2]\n\n"
    "Cartesian states of the orbits given by classical orbital elements.\n\n"
    "coe: one-dimensional writable array of COE_dt records (seven float64 fields): ecc\n"
    "eccentricity, sma semimajor axis (m, not used), inc inclination, raa right ascension of\n"
    "the ascending node, arp argument of periapsis, tra true anomaly (radians), slr semilatus\n"
    "rectum (m).\n"
    "GM: gravitational parameter of the central body in m^3/s^2 (default: that of the Earth).\n\n"
    "Returns (r, v): positions in metres and velocities in metres per second, each of shape\n"
    "(N, 3), in the inertial frame of the elements.",
    {sv_from_coe_names, 1, 2}, sv_from_coe_ann, sv_from_coe_impl};

}  // namespace orbivex::coe
