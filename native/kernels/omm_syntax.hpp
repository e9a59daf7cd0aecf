// The four forms of orbit mean-element messages cut into records and keyword values: CSV with a
// header row, JSON (an array of objects, or one object), the XML document (one <omm> element a
// record) and KVN ("KEY = value" lines, a record from each CCSDS_OMM_VERS line).
//
// CSV is read here; JSON in omm_json.hpp, XML and KVN in omm_xml_kvn.hpp, with the same sink.
// A reader walks the text once and tells a sink what it finds:
//   begin(line, column)                          a record starts
//   value(key, text, size, line, column, null)   a keyword the reader takes, and its text
//   fault(line, column, reason)                  the record's text is broken: it is refused
//   end()                                        the record is complete
//   stopped()                                    true when nothing more is wanted
// Text that needs unescaping (JSON escapes, CSV doubled quotes, XML entities) is copied into
// the arena, whose strings stay where they are for as long as it lives.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "kernels/omm_values.hpp"

namespace orbivex::kern::omm {

using Arena = std::deque<std::string>;

namespace detail {

/// Where a reader is: the byte, its line and where that line starts.
struct Cursor {
    const char* p;
    std::size_t n, i = 0;
    std::int64_t line = 1;
    std::size_t line_start = 0;

    int column() const noexcept { return column_of(i); }
    int column_of(std::size_t at) const noexcept {
        const std::size_t c = at - line_start + 1;
        return c > 0x7fff'ffff ? 0x7fff'ffff : static_cast<int>(c);
    }
    bool done() const noexcept { return i >= n; }
    /// One byte on, counting a line end.
    void step() noexcept {
        if (p[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
        ++i;
    }
    /// On to byte `to`, counting the line ends passed with the library's search.
    void advance_to(const std::size_t to) noexcept {
        const char* q = p + i;
        const char* end = p + to;
        while (q < end && (q = static_cast<const char*>(std::memchr(q, '\n', end - q)))) {
            ++line;
            line_start = static_cast<std::size_t>(++q - p);
        }
        i = to;
    }
    void skip_bom() noexcept {
        if (n >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) i = line_start = 3;
    }
};

inline bool is_space(const char c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline const char* keep(Arena& arena, std::string&& s) {
    arena.push_back(std::move(s));
    return arena.back().data();
}

/// UTF-8 of a code point into `out`.
inline void put_utf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

inline int hex_value(const char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace detail

// ---- CSV ------------------------------------------------------------------------------------

namespace detail {

struct CsvField {
    const char* text = nullptr;
    std::size_t size = 0;
    bool quoted = false;
    std::int64_t line = 0;
    int column = 0;
};

enum class CsvStop { comma, line_end, bad };

/// One field from the cursor, which is left after its comma or line end.
inline CsvStop csv_field(Cursor& c, CsvField& f, Arena& arena, const char*& why) {
    f.line = c.line;
    f.column = c.column();
    f.quoted = false;
    if (!c.done() && c.p[c.i] == '"') {
        f.quoted = true;
        c.step();
        const std::size_t start = c.i;
        std::string* copy = nullptr;
        for (;;) {
            if (c.done()) {
                why = "a quoted field is not closed";
                return CsvStop::bad;  // where the field starts
            }
            if (c.p[c.i] == '"') {
                if (c.i + 1 < c.n && c.p[c.i + 1] == '"') {
                    // A doubled quote stands for one: the field is copied from here on.
                    if (!copy) {
                        arena.emplace_back(c.p + start, c.i - start);
                        copy = &arena.back();
                    }
                    *copy += '"';
                    c.i += 2;
                    continue;
                }
                break;
            }
            if (copy) *copy += c.p[c.i];
            c.step();
        }
        f.text = copy ? copy->data() : c.p + start;
        f.size = copy ? copy->size() : c.i - start;
        c.step();  // the closing quote
        if (c.done()) return CsvStop::line_end;
        if (c.p[c.i] == ',') {
            c.step();
            return CsvStop::comma;
        }
        if (c.p[c.i] == '\r' && c.i + 1 < c.n && c.p[c.i + 1] == '\n') c.step();
        if (c.p[c.i] == '\n') {
            c.step();
            return CsvStop::line_end;
        }
        why = "text after the closing quote of a field";
        f.line = c.line;
        f.column = c.column();
        return CsvStop::bad;
    }
    const std::size_t start = c.i;
    while (c.i < c.n && c.p[c.i] != ',' && c.p[c.i] != '\n') ++c.i;
    f.text = c.p + start;
    f.size = c.i - start;
    const bool comma = c.i < c.n && c.p[c.i] == ',';
    if (!comma && f.size > 0 && f.text[f.size - 1] == '\r') --f.size;
    if (c.i < c.n) c.step();
    return comma ? CsvStop::comma : CsvStop::line_end;
}

/// Past the rest of the line.
inline void csv_line_end(Cursor& c) {
    while (!c.done() && c.p[c.i] != '\n') ++c.i;
    if (!c.done()) c.step();
}

/// The eight bytes at `p` as a word, the first byte lowest.
inline std::uint64_t load8(const char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

/// The top bit of each byte of `w` that equals `byte` (exact per byte: no carry crosses
/// between them), so that countr_zero / 8 finds the first.
inline std::uint64_t bytes_of(const std::uint64_t w, const unsigned char byte) noexcept {
    constexpr std::uint64_t lows = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t x = w ^ (0x0101010101010101ULL * byte);
    return ~(((x & lows) + lows) | x) & ~lows;
}

/// The fields of one CSV line [line, end) that holds no quote: `field(text, size)` for each,
/// commas found eight bytes at a time. A line end's '\r' is not part of the last field.
template <class Field>
void csv_plain_fields(const char* line, const char* end, Field field) {
    const char* start = line;
    const char* q = line;
    for (; end - q >= 8; q += 8) {
        for (std::uint64_t m = bytes_of(load8(q), ','); m; m &= m - 1) {
            const char* comma = q + std::countr_zero(m) / 8;
            field(start, static_cast<std::size_t>(comma - start));
            start = comma + 1;
        }
    }
    for (; q < end; ++q) {
        if (*q != ',') continue;
        field(start, static_cast<std::size_t>(q - start));
        start = q + 1;
    }
    std::size_t size = static_cast<std::size_t>(end - start);
    if (size > 0 && start[size - 1] == '\r') --size;
    field(start, size);
}

inline bool blank_line(const Cursor& c) noexcept {
    std::size_t k = c.i;
    while (k < c.n && (c.p[k] == ' ' || c.p[k] == '\t' || c.p[k] == '\r')) ++k;
    return k >= c.n || c.p[k] == '\n';
}

}  // namespace detail

/// A piece of the text: bytes [begin, end) and the number of the line at `begin`.
struct Piece {
    std::size_t begin = 0, end = 0;
    std::int64_t first_line = 1;
    std::size_t line_start = 0;  ///< where the line at `begin` starts, for columns
};

namespace detail {

/// Bytes `ch` in [p, end): memchr runs at the speed of the library's vector code.
inline std::int64_t count_of(const char* p, const char* end, const char ch) noexcept {
    std::int64_t n = 0;
    while (p < end && (p = static_cast<const char*>(std::memchr(p, ch, end - p)))) {
        ++n;
        ++p;
    }
    return n;
}

/// Where the line that holds byte `at` starts.
inline std::size_t line_start_of(const char* data, std::size_t at) noexcept {
    const void* nl = at ? memrchr(data, '\n', at) : nullptr;
    return nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - data) + 1 : 0;
}

/// The first of the bytes `Stops` in [q, end), eight bytes at a time; `end` for none.
template <char... Stops>
inline const char* first_of(const char* q, const char* end) noexcept {
    for (; end - q >= 8; q += 8) {
        const std::uint64_t w = load8(q);
        if (const std::uint64_t m = (bytes_of(w, static_cast<unsigned char>(Stops)) | ...))
            return q + std::countr_zero(m) / 8;
    }
    while (q < end && ((*q != Stops) && ...)) ++q;
    return q;
}

}  // namespace detail

/// `whole` cut into pieces of about `target` bytes: `split_at(cur, at)` gives where the first
/// cut at or after `at` in the piece `cur` lies, or 0 for none; each piece is numbered by its
/// first line.
template <class SplitAt>
std::vector<Piece> cut_pieces(const char* data, Piece cur, const std::size_t target,
                              SplitAt&& split_at) {
    std::vector<Piece> out;
    while (cur.end - cur.begin > 2 * target) {
        const std::size_t split = split_at(cur, cur.begin + target);
        if (!split) break;
        const auto lines = detail::count_of(data + cur.begin, data + split, '\n');
        out.push_back(cur);
        out.back().end = split;
        cur = {split, cur.end, cur.first_line + lines, detail::line_start_of(data, split)};
    }
    out.push_back(cur);
    return out;
}

/// CSV with a header row naming the keywords (any order, any case; unknown columns ignored).
/// Each later line that is not blank is a record; an unquoted empty field gives no value.
///
/// The header: its keywords into `keys` and the rows' piece into `rows`. False when the header
/// is refused (told to the sink as a record): broken, or naming none of the keywords.
template <class Sink>
bool csv_header(const char* data, const std::size_t size, Sink& sink, Arena& arena,
                std::vector<Key>& keys, Piece& rows) {
    detail::Cursor c{data, size};
    c.skip_bom();
    while (!c.done() && detail::blank_line(c)) detail::csv_line_end(c);
    rows = {size, size, c.line, size};
    if (c.done()) return false;
    const std::int64_t header_line = c.line;
    const char* why = nullptr;
    for (;;) {
        detail::CsvField f;
        const detail::CsvStop s = detail::csv_field(c, f, arena, why);
        if (s == detail::CsvStop::bad) {
            sink.begin(header_line, 1);
            sink.fault(f.line, f.column, std::string("header: ") + why);
            sink.end();
            return false;
        }
        std::string name(f.text, f.size);
        while (!name.empty() && detail::is_space(name.back())) name.pop_back();
        std::size_t lead = 0;
        while (lead < name.size() && detail::is_space(name[lead])) ++lead;
        name.erase(0, lead);
        for (char& ch : name)
            if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        keys.push_back(find_key(name.data(), name.size()));
        if (s == detail::CsvStop::line_end) break;
    }
    bool any = false;
    for (Key k : keys) any = any || k < key_count;
    if (!any) {
        sink.begin(header_line, 1);
        sink.fault(header_line, 1, "the header row names none of the OMM keywords");
        sink.end();
        return false;
    }
    rows = {c.i, size, c.line, c.line_start};
    return true;
}

/// The records of a piece of CSV rows that starts at a line's start.
template <class Sink>
void csv_rows(const char* data, const Piece& piece, const std::vector<Key>& keys, Sink& sink,
              Arena& arena) {
    detail::Cursor c{data, piece.end, piece.begin, piece.first_line, piece.line_start};
    const char* why = nullptr;
    while (!c.done() && !sink.stopped()) {
        if (detail::blank_line(c)) {
            detail::csv_line_end(c);
            continue;
        }
        const std::int64_t line = c.line;
        sink.begin(line, 1);
        std::size_t column = 0;
        bool broken = false;
        // Most lines hold no quote: their fields are cut at the commas alone.
        const char* start = c.p + c.i;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', c.n - c.i));
        const char* end = nl ? nl : c.p + c.n;
        if (!std::memchr(start, '"', static_cast<std::size_t>(end - start))) {
            detail::csv_plain_fields(start, end, [&](const char* text, std::size_t size) {
                if (column < keys.size() && keys[column] < value_count)
                    sink.value(keys[column], text, size, line,
                               c.column_of(static_cast<std::size_t>(text - c.p)), size == 0);
                ++column;
            });
            c.i = static_cast<std::size_t>(end - c.p);
            if (!c.done()) c.step();
        } else {
            for (;;) {
                detail::CsvField f;
                const detail::CsvStop s = detail::csv_field(c, f, arena, why);
                if (s == detail::CsvStop::bad) {
                    sink.fault(f.line, f.column, why);
                    detail::csv_line_end(c);
                    broken = true;
                    break;
                }
                if (column < keys.size() && keys[column] < value_count)
                    sink.value(keys[column], f.text, f.size, f.line, f.column,
                               !f.quoted && f.size == 0);
                ++column;
                if (s == detail::CsvStop::line_end) break;
            }
        }
        if (!broken && column != keys.size())
            sink.fault(line, 1,
                       "record has " + std::to_string(column) + " fields, the header " +
                           std::to_string(keys.size()));
        sink.end();
    }
}

/// The rows cut into pieces of about `target` bytes, each at a line start where the quotes
/// before it are balanced (so no quoted field is cut), numbered by their first line.
inline std::vector<Piece> csv_pieces(const char* data, const Piece& rows, std::size_t target) {
    std::vector<Piece> out;
    Piece cur = rows;
    std::size_t quotes = 0;  // in [cur.begin, at)
    std::size_t at = cur.begin;
    while (cur.end - cur.begin > 2 * target) {
        std::size_t want = cur.begin + target;
        const char* nl = static_cast<const char*>(std::memchr(data + want, '\n', cur.end - want));
        bool cut = false;
        while (nl) {
            const std::size_t split = static_cast<std::size_t>(nl - data) + 1;
            quotes += static_cast<std::size_t>(detail::count_of(data + at, data + split, '"'));
            at = split;
            if (quotes % 2 == 0 && split < cur.end) {
                const auto lines = detail::count_of(data + cur.begin, data + split, '\n');
                out.push_back(cur);
                out.back().end = split;
                cur = {split, cur.end, cur.first_line + lines, split};
                quotes = 0;
                cut = true;
                break;
            }
            nl = static_cast<const char*>(std::memchr(data + split, '\n', cur.end - split));
        }
        if (!cut) break;
    }
    out.push_back(cur);
    return out;
}

/// The whole CSV text, on one thread.
template <class Sink>
void read_csv(const char* data, const std::size_t size, Sink& sink, Arena& arena) {
    std::vector<Key> keys;
    Piece rows;
    if (csv_header(data, size, sink, arena, keys, rows)) csv_rows(data, rows, keys, sink, arena);
}

}  // namespace orbivex::kern::omm
