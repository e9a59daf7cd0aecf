// A catalogue as two- or three-line text and through write(); a row as a TLE, a satellite's
// rows as an ELSET.
#include <Python.h>

#include <cstring>

#include "catalog.hpp"
#include "kernels/tle_split.hpp"
#include "kernels/tle_write.hpp"
#include "support/args.hpp"

namespace orbivex::catalog {

namespace {

namespace tle = kern::tle;

CatalogObject* as_catalog(PyObject* self) { return reinterpret_cast<CatalogObject*>(self); }

/// Length of the stored text of line `k` of row i; 0 for a row without a two-line form.
std::size_t line_size(const CatalogObject* c, Column k, Py_ssize_t i) {
    return strnlen(text(c, k) + 69 * i, 69);
}

/// ValueError for row i, which has no two-line form: the first field the format cannot hold.
void raise_no_lines(const CatalogObject* c, Py_ssize_t i) {
    const tle::Fields f = row_fields(c, i);
    char a[kern::tle_line_size], b[kern::tle_line_size];
    const tle::Reason r = tle::format(f, a, b, units_now());
    PyErr_Format(PyExc_ValueError, "row %zd (satellite %lld) has no two-line form%s%s", i,
                 static_cast<long long>(f.satno),
                 r == tle::Reason::none ? "" : ": the format cannot hold its ",
                 r == tle::Reason::none ? "" : tle::reason_info(r).name);
}

/// A name line the reader takes back as this name: padded to 24 columns, or after "0 " where
/// the plain line would be taken for an element line or a "0 NAME" line.
bool needs_prefix(const char* p, std::size_t n) {
    return n >= tle::min_element_line || (n >= 2 && p[0] == '0' && p[1] == ' ');
}

/// The UTF-8 text of the name of row i for a name line, or size 0 for none.
int name_text(const CatalogObject* c, Py_ssize_t i, const char*& p, Py_ssize_t& n) {
    PyObject* name = data_of<PyObject*>(c->column[c_name])[i];
    n = 0;
    if (!name || name == Py_None) return 0;
    if (!PyUnicode_Check(name)) {
        PyErr_Format(PyExc_TypeError, "name of row %zd is '%.200s', not str", i,
                     Py_TYPE(name)->tp_name);
        return -1;
    }
    p = PyUnicode_AsUTF8AndSize(name, &n);
    if (!p) return -1;
    if (std::memchr(p, '\n', static_cast<std::size_t>(n)) ||
        std::memchr(p, '\r', static_cast<std::size_t>(n))) {
        PyErr_Format(PyExc_ValueError, "name of row %zd has a line end: %R", i, name);
        return -1;
    }
    return 0;
}

const char* const write_names[] = {"target", "format"};
const py::Params write_params{write_names, 1, 2};

}  // namespace

PyObject* tle_text(catalog_state*, CatalogObject* c, const bool names) noexcept {
    std::size_t total = 0;
    for (Py_ssize_t i = 0; i < c->n; ++i) {
        const std::size_t a = line_size(c, c_line1, i), b = line_size(c, c_line2, i);
        if (a == 0 || b == 0) {
            raise_no_lines(c, i);
            return nullptr;
        }
        total += a + b + 2;
        if (!names) continue;
        const char* p = nullptr;
        Py_ssize_t n = 0;
        if (name_text(c, i, p, n) < 0) return nullptr;
        if (n == 0) continue;
        const auto len = static_cast<std::size_t>(n);
        total += (needs_prefix(p, len) ? len + 2 : len < 24 ? 24 : len) + 1;
    }
    Ref out = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total)));
    if (!out) return nullptr;
    char* w = PyBytes_AS_STRING(out.get());
    for (Py_ssize_t i = 0; i < c->n; ++i) {
        if (names) {
            const char* p = nullptr;
            Py_ssize_t n = 0;
            if (name_text(c, i, p, n) < 0) return nullptr;
            if (n > 0) {
                const auto len = static_cast<std::size_t>(n);
                const bool prefix = needs_prefix(p, len);
                if (prefix) {
                    std::memcpy(w, "0 ", 2);
                    w += 2;
                }
                std::memcpy(w, p, len);
                w += len;
                if (!prefix && len < 24) {
                    std::memset(w, ' ', 24 - len);
                    w += 24 - len;
                }
                *w++ = '\n';
            }
        }
        for (Column k : {c_line1, c_line2}) {
            const std::size_t len = line_size(c, k, i);
            std::memcpy(w, text(c, k) + 69 * i, len);
            w += len;
            *w++ = '\n';
        }
    }
    return out.release();
}

