// The four forms of orbit mean-element messages cut into records and keyword values: CSV with a
// header row, JSON (an array of objects, or one object), the XML document (one <omm> element a
// record) and KVN ("KEY = value" lines, a record from each CCSDS_OMM_VERS line).
//
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

}  // namespace detail

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

// ---- JSON -----------------------------------------------------------------------------------

namespace detail {

inline void json_space(Cursor& c) noexcept {
    while (!c.done() && is_space(c.p[c.i])) c.step();
}

/// A string from its opening quote; the cursor is left after the closing one. False with
/// `why` for an unclosed string or a bad escape.
inline bool json_string(Cursor& c, const char*& text, std::size_t& size, Arena& arena,
                        const char*& why) {
    c.step();
    const std::size_t start = c.i;
    // Most strings hold no escape and no line end: found with two library searches.
    if (const char* q = static_cast<const char*>(std::memchr(c.p + start, '"', c.n - start))) {
        const std::size_t len = static_cast<std::size_t>(q - (c.p + start));
        if (!std::memchr(c.p + start, '\\', len) && !std::memchr(c.p + start, '\n', len)) {
            text = c.p + start;
            size = len;
            c.i = start + len + 1;
            return true;
        }
    }
    while (c.i < c.n && c.p[c.i] != '"' && c.p[c.i] != '\\') c.step();
    if (c.done()) {
        why = "a string is not closed";
        return false;
    }
    if (c.p[c.i] == '"') {
        text = c.p + start;
        size = c.i - start;
        c.step();
        return true;
    }
    std::string out(c.p + start, c.i - start);
    while (!c.done() && c.p[c.i] != '"') {
        if (c.p[c.i] != '\\') {
            out += c.p[c.i];
            c.step();
            continue;
        }
        if (c.i + 1 >= c.n) break;
        const char e = c.p[c.i + 1];
        const std::size_t escape = c.i;  // a bad escape is refused where it starts
        c.i += 2;
        switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            const auto code = [&c](std::uint32_t& v) {
                if (c.i + 4 > c.n) return false;
                v = 0;
                for (int k = 0; k < 4; ++k) {
                    const int h = hex_value(c.p[c.i + k]);
                    if (h < 0) return false;
                    v = v * 16 + static_cast<std::uint32_t>(h);
                }
                c.i += 4;
                return true;
            };
            std::uint32_t v = 0;
            if (!code(v)) {
                why = "a \\u escape is not four hexadecimal digits";
                c.i = escape;
                return false;
            }
            if (v >= 0xD800 && v < 0xDC00 && c.i + 1 < c.n && c.p[c.i] == '\\' &&
                c.p[c.i + 1] == 'u') {
                const std::size_t back = c.i;
                c.i += 2;
                std::uint32_t low = 0;
                if (code(low) && low >= 0xDC00 && low < 0xE000) {
                    v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
                } else {
                    c.i = back;
                }
            }
            // A surrogate without its pair has no UTF-8 form: the replacement character.
            put_utf8(out, v >= 0xD800 && v < 0xE000 ? 0xFFFD : v);
            break;
        }
        default:
            why = "unknown escape in a string";
            c.i = escape;
            return false;
        }
    }
    if (c.done()) {
        why = "a string is not closed";
        return false;
    }
    c.step();
    text = keep(arena, std::move(out));
    size = arena.back().size();
    return true;
}

/// Past one value of any kind (objects and arrays whole), aware of strings; false at the end
/// of the text.
inline bool json_skip(Cursor& c, int depth) noexcept {
    bool in_string = false;
    do {
        if (c.done()) return false;
        const char ch = c.p[c.i];
        if (in_string) {
            if (ch == '\\') {
                c.step();
                if (c.done()) return false;
            } else if (ch == '"') {
                in_string = false;
            }
        } else if (ch == '"') {
            in_string = true;
        } else if (ch == '{' || ch == '[') {
            ++depth;
        } else if (ch == '}' || ch == ']') {
            --depth;
        } else if (depth == 0 && (ch == ',' || is_space(ch))) {
            return true;
        }
        c.step();
    } while (depth > 0 || in_string);
    return true;
}

