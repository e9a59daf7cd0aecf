// orbivex.propagators.analytical.sgp4.sgp4: SGP4/SDP4 propagation of element sets. The native
// half holds the initialised records (_Model) and the threaded loops; SGP4, its sources, times
// and Dask arrays are the Python half, _sgp4_py.
#include <Python.h>

#define ORBIVEX_NUMPY_IMPORT
#include "support/numpy.hpp"

#include "model.hpp"

namespace orbivex::sgp4 {

namespace {

PyMethodDef module_methods[] = {
    {"_parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse_lines)),
     METH_FASTCALL,
     "_parse(line1, line2, /)\n--\n\n"
     "Element columns (n, 9) and exact epochs (n,) int64 ns of the two-line text in two\n"
     "1-D bytes arrays."},
    {nullptr, nullptr, 0, nullptr},
};

/// {code: text} of every status code the model uses.
Ref status_table() noexcept {
    Ref table = Ref::steal(PyDict_New());
    if (!table) return {};
    for (int code = 0; code <= 6; ++code) {
        Ref key = Ref::steal(PyLong_FromLong(code));
        Ref text = Ref::steal(PyUnicode_FromString(k::status_text(code)));
        if (!key || !text || PyDict_SetItem(table.get(), key.get(), text.get()) < 0) return {};
    }
    return table;
}

struct sgp4_module {
    static constexpr const char name[] = "sgp4";
    static constexpr const char doc[] =
        "SGP4/SDP4 propagation of two-line element sets: SGP4(source) initialises the model\n"
        "once for every set of a TLE, an ELSET, a Catalog or two lines, and propagate() gives\n"
        "TEME positions (m), velocities (m/s) and status codes, on several threads without\n"
        "the interpreter lock. STATUS_TEXT maps each status code to its meaning.";
    using State = sgp4_state;
    static constexpr PyMethodDef* methods = module_methods;

    static int exec(PyObject* module, sgp4_state& st) noexcept {
        if (py::import_numpy() < 0) return -1;
        PyObject* type = PyType_FromModuleAndSpec(module, &Model_spec, nullptr);
        if (!type) return -1;
        st.Model_type = reinterpret_cast<PyTypeObject*>(type);
        if (PyModule_AddType(module, st.Model_type) < 0) return -1;
        Ref table = status_table();
        if (!table || PyModule_AddObjectRef(module, "STATUS_TEXT", table.get()) < 0) return -1;
        // The Python half reads _Model, _parse and STATUS_TEXT from this module as it loads.
        st.helper = PyImport_ImportModule("orbivex.propagators.analytical.sgp4._sgp4_py");
        if (!st.helper) return -1;
        Ref bind = Ref::steal(PyObject_CallMethod(st.helper, "_bind", "O", module));
        if (!bind) return -1;
        Ref cls = Ref::steal(PyObject_GetAttrString(st.helper, "SGP4"));
        if (!cls) return -1;
        return PyModule_AddObjectRef(module, "SGP4", cls.get());
    }
};

}  // namespace

}  // namespace orbivex::sgp4

PyMODINIT_FUNC PyInit_sgp4() { return orbivex::py::Module<orbivex::sgp4::sgp4_module>::init(); }
