// orbivex.mathtools.quiver.quiver: publishes the 3-vector kernels and the row-wise N×3 kernels.
#define ORBIVEX_NUMPY_IMPORT
#include <Python.h>

#include <array>
#include <cstring>

#include "kernels/quiver.hpp"
#include "support/buffer.hpp"
#include "support/capi.hpp"
#include "support/globals.hpp"
#include "support/module.hpp"
#include "support/numpy.hpp"
#include "support/ref.hpp"

namespace {

namespace kern = orbivex::kern;
using orbivex::py::Buffer;
using orbivex::py::Ref;

// Exported entries: the kernels under the C types of their signature texts. Pure and lock-free.
void scale(const double scalar, double* a, double* c) noexcept { kern::scale(scalar, a, c); }
void add(double* a, double* b, double* c) noexcept { kern::add(a, b, c); }
void sub(double* a, double* b, double* c) noexcept { kern::sub(a, b, c); }
double dot(double* a, double* b) noexcept { return kern::dot(a, b); }
void cross(double* a, double* b, double* c) noexcept { kern::cross(a, b, c); }
double norm(double* a) noexcept { return kern::norm(a); }
double angle(double* a, double* b) noexcept { return kern::angle(a, b); }
void normalize(double* a, double* u) noexcept { kern::normalize(a, u); }
void mat_x_vec(double (*M)[3], double* a, double* b) noexcept { kern::mat_x_vec(M, a, b); }

// The row-wise kernels are called through bare pointers and cannot receive the module, so they
// reach its globals through this process-lifetime reference (as Cython modules keep theirs);
// the module initialises once per process.
PyObject* quiver_globals = nullptr;

/// Rows of a two-dimensional float64 buffer, addressed by byte strides.
struct Rows {
    const char* data;
    Py_ssize_t n;
    Py_ssize_t row_stride;
    Py_ssize_t col_stride;
};

double load(const char* p) noexcept {
    double v;  // memcpy: a strided view need not be aligned for double
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(char* p, double v) noexcept { std::memcpy(p, &v, sizeof v); }

/// Views `a` as rows of at least three float64 columns; any strides, read-only accepted.
int input_rows(const char* func, PyObject* a, Buffer& buf, Rows& rows) noexcept {
    if (buf.acquire_doubles(a, 2, orbivex::py::Access::read_only) < 0) return -1;
    // Three columns are read from every row: refuse narrower input rather than read past it.
    if (buf.len(1) < 3) {
        PyErr_Format(PyExc_ValueError, "%s() needs at least 3 columns (got %zd)", func, buf.len(1));
        return -1;
    }
    rows = {buf.at(0), buf.len(0), buf.stride(0), buf.stride(1)};
    return 0;
}

/// `numpy.zeros(shape=shape, dtype=numpy.double)` with the module-level names of now.
Ref zeros(PyObject* shape) noexcept {
    return Ref::steal(orbivex::py::numpy_zeros(quiver_globals, shape));
}

/// Writable float64 buffer of `result`, checked to have `ndim` dimensions and shape (n[, 3]).
int output_view(PyObject* result, int ndim, Py_ssize_t n, Buffer& buf) noexcept {
    if (buf.acquire(result, PyBUF_RECORDS) < 0) return -1;
    const Py_buffer& v = buf.view();
    if (v.ndim != ndim || v.shape[0] != n || (ndim == 2 && v.shape[1] != 3) ||
        v.itemsize != sizeof(double) || !orbivex::py::is_native_double_format(v.format)) {
        PyErr_SetString(PyExc_ValueError,
                        "numpy.zeros did not return a float64 array of the requested shape");
        return -1;
    }
    return 0;
}

// Row loops over byte strides. The Packed instantiation fixes the strides of C-contiguous N×3
// input and output at compile time, which lets the compiler schedule the rows freely.
constexpr Py_ssize_t packed_col = sizeof(double);
constexpr Py_ssize_t packed_row = 3 * sizeof(double);

template <bool Packed>
void norm_rows(const Rows& rows, char* dst, Py_ssize_t dst_stride) noexcept {
    const Py_ssize_t rs = Packed ? packed_row : rows.row_stride;
    const Py_ssize_t cs = Packed ? packed_col : rows.col_stride;
    const Py_ssize_t ds = Packed ? packed_col : dst_stride;
    for (Py_ssize_t i = 0; i < rows.n; ++i) {
        const char* row = rows.data + i * rs;
        const double v[3] = {load(row), load(row + cs), load(row + 2 * cs)};
        store(dst + i * ds, kern::norm(v));
    }
}

template <bool Packed>
void normalize_rows(const Rows& rows, char* dst, Py_ssize_t dst_row, Py_ssize_t dst_col) noexcept {
    const Py_ssize_t rs = Packed ? packed_row : rows.row_stride;
    const Py_ssize_t cs = Packed ? packed_col : rows.col_stride;
    const Py_ssize_t drs = Packed ? packed_row : dst_row;
    const Py_ssize_t dcs = Packed ? packed_col : dst_col;
    for (Py_ssize_t i = 0; i < rows.n; ++i) {
        const char* row = rows.data + i * rs;
        const double v[3] = {load(row), load(row + cs), load(row + 2 * cs)};
        double u[3];
        kern::normalize(v, u);
        char* out = dst + i * drs;
        store(out, u[0]);
        store(out + dcs, u[1]);
        store(out + 2 * dcs, u[2]);
    }
}

bool packed_input(const Rows& rows) noexcept {
    return rows.row_stride == packed_row && rows.col_stride == packed_col;
}

/// N×3 → N lengths, each bit-identical to `norm` of the row. Needs the lock.
PyObject* norm_array(PyObject* a) noexcept {
    Buffer in;
    Rows rows{};
    if (input_rows("norm_array", a, in, rows) < 0) return nullptr;
    Ref shape = Ref::steal(Py_BuildValue("(n)", rows.n));
    if (!shape) return nullptr;
    Ref result = zeros(shape.get());
    if (!result) return nullptr;
    Buffer out;
    if (output_view(result.get(), 1, rows.n, out) < 0) return nullptr;
    char* dst = static_cast<char*>(out.view().buf);
    const Py_ssize_t ds = out.view().strides[0];
    if (packed_input(rows) && ds == packed_col)
        norm_rows<true>(rows, dst, ds);
    else
        norm_rows<false>(rows, dst, ds);
    return result.release();
}

/// N×3 → N×3 unit rows, each bit-identical to `normalize` of the row. Needs the lock.
PyObject* normalize_array(PyObject* a) noexcept {
    Buffer in;
    Rows rows{};
    if (input_rows("normalize_array", a, in, rows) < 0) return nullptr;
    Ref shape = Ref::steal(Py_BuildValue("(nn)", rows.n, Py_ssize_t{3}));
    if (!shape) return nullptr;
    Ref result = zeros(shape.get());
    if (!result) return nullptr;
    Buffer out;
    if (output_view(result.get(), 2, rows.n, out) < 0) return nullptr;
    char* dst = static_cast<char*>(out.view().buf);
    const Py_ssize_t drs = out.view().strides[0];
    const Py_ssize_t dcs = out.view().strides[1];
    if (packed_input(rows) && drs == packed_row && dcs == packed_col)
        normalize_rows<true>(rows, dst, drs, dcs);
    else
        normalize_rows<false>(rows, dst, drs, dcs);
    return result.release();
}

using orbivex::py::capi_function;

// Published in this order; the array entries take and return objects (borrowed argument, new
// reference or NULL with an exception), which is what Cython derives for `object f(object)`.
const std::array quiver_table{
    capi_function("scale", "void (double const , double *, double *)", &scale),
    capi_function("add", "void (double *, double *, double *)", &add),
    capi_function("sub", "void (double *, double *, double *)", &sub),
    capi_function("dot", "double (double *, double *)", &dot),
    capi_function("cross", "void (double *, double *, double *)", &cross),
    capi_function("norm", "double (double *)", &norm),
    capi_function("norm_array", "PyObject *(PyObject *)", &norm_array),
    capi_function("angle", "double (double *, double *)", &angle),
    capi_function("normalize", "void (double *, double *)", &normalize),
    capi_function("normalize_array", "PyObject *(PyObject *)", &normalize_array),
    capi_function("mat_x_vec", "void (double (*)[3], double *, double *)", &mat_x_vec),
};

struct quiver_module {
    static constexpr const char name[] = "quiver";
    static constexpr const char doc[] =
        "3-vector and N×3 kernels, published for other native modules in __pyx_capi__.";

    static int exec(PyObject* module) noexcept {
        Ref np = Ref::steal(PyImport_ImportModule("numpy"));
        if (!np || PyModule_AddObjectRef(module, "numpy", np.get()) < 0) return -1;
        if (orbivex::py::import_numpy() < 0) return -1;  // for the buffer views
        PyObject* globals = PyModule_GetDict(module);    // borrowed
        if (!globals) return -1;
        Py_XSETREF(quiver_globals, Py_NewRef(globals));
        return orbivex::py::export_capi(module, quiver_table);
    }
};

}  // namespace

PyMODINIT_FUNC PyInit_quiver() { return orbivex::py::Module<quiver_module>::init(); }