inline bool json_token_end(const char ch) noexcept {
    return ch == ',' || ch == '}' || ch == ']' || is_space(ch);
}

/// One object from its '{' as a record.
template <class Sink>
void json_object(Cursor& c, Sink& sink, Arena& arena) {
    const char* why = nullptr;
    const auto broken = [&](const char* reason) {
        sink.fault(c.line, c.column(), reason);
        // The rest of the object is passed over: its closing brace ends the record.
        json_skip(c, 1);
        sink.end();
    };
    c.step();
    json_space(c);
    if (!c.done() && c.p[c.i] == '}') {
        c.step();
        sink.end();
        return;
    }
    for (;;) {
        json_space(c);
        if (c.done()) return broken("the object is not closed");
        if (c.p[c.i] != '"') return broken("expected a member name in quotes");
        const char* name = nullptr;
        std::size_t name_size = 0;
        if (!json_string(c, name, name_size, arena, why)) return broken(why);
        const Key key = find_key(name, name_size);
        json_space(c);
        if (c.done() || c.p[c.i] != ':') return broken("expected ':' after a member name");
        c.step();
        json_space(c);
        if (c.done()) return broken("the object is not closed");
        const std::int64_t line = c.line;
        const int column = c.column();
        const char ch = c.p[c.i];
        if (ch == '"') {
            const char* text = nullptr;
            std::size_t size = 0;
            if (!json_string(c, text, size, arena, why)) return broken(why);
            if (key < value_count) sink.value(key, text, size, line, column, false);
        } else if (ch == '{' || ch == '[') {
            if (key < value_count) {
                sink.fault(line, column, std::string(key_names[key]) + " is not a single value");
            }
            if (!json_skip(c, 0)) return broken("the object is not closed");
        } else {
            const std::size_t start = c.i;
            while (!c.done() && !json_token_end(c.p[c.i])) ++c.i;
            const std::size_t size = c.i - start;
            if (size == 0) return broken("expected a value");
            const bool null = size == 4 && std::memcmp(c.p + start, "null", 4) == 0;
            if (key < value_count) sink.value(key, c.p + start, size, line, column, null);
        }
        json_space(c);
        if (c.done()) return broken("the object is not closed");
        if (c.p[c.i] == ',') {
            c.step();
            continue;
        }
        if (c.p[c.i] == '}') {
            c.step();
            sink.end();
            return;
        }
        return broken("expected ',' or '}' after a member");
    }
}

}  // namespace detail

/// JSON: an array of objects, one record each (members not read are passed over, objects and
/// arrays among them whole), or a single object. Values may be numbers or strings; null is no
/// value. Anything else where an object belongs is refused as a record.
///
/// The start of the text: true with the piece of the array's elements (after its '['); false
/// when the text is a single object or no array, told to the sink whole.
template <class Sink>
bool json_array(const char* data, const std::size_t size, Sink& sink, Arena& arena,
                Piece& elements) {
    detail::Cursor c{data, size};
    c.skip_bom();
    detail::json_space(c);
    if (c.done()) return false;
    if (c.p[c.i] == '{') {
        sink.begin(c.line, c.column());
        detail::json_object(c, sink, arena);
        return false;
    }
    if (c.p[c.i] != '[') {
        sink.begin(c.line, c.column());
        sink.fault(c.line, c.column(), "the text is not a JSON array or object");
        sink.end();
        return false;
    }
    c.step();
    elements = {c.i, size, c.line, c.line_start};
    return true;
}

