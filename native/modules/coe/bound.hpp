// Native functions coe binds from its siblings at import, and the failure probes its kernels use.
#pragma once
#include <Python.h>

namespace orbivex::coe {

/// Bound at import; process-global because the exported kernels cannot receive module state
/// (a module initialises once per process).
struct Bound {
    double (*atan2_asymmetric)(double, double) = nullptr;
    double (*dot)(double*, double*) = nullptr;
    void (*cross)(double*, double*, double*) = nullptr;
    double (*norm)(double*) = nullptr;
    void (*normalize)(double*, double*) = nullptr;
};
extern Bound bound;

/// Kernel environment for the module's own loops, which always hold the interpreter lock.
struct LoopEnv {
    double atan2(double y, double x) const noexcept { return bound.atan2_asymmetric(y, x); }
    double dot(double* a, double* b) const noexcept { return bound.dot(a, b); }
    void cross(double* a, double* b, double* c) const noexcept { bound.cross(a, b, c); }
    double norm(double* a) const noexcept { return bound.norm(a); }
    void normalize(double* a, double* u) const noexcept { bound.normalize(a, u); }
    bool failed() const noexcept { return PyErr_Occurred() != nullptr; }
};

/// The exception pending in thread state `ts`: what PyErr_Occurred reports for its thread,
/// read from the thread state the caller already holds (a state-vector element probes ten
/// times; through a shared libpython each PyErr_Occurred is a call and a thread-local lookup).
inline bool pending_in(PyThreadState* ts) noexcept {
#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030E0000
    return ts->current_exception != nullptr;
#elif PY_VERSION_HEX < 0x030C0000
    return ts->curexc_type != nullptr;
#else
    (void)ts;  // a layout we have not checked: ask the interpreter
    return PyErr_Occurred() != nullptr;
#endif
}

/// Kernel environment for a loop over many elements on the thread that holds the lock: the
/// functions bound now, and the LoopEnv probe read from that thread's state.
struct HeldEnv {
    Bound fn = bound;
    PyThreadState* ts = PyThreadState_Get();
    double atan2(double y, double x) const noexcept { return fn.atan2_asymmetric(y, x); }
    double dot(double* a, double* b) const noexcept { return fn.dot(a, b); }
    void cross(double* a, double* b, double* c) const noexcept { fn.cross(a, b, c); }
    double norm(double* a) const noexcept { return fn.norm(a); }
    void normalize(double* a, double* u) const noexcept { fn.normalize(a, u); }
    bool failed() const noexcept { return pending_in(ts); }
};

/// Kernel environment for the exported entries: a native caller may hold the lock or not, so
/// the probe takes it for the moment of the look when the calling thread lacks it.
struct ExportEnv : LoopEnv {
    bool failed() const noexcept {
        if (PyGILState_Check()) return PyErr_Occurred() != nullptr;
        const PyGILState_STATE gil = PyGILState_Ensure();
        const bool pending = PyErr_Occurred() != nullptr;
        PyGILState_Release(gil);
        return pending;
    }
};

}  // namespace orbivex::coe
