// Shared declarations of the sgp4 module: its state and the _Model type (initialised records).
#pragma once
#include <Python.h>

#include <cstdint>
#include <tuple>

#include "kernels/sgp4_init.hpp"
#include "support/module.hpp"
#include "support/numpy.hpp"
#include "support/ref.hpp"

namespace orbivex::sgp4 {

using py::Ref;
namespace k = kern::sgp4;

struct sgp4_state {
    PyTypeObject* Model_type = nullptr;
    PyObject* helper = nullptr;

    static constexpr auto refs() {
        return std::tuple{py::owned(&sgp4_state::Model_type), py::owned(&sgp4_state::helper)};
    }
};

/// Element sets initialised once: n records, their exact epochs (ns since 1970 UTC) and the
/// initialisation statuses. Nothing here changes after construction.
struct ModelObject {
    PyObject_HEAD
    Py_ssize_t n;
    k::Record* records;
    std::int64_t* epoch_ns;
    PyObject* elements;  ///< (n, 9) float64 columns the records were made from, for pickling
    PyObject* epochs;    ///< (n,) int64, the epoch_ns array as given
    PyObject* status;    ///< (n,) uint8 initialisation statuses
    k::Gravity gravity;
    k::Mode mode;
};

extern PyType_Spec Model_spec;

/// The module function _parse(line1, line2): element columns and exact epochs from text.
PyObject* parse_lines(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

/// Nanoseconds per minute, and days between 1949 December 31 and 1970 January 1.
inline constexpr std::int64_t ns_per_minute = 60'000'000'000;
inline constexpr std::int64_t ns_per_day = 86'400'000'000'000;
inline constexpr std::int64_t days_1950_to_1970 = 7306;

}  // namespace orbivex::sgp4
