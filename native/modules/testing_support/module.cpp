// Test-only module: a door to the support layer's helpers (buffer checks, allocation through the
// module-level numpy, sibling binders, the method check, the parameter limit of native
// functions, module state and its lookup along the MRO).
#define ORBIVEX_NUMPY_IMPORT
#include <Python.h>

#include <cstdlib>
#include <tuple>
#include <vector>

#include "support/args.hpp"
#include "support/buffer.hpp"
#include "support/function.hpp"
#include "support/globals.hpp"
#include "support/imports.hpp"
#include "support/module.hpp"
#include "support/numpy.hpp"
#include "support/ref.hpp"

namespace orbivex::testing_support {
namespace {

using py::Ref;

struct support_state {
    PyObject* probe_type;
    PyObject* s_numpy;  // interned from the member list
    PyObject* s_empty;
    PyObject* kept;  // set by keep(); visited and cleared with the rest

    static constexpr auto refs() {
        return std::tuple{
            py::owned(&support_state::probe_type), py::interned(&support_state::s_numpy, "numpy"),
            py::interned(&support_state::s_empty, ""), py::owned(&support_state::kept)};
    }
};

struct support_module {
    static constexpr const char name[] = "testing_support";
    static constexpr const char doc[] = "Test-only door to the support layer's helpers.";
    using State = support_state;
    static PyMethodDef* const methods;
    static int exec(PyObject* module, support_state& st) noexcept;
};
using Module = py::Module<support_module>;

// ---- buffers --------------------------------------------------------------------------------

// (shape, strides, first item or None) of a checked view.
PyObject* describe(const py::Buffer& b, bool first_double) {
    const Py_buffer& v = b.view();
    Ref shape = Ref::steal(PyTuple_New(v.ndim));
    Ref strides = Ref::steal(PyTuple_New(v.ndim));
    if (!shape || !strides) return nullptr;
    for (int i = 0; i < v.ndim; ++i) {
        PyTuple_SET_ITEM(shape.get(), i, PyLong_FromSsize_t(b.len(i)));
        PyTuple_SET_ITEM(strides.get(), i, PyLong_FromSsize_t(b.stride(i)));
    }
    if (PyErr_Occurred()) return nullptr;
    const bool has_item = first_double && v.ndim == 1 && b.len() > 0;
    Ref first = has_item ? Ref::steal(PyFloat_FromDouble(b.load(0))) : Ref::borrow(Py_None);
    if (!first) return nullptr;
    return PyTuple_Pack(3, shape.get(), strides.get(), first.get());
}

// view_doubles(obj, ndim, writable): stores -1.5 into item 0 of a writable 1-D view.
PyObject* view_doubles(PyObject*, PyObject* args) {
    PyObject* obj;
    int ndim, writable;
    if (!PyArg_ParseTuple(args, "Oip", &obj, &ndim, &writable)) return nullptr;
    py::Buffer b;
    if (b.acquire_doubles(obj, ndim, writable ? py::Access::writable : py::Access::read_only) < 0)
        return nullptr;
    Ref out = Ref::steal(describe(b, true));
    if (out && writable && ndim == 1 && b.len() > 0) b.store(0, -1.5);
    return out.release();
}

// view_records(obj, ndim, fields): the view's shape and strides.
PyObject* view_records(PyObject*, PyObject* args) {
    PyObject* obj;
    int ndim, fields;
    if (!PyArg_ParseTuple(args, "Oii", &obj, &ndim, &fields)) return nullptr;
    py::Buffer b;
    if (b.acquire_records(obj, ndim, fields, "Rec_t") < 0) return nullptr;
    return describe(b, false);
}

PyObject* double_format(PyObject*, PyObject* arg) {
    const char* f = PyUnicode_AsUTF8(arg);
    if (!f) return nullptr;
    return PyBool_FromLong(py::is_native_double_format(f));
}

PyObject* double_fields(PyObject*, PyObject* arg) {
    const char* f = PyUnicode_AsUTF8(arg);
    if (!f) return nullptr;
    return PyLong_FromSsize_t(py::native_double_fields(f));
}

// ---- module-level names ---------------------------------------------------------------------

// zeros(shape, dtype_name=None): numpy.zeros(shape=shape, dtype=<dtype_name or numpy.double>)
// with this module's globals.
PyObject* zeros(PyObject* module, PyObject* args) {
    PyObject* shape;
    PyObject* dtype_name = nullptr;
    if (!PyArg_ParseTuple(args, "O|U", &shape, &dtype_name)) return nullptr;
    return py::numpy_zeros(PyModule_GetDict(module), shape, dtype_name);
}

// global_name(name): the module-level name as this module's code would read it.
PyObject* global_name(PyObject* module, PyObject* name) {
    if (!PyUnicode_Check(name)) return PyErr_Format(PyExc_TypeError, "name must be a str");
    return py::module_global(PyModule_GetDict(module), name).release();
}

// ---- binders --------------------------------------------------------------------------------

// bind(entries, import_error, all): entries are (module, name, is_class, named) tuples; returns
// (named objects in order, tuple of all or None). Each named entry binds into its own Ref.
PyObject* bind(PyObject*, PyObject* args) {
    PyObject* entries;
    int import_error, want_all;
    if (!PyArg_ParseTuple(args, "O!pp", &PyList_Type, &entries, &import_error, &want_all))
        return nullptr;
    const Py_ssize_t n = PyList_GET_SIZE(entries);
    std::vector<Ref> outs(static_cast<size_t>(n));
    std::vector<py::Sibling> names;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const char *module, *name;
        int is_class, named;
        if (!PyArg_ParseTuple(PyList_GET_ITEM(entries, i), "sspp", &module, &name, &is_class,
                              &named))
            return nullptr;
        names.push_back({module, name, is_class ? py::Kind::class_ : py::Kind::object,
                         named ? &outs[static_cast<size_t>(i)] : nullptr});
    }
    Ref all;
    if (py::bind_siblings(
            names, import_error ? py::MissingName::ImportError : py::MissingName::AttributeError,
            want_all ? &all : nullptr) < 0)
        return nullptr;
    Ref named = Ref::steal(PyList_New(0));
    if (!named) return nullptr;
    for (const Ref& r : outs)
        if (r && PyList_Append(named.get(), r.get()) < 0) return nullptr;
    return PyTuple_Pack(2, named.get(), all ? all.get() : Py_None);
}

double (*bound_atan2)(double, double) = nullptr;
const double* bound_km = nullptr;

// bind_native(atan2_signature, km_signature): binds misc's atan2_asymmetric and units' km and
// returns (atan2_asymmetric(1, -1), km) through the bound pointers.
PyObject* bind_native(PyObject*, PyObject* args) {
    const char *atan2_text, *km_text;
    if (!PyArg_ParseTuple(args, "ss", &atan2_text, &km_text)) return nullptr;
    double (*atan2)(double, double) = nullptr;
    const double* km = nullptr;
    const py::NativeImport entries[] = {
        py::native_function("orbivex.mathtools.misc.misc", "atan2_asymmetric", atan2_text, atan2),
        py::native_variable("orbivex.units.units", "km", km_text, km),
    };
    if (py::bind_native(entries) < 0) return nullptr;
    bound_atan2 = atan2;
    bound_km = km;
    return Py_BuildValue("(dd)", bound_atan2(1.0, -1.0), *bound_km);
}

// ---- methods, native functions, state -------------------------------------------------------

// check_self(obj, type, method): obj if it is an instance of type.
PyObject* check_self(PyObject*, PyObject* args) {
    PyObject *obj, *type;
    const char* method;
    if (!PyArg_ParseTuple(args, "OO!s", &obj, &PyType_Type, &type, &method)) return nullptr;
    auto* self = py::checked_self<PyObject>(obj, reinterpret_cast<PyTypeObject*>(type), method);
    return self ? Py_NewRef(self) : nullptr;
}

PyObject* last_argument(PyObject*, PyObject* const* argv) { return Py_NewRef(argv[7]); }

const char* const nine[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i"};
const py::FunctionSpec eight_spec{
    "eight", nullptr,      "eight(a, b, c, d, e, f, g, h)", {std::span(nine, 8), 8, 8},
    {},      last_argument};
const py::FunctionSpec nine_spec{
    "nine", nullptr,      "nine(a, b, c, d, e, f, g, h, i)", {std::span(nine, 9), 9, 9},
    {},     last_argument};

// native_function(n): a native function of n (8 or 9) required parameters that returns its
// eighth argument.
PyObject* native_function(PyObject* module, PyObject* arg) {
    const long n = PyLong_AsLong(arg);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    return py::new_function(n == 9 ? &nine_spec : &eight_spec, module, nullptr);
}

// state_names(): the interned strings of the state.
PyObject* state_names(PyObject* module, PyObject*) {
    support_state* st = Module::state(module);
    if (!st) return nullptr;
    return PyTuple_Pack(2, st->s_numpy, st->s_empty);
}

// keep(obj): holds obj in the module state (None drops it).
PyObject* keep(PyObject* module, PyObject* obj) {
    support_state* st = Module::state(module);
    if (!st) return nullptr;
    Py_XSETREF(st->kept, obj == Py_None ? nullptr : Py_NewRef(obj));
    Py_RETURN_NONE;
}

// state_of(type): the module whose state serves `type`, found along its MRO.
PyObject* state_of(PyObject* module, PyObject* type) {
    if (!PyType_Check(type)) return PyErr_Format(PyExc_TypeError, "state_of() needs a type");
    support_state* st = Module::state_of(reinterpret_cast<PyTypeObject*>(type));
    if (!st) return nullptr;
    return Py_NewRef(st == Module::state(module) ? module : Py_None);
}

PyMethodDef methods[] = {
    {"view_doubles", view_doubles, METH_VARARGS, nullptr},
    {"view_records", view_records, METH_VARARGS, nullptr},
    {"double_format", double_format, METH_O, nullptr},
    {"double_fields", double_fields, METH_O, nullptr},
    {"zeros", zeros, METH_VARARGS, nullptr},
    {"global_name", global_name, METH_O, nullptr},
    {"bind", bind, METH_VARARGS, nullptr},
    {"bind_native", bind_native, METH_VARARGS, nullptr},
    {"check_self", check_self, METH_VARARGS, nullptr},
    {"native_function", native_function, METH_O, nullptr},
    {"state_names", state_names, METH_NOARGS, nullptr},
    {"keep", keep, METH_O, nullptr},
    {"state_of", state_of, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot probe_slots[] = {{0, nullptr}};
PyType_Spec probe_spec = {"orbivex._testing.testing_support.Probe", sizeof(PyObject), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, probe_slots};

PyMethodDef* const support_module::methods = testing_support::methods;

int support_module::exec(PyObject* module, support_state& st) noexcept {
    // Lets a test see that a failed exec leaves the module importable again.
    if (std::getenv("ORBIVEX_TESTING_SUPPORT_FAIL")) {
        PyErr_SetString(PyExc_RuntimeError, "exec failed on request");
        return -1;
    }
    if (py::import_numpy() < 0) return -1;
    Ref np = Ref::steal(PyImport_ImportModule("numpy"));
    if (!np || PyModule_AddObjectRef(module, "numpy", np.get()) < 0) return -1;
    st.probe_type = PyType_FromModuleAndSpec(module, &probe_spec, nullptr);
    if (!st.probe_type) return -1;
    return PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(st.probe_type));
}

}  // namespace
}  // namespace orbivex::testing_support

PyMODINIT_FUNC PyInit_testing_support() {
    return orbivex::py::Module<orbivex::testing_support::support_module>::init();
}
