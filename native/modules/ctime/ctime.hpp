// Shared declarations of the ctime module: its state, the Time object layout and the converters.
#pragma once
#include <Python.h>

#include <cstdint>

#include <tuple>

#include "support/module.hpp"
#include "support/numpy.hpp"
#include "support/ref.hpp"

namespace orbivex::ctime {

struct ctime_state {
    PyTypeObject* time_type;
    PyTypeObject* utc_type;
    PyArray_Descr* ns_descr;  ///< numpy.dtype("M8[ns]")

    static constexpr auto refs() {
        return std::tuple{py::owned(&ctime_state::time_type), py::owned(&ctime_state::utc_type),
                          py::owned(&ctime_state::ns_descr)};
    }
};

/// The module: Time and its UTC view.
struct ctime_module {
    static constexpr const char name[] = "ctime";
    static constexpr const char doc[] =
        "Native Time: instants as int64 nanoseconds since 1970-01-01T00:00:00 UTC.";
    using State = ctime_state;
    static int exec(PyObject* module, ctime_state& st) noexcept;
};

/// One instant or a 1-D array of instants, as int64 nanoseconds since 1970-01-01T00:00:00 UTC.
/// The `UTC` view shares this layout. Neither refers to objects that could refer back, so
/// neither takes part in garbage collection.
struct TimeObject {
    PyObject_HEAD
    std::int64_t ns;   ///< the instant of a scalar Time
    PyObject* values;  ///< NULL for a scalar; else a read-only C-contiguous 1-D int64 ndarray
};

/// State of the module that defined `type` or one of its bases; NULL with TypeError if none
/// (found along the MRO, so that Cython's static subclasses are served too).
inline ctime_state* state_of(PyTypeObject* type) noexcept {
    return py::Module<ctime_module>::state_of(type);
}

/// What a constructor argument is read as.
enum class Format { automatic, jd };

/// Instants read from a constructor argument: `values` set for an array, else `ns`.
struct Instants {
    std::int64_t ns = 0;
    py::Ref values;
};

/// Reads `format` (NULL or None for automatic); -1 with ValueError/TypeError when unknown.
int parse_format(PyObject* format, Format& out);
/// Accepts NULL, None or "utc" (any case); -1 with ValueError/TypeError otherwise.
int check_scale(PyObject* scale);
/// Reads `value` as instants. 0 on success, -1 with an error set.
int read_instants(ctime_state* st, PyObject* value, Format format, Instants& out);
/// Binds the datetime C API for read_instants; -1 with an error set.
int import_datetime();

/// New object of `type` (Time, UTC or a subclass) holding `in`.
PyObject* new_instants(PyTypeObject* type, Instants&& in);

/// Type specs of the module's two types.
extern PyType_Spec time_spec;
extern PyType_Spec utc_spec;
/// Vectorcall of the Time type itself: `Time(value, format=None, scale=None)` without tp_new's
/// tuple and dict.
PyObject* Time_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf,
                          PyObject* kwnames) noexcept;

/// ISO text of the instants: scalar "YYYY-MM-DDTHH:MM:SS.fff…" with `digits` fraction digits;
/// for an array a list of them, each quoted when `quote` is set. Used by Time and UTC reprs.
PyObject* instants_text(const TimeObject* self, int digits, bool quote);

}  // namespace orbivex::ctime
