// Test-only stand-in for atan2_asymmetric that can be armed to report a failure on a chosen call.
#include <Python.h>

#include <tuple>

#include "kernels/misc.hpp"
#include "support/capi.hpp"
#include "support/module.hpp"
#include "support/ref.hpp"

namespace orbivex::testing_atan2 {
namespace {

using py::Ref;

/// What the next calls do: count down to the armed call, then raise (or not) and return `value`.
struct testing_state {
    long countdown;  // 0: disarmed; n: the n-th call from now is the armed one
    double value;
    PyObject* exc_type;  // NULL: return `value` without a failure
    long calls;          // calls since the module was last armed or disarmed

    static constexpr auto refs() { return std::tuple{py::owned(&testing_state::exc_type)}; }
};

// The one live module's state; the exported function has no other way to reach it.
testing_state* live = nullptr;

double atan2_asymmetric(const double y, const double x) noexcept {
    testing_state* st = live;
    if (!st) return kern::atan2_asymmetric(y, x);
    ++st->calls;
    if (st->countdown == 0 || --st->countdown > 0) return kern::atan2_asymmetric(y, x);
    const PyGILState_STATE gil = PyGILState_Ensure();
    if (st->exc_type) {
        PyErr_SetString(st->exc_type, "injected failure of atan2_asymmetric");
        Py_CLEAR(st->exc_type);
    }
    PyGILState_Release(gil);
    return st->value;
}

void disarm_state(testing_state* st) {
    st->countdown = 0;
    st->calls = 0;
    st->value = 0.0;
    Py_CLEAR(st->exc_type);
}

int arm(PyObject* module, long n, PyObject* exc_type, double value) {
    if (n < 1) {
        PyErr_SetString(PyExc_ValueError, "n must be at least 1");
        return -1;
    }
    auto* st = static_cast<testing_state*>(PyModule_GetState(module));
    disarm_state(st);
    st->countdown = n;
    st->value = value;
    st->exc_type = Py_XNewRef(exc_type);
    return 0;
}

PyObject* fail_after(PyObject* module, PyObject* args) {
    long n;
    PyObject* exc_type;
    double value = 0.5;
    if (!PyArg_ParseTuple(args, "lO|d:fail_after", &n, &exc_type, &value)) return nullptr;
    if (!PyExceptionClass_Check(exc_type)) {
        PyErr_SetString(PyExc_TypeError, "fail_after() needs an exception class");
        return nullptr;
    }
    if (arm(module, n, exc_type, value) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject* return_after(PyObject* module, PyObject* args) {
    long n;
    double value;
    if (!PyArg_ParseTuple(args, "ld:return_after", &n, &value)) return nullptr;
    if (arm(module, n, nullptr, value) < 0) return nullptr;
    Py_RETURN_NONE;
}

PyObject* disarm(PyObject* module, PyObject*) {
    disarm_state(static_cast<testing_state*>(PyModule_GetState(module)));
    Py_RETURN_NONE;
}

PyObject* calls(PyObject* module, PyObject*) {
    return PyLong_FromLong(static_cast<testing_state*>(PyModule_GetState(module))->calls);
}

PyMethodDef methods[] = {
    {"fail_after", fail_after, METH_VARARGS,
     "fail_after(n, exc_type, value=0.5)\n\nThe n-th call from now (1: the next) raises "
     "exc_type and returns value."},
    {"return_after", return_after, METH_VARARGS,
     "return_after(n, value)\n\nThe n-th call from now returns value, without a failure."},
    {"disarm", disarm, METH_NOARGS, "disarm()\n\nBack to the plain atan2_asymmetric."},
    {"calls", calls, METH_NOARGS, "calls()\n\nCalls since the module was last armed or disarmed."},
    {nullptr, nullptr, 0, nullptr},
};

struct testing_module {
    static constexpr const char name[] = "testing_atan2";
    static constexpr const char doc[] =
        "Test-only native table with an atan2_asymmetric that can be made to fail.";
    using State = testing_state;
    // The tests import it afresh in each new interpreter; it keeps no once-per-process guard.
    static constexpr bool once_per_process = false;
    static inline PyMethodDef* const methods = testing_atan2::methods;

    static int exec(PyObject* module, testing_state& st) noexcept {
        disarm_state(&st);
        const py::CapiEntry table[] = {
            py::capi_function("atan2_asymmetric", "double (double const , double const )",
                              atan2_asymmetric),
        };
        if (py::export_capi(module, table) < 0) return -1;
        live = &st;
        return 0;
    }

    static void free(testing_state& st) noexcept {
        if (&st == live) live = nullptr;
    }
};

}  // namespace
}  // namespace orbivex::testing_atan2

PyMODINIT_FUNC PyInit_testing_atan2() {
    return orbivex::py::Module<orbivex::testing_atan2::testing_module>::init();
}
