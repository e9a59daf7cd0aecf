// The tle module's catalogue: every field, property and method of TLE and ELSET, declared once.
// The records, the property tables, ELSET's arrays, the tables of TLE's text, the method specs
// and every signature line follow from it; orbivex._testing.testing_tle shows it to the tests.
//
// Rows that declare struct fields are X-macros: C++ has no other way to turn a table into
// members. Everything else is constexpr data computed from those rows at compile time.
#pragma once
#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "kernels/tle_fields.hpp"
#include "support/args.hpp"
#include "support/text.hpp"

namespace orbivex::tle::cat {

/// How TLE's text shows an element: decimals, SI unit label and operational unit label.
enum class Unit { none, length, angle, duration, rate };
/// The table of TLE's text that shows an element.
enum class Table { orbital, derived };

// The elements, one row each, in the order of TLE's fields:
//   X(name, unit, table of TLE's text, row in that table, place among ELSET's arrays)
// Each becomes a double field and a float property `name` of TLE, a row of TLE's text, an array
// field `_name` and an array property `name` of ELSET, copied from the TLEs it gathers. Adding an
// element takes one row here, the code that computes it (tle_type.cpp), and its lines in tle.pxd
// and tle.pyi, which tests compare with this catalogue.
#define ORBIVEX_TLE_ELEMENTS(X)     \
    X(inc, angle, orbital, 2, 2)    \
    X(raa, angle, orbital, 3, 3)    \
    X(ecc, none, orbital, 0, 0)     \
    X(mea, angle, derived, 2, 9)    \
    X(arp, angle, orbital, 4, 4)    \
    X(mnm, rate, derived, 1, 6)     \
    X(sma, length, orbital, 1, 1)   \
    X(orp, duration, derived, 0, 7) \
    X(eca, angle, derived, 3, 8)    \
    X(tra, angle, orbital, 5, 5)    \
    X(pge, length, derived, 4, 10)  \
    X(apg, length, derived, 5, 11)

// TLE's fields between its table of virtual operations and the elements: X(type, name, extent).
#define ORBIVEX_TLE_FIELDS(X)                              \
    X(char, _line1, [::orbivex::kern::tle_line_size])      \
    X(char, _line2, [::orbivex::kern::tle_line_size])      \
    X(int, strict_validation, )                            \
    X(char, _satno, [::orbivex::kern::tle_satno_size])     \
    X(PyObject*, epoch, )

// ELSET's fields after its base part, before one array object per element in ELSET's order.
#define ORBIVEX_ELSET_FIELDS(X) \
    X(PyObject*, epoch, )       \
    X(int, _satno, )            \
    X(PyObject*, elements, )

// TLE's virtual operations, in slot order: X(name); each fills fields from one stored line.
#define ORBIVEX_TLE_VIRTUALS(X) \
    X(parse_line1)              \
    X(parse_line2)

// Properties besides the elements, in the order the types list them, with their docstrings
// (nullptr: none): X(type, name, doc), read by <type>_get_<name>. ELEMENTS() stands where the
// element properties go. ELSET.satno's docstring says "int | str", though its value is an int.
#define ORBIVEX_TLE_PROPERTIES(X, ELEMENTS) \
    X(TLE, line1, "TLE.line1: str")         \
    X(TLE, line2, "TLE.line2: str")         \
    X(TLE, satno, "TLE.satno: int | str")   \
    X(TLE, epoch, nullptr)                  \
    ELEMENTS()
#define ORBIVEX_ELSET_PROPERTIES(X, ELEMENTS)   \
    X(ELSET, size, "ELSET.size: int")           \
    X(ELSET, satname, "ELSET.satname: str")     \
    X(ELSET, satno, "ELSET.satno: int | str")   \
    ELEMENTS()                                  \
    X(ELSET, epoch, nullptr)

// The methods of TLE and of ELSET, the same for both, implemented by <TYPE>_<name>:
//   X(name, parameters, annotations, whether the docstring is the signature line)
// The pickling refusals carry no docstring.
#define ORBIVEX_TLE_METHODS(X)                  \
    X(_get_header, no_args, returns_str, true)  \
    X(_get_body, no_args, returns_str, true)    \
    X(__reduce__, no_args, {}, false)           \
    X(__setstate__, one_arg, {}, false)

// ---- elements -----------------------------------------------------------------------------

/// One element, as ORBIVEX_TLE_ELEMENTS declares it.
struct Element {
    const char* name;       ///< TLE's field and property, ELSET's property
    const char* array;      ///< ELSET's field
    const char* array_doc;  ///< docstring of ELSET's property
    Unit unit;
    Table table;
    std::size_t row;    ///< row in that table of TLE's text
    std::size_t place;  ///< place among ELSET's arrays
};

inline constexpr Element elements[] = {
#define ORBIVEX_ROW(name, unit, table, row, place)                                            \
    {#name, "_" #name, "ELSET." #name ": ndarray[double]", Unit::unit, Table::table, row, \
     place},
    ORBIVEX_TLE_ELEMENTS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};
inline constexpr std::size_t n_elements = std::size(elements);

/// Decimals and unit labels of an element's two cells in TLE's text.
struct UnitText {
    int precision;
    const char* si;
    const char* op;
};
constexpr UnitText unit_text(Unit u) {
    switch (u) {
    case Unit::none: return {5, "", ""};
    case Unit::length: return {3, " m", " km"};
    case Unit::angle: return {3, " rad", " deg"};
    case Unit::duration: return {3, " s", " hour"};
    case Unit::rate: return {3, " rad/s", " rev/day"};
    }
    return {};
}

/// Titles of the two tables of TLE's text, in Table's order (the order the text shows them).
inline constexpr const char* const table_titles[] = {"Orbital Elements:", "Derived Elements:"};
constexpr const char* table_title(Table t) { return table_titles[static_cast<int>(t)]; }

/// Indices into `elements` in the order of ELSET's arrays.
consteval std::array<std::size_t, n_elements> make_elset_order() {
    std::array<std::size_t, n_elements> order{};
    std::array<bool, n_elements> taken{};
    for (std::size_t i = 0; i < n_elements; ++i) {
        const std::size_t p = elements[i].place;
        if (p >= n_elements || taken[p]) throw "ELSET's places are 0 to n-1, each once";
        taken[p] = true;
        order[p] = i;
    }
    return order;
}
inline constexpr auto elset_order = make_elset_order();

consteval std::size_t table_size(Table t) {
    std::size_t n = 0;
    for (const Element& e : elements) n += e.table == t;
    return n;
}

/// Indices into `elements` in the row order of table `t` of TLE's text.
template <Table t>
consteval std::array<std::size_t, table_size(t)> make_table_order() {
    std::array<std::size_t, table_size(t)> order{};
    std::array<bool, table_size(t)> taken{};
    for (std::size_t i = 0; i < n_elements; ++i) {
        if (elements[i].table != t) continue;
        const std::size_t r = elements[i].row;
        if (r >= order.size() || taken[r]) throw "a table's rows are 0 to n-1, each once";
        taken[r] = true;
        order[r] = i;
    }
    return order;
}
template <Table t>
inline constexpr auto table_order = make_table_order<t>();

// ---- properties ---------------------------------------------------------------------------

/// One property of TLE or ELSET, in the order the type lists them.
struct Property {
    const char* name;
    const char* doc;  ///< nullptr: none
    int own;          ///< index among the type's own accessors, -1 for an element
    int element;      ///< index into `elements`, -1 for an own accessor
};

enum class Owner { tle, elset };

/// The properties of `owner`: its own rows, with the marker row (no name) replaced by the
/// elements (TLE: in field order, without docstrings; ELSET: in array order, documented).
template <std::size_t N>
consteval std::array<Property, N - 1 + n_elements> expand_properties(
    const std::array<Property, N>& rows, Owner owner) {
    std::array<Property, N - 1 + n_elements> out{};
    std::size_t k = 0;
    int own = 0;
    for (const Property& r : rows) {
        if (r.name) {
            out[k++] = {r.name, r.doc, own++, -1};
            continue;
        }
        for (std::size_t p = 0; p < n_elements; ++p) {
            const std::size_t i = owner == Owner::tle ? p : elset_order[p];
            const char* doc = owner == Owner::tle ? nullptr : elements[i].array_doc;
            out[k++] = {elements[i].name, doc, -1, static_cast<int>(i)};
        }
    }
    return out;
}

#define ORBIVEX_PROPERTY_ROW(type, name, doc) Property{#name, doc, -1, -1},
#define ORBIVEX_ELEMENT_MARKER() Property{nullptr, nullptr, -1, -1},
inline constexpr auto tle_properties = expand_properties(
    std::array{ORBIVEX_TLE_PROPERTIES(ORBIVEX_PROPERTY_ROW, ORBIVEX_ELEMENT_MARKER)}, Owner::tle);
inline constexpr auto elset_properties = expand_properties(
    std::array{ORBIVEX_ELSET_PROPERTIES(ORBIVEX_PROPERTY_ROW, ORBIVEX_ELEMENT_MARKER)},
    Owner::elset);
#undef ORBIVEX_ELEMENT_MARKER
#undef ORBIVEX_PROPERTY_ROW

// ---- signatures ---------------------------------------------------------------------------

using py::Text;

/// The annotation of `name` among alternating names and texts, or nullptr.
constexpr const char* annotation_of(std::span<const char* const> annotations,
                                    std::string_view name) {
    for (std::size_t i = 0; i + 1 < annotations.size(); i += 2)
        if (name == annotations[i]) return annotations[i + 1];
    return nullptr;
}

/// Appends "(a, b=None, *rest, key=None) -> R": the parameters of `p` (each optional one
/// defaults to None), `varargs` (empty: none) before the keyword-only ones, each annotated as
/// `annotations` says, and the return annotation.
template <std::size_t N>
consteval void append_signature(Text<N>& out, const py::Params& p, std::string_view varargs,
                                std::span<const char* const> annotations) {
    out += "(";
    const auto n = static_cast<Py_ssize_t>(p.names.size());
    bool first = true;
    auto separate = [&] {
        if (!first) out += ", ";
        first = false;
    };
    // "*rest", or a bare "*" before keyword-only parameters when there is no *rest.
    auto star = [&] {
        separate();
        out += "*";
        out += varargs;
    };
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i == p.npositional) star();
        separate();
        out += p.names[i];
        if (const char* a = annotation_of(annotations, p.names[i])) {
            out += ": ";
            out += a;
        }
        if (i >= p.nrequired) out += "=None";
    }
    // A view, not a pointer: the sanitizers make a variable's address no constant expression.
    if (!varargs.empty() && n <= p.npositional) star();
    out += ")";
    if (const char* r = annotation_of(annotations, "return")) {
        out += " -> ";
        out += r;
    }
}

