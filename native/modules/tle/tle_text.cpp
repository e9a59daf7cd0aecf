// TLE's text hooks (_get_header, _get_body) and its refusal of pickling.
#include <Python.h>

#include <array>

#include "support/function.hpp"
#include "support/ref.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Ref;

/// `value` formatted as format(value, ".<precision>f") does, followed by `unit`.
Ref cell(double value, int precision, const char* unit) {
    char* digits = PyOS_double_to_string(value, 'f', precision, 0, nullptr);
    if (!digits) return {};
    Ref text = Ref::steal(PyUnicode_FromFormat("%s%s", digits, unit));
    PyMem_Free(digits);
    return text;
}

/// What an operational cell divides by, read once per text from the unit constants.
struct Scales {
    double km, deg, hour, rev_per_day;
};

/// The operational value of an element of unit `u` whose SI value is `si`.
double operational(double si, cat::Unit u, const Scales& k) {
    switch (u) {
    case cat::Unit::none: return si;
    case cat::Unit::length: return si / k.km;
    case cat::Unit::angle: return si / k.deg;
    case cat::Unit::duration: return si / k.hour;
    case cat::Unit::rate: return si / k.rev_per_day;
    }
    return si;
}

/// {"SI units": {label: cell}, "Op. units": {label: cell}} of table `t`, labels in row order.
template <cat::Table t>
Ref element_table(const TLEObject* o, const Scales& scales) {
    Ref si = Ref::steal(PyDict_New());
    Ref op = Ref::steal(PyDict_New());
    Ref table = Ref::steal(PyDict_New());
    if (!si || !op || !table) return {};
    for (const std::size_t i : cat::table_order<t>) {
        const cat::Element& e = cat::elements[i];
        const cat::UnitText u = cat::unit_text(e.unit);
        const double value = o->*element_fields[i];
        Ref a = cell(value, u.precision, u.si);
        if (!a || PyDict_SetItemString(si.get(), e.name, a.get()) < 0) return {};
        Ref b = cell(operational(value, e.unit, scales), u.precision, u.op);
        if (!b || PyDict_SetItemString(op.get(), e.name, b.get()) < 0) return {};
    }
    if (PyDict_SetItemString(table.get(), "SI units", si.get()) < 0 ||
        PyDict_SetItemString(table.get(), "Op. units", op.get()) < 0)
        return {};
    return table;
}

/// format(obj, "") of a new reference; NULL stays NULL.
Ref as_text(Ref obj, tle_state* st) {
    if (!obj) return {};
    return Ref::steal(PyObject_Format(obj.get(), st->s_empty));
}

/// self._format_as_property(title).
Ref section_title(PyObject* self, tle_state* st, const char* title) {
    Ref text = Ref::steal(PyUnicode_FromString(title));
    if (!text) return {};
    return Ref::steal(PyObject_CallMethodOneArg(self, st->s_prop, text.get()));
}

PyObject* TLE__get_header(PyObject* module, PyObject* const* argv) {
    if (!checked_self<TLEObject>(module, argv[0], "_get_header")) return nullptr;
    return PyUnicode_FromString("Two-line Elements (TLE)");
}

// The pieces are made in a fixed order a subclass can observe, since every hook, property and
// format() below may run Python code: the form, the two tables, then each piece as text.
PyObject* TLE__get_body(PyObject* module, PyObject* const* argv) {
    PyObject* self = argv[0];
    const TLEObject* o = checked_self<TLEObject>(module, self, "_get_body");
    if (!o) return nullptr;
    tle_state* st = module_state(module);

    // The form: the epoch as epoch.utc's __repr__ shows it, and the frame's name.
    Ref epoch = Ref::steal(PyObject_GetAttr(self, st->s_epoch));
    if (!epoch) return nullptr;
    Ref utc = Ref::steal(PyObject_GetAttr(epoch.get(), st->s_utc));
    if (!utc) return nullptr;
    Ref epoch_text = Ref::steal(PyObject_CallMethodNoArgs(utc.get(), st->s_repr));
    if (!epoch_text) return nullptr;
    Ref frame_name = Ref::steal(PyObject_GetAttr(st->TEME, st->s_name));
    if (!frame_name) return nullptr;
    Ref form_data = Ref::steal(PyDict_New());
    if (!form_data || PyDict_SetItemString(form_data.get(), "epoch", epoch_text.get()) < 0 ||
        PyDict_SetItemString(form_data.get(), "frame", frame_name.get()) < 0)
        return nullptr;
    Ref form = Ref::steal(PyObject_CallMethodOneArg(self, st->s_form, form_data.get()));
    if (!form) return nullptr;

    // The orbital-elements table, then the derived-elements table.
    const Scales scales{*units.km, *units.deg, *units.hour, *units.rev / *units.day};
    Ref coe_data = element_table<cat::Table::orbital>(o, scales);
    if (!coe_data) return nullptr;
    Ref frame_coe = Ref::steal(PyObject_CallMethodOneArg(self, st->s_frame, coe_data.get()));
    if (!frame_coe) return nullptr;
    Ref der_data = element_table<cat::Table::derived>(o, scales);
    if (!der_data) return nullptr;
    Ref frame_der = Ref::steal(PyObject_CallMethodOneArg(self, st->s_frame, der_data.get()));
    if (!frame_der) return nullptr;

    // Each piece as text, in the order the text shows them.
    Ref line1 = as_text(Ref::steal(PyObject_GetAttr(self, st->s_line1)), st);
    if (!line1) return nullptr;
    Ref line2 = as_text(Ref::steal(PyObject_GetAttr(self, st->s_line2)), st);
    if (!line2) return nullptr;
    Ref form_text = as_text(std::move(form), st);
    if (!form_text) return nullptr;
    Ref coe_title = as_text(section_title(self, st, cat::table_title(cat::Table::orbital)), st);
    if (!coe_title) return nullptr;
    Ref coe_text = as_text(std::move(frame_coe), st);
    if (!coe_text) return nullptr;
    Ref der_title = as_text(section_title(self, st, cat::table_title(cat::Table::derived)), st);
    if (!der_title) return nullptr;
    Ref der_text = as_text(std::move(frame_der), st);
    if (!der_text) return nullptr;

    // Joined with the fixed separators; "{fence}" is the base class's to replace.
    return PyUnicode_FromFormat("%U\n%U\n{fence}\n%U\n{fence}\n%U\n%U\n{fence}\n%U\n%U",
                                line1.get(), line2.get(), form_text.get(), coe_title.get(),
                                coe_text.get(), der_title.get(), der_text.get());
}

PyObject* TLE___reduce__(PyObject*, PyObject* const*) { return refuse_reduce(); }
PyObject* TLE___setstate__(PyObject*, PyObject* const*) { return refuse_reduce(); }

constexpr auto TLE_methods =
    method_specs(cat::tle_method_texts, {
#define ORBIVEX_IMPL(name, ...) TLE_##name,
                                            ORBIVEX_TLE_METHODS(ORBIVEX_IMPL)
#undef ORBIVEX_IMPL
                                        });

}  // namespace

PyObject* refuse_reduce() noexcept {
    PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
    return nullptr;
}

int add_tle_methods(PyObject* module, tle_state* st) noexcept {
    for (const py::FunctionSpec& spec : TLE_methods) {
        if (py::add_function(st->TLE_type->tp_dict, &spec, module, nullptr) < 0) return -1;
    }
    PyType_Modified(st->TLE_type);
    return 0;
}

}  // namespace orbivex::tle