PyObject* Catalog_tle(PyObject* self, PyObject* arg) noexcept {
    CatalogObject* c = as_catalog(self);
    Py_ssize_t i = PyNumber_AsSsize_t(arg, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    if (i < 0) i += c->n;
    if (i < 0 || i >= c->n) {
        PyErr_SetString(PyExc_IndexError, "row index out of range");
        return nullptr;
    }
    const std::size_t a = line_size(c, c_line1, i), b = line_size(c, c_line2, i);
    if (a == 0 || b == 0) {
        raise_no_lines(c, i);
        return nullptr;
    }
    Ref line1 = Ref::steal(
        PyUnicode_DecodeASCII(text(c, c_line1) + 69 * i, static_cast<Py_ssize_t>(a), nullptr));
    if (!line1) return nullptr;
    Ref line2 = Ref::steal(
        PyUnicode_DecodeASCII(text(c, c_line2) + 69 * i, static_cast<Py_ssize_t>(b), nullptr));
    if (!line2) return nullptr;
    return PyObject_CallFunctionObjArgs(state_of(self)->TLE, line1.get(), line2.get(), nullptr);
}

PyObject* Catalog_elset(PyObject* self, PyObject* arg) noexcept {
    std::int64_t satno = 0;
    if (satno_arg(arg, satno) < 0) return nullptr;
    CatalogObject* c = as_catalog(self);
    Py_ssize_t lo = 0, hi = 0;
    satellite_range(c, satno, lo, hi);
    if (lo == hi) {
        PyErr_SetObject(PyExc_KeyError, arg);
        return nullptr;
    }
    Ref tles = Ref::steal(PyTuple_New(hi - lo));
    if (!tles) return nullptr;
    for (Py_ssize_t i = lo; i < hi; ++i) {
        Ref index = Ref::steal(PyLong_FromSsize_t(i));
        if (!index) return nullptr;
        PyObject* t = Catalog_tle(self, index.get());
        if (!t) return nullptr;
        PyTuple_SET_ITEM(tles.get(), i - lo, t);
    }
    // The newest name the satellite has.
    PyObject* name = Py_None;
    auto** names = data_of<PyObject*>(c->column[c_name]);
    for (Py_ssize_t i = hi; i-- > lo;) {
        if (names[i] && PyUnicode_Check(names[i])) {
            name = names[i];
            break;
        }
    }
    catalog_state* st = state_of(self);
    Ref kwargs = Ref::steal(PyDict_New());
    if (!kwargs || PyDict_SetItem(kwargs.get(), st->s_satname, name) < 0) return nullptr;
    return PyObject_Call(st->ELSET, tles.get(), kwargs.get());
}

PyObject* Catalog_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
    PyObject* argv[2];
    if (py::bind_vectorcall("write", write_params, args, nargs, kwnames, argv) < 0) return nullptr;
    catalog_state* st = state_of(self);
    PyObject* format = argv[1];
    Ref data;
    if (!format ||
        (PyUnicode_Check(format) && (PyUnicode_CompareWithASCIIString(format, "tle") == 0 ||
                                     PyUnicode_CompareWithASCIIString(format, "3le") == 0))) {
        const bool names = format && PyUnicode_CompareWithASCIIString(format, "3le") == 0;
        data = Ref::steal(tle_text(st, as_catalog(self), names));
        if (!data) return nullptr;
        Ref done = Ref::steal(PyObject_CallMethodObjArgs(st->helper, st->s_write_output, argv[0],
                                                         data.get(), nullptr));
        if (!done) return nullptr;
        Py_RETURN_NONE;
    }
    if (check_format(format) < 0) return nullptr;
    Ref writers = Ref::steal(PyObject_GetAttr(st->helper, st->s_writers));
    if (!writers) return nullptr;
    Ref writer = Ref::steal(PyObject_CallMethod(writers.get(), "get", "O", format));
    if (!writer) return nullptr;
    Ref done = Ref::steal(
        writer.get() == Py_None
            ? PyObject_CallMethodObjArgs(st->helper, st->s_unsupported, format, Py_None, nullptr)
            : PyObject_CallFunctionObjArgs(writer.get(), self, argv[0], nullptr));
    if (!done) return nullptr;
    Py_RETURN_NONE;
}

kern::tle::Fields row_fields(const CatalogObject* c, Py_ssize_t i) noexcept {
    kern::tle::Fields f{};
    f.satno = i64(c, c_satno)[i];
    f.epoch_ns = i64(c, c_epoch_ns)[i];
    const auto clamp = [](std::int64_t v) {
        return static_cast<std::int32_t>(v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v);
    };
    f.ephemeris_type = clamp(i64(c, c_ephemeris_type)[i]);
    f.element_number = clamp(i64(c, c_element_number)[i]);
    f.revolution = clamp(i64(c, c_revolution)[i]);
    f.ndot = f64(c, c_ndot)[i];
    f.nddot = f64(c, c_nddot)[i];
    f.bstar = f64(c, c_bstar)[i];
    f.inc = f64(c, c_inc)[i];
    f.raa = f64(c, c_raa)[i];
    f.ecc = f64(c, c_ecc)[i];
    f.arp = f64(c, c_arp)[i];
    f.mea = f64(c, c_mea)[i];
    f.mnm = f64(c, c_mnm)[i];
    f.classification = text(c, c_classification)[i];
    std::memcpy(f.intldes, text(c, c_intldes) + 8 * i, 8);
    return f;
}

}  // namespace orbivex::catalog