/// The elements of a piece that starts where an element may; true when the piece ends between
/// elements, after a comma (so that the next piece starts at an element), or at the ']'.
template <class Sink>
bool json_elements(const char* data, const Piece& piece, Sink& sink, Arena& arena) {
    detail::Cursor c{data, piece.end, piece.begin, piece.first_line, piece.line_start};
    const auto stray = [&](const char* reason) {
        sink.begin(c.line, c.column());
        sink.fault(c.line, c.column(), reason);
        sink.end();
    };
    const char* pending = nullptr;  // a fault of the text before the next element
    bool between = true;
    for (;;) {
        detail::json_space(c);
        if (c.done() || sink.stopped()) return between;
        const char ch = c.p[c.i];
        if (ch == ']') return true;
        between = false;
        if (ch == '{') {
            sink.begin(c.line, c.column());
            if (pending) sink.fault(c.line, c.column(), pending);
            pending = nullptr;
            detail::json_object(c, sink, arena);
        } else {
            stray(pending ? pending : "expected an object");
            pending = nullptr;
            if (!detail::json_skip(c, 0)) return false;
        }
        detail::json_space(c);
        if (c.done()) return false;
        if (c.p[c.i] == ']') return true;
        if (c.p[c.i] == ',') {
            c.step();
            between = true;
        } else {
            pending = "expected ',' between the objects";
        }
    }
}

/// The elements cut into pieces of about `target` bytes, each at a '{' that follows "}," (blanks
/// between allowed). Text may hold that inside a string or a nested array: a piece that then
/// does not end between elements (json_elements false) shows the cut was wrong.
inline std::vector<Piece> json_pieces(const char* data, const Piece& elements, std::size_t target) {
    std::vector<Piece> out;
    Piece cur = elements;
    while (cur.end - cur.begin > 2 * target) {
        std::size_t at = cur.begin + target;
        std::size_t split = 0;
        while (!split && at < cur.end) {
            const char* close = static_cast<const char*>(std::memchr(data + at, '}', cur.end - at));
            if (!close) break;
            std::size_t k = static_cast<std::size_t>(close - data) + 1;
            while (k < cur.end && detail::is_space(data[k])) ++k;
            if (k < cur.end && data[k] == ',') {
                ++k;
                while (k < cur.end && detail::is_space(data[k])) ++k;
                if (k < cur.end && data[k] == '{') split = k;
            }
            at = static_cast<std::size_t>(close - data) + 1;
        }
        if (!split) break;
        const auto lines = detail::count_of(data + cur.begin, data + split, '\n');
        out.push_back(cur);
        out.back().end = split;
        cur = {split, cur.end, cur.first_line + lines, detail::line_start_of(data, split)};
    }
    out.push_back(cur);
    return out;
}

/// The whole JSON text, on one thread.
template <class Sink>
void read_json(const char* data, const std::size_t size, Sink& sink, Arena& arena) {
    Piece elements;
    if (json_array(data, size, sink, arena, elements)) json_elements(data, elements, sink, arena);
}

// ---- XML ------------------------------------------------------------------------------------

