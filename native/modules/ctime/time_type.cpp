// The Time type: construction, conversions, ordering, hashing and item access.
#include <Python.h>

#include <array>
#include <cstring>

#include "kernels/civil_time.hpp"
#include "modules/ctime/ctime.hpp"
#include "support/args.hpp"

namespace orbivex::ctime {

using py::Ref;

namespace {

constexpr std::array<const char*, 3> time_param_names{"value", "format", "scale"};
constexpr py::Params time_params{time_param_names, 1, 3};

TimeObject* as_time(PyObject* self) { return reinterpret_cast<TimeObject*>(self); }

PyArrayObject* values_of(const TimeObject* t) {
    return reinterpret_cast<PyArrayObject*>(t->values);
}

Py_ssize_t length_of(const TimeObject* t) { return PyArray_DIM(values_of(t), 0); }

const std::int64_t* data_of(const TimeObject* t) {
    return static_cast<const std::int64_t*>(PyArray_DATA(values_of(t)));
}

PyObject* make_time(PyTypeObject* type, ctime_state* st, PyObject* const* argv) {
    Format format;
    if (parse_format(argv[1], format) < 0 || check_scale(argv[2]) < 0) return nullptr;
    PyObject* value = argv[0];
    // A Time never changes, so Time(t) may be t itself.
    if (type == st->time_type && Py_IS_TYPE(value, st->time_type) && format == Format::automatic)
        return Py_NewRef(value);
    Instants in;
    if (read_instants(st, value, format, in) < 0) return nullptr;
    return new_instants(type, std::move(in));
}

PyObject* Time_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
    ctime_state* st = state_of(type);
    if (!st) return nullptr;
    PyObject* argv[3];
    Ref held[3];
    if (py::bind_tuple_dict("Time", time_params, args, kwds, argv, held) < 0) return nullptr;
    return make_time(type, st, argv);
}

// Only a heap type is referenced by its instances; a Cython subclass is a static type.
void Time_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    Py_CLEAR(as_time(self)->values);
    type->tp_free(self);
    if (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) Py_DECREF(type);
}

[[gnu::cold]] PyObject* raise_scalar(const char* what) {
    PyErr_Format(PyExc_TypeError, "%s of a scalar Time", what);
    return nullptr;
}

PyObject* scalar_at(PyTypeObject* type, const TimeObject* t, Py_ssize_t i) {
    Instants in;
    in.ns = data_of(t)[i];
    return new_instants(type, std::move(in));
}

// --- getters -------------------------------------------------------------------------------

PyObject* Time_get_jd(PyObject* self, void*) noexcept {
    const TimeObject* t = as_time(self);
    if (!t->values) return PyFloat_FromDouble(kern::jd_from_ns(t->ns));
    npy_intp dims[1] = {length_of(t)};
    PyObject* out = PyArray_SimpleNew(1, dims, NPY_DOUBLE);
    if (!out) return nullptr;
    auto* jd = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out)));
    const std::int64_t* ns = data_of(t);
    for (npy_intp i = 0; i < dims[0]; ++i) jd[i] = kern::jd_from_ns(ns[i]);
    return out;
}

PyObject* Time_get_int64(PyObject* self, void*) noexcept {
    const TimeObject* t = as_time(self);
    if (!t->values) return PyLong_FromLongLong(t->ns);
    return PyArray_NewCopy(values_of(t), NPY_CORDER);
}

PyObject* Time_get_datetime64(PyObject* self, void*) noexcept {
    const TimeObject* t = as_time(self);
    ctime_state* st = state_of(Py_TYPE(self));
    if (!st) return nullptr;
    if (!t->values) return PyArray_Scalar(const_cast<std::int64_t*>(&t->ns), st->ns_descr, nullptr);
    npy_intp dims[1] = {length_of(t)};
    Py_INCREF(st->ns_descr);  // stolen
    PyObject* out =
        PyArray_NewFromDescr(&PyArray_Type, st->ns_descr, 1, dims, nullptr, nullptr, 0, nullptr);
    if (!out) return nullptr;
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out)), data_of(t),
                sizeof(std::int64_t) * dims[0]);
    return out;
}

