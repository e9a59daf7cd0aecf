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

// Both exact ndarrays: their ndim, shape and reshape are the array's own, read directly.
bool both_exact(PyObject* r, PyObject* v) { return PyArray_CheckExact(r) && PyArray_CheckExact(v); }

inline PyArrayObject* as_array(PyObject* obj) { return reinterpret_cast<PyArrayObject*>(obj); }

// check_rows for two exact ndarrays.
int check_rows_exact(PyArrayObject* r, PyArrayObject* v) {
    return check_assertion(PyArray_NDIM(r) == PyArray_NDIM(v) && PyArray_NDIM(v) == 2 &&
                           PyArray_DIM(r, 0) == PyArray_DIM(v, 0) &&
                           PyArray_DIM(r, 1) == PyArray_DIM(v, 1) && PyArray_DIM(v, 1) == 3);
}

// check_single for two exact ndarrays, r one-dimensional.
int check_single_exact(PyArrayObject* r, PyArrayObject* v) {
    return check_assertion(PyArray_NDIM(v) == 1 && PyArray_DIM(v, 0) == PyArray_DIM(r, 0) &&
                           PyArray_DIM(r, 0) == 3);
}

// obj.reshape((1, 3)); for an exact ndarray the method's own operation, without the call.
PyObject* one_row(PyObject* obj, const coe_state* st) {
    if (!PyArray_CheckExact(obj))
        return PyObject_CallMethodOneArg(obj, st->str_reshape, st->row_shape);
    npy_intp dims[2] = {1, 3};
    PyArray_Dims shape = {dims, 2};
    return PyArray_Newshape(as_array(obj), &shape, NPY_CORDER);
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

// Records [0, n) from two exact float64 arrays of at least n rows of three, read directly.
// Plain: rows of contiguous doubles and aligned records, read and written in place.
template <bool Plain>
[[gnu::flatten]] int fill_elements_direct(const py::Buffer& out, Py_ssize_t n, PyArrayObject* ra,
                                          PyArrayObject* va, double gm) {
    char* dst = out.at(0);
    const Py_ssize_t dst_step = out.stride();
    const HeldEnv env;
    const char* rp = PyArray_BYTES(ra);
    const char* vp = PyArray_BYTES(va);
    constexpr npy_intp next = sizeof(double);
    const npy_intp r0 = PyArray_STRIDE(ra, 0), r1 = Plain ? next : PyArray_STRIDE(ra, 1);
    const npy_intp v0 = PyArray_STRIDE(va, 0), v1 = Plain ? next : PyArray_STRIDE(va, 1);
    for (Py_ssize_t i = 0; i < n; ++i, rp += r0, vp += v0, dst += dst_step) {
        if (interrupted(i)) return -1;
        double lr[3], lv[3];
        load_row(rp, r1, lr);
        load_row(vp, v1, lv);
        if constexpr (Plain) {
            k::coe_from_sv(lr, lv, gm, reinterpret_cast<COE_t*>(dst), env);
            if (env.failed()) return -1;
        } else {
            COE_t rec;
            k::coe_from_sv(lr, lv, gm, &rec, env);
            if (env.failed()) return -1;
            std::memcpy(dst, &rec, sizeof rec);
        }
    }
    return 0;
}

// Whether fill_elements_direct<true> may run.
bool plain_rows(PyArrayObject* ra, PyArrayObject* va, const py::Buffer& out) {
    const auto aligned = [](const void* p, Py_ssize_t step) {
        return (reinterpret_cast<uintptr_t>(p) | static_cast<uintptr_t>(step)) % alignof(double) ==
               0;
    };
    constexpr npy_intp next = sizeof(double);
    return PyArray_STRIDE(ra, 1) == next && PyArray_STRIDE(va, 1) == next &&
           aligned(out.at(0), out.stride());
}

int fill_elements(const py::Buffer& out, Py_ssize_t n, PyObject* r, PyObject* v, double gm) {
    if (n > out.len()) {
        PyErr_SetString(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
        return -1;
    }
    if (n > 0 && direct_rows(r, n) && direct_rows(v, n)) {
        return plain_rows(as_array(r), as_array(v), out)
                   ? fill_elements_direct<true>(out, n, as_array(r), as_array(v), gm)
                   : fill_elements_direct<false>(out, n, as_array(r), as_array(v), gm);
    }
    char* dst = out.at(0);
    const Py_ssize_t dst_step = out.stride();
    const HeldEnv env;
    for (Py_ssize_t i = 0; i < n; ++i, dst += dst_step) {
        if (interrupted(i)) return -1;
        double lr[3], lv[3];
        for (Py_ssize_t j = 0; j < 3; ++j) {
            if (item2_to_double(r, i, j, lr[j]) < 0 || item2_to_double(v, i, j, lv[j]) < 0)
                return -1;
        }
        COE_t rec;
        k::coe_from_sv(lr, lv, gm, &rec, env);
        if (env.failed()) return -1;
        std::memcpy(dst, &rec, sizeof rec);
    }
    return 0;
}

}  // namespace

PyObject* coe_from_sv_impl(PyObject* module, PyObject* const* argv) noexcept {
    coe_state* st = state_of(module);
    double gm;
    if (to_double(argv[2], gm) < 0) return nullptr;
    Ref r = Ref::borrow(argv[0]);
    Ref v = Ref::borrow(argv[1]);
    const bool exact = both_exact(r.get(), v.get());
    const int single =
        exact ? PyArray_NDIM(as_array(r.get())) == 1 : attr_equals(r.get(), st->str_ndim, st->one);
    if (single < 0) return nullptr;
    if (single) {
        if (st->assertions && (exact ? check_single_exact(as_array(r.get()), as_array(v.get()))
                                     : check_single(r.get(), v.get(), st)) < 0)
            return nullptr;
        r = Ref::steal(one_row(r.get(), st));
        if (!r) return nullptr;
        v = Ref::steal(one_row(v.get(), st));
        if (!v) return nullptr;
    } else if (st->assertions && (exact ? check_rows_exact(as_array(r.get()), as_array(v.get()))
                                        : check_rows(r.get(), v.get(), st)) < 0) {
        return nullptr;
    }
    Py_ssize_t n;
    if (PyArray_CheckExact(r.get()) && PyArray_NDIM(as_array(r.get())) >= 1) {
        n = PyArray_DIM(as_array(r.get()), 0);
    } else {
        Ref rows = Ref::steal(shape_at(r.get(), st, 0));
        if (!rows) return nullptr;
        n = PyNumber_AsSsize_t(rows.get(), PyExc_OverflowError);
        if (n == -1 && PyErr_Occurred()) return nullptr;
    }
    Ref count = Ref::steal(PyLong_FromSsize_t(n));
    if (!count) return nullptr;
    Ref result = Ref::steal(zeros(module, st, count.get(), true));
    if (!result) return nullptr;
    {
        py::Buffer view;
        if (view.acquire_records(result.get(), 1, coe_doubles, "COE_t", &st->plain_records) < 0)
            return nullptr;
        if (fill_elements(view, n, r.get(), v.get(), gm) < 0) return nullptr;
    }
    return call_numpy(module, st, st->str_asarray, result.get());
}

namespace {

// Items at `w.at(i)` aligned for doubles, for every i.
bool aligned_items(const py::Buffer& w) {
    return (reinterpret_cast<uintptr_t>(w.at(0)) | static_cast<uintptr_t>(w.stride(0))) %
               alignof(double) ==
           0;
}

// Rows of three doubles, contiguous and aligned: the kernel can write them in place.
bool rows_in_place(const py::Buffer& w) {
    return w.stride(1) == static_cast<Py_ssize_t>(sizeof(double)) && aligned_items(w);
}

// The kernel out of line: a copy inlined into the loop may order the operands of a commutative
// operation otherwise, which changes no number, only the sign of a NaN carried from NaN input.
[[gnu::noinline]] void sv_kernel(const COE_t& rec, double gm, double* r, double* v) {
    k::sv_from_coe(rec, gm, r, v);
}

// Rows [0, n) of the positions and velocities from the records: aligned records and rows of
// three contiguous doubles are read and written in place (InPlace), anything else through
// local copies. The kernel reads the whole record before it writes, as the copy would.
template <bool InPlace>
int fill_states(const py::Buffer& records, const py::Buffer& rv, const py::Buffer& vv, Py_ssize_t n,
                double gm) {
    const char* src = records.at(0);
    char* rp = rv.at(0);
    char* vp = vv.at(0);
    const Py_ssize_t src_step = records.stride(), r0 = rv.stride(0), r1 = rv.stride(1);
    const Py_ssize_t v0 = vv.stride(0), v1 = vv.stride(1);
    for (Py_ssize_t i = 0; i < n; ++i, src += src_step, rp += r0, vp += v0) {
        if (interrupted(i)) return -1;
        if constexpr (InPlace) {
            sv_kernel(*reinterpret_cast<const COE_t*>(src), gm, reinterpret_cast<double*>(rp),
                      reinterpret_cast<double*>(vp));
        } else {
            COE_t rec;
            std::memcpy(&rec, src, sizeof rec);
            double lr[3], lv[3];
            sv_kernel(rec, gm, lr, lv);
            store_row(rp, r1, lr);
            store_row(vp, v1, lv);
        }
    }
    return 0;
}

}  // namespace

PyObject* sv_from_coe_impl(PyObject* module, PyObject* const* argv) noexcept {
    coe_state* st = state_of(module);
    PyObject* coe = argv[0];
    double gm;
    if (to_double(argv[1], gm) < 0) return nullptr;
    if (coe == Py_None) {  // an empty typed view; asking it for its shape fails
        PyErr_SetString(PyExc_AttributeError, "'NoneType' object has no attribute 'shape'");
        return nullptr;
    }
    py::Buffer records;
    if (records.acquire_records(coe, 1, coe_doubles, "COE_t", &st->plain_records) < 0)
        return nullptr;
    const Py_ssize_t n = records.len();
    Ref rows = Ref::steal(PyLong_FromSsize_t(n));
    if (!rows) return nullptr;
    Ref shape = Ref::steal(PyTuple_Pack(2, rows.get(), PyTuple_GET_ITEM(st->three_tuple, 0)));
    if (!shape) return nullptr;
    Ref r = Ref::steal(zeros(module, st, shape.get(), false));
    if (!r) return nullptr;
    Ref v = Ref::steal(zeros(module, st, shape.get(), false));
    if (!v) return nullptr;
    {
        py::Buffer rv, vv;
        if (rv.acquire_doubles(r.get(), 2, py::Access::writable, got_format) < 0 ||
            vv.acquire_doubles(v.get(), 2, py::Access::writable, got_format) < 0)
            return nullptr;
        if (rv.len(0) < n || vv.len(0) < n || rv.len(1) < 3 || vv.len(1) < 3) {
            PyErr_SetString(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
            return nullptr;
        }
        const int filled = aligned_items(records) && rows_in_place(rv) && rows_in_place(vv)
                               ? fill_states<true>(records, rv, vv, n, gm)
                               : fill_states<false>(records, rv, vv, n, gm);
        if (filled < 0) return nullptr;
    }
    Ref ra = Ref::steal(call_numpy(module, st, st->str_asarray, r.get()));
    if (!ra) return nullptr;
    Ref va = Ref::steal(call_numpy(module, st, st->str_asarray, v.get()));
    if (!va) return nullptr;
    return PyTuple_Pack(2, ra.get(), va.get());
}

}  // namespace orbivex::coe
