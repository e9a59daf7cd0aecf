// Catalogue order: rows sorted by satellite, then epoch, stably (rows with equal keys keep the
// order they came in). Pure C++; the callers run it with the interpreter lock released.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbivex::catalog {

/// Puts the `n` items that `each(f)` passes to `f` in input order into `out`, in catalogue
/// order, where `satno(item)` and `epoch(item)` give the keys. Input already in order (the
/// usual case for a satellite's history, and for what this module writes) is copied; text in
/// epoch order takes a counting sort by satellite, whose runs then are in epoch order already;
/// anything else also sorts the runs that need it. May throw std::bad_alloc.
template <class T, class Each, class Satno, class Epoch>
void sort_into(std::vector<T>& out, const std::size_t n, Each each, Satno satno, Epoch epoch) {
    bool sorted = true, first = true;
    std::int64_t lo = 0, hi = 0, last_satno = 0, last_epoch = 0;
    each([&](const T& item) {
        const std::int64_t s = satno(item), e = epoch(item);
        if (first || s < lo) lo = s;
        if (first || s > hi) hi = s;
        if (!first && (s < last_satno || (s == last_satno && e < last_epoch))) sorted = false;
        first = false;
        last_satno = s;
        last_epoch = e;
    });
    out.clear();
    out.reserve(n);
    // Unsigned: the span of two int64 numbers may not fit a signed one.
    const std::uint64_t span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    const std::uint64_t counting_limit = std::max<std::uint64_t>(2 * std::uint64_t{n}, 1u << 20);
    if (sorted || span >= counting_limit) {
        each([&](const T& item) { out.push_back(item); });
        if (sorted) return;
        std::stable_sort(out.begin(), out.end(),
                         [&](const T& a, const T& b) { return satno(a) < satno(b); });
    } else {
        const auto key = [&](const T& item) {
            return static_cast<std::size_t>(static_cast<std::uint64_t>(satno(item)) -
                                            static_cast<std::uint64_t>(lo));
        };
        std::vector<std::size_t> start(static_cast<std::size_t>(span) + 2, 0);
        each([&](const T& item) { ++start[key(item) + 1]; });
        for (std::size_t k = 1; k < start.size(); ++k) start[k] += start[k - 1];
        out.resize(n);
        each([&](const T& item) { out[start[key(item)]++] = item; });
    }
    // Each satellite's run in epoch order.
    const auto by_epoch = [&](const T& a, const T& b) { return epoch(a) < epoch(b); };
    for (std::size_t a = 0; a < n;) {
        std::size_t b = a + 1;
        bool run_sorted = true;
        const std::int64_t s = satno(out[a]);
        for (; b < n && satno(out[b]) == s; ++b)
            if (epoch(out[b]) < epoch(out[b - 1])) run_sorted = false;
        if (!run_sorted) std::stable_sort(out.begin() + a, out.begin() + b, by_epoch);
        a = b;
    }
}

/// sort_into over the items of one vector, in place.
template <class T, class Satno, class Epoch>
void sort_catalogue(std::vector<T>& items, Satno satno, Epoch epoch) {
    std::vector<T> out;
    sort_into(
        out, items.size(),
        [&](auto&& f) {
            for (const T& item : items) f(item);
        },
        satno, epoch);
    items.swap(out);
}

}  // namespace orbivex::catalog
