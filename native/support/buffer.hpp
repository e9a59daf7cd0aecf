// Owning view of an object's buffer (PEP 3118), with the checks for float64 arrays and arrays of
// float64 records and their error texts.
#pragma once
#include <Python.h>

#include <cstring>

namespace orbivex::py {

/// True when a buffer format describes one native float64: "d" with no byte-order mark, or
/// with one that means the host's order ("@", "=", "^", and "<" on a little-endian host, ">"
/// or "!" on a big-endian one). NULL (no format requested) means unsigned bytes: false.
bool is_native_double_format(const char* format) noexcept;

/// Fields of a record format "T{d:a:d:b:...}" whose every field is one native float64, or -1
/// for anything else (other types, padding, sub-arrays, nested records).
Py_ssize_t native_double_fields(const char* format) noexcept;

/// Whether a checked view must be writable.
enum class Access { writable, read_only };

/// How a float64 view's dtype mismatch names the format found: "but got 'F'", or "but got
/// format 'F'" as the coe module's functions have always worded it.
enum class GotFormat { quoted, labelled };

/// The record dtype a caller last found plain, with its names tuple (renaming the fields
/// replaces the tuple; nothing else about the layout can change), both held: arrays of that
/// dtype skip the layout check, which costs about as much as the rest of a call on empty input.
/// For one record layout; the caller owns the references and drops them with its module.
struct PlainRecords {
    PyObject* descr;
    PyObject* names;
};

/// Non-copyable, non-movable owner of one acquired buffer; released on destruction.
///
/// The checked acquisitions raise ValueError with these texts:
///   "Buffer has wrong number of dimensions (expected N, got M)"
///   "Buffer dtype mismatch, expected 'double' but got 'F'" (or "... but got format 'F'")
///   "Buffer dtype mismatch, expected 'R' (N float64 fields, B bytes) but got format 'F' of I
///   bytes" "buffer source array is read-only"
/// An exact ndarray whose layout passes is read through its own data, shape and strides
/// (valid while the caller holds the array) without a buffer request: the request costs more
/// than the rest of a call on small input. A module that uses the checked acquisitions binds
/// NumPy's C API (support/numpy.hpp) in its exec slot.
class Buffer {
public:
    Buffer() noexcept = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }

    /// PyObject_GetBuffer with `flags`, unchecked; 0 on success, -1 with the error set.
    int acquire(PyObject* obj, int flags) noexcept;

    /// A view of `ndim` dimensions of native float64 items, any strides.
    int acquire_doubles(PyObject* obj, int ndim, Access access = Access::writable,
                        GotFormat got = GotFormat::quoted) noexcept;

    /// A writable view of `ndim` dimensions of records of `fields` native float64 fields at
    /// offsets 0, 8, 16, ...; `record` names the record type in the error text. `known`, if
    /// given, remembers the last dtype found plain.
    int acquire_records(PyObject* obj, int ndim, int fields, const char* record,
                        PlainRecords* known = nullptr) noexcept;

    const Py_buffer& view() const noexcept { return view_; }
    Py_ssize_t len(int axis = 0) const noexcept { return view_.shape[axis]; }
    Py_ssize_t stride(int axis = 0) const noexcept { return view_.strides[axis]; }
    char* at(Py_ssize_t i) const noexcept {
        return static_cast<char*>(view_.buf) + i * view_.strides[0];
    }
    char* at(Py_ssize_t i, Py_ssize_t j) const noexcept { return at(i) + j * view_.strides[1]; }
    /// Item i of a one-dimensional float64 view (memcpy: a strided view need not be aligned).
    double load(Py_ssize_t i) const noexcept {
        double v;
        std::memcpy(&v, at(i), sizeof v);
        return v;
    }
    void store(Py_ssize_t i, double value) const noexcept {
        std::memcpy(at(i), &value, sizeof value);
    }

private:
    int acquire_checked(PyObject* obj, int ndim, int fields, const char* record, Access access,
                        GotFormat got, PlainRecords* known) noexcept;
    bool adopt(PyObject* obj, int ndim, int fields, Access access, PlainRecords* known) noexcept;

    Py_buffer view_{};
    bool held_ = false;
    // Shape, then strides, of an adopted array: copied, since Python code run during a loop can
    // give the array new dimensions and free the ones it had.
    Py_ssize_t extents_[4] = {};
};

}  // namespace orbivex::py
