// Values of orbit mean-element messages: the keywords, decimal text to the double it rounds to,
// the shortest decimal of a stored value, epochs as exact nanoseconds, designators, and one
// record's texts checked and turned into the fields of an element set.
#pragma once

#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "kernels/civil_time.hpp"
#include "kernels/tle_format.hpp"

namespace orbivex::kern::omm {

// ---- keywords -------------------------------------------------------------------------------

/// The keywords of a record the reader takes. The header and metadata keywords are accepted
/// and not read (the frame, time system and theory are those of element sets by definition).
enum Key : std::uint8_t {
    object_name,
    object_id,
    epoch,
    mean_motion,
    eccentricity,
    inclination,
    ra_of_asc_node,
    arg_of_pericenter,
    mean_anomaly,
    ephemeris_type,
    classification_type,
    norad_cat_id,
    element_set_no,
    rev_at_epoch,
    bstar,
    mean_motion_dot,
    mean_motion_ddot,
    key_count,  ///< the keywords of the values
    // The set's two-line text, beside the values (as one publisher gives it, TLE_LINE1 and
    // TLE_LINE2): kept as the catalogue's lines when it reads to the same values.
    tle_line1 = key_count,
    tle_line2,
    value_count,
    ccsds_omm_vers = value_count,  ///< starts a record of KVN text
    other,                         ///< any other keyword: ignored
};

/// The keywords in the order the publishers list them (CSV columns, JSON members).
inline constexpr const char* key_names[value_count] = {
    "OBJECT_NAME",     "OBJECT_ID",           "EPOCH",
    "MEAN_MOTION",     "ECCENTRICITY",        "INCLINATION",
    "RA_OF_ASC_NODE",  "ARG_OF_PERICENTER",   "MEAN_ANOMALY",
    "EPHEMERIS_TYPE",  "CLASSIFICATION_TYPE", "NORAD_CAT_ID",
    "ELEMENT_SET_NO",  "REV_AT_EPOCH",        "BSTAR",
    "MEAN_MOTION_DOT", "MEAN_MOTION_DDOT",    "TLE_LINE1",
    "TLE_LINE2",
};

/// Whether a record may leave the keyword out: the name (None), the designator (blank), the
/// classification (U) and the ephemeris type (0). Every other one is needed.
inline constexpr bool optional_key(const Key k) noexcept {
    return k == object_name || k == object_id || k == classification_type || k == ephemeris_type;
}

namespace detail {

/// Slot of a name among 64: its length and three of its bytes, mixed by one product. The
/// factor was searched for so that the names the reader knows take a slot each (a name not
/// known may share one: the compare decides).
constexpr std::uint32_t slot_of(const char* p, const std::size_t n) noexcept {
    if (n == 0) return 0;
    const auto at = [p](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(p[i])}; };
    const std::uint32_t mix =
        (static_cast<std::uint32_t>(n) << 16) ^ (at(0) << 8) ^ at(n - 1) ^ (at(n / 2) << 4);
    return (mix * 0x6ec9d287u) >> 26;
}

constexpr std::size_t length(const char* s) noexcept {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

/// Every name the reader knows, with its keyword: KVN gives the lines as user-defined
/// parameters.
struct KeyName {
    const char* name;
    Key key;
};
inline constexpr int name_count = value_count + 3;
inline constexpr KeyName all_names[name_count] = {
    {"OBJECT_NAME", object_name},
    {"OBJECT_ID", object_id},
    {"EPOCH", epoch},
    {"MEAN_MOTION", mean_motion},
    {"ECCENTRICITY", eccentricity},
    {"INCLINATION", inclination},
    {"RA_OF_ASC_NODE", ra_of_asc_node},
    {"ARG_OF_PERICENTER", arg_of_pericenter},
    {"MEAN_ANOMALY", mean_anomaly},
    {"EPHEMERIS_TYPE", ephemeris_type},
    {"CLASSIFICATION_TYPE", classification_type},
    {"NORAD_CAT_ID", norad_cat_id},
    {"ELEMENT_SET_NO", element_set_no},
    {"REV_AT_EPOCH", rev_at_epoch},
    {"BSTAR", bstar},
    {"MEAN_MOTION_DOT", mean_motion_dot},
    {"MEAN_MOTION_DDOT", mean_motion_ddot},
    {"TLE_LINE1", tle_line1},
    {"TLE_LINE2", tle_line2},
    {"USER_DEFINED_TLE_LINE1", tle_line1},
    {"USER_DEFINED_TLE_LINE2", tle_line2},
    {"CCSDS_OMM_VERS", ccsds_omm_vers},
};

/// Open addressing over 64 slots: a keyword is found with one cheap hash and one comparison,
/// which matters at 17 keywords a record.
struct KeyTable {
    std::uint8_t slot[64];
    std::uint8_t size[name_count];
    char text[name_count][24];  ///< the names NUL-padded, so that words of them can be read
    constexpr KeyTable() : slot(), size(), text() {
        for (auto& s : slot) s = 0xFF;
        for (int k = 0; k < name_count; ++k) {
            const char* name = all_names[k].name;
            std::uint32_t i = slot_of(name, length(name));
            while (slot[i] != 0xFF) i = (i + 1) & 63u;
            slot[i] = static_cast<std::uint8_t>(k);
            size[k] = static_cast<std::uint8_t>(length(name));
            for (std::size_t j = 0; j < length(name); ++j) text[k][j] = name[j];
        }
    }
};
inline constexpr KeyTable key_table{};

constexpr bool each_name_in_its_own_slot() {
    for (int k = 0; k < name_count; ++k)
        if (length(all_names[k].name) < 5 || length(all_names[k].name) > 22) return false;
    for (int k = 0; k < name_count; ++k)
        if (key_table.slot[slot_of(all_names[k].name, length(all_names[k].name))] != k)
            return false;
    return true;
}
static_assert(each_name_in_its_own_slot(), "a name of other length, or one that shares its slot");

/// Whether the `n` bytes at `a` and `b` are equal: in words that overlap rather than pass the
/// end of either.
inline bool same_bytes(const char* a, const char* b, const std::size_t n) noexcept {
    const auto word = [](const char* s, std::size_t at, auto zero) {
        decltype(zero) v;
        std::memcpy(&v, s + at, sizeof v);
        return v;
    };
    if (n >= 8) {
        std::uint64_t diff = word(a, n - 8, std::uint64_t{}) ^ word(b, n - 8, std::uint64_t{});
        for (std::size_t i = 0; i + 8 <= n; i += 8)
            diff |= word(a, i, std::uint64_t{}) ^ word(b, i, std::uint64_t{});
        return diff == 0;
    }
    if (n >= 4)
        return word(a, 0, std::uint32_t{}) == word(b, 0, std::uint32_t{}) &&
               word(a, n - 4, std::uint32_t{}) == word(b, n - 4, std::uint32_t{});
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

/// Whether the `n` bytes at `p` are name `k`, which has that length.
inline bool same_name(const char* p, const std::size_t n, const int k) noexcept {
    return same_bytes(p, key_table.text[k], n);
}

}  // namespace detail

/// Which of the names the reader knows the text `p`, `n` bytes is (exact, upper case), as an
/// index of detail::all_names; -1 for none.
inline int find_name(const char* p, const std::size_t n) noexcept {
    for (std::uint32_t i = detail::slot_of(p, n);; i = (i + 1) & 63u) {
        const std::uint8_t k = detail::key_table.slot[i];
        if (k == 0xFF) return -1;
        if (detail::key_table.size[k] == n && detail::same_name(p, n, k)) return k;
    }
}

/// The keyword of a name's index from find_name.
inline Key key_of_name(const int k) noexcept { return k < 0 ? other : detail::all_names[k].key; }

/// The keyword of the text `p`, `n` bytes (exact, upper case); `other` for one not read.
inline Key find_key(const char* p, const std::size_t n) noexcept {
    return key_of_name(find_name(p, n));
}

// ---- decimals -------------------------------------------------------------------------------

/// The double that decimal text rounds to (to nearest, ties to even), as strtod gives it:
/// an optional sign, digits with an optional point (digits on at least one side), an optional
/// exponent. No blanks, no "inf" or "nan". False for any other text.
///
/// Digits whose integer is at most 2^53 and a power of ten up to 22 take TLE's path: the digits
/// and the power are exact doubles, and the one division or product rounds correctly. Other
/// text goes to from_chars, which rounds correctly too, so both give the same double for the
/// same number.
inline bool parse_decimal(const char* p, const std::size_t n, double& out) noexcept {
    {
        // The usual text, [-]digits[.digits][e[-]digits] of up to 19 digits, in one pass.
        const char* q = p + (n > 0 && (p[0] == '-' || p[0] == '+'));
        const char* end = p + n;
        const char* first = q;
        std::uint64_t m = 0;
        while (q < end && static_cast<unsigned char>(*q - '0') <= 9)
            m = m * 10 + static_cast<unsigned>(*q++ - '0');
        std::ptrdiff_t digits = q - first, fraction = 0;
        if (q < end && *q == '.') {
            const char* f = ++q;
            while (q < end && static_cast<unsigned char>(*q - '0') <= 9)
                m = m * 10 + static_cast<unsigned>(*q++ - '0');
            fraction = q - f;
            digits += fraction;
        }
        std::ptrdiff_t scale = -fraction;
        if (q < end && (*q == 'e' || *q == 'E') && end - q >= 2 && end - q <= 5) {
            // An exponent of up to three digits and its sign.
            const char* e = q + 1 + (q[1] == '-' || q[1] == '+');
            std::ptrdiff_t power = 0;
            const char* d = e;
            while (d < end && static_cast<unsigned char>(*d - '0') <= 9)
                power = power * 10 + (*d++ - '0');
            if (d == end && d > e) {
                scale += q[1] == '-' ? -power : power;
                q = end;
            }
        }
        if (q == end && digits > 0 && digits <= 19 && scale >= -22 && scale <= 22 &&
            m <= (std::uint64_t{1} << 53)) {
            const double v = scale < 0 ? tle::detail::decimal(static_cast<std::int64_t>(m),
                                                              static_cast<int>(-scale))
                                       : static_cast<double>(m) * tle::detail::pow10[scale];
            out = p[0] == '-' ? -v : v;
            return true;
        }
    }
    std::size_t i = 0;
    const bool negative = n > 0 && p[0] == '-';
    if (n > 0 && (p[0] == '-' || p[0] == '+')) i = 1;
    const std::size_t start = i;
    std::uint64_t m = 0;
    int digits = 0, scale = 0;  // significant digits in m; the power of ten m is scaled by
    bool seen = false, dropped = false;
    for (; i < n && static_cast<unsigned char>(p[i] - '0') <= 9; ++i) {
        seen = true;
        if (m == 0 && p[i] == '0') continue;
        if (digits < 19) {
            m = m * 10 + static_cast<unsigned>(p[i] - '0');
            ++digits;
        } else {
            ++scale;
            dropped |= p[i] != '0';
        }
    }
    if (i < n && p[i] == '.') {
        for (++i; i < n && static_cast<unsigned char>(p[i] - '0') <= 9; ++i) {
            seen = true;
            if (m == 0 && p[i] == '0') {
                --scale;
                continue;
            }
            if (digits < 19) {
                m = m * 10 + static_cast<unsigned>(p[i] - '0');
                ++digits;
                --scale;
            } else {
                dropped |= p[i] != '0';
            }
        }
    }
    if (!seen) return false;
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        bool minus = false;
        if (i < n && (p[i] == '-' || p[i] == '+')) minus = p[i++] == '-';
        if (i == n) return false;
        int e = 0;
        for (; i < n && static_cast<unsigned char>(p[i] - '0') <= 9; ++i)
            if (e < 100000) e = e * 10 + (p[i] - '0');
        scale += minus ? -e : e;
    }
    if (i != n) return false;
    double v = 0.0;
    if (m == 0) {
        v = 0.0;
    } else if (!dropped && m <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
        v = scale < 0 ? tle::detail::decimal(static_cast<std::int64_t>(m), -scale)
                      : static_cast<double>(m) * tle::detail::pow10[scale];
    } else {
        const auto r = std::from_chars(p + start, p + n, v);
        if (r.ec != std::errc{} && r.ec != std::errc::result_out_of_range) return false;
        if (r.ec == std::errc::result_out_of_range) {
            // Beyond the doubles: an infinity is no element value; an underflow is zero.
            if (scale > 0) return false;
            v = 0.0;
        }
        v = std::fabs(v);
    }
    if (!std::isfinite(v)) return false;
    out = negative ? -v : v;
    return true;
}

/// Longest text shortest() writes, with room to spare.
inline constexpr std::size_t decimal_size = 32;

/// The shortest decimal that reads back as `x` (from_chars' choice of fixed or exponent form,
/// fixed on a tie). Returns its length; 0 for a value that is not finite.
inline std::size_t shortest(const double x, char* out) noexcept {
    if (!std::isfinite(x)) return 0;
    const auto r = std::to_chars(out, out + decimal_size, x);
    return static_cast<std::size_t>(r.ptr - out);
}

/// The shortest decimal d, in the published unit, whose double `scale(d)` is `stored` (bit for
/// bit): the inverse of a conversion into a stored unit, such as degrees times `deg`. The
/// conversion is monotonic, so the doubles that map to `stored` are a run next to the quotient;
/// the shortest text of any of them is the shortest decimal of the whole run's interval. When
/// no double maps to `stored`, the nearest one is written. Returns the length; 0 for a value
/// that is not finite.
template <class Scale>
std::size_t shortest_inverse(const double stored, const double guess, Scale scale,
                             char* out) noexcept {
    if (!std::isfinite(stored) || !std::isfinite(guess)) return 0;
    double x = guess;
    for (int k = 0; k < 64 && scale(x) < stored; ++k) x = std::nextafter(x, HUGE_VAL);
    for (int k = 0; k < 64 && scale(x) > stored; ++k) x = std::nextafter(x, -HUGE_VAL);
    if (!(scale(x) == stored) || std::signbit(scale(x)) != std::signbit(stored))
        return shortest(guess, out);
    double lo = x, hi = x;
    for (int k = 0; k < 64; ++k) {
        const double below = std::nextafter(lo, -HUGE_VAL);
        if (!(scale(below) == stored) || std::signbit(scale(below)) != std::signbit(stored)) break;
        lo = below;
    }
    for (int k = 0; k < 64; ++k) {
        const double above = std::nextafter(hi, HUGE_VAL);
        if (!(scale(above) == stored) || std::signbit(scale(above)) != std::signbit(stored)) break;
        hi = above;
    }
    std::size_t best = shortest(x, out);
    char other[decimal_size];
    for (double y = lo; y <= hi; y = std::nextafter(y, HUGE_VAL)) {
        if (y == x) continue;
        const std::size_t len = shortest(y, other);
        if (len < best) {
            best = len;
            std::memcpy(out, other, len);
        }
    }
    return best;
}

// ---- integers, epochs, designators ------------------------------------------------------------

/// Decimal digits with an optional sign, up to 18 digits; false for any other text.
inline bool parse_integer(const char* p, const std::size_t n, std::int64_t& out) noexcept {
    std::size_t i = n > 0 && (p[0] == '-' || p[0] == '+') ? 1 : 0;
    if (i == n || n - i > 18) return false;
    std::int64_t v = 0;
    for (std::size_t k = i; k < n; ++k) {
        if (static_cast<unsigned char>(p[k] - '0') > 9) return false;
        v = v * 10 + (p[k] - '0');
    }
    out = p[0] == '-' ? -v : v;
    return true;
}

/// Why an epoch text was refused.
enum class EpochFault : std::uint8_t { none, form, range, finer_than_ns };

/// "YYYY-MM-DDTHH:MM:SS" or the ordinal "YYYY-DDDTHH:MM:SS" (a blank may stand for the T), then
/// optionally a point and fraction digits (any number; those after the ninth must be zeros),
/// and an optional "Z". UTC, no leap second. The instant in ns since 1970, exact.
inline EpochFault parse_epoch(const char* p, std::size_t n, std::int64_t& out) noexcept {
    if (n > 0 && p[n - 1] == 'Z') --n;
    std::int64_t year = 0, a = 0, b = 0, hh = 0, mm = 0, ss = 0;
    using tle::detail::digits;
    if (n < 17 || digits(p, 4, year) != tle::no_fault || p[4] != '-') return EpochFault::form;
    std::size_t i = 0;
    std::int64_t day_of_year = 0;
    if (p[7] == '-') {  // calendar date
        if (digits(p + 5, 2, a) != tle::no_fault || digits(p + 8, 2, b) != tle::no_fault)
            return EpochFault::form;
        i = 10;
    } else {
        if (digits(p + 5, 3, day_of_year) != tle::no_fault) return EpochFault::form;
        i = 8;
    }
    if (n < i + 9 || (p[i] != 'T' && p[i] != ' ') || digits(p + i + 1, 2, hh) != tle::no_fault ||
        p[i + 3] != ':' || digits(p + i + 4, 2, mm) != tle::no_fault || p[i + 6] != ':' ||
        digits(p + i + 7, 2, ss) != tle::no_fault)
        return EpochFault::form;
    i += 9;
    std::int64_t frac = 0;
    if (i < n) {
        if (p[i] != '.' || i + 1 == n) return EpochFault::form;
        for (std::size_t k = i + 1; k < n; ++k) {
            const unsigned d = static_cast<unsigned char>(p[k] - '0');
            if (d > 9) return EpochFault::form;
            if (k - i <= 9) {
                frac = frac * 10 + d;
            } else if (d != 0) {
                return EpochFault::finer_than_ns;
            }
        }
        for (std::size_t k = n - i - 1; k < 9; ++k) frac *= 10;
    }
    if (year < 1 || hh > 23 || mm > 59 || ss > 59) return EpochFault::range;
    std::int64_t days = 0;
    if (p[7] == '-') {
        if (a < 1 || a > 12 || b < 1 || b > days_in_month(year, static_cast<int>(a)))
            return EpochFault::range;
        days = days_from_civil(year, static_cast<int>(a), static_cast<int>(b));
    } else {
        if (day_of_year < 1 || day_of_year > (is_leap_year(year) ? 366 : 365))
            return EpochFault::range;
        days = days_from_civil(year, 1, 1) + day_of_year - 1;
    }
    const std::int64_t of_day = ((hh * 60 + mm) * 60 + ss) * ns_per_second + frac;
    std::int64_t ns = 0;
    if (__builtin_mul_overflow(days, ns_per_day, &ns) || __builtin_add_overflow(ns, of_day, &ns) ||
        ns == not_a_time)
        return EpochFault::range;
    out = ns;
    return EpochFault::none;
}

/// The epoch as "YYYY-MM-DDTHH:MM:SS.ffffff", with nine digits where microseconds would lose
/// some of its nanoseconds: parse_epoch reads it back exactly. Returns the length.
inline std::size_t write_epoch(const std::int64_t ns, char* out) noexcept {
    return format_iso(ns, floor_mod(ns, 1000) == 0 ? 6 : 9, out);
}

/// Designator of a record, "YYYY-NNNP" (one to three capitals for the piece), in the two-line
/// form a catalogue holds, "YYNNNP". Other text up to eight ASCII characters is kept as it is.
/// Returns the length written into `out` (8 bytes, NUL-filled), or -1 for text that is
/// neither.
inline int designator_from_id(const char* p, const std::size_t n, char (&out)[9]) noexcept {
    std::memset(out, 0, sizeof out);
    using tle::detail::is_capital;
    using tle::detail::is_digit;
    bool published = n >= 9 && n <= 11 && p[4] == '-';
    for (std::size_t i = 0; published && i < n; ++i)
        published = i < 4 || (i > 4 && i < 8) ? is_digit(p[i]) : i == 4 || is_capital(p[i]);
    if (published) {
        out[0] = p[2];
        out[1] = p[3];
        std::memcpy(out + 2, p + 5, n - 5);
        return static_cast<int>(n - 3);
    }
    if (n > 8) return -1;
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) < 0x20 || static_cast<unsigned char>(p[i]) >= 0x7f)
            return -1;
    std::memcpy(out, p, n);
    return static_cast<int>(n);
}

