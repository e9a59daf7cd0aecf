// Faults of two-line element sets: the reasons a set is refused, where, and their texts.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orbivex::kern::tle {

/// Why a set is refused. Within a line the checks run in this order: characters (control,
/// non-ASCII), the line number, the length, the fields and separators left to right, the
/// checksum; line 1 before line 2. A missing line comes before everything else.
enum class Reason : std::uint8_t {
    none,
    missing_line1,
    missing_line2,
    control_character,
    non_ascii,
    line_number,
    length,
    blank,
    satno,
    satno_mismatch,
    classification,
    intldes,
    epoch_year,
    epoch_day,
    epoch_day_range,
    ndot,
    nddot,
    bstar,
    ephemeris_type,
    element_number,
    inc,
    raa,
    ecc,
    arp,
    mea,
    mnm,
    mnm_not_positive,
    revolution,
    checksum_character,
    checksum,
};
inline constexpr int reason_count = static_cast<int>(Reason::checksum) + 1;

/// The first fault of a set. `line` is the line of the set (1 or 2) and `column` the 1-based
/// byte column where the form breaks; `found` and `expected` are the numbers the reason's text
/// shows (a byte, a count, a catalogue number, a checksum digit).
struct Fault {
    Reason reason = Reason::none;
    std::uint8_t line = 0;
    std::int32_t column = 0;
    std::int64_t found = 0;
    std::int64_t expected = 0;

    bool ok() const noexcept { return reason == Reason::none; }
};

/// A reason's identifier and its text. In the text {line}, {column}, {found} and {expected}
/// stand for the numbers of the fault, {byte} for `found` as two hexadecimal digits and {char}
/// for `found` as a quoted character.
struct ReasonInfo {
    const char* name;
    const char* text;
};

inline constexpr ReasonInfo reasons[reason_count] = {
    {"none", "no fault"},
    {"missing_line1", "line 2 without its line 1"},
    {"missing_line2", "line 1 without its line 2"},
    {"control_character", "line {line} column {column}: control character 0x{byte}"},
    {"non_ascii", "line {line} column {column}: byte 0x{byte} is not ASCII"},
    {"line_number", "line {line} column 1: line number is {char}, expected {expected}"},
    {"length", "line {line} has {found} characters, expected 69"},
    {"blank", "line {line} column {column}: {char} where a blank belongs"},
    {"satno", "line {line} column {column}: catalogue number is not five digits or Alpha-5"},
    {"satno_mismatch", "line 2 catalogue number is {found}, line 1 has {expected}"},
    {"classification", "line 1 column {column}: classification is not a capital letter"},
    {"intldes",
     "line 1 column {column}: international designator is not YYNNN and one to three capital "
     "letters, or blank"},
    {"epoch_year", "line 1 column {column}: epoch year is not two digits"},
    {"epoch_day", "line 1 column {column}: epoch day is not DDD.DDDDDDDD"},
    {"epoch_day_range", "line 1 epoch day {found} is not in 1-{expected}, the days of its year"},
    {"ndot", "line 1 column {column}: first derivative of mean motion is not S.NNNNNNNN"},
    {"nddot", "line 1 column {column}: second derivative of mean motion is not SNNNNNSN"},
    {"bstar", "line 1 column {column}: drag term is not SNNNNNSN"},
    {"ephemeris_type", "line 1 column {column}: ephemeris type is not a digit"},
    {"element_number", "line 1 column {column}: element set number is not a right-aligned number"},
    {"inc", "line 2 column {column}: inclination is not NNN.NNNN"},
    {"raa", "line 2 column {column}: right ascension of the node is not NNN.NNNN"},
    {"ecc", "line 2 column {column}: eccentricity is not seven digits"},
    {"arp", "line 2 column {column}: argument of perigee is not NNN.NNNN"},
    {"mea", "line 2 column {column}: mean anomaly is not NNN.NNNN"},
    {"mnm", "line 2 column {column}: mean motion is not NN.NNNNNNNN"},
    {"mnm_not_positive", "line 2 mean motion is not greater than 0"},
    {"revolution", "line 2 column {column}: revolution number is not a right-aligned number"},
    {"checksum_character", "line {line} column 69: checksum {char} is not a digit"},
    {"checksum", "line {line} checksum is {found}, computed {expected}"},
};

inline const ReasonInfo& reason_info(const Reason r) noexcept {
    return reasons[static_cast<int>(r)];
}

/// Writes the reason text of `f` into `out` (NUL-terminated, cut to `size` - 1 characters) and
/// returns the length of the whole text, as snprintf does.
inline std::size_t fault_text(const Fault& f, char* out, const std::size_t size) noexcept {
    std::size_t n = 0;
    const auto put = [&](const char* s, std::size_t len) {
        for (std::size_t k = 0; k < len; ++k, ++n)
            if (n + 1 < size) out[n] = s[k];
    };
    const auto put_number = [&](std::int64_t v) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        put(digits, static_cast<std::size_t>(r.ptr - digits));
    };
    for (const char* p = reason_info(f.reason).text; *p;) {
        if (*p != '{') {
            put(p++, 1);
            continue;
        }
        const char* end = std::strchr(p, '}');
        const std::size_t len = static_cast<std::size_t>(end - p - 1);
        const auto is = [&](const char* key) {
            return std::strlen(key) == len && std::strncmp(p + 1, key, len) == 0;
        };
        if (is("line")) {
            put_number(f.line);
        } else if (is("column")) {
            put_number(f.column);
        } else if (is("found")) {
            put_number(f.found);
        } else if (is("expected")) {
            put_number(f.expected);
        } else if (is("byte")) {
            static constexpr char hex[] = "0123456789ABCDEF";
            const char b[2] = {hex[(f.found >> 4) & 15], hex[f.found & 15]};
            put(b, 2);
        } else if (is("char")) {
            const char q[3] = {'\'', static_cast<char>(f.found), '\''};
            put(q, 3);
        }
        p = end + 1;
    }
    if (size > 0) out[n < size ? n : size - 1] = '\0';
    return n;
}

}  // namespace orbivex::kern::tle
