// JSON orbit mean-element messages (an array of objects, or one object): see omm_syntax.hpp.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernels/omm_syntax.hpp"

namespace orbivex::kern::omm {

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
    // Most strings hold no escape and no line end: they end at the first stop.
    const char* stop = first_of<'"', '\\', '\n'>(c.p + start, c.p + c.n);
    if (stop < c.p + c.n && *stop == '"') {
        text = c.p + start;
        size = static_cast<std::size_t>(stop - text);
        c.i = static_cast<std::size_t>(stop - c.p) + 1;
        return true;
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

/// The end of a token (a number, null, true, false or any other text that is no string) from
/// `q`: the first ',', '}', ']' or blank, eight bytes at a time; `end` for none.
inline const char* token_end(const char* q, const char* end) noexcept {
    for (; end - q >= 8; q += 8) {
        const std::uint64_t w = load8(q);
        const std::uint64_t m = bytes_of(w, ',') | bytes_of(w, '}') | bytes_of(w, ']') |
                                bytes_of(w, ' ') | bytes_of(w, '\n') | bytes_of(w, '\r') |
                                bytes_of(w, '\t');
        if (m) return q + std::countr_zero(m) / 8;
    }
    while (q < end && !json_token_end(*q)) ++q;
    return q;
}

/// The member names of the record before, by place: the next record most likely names its
/// members in the same order, and each is then known by comparing its text alone.
struct MemberOrder {
    static constexpr std::size_t places = 32;
    std::int8_t name[places];  ///< index of all_names, -1 for none known
    MemberOrder() noexcept { std::memset(name, -1, sizeof name); }
};

/// One object from its '{' as a record.
template <class Sink>
void json_object(Cursor& c, Sink& sink, Arena& arena, MemberOrder& order) {
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
    for (std::size_t place = 0;; ++place) {
        json_space(c);
        if (c.done()) return broken("the object is not closed");
        if (c.p[c.i] != '"') return broken("expected a member name in quotes");
        Key key = other;
        // The name of this place in the record before, quoted and followed by ':'.
        const int guess = place < MemberOrder::places ? order.name[place] : -1;
        const std::size_t guess_size = guess < 0 ? 0 : key_table.size[guess];
        if (guess >= 0 && c.n - c.i > guess_size + 2 && c.p[c.i + guess_size + 1] == '"' &&
            c.p[c.i + guess_size + 2] == ':' && same_name(c.p + c.i + 1, guess_size, guess)) {
            key = all_names[guess].key;
            c.i += guess_size + 3;
        } else {
            const char* name = nullptr;
            std::size_t name_size = 0;
            if (!json_string(c, name, name_size, arena, why)) return broken(why);
            const int found = find_name(name, name_size);
            key = key_of_name(found);
            if (place < MemberOrder::places) order.name[place] = static_cast<std::int8_t>(found);
            json_space(c);
            if (c.done() || c.p[c.i] != ':') return broken("expected ':' after a member name");
            c.step();
        }
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
            c.i = static_cast<std::size_t>(token_end(c.p + start, c.p + c.n) - c.p);
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
        detail::MemberOrder order;
        detail::json_object(c, sink, arena, order);
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
    detail::MemberOrder order;
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
            detail::json_object(c, sink, arena, order);
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
    return cut_pieces(data, elements, target, [data](const Piece& cur, std::size_t at) {
        while (at < cur.end) {
            const char* close = static_cast<const char*>(std::memchr(data + at, '}', cur.end - at));
            if (!close) break;
            std::size_t k = static_cast<std::size_t>(close - data) + 1;
            while (k < cur.end && detail::is_space(data[k])) ++k;
            if (k < cur.end && data[k] == ',') {
                ++k;
                while (k < cur.end && detail::is_space(data[k])) ++k;
                if (k < cur.end && data[k] == '{') return k;
            }
            at = static_cast<std::size_t>(close - data) + 1;
        }
        return std::size_t{0};
    });
}

/// The whole JSON text, on one thread.
template <class Sink>
void read_json(const char* data, const std::size_t size, Sink& sink, Arena& arena) {
    Piece elements;
    if (json_array(data, size, sink, arena, elements)) json_elements(data, elements, sink, arena);
}

}  // namespace orbivex::kern::omm
