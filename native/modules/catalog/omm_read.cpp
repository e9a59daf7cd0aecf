// catalog.read of orbit mean-element messages: the text cut into pieces of records, read and
// converted on several threads without the lock, the rows put in catalogue order and gathered
// into columns on several threads, names made once per run of a satellite's rows.
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "kernels/omm_json.hpp"
#include "kernels/omm_syntax.hpp"
#include "kernels/omm_xml_kvn.hpp"
#include "kernels/tle_write.hpp"
#include "omm.hpp"
#include "order.hpp"
#include "runs.hpp"
#include "threads.hpp"

namespace orbivex::catalog {

namespace {

namespace omm = kern::omm;

/// A record read: its values, where it starts and its name's text (no_name: none).
struct Row {
    tle::Fields f;
    omm::Counters counters;
    std::int64_t line;
    const char* name;
    std::uint32_t name_size;
    bool name_as_before;   ///< the name of the row read just before, in the same piece
    const char* lines[2];  ///< the record's two-line text, when it reads to its values
};

/// Whether two rows carry the same name (or both none).
bool same_name(const Row& a, const Row& b) noexcept {
    return a.name_size == b.name_size &&
           (a.name_size == no_name || std::memcmp(a.name, b.name, a.name_size) == 0);
}

/// Whether two sets hold the same values, to the bit.
bool same_values(const tle::Fields& a, const tle::Fields& b) {
    const double x[] = {a.ndot, a.nddot, a.bstar, a.inc, a.raa, a.ecc, a.arp, a.mea, a.mnm};
    const double y[] = {b.ndot, b.nddot, b.bstar, b.inc, b.raa, b.ecc, b.arp, b.mea, b.mnm};
    return a.satno == b.satno && a.epoch_ns == b.epoch_ns && a.classification == b.classification &&
           std::memcmp(a.intldes, b.intldes, 8) == 0 && a.ephemeris_type == b.ephemeris_type &&
           a.element_number == b.element_number && a.revolution == b.revolution &&
           std::memcmp(x, y, sizeof x) == 0;
}

/// The sink of the readers: each record's values, checked and converted when it ends.
class Collect {
public:
    Collect(const tle::Units& units, bool skip, const std::atomic<bool>& cancel)
        : units_(units), skip_(skip), cancel_(cancel) {}

    void begin(std::int64_t line, int column) {
        // A value is read only where its text is set: clearing the pointers clears the record.
        for (omm::Value& v : record_.value) v.text = nullptr;
        record_.line = line;
        record_.column = column;
        faulty_ = false;
    }
    void value(omm::Key k, const char* p, std::size_t n, std::int64_t line, int column, bool null) {
        omm::Value& v = record_.value[k];
        if (v.text) [[unlikely]]
            twice(k, line, column);
        v = {p ? p : "", n, line, column, null};
    }
    void fault(std::int64_t line, int column, std::string reason, const char* code = "omm_syntax") {
        if (faulty_) return;
        faulty_ = true;
        why_ = {line, column, std::move(reason), code};
    }
    void end() {
        Row row;
        if (!faulty_ && omm::convert(record_, row.f, row.counters, why_, units_)) {
            const omm::Value& name = record_.value[omm::object_name];
            row.line = record_.line;
            row.name = name.text;
            row.name_size =
                !name.text || name.null ? no_name : static_cast<std::uint32_t>(name.size);
            // Two-line text given beside the values is kept when it is a set of the same
            // values (as written, checksums aside); else the lines are made from the values.
            row.lines[0] = row.lines[1] = nullptr;
            const omm::Value& a = record_.value[omm::tle_line1];
            const omm::Value& b = record_.value[omm::tle_line2];
            if (a.text && b.text && !a.null && !b.null) {
                const std::string_view l1 = omm::detail::trimmed(a), l2 = omm::detail::trimmed(b);
                tle::Fields g;
                if (l1.size() == tle::line_length && l2.size() == tle::line_length &&
                    tle::parse(l1.data(), l1.size(), l2.data(), l2.size(), g, false, units_).ok() &&
                    same_values(g, row.f)) {
                    row.lines[0] = l1.data();
                    row.lines[1] = l2.data();
                }
            }
            // Compared now, while the text of both names is at hand.
            row.name_as_before = !rows.empty() && same_name(rows.back(), row);
            rows.push_back(row);
            return;
        }
        refused.push_back(std::move(why_));
        if (!skip_) stopped_ = true;
    }
    bool stopped() const noexcept { return stopped_ || cancel_.load(std::memory_order_relaxed); }

