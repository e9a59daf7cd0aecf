// XML and KVN orbit mean-element messages: see omm_syntax.hpp.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernels/omm_syntax.hpp"

namespace orbivex::kern::omm {

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

/// The end of a tag's name from `q`: the first blank, '>' or '/' before `end`, eight bytes
/// at a time.
inline const char* name_end(const char* q, const char* end) noexcept {
    for (; end - q >= 8; q += 8) {
        const std::uint64_t w = load8(q);
        const std::uint64_t m = bytes_of(w, ' ') | bytes_of(w, '\n') | bytes_of(w, '\r') |
                                bytes_of(w, '\t') | bytes_of(w, '>') | bytes_of(w, '/');
        if (m) return q + std::countr_zero(m) / 8;
    }
    while (q < end && !is_space(*q) && *q != '>' && *q != '/') ++q;
    return q;
}

/// The local name of a tag (after any namespace prefix) from `p`: its length in `n`.
inline void xml_name(const char* p, const char* end, const char*& name, std::size_t& n) noexcept {
    const char* q = name_end(p, end);
    const void* colon = q > p ? memrchr(p, ':', static_cast<std::size_t>(q - p)) : nullptr;
    name = colon ? static_cast<const char*>(colon) + 1 : p;
    n = static_cast<std::size_t>(q - name);
}

}  // namespace detail

/// The XML document: each <omm> element (of any namespace prefix) is a record and every
/// element within it that is named by a keyword gives that keyword's text, wherever it is
/// nested (<metadata>, <meanElements>, <tleParameters>). Declarations, comments and other
/// elements are passed over.
///
/// The records of a piece that starts at a tag outside any record (or at the text's start).
/// True when the piece ends cleanly: outside any record, tag, comment, CDATA section or
/// declaration (or when the sink stopped before its end), so that the next piece starts where
/// the whole text read at once would be at that point.
template <class Sink>
bool xml_records(const char* data, const Piece& piece, Sink& sink, Arena& arena) {
    detail::Cursor c{data, piece.end, piece.begin, piece.first_line, piece.line_start};
    if (piece.begin == 0) c.skip_bom();
    bool open = false;     // inside an <omm> element
    bool cut_off = false;  // the piece ended inside a tag, comment, section or declaration
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
            if (!hit) {
                cut_off = true;
                close_record(what);
            }
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
        for (;;) {
            const char* stop = detail::first_of<'>', '"', '\''>(c.p + k, c.p + c.n);
            k = static_cast<std::size_t>(stop - c.p);
            if (k >= c.n || *stop == '>') break;
            const void* close = std::memchr(stop + 1, *stop, c.n - k - 1);
            k = close ? static_cast<std::size_t>(static_cast<const char*>(close) - c.p) + 1 : c.n;
        }
        if (k >= c.n) {
            c.advance_to(c.n);
            close_record("a tag is not closed");
            return false;
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
    if (cut_off) return false;
    if (sink.stopped()) return true;
    const bool clean = !open;
    close_record("the <omm> element is not closed");
    return clean;
}

/// XML cut into pieces of about `target` bytes, each at an unprefixed "<omm" tag. The text
/// may hold that inside a comment, a section or an attribute value: a piece before such a cut
/// does not end cleanly (xml_records false), which shows the cut was wrong.
inline std::vector<Piece> xml_pieces(const char* data, const std::size_t size,
                                     const std::size_t target) {
    return cut_pieces(data, Piece{0, size, 1, 0}, target, [data](const Piece& cur, std::size_t at) {
        for (;;) {
            const char* hit = static_cast<const char*>(memmem(data + at, cur.end - at, "<omm", 4));
            if (!hit || hit + 4 >= data + cur.end) return std::size_t{0};
            const char next = hit[4];
            if (next == '>' || next == '/' || detail::is_space(next))
                return static_cast<std::size_t>(hit - data);
            at = static_cast<std::size_t>(hit - data) + 4;
        }
    });
}

/// The whole XML text, on one thread.
template <class Sink>
void read_xml(const char* data, const std::size_t size, Sink& sink, Arena& arena) {
    xml_records(data, Piece{0, size, 1, 0}, sink, arena);
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
    // The keys of the record before by their place in it (lines from CCSDS_OMM_VERS): the
    // next record most likely has the same lines, each then known by comparing its text
    // with the one before, whether a keyword or not.
    constexpr std::size_t places = 64;
    struct Seen {
        const char* text = nullptr;
        std::size_t size = 0;
        Key key = other;
    } seen[places];
    std::size_t place = 0;
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
        const std::size_t key_size = key_end - a;
        Key key = other;
        if (place < places && seen[place].size == key_size && seen[place].text &&
            detail::same_bytes(s, seen[place].text, key_size)) {
            key = seen[place].key;
        } else {
            key = find_key(s, key_size);
            if (place < places) seen[place] = {s, key_size, key};
        }
        place = key == ccsds_omm_vers ? 1 : place + 1;
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
