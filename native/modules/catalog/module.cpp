// orbivex.propagators.analytical.sgp4.catalog: read, parse, the Catalog type and TLEFormatError
// (defined by the Python half, _catalog_py, with the sources and the formats read in Python).
#define ORBIVEX_NUMPY_IMPORT
#include <Python.h>

#include <array>
#include <utility>

#include "catalog.hpp"
#include "omm.hpp"
#include "support/args.hpp"
#include "support/imports.hpp"

namespace orbivex::catalog {

const double *unit_deg = nullptr, *unit_rev = nullptr, *unit_day = nullptr;

kern::tle::Units units_now() noexcept { return {*unit_deg, *unit_rev, *unit_day}; }

int earth_constants(catalog_state* st, double& gm, double& re) noexcept {
    for (auto [name, out] : {std::pair{st->s_GM, &gm}, std::pair{st->s_Re, &re}}) {
        Ref v = Ref::steal(PyObject_GetAttr(st->Earth, name));
        if (!v) return -1;
        const double d = PyFloat_AsDouble(v.get());
        if (d == -1.0 && PyErr_Occurred()) return -1;
        *out = d;
    }
    return 0;
}

catalog_state* state_of(PyObject* catalog) noexcept {
    return static_cast<catalog_state*>(PyType_GetModuleState(Py_TYPE(catalog)));
}

namespace {

constexpr const char* const formats[] = {"tle",     "3le",     "omm-csv", "omm-json",
                                         "omm-xml", "omm-kvn", "parquet"};

/// The keyword arguments read and parse share.
struct Options {
    PyObject* format = nullptr;  ///< a known format name, or NULL to detect it
    bool skip = false;
    bool checksums = true;
    int threads = 1;
};

bool is_text_format(PyObject* format) {
    return PyUnicode_CompareWithASCIIString(format, "tle") == 0 ||
           PyUnicode_CompareWithASCIIString(format, "3le") == 0;
}

}  // namespace

int check_format(PyObject* format) noexcept {
    if (!PyUnicode_Check(format)) {
        PyErr_Format(PyExc_TypeError, "format must be a str or None, not '%.200s'",
                     Py_TYPE(format)->tp_name);
        return -1;
    }
    for (const char* f : formats)
        if (PyUnicode_CompareWithASCIIString(format, f) == 0) return 0;
    PyErr_Format(PyExc_ValueError,
                 "unknown format %R (the formats are 'tle', '3le', 'omm-csv', 'omm-json', "
                 "'omm-xml', 'omm-kvn' and 'parquet')",
                 format);
    return -1;
}

namespace {

/// os.cpu_count(), 1 when it does not know.
int cpu_count() {
    Ref os = Ref::steal(PyImport_ImportModule("os"));
    if (!os) return -1;
    Ref n = Ref::steal(PyObject_CallMethod(os.get(), "cpu_count", nullptr));
    if (!n) return -1;
    if (n.get() == Py_None) return 1;
    const long v = PyLong_AsLong(n.get());
    if (v == -1 && PyErr_Occurred()) return -1;
    return v < 1 ? 1 : v > 1024 ? 1024 : static_cast<int>(v);
}

int read_options(PyObject* format, PyObject* errors, PyObject* checksums, PyObject* threads,
                 Options& o) {
    if (format && format != Py_None) {
        if (check_format(format) < 0) return -1;
        o.format = format;
    }
    if (errors) {
        if (!PyUnicode_Check(errors)) {
            PyErr_Format(PyExc_TypeError, "errors must be a str, not '%.200s'",
                         Py_TYPE(errors)->tp_name);
            return -1;
        }
        o.skip = PyUnicode_CompareWithASCIIString(errors, "skip") == 0;
        if (!o.skip && PyUnicode_CompareWithASCIIString(errors, "raise") != 0) {
            PyErr_Format(PyExc_ValueError, "errors must be 'raise' or 'skip', not %R", errors);
            return -1;
        }
    }
    if (checksums) {
        const int truth = PyObject_IsTrue(checksums);
        if (truth < 0) return -1;
        o.checksums = truth != 0;
    }
    if (!threads || threads == Py_None) {
        o.threads = cpu_count();
        return o.threads < 0 ? -1 : 0;
    }
    if (!PyLong_Check(threads) || PyBool_Check(threads)) {
        PyErr_Format(PyExc_TypeError, "threads must be an int or None, not '%.200s'",
                     Py_TYPE(threads)->tp_name);
        return -1;
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(threads, &overflow);
    if (v == -1 && PyErr_Occurred()) return -1;
    if (overflow < 0 || (overflow == 0 && v < 1)) {
        PyErr_Format(PyExc_ValueError, "threads must be at least 1, not %R", threads);
        return -1;
    }
    o.threads = overflow > 0 || v > 1024 ? 1024 : static_cast<int>(v);
    return 0;
}

/// Two-line element text from a str (its UTF-8 form, shared with the str for ASCII text) or
/// from any object with a contiguous buffer.
PyObject* read_text_of(catalog_state* st, PyObject* data, PyObject* source, const Options& o) {
    if (PyUnicode_Check(data)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(data, &size);
        if (!text) return nullptr;
        return read_text(st, text, static_cast<std::size_t>(size), source, o.skip, o.checksums,
                         o.threads);
    }
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
    PyObject* result =
        read_text(st, static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len),
                  source, o.skip, o.checksums, o.threads);
    PyBuffer_Release(&view);
    return result;
}

/// Orbit mean-element messages, read natively like the text.
PyObject* read_omm_of(catalog_state* st, OmmForm form, PyObject* data, PyObject* source,
                      const Options& o) {
    if (PyUnicode_Check(data)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(data, &size);
        if (!text) return nullptr;
        return read_omm(st, form, text, static_cast<std::size_t>(size), source, o.skip, o.threads);
    }
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) return nullptr;
    PyObject* result = read_omm(st, form, static_cast<const char*>(view.buf),
                                static_cast<std::size_t>(view.len), source, o.skip, o.threads);
    PyBuffer_Release(&view);
    return result;
}

/// A format read in Python: its reader from the helper's READERS gives a Catalog, or fields in
/// the published units and the refused records, which Catalog._from_fields turns into one.
PyObject* read_other(catalog_state* st, PyObject* format, PyObject* data, PyObject* source,
                     const Options& o) {
    Ref readers = Ref::steal(PyObject_GetAttr(st->helper, st->s_readers));
    if (!readers) return nullptr;
    Ref reader = Ref::steal(PyObject_CallMethod(readers.get(), "get", "O", format));
    if (!reader) return nullptr;
    if (reader.get() == Py_None)
        return PyObject_CallMethodObjArgs(st->helper, st->s_unsupported, format, source, nullptr);
    Ref kw = Ref::steal(Py_BuildValue("{s:O,s:s,s:O,s:i}", "source", source, "errors",
                                      o.skip ? "skip" : "raise", "checksums",
                                      o.checksums ? Py_True : Py_False, "threads", o.threads));
    Ref args = Ref::steal(PyTuple_Pack(1, data));
    if (!kw || !args) return nullptr;
    Ref got = Ref::steal(PyObject_Call(reader.get(), args.get(), kw.get()));
    if (!got) return nullptr;
    if (Py_TYPE(got.get()) == st->Catalog_type) return got.release();
    if (!PyTuple_Check(got.get()) || PyTuple_GET_SIZE(got.get()) != 2) {
        PyErr_Format(PyExc_TypeError,
                     "the %U reader returned %.200s, not a Catalog or (fields, rejected)", format,
                     Py_TYPE(got.get())->tp_name);
        return nullptr;
    }
    PyObject* argv[] = {PyTuple_GET_ITEM(got.get(), 0), PyTuple_GET_ITEM(got.get(), 1)};
    return Catalog_from_fields(reinterpret_cast<PyObject*>(st->Catalog_type), argv, 2, nullptr);
}

PyObject* dispatch(catalog_state* st, PyObject* data, PyObject* source, const Options& o) {
    Ref format = Ref::borrow(o.format);
    if (!format) {
        format =
            Ref::steal(PyObject_CallMethodObjArgs(st->helper, st->s_detect_format, data, nullptr));
        if (!format) return nullptr;
        if (check_format(format.get()) < 0) return nullptr;
    }
    if (is_text_format(format.get())) return read_text_of(st, data, source, o);
    return read_other(st, format.get(), data, source, o);
}

/// _read_omm(data, format, source, errors, threads): the native OMM reader that
/// _catalog_py.READERS holds for each of the four forms.
PyObject* read_omm_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 5) {
        PyErr_Format(PyExc_TypeError, "_read_omm() takes 5 arguments (%zd given)", nargs);
        return nullptr;
    }
    auto* st = static_cast<catalog_state*>(PyModule_GetState(module));
    const int form = omm_form(args[1]);
    if (form < 0) {
        PyErr_Format(PyExc_ValueError, "_read_omm(): %R is not an OMM format", args[1]);
        return nullptr;
    }
    if (!PyUnicode_Check(args[2])) {
        PyErr_SetString(PyExc_TypeError, "_read_omm(): source must be a str");
        return nullptr;
    }
    Options o;
    if (read_options(nullptr, args[3], nullptr, args[4], o) < 0) return nullptr;
    if (!PyUnicode_Check(args[0]) && !PyObject_CheckBuffer(args[0])) {
        PyErr_Format(PyExc_TypeError, "_read_omm() needs str or bytes, not '%.200s'",
                     Py_TYPE(args[0])->tp_name);
        return nullptr;
    }
    return read_omm_of(st, static_cast<OmmForm>(form), args[0], args[2], o);
}

