// Reading Time's constructor argument: ISO text, Julian dates, nanosecond integers, datetimes,
// datetime64 values, and arrays or lists of these.
#include <Python.h>
#include <datetime.h>

#include <cstring>
#include <string_view>

#include "kernels/civil_time.hpp"
#include "modules/ctime/ctime.hpp"

namespace orbivex::ctime {

using kern::TimeStatus;
using py::Ref;

namespace {

constexpr const char* range_text = "1677-09-21T00:12:43.145224193 to 2262-04-11T23:47:16.854775807";

[[gnu::cold]] int raise_status(TimeStatus status, PyObject* what) {
    switch (status) {
    case TimeStatus::bad_text:
        PyErr_Format(PyExc_ValueError,
                     "Time: cannot read %R as an instant; expected 'YYYY', 'YYYY-MM-DD' or "
                     "'YYYY-MM-DDTHH:MM:SS.fffffffff'",
                     what);
        break;
    case TimeStatus::out_of_range:
        PyErr_Format(PyExc_ValueError, "Time: %R is outside the nanosecond range %s", what,
                     range_text);
        break;
    case TimeStatus::not_finite:
        PyErr_Format(PyExc_ValueError, "Time: a Julian date must be finite, got %R", what);
        break;
    case TimeStatus::ok:
        break;
    }
    return -1;
}

[[gnu::cold]] int raise_nat() {
    PyErr_SetString(PyExc_ValueError, "Time: NaT is not an instant");
    return -1;
}

int ns_from_text(PyObject* text, std::int64_t& out) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &len);
    if (!utf8) return -1;
    const TimeStatus status =
        kern::ns_from_iso(std::string_view(utf8, static_cast<size_t>(len)), out);
    return status == TimeStatus::ok ? 0 : raise_status(status, text);
}

int ns_from_jd_object(PyObject* value, std::int64_t& out) {
    const double jd = PyFloat_AsDouble(value);
    if (jd == -1.0 && PyErr_Occurred()) return -1;
    const TimeStatus status = kern::ns_from_jd(jd, out);
    return status == TimeStatus::ok ? 0 : raise_status(status, value);
}

int ns_from_int(PyObject* value, std::int64_t& out) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (v == -1 && PyErr_Occurred()) return -1;
    if (overflow != 0) return raise_status(TimeStatus::out_of_range, value);
    if (v == kern::not_a_time) return raise_nat();
    out = v;
    return 0;
}

// A naive datetime is taken as UTC; an aware one is moved to UTC by its utcoffset().
int ns_from_datetime(PyObject* value, std::int64_t& out) {
    const bool has_time = PyDateTime_Check(value);
    std::int64_t ns_of_day = 0;
    if (has_time) {
        ns_of_day = ((PyDateTime_DATE_GET_HOUR(value) * 60LL + PyDateTime_DATE_GET_MINUTE(value)) *
                         60LL +
                     PyDateTime_DATE_GET_SECOND(value)) *
                        kern::ns_per_second +
                    PyDateTime_DATE_GET_MICROSECOND(value) * 1000LL;
        Ref offset = Ref::steal(PyObject_CallMethod(value, "utcoffset", nullptr));
        if (!offset) return -1;
        if (offset.get() != Py_None) {
            if (!PyDelta_Check(offset.get())) {
                PyErr_SetString(PyExc_TypeError, "Time: utcoffset() did not return a timedelta");
                return -1;
            }
            ns_of_day -= (PyDateTime_DELTA_GET_DAYS(offset.get()) * 86400LL +
                          PyDateTime_DELTA_GET_SECONDS(offset.get())) *
                             kern::ns_per_second +
                         PyDateTime_DELTA_GET_MICROSECONDS(offset.get()) * 1000LL;
        }
    }
    const TimeStatus status =
        kern::ns_from_civil(PyDateTime_GET_YEAR(value), PyDateTime_GET_MONTH(value),
                            PyDateTime_GET_DAY(value), ns_of_day, out);
    return status == TimeStatus::ok ? 0 : raise_status(status, value);
}

[[gnu::cold]] int raise_cannot_read(PyObject* value) {
    if (PyFloat_Check(value)) {
        PyErr_Format(PyExc_TypeError,
                     "Time: a float is read only as a Julian date; pass format='jd' (got %R)",
                     value);
    } else {
        PyErr_Format(PyExc_TypeError, "Time: cannot read an instant from a '%.200s' object",
                     Py_TYPE(value)->tp_name);
    }
    return -1;
}

