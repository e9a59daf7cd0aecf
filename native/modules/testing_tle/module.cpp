// Test-only view of the tle module's catalogue: its fields, properties and methods as Python data,
// so that tests read the lists the module is built from instead of typing them again.
#include <Python.h>

#include <span>

#include "modules/tle/records.hpp"
#include "support/module.hpp"
#include "support/ref.hpp"

namespace orbivex::testing_tle {
namespace {

using py::Ref;
namespace cat = tle::cat;

/// A list of what `make` returns for each item; empty with an error set on failure.
template <class R, class F>
Ref list_of(const R& items, F&& make) {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return {};
    for (const auto& item : items) {
        Ref entry = Ref::steal(make(item));
        if (!entry || PyList_Append(list.get(), entry.get()) < 0) return {};
    }
    return list;
}

Ref names_of(std::span<const char* const> names) {
    return list_of(names, [](const char* n) { return PyUnicode_FromString(n); });
}

const char* unit_name(cat::Unit u) {
    switch (u) {
    case cat::Unit::none: return "none";
    case cat::Unit::length: return "length";
    case cat::Unit::angle: return "angle";
    case cat::Unit::duration: return "duration";
    case cat::Unit::rate: return "rate";
    }
    return "?";
}

Ref elements() {
    return list_of(cat::elements, [](const cat::Element& e) {
        const cat::UnitText u = cat::unit_text(e.unit);
        return Py_BuildValue("{s:s,s:s,s:s,s:s,s:s,s:n,s:n,s:i,s:s,s:s}", "name", e.name, "array",
                             e.array, "array_doc", e.array_doc, "unit", unit_name(e.unit), "table",
                             cat::table_title(e.table), "row", static_cast<Py_ssize_t>(e.row),
                             "place", static_cast<Py_ssize_t>(e.place), "precision", u.precision,
                             "si_unit", u.si, "op_unit", u.op);
    });
}

Ref fields(std::span<const tle::Field> fields) {
    return list_of(fields, [](const tle::Field& f) {
        return Py_BuildValue("(snn)", f.name, static_cast<Py_ssize_t>(f.offset),
                             static_cast<Py_ssize_t>(f.size));
    });
}

Ref properties(std::span<const cat::Property> rows) {
    return list_of(rows,
                   [](const cat::Property& p) { return Py_BuildValue("(sz)", p.name, p.doc); });
}

/// {"names": [...], "required": n, "positional": n, "varargs": name or None}.
Ref parameters(const py::Params& p, const char* varargs) {
    Ref names = names_of(p.names);
    if (!names) return {};
    return Ref::steal(Py_BuildValue("{s:O,s:n,s:n,s:z}", "names", names.get(), "required",
                                    p.nrequired, "positional", p.npositional, "varargs", varargs));
}

Ref methods(const std::array<cat::MethodText, cat::n_methods>& texts) {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return {};
    for (std::size_t i = 0; i < cat::n_methods; ++i) {
        const cat::Method& m = cat::methods[i];
        Ref params = parameters(m.params, nullptr);
        Ref annotations = Ref::steal(PyDict_New());
        if (!params || !annotations) return {};
        for (std::size_t k = 0; k + 1 < m.annotations.size(); k += 2) {
            Ref text = Ref::steal(PyUnicode_FromString(m.annotations[k + 1]));
            if (!text || PyDict_SetItemString(annotations.get(), m.annotations[k], text.get()) < 0)
                return {};
        }
        Ref entry = Ref::steal(Py_BuildValue(
            "{s:s,s:s,s:z,s:O,s:O}", "name", m.name, "qualname", texts[i].qualname.c_str(), "doc",
            m.signature_doc ? texts[i].doc.c_str() : nullptr, "params", params.get(), "annotations",
            annotations.get()));
        if (!entry || PyList_Append(list.get(), entry.get()) < 0) return {};
    }
    return list;
}

/// Everything one type's entry holds; `virtuals` may be empty.
Ref type_entry(std::span<const tle::Field> record, std::span<const cat::Property> props,
               std::span<const char* const> virtuals,
               const std::array<cat::MethodText, cat::n_methods>& texts, const char* doc,
               const py::Params& init, const char* varargs) {
    Ref f = fields(record), p = properties(props), v = names_of(virtuals), m = methods(texts);
    Ref i = parameters(init, varargs);
    if (!f || !p || !v || !m || !i) return {};
    return Ref::steal(Py_BuildValue("{s:O,s:O,s:O,s:O,s:s,s:O}", "fields", f.get(), "properties",
                                    p.get(), "virtuals", v.get(), "methods", m.get(), "doc", doc,
                                    "init", i.get()));
}

constexpr const char* tle_virtuals[] = {
#define ORBIVEX_NAME(name) #name,
    ORBIVEX_TLE_VIRTUALS(ORBIVEX_NAME)
#undef ORBIVEX_NAME
};

}  // namespace

/// The module: one attribute, `catalogue`; it holds nothing that would forbid a second import.
struct testing_module {
    static constexpr const char name[] = "testing_tle";
    static constexpr const char doc[] =
        "Test-only view of the tle module's catalogue (fields, properties, methods).";
    static constexpr bool once_per_process = false;
    static int exec(PyObject* module) noexcept;
};

int testing_module::exec(PyObject* module) noexcept {
    Ref tle = type_entry(tle::tle_layout, cat::tle_properties, tle_virtuals, cat::tle_method_texts,
                         cat::tle_doc.c_str(), cat::tle_init, nullptr);
    Ref elset = type_entry(tle::elset_layout, cat::elset_properties, {}, cat::elset_method_texts,
                           cat::elset_doc.c_str(), cat::elset_init, cat::elset_varargs);
    Ref elems = elements();
    Ref tables = names_of(cat::table_titles);
    if (!tle || !elset || !elems || !tables) return -1;
    const auto base_size = static_cast<Py_ssize_t>(sizeof(tle::RepresentableObject));
    const auto pointer_size = static_cast<Py_ssize_t>(sizeof(void*));
    Ref catalogue = Ref::steal(Py_BuildValue(
        "{s:O,s:O,s:O,s:O,s:n,s:n}", "TLE", tle.get(), "ELSET", elset.get(), "elements",
        elems.get(), "tables", tables.get(), "base_size", base_size, "pointer_size", pointer_size));
    if (!catalogue) return -1;
    return PyModule_AddObjectRef(module, "catalogue", catalogue.get());
}

}  // namespace orbivex::testing_tle

PyMODINIT_FUNC PyInit_testing_tle() {
    return orbivex::py::Module<orbivex::testing_tle::testing_module>::init();
}