const char* const read_names[] = {"source", "format", "errors", "checksums", "threads"};
const py::Params read_params{read_names, 1, 1};
const char* const parse_names[] = {"text", "format", "errors", "checksums", "threads"};
const py::Params parse_params{parse_names, 1, 1};

PyObject* read(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[5];
    if (py::bind_vectorcall("read", read_params, args, nargs, kwnames, argv) < 0) return nullptr;
    auto* st = static_cast<catalog_state*>(PyModule_GetState(module));
    Options o;
    if (read_options(argv[1], argv[2], argv[3], argv[4], o) < 0) return nullptr;
    // (data, name): the bytes of a path (inflated by its suffix) or what a file object reads.
    Ref threads = Ref::steal(PyLong_FromLong(o.threads));
    if (!threads) return nullptr;
    Ref loaded = Ref::steal(
        PyObject_CallMethodObjArgs(st->helper, st->s_load, argv[0], threads.get(), nullptr));
    if (!loaded) return nullptr;
    if (!PyTuple_Check(loaded.get()) || PyTuple_GET_SIZE(loaded.get()) != 2) {
        PyErr_SetString(PyExc_SystemError, "catalog: load() did not return (data, name)");
        return nullptr;
    }
    return dispatch(st, PyTuple_GET_ITEM(loaded.get(), 0), PyTuple_GET_ITEM(loaded.get(), 1), o);
}

