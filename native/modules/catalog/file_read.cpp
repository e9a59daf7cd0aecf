// _read_file(path, threads): the bytes of a regular file, read in blocks on several threads
// without the interpreter lock. Most of a plain read's time is the first touch of the new
// buffer's pages, which threads share out as they share the copy.
#include <Python.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "catalog.hpp"
#include "threads.hpp"

namespace orbivex::catalog {

namespace {

/// Bytes a thread reads at a time: small enough for Ctrl-C to be answered within a few ms.
constexpr std::size_t file_block = std::size_t{4} << 20;

/// Size from which the text buffer is advised into huge pages: above the largest size malloc
/// serves from its heap (32 MiB).
constexpr std::size_t huge_advice_from = std::size_t{64} << 20;

/// Closes the descriptor it holds.
class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

/// The blocks of one file read into one buffer. A file cut short while it is read ends at the
/// first block that came short: blocks after that one are not part of the text.
class FileBlocks {
public:
    FileBlocks(int fd, char* out, std::size_t size) noexcept : fd_(fd), out_(out), size_(size) {}

    bool step() noexcept {
        if (cancel_.load(std::memory_order_relaxed)) return false;
        const std::size_t at = next_.fetch_add(1, std::memory_order_relaxed) * file_block;
        if (at >= size_) return false;
        const std::size_t want = std::min(file_block, size_ - at);
        std::size_t got = 0;
        while (got < want) {
            const ssize_t r = pread(fd_, out_ + at + got, want - got, static_cast<off_t>(at + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                int none = 0;
                error_.compare_exchange_strong(none, errno, std::memory_order_relaxed);
                cancel();
                return false;
            }
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
        }
        if (got < want) {
            std::size_t seen = end_.load(std::memory_order_relaxed);
            while (at + got < seen &&
                   !end_.compare_exchange_weak(seen, at + got, std::memory_order_relaxed)) {
            }
        }
        return true;
    }
    void cancel() noexcept { cancel_.store(true, std::memory_order_relaxed); }
    /// errno of the first failed read, or 0.
    int error() const noexcept { return error_.load(std::memory_order_relaxed); }
    /// Where the text ends: the size, or the end of the first block that came short.
    std::size_t end() const noexcept { return std::min(size_, end_.load()); }

private:
    int fd_;
    char* out_;
    std::size_t size_;
    std::atomic<std::size_t> next_{0}, end_{SIZE_MAX};
    std::atomic<int> error_{0};
    std::atomic<bool> cancel_{false};
};

}  // namespace

PyObject* read_file(PyObject*, PyObject* const* args, const Py_ssize_t nargs) noexcept {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "_read_file() takes 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(args[0], &encoded)) return nullptr;
    Ref path = Ref::steal(encoded);
    const long threads = PyLong_AsLong(args[1]);
    if (threads == -1 && PyErr_Occurred()) return nullptr;
    int fd = -1, err = 0;
    struct stat info{};
    Py_BEGIN_ALLOW_THREADS;
    // Not blocking: a FIFO must not hang the open; it is left to a plain read below.
    fd = open(PyBytes_AS_STRING(path.get()), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 || fstat(fd, &info) < 0) err = errno;
    Py_END_ALLOW_THREADS;
    Descriptor file(fd);
    if (err) return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, args[0]);
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, args[0]);
    }
    // Files whose size is not known up front (pipes, devices, /proc) are read by the caller.
    if (!S_ISREG(info.st_mode) || info.st_size <= 0) Py_RETURN_NONE;
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
    PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
    if (!out) return nullptr;
    // Sets are gathered in catalogue order from text in epoch order, all over the text: huge
    // pages keep those reads within reach of the TLB (advice only). Only for buffers that
    // malloc maps by themselves, so that the advice goes with them when they are freed.
    if (size >= huge_advice_from) {
        const auto at = reinterpret_cast<std::uintptr_t>(PyBytes_AS_STRING(out));
        const std::uintptr_t lo = (at + 4095) & ~std::uintptr_t{4095};
        const std::uintptr_t hi = (at + size) & ~std::uintptr_t{4095};
        madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
    }
    FileBlocks blocks(file.get(), PyBytes_AS_STRING(out), size);
    const std::size_t pieces = (size + file_block - 1) / file_block;
    const int workers = static_cast<int>(std::clamp<long>(threads, 1, static_cast<long>(pieces)));
    if (run_threads(blocks, workers) < 0) {
        Py_DECREF(out);
        return nullptr;
    }
    if (blocks.error() != 0) {
        Py_DECREF(out);
        errno = blocks.error();
        return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, args[0]);
    }
    if (blocks.end() < size && _PyBytes_Resize(&out, static_cast<Py_ssize_t>(blocks.end())) < 0)
        return nullptr;
    return out;
}

}  // namespace orbivex::catalog
