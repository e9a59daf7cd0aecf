// Shared declarations of the sgp4 module: its state and the _Model type (initialised records).
#pragma once
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <tuple>

#include "kernels/sgp4_init.hpp"
#include "modules/catalog/threads.hpp"
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

/// Runs body(item) for items [0, n) on `threads` threads; MemoryError when a body reported
/// that its scratch could not be had.
template <class Body>
inline int run_items(std::size_t n, int threads, Body body) noexcept {
    std::atomic<bool> no_memory{false};
    auto each = [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i < e; ++i)
            if (!body(i)) no_memory.store(true, std::memory_order_relaxed);
    };
    catalog::Blocks<decltype(each)> work(n, 1, each);
    if (n == 0) return 0;
    if (catalog::run_threads(
            work, std::clamp<int>(threads, 1, static_cast<int>(std::min<std::size_t>(n, 1024)))) <
        0)
        return -1;
    if (no_memory.load()) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

/// Threads for initialising `n` sets: every core, once there is enough work to share.
inline int init_threads(std::size_t n) noexcept {
    const unsigned hw = std::thread::hardware_concurrency();
    return n < 2048 || hw < 2 ? 1 : static_cast<int>(std::min(hw, 64u));
}

}  // namespace orbivex::sgp4
