// Fixed-column fields of two-line element sets: bounded extraction and atoi/atof conversions.
#pragma once

#include <locale.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orbivex::kern {

/// Size of a stored line: 69 significant characters and a terminator.
inline constexpr std::size_t tle_line_size = 70;
/// Size of the stored catalogue-number field: 5 characters and a terminator.
inline constexpr std::size_t tle_satno_size = 6;

/// Stores `len` bytes of `src` as a line: at most 69 bytes, stopping at the first NUL of the
/// source, the rest of the buffer NUL (strncpy semantics; the last byte is always NUL).
inline void tle_store_line(char (&dst)[tle_line_size], const char* src, std::size_t len) noexcept {
    std::size_t n = 0;
    const std::size_t limit = len < tle_line_size - 1 ? len : tle_line_size - 1;
    while (n < limit && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    std::memset(dst + n, 0, tle_line_size - n);
}

/// Copies the field of `width` bytes that starts at 0-based `offset` of a stored line into
/// `out` (which holds width + 1 bytes) and terminates it: strncpy from the field's start, so a
/// field beyond the end of a short line yields the part that exists, possibly nothing (the
/// stored line is NUL-filled after its text). Reads never leave the line buffer.
inline void tle_field(const char (&line)[tle_line_size], std::size_t offset, std::size_t width,
                      char* out) noexcept {
    std::size_t n = 0;
    while (n < width && offset + n < tle_line_size && line[offset + n] != '\0') {
        out[n] = line[offset + n];
        ++n;
    }
    out[n] = '\0';
}

/// The "C" locale object, made once: conversions must not follow a decimal-comma process locale.
/// NULL only if the C library could not make it.
inline locale_t tle_c_locale() noexcept {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

/// atoi's rules in the C locale: leading blanks, sign, the longest decimal prefix, 0 for none.
inline int tle_atoi(const char* text) noexcept {
    const locale_t loc = tle_c_locale();
    // Fields are at most 12 characters, so a long always holds the value; the narrowing to int
    // of an out-of-range value follows glibc's atoi, which is (int)strtol.
    const long v = loc ? strtol_l(text, nullptr, 10, loc) : strtol(text, nullptr, 10);
    return static_cast<int>(v);
}

/// Decimal text [blanks][sign]digits[.digits] with at most 15 significant digits and at most 22
/// after the point, converted as m / 10^k: both are exact doubles, so the one division rounds
/// correctly and the result is strtod's (Clinger's fast path). False for any other text.
inline bool tle_fast_decimal(const char* text, double* out) noexcept {
    static constexpr double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    std::uint64_t m = 0;
    int significant = 0, after_point = 0;
    bool any_digit = false, point = false;
    for (;; ++p) {
        if (*p >= '0' && *p <= '9') {
            any_digit = true;
            if (m != 0 || *p != '0') {
                if (++significant > 15) return false;
                m = m * 10 + static_cast<std::uint64_t>(*p - '0');
            }
            if (point && ++after_point > 22) return false;
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    // No digits (INF, NAN, nothing), an exponent or a hexadecimal prefix: strtod's business.
    if (!any_digit || *p == 'e' || *p == 'E' || *p == 'x' || *p == 'X') return false;
    const double v = static_cast<double>(m) / pow10[after_point];
    *out = negative ? -v : v;
    return true;
}

/// atof's rules in the C locale: the full strtod grammar (blanks, sign, decimal and hexadecimal
/// forms, INF, NAN), the longest valid prefix, 0.0 for none.
inline double tle_atof(const char* text) noexcept {
    double v;
    if (tle_fast_decimal(text, &v)) return v;
    const locale_t loc = tle_c_locale();
    return loc ? strtod_l(text, nullptr, loc) : strtod(text, nullptr);
}

/// Four-digit year of a two-digit epoch year: yy < 57 is 20yy, otherwise 19yy.
inline int tle_full_year(int yy) noexcept { return yy < 57 ? 2000 + yy : 1900 + yy; }

/// Fields of line 1 that the record keeps.
struct TleLine1Fields {
    char satno[tle_satno_size];
    int year;    ///< four-digit year
    double day;  ///< day of year, 1.0 at 1 January 00:00
};

/// Catalogue number (columns 3-7), epoch year (19-20) and day of year (21-32) of line 1.
inline TleLine1Fields tle_parse_line1(const char (&line)[tle_line_size]) noexcept {
    TleLine1Fields f{};
    tle_field(line, 2, 5, f.satno);
    char scratch[13];
    tle_field(line, 18, 2, scratch);
    f.year = tle_full_year(tle_atoi(scratch));
    tle_field(line, 20, 12, scratch);
    f.day = tle_atof(scratch);
    return f;
}

/// Elements of line 2 as written: degrees, an eccentricity with its implied leading point, and
/// revolutions per day.
struct TleLine2Fields {
    double inc_deg, raa_deg, ecc, arp_deg, mea_deg, mnm_rev_per_day;
};

/// Inclination (9-16), node (18-25), eccentricity (27-33), argument of periapsis (35-42),
/// mean anomaly (44-51) and mean motion (53-63) of line 2.
inline TleLine2Fields tle_parse_line2(const char (&line)[tle_line_size]) noexcept {
    TleLine2Fields f{};
    char scratch[12];
    tle_field(line, 8, 8, scratch);
    f.inc_deg = tle_atof(scratch);
    tle_field(line, 17, 8, scratch);
    f.raa_deg = tle_atof(scratch);
    // The field holds the digits after an implied decimal point.
    char ecc[9];
    ecc[0] = '.';
    tle_field(line, 26, 7, ecc + 1);
    f.ecc = tle_atof(ecc);
    tle_field(line, 34, 8, scratch);
    f.arp_deg = tle_atof(scratch);
    tle_field(line, 43, 8, scratch);
    f.mea_deg = tle_atof(scratch);
    tle_field(line, 52, 11, scratch);
    f.mnm_rev_per_day = tle_atof(scratch);
    return f;
}

}  // namespace orbivex::kern
