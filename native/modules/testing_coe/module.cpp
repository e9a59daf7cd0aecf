// Test-only view of the coe module's catalogues: its functions and its native table as Python
// data, so that tests read the lists the module is built from instead of typing them again.
#include <Python.h>

#include "modules/coe/catalogue.hpp"
#include "modules/coe/exports.hpp"
#include "support/module.hpp"
#include "support/ref.hpp"

namespace orbivex::testing_coe {
namespace {

using py::Ref;
namespace cat = coe::cat;
namespace ex = coe::exports;

const char* defaults_name(cat::Defaults d) {
    switch (d) {
    case cat::Defaults::none: return "none";
    case cat::Defaults::earth_gm: return "earth_gm";
    case cat::Defaults::earth_gm_float: return "earth_gm_float";
    }
    return "?";
}

const char* form_name(ex::Form f) {
    switch (f) {
    case ex::Form::size: return "size";
    case ex::Form::anomaly: return "anomaly";
    case ex::Form::shape: return "shape";
    case ex::Form::coe_from_sv: return "coe_from_sv";
    case ex::Form::sv_from_coe: return "sv_from_coe";
    }
    return "?";
}

// The row forms by name, as the catalogue's rows spell them.
constexpr const char* function_forms[] = {
#define ORBIVEX_ROW(name, form, ...) #form,
    ORBIVEX_COE_FUNCTIONS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};

/// {"name", "form", "params": [...], "required": n, "annotations": {...}, "defaults": kind,
/// "shown_defaults": [text or None per parameter], "doc"} of one row.
Ref function_entry(const cat::Function& f, const char* form) {
    Ref params = Ref::steal(PyList_New(0));
    Ref shown = Ref::steal(PyList_New(0));
    Ref annotations = Ref::steal(PyDict_New());
    if (!params || !shown || !annotations) return {};
    for (std::size_t i = 0; i < f.count(); ++i) {
        Ref name = Ref::steal(PyUnicode_FromString(f.names[i]));
        Ref text = Ref::steal(Py_BuildValue("z", f.form->params[i].shown_default));
        if (!name || !text || PyList_Append(params.get(), name.get()) < 0 ||
            PyList_Append(shown.get(), text.get()) < 0)
            return {};
    }
    const auto list = f.annotation_list();
    for (std::size_t k = 0; k + 1 < list.size(); k += 2) {
        Ref text = Ref::steal(PyUnicode_FromString(list[k + 1]));
        if (!text || PyDict_SetItemString(annotations.get(), list[k], text.get()) < 0) return {};
    }
    return Ref::steal(Py_BuildValue("{s:s,s:s,s:O,s:n,s:O,s:s,s:O,s:s}", "name", f.name, "form",
                                    form, "params", params.get(), "required",
                                    static_cast<Py_ssize_t>(f.form->required), "annotations",
                                    annotations.get(), "defaults", defaults_name(f.form->defaults),
                                    "shown_defaults", shown.get(), "doc", f.doc.c_str()));
}

Ref functions() {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return {};
    for (std::size_t i = 0; i < cat::n_functions; ++i) {
        Ref entry = function_entry(cat::functions[i], function_forms[i]);
        if (!entry || PyList_Append(list.get(), entry.get()) < 0) return {};
    }
    return list;
}

/// {"name", "form", "signature", "angle_env", "params": "a, b"} of every published function.
Ref exports() {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return {};
    for (const ex::Entry& e : ex::entries) {
        Ref entry = Ref::steal(Py_BuildValue("{s:s,s:s,s:s,s:O,s:s}", "name", e.name, "form",
                                             form_name(e.form), "signature", ex::signature(e.form),
                                             "angle_env", e.angle_env ? Py_True : Py_False,
                                             "params", e.params));
        if (!entry || PyList_Append(list.get(), entry.get()) < 0) return {};
    }
    return list;
}

}  // namespace

/// The module: one attribute, `catalogue`; it holds nothing that would forbid a second import.
struct testing_module {
    static constexpr const char name[] = "testing_coe";
    static constexpr const char doc[] =
        "Test-only view of the coe module's catalogues (functions, native table).";
    static constexpr bool once_per_process = false;
    static int exec(PyObject* module) noexcept;
};

int testing_module::exec(PyObject* module) noexcept {
    Ref fns = functions();
    Ref entries = exports();
    if (!fns || !entries) return -1;
    Ref catalogue = Ref::steal(Py_BuildValue("{s:O,s:O,s:s,s:(ss)}", "functions", fns.get(),
                                             "exports", entries.get(), "module", ex::module,
                                             "two_pi", ex::two_pi_name, ex::two_pi_signature));
    if (!catalogue) return -1;
    return PyModule_AddObjectRef(module, "catalogue", catalogue.get());
}

}  // namespace orbivex::testing_coe

PyMODINIT_FUNC PyInit_testing_coe() {
    return orbivex::py::Module<orbivex::testing_coe::testing_module>::init();
}