    std::vector<Row> rows;
    std::vector<omm::Refusal> refused;

private:
    // Out of line: the readers' loops keep only the common path of value().
    [[gnu::noinline, gnu::cold]] void twice(omm::Key k, std::int64_t line, int column) {
        fault(line, column, std::string(omm::key_names[k]) + " is given twice", "omm_duplicate");
    }

    omm::Record record_;
    omm::Refusal why_;
    tle::Units units_;
    bool skip_, faulty_ = false, stopped_ = false;
    const std::atomic<bool>& cancel_;
};

struct Key {
    std::int64_t satno, epoch_ns;
    const Row* row;
};

/// One piece of the text and what was read of it.
struct PieceRead {
    omm::Piece piece;
    Collect sink;
    omm::Arena arena;
    bool between = true;  ///< JSON: the piece ended between elements; XML: cleanly
    PieceRead(const omm::Piece& p, const tle::Units& u, bool skip, const std::atomic<bool>& cancel)
        : piece(p), sink(u, skip, cancel) {}
};

/// The pieces of the text read on several threads, one piece a step.
class PieceWork {
public:
    PieceWork(OmmForm form, const char* data, const std::vector<omm::Key>& keys,
              std::vector<std::unique_ptr<PieceRead>>& pieces, std::atomic<bool>& cancel)
        : form_(form), data_(data), keys_(keys), pieces_(pieces), cancel_(cancel) {}
    bool step() noexcept {
        if (cancel_.load(std::memory_order_relaxed)) return false;
        const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
        if (k >= pieces_.size()) return false;
        PieceRead& r = *pieces_[k];
        try {
            // Records take 150 bytes or more: no row vector grows by copying.
            r.sink.rows.reserve((r.piece.end - r.piece.begin) / 128 + 16);
            if (form_ == OmmForm::csv) {
                omm::csv_rows(data_, r.piece, keys_, r.sink, r.arena);
            } else if (form_ == OmmForm::kvn) {
                omm::kvn_records(data_, r.piece, r.sink);
            } else if (form_ == OmmForm::xml) {
                r.between = omm::xml_records(data_, r.piece, r.sink, r.arena);
            } else {
                r.between = omm::json_elements(data_, r.piece, r.sink, r.arena);
            }
        } catch (const std::bad_alloc&) {
            oom.store(true, std::memory_order_relaxed);
            cancel();
        }
        return true;
    }
    void cancel() noexcept { cancel_.store(true, std::memory_order_relaxed); }
    std::atomic<bool> oom{false};

private:
    OmmForm form_;
    const char* data_;
    const std::vector<omm::Key>& keys_;
    std::vector<std::unique_ptr<PieceRead>>& pieces_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool>& cancel_;
};

/// Bytes of a piece: enough per thread for a few pieces each, and a signal check between.
std::size_t piece_target(std::size_t size, int threads) {
    const std::size_t t = size / (4 * static_cast<std::size_t>(threads > 0 ? threads : 1));
    return t<(1u << 20) ? (1u << 20) : t>(16u << 20) ? (16u << 20) : t;
}

/// Fills the name column: one str for a run of rows of a name (`same[i]`: row i has the name
/// of row i - 1). -1 with an error set, the column left empty.
int fill_names(PyObject* column, const std::vector<Key>& order,
               const std::vector<unsigned char>& same, const int threads) noexcept {
    std::vector<std::size_t> starts;
    try {
        starts = run_starts(same, order.size());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    return fill_runs(
        data_of<PyObject*>(column), order.size(), starts, threads, [&](std::size_t, std::size_t i) {
            const Row& r = *order[i].row;
            return r.name_size == no_name ? Py_NewRef(Py_None)
                                          : PyUnicode_DecodeUTF8(r.name, r.name_size, "replace");
        });
}

PyObject* refusal_error(catalog_state* st, PyObject* source, const omm::Refusal& r) {
    // The reason quotes the record's text, which need not be UTF-8.
    const std::string& text = r.reason.empty() ? std::string("record cannot be read") : r.reason;
    Ref reason = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                                 "backslashreplace"));
    if (!reason) return nullptr;
    Ref type = Ref::steal(PyObject_GetAttr(st->helper, st->s_TLEFormatError));
    if (!type) return nullptr;
    return PyObject_CallFunction(type.get(), "OLiOs", source, static_cast<long long>(r.line),
                                 r.column, reason.get(), r.code);
}

}  // namespace