/// The published designator of a catalogue's: "YYNNNP" becomes "19YY-NNNP" (YY 57-99) or
/// "20YY-NNNP"; other text is written as it is. Returns the length written (at most 11).
inline std::size_t id_from_designator(const char* d, char* out) noexcept {
    const std::size_t n = strnlen(d, 8);
    bool tle_form = n >= 6;
    for (std::size_t i = 0; tle_form && i < n; ++i)
        tle_form = i < 5 ? tle::detail::is_digit(d[i]) : tle::detail::is_capital(d[i]);
    if (!tle_form) {
        std::memcpy(out, d, n);
        return n;
    }
    const int yy = (d[0] - '0') * 10 + (d[1] - '0');
    const int year = tle_full_year(yy);
    out[0] = static_cast<char>('0' + year / 1000);
    out[1] = static_cast<char>('0' + year / 100 % 10);
    out[2] = d[0];
    out[3] = d[1];
    out[4] = '-';
    std::memcpy(out + 5, d + 2, n - 2);
    return n + 3;
}

// ---- records ----------------------------------------------------------------------------------

/// The text of one keyword's value as found: where it is in the source for a fault.
struct Value {
    const char* text = nullptr;  ///< nullptr: not given
    std::size_t size = 0;
    std::int64_t line = 0;
    int column = 0;
    bool null = false;  ///< JSON null: no value
};

