// A catalogue as orbit mean-element messages (CSV, JSON, XML, KVN): every value in its published
// unit as the shortest decimal that reads back to the stored double, so that reading the text
// gives the catalogue again, bit for bit.
#include <Python.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "kernels/omm_values.hpp"
#include "kernels/tle_write.hpp"
#include "omm.hpp"

namespace orbivex::catalog {

namespace {

namespace omm = kern::omm;

/// The values of one row as text, by keyword; the lines only where the values alone would
/// not give them back.
struct RowText {
    std::string value[omm::value_count];
    bool has_name = false;
    bool has_lines = false;
};

/// Whether row i holds two-line text other than the form its values write (text read as
/// published with '+' exponents, say): then the lines go beside the values.
bool keeps_lines(const CatalogObject* c, Py_ssize_t i, const tle::Units& u) {
    const char* l1 = text(c, c_line1) + 69 * i;
    const char* l2 = text(c, c_line2) + 69 * i;
    if (strnlen(l1, 69) != 69 || strnlen(l2, 69) != 69) return false;
    const tle::Fields f = row_fields(c, i);
    char a[kern::tle_line_size], b[kern::tle_line_size];
    return tle::format(f, a, b, u) != tle::Reason::none || std::memcmp(a, l1, 69) != 0 ||
           std::memcmp(b, l2, 69) != 0;
}

void put_int(std::string& out, std::int64_t v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.assign(buf, r.ptr);
}

/// The texts of row i; -1 with ValueError for a value that has no decimal (not finite).
int row_text(const CatalogObject* c, Py_ssize_t i, const tle::Units& u, RowText& t) {
    using namespace omm;
    char buf[decimal_size + 8];
    const auto decimal = [&](Key k, std::size_t len) {
        if (len == 0) {
            PyErr_Format(PyExc_ValueError, "row %zd: %s is not finite", i, key_names[k]);
            return -1;
        }
        t.value[k].assign(buf, len);
        return 0;
    };
    PyObject* name = data_of<PyObject*>(c->column[c_name])[i];
    t.has_name = name && name != Py_None;
    if (t.has_name) {
        if (!PyUnicode_Check(name)) {
            PyErr_Format(PyExc_TypeError, "name of row %zd is '%.200s', not str", i,
                         Py_TYPE(name)->tp_name);
            return -1;
        }
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(name, &n);
        if (!p) return -1;
        t.value[object_name].assign(p, static_cast<std::size_t>(n));
    } else {
        t.value[object_name].clear();
    }
    char id[16];
    t.value[object_id].assign(id, id_from_designator(text(c, c_intldes) + 8 * i, id));
    t.value[epoch].assign(buf, write_epoch(i64(c, c_epoch_ns)[i], buf));
    const double deg = u.deg, rev = u.rev, day = u.day;
    const double mnm = f64(c, c_mnm)[i];
    if (decimal(mean_motion,
                shortest_inverse(
                    mnm, (mnm * day) / rev, [=](double x) { return (x * rev) / day; }, buf)) < 0)
        return -1;
    if (decimal(eccentricity, shortest(f64(c, c_ecc)[i], buf)) < 0) return -1;
    const std::pair<Key, Column> angles[] = {{inclination, c_inc},
                                             {ra_of_asc_node, c_raa},
                                             {arg_of_pericenter, c_arp},
                                             {mean_anomaly, c_mea}};
    for (auto [k, col] : angles) {
        const double a = f64(c, col)[i];
        if (decimal(k, shortest_inverse(a, a / deg, [=](double x) { return x * deg; }, buf)) < 0)
            return -1;
    }
    put_int(t.value[ephemeris_type], i64(c, c_ephemeris_type)[i]);
    const char cls = text(c, c_classification)[i];
    t.value[classification_type].assign(&cls, cls ? 1 : 0);
    put_int(t.value[norad_cat_id], i64(c, c_satno)[i]);
    put_int(t.value[element_set_no], i64(c, c_element_number)[i]);
    put_int(t.value[rev_at_epoch], i64(c, c_revolution)[i]);
    t.has_lines = keeps_lines(c, i, u);
    t.value[tle_line1].clear();
    t.value[tle_line2].clear();
    if (t.has_lines) {
        t.value[tle_line1].assign(text(c, c_line1) + 69 * i, 69);
        t.value[tle_line2].assign(text(c, c_line2) + 69 * i, 69);
    }
    if (decimal(bstar, shortest(f64(c, c_bstar)[i], buf)) < 0 ||
        decimal(mean_motion_dot, shortest(f64(c, c_ndot)[i], buf)) < 0 ||
        decimal(mean_motion_ddot, shortest(f64(c, c_nddot)[i], buf)) < 0)
        return -1;
    return 0;
}

/// Keywords written as text (quoted in JSON), not as numbers.
bool is_text_key(omm::Key k) {
    return k == omm::object_name || k == omm::object_id || k == omm::epoch ||
           k == omm::classification_type || k >= omm::key_count;
}

void csv_field(std::string& out, const std::string& v, bool quote_empty) {
    bool quote = v.empty() ? quote_empty : v.front() == ' ' || v.back() == ' ';
    for (char ch : v) quote = quote || ch == ',' || ch == '"' || ch == '\n' || ch == '\r';
    if (!quote) {
        out += v;
        return;
    }
    out += '"';
    for (char ch : v) {
        if (ch == '"') out += '"';
        out += ch;
    }
    out += '"';
}

void json_string(std::string& out, const std::string& v) {
    out += '"';
    for (char ch : v) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            static constexpr char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += ch;
        }
    }
    out += '"';
}

