// ISO text of Time values, and the UTC view whose repr is the calendar text of a Time.
#include <Python.h>

#include <new>
#include <string>

#include "kernels/civil_time.hpp"
#include "modules/ctime/ctime.hpp"

namespace orbivex::ctime {

namespace {

// Arrays longer than this show their first and last few instants around "...".
constexpr npy_intp summary_threshold = 1000;
constexpr npy_intp summary_edge = 3;

void append_instant(std::string& out, std::int64_t ns, int digits, bool quote) {
    char buf[kern::iso_buffer_size];
    const std::size_t n = kern::format_iso(ns, digits, buf);
    if (quote) out += '\'';
    out.append(buf, n);
    if (quote) out += '\'';
}

std::string array_text(const TimeObject* self, int digits, bool quote) {
    auto* a = reinterpret_cast<PyArrayObject*>(self->values);
    const npy_intp n = PyArray_DIM(a, 0);
    const auto* ns = static_cast<const std::int64_t*>(PyArray_DATA(a));
    std::string out = "[";
    const bool summarise = n > summary_threshold;
    for (npy_intp i = 0; i < n; ++i) {
        if (i > 0) out += ", ";
        if (summarise && i == summary_edge) {
            out += "..., ";
            i = n - summary_edge;
        }
        append_instant(out, ns[i], digits, quote);
    }
    out += ']';
    return out;
}

PyObject* UTC_repr(PyObject* self) noexcept {
    const auto* t = reinterpret_cast<const TimeObject*>(self);
    py::Ref text = py::Ref::steal(instants_text(t, 6, false));
    if (!text) return nullptr;
    return PyUnicode_FromFormat("%U UTC", text.get());
}

void UTC_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    Py_CLEAR(reinterpret_cast<TimeObject*>(self)->values);
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot utc_slots[] = {
    {Py_tp_doc, const_cast<char*>("The instants of a Time shown as UTC calendar text, to the "
                                  "microsecond: repr(t.utc) is '2024-01-01T12:00:00.000000 UTC'.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(UTC_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(UTC_repr)},
    {0, nullptr},
};

}  // namespace

PyObject* instants_text(const TimeObject* self, int digits, bool quote) {
    if (!self->values) {
        char buf[kern::iso_buffer_size + 2];
        char* p = buf;
        if (quote) *p++ = '\'';
        p += kern::format_iso(self->ns, digits, p);
        if (quote) *p++ = '\'';
        return PyUnicode_FromStringAndSize(buf, p - buf);
    }
    try {
        const std::string text = array_text(self, digits, quote);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// Made only by Time.utc: no constructor from Python.
PyType_Spec utc_spec = {
    "orbivex.time.time.UTC",
    sizeof(TimeObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    utc_slots,
};

}  // namespace orbivex::ctime
