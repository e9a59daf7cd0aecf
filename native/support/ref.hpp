// Owning reference to a Python object: the one way references are held in orbivex's native code.
#pragma once
#include <Python.h>

#include <utility>

namespace orbivex::py {

/// Move-only owner of one strong reference (or of nothing).
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    /// Takes over a new reference (may be NULL, e.g. straight from a failing API call).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    /// Adds a reference to a borrowed object (may be NULL).
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    PyObject* get() const noexcept { return p_; }
    /// Gives the reference to the caller; this owner is left empty.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    /// Drops the held reference and takes over `p` (a new reference or NULL).
    void reset(PyObject* p = nullptr) noexcept {
        PyObject* old = std::exchange(p_, p);
        Py_XDECREF(old);
    }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

}  // namespace orbivex::py
