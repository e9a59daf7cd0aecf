// Owning view of an object's buffer (PEP 3118) and checks for two-dimensional float64 views.
#pragma once
#include <Python.h>

#include <cstring>

namespace orbivex::py {

/// Non-copyable, non-movable owner of one acquired Py_buffer; released on destruction.
class Buffer {
public:
    Buffer() noexcept = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (view_.obj) PyBuffer_Release(&view_);
    }

    /// PyObject_GetBuffer with `flags`; 0 on success, -1 with the error set.
    int acquire(PyObject* obj, int flags) noexcept {
        return PyObject_GetBuffer(obj, &view_, flags);
    }

    const Py_buffer& view() const noexcept { return view_; }

private:
    Py_buffer view_{};
};

/// True when a buffer format describes one native-order float64 ("d", "@d", "=d", or "<d" on a
/// little-endian host).
inline bool is_native_double_format(const char* format) noexcept {
    if (!format) return false;  // no format requested means unsigned bytes
    if (format[0] == '@' || format[0] == '=') ++format;
#if PY_LITTLE_ENDIAN
    else if (format[0] == '<') ++format;
#else
    else if (format[0] == '>' || format[0] == '!') ++format;
#endif
    return std::strcmp(format, "d") == 0;
}

}  // namespace orbivex::py
