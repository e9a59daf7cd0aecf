// Shared declarations of the catalog module: its state, the Catalog layout and its columns, and
// the functions the module's files give each other.
#pragma once
#include <Python.h>

#include <cstdint>
#include <tuple>

#include "kernels/tle_format.hpp"
#include "support/module.hpp"
#include "support/numpy.hpp"
#include "support/ref.hpp"
#include "text_reader.hpp"

namespace orbivex::catalog {

using py::Ref;

// The columns, one row each, in the order of pickled state and of the properties:
//   X(name, kind, text width, what _from_fields takes, compared by drop_duplicates, doc)
// Each row becomes an enumerator c_<name>, an entry of `columns` and a read-only property of
// Catalog; _from_fields, pickling, row selection and concat follow from the table. Units as TLE
// has them; the fields TLE does not read as the text publishes them.
#define ORBIVEX_CATALOG_COLUMNS(X)                                                                \
    X(satno, int64, 0, published, false,                                                          \
      "Catalogue numbers (int64): Alpha-5 decoded (A0000 = 100000 ... Z9999 = 339999).")         \
    X(name, object, 0, published, false,                                                          \
      "Names (object: str, or None for a two-line set): the line before line 1, without a\n"     \
      "leading '0 ' and trailing white space, read as UTF-8.")                                    \
    X(classification, text, 1, published, true, "Classification letters ('<U1'): U, C, S ...")   \
    X(intldes, text, 8, published, true,                                                          \
      "International designators ('<U8'): columns 10-17 of line 1 without trailing blanks.")     \
    X(epoch_ns, int64, 0, published, false,                                                       \
      "Epochs (int64): ns since 1970-01-01T00:00:00 UTC, exact from the text.")                  \
    X(ndot, float64, 0, published, true,                                                          \
      "First derivative of the mean motion over 2 (float64), as published: rev/day^2.")          \
    X(nddot, float64, 0, published, true,                                                         \
      "Second derivative of the mean motion over 6 (float64), as published: rev/day^3.")         \
    X(bstar, float64, 0, published, true, "Drag term B* (float64), as published: 1/Earth radii.") \
    X(ephemeris_type, int64, 0, published, true,                                                  \
      "Ephemeris types (int64), as published (0 in most sets).")                                  \
    X(element_number, int64, 0, published, true, "Element set numbers (int64), as published.")  \
    X(revolution, int64, 0, published, true,                                                      \
      "Revolution numbers at epoch (int64), as published.")                                       \
    X(inc, float64, 0, published, true, "Inclinations (float64, rad), as TLE.inc.")              \
    X(raa, float64, 0, published, true,                                                           \
      "Right ascensions of the node (float64, rad), as TLE.raa.")                                 \
    X(ecc, float64, 0, published, true, "Eccentricities (float64), as TLE.ecc.")                 \
    X(arp, float64, 0, published, true, "Arguments of perigee (float64, rad), as TLE.arp.")      \
    X(mea, float64, 0, published, true, "Mean anomalies (float64, rad), as TLE.mea.")            \
    X(mnm, float64, 0, published, true, "Mean motions (float64, rad/s), as TLE.mnm.")            \
    X(sma, float64, 0, computed, false, "Semimajor axes (float64, m), as TLE.sma.")              \
    X(orp, float64, 0, computed, false, "Orbital periods (float64, s), as TLE.orp.")             \
    X(eca, float64, 0, computed, false, "Eccentric anomalies (float64, rad), as TLE.eca.")       \
    X(tra, float64, 0, computed, false, "True anomalies (float64, rad), as TLE.tra.")            \
    X(pge, float64, 0, computed, false,                                                           \
      "Perigee altitudes (float64, m above Earth.Re), as TLE.pge.")                               \
    X(apg, float64, 0, computed, false,                                                           \
      "Apogee altitudes (float64, m above Earth.Re), as TLE.apg.")                                \
    X(line1, text, 69, computed, true,                                                            \
      "Line 1 of each set ('<U69'), normalised as TLE stores it; '' where the values have no\n"  \
      "two-line form (a catalogue number above 339999, an epoch outside 1957-2056, ...).")       \
    X(line2, text, 69, computed, true, "Line 2 of each set ('<U69'), as line1.")                 \
    X(source_line, int64, 0, optional, false,                                                     \
      "Where each set starts in its source (int64): the 1-based line of its name, or of its\n"   \
      "first element line; the record's line or number for the other formats.")

enum Column : int {
#define ORBIVEX_ROW(name, kind, width, field, compared, doc) c_##name,
    ORBIVEX_CATALOG_COLUMNS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
        column_count
};

/// How a column is held: int64, float64, objects (str or None), or ASCII bytes of `width`
/// shown as str of that width.
enum class Kind : char { int64, float64, object, text };

/// What Catalog._from_fields takes of a column: a published field it needs, one it may be
/// given (else 1, 2, ...), or none (the column is computed from the others).
enum class Field : char { published, optional, computed };

struct ColumnSpec {
    const char* name;
    Kind kind;
    int width;  ///< bytes of a text column
    Field field;
    bool compared;    ///< part of what makes two sets of a satellite and epoch the same
    const char* doc;  ///< the property's docstring
};

inline constexpr ColumnSpec columns[column_count] = {
#define ORBIVEX_ROW(name, kind, width, field, compared, doc) \
    {#name, Kind::kind, width, Field::field, compared, doc},
    ORBIVEX_CATALOG_COLUMNS(ORBIVEX_ROW)
#undef ORBIVEX_ROW
};

namespace detail {
constexpr bool table_holds() {
    for (const ColumnSpec& s : columns) {
        // A text column has a width; the others hold 8-byte items or objects.
        if ((s.kind == Kind::text) != (s.width > 0)) return false;
        if (s.compared && s.kind == Kind::object) return false;
    }
    // Catalogue order is by these two, which the type's code reads by name.
    return columns[c_satno].kind == Kind::int64 && columns[c_epoch_ns].kind == Kind::int64 &&
           columns[c_source_line].field == Field::optional;
}
}  // namespace detail
static_assert(detail::table_holds());

/// A catalogue: `n` element sets as read-only, C-contiguous 1-D columns of length n, sorted by
/// satellite, then epoch. Text columns are held as bytes ('S' arrays, a quarter of the str
/// form); the str arrays, the epochs as a Time and the satellite numbers are made on first
/// read and kept.
struct CatalogObject {
    PyObject_HEAD
    Py_ssize_t n;
    PyObject* column[column_count];
    PyObject* shown[column_count];  ///< str form of a text column, or NULL
    PyObject* epoch;                ///< Time of epoch_ns, or NULL
    PyObject* satellites;           ///< unique satellite numbers, or NULL
    PyObject* rejected;             ///< tuple of TLEFormatError
};

struct catalog_state {
    PyTypeObject* Catalog_type;
    PyObject* Time;
    PyObject* TLE;
    PyObject* ELSET;
    PyObject* Earth;
    PyObject* helper;  ///< the Python half: sources, formats, TLEFormatError, the other formats
    PyObject *s_GM, *s_Re, *s_int64, *s_satname, *s_TLEFormatError, *s_load, *s_detect_format,
        *s_readers, *s_writers, *s_write_output, *s_unsupported, *s_cpu_count;

    static constexpr auto refs() {
        using S = catalog_state;
        return std::tuple{
            py::owned(&S::Catalog_type),
            py::owned(&S::Time),
            py::owned(&S::TLE),
            py::owned(&S::ELSET),
            py::owned(&S::Earth),
            py::owned(&S::helper),
            py::interned(&S::s_GM, "GM"),
            py::interned(&S::s_Re, "Re"),
            py::interned(&S::s_int64, "int64"),
            py::interned(&S::s_satname, "satname"),
            py::interned(&S::s_TLEFormatError, "TLEFormatError"),
            py::interned(&S::s_load, "load"),
            py::interned(&S::s_detect_format, "detect_format"),
            py::interned(&S::s_readers, "READERS"),
            py::interned(&S::s_writers, "WRITERS"),
            py::interned(&S::s_write_output, "write_output"),
            py::interned(&S::s_unsupported, "unsupported"),
            py::interned(&S::s_cpu_count, "cpu_count"),
        };
    }
};

/// State of the module Catalog belongs to (the type is final: its own module).
catalog_state* state_of(PyObject* catalog) noexcept;

/// The three unit constants TLE scales by, bound from the units module by address.
extern const double *unit_deg, *unit_rev, *unit_day;
/// Their values now, as the element-set kernels take them.
kern::tle::Units units_now() noexcept;

/// The published fields of row i, as the two-line writer takes them (counts that overflow its
/// int32 fields clamped, so that the writer refuses them as too wide).
kern::tle::Fields row_fields(const CatalogObject* c, Py_ssize_t i) noexcept;

/// Earth.GM and Earth.Re now, as doubles; -1 with an error set.
int earth_constants(catalog_state* st, double& gm, double& re) noexcept;

// ---- columns ------------------------------------------------------------------------------

/// A new C-contiguous column of `n` items of the column's kind (objects NULL, others
/// uninitialised); empty with an error set.
Ref new_column(Column c, Py_ssize_t n) noexcept;

template <class T>
T* data_of(PyObject* array) noexcept {
    return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
}
inline std::int64_t* i64(const CatalogObject* c, Column k) noexcept {
    return data_of<std::int64_t>(c->column[k]);
}
inline double* f64(const CatalogObject* c, Column k) noexcept {
    return data_of<double>(c->column[k]);
}
inline char* text(const CatalogObject* c, Column k) noexcept { return data_of<char>(c->column[k]); }

/// A new Catalog of `n` rows owning `cols` (each made read-only) and `rejected` (a tuple, or
/// NULL for none). The columns must be of their kind, C-contiguous and in catalogue order.
PyObject* new_catalog(catalog_state* st, Py_ssize_t n, Ref (&cols)[column_count],
                      PyObject* rejected) noexcept;

/// The rows of `c` at `index` (an intp array), or [lo, hi) as views; no rejected sets.
PyObject* take_rows(catalog_state* st, CatalogObject* c, PyObject* index) noexcept;
PyObject* slice_rows(catalog_state* st, CatalogObject* c, Py_ssize_t lo, Py_ssize_t hi) noexcept;

/// Puts columns of any row order into catalogue order (a stable sort by satellite and epoch)
/// and makes the Catalog; takes over `cols`.
PyObject* sorted_catalog(catalog_state* st, Py_ssize_t n, Ref (&cols)[column_count],
                         PyObject* rejected) noexcept;

/// A satellite number from an int, or from its five-column text (digits or Alpha-5); -1 with
/// an error set.
int satno_arg(PyObject* arg, std::int64_t& out) noexcept;

/// Rows [lo, hi) of satellite `satno` (binary search on the sorted numbers).
void satellite_range(const CatalogObject* c, std::int64_t satno, Py_ssize_t& lo,
                     Py_ssize_t& hi) noexcept;

// ---- the Python half ----------------------------------------------------------------------

/// TLEFormatError(source, line, column, reason, code) of the helper; NULL with an error set.
PyObject* format_error(catalog_state* st, PyObject* source, std::int64_t line, int column,
                       const char* reason, const char* code) noexcept;
/// The error of a kernel fault (reason none: a line that belongs to no set).
PyObject* fault_error(catalog_state* st, PyObject* source, const kern::tle::Fault& f,
                      std::int64_t line) noexcept;

// ---- reading and writing --------------------------------------------------------------------

/// 0 when `format` is one of the format names, else -1 with TypeError or ValueError.
int check_format(PyObject* format) noexcept;

/// Reads two-line element text into a Catalog. `skip`: keep refused sets in `rejected`
/// instead of raising the first. Runs on up to `threads` threads without the lock.
PyObject* read_text(catalog_state* st, const char* data, std::size_t size, PyObject* source,
                    bool skip, bool checksums, int threads) noexcept;

/// _read_file(path, threads): the bytes of a regular file, read on up to `threads` threads
/// without the lock; None for a file of no known size (a pipe, a device), to be read plainly.
PyObject* read_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

/// Catalog._from_fields(fields, rejected=()): the Catalog of columns in the published units.
PyObject* Catalog_from_fields(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept;
/// Catalog._from_columns(columns, rejected=()): pickled state back into a Catalog.
PyObject* Catalog_from_columns(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) noexcept;

/// The text of the catalogue as two-line (names false) or three-line sets; NULL with an error.
PyObject* tle_text(catalog_state* st, CatalogObject* c, bool names) noexcept;

/// Methods of Catalog defined beside their helpers.
PyObject* Catalog_satellite(PyObject* self, PyObject* arg) noexcept;
PyObject* Catalog_latest(PyObject* self, PyObject*) noexcept;
PyObject* Catalog_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept;
PyObject* Catalog_drop_duplicates(PyObject* self, PyObject*) noexcept;
PyObject* Catalog_concat(PyObject* type, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept;
PyObject* Catalog_tle(PyObject* self, PyObject* arg) noexcept;
PyObject* Catalog_elset(PyObject* self, PyObject* arg) noexcept;
PyObject* Catalog_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept;

extern PyType_Spec Catalog_spec;

}  // namespace orbivex::catalog