PyObject* Time_get_utc(PyObject* self, void*) noexcept {
    const TimeObject* t = as_time(self);
    ctime_state* st = state_of(Py_TYPE(self));
    if (!st) return nullptr;
    Instants in;
    in.ns = t->ns;
    in.values = Ref::borrow(t->values);
    return new_instants(st->utc_type, std::move(in));
}

PyObject* Time_get_shape(PyObject* self, void*) noexcept {
    const TimeObject* t = as_time(self);
    if (!t->values) return PyTuple_New(0);
    return Py_BuildValue("(n)", length_of(t));
}

PyObject* Time_get_is_scalar(PyObject* self, void*) noexcept {
    return PyBool_FromLong(as_time(self)->values == nullptr);
}

PyGetSetDef Time_getset[] = {
    {"jd", Time_get_jd, nullptr, "Julian date in days (float, or float64 array).", nullptr},
    {"int64", Time_get_int64, nullptr,
     "Nanoseconds since 1970-01-01T00:00:00 UTC (int, or a new int64 array).", nullptr},
    {"datetime64", Time_get_datetime64, nullptr,
     "The instants as numpy.datetime64 in nanoseconds (scalar or a new array).", nullptr},
    {"utc", Time_get_utc, nullptr, "A view whose repr is the UTC calendar text.", nullptr},
    {"shape", Time_get_shape, nullptr, "() for one instant, (n,) for an array.", nullptr},
    {"is_scalar", Time_get_is_scalar, nullptr, "True for one instant.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// --- comparison, hashing, truth ------------------------------------------------------------

// One side of an array comparison: the int64 array, or the instant as an int.
Ref comparable(const TimeObject* t) {
    return t->values ? Ref::borrow(t->values) : Ref::steal(PyLong_FromLongLong(t->ns));
}

PyObject* Time_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    // Sorting compares instants of one type: skip the module-state lookup for them.
    if (Py_TYPE(other) != Py_TYPE(self)) {
        ctime_state* st = state_of(Py_TYPE(self));
        if (!st) return nullptr;
        if (!PyObject_TypeCheck(other, st->time_type)) Py_RETURN_NOTIMPLEMENTED;
    }
    const TimeObject* a = as_time(self);
    const TimeObject* b = as_time(other);
    if (!a->values && !b->values) Py_RETURN_RICHCOMPARE(a->ns, b->ns, op);
    Ref left = comparable(a);
    Ref right = comparable(b);
    if (!left || !right) return nullptr;
    return PyObject_RichCompare(left.get(), right.get(), op);
}

// Equal to hash(int(ns)), so a scalar Time hashes like its int64 value.
Py_hash_t Time_hash(PyObject* self) noexcept {
    const TimeObject* t = as_time(self);
    if (t->values) {
        PyErr_SetString(PyExc_TypeError, "unhashable type: array Time");
        return -1;
    }
    static_assert(sizeof(Py_hash_t) == 8, "the modulus of int hashing is 2**61 - 1 here");
    constexpr std::int64_t modulus = (std::int64_t{1} << 61) - 1;
    // NaT never gets here, so -ns cannot overflow.
    Py_hash_t h = t->ns >= 0 ? t->ns % modulus : -((-t->ns) % modulus);
    return h == -1 ? -2 : h;
}

int Time_bool(PyObject* self) noexcept {
    const TimeObject* t = as_time(self);
    return t->values ? length_of(t) > 0 : 1;
}

// --- item access ---------------------------------------------------------------------------

Py_ssize_t Time_length(PyObject* self) noexcept {
    const TimeObject* t = as_time(self);
    if (!t->values) {
        raise_scalar("len()");
        return -1;
    }
    return length_of(t);
}

PyObject* Time_item(PyObject* self, Py_ssize_t i) noexcept {
    const TimeObject* t = as_time(self);
    if (!t->values) return raise_scalar("indexing");
    if (i < 0 || i >= length_of(t)) {
        PyErr_SetString(PyExc_IndexError, "Time index out of range");
        return nullptr;
    }
    ctime_state* st = state_of(Py_TYPE(self));
    return st ? scalar_at(st->time_type, t, i) : nullptr;
}

PyObject* Time_subscript(PyObject* self, PyObject* key) noexcept {
    const TimeObject* t = as_time(self);
    if (!t->values) return raise_scalar("indexing");
    if (PyLong_Check(key)) {
        Py_ssize_t i = PyLong_AsSsize_t(key);
        if (i == -1 && PyErr_Occurred()) return nullptr;
        return Time_item(self, i < 0 ? i + length_of(t) : i);
    }
    ctime_state* st = state_of(Py_TYPE(self));
    if (!st) return nullptr;
    // Slices, masks and index arrays: NumPy selects, the result is read like an argument.
    Ref picked = Ref::steal(PyObject_GetItem(t->values, key));
    if (!picked) return nullptr;
    Instants in;
    if (read_instants(st, picked.get(), Format::automatic, in) < 0) return nullptr;
    return new_instants(st->time_type, std::move(in));
}

PyObject* Time_iter(PyObject* self) noexcept {
    if (!as_time(self)->values) return raise_scalar("iteration");
    return PySeqIter_New(self);
}

// --- methods -------------------------------------------------------------------------------

PyObject* Time_reduce(PyObject* self, PyObject*) noexcept {
    Ref value = Ref::steal(Time_get_int64(self, nullptr));
    if (!value) return nullptr;
    return Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(Py_TYPE(self)), value.get());
}