namespace detail {

/// The text with entity and character references replaced, and CDATA sections taken as they
/// are; false with `why` for a reference that is not one.
inline bool xml_text(const char* p, const std::size_t n, std::string& out, const char*& why) {
    for (std::size_t i = 0; i < n;) {
        if (p[i] == '<' && n - i >= 9 && std::memcmp(p + i, "<![CDATA[", 9) == 0) {
            const char* end = static_cast<const char*>(memmem(p + i + 9, n - i - 9, "]]>", 3));
            if (!end) {
                why = "a CDATA section is not closed";
                return false;
            }
            out.append(p + i + 9, static_cast<std::size_t>(end - (p + i + 9)));
            i = static_cast<std::size_t>(end - p) + 3;
            continue;
        }
        if (p[i] == '<' && n - i >= 4 && std::memcmp(p + i, "<!--", 4) == 0) {
            const char* end = static_cast<const char*>(memmem(p + i + 4, n - i - 4, "-->", 3));
            if (!end) {
                why = "a comment is not closed";
                return false;
            }
            i = static_cast<std::size_t>(end - p) + 3;
            continue;
        }
        if (p[i] != '&') {
            out += p[i++];
            continue;
        }
        const char* semi = static_cast<const char*>(std::memchr(p + i, ';', n - i));
        const std::size_t len = semi ? static_cast<std::size_t>(semi - (p + i)) - 1 : 0;
        const char* name = p + i + 1;
        const auto is = [&](const char* s) {
            return std::strlen(s) == len && !std::memcmp(name, s, len);
        };
        if (!semi || len == 0) {
            why = "'&' that starts no reference";
            return false;
        }
        if (is("amp")) {
            out += '&';
        } else if (is("lt")) {
            out += '<';
        } else if (is("gt")) {
            out += '>';
        } else if (is("quot")) {
            out += '"';
        } else if (is("apos")) {
            out += '\'';
        } else if (name[0] == '#') {
            std::uint32_t v = 0;
            const bool hex = len > 1 && (name[1] == 'x' || name[1] == 'X');
            std::size_t k = hex ? 2 : 1;
            bool ok = k < len;
            for (; ok && k < len; ++k) {
                const int d = hex ? hex_value(name[k])
                                  : (name[k] >= '0' && name[k] <= '9' ? name[k] - '0' : -1);
                ok = d >= 0 && v < 0x110000;
                v = v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d < 0 ? 0 : d);
            }
            if (!ok || v == 0 || v >= 0x110000 || (v >= 0xD800 && v < 0xE000)) {
                why = "a character reference that is no character";
                return false;
            }
            put_utf8(out, v);
        } else {
            why = "an unknown entity reference";
            return false;
        }
        i += len + 2;
    }
    return true;
}

/// The local name of a tag (after any namespace prefix) from `p`: its length in `n`.
inline void xml_name(const char* p, const char* end, const char*& name, std::size_t& n) noexcept {
    const char* q = p;
    while (q < end && !is_space(*q) && *q != '>' && *q != '/') ++q;
    name = p;
    for (const char* r = p; r < q; ++r)
        if (*r == ':') name = r + 1;
    n = static_cast<std::size_t>(q - name);
}

}  // namespace detail

