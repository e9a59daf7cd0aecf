// catalog.read of two-line element text: the parallel read, the rows gathered into columns in
// catalogue order, names shared between the sets that carry them, and the refused sets.
#include <Python.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "catalog.hpp"
#include "order.hpp"
#include "runs.hpp"
#include "text_reader.hpp"
#include "threads.hpp"

namespace orbivex::catalog {

namespace {

/// Text of a line that belongs to no set.
constexpr const char* stray_text = "line is not part of an element set";

/// Fills the object column from the sets in catalogue order: one str for a run of sets of a
/// name (`same[i]`, found while the text was at hand), and one for all the runs of a name,
/// which the threads find.
int fill_names(PyObject* column, const SetRef* order, const std::size_t n,
               const std::vector<unsigned char>& same, const int threads) {
    std::vector<std::size_t> starts;
    std::unique_ptr<RunNames> names;
    std::unique_ptr<FirstRuns> firsts;
    std::vector<PyObject*> made;  // borrowed from fill_runs, which owns them
    try {
        starts = run_starts(same, n);
        names = std::make_unique<RunNames>(starts.size());
        for (std::size_t j = 0; j < starts.size(); ++j) {
            const SetRef& r = order[starts[j]];
            names->text[j] = r.name;
            names->size[j] = r.name_size == no_name ? RunNames::none : r.name_size;
            names->hash[j] = r.name_hash;
        }
        firsts = std::make_unique<FirstRuns>(*names, threads);
        made.resize(starts.size());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
    Blocks parts(firsts->parts(), 1, [&](std::size_t p, std::size_t) { firsts->run_part(p); });
    if (run_threads(parts, threads) < 0) return -1;
    if (firsts->failed()) {
        PyErr_NoMemory();
        return -1;
    }
    const std::vector<std::size_t>& first = firsts->first();
    return fill_runs(
        data_of<PyObject*>(column), n, starts, threads, [&](std::size_t j, std::size_t) {
            if (names->size[j] == RunNames::none) return Py_NewRef(Py_None);
            if (first[j] != j) return Py_NewRef(made[first[j]]);
            return made[j] = PyUnicode_DecodeUTF8(names->text[j], names->size[j], "replace");
        });
}

/// The columns' data, written by the gathering threads.
struct Targets {
    std::int64_t *satno, *epoch_ns, *ephemeris_type, *element_number, *revolution, *source_line;
    double *ndot, *nddot, *bstar, *inc, *raa, *ecc, *arp, *mea, *mnm;
    double* derived[6];  ///< sma, orp, eca, tra, pge, apg
    char *classification, *intldes, *line1, *line2;
};

Targets targets_of(Ref (&cols)[column_count]) {
    const auto i = [&](Column k) { return data_of<std::int64_t>(cols[k].get()); };
    const auto f = [&](Column k) { return data_of<double>(cols[k].get()); };
    const auto t = [&](Column k) { return data_of<char>(cols[k].get()); };
    return {i(c_satno),
            i(c_epoch_ns),
            i(c_ephemeris_type),
            i(c_element_number),
            i(c_revolution),
            i(c_source_line),
            f(c_ndot),
            f(c_nddot),
            f(c_bstar),
            f(c_inc),
            f(c_raa),
            f(c_ecc),
            f(c_arp),
            f(c_mea),
            f(c_mnm),
            {f(c_sma), f(c_orp), f(c_eca), f(c_tra), f(c_pge), f(c_apg)},
            t(c_classification),
            t(c_intldes),
            t(c_line1),
            t(c_line2)};
}

/// Earth's constants the derived elements take.
struct Earth {
    double gm, re;
};

/// Sets [a, b) of catalogue order read into the columns, with their derived elements.
void gather(const TextRead& reader, const SetRef* order, const Targets& t,
            std::vector<unsigned char>& same, const Earth& earth, const std::size_t a,
            const std::size_t b) noexcept {
    // Sets come in satellite order from text in epoch order: their text is fetched ahead.
    constexpr std::size_t text_ahead = 8;
    tle::Fields f;
    for (std::size_t i = a; i < b; ++i) {
        if (i + text_ahead < b) {
            // The name line, when there is one, ends just before line 1.
            const char* line1 = order[i + text_ahead].line1;
            for (std::ptrdiff_t at = -64; at < 140; at += 64) __builtin_prefetch(line1 + at);
            __builtin_prefetch(line1 + 139);
        }
        const SetRef& r = order[i];
        reader.values(r, f);
        t.satno[i] = f.satno;
        t.epoch_ns[i] = f.epoch_ns;
        t.ephemeris_type[i] = f.ephemeris_type;
        t.element_number[i] = f.element_number;
        t.revolution[i] = f.revolution;
        t.source_line[i] = reader.absolute(r.chunk, r.source_line);
        t.ndot[i] = f.ndot;
        t.nddot[i] = f.nddot;
        t.bstar[i] = f.bstar;
        t.inc[i] = f.inc;
        t.raa[i] = f.raa;
        t.ecc[i] = f.ecc;
        t.arp[i] = f.arp;
        t.mea[i] = f.mea;
        t.mnm[i] = f.mnm;
        double d[6];
        derive(f.mnm, f.ecc, f.mea, earth.gm, earth.re, d);
        for (int k = 0; k < 6; ++k) t.derived[k][i] = d[k];
        t.classification[i] = f.classification;
        std::memcpy(t.intldes + 8 * i, f.intldes, 8);
        std::memcpy(t.line1 + 69 * i, r.line1, 69);
        std::memcpy(t.line2 + 69 * i, r.line1 + r.line2_offset, 69);
        const SetRef* before = i > 0 ? &order[i - 1] : nullptr;
        same[i] = before && before->name_size == r.name_size && before->name_hash == r.name_hash &&
                  (r.name_size == no_name || std::memcmp(before->name, r.name, r.name_size) == 0);
    }
}

/// Runs `f` with the interpreter lock released; an exception leaves with the lock held again.
template <class F>
void without_lock(F&& f) {
    PyThreadState* saved = PyEval_SaveThread();
    try {
        f();
    } catch (...) {
        PyEval_RestoreThread(saved);
        throw;
    }
    PyEval_RestoreThread(saved);
}

/// The valid sets of all chunks put in catalogue order, the passes over them shared out over
/// threads: the chunks are taken in a few parts of consecutive chunks, each part counted and
/// then scattered by its own thread, so that the counting sort stays stable. Text already in
/// order is copied; numbers too far apart to count take sort_into on the calling thread.
class SetSort {
public:
    SetSort(std::vector<Chunk>& chunks, const std::size_t n, const std::size_t parts)
        : chunks_(chunks), n_(n) {
        // Parts of about equal numbers of sets, each a run of whole chunks.
        std::size_t k = 0, seen = 0;
        for (std::size_t p = 0; p < parts && k < chunks.size(); ++p) {
            Part part;
            part.first_chunk = k;
            part.begin = seen;
            const std::size_t goal = n * (p + 1) / parts;
            while (k < chunks.size() && (seen < goal || p + 1 == parts))
                seen += chunks[k++].sets.size();
            part.end_chunk = k;
            parts_.push_back(part);
        }
    }

    /// Runs the sort: 0, or -1 with the error a signal handler raised; may throw
    /// std::bad_alloc. `run(work)` runs one pass over the parts on the reading threads.
    template <class Run>
    int sort(Run&& run) {
        if (n_ == 0) return 0;
        memory_ = RowMemory(n_ * sizeof(SetRef));
        out_ = memory_.as<SetRef>();
        phase_ = Phase::keys;
        if (run(*this) < 0) return -1;
        bool sorted = true, first = true;
        for (const Part& a : parts_) {
            if (a.count == 0) continue;
            sorted = sorted && a.sorted;
            lo_ = first ? a.lo : std::min(lo_, a.lo);
            hi_ = first ? a.hi : std::max(hi_, a.hi);
            first = false;
        }
        // Across parts: the last set of one part against the first of the next.
        const SetRef* last = nullptr;
        for (const Part& a : parts_) {
            if (a.count == 0) continue;
            if (last &&
                (a.first_key.satno < last->satno ||
                 (a.first_key.satno == last->satno && a.first_key.epoch_ns < last->epoch_ns)))
                sorted = false;
            last = &a.last_key;
        }
        const std::uint64_t span =
            static_cast<std::uint64_t>(hi_) - static_cast<std::uint64_t>(lo_);
        const std::uint64_t limit = std::max<std::uint64_t>(2 * std::uint64_t{n_}, 1u << 20);
        if (sorted) {
            phase_ = Phase::copy;
            return run(*this);
        }
        if (span >= limit || n_ > UINT32_MAX) {
            // Not for two-line text, whose numbers lie below 340000; kept for more sets than
            // 32-bit counts hold.
            without_lock([&] {
                std::vector<SetRef> v;
                sort_into(
                    v, n_,
                    [&](auto&& f) {
                        for (const Chunk& c : chunks_)
                            for (const SetRef& r : c.sets) f(r);
                    },
                    [](const SetRef& r) { return r.satno; },
                    [](const SetRef& r) { return r.epoch_ns; });
                std::copy(v.begin(), v.end(), out_);
            });
            return 0;
        }
        slots_ = static_cast<std::size_t>(span) + 1;
        for (Part& a : parts_) a.start.assign(slots_, 0);
        phase_ = Phase::count;
        if (run(*this) < 0) return -1;
        // Where each part's sets of each number go: parts in text order within a number.
        without_lock([&] {
            std::uint32_t at = 0;
            for (std::size_t k = 0; k < slots_; ++k) {
                for (Part& a : parts_) {
                    const std::uint32_t c = a.start[k];
                    a.start[k] = at;
                    at += c;
                }
            }
        });
        phase_ = Phase::scatter;
        if (run(*this) < 0) return -1;
        for (Part& a : parts_) a.start = {};
        // Each satellite's run in epoch order (text in epoch order has them so already): a
        // part takes the runs that start in its share of the rows.
        for (std::size_t p = 0; p < parts_.size(); ++p) {
            parts_[p].row_begin = n_ * p / parts_.size();
            parts_[p].row_end = n_ * (p + 1) / parts_.size();
        }
        phase_ = Phase::runs;
        return run(*this);
    }

    /// One part of the current pass.
    bool step() noexcept {
        if (cancel_.load(std::memory_order_relaxed)) return false;
        const std::size_t p = next_.fetch_add(1, std::memory_order_relaxed);
        if (p >= parts_.size()) {
            // Ready for the next pass once every thread has seen the end.
            return false;
        }
        pass(parts_[p]);
        return true;
    }
    void cancel() noexcept { cancel_.store(true, std::memory_order_relaxed); }
    /// Before each pass.
    void rewind() noexcept { next_.store(0, std::memory_order_relaxed); }

    SetRef* rows() const noexcept { return out_; }

private:
    enum class Phase { keys, copy, count, scatter, runs };
    struct Part {
        std::size_t first_chunk = 0, end_chunk = 0, begin = 0, count = 0;
        std::size_t row_begin = 0, row_end = 0;  ///< rows whose runs the runs pass orders
        bool sorted = true;
        std::int64_t lo = 0, hi = 0;
        SetRef first_key{}, last_key{};
        std::vector<std::uint32_t> start;  ///< counts, then where the next set of each number goes
    };
    template <class F>
    void each(const Part& a, F&& f) const {
        for (std::size_t k = a.first_chunk; k < a.end_chunk; ++k)
            for (const SetRef& r : chunks_[k].sets) f(r);
    }
    void pass(Part& a) noexcept {
        switch (phase_) {
        case Phase::keys: {
            bool first = true;
            const SetRef* before = nullptr;
            each(a, [&](const SetRef& r) {
                if (first) {
                    a.lo = a.hi = r.satno;
                    a.first_key = r;
                    first = false;
                }
                a.lo = std::min(a.lo, r.satno);
                a.hi = std::max(a.hi, r.satno);
                if (before && (r.satno < before->satno ||
                               (r.satno == before->satno && r.epoch_ns < before->epoch_ns)))
                    a.sorted = false;
                before = &r;
                ++a.count;
            });
            if (before) a.last_key = *before;
            break;
        }
        case Phase::copy: {
            SetRef* o = out_ + a.begin;
            each(a, [&](const SetRef& r) { *o++ = r; });
            break;
        }
        case Phase::count: {
            std::uint32_t* start = a.start.data();
            const std::int64_t lo = lo_;
            each(a, [&](const SetRef& r) { ++start[key(r.satno, lo)]; });
            break;
        }
        case Phase::scatter: {
            std::uint32_t* start = a.start.data();
            SetRef* o = out_;
            const std::int64_t lo = lo_;
            each(a, [&](const SetRef& r) { o[start[key(r.satno, lo)]++] = r; });
            break;
        }
        case Phase::runs: {
            SetRef* o = out_;
            std::size_t i = a.row_begin;
            while (i > 0 && i < a.row_end && o[i].satno == o[i - 1].satno) ++i;
            while (i < a.row_end) {
                std::size_t b = i + 1;
                bool run_sorted = true;
                for (; b < n_ && o[b].satno == o[i].satno; ++b)
                    if (o[b].epoch_ns < o[b - 1].epoch_ns) run_sorted = false;
                if (!run_sorted)
                    std::stable_sort(o + i, o + b, [](const SetRef& x, const SetRef& y) {
                        return x.epoch_ns < y.epoch_ns;
                    });
                i = b;
            }
            break;
        }
        }
    }
    static std::size_t key(const std::int64_t satno, const std::int64_t lo) noexcept {
        return static_cast<std::size_t>(static_cast<std::uint64_t>(satno) -
                                        static_cast<std::uint64_t>(lo));
    }

    std::vector<Chunk>& chunks_;
    std::size_t n_;
    std::vector<Part> parts_;
    RowMemory memory_;
    SetRef* out_ = nullptr;
    Phase phase_ = Phase::keys;
    std::int64_t lo_ = 0, hi_ = 0;
    std::size_t slots_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> cancel_{false};
};

/// The refused sets as a tuple of TLEFormatError, in text order.
PyObject* rejections(catalog_state* st, const TextRead& reader, PyObject* source) {
    std::size_t total = 0;
    for (const Chunk& c : reader.chunks) total += c.rejected.size();
    Ref out = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(total)));
    if (!out) return nullptr;
    Py_ssize_t i = 0;
    for (const Chunk& c : reader.chunks) {
        for (const Rejection& r : c.rejected) {
            PyObject* e = fault_error(st, source, r.fault, reader.absolute(r.chunk, r.line));
            if (!e) return nullptr;
            PyTuple_SET_ITEM(out.get(), i++, e);
        }
    }
    return out.release();
}

}  // namespace