void xml_text(std::string& out, const std::string& v) {
    for (char ch : v) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '&') {
            out += "&amp;";
        } else if (ch == '<') {
            out += "&lt;";
        } else if (ch == '>') {
            out += "&gt;";
        } else if (u < 0x20) {
            out += "&#" + std::to_string(u) + ";";
        } else {
            out += ch;
        }
    }
}

/// Creation date of the header: now, to the second.
std::string now_text() {
    char buf[kern::iso_buffer_size];
    const auto seconds = static_cast<std::int64_t>(std::time(nullptr));
    return std::string(buf, kern::format_iso(seconds * kern::ns_per_second, 0, buf));
}

constexpr const char* standard_metadata[][2] = {
    {"CENTER_NAME", "EARTH"},
    {"REF_FRAME", "TEME"},
    {"TIME_SYSTEM", "UTC"},
    {"MEAN_ELEMENT_THEORY", "SGP4"},
};

int write_rows(const CatalogObject* c, OmmForm form, std::string& out) {
    using namespace omm;
    const tle::Units u = units_now();
    const std::string created = now_text();
    RowText t;
    // CSV has one header for all rows: the line columns when any row keeps its lines.
    bool any_lines = false;
    if (form == OmmForm::csv)
        for (Py_ssize_t i = 0; i < c->n && !any_lines; ++i) any_lines = keeps_lines(c, i, u);
    const int columns = any_lines ? value_count : key_count;
    if (form == OmmForm::csv) {
        for (int k = 0; k < columns; ++k) {
            if (k) out += ',';
            out += key_names[k];
        }
        out += '\n';
    } else if (form == OmmForm::json) {
        out += "[";
    } else if (form == OmmForm::xml) {
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<ndm xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
               "xsi:noNamespaceSchemaLocation=\"https://sanaregistry.org/r/ndmxml_unqualified/"
               "ndmxml-3.0.0-master-3.0.xsd\">\n";
    }
    for (Py_ssize_t i = 0; i < c->n; ++i) {
        if (row_text(c, i, u, t) < 0) return -1;
        switch (form) {
        case OmmForm::csv:
            for (int k = 0; k < columns; ++k) {
                if (k) out += ',';
                // An empty quoted name is "", no name an empty field.
                if (k == object_name && !t.has_name) continue;
                csv_field(out, t.value[k], k == object_name);
            }
            out += '\n';
            break;
        case OmmForm::json:
            out += i ? ",\n{" : "\n{";
            for (int k = 0, first = 1; k < (t.has_lines ? value_count : key_count); ++k) {
                if (k == object_name && !t.has_name) continue;
                if (!first) out += ',';
                first = 0;
                out += '"';
                out += key_names[k];
                out += "\":";
                if (is_text_key(static_cast<Key>(k))) {
                    json_string(out, t.value[k]);
                } else {
                    out += t.value[k];
                }
            }
            out += '}';
            break;
        case OmmForm::xml: {
            const auto element = [&](const char* key, const std::string& v) {
                out += '<';
                out += key;
                out += '>';
                xml_text(out, v);
                out += "</";
                out += key;
                out += '>';
            };
            out += "<omm id=\"CCSDS_OMM_VERS\" version=\"3.0\"><header>";
            element("CREATION_DATE", created);
            element("ORIGINATOR", "orbivex");
            out += "</header><body><segment><metadata>";
            if (t.has_name) element("OBJECT_NAME", t.value[object_name]);
            element("OBJECT_ID", t.value[object_id]);
            for (const auto& m : standard_metadata) element(m[0], m[1]);
            out += "</metadata><data><meanElements>";
            for (int k = epoch; k <= mean_anomaly; ++k) element(key_names[k], t.value[k]);
            out += "</meanElements><tleParameters>";
            for (int k = ephemeris_type; k < key_count; ++k) element(key_names[k], t.value[k]);
            out += "</tleParameters>";
            if (t.has_lines) {
                out += "<userDefinedParameters>";
                for (int k = tle_line1; k <= tle_line2; ++k) {
                    out += "<USER_DEFINED parameter=\"";
                    out += key_names[k];
                    out += "\">";
                    xml_text(out, t.value[k]);
                    out += "</USER_DEFINED>";
                }
                out += "</userDefinedParameters>";
            }
            out += "</data></segment></body></omm>\n";
            break;
        }
        case OmmForm::kvn: {
            const std::string& name = t.value[object_name];
            if (t.has_name && (name.find_first_of("\r\n") != std::string::npos ||
                               (!name.empty() && (std::strchr(" \t\f\v", name.front()) ||
                                                  std::strchr(" \t\f\v", name.back()))))) {
                PyErr_Format(PyExc_ValueError,
                             "name of row %zd cannot be a KVN value (a line end, or white space "
                             "at either end): %R",
                             i, data_of<PyObject*>(c->column[c_name])[i]);
                return -1;
            }
            const auto line = [&](const char* key, const std::string& v) {
                out += key;
                out += " = ";
                out += v;
                out += '\n';
            };
            if (i) out += '\n';
            line("CCSDS_OMM_VERS", "3.0");
            line("CREATION_DATE", created);
            line("ORIGINATOR", "orbivex");
            if (t.has_name) line("OBJECT_NAME", name);
            line("OBJECT_ID", t.value[object_id]);
            for (const auto& m : standard_metadata) line(m[0], m[1]);
            for (int k = epoch; k < key_count; ++k) line(key_names[k], t.value[k]);
            if (t.has_lines) {
                line("USER_DEFINED_TLE_LINE1", t.value[tle_line1]);
                line("USER_DEFINED_TLE_LINE2", t.value[tle_line2]);
            }
            break;
        }
        }
    }
    if (form == OmmForm::json) out += c->n ? "\n]\n" : "]\n";
    if (form == OmmForm::xml) out += "</ndm>\n";
    return 0;
}

}  // namespace

PyObject* write_omm(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "_write_omm() takes 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    auto* st = static_cast<catalog_state*>(PyModule_GetState(module));
    if (Py_TYPE(args[0]) != st->Catalog_type) {
        PyErr_Format(PyExc_TypeError, "_write_omm() needs a Catalog, not '%.200s'",
                     Py_TYPE(args[0])->tp_name);
        return nullptr;
    }
    const int form = omm_form(args[1]);
    if (form < 0) {
        PyErr_Format(PyExc_ValueError, "_write_omm(): %R is not an OMM format", args[1]);
        return nullptr;
    }
    std::string out;
    try {
        if (write_rows(reinterpret_cast<CatalogObject*>(args[0]), static_cast<OmmForm>(form), out) <
            0)
            return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    return PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
}

}  // namespace orbivex::catalog