PyMethodDef Time_methods[] = {
    {"__reduce__", Time_reduce, METH_NOARGS, "Pickles as Time(int64 nanoseconds)."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* Time_repr(PyObject* self) noexcept {
    Ref text = Ref::steal(instants_text(as_time(self), 9, true));
    if (!text) return nullptr;
    return PyUnicode_FromFormat("Time(%U)", text.get());
}

PyObject* Time_str(PyObject* self) noexcept { return instants_text(as_time(self), 9, false); }

PyType_Slot time_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Time(value, format=None, scale=None)\n--\n\n"
                    "One instant or a 1-D array of instants in UTC (no leap seconds), held as\n"
                    "int64 nanoseconds since 1970-01-01T00:00:00 (as numpy.datetime64[ns]).\n\n"
                    "value: ISO text ('2024', '2024-03-01', '2024-03-01T12:00:00.5'), an int of\n"
                    "nanoseconds, a datetime, a datetime64, a Time, or an array or list of these;\n"
                    "with format='jd', a Julian date in days (float or float array).")},
    {Py_tp_new, reinterpret_cast<void*>(Time_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(Time_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(Time_repr)},
    {Py_tp_str, reinterpret_cast<void*>(Time_str)},
    {Py_tp_hash, reinterpret_cast<void*>(Time_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(Time_richcompare)},
    {Py_tp_iter, reinterpret_cast<void*>(Time_iter)},
    {Py_tp_getset, Time_getset},
    {Py_tp_methods, Time_methods},
    {Py_nb_bool, reinterpret_cast<void*>(Time_bool)},
    {Py_mp_length, reinterpret_cast<void*>(Time_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(Time_subscript)},
    {Py_sq_length, reinterpret_cast<void*>(Time_length)},
    {Py_sq_item, reinterpret_cast<void*>(Time_item)},
    {0, nullptr},
};

}  // namespace

PyObject* new_instants(PyTypeObject* type, Instants&& in) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    as_time(self)->ns = in.ns;
    as_time(self)->values = in.values.release();
    return self;
}

PyObject* Time_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                          PyObject* kwnames) noexcept {
    auto* tp = reinterpret_cast<PyTypeObject*>(type);
    auto* st = static_cast<ctime_state*>(PyType_GetModuleState(tp));
    if (!st) return nullptr;
    PyObject* argv[3];
    if (py::bind_vectorcall("Time", time_params, args, PyVectorcall_NARGS(nargsf), kwnames, argv) <
        0)
        return nullptr;
    return make_time(tp, st, argv);
}

PyType_Spec time_spec = {
    "orbivex.time.time.Time",
    sizeof(TimeObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE,
    time_slots,
};

}  // namespace orbivex::ctime