PyObject* parse(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* argv[5];
    if (py::bind_vectorcall("parse", parse_params, args, nargs, kwnames, argv) < 0) return nullptr;
    auto* st = static_cast<catalog_state*>(PyModule_GetState(module));
    if (!PyUnicode_Check(argv[0]) && !PyObject_CheckBuffer(argv[0])) {
        PyErr_Format(PyExc_TypeError, "parse() needs the text as str or bytes, not '%.200s'",
                     Py_TYPE(argv[0])->tp_name);
        return nullptr;
    }
    Options o;
    if (read_options(argv[1], argv[2], argv[3], argv[4], o) < 0) return nullptr;
    Ref source = Ref::steal(PyUnicode_FromString("<text>"));
    if (!source) return nullptr;
    return dispatch(st, argv[0], source.get(), o);
}

#define ORBIVEX_READ_OPTIONS                                                                  \
    "format: None (detected from the content) or one of 'tle', '3le' (two- and three-line\n" \
    "text, read alike), 'omm-csv', 'omm-json', 'omm-xml', 'omm-kvn', 'parquet'.\n"            \
    "errors: 'raise' raises the first TLEFormatError in text order; 'skip' keeps every\n"     \
    "refused set in catalog.rejected, so that len(catalog) + len(catalog.rejected) is the\n" \
    "number of sets in the source (a line that belongs to no set counts as one).\n"          \
    "checksums: False accepts wrong checksum digits (column 69 must still be a digit).\n"    \
    "threads: None for os.cpu_count(); the text is read on that many threads without the\n"  \
    "interpreter lock, and Ctrl-C (any signal handler that raises) ends the read.\n"