// ---- constructors -------------------------------------------------------------------------

inline constexpr const char* const tle_init_names[] = {"line1", "line2", "strict_validation"};
/// TLE(line1, line2, strict_validation=None).
inline constexpr py::Params tle_init{tle_init_names, 2, 3};
inline constexpr const char* const elset_init_names[] = {"satname"};
/// ELSET(*elements, satname=None): any number of element sets, the name by keyword only.
inline constexpr py::Params elset_init{elset_init_names, 0, 0};
inline constexpr const char elset_varargs[] = "elements";

/// A class docstring: "<name><signature>\n--\n\n" (Python's mark of a text signature), then
/// `doc`.
consteval Text<128> class_doc(std::string_view name, const py::Params& p, std::string_view varargs,
                              std::string_view doc) {
    Text<128> out;
    out += name;
    append_signature(out, p, varargs, {});
    out += "\n--\n\n";
    out += doc;
    return out;
}

/// TLE has no docstring of its own: only the signature, for __text_signature__.
inline constexpr auto tle_doc = class_doc("TLE", tle_init, {}, "");
// ELSET's published docstring, word for word: it tells users ELSET does not yet behave like
// an Ephemeris; it is the class's documented text, not a note to ourselves.
inline constexpr auto elset_doc =
    class_doc("ELSET", elset_init, elset_varargs, "TODO: must behave like Ephemeris");

