// Two-line element text read into rows: chunks, sets, stray lines and line numbers.
#include "text_reader.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "kernels/coe.hpp"
#include "kernels/misc.hpp"

namespace orbivex::catalog {

namespace {

/// Chunks of 1 to 8 MiB, about eight per thread: small enough to share the work out evenly
/// and to answer a signal within milliseconds, large enough that cutting costs nothing.
std::size_t chunk_target(const std::size_t size, const std::size_t threads) {
    const std::size_t lo = std::size_t{1} << 20, hi = std::size_t{8} << 20;
    return std::clamp(size / (8 * std::max<std::size_t>(threads, 1)), lo, hi);
}

/// A valid set takes at least two lines of 69 columns and a line end between them.
constexpr std::size_t min_set_bytes = 139;

/// The angle function of the element kernels, as coe binds it: atan2_asymmetric, which never
/// fails.
struct AngleEnv {
    double atan2(double y, double x) const noexcept { return kern::atan2_asymmetric(y, x); }
    bool failed() const noexcept { return false; }
};

}  // namespace

void derive(const double mnm, const double ecc, const double mea, const double gm, const double re,
            double* out) noexcept {
    namespace coe = kern::coe;
    out[0] = coe::sma_from_mnm(mnm, gm);
    out[1] = coe::orp_from_sma(out[0], gm);
    out[2] = coe::eca_from_mea(mea, ecc);
    out[3] = coe::tra_from_eca(out[2], ecc, AngleEnv{});
    out[4] = coe::pge_from_sma_ecc(out[0], ecc, re);
    out[5] = coe::apg_from_sma_ecc(out[0], ecc, re);
}

TextRead::TextRead(const char* data, const std::size_t size, const bool checksums,
                   const tle::Units& units, const bool stop_at_first, const std::size_t threads)
    : data_(data),
      size_(size),
      checksums_(checksums),
      stop_at_first_(stop_at_first),
      units_(units),
      first_bad_(std::numeric_limits<std::size_t>::max()) {
    const std::size_t target = chunk_target(size, threads);
    for (std::size_t at = 0; at < size_;) {
        std::size_t cut = tle::split_point(data_, size_, at + target);
        if (cut <= at) cut = size_;
        Chunk c;
        c.begin = at;
        c.end = cut;
        // Only the first chunk may start with a byte-order mark; numbering the others from 2
        // keeps their splitters from looking for one.
        c.first_line = chunks.empty() ? 1 : 2;
        chunks.push_back(std::move(c));
        at = cut;
    }
    offset_.assign(chunks.size(), 0);
    // Room for the most sets each chunk's text can hold, all in one piece.
    std::size_t total = 0;
    for (const Chunk& c : chunks) total += (c.end - c.begin) / min_set_bytes + 1;
    set_memory_ = RowMemory(total * sizeof(SetRef));
    SetRef* at = set_memory_.as<SetRef>();
    for (Chunk& c : chunks) {
        c.sets.data = at;
        c.sets.capacity = (c.end - c.begin) / min_set_bytes + 1;
        at += c.sets.capacity;
    }
}

RowMemory::RowMemory(const std::size_t bytes) {
    constexpr std::size_t huge = std::size_t{2} << 20;
    const std::size_t size = (std::max<std::size_t>(bytes, 1) + huge - 1) / huge * huge;
    p_ = std::aligned_alloc(huge, size);
    if (!p_) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(p_, size, MADV_HUGEPAGE);  // advice only: small pages do as well, more slowly
#endif
}

RowMemory::~RowMemory() { std::free(p_); }

bool TextRead::step() noexcept {
    if (cancel_.load(std::memory_order_relaxed)) return false;
    const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
    if (k >= chunks.size()) return false;
    // Only the text before the first refusal counts when the read raises at it.
    if (stop_at_first_ && k > first_bad_.load(std::memory_order_relaxed)) return true;
    try {
        read_chunk(k);
    } catch (const std::bad_alloc&) {
        oom_.store(true, std::memory_order_relaxed);
        cancel();
        return false;
    }
    return true;
}

void TextRead::refuse(const std::size_t k, const tle::Fault& f, const std::int64_t line) {
    chunks[k].rejected.push_back({f, line, static_cast<std::uint32_t>(k)});
    if (!stop_at_first_) return;
    std::size_t seen = first_bad_.load(std::memory_order_relaxed);
    while (k < seen && !first_bad_.compare_exchange_weak(seen, k, std::memory_order_relaxed)) {
    }
}

bool TextRead::strays(const std::size_t k, const char*& p, std::int64_t& line,
                      const std::int64_t until) {
    const char* const end = data_ + chunks[k].end;
    while (line < until && p < end) {
        const char* e = tle::find_newline(p, end);
        if (tle::trim_end(p, e) != p) {
            // The splitter took it for a name and dropped it, because another name or the end
            // of the text came before any element line.
            refuse(k, tle::Fault{tle::Reason::none, 0, 1, 0, 0}, line);
            if (stop_at_first_) return false;
        }
        p = e;
        if (e < end) {
            ++p;
            ++line;
        }
    }
    return true;
}

void TextRead::read_chunk(const std::size_t k) {
    Chunk& c = chunks[k];
    const char* const begin = data_ + c.begin;
    const char* const end = data_ + c.end;
    tle::Splitter split(begin, c.end - c.begin, c.first_line);
    // Lines before `p` (numbered up to `line`) belong to a set or have been looked at.
    const char* p = begin + split.position();
    std::int64_t line = c.first_line;
    tle::SetText s;
    tle::Fields f;
    SetRef r;
    while (split.next(s)) {
        if (!strays(k, p, line, s.first_line())) return;
        // A set ends with its line 2, or its line 1 when line 2 is missing; the rest of that
        // line is white space.
        const tle::TextLine& last = s.line2.present() ? s.line2 : s.line1;
        p = tle::find_newline(last.text + last.size, end);
        line = last.number;
        if (p < end) {
            ++p;
            ++line;
        }
        const tle::Fault fault = tle::parse(s.line1.text, s.line1.size, s.line2.text, s.line2.size,
                                            f, checksums_, units_);
        if (!fault.ok()) {
            refuse(k, fault, fault.line == 1 ? s.line1.number : s.line2.number);
            if (stop_at_first_) return;
            continue;
        }
        r.satno = f.satno;
        r.epoch_ns = f.epoch_ns;
        r.line1 = s.line1.text;
        r.line2_offset = static_cast<std::uint32_t>(s.line2.text - s.line1.text);
        if (s.name.present()) {
            r.name = s.name.text;
            r.name_size =
                static_cast<std::uint32_t>(std::min<std::size_t>(s.name.size, no_name - 1));
            r.name_hash = name_hash(r.name, r.name_size);
        } else {
            r.name = nullptr;
            r.name_size = no_name;
            r.name_hash = 0;
        }
        r.source_line = s.first_line();
        r.chunk = static_cast<std::uint32_t>(k);
        // A valid set takes min_set_bytes of the chunk at least: the room always suffices.
        if (c.sets.count == c.sets.capacity) throw std::bad_alloc();
        c.sets.data[c.sets.count++] = r;
    }
    if (!strays(k, p, line, std::numeric_limits<std::int64_t>::max())) return;
    c.lines = line - c.first_line;
}

void TextRead::number_lines() noexcept {
    std::int64_t first = 1;  // absolute number of the chunk's first line
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        offset_[k] = first - chunks[k].first_line;
        if (chunks[k].lines < 0) break;
        first += chunks[k].lines;
    }
}

bool TextRead::first_rejection(std::size_t& chunk, std::size_t& index) const noexcept {
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        if (!chunks[k].rejected.empty()) {
            chunk = k;
            index = 0;
            return true;
        }
    }
    return false;
}

}  // namespace orbivex::catalog
