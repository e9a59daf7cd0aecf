// Work shared out over threads without the interpreter lock, answering signals between steps.
#pragma once
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace orbivex::catalog {

/// Calls `work.step()` until it returns false, on `threads` threads (the caller's among them),
/// with the interpreter lock released. Between its own steps the calling thread takes the lock
/// back to run the signal handlers; when one raises, `work.cancel()` stops every thread after
/// its step. Returns 0, or -1 with the handler's error set, once all threads have stopped.
/// Call with the lock held. `Work` has noexcept `bool step()` and `void cancel()`.
template <class Work>
int run_threads(Work& work, const int threads) noexcept {
    int rc = 0;
    PyThreadState* saved = PyEval_SaveThread();
    std::vector<std::thread> pool;
    try {
        pool.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
        for (int t = 1; t < threads; ++t)
            pool.emplace_back([&work] {
                while (work.step()) {
                }
            });
    } catch (...) {
        // Fewer threads than asked: the ones running share the work.
    }
    for (;;) {
        const bool more = work.step();
        PyEval_RestoreThread(saved);
        const bool raised = rc == 0 && PyErr_CheckSignals() < 0;
        saved = PyEval_SaveThread();
        if (raised) {
            rc = -1;
            work.cancel();
        }
        if (!more) break;
    }
    for (std::thread& t : pool) t.join();
    PyEval_RestoreThread(saved);
    return rc;
}

/// Work over [0, n) in blocks of `block` items: `body(begin, end)` for each block.
template <class Body>
class Blocks {
public:
    Blocks(std::size_t n, std::size_t block, Body body) : n_(n), block_(block), body_(body) {}
    bool step() noexcept {
        if (cancel_.load(std::memory_order_relaxed)) return false;
        const std::size_t b = next_.fetch_add(1, std::memory_order_relaxed) * block_;
        if (b >= n_) return false;
        body_(b, b + block_ < n_ ? b + block_ : n_);
        return true;
    }
    void cancel() noexcept { cancel_.store(true, std::memory_order_relaxed); }

private:
    std::size_t n_, block_;
    Body body_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> cancel_{false};
};

}  // namespace orbivex::catalog
