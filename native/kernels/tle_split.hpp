// Splitting text into element sets: two-line and three-line text (a name line before line 1,
// also as "0 NAME"), blank lines, LF or CRLF, with the line number of every line kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/tle_scan.hpp"

namespace orbivex::kern::tle {

/// One line of the text without its end and trailing white space; `number` is 1-based, 0 when
/// the line is absent.
struct TextLine {
    const char* text = nullptr;
    std::size_t size = 0;
    std::int64_t number = 0;

    bool present() const noexcept { return number != 0; }
};

/// The lines of one set. A set always has line 1 or line 2; a missing one is absent (text
/// null), which parse() reports as the set's fault. The name is absent in two-line text and
/// holds the text after "0 " for a "0 NAME" line.
struct SetText {
    TextLine name, line1, line2;

    /// Line number where the set starts: its name, else its first element line.
    std::int64_t first_line() const noexcept {
        return name.present() ? name.number : line1.present() ? line1.number : line2.number;
    }
};

/// The first '\n' in [p, end), or end. Lines are short, so an inline loop of 16-byte compares
/// beats a library call.
inline const char* find_newline(const char* p, const char* const end) noexcept {
#ifdef ORBIVEX_TLE_SSE2
    const __m128i nl = _mm_set1_epi8('\n');
    for (; end - p >= 16; p += 16) {
        const int m = _mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), nl));
        if (m != 0) return p + __builtin_ctz(static_cast<unsigned>(m));
    }
#endif
    const void* q = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    return q ? static_cast<const char*>(q) : end;
}

/// End of [begin, end) without trailing blanks, tabs, CR, VT and FF.
inline const char* trim_end(const char* begin, const char* end) noexcept {
    // Names padded to 24 columns end in runs of blanks: eight at a time first.
    while (end - begin >= 8 && std::memcmp(end - 8, "        ", 8) == 0) end -= 8;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\r' || end[-1] == '\t' ||
                           end[-1] == '\v' || end[-1] == '\f'))
        --end;
    return end;
}

/// What a non-blank line is taken for.
enum class LineKind : std::uint8_t { name, line1, line2 };

/// Shortest line taken for an element line: names are at most 24 characters (a "0 " line is
/// always a name), and a damaged element line is rarely cut below this.
inline constexpr std::size_t min_element_line = 25;

/// A line 1 has its epoch's point in column 24, a line 2 the points of inclination and node in
/// columns 12 and 21; where exactly one of the two patterns fits, it decides, so that a damaged
/// line number still leaves the line in its place. Otherwise the first non-blank character
/// does ("1" or "2"); anything else is a name.
inline LineKind line_kind(const TextLine& l) noexcept {
    const char* p = l.text;
    const std::size_t n = l.size;
    if (n >= 2 && p[0] == '0' && p[1] == ' ') return LineKind::name;
    if (n < min_element_line) return LineKind::name;
    const bool shape1 = n > 23 && p[23] == '.';
    const bool shape2 = p[11] == '.' && p[20] == '.';
    if (shape1 != shape2) return shape1 ? LineKind::line1 : LineKind::line2;
    std::size_t i = 0;
    while (i < n && p[i] == ' ') ++i;
    if (p[i] == '1') return LineKind::line1;
    if (p[i] == '2') return LineKind::line2;
    return LineKind::name;
}

/// Reads sets one after another from a buffer, without copying or allocating: the lines of a
/// SetText point into the buffer. A line 1 takes the next non-blank line as its line 2 when
/// that is taken for a line 2; otherwise the set has no line 2 and the line starts the next
/// set. A line 2 without a line 1 before it is a set of its own. A name applies to the next
/// set; a name followed by another name is dropped. A UTF-8 byte-order mark at the start of
/// the buffer is skipped.
class Splitter {
public:
    /// `first_line` is the number of the buffer's first line (for a buffer that continues
    /// earlier text).
    Splitter(const char* data, const std::size_t size, const std::int64_t first_line = 1) noexcept
        : data_(data), size_(size), line_(first_line) {
        if (first_line == 1 && size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    }

    /// The next set; false at the end of the buffer.
    bool next(SetText& out) noexcept {
        out = SetText{};
        TextLine l;
        while (take(l)) {
            switch (line_kind(l)) {
            case LineKind::name:
                if (l.size >= 2 && l.text[0] == '0' && l.text[1] == ' ') {
                    l.text += 2;
                    l.size -= 2;
                }
                out.name = l;
                continue;
            case LineKind::line2: out.line2 = l; return true;
            case LineKind::line1:
                out.line1 = l;
                if (take(l)) {
                    if (line_kind(l) == LineKind::line2) {
                        out.line2 = l;
                    } else {
                        held_ = l;
                    }
                }
                return true;
            }
        }
        return false;
    }

    /// Bytes read so far (a line held back for the next set counts as read).
    std::size_t position() const noexcept { return pos_; }

private:
    /// The held-back line, or the next non-blank line with trailing white space removed.
    bool take(TextLine& l) noexcept {
        if (held_.present()) {
            l = held_;
            held_ = TextLine{};
            return true;
        }
        while (pos_ < size_) {
            const char* begin = data_ + pos_;
            const char* end = find_newline(begin, data_ + size_);
            pos_ = static_cast<std::size_t>(end - data_) + (end < data_ + size_ ? 1 : 0);
            const std::int64_t number = line_++;
            end = trim_end(begin, end);
            if (end == begin) continue;
            l = TextLine{begin, static_cast<std::size_t>(end - begin), number};
            return true;
        }
        return false;
    }

    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::int64_t line_;
    TextLine held_;
};

/// Number of line ends in [p, p + size): with the count of the text before a chunk, the number
/// of the chunk's first line.
inline std::int64_t count_newlines(const char* p, const std::size_t size) noexcept {
    std::int64_t n = 0;
    const char* const end = p + size;
    for (p = find_newline(p, end); p < end; p = find_newline(p + 1, end)) ++n;
    return n;
}

/// Where text may be cut into chunks that split alone as the whole text splits: just after the
/// first line taken for a line 2 that starts at or after `from` (no set is open after such a
/// line), or `size` when there is none. A Splitter over [cut, next cut) with the number of the
/// line at `cut` yields exactly the sets of the whole text in that range.
inline std::size_t split_point(const char* data, const std::size_t size,
                               const std::size_t from) noexcept {
    const char* const end = data + size;
    if (from >= size) return size;
    const char* p = data + from;
    if (from > 0 && p[-1] != '\n') {  // from the start of the next line
        p = find_newline(p, end);
        if (p == end) return size;
        ++p;
    }
    while (p < end) {
        const char* e = find_newline(p, end);
        const char* next = e < end ? e + 1 : end;
        e = trim_end(p, e);
        if (e > p && line_kind(TextLine{p, static_cast<std::size_t>(e - p), 1}) == LineKind::line2)
            return static_cast<std::size_t>(next - data);
        p = next;
    }
    return size;
}

}  // namespace orbivex::kern::tle