// One instant from an element of a list or a scalar argument.
int read_scalar(ctime_state* st, PyObject* value, Format format, std::int64_t& out) {
    if (PyObject_TypeCheck(value, st->time_type)) {
        const auto* t = reinterpret_cast<const TimeObject*>(value);
        if (format != Format::automatic || t->values) {
            PyErr_SetString(PyExc_TypeError,
                            format != Format::automatic
                                ? "Time: a Time is not a Julian date"
                                : "Time: an array Time cannot stand for one instant");
            return -1;
        }
        out = t->ns;
        return 0;
    }
    if (format == Format::jd) return ns_from_jd_object(value, out);
    if (PyUnicode_Check(value)) return ns_from_text(value, out);
    if (PyBool_Check(value)) return raise_cannot_read(value);
    if (PyLong_Check(value)) return ns_from_int(value, out);
    if (PyFloat_Check(value)) return raise_cannot_read(value);
    if (PyDate_Check(value)) return ns_from_datetime(value, out);
    if (PyArray_IsScalar(value, Datetime)) {
        Instants in;
        if (read_instants(st, value, format, in) < 0) return -1;
        if (in.values) return raise_cannot_read(value);
        out = in.ns;
        return 0;
    }
    if (PyIndex_Check(value)) {
        Ref index = Ref::steal(PyNumber_Index(value));
        return index ? ns_from_int(index.get(), out) : -1;
    }
    return raise_cannot_read(value);
}

Ref new_int64_array(Py_ssize_t n) {
    npy_intp dims[1] = {n};
    return Ref::steal(PyArray_SimpleNew(1, dims, NPY_INT64));
}

std::int64_t* int64_data(const Ref& array) {
    return static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

// Stores a freshly made int64 array (1-D) or its only element (0-D) as the result.
int finish(Ref array, Instants& out) {
    auto* a = reinterpret_cast<PyArrayObject*>(array.get());
    const npy_intp n = PyArray_SIZE(a);
    const auto* data = static_cast<const std::int64_t*>(PyArray_DATA(a));
    for (npy_intp i = 0; i < n; ++i) {
        if (data[i] == kern::not_a_time) return raise_nat();
    }
    if (PyArray_NDIM(a) == 0) {
        out.ns = data[0];
        return 0;
    }
    PyArray_CLEARFLAGS(a, NPY_ARRAY_WRITEABLE);
    out.values = std::move(array);
    return 0;
}

int read_sequence(ctime_state* st, PyObject* value, Format format, Instants& out) {
    // A tuple snapshot: reading an element may run Python code that changes a list.
    Ref snapshot = Ref::steal(PyList_Check(value) ? PyList_AsTuple(value) : Py_NewRef(value));
    if (!snapshot) return -1;
    PyObject* seq = snapshot.get();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq);
    Ref array = new_int64_array(n);
    if (!array) return -1;
    std::int64_t* data = int64_data(array);
    PyObject** items = PySequence_Fast_ITEMS(seq);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (read_scalar(st, items[i], format, data[i]) < 0) return -1;
    }
    return finish(std::move(array), out);
}

int read_jd_array(PyArrayObject* a, Instants& out) {
    Ref jd = Ref::steal(PyArray_FROMANY(reinterpret_cast<PyObject*>(a), NPY_DOUBLE, 0, 1,
                                        NPY_ARRAY_CARRAY_RO));
    if (!jd) return -1;
    auto* ja = reinterpret_cast<PyArrayObject*>(jd.get());
    const npy_intp n = PyArray_SIZE(ja);
    npy_intp dims[1] = {n};
    Ref array = Ref::steal(PyArray_SimpleNew(PyArray_NDIM(ja), dims, NPY_INT64));
    if (!array) return -1;
    const auto* src = static_cast<const double*>(PyArray_DATA(ja));
    std::int64_t* data = int64_data(array);
    for (npy_intp i = 0; i < n; ++i) {
        const TimeStatus status = kern::ns_from_jd(src[i], data[i]);
        if (status != TimeStatus::ok) {
            Ref item = Ref::steal(PyFloat_FromDouble(src[i]));
            return item ? raise_status(status, item.get()) : -1;
        }
    }
    return finish(std::move(array), out);
}

// NumPy's datetime64 casts wrap around silently on overflow. A cast to nanoseconds from a unit
// no finer than that must come back unchanged; 1 when it does not, 0 when it does, -1 on error.
int cast_overflowed(PyArrayObject* original, PyArrayObject* ns) {
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy) return -1;
    Ref meta = Ref::steal(PyObject_CallMethod(numpy.get(), "datetime_data", "O",
                                              reinterpret_cast<PyObject*>(PyArray_DESCR(original))));
    if (!meta) return -1;
    PyObject* unit = PyTuple_Check(meta.get()) && PyTuple_GET_SIZE(meta.get()) == 2
                         ? PyTuple_GET_ITEM(meta.get(), 0)
                         : nullptr;
    if (!unit || !PyUnicode_Check(unit)) {
        PyErr_SetString(PyExc_TypeError, "Time: numpy.datetime_data gave no unit");
        return -1;
    }
    for (const char* finer : {"ps", "fs", "as"}) {
        if (PyUnicode_CompareWithASCIIString(unit, finer) == 0) return 0;  // cannot overflow
    }
    PyArray_Descr* descr = PyArray_DESCR(original);
    Py_INCREF(descr);  // stolen by the cast
    Ref back = Ref::steal(PyArray_CastToType(ns, descr, 0));
    Ref same = Ref::steal(PyArray_FROMANY(reinterpret_cast<PyObject*>(original), NPY_NOTYPE, 0, 0,
                                          NPY_ARRAY_CARRAY_RO));
    if (!back || !same) return -1;
    const auto* b = reinterpret_cast<PyArrayObject*>(back.get());
    return std::memcmp(PyArray_DATA(b), PyArray_DATA(reinterpret_cast<PyArrayObject*>(same.get())),
                       sizeof(std::int64_t) * static_cast<size_t>(PyArray_SIZE(b))) != 0;
}