// ---- methods ------------------------------------------------------------------------------

// The object a method is called on comes first and is left out of call-error counts.
inline constexpr const char* const self_only[] = {"self"};
inline constexpr const char* const self_state[] = {"self", "state"};
inline constexpr py::Params no_args{self_only, 1, 1, true};
inline constexpr py::Params one_arg{self_state, 2, 2, true};
/// The text hooks return str.
inline constexpr const char* const returns_str[] = {"return", "str"};

/// One method, as ORBIVEX_TLE_METHODS declares it.
struct Method {
    const char* name;
    py::Params params;
    std::span<const char* const> annotations;
    bool signature_doc;  ///< the docstring is the signature line; otherwise there is none
};

inline constexpr Method methods[] = {
#define ORBIVEX_ROW(name, params, annotations, signature_doc) \
    {#name, params, annotations, signature_doc},
    ORBIVEX_TLE_METHODS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};
inline constexpr std::size_t n_methods = std::size(methods);

/// The qualified name and docstring of one method of one type.
struct MethodText {
    Text<48> qualname;
    Text<96> doc;
};

/// "<type>.<name>" and "<type>.<name>(self) -> str" of every method of type `type`.
consteval std::array<MethodText, n_methods> method_texts(std::string_view type) {
    std::array<MethodText, n_methods> out{};
    for (std::size_t i = 0; i < n_methods; ++i) {
        out[i].qualname += type;
        out[i].qualname += ".";
        out[i].qualname += methods[i].name;
        out[i].doc += out[i].qualname.c_str();
        append_signature(out[i].doc, methods[i].params, {}, methods[i].annotations);
    }
    return out;
}
inline constexpr auto tle_method_texts = method_texts("TLE");
inline constexpr auto elset_method_texts = method_texts("ELSET");

}  // namespace orbivex::tle::cat
