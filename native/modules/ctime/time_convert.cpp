// Reading Time's constructor argument: ISO text, Julian dates, nanosecond integers, datetimes,
// datetime64 values, and arrays or lists of these.
#include <Python.h>
#include <datetime.h>

#include <limits>
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
    case TimeStatus::ok: break;
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
        ns_of_day =
            ((PyDateTime_DATE_GET_HOUR(value) * 60LL + PyDateTime_DATE_GET_MINUTE(value)) * 60LL +
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
    Ref jd = Ref::steal(
        PyArray_FROMANY(reinterpret_cast<PyObject*>(a), NPY_DOUBLE, 0, 1, NPY_ARRAY_CARRAY_RO));
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

using wide = __int128;

// NaT is not an instant either, so the range of instants is symmetric.
constexpr std::int64_t ns_limit = std::numeric_limits<std::int64_t>::max();

[[gnu::cold]] int raise_datetime64_range() {
    PyErr_Format(PyExc_ValueError, "Time: a datetime64 value is outside the nanosecond range %s",
                 range_text);
    return -1;
}

// Nanoseconds in one unit of fixed length; 0 for calendar units and units finer than 1 ns.
std::int64_t ns_per_unit(NPY_DATETIMEUNIT unit) {
    switch (unit) {
    case NPY_FR_W: return 7 * kern::ns_per_day;
    case NPY_FR_D: return kern::ns_per_day;
    case NPY_FR_h: return 3600 * kern::ns_per_second;
    case NPY_FR_m: return 60 * kern::ns_per_second;
    case NPY_FR_s: return kern::ns_per_second;
    case NPY_FR_ms: return 1'000'000;
    case NPY_FR_us: return 1'000;
    case NPY_FR_ns: return 1;
    case NPY_FR_GENERIC: return 1;  // NumPy converts unbound units one to one
    default: return 0;
    }
}

// Nanoseconds of `ticks` (a tick count times its multiplier, below 2**94 in magnitude) in a
// calendar unit or a unit finer than 1 ns, rounded down as NumPy rounds. False when the
// instant does not fit.
bool ns_from_ticks(wide ticks, NPY_DATETIMEUNIT unit, std::int64_t& out) {
    if (unit == NPY_FR_Y || unit == NPY_FR_M) {
        // Years or months from 1970-01. Far beyond the range either way, the bound only keeps
        // the calendar arithmetic within int64.
        const wide months = unit == NPY_FR_Y ? ticks * 12 : ticks;
        if (months < -12'000'000 || months > 12'000'000) return false;
        const auto m = static_cast<std::int64_t>(months);
        return kern::ns_from_civil(1970 + kern::floor_div(m, 12),
                                   static_cast<int>(kern::floor_mod(m, 12)) + 1, 1, 0,
                                   out) == TimeStatus::ok;
    }
    const wide per_ns = unit == NPY_FR_ps   ? 1000
                        : unit == NPY_FR_fs ? 1'000'000
                        : unit == NPY_FR_as ? 1'000'000'000
                                            : 0;
    if (per_ns == 0) return false;                          // a unit NumPy does not have
    const wide ns = ticks / per_ns - (ticks % per_ns < 0);  // floor
    if (ns < -ns_limit || ns > ns_limit) return false;
    out = static_cast<std::int64_t>(ns);
    return true;
}

// datetime64 values converted exactly: NumPy's own cast to nanoseconds wraps around silently
// (before 2.5) or raises OverflowError (2.5), and its intermediate products overflow for units
// such as M8[3ps] even where the result fits.
int read_datetime64(PyArrayObject* a, Instants& out) {
    auto* meta =
        reinterpret_cast<PyArray_DatetimeDTypeMetaData*>(PyDataType_C_METADATA(PyArray_DESCR(a)));
    if (!meta) {
        PyErr_SetString(PyExc_TypeError, "Time: a datetime64 dtype without a unit");
        return -1;
    }
    const NPY_DATETIMEUNIT unit = meta->meta.base;
    const std::int64_t num = meta->meta.num;
    if (num < 1) {  // NumPy accepts datetime64[0D]
        PyErr_Format(PyExc_TypeError,
                     "Time: cannot read instants from an array of dtype %R (a unit of no length)",
                     reinterpret_cast<PyObject*>(PyArray_DESCR(a)));
        return -1;
    }
    // The raw ticks, C-contiguous in native byte order.
    PyArray_Descr* native = PyArray_DESCR(a);
    if (PyArray_ISNBO(native->byteorder))
        Py_INCREF(native);
    else
        native = PyArray_DescrNewByteorder(native, NPY_NATIVE);
    if (!native) return -1;
    Ref ticks = Ref::steal(PyArray_FromAny(reinterpret_cast<PyObject*>(a), native, 0, 1,
                                           NPY_ARRAY_CARRAY_RO, nullptr));  // steals `native`
    if (!ticks) return -1;
    auto* ta = reinterpret_cast<PyArrayObject*>(ticks.get());
    npy_intp dims[1] = {PyArray_SIZE(ta)};
    Ref array = Ref::steal(PyArray_SimpleNew(PyArray_NDIM(ta), dims, NPY_INT64));
    if (!array) return -1;
    const auto* src = static_cast<const std::int64_t*>(PyArray_DATA(ta));
    std::int64_t* data = int64_data(array);
    if (const std::int64_t per_unit = ns_per_unit(unit)) {
        // A fixed length: the tick counts inside the range are known before the loop.
        const wide per_tick = wide{per_unit} * num;
        const auto bound = static_cast<std::int64_t>(ns_limit / per_tick);
        const std::int64_t step = bound ? static_cast<std::int64_t>(per_tick) : 0;
        for (npy_intp i = 0; i < dims[0]; ++i) {
            const std::int64_t v = src[i];
            if (v == kern::not_a_time) {
                data[i] = v;
            } else if (v > bound || v < -bound) {
                return raise_datetime64_range();
            } else {
                data[i] = v * step;
            }
        }
    } else {
        for (npy_intp i = 0; i < dims[0]; ++i) {
            const std::int64_t v = src[i];
            if (v == kern::not_a_time)
                data[i] = v;
            else if (!ns_from_ticks(wide{v} * num, unit, data[i]))
                return raise_datetime64_range();
        }
    }
    return finish(std::move(array), out);
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
    if (kind == 'M') return read_datetime64(a, out);
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