PyMethodDef module_methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)),
     METH_FASTCALL | METH_KEYWORDS,
     "read($module, /, source, *, format=None, errors='raise', checksums=True, threads=None)\n"
     "--\n\n"
     "The element sets of `source` as a Catalog. `source` is a path (str, bytes or\n"
     "os.PathLike; a .gz, .bz2 or .xz suffix is inflated with the standard library) or a file\n"
     "object opened in text or binary mode.\n" ORBIVEX_READ_OPTIONS},
    {"parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse)),
     METH_FASTCALL | METH_KEYWORDS,
     "parse($module, /, text, *, format=None, errors='raise', checksums=True, threads=None)\n"
     "--\n\n"
     "The element sets of `text` (str, or bytes-like as UTF-8) as a Catalog; errors name the\n"
     "source '<text>'.\n" ORBIVEX_READ_OPTIONS},
    {"_read_omm", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_omm_entry)),
     METH_FASTCALL,
     "_read_omm($module, data, format, source, errors, threads, /)\n--\n\n"
     "The Catalog of orbit mean-element messages in `data` (str or bytes-like), format\n"
     "'omm-csv', 'omm-json', 'omm-xml' or 'omm-kvn': the reader _catalog_py.READERS holds\n"
     "for them. The text is cut into records and read without the interpreter lock."},
    {"_read_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_file)),
     METH_FASTCALL,
     "_read_file($module, path, threads, /)\n--\n\n"
     "The bytes of the regular file at `path`, read in blocks on up to `threads` threads\n"
     "without the interpreter lock (what _catalog_py.load reads a plain path with); None\n"
     "when the file has no size to read by (a pipe, a device), for a plain read instead."},
    {"_write_omm", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_omm)),
     METH_FASTCALL,
     "_write_omm($module, catalog, format, /)\n--\n\n"
     "The bytes of `catalog` as orbit mean-element messages, format 'omm-csv', 'omm-json',\n"
     "'omm-xml' or 'omm-kvn' (what Catalog.write writes through _catalog_py.WRITERS)."},
    {nullptr, nullptr, 0, nullptr},
};

#undef ORBIVEX_READ_OPTIONS