/// The XML document: each <omm> element (of any namespace prefix) is a record and every
/// element within it that is named by a keyword gives that keyword's text, wherever it is
/// nested (<metadata>, <meanElements>, <tleParameters>). Declarations, comments and other
/// elements are passed over.
template <class Sink>
void read_xml(const char* data, const std::size_t size, Sink& sink, Arena& arena) {
    detail::Cursor c{data, size};
    c.skip_bom();
    bool open = false;  // inside an <omm> element
    Key leaf = other;
    std::size_t leaf_start = 0;
    std::int64_t leaf_line = 0;
    int leaf_column = 0;
    bool leaf_plain = true;  // its text has no reference, CDATA or comment
    const char* why = nullptr;
    const auto close_record = [&](const char* reason) {
        if (!open) return;
        if (reason) sink.fault(c.line, c.column(), reason);
        sink.end();
        open = false;
        leaf = other;
    };
    while (!c.done() && !sink.stopped()) {
        const char ch = c.p[c.i];
        if (ch != '<') {
            const char* lt = static_cast<const char*>(std::memchr(c.p + c.i, '<', c.n - c.i));
            const std::size_t to = lt ? static_cast<std::size_t>(lt - c.p) : c.n;
            if (leaf != other && std::memchr(c.p + c.i, '&', to - c.i)) leaf_plain = false;
            c.advance_to(to);
            continue;
        }
        const std::size_t at = c.i;
        const std::int64_t line = c.line;
        const int column = c.column();
        const std::size_t rest = c.n - at;
        const auto skip_past = [&](const char* end, std::size_t len, const char* what) {
            const char* hit = static_cast<const char*>(memmem(c.p + c.i, c.n - c.i, end, len));
            const std::size_t to = hit ? static_cast<std::size_t>(hit - c.p) + len : c.n;
            c.advance_to(to);
            if (!hit) close_record(what);
            return hit != nullptr;
        };
        if (rest >= 4 && std::memcmp(c.p + at, "<!--", 4) == 0) {
            if (leaf != other) leaf_plain = false;
            skip_past("-->", 3, "a comment is not closed");
            continue;
        }
        if (rest >= 9 && std::memcmp(c.p + at, "<![CDATA[", 9) == 0) {
            if (leaf != other) leaf_plain = false;
            skip_past("]]>", 3, "a CDATA section is not closed");
            continue;
        }
        if (rest >= 2 && (c.p[at + 1] == '?' || c.p[at + 1] == '!')) {
            skip_past(">", 1, "a declaration is not closed");
            continue;
        }
        // A tag: up to its '>', outside quoted attribute values.
        std::size_t k = at + 1;
        char quote = 0;
        while (k < c.n && (quote || c.p[k] != '>')) {
            if (quote && c.p[k] == quote) {
                quote = 0;
            } else if (!quote && (c.p[k] == '"' || c.p[k] == '\'')) {
                quote = c.p[k];
            }
            ++k;
        }
        if (k >= c.n) {
            c.advance_to(c.n);
            close_record("a tag is not closed");
            return;
        }
        const bool closing = c.p[at + 1] == '/';
        const bool empty = c.p[k - 1] == '/';
        const char* name = nullptr;
        std::size_t name_size = 0;
        detail::xml_name(c.p + at + 1 + closing, c.p + k, name, name_size);
        const bool is_omm = name_size == 3 && std::memcmp(name, "omm", 3) == 0;
        Key key = open ? find_key(name, name_size) : other;
        if (open && name_size == 12 && std::memcmp(name, "USER_DEFINED", 12) == 0) {
            // <USER_DEFINED parameter="TLE_LINE1">: the parameter names the keyword.
            key = other;
            if (closing) {
                if (leaf == tle_line1 || leaf == tle_line2) key = leaf;
            } else if (const char* at_name = static_cast<const char*>(memmem(
                           name + name_size, c.p + k - (name + name_size), "parameter=", 10))) {
                const char* q = at_name + 10;
                if (q < c.p + k && (*q == '"' || *q == '\'')) {
                    const char* close = static_cast<const char*>(
                        std::memchr(q + 1, *q, static_cast<std::size_t>(c.p + k - (q + 1))));
                    if (close) {
                        const Key named = find_key(q + 1, static_cast<std::size_t>(close - q - 1));
                        if (named == tle_line1 || named == tle_line2) key = named;
                    }
                }
            }
        }
        if (closing) {
            if (leaf != other && key == leaf) {
                const char* text = c.p + leaf_start;
                std::size_t text_size = at - leaf_start;
                if (!leaf_plain) {
                    std::string out;
                    if (!detail::xml_text(text, text_size, out, why)) {
                        sink.fault(leaf_line, leaf_column, why);
                    }
                    text = detail::keep(arena, std::move(out));
                    text_size = arena.back().size();
                }
                sink.value(leaf, text, text_size, leaf_line, leaf_column, false);
                leaf = other;
            } else if (is_omm) {
                c.advance_to(k + 1);
                close_record(nullptr);
                continue;
            }
        } else if (is_omm) {
            close_record("an <omm> element inside another");
            sink.begin(line, column);
            open = !empty;
            if (empty) sink.end();
        } else if (key < value_count) {
            if (leaf != other) sink.fault(line, column, "an element inside a keyword's element");
            if (empty) {
                sink.value(key, c.p + k, 0, line, column, false);
            } else {
                leaf = key;
                leaf_start = k + 1;
                leaf_line = line;
                leaf_column = c.column_of(k + 1);
                leaf_plain = true;
            }
        }
        c.advance_to(k + 1);
    }
    close_record("the <omm> element is not closed");
}

// ---- KVN ------------------------------------------------------------------------------------