int omm_form(PyObject* format) noexcept {
    constexpr const char* names[] = {"omm-csv", "omm-json", "omm-xml", "omm-kvn"};
    for (int k = 0; k < 4; ++k)
        if (PyUnicode_Check(format) && PyUnicode_CompareWithASCIIString(format, names[k]) == 0)
            return k;
    return -1;
}

PyObject* read_omm(catalog_state* st, const OmmForm form, const char* data, const std::size_t size,
                   PyObject* source, const bool skip, const int threads) noexcept {
    double gm = 0.0, re = 0.0;
    if (earth_constants(st, gm, re) < 0) return nullptr;
    const tle::Units units = units_now();
    std::atomic<bool> cancel{false};
    // The head: the CSV header or the start of the JSON text, and all of XML and KVN.
    Collect head(units, skip, cancel);
    omm::Arena head_arena;
    std::vector<omm::Key> keys;
    std::vector<std::unique_ptr<PieceRead>> pieces;
    omm::Piece rest;
    try {
        bool more = false;
        if (form == OmmForm::csv) {
            more = omm::csv_header(data, size, head, head_arena, keys, rest);
        } else if (form == OmmForm::json) {
            more = omm::json_array(data, size, head, head_arena, rest);
        } else {
            more = true;
            rest = {0, size, 1, 0};
        }
        if (more) {
            const std::size_t target = piece_target(size, threads);
            const std::vector<omm::Piece> cuts =
                form == OmmForm::csv    ? omm::csv_pieces(data, rest, target)
                : form == OmmForm::json ? omm::json_pieces(data, rest, target)
                : form == OmmForm::xml  ? omm::xml_pieces(data, size, target)
                                        : omm::kvn_pieces(data, size, target);
            for (const omm::Piece& p : cuts)
                pieces.push_back(std::make_unique<PieceRead>(p, units, skip, cancel));
        }
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    for (int attempt = 0; attempt < 2 && !pieces.empty(); ++attempt) {
        PieceWork work(form, data, keys, pieces, cancel);
        const int up_to = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(threads), pieces.size()));
        if (run_threads(work, up_to) < 0) return nullptr;
        if (work.oom.load()) return PyErr_NoMemory();
        bool cut_right = true;
        for (std::size_t k = 0; k + 1 < pieces.size(); ++k)
            cut_right = cut_right && pieces[k]->between;
        if (cut_right) break;
        // A JSON cut fell inside a string or a nested array, an XML one inside a comment or
        // the like: the text is read whole.
        try {
            pieces.clear();
            pieces.push_back(std::make_unique<PieceRead>(rest, units, skip, cancel));
        } catch (const std::bad_alloc&) {
            return PyErr_NoMemory();
        }
    }
    std::vector<Collect*> sinks{&head};
    for (auto& p : pieces) sinks.push_back(&p->sink);
    if (!skip) {
        for (Collect* c : sinks) {
            if (c->refused.empty()) continue;
            Ref e = Ref::steal(refusal_error(st, source, c->refused.front()));
            if (e) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.get())), e.get());
            return nullptr;
        }
    }

    std::size_t n = 0, refused = 0;
    for (Collect* c : sinks) {
        n += c->rows.size();
        refused += c->refused.size();
    }
    std::vector<Key> order;
    try {
        sort_into(
            order, n,
            [&](auto&& f) {
                for (Collect* c : sinks)
                    for (const Row& r : c->rows) f(Key{r.f.satno, r.f.epoch_ns, &r});
            },
            [](const Key& k) { return k.satno; }, [](const Key& k) { return k.epoch_ns; });
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }

    const auto count = static_cast<Py_ssize_t>(n);
    // Whether row i has the name of row i - 1: found while gathering, without the lock.
    std::vector<unsigned char> same;
    try {
        same.resize(n);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    Ref cols[column_count];
    for (int k = 0; k < column_count; ++k) {
        cols[k] = new_column(static_cast<Column>(k), count);
        if (!cols[k]) return nullptr;
    }
    const auto i64 = [&](Column k) { return data_of<std::int64_t>(cols[k].get()); };
    const auto f64 = [&](Column k) { return data_of<double>(cols[k].get()); };
    const auto txt = [&](Column k) { return data_of<char>(cols[k].get()); };
    const auto gather = [&](std::size_t a, std::size_t b) noexcept {
        for (std::size_t i = a; i < b; ++i) {
            const Row& r = *order[i].row;
            const tle::Fields& f = r.f;
            // Rows in the order they were read were compared then.
            same[i] = i > 0 && (order[i - 1].row + 1 == &r ? r.name_as_before
                                                           : same_name(*order[i - 1].row, r));
            i64(c_satno)[i] = f.satno;
            i64(c_epoch_ns)[i] = f.epoch_ns;
            i64(c_ephemeris_type)[i] = r.counters.ephemeris_type;
            i64(c_element_number)[i] = r.counters.element_number;
            i64(c_revolution)[i] = r.counters.revolution;
            i64(c_source_line)[i] = r.line;
            f64(c_ndot)[i] = f.ndot;
            f64(c_nddot)[i] = f.nddot;
            f64(c_bstar)[i] = f.bstar;
            f64(c_inc)[i] = f.inc;
            f64(c_raa)[i] = f.raa;
            f64(c_ecc)[i] = f.ecc;
            f64(c_arp)[i] = f.arp;
            f64(c_mea)[i] = f.mea;
            f64(c_mnm)[i] = f.mnm;
            double d[6];
            derive(f.mnm, f.ecc, f.mea, gm, re, d);
            const Column derived[6] = {c_sma, c_orp, c_eca, c_tra, c_pge, c_apg};
            for (int k = 0; k < 6; ++k) f64(derived[k])[i] = d[k];
            txt(c_classification)[i] = f.classification;
            std::memcpy(txt(c_intldes) + 8 * i, f.intldes, 8);
            if (r.lines[0]) {
                std::memcpy(txt(c_line1) + 69 * i, r.lines[0], 69);
                std::memcpy(txt(c_line2) + 69 * i, r.lines[1], 69);
                continue;
            }
            char a[kern::tle_line_size], b2[kern::tle_line_size];
            const bool written = tle::format(f, a, b2, units) == tle::Reason::none;
            // A set whose values have no two-line form has no lines.
            if (written) {
                std::memcpy(txt(c_line1) + 69 * i, a, 69);
                std::memcpy(txt(c_line2) + 69 * i, b2, 69);
            } else {
                std::memset(txt(c_line1) + 69 * i, 0, 69);
                std::memset(txt(c_line2) + 69 * i, 0, 69);
            }
        }
    };
    const std::size_t rows_a_step = gather_block(n);
    Blocks work(n, rows_a_step, gather);
    const std::size_t blocks = (n + rows_a_step - 1) / rows_a_step;
    const int up_to = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(threads), blocks > 0 ? blocks : 1));
    if (run_threads(work, up_to) < 0) return nullptr;

    if (fill_names(cols[c_name].get(), order, same, threads) < 0) return nullptr;

    Ref rejected = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(refused)));
    if (!rejected) return nullptr;
    Py_ssize_t k = 0;
    for (Collect* c : sinks) {
        for (const omm::Refusal& r : c->refused) {
            PyObject* e = refusal_error(st, source, r);
            if (!e) return nullptr;
            PyTuple_SET_ITEM(rejected.get(), k++, e);
        }
    }
    return new_catalog(st, count, cols, rejected.get());
}

}  // namespace orbivex::catalog
