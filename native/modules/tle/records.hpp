// Instance layouts of TLE and ELSET, made from the catalogue: the structs Cython derives from
// tle.pxd, with the list of their fields and the property tables of both types.
#pragma once
#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

#include "catalogue.hpp"
#include "modules/representable/representable.hpp"

namespace orbivex::tle {

using RepresentableObject = ::orbivex::representable::RepresentableObject;

struct TLEObject;

#define ORBIVEX_FIELD(type, name, extent) type name extent;
#define ORBIVEX_ELEMENT(name, ...) double name;
#define ORBIVEX_VIRTUAL(name) void (*name)(TLEObject*);

/// Virtual operations of TLE, in slot order; the layout Cython derives from tle.pxd.
struct TLEVtable {
    ORBIVEX_TLE_VIRTUALS(ORBIVEX_VIRTUAL)
};

/// Instance layout of TLE: {base; virtual table; fields in declared order}, as in tle.pxd.
struct TLEObject {
    RepresentableObject base;
    TLEVtable* vtab;
    ORBIVEX_TLE_FIELDS(ORBIVEX_FIELD)
    ORBIVEX_TLE_ELEMENTS(ORBIVEX_ELEMENT)
};

/// Instance layout of ELSET, as in tle.pxd (no virtual operations, so no table pointer).
struct ELSETObject {
    RepresentableObject base;
    ORBIVEX_ELSET_FIELDS(ORBIVEX_FIELD)
    /// One array per element in ELSET's order (cat::elset_order): tle.pxd's `_ecc` to `_apg`.
    PyObject* arrays[cat::n_elements];
};

#undef ORBIVEX_VIRTUAL
#undef ORBIVEX_ELEMENT
#undef ORBIVEX_FIELD

/// TLE's double of each element, in the order of cat::elements.
inline constexpr double TLEObject::* element_fields[] = {
#define ORBIVEX_MEMBER(name, ...) &TLEObject::name,
    ORBIVEX_TLE_ELEMENTS(ORBIVEX_MEMBER)
#undef ORBIVEX_MEMBER
};

/// TLE's double of each of ELSET's arrays, in ELSET's order.
inline constexpr auto array_sources = [] {
    std::array<double TLEObject::*, cat::n_elements> out{};
    for (std::size_t p = 0; p < cat::n_elements; ++p) out[p] = element_fields[cat::elset_order[p]];
    return out;
}();

// ---- layout -------------------------------------------------------------------------------

/// One field of a record as tle.pxd declares it: name, offset, size and alignment.
struct Field {
    const char* name;
    std::size_t offset;
    std::size_t size;
    std::size_t align;
};

#define ORBIVEX_TLE_FIELD(type, name, extent) \
    Field{#name, offsetof(TLEObject, name), sizeof(TLEObject::name), alignof(type)},
#define ORBIVEX_TLE_DOUBLE(name, ...) \
    Field{#name, offsetof(TLEObject, name), sizeof(double), alignof(double)},
#define ORBIVEX_ELSET_FIELD(type, name, extent) \
    Field{#name, offsetof(ELSETObject, name), sizeof(ELSETObject::name), alignof(type)},

/// TLE's fields after the table pointer, in declared order.
inline constexpr std::array tle_layout{ORBIVEX_TLE_FIELDS(ORBIVEX_TLE_FIELD)
                                           ORBIVEX_TLE_ELEMENTS(ORBIVEX_TLE_DOUBLE)};

/// ELSET's fields after the base part, in declared order, the arrays by their tle.pxd names.
inline constexpr auto elset_layout = [] {
    constexpr std::array own{ORBIVEX_ELSET_FIELDS(ORBIVEX_ELSET_FIELD)};
    std::array<Field, own.size() + cat::n_elements> out{};
    for (std::size_t k = 0; k < own.size(); ++k) out[k] = own[k];
    for (std::size_t p = 0; p < cat::n_elements; ++p)
        out[own.size() + p] = {cat::elements[cat::elset_order[p]].array,
                               offsetof(ELSETObject, arrays) + p * sizeof(PyObject*),
                               sizeof(PyObject*), alignof(PyObject*)};
    return out;
}();

#undef ORBIVEX_ELSET_FIELD
#undef ORBIVEX_TLE_DOUBLE
#undef ORBIVEX_TLE_FIELD

/// Whether `fields` lie as a Cython consumer derives them: from `start`, each at the next
/// offset of its natural alignment, no reordering, and the record ends after the last.
consteval bool laid_out_in_order(std::span<const Field> fields, std::size_t start,
                                 std::size_t record_size) {
    std::size_t end = start;
    for (const Field& f : fields) {
        if (f.offset != (end + f.align - 1) / f.align * f.align) return false;
        end = f.offset + f.size;
    }
    return record_size == end;
}

static_assert(offsetof(TLEObject, vtab) == sizeof(RepresentableObject));
static_assert(laid_out_in_order(tle_layout, offsetof(TLEObject, vtab) + sizeof(void*),
                                sizeof(TLEObject)));
static_assert(offsetof(ELSETObject, epoch) == sizeof(RepresentableObject));
static_assert(laid_out_in_order(elset_layout, sizeof(RepresentableObject), sizeof(ELSETObject)));

// ---- properties ---------------------------------------------------------------------------

/// The getset table of `rows` (with its terminating row): own properties read by `own[p.own]`,
/// element i by `element` with a pointer to `targets[i]` as its closure.
template <std::size_t N, std::size_t M, class T>
consteval std::array<PyGetSetDef, N + 1> getset_table(const std::array<cat::Property, N>& rows,
                                                      const std::array<getter, M>& own,
                                                      getter element,
                                                      const T (&targets)[cat::n_elements]) {
    std::array<PyGetSetDef, N + 1> out{};
    std::size_t n_own = 0;
    for (std::size_t k = 0; k < N; ++k) {
        const cat::Property& p = rows[k];
        if (p.element < 0) {
            out[k] = {p.name, own[static_cast<std::size_t>(p.own)], nullptr, p.doc, nullptr};
            ++n_own;
        } else {
            const T* target = &targets[p.element];
            out[k] = {p.name, element, nullptr, p.doc,
                      const_cast<void*>(static_cast<const void*>(target))};
        }
    }
    if (n_own != M) throw "one accessor per own property";
    out[N] = {nullptr, nullptr, nullptr, nullptr, nullptr};
    return out;
}

#define ORBIVEX_GETTER(type, name, doc) type##_get_##name,
#define ORBIVEX_NO_ELEMENTS()
/// The own accessors <type>_get_<name> of the properties an ORBIVEX_*_PROPERTIES list declares.
#define ORBIVEX_OWN_GETTERS(PROPERTIES) \
    std::to_array<getter>({PROPERTIES(ORBIVEX_GETTER, ORBIVEX_NO_ELEMENTS)})

}  // namespace orbivex::tle
