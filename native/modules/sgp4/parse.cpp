// Element columns and exact epochs from two-line text, read as the reference readers read the
// fields (strtod of each fixed-column field, then the same unit conversions in the same order)
// so that a set's record is theirs to the bit.
#include <Python.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "model.hpp"

namespace orbivex::sgp4 {

namespace {

constexpr double deg2rad = kern::pi / 180.0;
constexpr double xpdotp = 1440.0 / (2.0 * kern::pi);  // rev/day per rad/min

/// Days from 1970-01-01 to the civil date y-m-d (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

/// The number in line[begin, end), optionally after a prefix ("0." for the eccentricity, the
/// sign and "." of the exponent fields); false when the field is not one number.
bool field(const char* line, int begin, int end, double& out, const char* prefix = "",
           bool blanks_are_zero = false) noexcept {
    char buf[32];
    std::size_t n = std::strlen(prefix);
    std::memcpy(buf, prefix, n);
    for (int c = begin; c < end; ++c) buf[n++] = blanks_are_zero && line[c] == ' ' ? '0' : line[c];
    buf[n] = '\0';
    char* stop = nullptr;
    out = std::strtod(buf, &stop);
    if (stop == buf) return false;
    while (*stop == ' ') ++stop;
    return *stop == '\0' && std::isfinite(out);
}

bool integer(const char* line, int begin, int end, long& out) noexcept {
    char buf[16];
    int n = 0;
    for (int c = begin; c < end; ++c) buf[n++] = line[c];
    buf[n] = '\0';
    char* stop = nullptr;
    out = std::strtol(buf, &stop, 10);
    if (stop == buf) return false;
    while (*stop == ' ') ++stop;
    return *stop == '\0';
}

/// Epoch of line 1 (columns 19-32: two-digit year, day of year with its fraction) in exact
/// nanoseconds since 1970; years 57-99 are 19xx, 00-56 20xx.
bool epoch_of(const char* line, std::int64_t& ns) noexcept {
    long yy = 0, day = 0;
    if (!integer(line, 18, 20, yy) || yy < 0) return false;
    const char* dot = static_cast<const char*>(std::memchr(line + 20, '.', 12));
    const int point = dot ? static_cast<int>(dot - line) : 32;
    if (!integer(line, 20, point, day) || day < 0 || day > 366) return false;
    std::int64_t frac = 0, unit = ns_per_day;
    for (int c = point + 1; c < 32; ++c) {
        if (line[c] == ' ') break;
        if (line[c] < '0' || line[c] > '9') return false;
        // a digit beyond the nanosecond is dropped
        if (unit >= 10) {
            unit /= 10;
            frac += (line[c] - '0') * unit;
        }
    }
    const std::int64_t year = yy < 57 ? 2000 + yy : 1900 + yy;
    ns = (days_from_civil(year, 1, 1) + day - 1) * ns_per_day + frac;
    return true;
}

/// Columns (bstar, ndot, nddot, ecco, argpo, inclo, mo, no_kozai, nodeo) of one set, or the
/// 1-based column of line 1 or 2 (as -column for line 2) of the first field that is wrong.
int elements_of(const char* l1, const char* l2, double* e, std::int64_t& ns) noexcept {
    double ndot, nddot, bstar, inclo, nodeo, ecco, argpo, mo, no;
    long nexp, ibexp;
    char mant[3] = {l1[44], '.', '\0'};
    char bmant[3] = {l1[53], '.', '\0'};
    if (!epoch_of(l1, ns)) return 19;
    if (!field(l1, 33, 43, ndot)) return 34;
    if (!field(l1, 45, 50, nddot, mant) || !integer(l1, 50, 52, nexp)) return 45;
    if (!field(l1, 54, 59, bstar, bmant) || !integer(l1, 59, 61, ibexp)) return 54;
    if (!field(l2, 8, 16, inclo)) return -9;
    if (!field(l2, 17, 25, nodeo)) return -18;
    if (!field(l2, 26, 33, ecco, "0.", true)) return -27;
    if (!field(l2, 34, 42, argpo)) return -35;
    if (!field(l2, 43, 51, mo)) return -44;
    if (!field(l2, 52, 63, no)) return -53;
    e[0] = bstar * std::pow(10.0, static_cast<double>(ibexp));
    e[1] = ndot / (xpdotp * 1440.0);
    e[2] = nddot * std::pow(10.0, static_cast<double>(nexp)) / (xpdotp * 1440.0 * 1440);
    e[3] = ecco;
    e[4] = argpo * deg2rad;
    e[5] = inclo * deg2rad;
    e[6] = mo * deg2rad;
    e[7] = no / xpdotp;
    e[8] = nodeo * deg2rad;
    return 0;
}

/// `obj` as a 1-D C-contiguous array of bytes ('S') or str ('U') of at least 69 characters an
/// item: the str columns of a catalogue are read as they are, without an encoded copy.
Ref lines_array(PyObject* obj, const char* which) noexcept {
    auto* a = reinterpret_cast<PyArrayObject*>(obj);
    if (!PyArray_Check(obj) || (PyArray_TYPE(a) != NPY_STRING && PyArray_TYPE(a) != NPY_UNICODE) ||
        PyArray_NDIM(a) != 1) {
        PyErr_Format(PyExc_TypeError, "_parse(): %s must be a 1-D bytes or str array", which);
        return {};
    }
    Ref c = Ref::steal(PyArray_FROMANY(obj, PyArray_TYPE(a), 1, 1, NPY_ARRAY_IN_ARRAY));
    if (!c) return {};
    auto* ca = reinterpret_cast<PyArrayObject*>(c.get());
    const npy_intp chars = PyArray_ITEMSIZE(ca) / (PyArray_TYPE(ca) == NPY_UNICODE ? 4 : 1);
    if (chars < 69) {
        PyErr_Format(PyExc_ValueError, "_parse(): %s holds fewer than 69 characters a line", which);
        return {};
    }
    return c;
}

/// The first 69 characters of item i as bytes; a character beyond ASCII becomes '?', which no
/// field accepts.
void line_at(PyArrayObject* a, npy_intp i, char (&out)[70]) noexcept {
    const char* base = static_cast<const char*>(PyArray_DATA(a)) + i * PyArray_ITEMSIZE(a);
    if (PyArray_TYPE(a) == NPY_STRING) {
        std::memcpy(out, base, 69);
    } else {
        for (int c = 0; c < 69; ++c) {
            std::uint32_t u;
            std::memcpy(&u, base + 4 * c, 4);
            out[c] = u < 128 ? static_cast<char>(u) : '?';
        }
    }
    out[69] = '\0';
}

}  // namespace

PyObject* parse_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "_parse() takes exactly 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    Ref a1 = lines_array(args[0], "line1");
    if (!a1) return nullptr;
    Ref a2 = lines_array(args[1], "line2");
    if (!a2) return nullptr;
    auto* p1 = reinterpret_cast<PyArrayObject*>(a1.get());
    auto* p2 = reinterpret_cast<PyArrayObject*>(a2.get());
    const npy_intp n = PyArray_DIM(p1, 0);
    if (PyArray_DIM(p2, 0) != n) {
        PyErr_SetString(PyExc_ValueError, "_parse(): line1 and line2 differ in length");
        return nullptr;
    }
    npy_intp dims[2] = {n, 9};
    Ref el = Ref::steal(PyArray_SimpleNew(2, dims, NPY_FLOAT64));
    Ref ep = Ref::steal(PyArray_SimpleNew(1, dims, NPY_INT64));
    if (!el || !ep) return nullptr;
    auto* e = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(el.get())));
    auto* ns = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(ep.get())));
    // every set on the threads, then the first refused one in text order
    std::unique_ptr<int[]> bad(new (std::nothrow) int[static_cast<std::size_t>(n > 0 ? n : 1)]);
    if (!bad) return PyErr_NoMemory();
    const auto count = static_cast<std::size_t>(n);
    constexpr std::size_t sets_per_item = 512;
    int* badp = bad.get();
    if (run_items((count + sets_per_item - 1) / sets_per_item, init_threads(count),
                  [&](std::size_t item) noexcept {
                      char l1[70], l2[70];
                      const std::size_t end = std::min(count, (item + 1) * sets_per_item);
                      for (std::size_t i = item * sets_per_item; i < end; ++i) {
                          const auto ii = static_cast<npy_intp>(i);
                          line_at(p1, ii, l1);
                          line_at(p2, ii, l2);
                          badp[i] = elements_of(l1, l2, e + 9 * i, ns[i]);
                      }
                      return true;
                  }) < 0)
        return nullptr;
    for (npy_intp i = 0; i < n; ++i) {
        if (const int b = badp[i]) {
            PyErr_Format(PyExc_ValueError, "element set %zd: line %d, column %d is not a number",
                         static_cast<Py_ssize_t>(i), b > 0 ? 1 : 2, b > 0 ? b : -b);
            return nullptr;
        }
    }
    return PyTuple_Pack(2, el.get(), ep.get());
}

}  // namespace orbivex::sgp4