/// A record's values by keyword, and where the record starts.
struct Record {
    Value value[value_count];
    std::int64_t line = 0;
    int column = 1;
};

/// A refused record: the line and column at fault, the reason and its identifier.
struct Refusal {
    std::int64_t line = 0;
    int column = 1;
    std::string reason;
    const char* code = "";
};

namespace detail {

inline std::string_view trimmed(const Value& v) noexcept {
    std::size_t a = 0, b = v.size;
    while (a < b &&
           (v.text[a] == ' ' || v.text[a] == '\t' || v.text[a] == '\r' || v.text[a] == '\n'))
        ++a;
    while (b > a && (v.text[b - 1] == ' ' || v.text[b - 1] == '\t' || v.text[b - 1] == '\r' ||
                     v.text[b - 1] == '\n'))
        --b;
    return {v.text + a, b - a};
}

/// The text of a value for a reason: quoted, cut to 40 characters.
inline std::string shown(std::string_view s) {
    std::string out = "'";
    out.append(s.substr(0, 40));
    if (s.size() > 40) out += "...";
    out += "'";
    return out;
}

}  // namespace detail

/// The counters of a record as published, in full (Fields holds them in 32 bits).
struct Counters {
    std::int64_t ephemeris_type, element_number, revolution;
};

/// The fields of a record checked and converted as two-line text is: angles times `deg`, mean
/// motion times `rev` over `day`, the rest as published. False with `why` filled for a missing
/// keyword or a value that does not read or is out of range. The name is not read here.
inline bool convert(const Record& r, tle::Fields& f, Counters& counters, Refusal& why,
                    const tle::Units& units) noexcept {
    try {
        const auto refuse = [&](const Value& v, std::string reason, const char* code) {
            why.line = v.text ? v.line : r.line;
            why.column = v.text ? v.column : r.column;
            why.reason = std::move(reason);
            why.code = code;
            return false;
        };
        for (int k = 0; k < key_count; ++k) {
            const Value& v = r.value[k];
            if ((!v.text || v.null) && !optional_key(static_cast<Key>(k)))
                return refuse(Value{}, std::string("no ") + key_names[k], "omm_missing");
        }
        const auto text = [&](Key k) { return detail::trimmed(r.value[k]); };
        const auto number = [&](Key k, double& out) {
            const std::string_view s = text(k);
            if (parse_decimal(s.data(), s.size(), out)) return true;
            return refuse(
                r.value[k],
                std::string(key_names[k]) + " is not a decimal number: " + detail::shown(s),
                "omm_value");
        };
        const auto integer = [&](Key k, std::int64_t& out) {
            const std::string_view s = text(k);
            if (parse_integer(s.data(), s.size(), out)) return true;
            return refuse(r.value[k],
                          std::string(key_names[k]) + " is not an integer: " + detail::shown(s),
                          "omm_value");
        };
        std::memset(&f, 0, sizeof f);

        std::int64_t satno = 0;
        {
            const std::string_view s = text(norad_cat_id);
            bool digits = !s.empty() && s.size() <= 9;
            for (char c : s) digits = digits && tle::detail::is_digit(c);
            if (!digits || !parse_integer(s.data(), s.size(), satno))
                return refuse(
                    r.value[norad_cat_id],
                    "NORAD_CAT_ID is not a catalogue number of 1 to 9 digits: " + detail::shown(s),
                    "satno");
        }
        f.satno = satno;

        {
            const std::string_view s = text(epoch);
            switch (parse_epoch(s.data(), s.size(), f.epoch_ns)) {
            case EpochFault::none: break;
            case EpochFault::form:
                return refuse(r.value[epoch],
                              "EPOCH is not YYYY-MM-DDTHH:MM:SS[.F]: " + detail::shown(s), "epoch");
            case EpochFault::range:
                return refuse(r.value[epoch],
                              "EPOCH is not a valid date and time: " + detail::shown(s),
                              "epoch_range");
            case EpochFault::finer_than_ns:
                return refuse(r.value[epoch],
                              "EPOCH is finer than a nanosecond: " + detail::shown(s), "epoch");
            }
        }

        double mnm = 0, ecc = 0, inc = 0, raa = 0, arp = 0, mea = 0;
        if (!number(mean_motion, mnm) || !number(eccentricity, ecc) || !number(inclination, inc) ||
            !number(ra_of_asc_node, raa) || !number(arg_of_pericenter, arp) ||
            !number(mean_anomaly, mea))
            return false;
        if (!(mnm > 0.0))
            return refuse(
                r.value[mean_motion],
                "MEAN_MOTION " + std::string(text(mean_motion)) + " is not greater than 0",
                "mnm_not_positive");
        if (!(ecc >= 0.0 && ecc < 1.0))
            return refuse(r.value[eccentricity],
                          "ECCENTRICITY " + std::string(text(eccentricity)) + " is not in [0, 1)",
                          "ecc_range");
        if (!number(bstar, f.bstar) || !number(mean_motion_dot, f.ndot) ||
            !number(mean_motion_ddot, f.nddot))
            return false;

        std::int64_t type = 0, element = 0, revolution = 0;
        if (r.value[ephemeris_type].text && !r.value[ephemeris_type].null &&
            !integer(ephemeris_type, type))
            return false;
        if (!integer(element_set_no, element) || !integer(rev_at_epoch, revolution)) return false;
        counters = {type, element, revolution};
        // The two-line form is written from 32 bits: a value beyond them has none either way.
        const auto clamp = [](std::int64_t v) {
            return static_cast<std::int32_t>(v > INT32_MAX   ? INT32_MAX
                                             : v < INT32_MIN ? INT32_MIN
                                                             : v);
        };
        f.ephemeris_type = clamp(type);
        f.element_number = clamp(element);
        f.revolution = clamp(revolution);

        f.classification = 'U';
        if (r.value[classification_type].text && !r.value[classification_type].null) {
            const std::string_view s = text(classification_type);
            if (s.size() != 1 || !tle::detail::is_capital(s[0]))
                return refuse(r.value[classification_type],
                              "CLASSIFICATION_TYPE is not a capital letter: " + detail::shown(s),
                              "classification");
            f.classification = s[0];
        }
        if (r.value[object_id].text && !r.value[object_id].null) {
            const std::string_view s = text(object_id);
            if (designator_from_id(s.data(), s.size(), f.intldes) < 0)
                return refuse(
                    r.value[object_id],
                    "OBJECT_ID is not YYYY-NNNP or up to 8 ASCII characters: " + detail::shown(s),
                    "intldes");
        }

        f.inc = inc * units.deg;
        f.raa = raa * units.deg;
        f.ecc = ecc;
        f.arp = arp * units.deg;
        f.mea = mea * units.deg;
        f.mnm = (mnm * units.rev) / units.day;
        return true;
    } catch (...) {
        // Only the reason's text allocates: a refusal without it.
        why.line = r.line;
        why.column = r.column;
        why.reason.clear();
        why.code = "omm_value";
        return false;
    }
}

}  // namespace orbivex::kern::omm
