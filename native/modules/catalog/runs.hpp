// Object columns filled by runs of rows that share one object (a satellite's name), runs of
// one name found on threads, and the blocks of rows the gathering threads take.
#pragma once
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
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

/// Rows where a run of rows that share one object begins: row 0, and each row i of the `n`
/// where `same[i]` is 0 (row i does not share the object of row i - 1). Throws std::bad_alloc.
inline std::vector<std::size_t> run_starts(const std::vector<unsigned char>& same,
                                           const std::size_t n) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < n; ++i)
        if (i == 0 || !same[i]) starts.push_back(i);
    return starts;
}

/// The names of runs of rows, by run: `size[j]` bytes at `text[j]` (size `none` for no name),
/// and a hash of them.
struct RunNames {
    static constexpr std::uint32_t none = UINT32_MAX;
    std::vector<const char*> text;
    std::vector<std::uint32_t> size, hash;
    /// Room for `runs` runs; throws std::bad_alloc.
    explicit RunNames(std::size_t runs) : text(runs), size(runs), hash(runs) {}
};

/// For each run, the first run of the same name (or itself), so that runs of one name share
/// one object and only the first makes it. Found on the threads: each part takes the runs whose
/// hash falls in its share of the values, and looks them up in its own table in run order.
class FirstRuns {
public:
    /// Throws std::bad_alloc.
    FirstRuns(const RunNames& names, const int threads) : names_(names), first_(names.hash.size()) {
        while (parts_ < static_cast<std::size_t>(threads) && parts_ < 64) parts_ *= 2;
    }

    /// Parts to run, each once, on any thread (Blocks of one).
    std::size_t parts() const noexcept { return parts_; }
    void run_part(const std::size_t p) noexcept {
        try {
            part(p);
        } catch (const std::bad_alloc&) {
            failed_.store(true, std::memory_order_relaxed);
        }
    }
    bool failed() const noexcept { return failed_.load(std::memory_order_relaxed); }
    /// The first run of each run's name, once every part has run.
    const std::vector<std::size_t>& first() const noexcept { return first_; }

private:
    static constexpr std::size_t empty = SIZE_MAX;

    void part(const std::size_t p) {
        const std::uint32_t* hash = names_.hash.data();
        const std::uint32_t* size = names_.size.data();
        const char* const* text = names_.text.data();
        const std::size_t runs = first_.size(), mask = parts_ - 1;
        std::size_t count = 0;
        for (std::size_t j = 0; j < runs; ++j) count += (hash[j] & mask) == p;
        std::size_t cap = 16;
        while (cap < 2 * count) cap *= 2;
        std::vector<std::size_t> slots(cap, empty);
        const int shift = std::countr_zero(parts_);
        for (std::size_t j = 0; j < runs; ++j) {
            if ((hash[j] & mask) != p) continue;
            first_[j] = j;
            if (size[j] == RunNames::none) continue;
            for (std::size_t i = (hash[j] >> shift) & (cap - 1);; i = (i + 1) & (cap - 1)) {
                const std::size_t k = slots[i];
                if (k == empty) {
                    slots[i] = j;
                    break;
                }
                if (hash[k] == hash[j] && size[k] == size[j] &&
                    std::memcmp(text[k], text[j], size[j]) == 0) {
                    first_[j] = k;
                    break;
                }
            }
        }
    }

    const RunNames& names_;
    std::size_t parts_ = 1;
    std::vector<std::size_t> first_;
    std::atomic<bool> failed_{false};
};

/// Fills the object column `out` of `n` rows by runs (`starts`, from run_starts): each run takes
/// one object, `object_of(j, row)` for run j from its first row (a new reference, or NULL with
/// an error), made with the lock held and in run order. The rows are filled on up to `threads`
/// threads without the lock, and each object then takes the references of its rows at once.
/// Returns 0, or -1 with the error set and `out` left empty; call with the lock held.
template <class ObjectOf>
int fill_runs(PyObject** out, const std::size_t n, const std::vector<std::size_t>& starts,
              const int threads, ObjectOf&& object_of) noexcept {
    std::vector<PyObject*> objects;  // a reference each, for the first row of its run
    const auto drop = [&] {
        for (PyObject* o : objects) Py_DECREF(o);
        return -1;
    };
    try {
        objects.reserve(starts.size());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    for (std::size_t j = 0; j < starts.size(); ++j) {
        PyObject* o = object_of(j, starts[j]);
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