PyObject* format_error(catalog_state* st, PyObject* source, const std::int64_t line,
                       const int column, const char* reason, const char* code) noexcept {
    Ref type = Ref::steal(PyObject_GetAttr(st->helper, st->s_TLEFormatError));
    if (!type) return nullptr;
    return PyObject_CallFunction(type.get(), "OLiss", source, static_cast<long long>(line), column,
                                 reason, code);
}

PyObject* fault_error(catalog_state* st, PyObject* source, const tle::Fault& f,
                      const std::int64_t line) noexcept {
    if (f.reason == tle::Reason::none)
        return format_error(st, source, line, 1, stray_text, "stray_line");
    char text[256];
    tle::fault_text(f, text, sizeof text);
    return format_error(st, source, line, f.column, text, tle::reason_info(f.reason).name);
}

PyObject* read_text(catalog_state* st, const char* data, const std::size_t size, PyObject* source,
                    const bool skip, const bool checksums, const int threads) noexcept {
    double gm = 0.0, re = 0.0;
    if (earth_constants(st, gm, re) < 0) return nullptr;
    std::unique_ptr<TextRead> reader;
    try {
        reader = std::make_unique<TextRead>(data, size, checksums, units_now(), !skip,
                                            static_cast<std::size_t>(threads));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    // No more threads than pieces of work: a small text is read on the calling thread alone.
    const auto up_to = [threads](std::size_t pieces) {
        return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), pieces));
    };
    if (run_threads(*reader, up_to(reader->chunks.size())) < 0) return nullptr;
    if (reader->out_of_memory()) return PyErr_NoMemory();
    reader->number_lines();
    if (!skip) {
        std::size_t k = 0, index = 0;
        if (reader->first_rejection(k, index)) {
            const Rejection& r = reader->chunks[k].rejected[index];
            Ref e = Ref::steal(fault_error(st, source, r.fault, reader->absolute(r.chunk, r.line)));
            if (e) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.get())), e.get());
            return nullptr;
        }
    }

    std::size_t n = 0;
    for (const Chunk& c : reader->chunks) n += c.sets.size();
    std::vector<unsigned char> same;
    std::unique_ptr<SetSort> sorter;
    try {
        // A part a thread, up to four: each part keeps a count for every number.
        const std::size_t parts = std::clamp<std::size_t>(static_cast<std::size_t>(threads), 1, 4);
        sorter =
            std::make_unique<SetSort>(reader->chunks, n, std::min(parts, reader->chunks.size()));
        const int rc = sorter->sort([&](SetSort& work) {
            work.rewind();
            return run_threads(work, up_to(reader->chunks.size()));
        });
        if (rc < 0) return nullptr;
        reader->release_sets();
        same.resize(n);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    const SetRef* order = sorter->rows();

    const auto rows = static_cast<Py_ssize_t>(n);
    Ref cols[column_count];
    for (int k = 0; k < column_count; ++k) {
        cols[k] = new_column(static_cast<Column>(k), rows);
        if (!cols[k]) return nullptr;
    }
    const Targets t = targets_of(cols);
    const TextRead& r = *reader;
    const Earth earth{gm, re};
    const std::size_t block = gather_block(n);
    Blocks work(n, block,
                [&](std::size_t a, std::size_t b) { gather(r, order, t, same, earth, a, b); });
    if (run_threads(work, up_to((n + block - 1) / block)) < 0) return nullptr;
    // The rows are all in the columns now, but for the names.
    if (fill_names(cols[c_name].get(), order, n, same, threads) < 0) return nullptr;
    sorter = {};
    same = {};
    Ref rejected = Ref::steal(rejections(st, *reader, source));
    if (!rejected) return nullptr;
    return new_catalog(st, rows, cols, rejected.get());
}

}  // namespace orbivex::catalog
