// Object columns filled by runs of rows that share one object (a satellite's name), and the
// blocks of rows the gathering threads take.
#pragma once
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "threads.hpp"

namespace orbivex::catalog {

/// Rows a gathering thread takes at a time: 2 MiB of each 8-byte column once there are enough
/// rows, so that two threads do not fault in the same huge page of a column at once.
inline std::size_t gather_block(const std::size_t n) noexcept {
    constexpr std::size_t huge_rows = (std::size_t{2} << 20) / 8;
    return n >= 4 * huge_rows ? huge_rows : 16384;
}

/// Fills the object column `out` of `n` rows, where `same[i]` says that row i shares the
/// object of row i - 1 (a satellite's rows mostly share its name): each run takes one object,
/// `object_of(i)` of its first row (a new reference, or NULL with an error), made with the
/// lock held. The rows are filled on up to `threads` threads without the lock, and each
/// object then takes the references of its rows at once. Returns 0, or -1 with the error set
/// and `out` left empty; call with the lock held.
template <class ObjectOf>
int fill_runs(PyObject** out, const std::size_t n, const std::vector<unsigned char>& same,
              const int threads, ObjectOf&& object_of) noexcept {
    std::vector<std::size_t> starts;
    std::vector<PyObject*> objects;  // a reference each, for the first row of its run
    const auto drop = [&] {
        for (PyObject* o : objects) Py_DECREF(o);
        return -1;
    };
    try {
        for (std::size_t i = 0; i < n; ++i)
            if (i == 0 || !same[i]) starts.push_back(i);
        objects.reserve(starts.size());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    for (const std::size_t i : starts) {
        PyObject* o = object_of(i);
        if (!o) return drop();
        objects.push_back(o);
    }
    const std::size_t rows = gather_block(n);
    Blocks work(n, rows, [&](std::size_t a, std::size_t b) noexcept {
        auto r = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), a) -
                                          starts.begin()) -
                 1;
        for (std::size_t i = a; i < b; ++i) {
            if (r + 1 < starts.size() && starts[r + 1] == i) ++r;
            out[i] = objects[r];
        }
    });
    const auto blocks = static_cast<int>((n + rows - 1) / rows);
    if (run_threads(work, std::min(threads, blocks)) < 0) {
        // Rows filled before the signal hold no references of their own.
        std::memset(static_cast<void*>(out), 0, n * sizeof(PyObject*));
        return drop();
    }
    // Py_SET_REFCNT leaves immortal objects (None, interned text) as they are.
    for (std::size_t r = 0; r < objects.size(); ++r) {
        const std::size_t run = (r + 1 < starts.size() ? starts[r + 1] : n) - starts[r];
        Py_SET_REFCNT(objects[r], Py_REFCNT(objects[r]) + static_cast<Py_ssize_t>(run - 1));
    }
    return 0;
}

}  // namespace orbivex::catalog