struct catalog_module {
    static constexpr const char name[] = "catalog";
    static constexpr const char doc[] =
        "Catalogues of element sets: read() and parse() turn two- and three-line element text\n"
        "(also '0 NAME' lines, blank lines, CRLF) into a Catalog, N sets as read-only NumPy\n"
        "columns in the order of satellite, then epoch; every refused set is reported as a\n"
        "TLEFormatError with its source, line, column and reason.\n\n"
        "Elements and derived elements of a row are those of TLE(line1, line2) of the same\n"
        "lines, to the bit: the same conversions and kernels, Earth.GM and Earth.Re read once\n"
        "per call. epoch_ns is computed from the text in integers (the day fraction's eight\n"
        "digits are multiples of 864 us), while TLE.epoch goes through a floating Julian date\n"
        "and differs from it by up to about 20 us.\n\n"
        "Orbit mean-element messages (OMM) are read natively too, as CSV with a header row,\n"
        "JSON (an array of objects, values as numbers or strings), the XML document (one\n"
        "<omm> a record) and KVN ('KEY = value' lines, a record from each CCSDS_OMM_VERS).\n"
        "Keywords: NORAD_CAT_ID (up to 9 digits), EPOCH (ISO 8601 UTC, calendar or ordinal\n"
        "date, fraction digits to the nanosecond, exact), MEAN_MOTION (rev/day),\n"
        "ECCENTRICITY, INCLINATION, RA_OF_ASC_NODE, ARG_OF_PERICENTER, MEAN_ANOMALY (deg),\n"
        "BSTAR, MEAN_MOTION_DOT, MEAN_MOTION_DDOT, ELEMENT_SET_NO and REV_AT_EPOCH are needed;\n"
        "OBJECT_NAME (else None), OBJECT_ID ('1998-067A' is held as '98067A'; else blank),\n"
        "CLASSIFICATION_TYPE (else 'U') and EPHEMERIS_TYPE (else 0) may be left out; the\n"
        "header and metadata keywords and any others are passed over. Each decimal is the\n"
        "double it rounds to, converted as two-line text is (degrees times units.deg, rev/day\n"
        "times units.rev over units.day), so a row equals the one Catalog._from_fields makes\n"
        "of the same published numbers. line1 and line2 are the two-line form of the values\n"
        "('' where there is none), or the record's TLE_LINE1 and TLE_LINE2 (in XML and KVN\n"
        "user-defined parameters) when they are a set of the same values; source_line is\n"
        "the line where the record starts (its CSV row, the JSON object's '{', the '<omm>'\n"
        "tag, the first KVN line). write() in the four forms gives each value as the\n"
        "shortest decimal that reads back to the stored double, the header as TEME, UTC,\n"
        "SGP4 and EARTH, and the lines beside the values where those alone would not give\n"
        "them back: reading the text gives the catalogue again bit for bit (source_line:\n"
        "where the rows are in the new text).\n\n"
        "Beyond one machine: a Catalog pickles as its columns, so it travels between\n"
        "processes cheaply. orbivex.propagators.analytical.sgp4.catalog_dask reads a folder\n"
        "of history files as a Dask computation, one read(path) task per file giving a\n"
        "Catalog per partition, and writes Parquet partitioned by satellite\n"
        "('satno_block=K/' folders, each file readable by read()). to_arrow() and\n"
        "from_arrow() are exact inverses (epoch as timestamp[ns, UTC]), to_pandas() gives a\n"
        "DataFrame, and write(path, 'parquet') reads back bit for bit; rejected sets are not\n"
        "written. pandas and pyarrow: pip install orbivex[arrow]; Dask: orbivex[dask].\n\n"
        "Formats read in Python plug in through _catalog_py.READERS: a reader gets the data\n"
        "(bytes-like or str) and the keywords source, errors, checksums and threads, and\n"
        "returns a Catalog, or (fields, rejected): fields a dict of columns in the published\n"
        "units (see Catalog._from_fields), rejected a list of TLEFormatError.";
    using State = catalog_state;
    static constexpr PyMethodDef* methods = module_methods;

    static int exec(PyObject* module, catalog_state& st) noexcept;
};

}  // namespace

int catalog_module::exec(PyObject* module, catalog_state& st) noexcept {
    if (py::import_numpy() < 0) return -1;
    using py::Kind;
    Ref time, tle, elset, earth, helper_error;
    const std::array names{
        py::Sibling{"orbivex.time.time", "Time", Kind::class_, &time},
        py::Sibling{"orbivex.propagators.analytical.sgp4.tle", "TLE", Kind::class_, &tle},
        py::Sibling{"orbivex.propagators.analytical.sgp4.tle", "ELSET", Kind::class_, &elset},
        py::Sibling{"orbivex.bodies.bodies", "Earth", Kind::class_, &earth},
        py::Sibling{"orbivex.propagators.analytical.sgp4._catalog_py", "TLEFormatError",
                    Kind::class_, &helper_error},
    };
    if (py::bind_siblings(names, py::MissingName::ImportError) < 0) return -1;
    const std::array natives{
        py::native_variable("orbivex.units.units", "deg", "double", unit_deg),
        py::native_variable("orbivex.units.units", "rev", "double", unit_rev),
        py::native_variable("orbivex.units.units", "day", "double", unit_day),
    };
    if (py::bind_native(natives) < 0) return -1;
    st.Time = time.release();
    st.TLE = tle.release();
    st.ELSET = elset.release();
    st.Earth = earth.release();
    st.helper = PyImport_ImportModule("orbivex.propagators.analytical.sgp4._catalog_py");
    if (!st.helper) return -1;
    PyObject* type = PyType_FromModuleAndSpec(module, &Catalog_spec, nullptr);
    if (!type) return -1;
    st.Catalog_type = reinterpret_cast<PyTypeObject*>(type);
    if (PyModule_AddType(module, st.Catalog_type) < 0) return -1;
    return PyModule_AddObjectRef(module, "TLEFormatError", helper_error.get());
}

}  // namespace orbivex::catalog

PyMODINIT_FUNC PyInit_catalog() {
    return orbivex::py::Module<orbivex::catalog::catalog_module>::init();
}
