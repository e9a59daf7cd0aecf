// TLE's text hooks (_get_header, _get_body) and its refusal of pickling.
#include <Python.h>

#include <array>

#include "support/function.hpp"
#include "support/ref.hpp"
#include "tle_module.hpp"

namespace orbivex::tle {
namespace {

using py::Ref;

// The instance a method was called on, or NULL with the error a method descriptor raises.
TLEObject* checked_self(PyObject* module, PyObject* self, const char* method) {
    tle_state* st = module_state(module);
    if (!st) return nullptr;
    if (!PyObject_TypeCheck(self, st->TLE_type)) {
        PyErr_Format(PyExc_TypeError,
                     "descriptor '%s' for '%s' objects doesn't apply to a '%s' object", method,
                     st->TLE_type->tp_name, Py_TYPE(self)->tp_name);
        return nullptr;
    }
    return reinterpret_cast<TLEObject*>(self);
}

/// `value` formatted as format(value, ".<precision>f") does, followed by `unit`.
Ref cell(double value, int precision, const char* unit) {
    char* digits = PyOS_double_to_string(value, 'f', precision, 0, nullptr);
    if (!digits) return {};
    Ref text = Ref::steal(PyUnicode_FromFormat("%s%s", digits, unit));
    PyMem_Free(digits);
    return text;
}

/// One row of an element table: its label and the two cells.
struct Row {
    const char* label;
    double si;
    double op;
    int precision;
    const char* si_unit;
    const char* op_unit;
};

/// {"SI units": {label: cell}, "Op. units": {label: cell}}, labels in row order.
Ref element_table(const std::array<Row, 6>& rows) {
    Ref si = Ref::steal(PyDict_New());
    Ref op = Ref::steal(PyDict_New());
    Ref table = Ref::steal(PyDict_New());
    if (!si || !op || !table) return {};
    for (const Row& r : rows) {
        Ref a = cell(r.si, r.precision, r.si_unit);
        if (!a || PyDict_SetItemString(si.get(), r.label, a.get()) < 0) return {};
        Ref b = cell(r.op, r.precision, r.op_unit);
        if (!b || PyDict_SetItemString(op.get(), r.label, b.get()) < 0) return {};
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
    if (!checked_self(module, argv[0], "_get_header")) return nullptr;
    return PyUnicode_FromString("Two-line Elements (TLE)");
}

PyObject* TLE__get_body(PyObject* module, PyObject* const* argv) {
    PyObject* self = argv[0];
    const TLEObject* o = checked_self(module, self, "_get_body");
    if (!o) return nullptr;
    tle_state* st = module_state(module);

    // 1-2: the form of epoch and frame.
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

    // 3-6: the two element tables, in SI and operational units.
    const double km = *units.km, deg = *units.deg, hour = *units.hour;
    const double rev_per_day = *units.rev / *units.day;
    const std::array<Row, 6> coe_rows{{
        {"ecc", o->ecc, o->ecc, 5, "", ""},
        {"sma", o->sma, o->sma / km, 3, " m", " km"},
        {"inc", o->inc, o->inc / deg, 3, " rad", " deg"},
        {"raa", o->raa, o->raa / deg, 3, " rad", " deg"},
        {"arp", o->arp, o->arp / deg, 3, " rad", " deg"},
        {"tra", o->tra, o->tra / deg, 3, " rad", " deg"},
    }};
    Ref coe_data = element_table(coe_rows);
    if (!coe_data) return nullptr;
    Ref frame_coe = Ref::steal(PyObject_CallMethodOneArg(self, st->s_frame, coe_data.get()));
    if (!frame_coe) return nullptr;
    const std::array<Row, 6> der_rows{{
        {"orp", o->orp, o->orp / hour, 3, " s", " hour"},
        {"mnm", o->mnm, o->mnm / rev_per_day, 3, " rad/s", " rev/day"},
        {"mea", o->mea, o->mea / deg, 3, " rad", " deg"},
        {"eca", o->eca, o->eca / deg, 3, " rad", " deg"},
        {"pge", o->pge, o->pge / km, 3, " m", " km"},
        {"apg", o->apg, o->apg / km, 3, " m", " km"},
    }};
    Ref der_data = element_table(der_rows);
    if (!der_data) return nullptr;
    Ref frame_der = Ref::steal(PyObject_CallMethodOneArg(self, st->s_frame, der_data.get()));
    if (!frame_der) return nullptr;

    // 7: the pieces as text, in this order.
    Ref line1 = as_text(Ref::steal(PyObject_GetAttr(self, st->s_line1)), st);
    if (!line1) return nullptr;
    Ref line2 = as_text(Ref::steal(PyObject_GetAttr(self, st->s_line2)), st);
    if (!line2) return nullptr;
    Ref form_text = as_text(std::move(form), st);
    if (!form_text) return nullptr;
    Ref coe_title = as_text(section_title(self, st, "Orbital Elements:"), st);
    if (!coe_title) return nullptr;
    Ref coe_text = as_text(std::move(frame_coe), st);
    if (!coe_text) return nullptr;
    Ref der_title = as_text(section_title(self, st, "Derived Elements:"), st);
    if (!der_title) return nullptr;
    Ref der_text = as_text(std::move(frame_der), st);
    if (!der_text) return nullptr;

    // 8: joined with the fixed separators; "{fence}" is the base class's to replace.
    return PyUnicode_FromFormat("%U\n%U\n{fence}\n%U\n{fence}\n%U\n%U\n{fence}\n%U\n%U",
                                line1.get(), line2.get(), form_text.get(), coe_title.get(),
                                coe_text.get(), der_title.get(), der_text.get());
}

PyObject* TLE___reduce__(PyObject*, PyObject* const*) { return refuse_reduce(); }
PyObject* TLE___setstate__(PyObject*, PyObject* const*) { return refuse_reduce(); }

const py::FunctionSpec TLE_methods[] = {
    {"_get_header", "TLE._get_header", "TLE._get_header(self) -> str", method_no_args,
     returns_str, TLE__get_header},
    {"_get_body", "TLE._get_body", "TLE._get_body(self) -> str", method_no_args,
     returns_str, TLE__get_body},
    {"__reduce__", "TLE.__reduce__", nullptr, method_no_args, {}, TLE___reduce__},
    {"__setstate__", "TLE.__setstate__", nullptr, method_one_arg, {}, TLE___setstate__},
};

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
