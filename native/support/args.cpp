// Argument binding and the common call-error wordings.
#include "support/args.hpp"

#include <cstring>

namespace orbivex::py {

void raise_arg_count(const char* func, Py_ssize_t min, Py_ssize_t max, Py_ssize_t given) {
    const char* how;
    Py_ssize_t n;
    if (min == max) {
        how = "exactly";
        n = min;
    } else if (given < min) {
        how = "at least";
        n = min;
    } else {
        how = "at most";
        n = max;
    }
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 func, how, n, n == 1 ? "" : "s", given);
}

void raise_params_count(const char* func, const Params& params, Py_ssize_t required,
                        Py_ssize_t given) {
    const Py_ssize_t self = (params.method && given > 0) ? 1 : 0;
    raise_arg_count(func, required - self, params.npositional - self, given - self);
}

void raise_unexpected_keyword(const char* func, PyObject* key) {
    // A dict passed as **kwargs reaches tp_new unchecked: '%U' needs a str.
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", func);
        return;
    }
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", func, key);
}

void raise_duplicate_keyword(const char* func, PyObject* key) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", func, key);
}

void raise_arg_type(const char* name, const char* expected, PyObject* got) {
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name,
                 expected, Py_TYPE(got)->tp_name);
}

bool check_self(PyObject* self, PyTypeObject* type, const char* method) {
    if (PyObject_TypeCheck(self, type)) return true;
    PyErr_Format(PyExc_TypeError, "descriptor '%s' for '%s' objects doesn't apply to a '%s' object",
                 method, type->tp_name, Py_TYPE(self)->tp_name);
    return false;
}

namespace {

// Index of the parameter called `key`, or -1. Interned names compare by identity first.
Py_ssize_t find_param(const Params& params, PyObject* key) {
    if (!PyUnicode_Check(key)) return -1;
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len);
    if (!utf8) {
        PyErr_Clear();
        return -1;
    }
    for (size_t i = 0; i < params.names.size(); ++i) {
        const char* name = params.names[i];
        if (std::strlen(name) == static_cast<size_t>(len) && std::memcmp(name, utf8, len) == 0)
            return static_cast<Py_ssize_t>(i);
    }
    return -1;
}

int bind_keyword(const char* func, const Params& params, PyObject* key, PyObject* value,
                 PyObject** out) {
    Py_ssize_t i = find_param(params, key);
    if (i < 0) {
        raise_unexpected_keyword(func, key);
        return -1;
    }
    if (out[i]) {
        raise_duplicate_keyword(func, key);
        return -1;
    }
    out[i] = value;
    return 0;
}

int check_required(const char* func, const Params& params, PyObject** out) {
    for (Py_ssize_t i = 0; i < params.nrequired; ++i) {
        if (!out[i]) {
            // Reported like a positional shortfall: the parameters before the first missing one
            // count as given, whether they came by position or by keyword.
            raise_params_count(func, params, params.nrequired, i);
            return -1;
        }
    }
    return 0;
}

}  // namespace

int bind_vectorcall(const char* func, const Params& params, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out) {
    const size_t n = params.names.size();
    for (size_t i = 0; i < n; ++i) out[i] = nullptr;
    if (nargs > params.npositional ||
        (nargs < params.nrequired && (!kwnames || PyTuple_GET_SIZE(kwnames) == 0))) {
        raise_params_count(func, params, params.nrequired, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            if (bind_keyword(func, params, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out) < 0)
                return -1;
        }
    }
    return check_required(func, params, out);
}

int bind_tuple_dict(const char* func, const Params& params, PyObject* args, PyObject* kwds,
                    PyObject** out, Ref* held) {
    const size_t n = params.names.size();
    for (size_t i = 0; i < n; ++i) out[i] = nullptr;
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const bool has_kw = kwds && PyDict_GET_SIZE(kwds) > 0;
    if (nargs > params.npositional || (nargs < params.nrequired && !has_kw)) {
        raise_params_count(func, params, params.nrequired, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (has_kw) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwds, &pos, &key, &value)) {
            if (bind_keyword(func, params, key, value, out) < 0) return -1;
        }
        // The tuple is immutable and the caller's; the dict's values are not safe from it.
        for (size_t i = static_cast<size_t>(nargs); i < n; ++i) held[i] = Ref::borrow(out[i]);
    }
    return check_required(func, params, out);
}

}  // namespace orbivex::py