int read_ndarray(ctime_state* st, PyArrayObject* a, Format format, Instants& out) {
    if (PyArray_NDIM(a) > 1) {
        PyErr_Format(PyExc_ValueError,
                     "Time: expected one instant or a 1-D array of instants, got a %d-D array",
                     PyArray_NDIM(a));
        return -1;
    }
    if (format == Format::jd) return read_jd_array(a, out);
    const char kind = PyArray_DESCR(a)->kind;
    if (kind == 'M') {
        Py_INCREF(st->ns_descr);  // the cast steals it
        Ref cast = Ref::steal(PyArray_CastToType(a, st->ns_descr, 0));
        if (!cast) return -1;
        auto* ca = reinterpret_cast<PyArrayObject*>(cast.get());
        const int overflowed = cast_overflowed(a, ca);
        if (overflowed != 0) {
            if (overflowed > 0)
                PyErr_Format(PyExc_ValueError, "Time: a datetime64 value is outside the "
                             "nanosecond range %s", range_text);
            return -1;
        }
        npy_intp dims[1] = {PyArray_SIZE(ca)};
        Ref array = Ref::steal(PyArray_SimpleNew(PyArray_NDIM(ca), dims, NPY_INT64));
        if (!array) return -1;
        std::memcpy(int64_data(array), PyArray_DATA(ca), sizeof(std::int64_t) * dims[0]);
        return finish(std::move(array), out);
    }
    if (kind == 'i' || kind == 'u') {
        // Safe casting only: uint64 (which may not fit) is refused by NumPy with TypeError.
        Ref array = Ref::steal(PyArray_FromAny(reinterpret_cast<PyObject*>(a),
                                               PyArray_DescrFromType(NPY_INT64), 0, 1,
                                               NPY_ARRAY_CARRAY | NPY_ARRAY_ENSURECOPY, nullptr));
        return array ? finish(std::move(array), out) : -1;
    }
    if (kind == 'O' || kind == 'U' || kind == 'S') {
        Ref items = Ref::steal(PyArray_ToList(a));
        if (!items) return -1;
        if (!PyList_Check(items.get())) return read_scalar(st, items.get(), format, out.ns);
        return read_sequence(st, items.get(), format, out);
    }
    PyErr_Format(PyExc_TypeError,
                 "Time: cannot read instants from an array of dtype %R (Julian dates need "
                 "format='jd')",
                 reinterpret_cast<PyObject*>(PyArray_DESCR(a)));
    return -1;
}

}  // namespace

int import_datetime() {
    PyDateTime_IMPORT;
    return PyDateTimeAPI ? 0 : -1;
}

int parse_format(PyObject* format, Format& out) {
    out = Format::automatic;
    if (!format || format == Py_None) return 0;
    if (!PyUnicode_Check(format)) {
        PyErr_Format(PyExc_TypeError, "Time: format must be a str or None, not '%.200s'",
                     Py_TYPE(format)->tp_name);
        return -1;
    }
    if (PyUnicode_CompareWithASCIIString(format, "jd") == 0) {
        out = Format::jd;
        return 0;
    }
    PyErr_Format(PyExc_ValueError, "Time: unknown format %R (the one format is 'jd')", format);
    return -1;
}

int check_scale(PyObject* scale) {
    if (!scale || scale == Py_None) return 0;
    if (!PyUnicode_Check(scale)) {
        PyErr_Format(PyExc_TypeError, "Time: scale must be a str or None, not '%.200s'",
                     Py_TYPE(scale)->tp_name);
        return -1;
    }
    if (PyUnicode_CompareWithASCIIString(scale, "utc") == 0 ||
        PyUnicode_CompareWithASCIIString(scale, "UTC") == 0)
        return 0;
    PyErr_Format(PyExc_ValueError, "Time: only the 'utc' scale is supported, not %R", scale);
    return -1;
}

int read_instants(ctime_state* st, PyObject* value, Format format, Instants& out) {
    if (PyObject_TypeCheck(value, st->time_type) && format == Format::automatic) {
        const auto* t = reinterpret_cast<const TimeObject*>(value);
        out.ns = t->ns;
        out.values = Ref::borrow(t->values);  // read-only, so it can be shared
        return 0;
    }
    if (PyArray_Check(value))
        return read_ndarray(st, reinterpret_cast<PyArrayObject*>(value), format, out);
    if (PyList_Check(value) || PyTuple_Check(value)) return read_sequence(st, value, format, out);
    if (PyArray_IsScalar(value, Datetime)) {
        Ref zero_d = Ref::steal(PyArray_FromScalar(value, nullptr));
        if (!zero_d) return -1;
        return read_ndarray(st, reinterpret_cast<PyArrayObject*>(zero_d.get()), format, out);
    }
    return read_scalar(st, value, format, out.ns);
}

}  // namespace orbivex::ctime