/// KVN: "KEY = value" lines; CCSDS_OMM_VERS starts a record, as does the first keyword after
/// the end of the text before. COMMENT lines, blank lines and *_START / *_STOP lines are passed
/// over; a value may end with its unit in brackets ("[deg]"), which is dropped from numbers.
template <class Sink>
void kvn_records(const char* data, const Piece& piece, Sink& sink) {
    detail::Cursor c{data, piece.end, piece.begin, piece.first_line, piece.line_start};
    if (piece.begin == 0) c.skip_bom();
    bool open = false;
    while (!c.done() && !sink.stopped()) {
        const std::size_t start = c.i;
        const char* nl = static_cast<const char*>(std::memchr(c.p + start, '\n', c.n - start));
        const std::size_t end = nl ? static_cast<std::size_t>(nl - c.p) : c.n;
        std::size_t a = start, b = end;
        while (a < b && detail::is_space(c.p[a])) ++a;
        while (b > a && detail::is_space(c.p[b - 1])) --b;
        const std::int64_t line = c.line;
        const auto next_line = [&] {
            c.i = end;
            if (!c.done()) c.step();
        };
        const char* s = c.p + a;
        const std::size_t len = b - a;
        if (len == 0 || (len >= 7 && std::memcmp(s, "COMMENT", 7) == 0 &&
                         (len == 7 || detail::is_space(s[7])))) {
            next_line();
            continue;
        }
        const char* eq = static_cast<const char*>(std::memchr(s, '=', len));
        if (!eq) {
            const bool marker = (len > 6 && std::memcmp(s + len - 6, "_START", 6) == 0) ||
                                (len > 5 && std::memcmp(s + len - 5, "_STOP", 5) == 0);
            if (!marker) {
                if (!open) sink.begin(line, c.column_of(a));
                open = true;
                sink.fault(line, c.column_of(a), "line is not KEY = value");
            }
            next_line();
            continue;
        }
        std::size_t key_end = static_cast<std::size_t>(eq - c.p);
        while (key_end > a && detail::is_space(c.p[key_end - 1])) --key_end;
        std::size_t v = static_cast<std::size_t>(eq - c.p) + 1, w = b;
        while (v < w && detail::is_space(c.p[v])) ++v;
        const Key key = find_key(s, key_end - a);
        if (key == ccsds_omm_vers) {
            if (open) sink.end();
            if (sink.stopped()) return;
            sink.begin(line, c.column_of(a));
            open = true;
        } else if (key < value_count) {
            if (!open) sink.begin(line, c.column_of(a));
            open = true;
            if (key != object_name && key != object_id && w > v && c.p[w - 1] == ']') {
                const char* unit = static_cast<const char*>(std::memchr(c.p + v, '[', w - v));
                if (unit) {
                    w = static_cast<std::size_t>(unit - c.p);
                    while (w > v && detail::is_space(c.p[w - 1])) --w;
                }
            }
            sink.value(key, c.p + v, w - v, line, c.column_of(v), false);
        }
        next_line();
    }
    if (open) sink.end();
}

/// KVN cut into pieces of about `target` bytes, each at a line that starts a record
/// (CCSDS_OMM_VERS in its first column): KVN has no text over several lines, so every such
/// cut is a record's start.
inline std::vector<Piece> kvn_pieces(const char* data, const std::size_t size,
                                     const std::size_t target) {
    std::vector<Piece> out;
    Piece cur{0, size, 1, 0};
    static constexpr char mark[] = "\nCCSDS_OMM_VERS";
    while (cur.end - cur.begin > 2 * target) {
        const std::size_t at = cur.begin + target;
        const char* hit =
            static_cast<const char*>(memmem(data + at, cur.end - at, mark, sizeof mark - 1));
        if (!hit) break;
        const std::size_t split = static_cast<std::size_t>(hit - data) + 1;
        const auto lines = detail::count_of(data + cur.begin, data + split, '\n');
        out.push_back(cur);
        out.back().end = split;
        cur = {split, cur.end, cur.first_line + lines, split};
    }
    out.push_back(cur);
    return out;
}

/// The whole KVN text, on one thread.
template <class Sink>
void read_kvn(const char* data, const std::size_t size, Sink& sink, Arena&) {
    kvn_records(data, Piece{0, size, 1, 0}, sink);
}

}  // namespace orbivex::kern::omm
