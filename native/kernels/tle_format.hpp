// Fixed-column grammar of two-line element sets: checksum, Alpha-5 catalogue numbers, validation
// of a set (the first fault with its line, column and reason) and the exact values of its fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numbers>

#include "kernels/civil_time.hpp"
#include "kernels/tle_faults.hpp"
#include "kernels/tle_fields.hpp"
#include "kernels/tle_scan.hpp"

namespace orbivex::kern::tle {

/// Columns of a line: 68 of fields and the checksum in column 69.
inline constexpr std::size_t line_length = 69;
/// Returned by the column checks when nothing breaks the form.
inline constexpr int no_fault = -1;

// ---- checksum ---------------------------------------------------------------------------------

/// Modulo-10 checksum of a line's first 68 columns (all of them when the line is shorter): a
/// digit counts its value, '-' counts 1, every other character 0.
inline int checksum(const char* line, std::size_t size) noexcept {
    const std::size_t n = size < 68 ? size : 68;
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned d = static_cast<unsigned char>(line[i]) - unsigned{'0'};
        sum += d <= 9 ? d : static_cast<unsigned>(line[i] == '-');
    }
    return static_cast<int>(sum % 10);
}

// ---- Alpha-5 catalogue numbers ----------------------------------------------------------------

/// Largest number the five columns hold: Z9999.
inline constexpr std::int64_t alpha5_max = 339'999;
/// Leading letters in value order, 10 to 33: I and O are left out, they read as 1 and 0.
inline constexpr char alpha5_letters[] = "ABCDEFGHJKLMNPQRSTUVWXYZ";

/// Value 10-33 of an Alpha-5 leading letter (upper case only), -1 for any other character.
inline int alpha5_letter_value(const char c) noexcept {
    if (c < 'A' || c > 'Z' || c == 'I' || c == 'O') return -1;
    return 10 + (c - 'A') - (c > 'I') - (c > 'O');
}

/// Catalogue number of the 5-column field `f`: five digits (blanks may stand for leading zeros,
/// at least one digit), or an Alpha-5 letter and four digits (A0000 = 100000 ... Z9999 = 339999).
/// Returns no_fault with the number in `value`, or the 0-based column of the first character
/// that breaks the form (`value` untouched).
inline int alpha5_decode(const char* f, std::int64_t& value) noexcept {
    int i = 0;
    std::int64_t v = 0;
    const int letter = alpha5_letter_value(f[0]);
    if (letter >= 0) {
        v = letter;
        i = 1;
    } else {
        while (i < 4 && f[i] == ' ') ++i;
    }
    for (; i < 5; ++i) {
        if (f[i] < '0' || f[i] > '9') return i;
        v = v * 10 + (f[i] - '0');
    }
    value = v;
    return no_fault;
}

/// Writes `n` into five columns: zero-padded digits up to 99999, Alpha-5 up to 339999. False
/// (nothing written) for a number outside 0 ... 339999.
inline bool alpha5_encode(const std::int64_t n, char* out) noexcept {
    if (n < 0 || n > alpha5_max) return false;
    std::int64_t rest = n;
    for (int k = 4; k >= 1; --k) {
        out[k] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    out[0] = rest < 10 ? static_cast<char>('0' + rest) : alpha5_letters[rest - 10];
    return true;
}

// ---- values -----------------------------------------------------------------------------------

/// Radians per degree, radians per revolution and seconds per day, the constants TLE scales by.
/// The defaults are the values of the units module; a caller that binds that module's
/// constants passes them here to follow any change of them.
struct Units {
    double deg, rev, day;
};
inline constexpr Units si_units{std::numbers::pi / 180.0, 2.0 * std::numbers::pi, 86400.0};

/// The values of one element set. Elements in TLE's units and to TLE's bits: angles in radians
/// (the degrees of the text times `deg`), mean motion in rad/s (rev/day times `rev`, then
/// divided by `day`). ndot, nddot and bstar are the numbers as written, correctly rounded:
/// ndot in rev/day^2 and nddot in rev/day^3 (by the format's convention the first derivative
/// over 2 and the second over 6), bstar in 1/Earth radii.
struct Fields {
    std::int64_t satno;
    std::int64_t epoch_ns;        ///< ns since 1970-01-01T00:00:00, exact
    std::int32_t epoch_year;      ///< four digits: 57-99 are 19xx, 00-56 are 20xx
    std::int32_t epoch_day;       ///< whole day of the year, 1 = 1 January
    std::int32_t epoch_fraction;  ///< the eight digits after the day's point: units of 864 us
    std::int32_t ephemeris_type;
    std::int32_t element_number;
    std::int32_t revolution;
    double ndot, nddot, bstar;
    double inc, raa, ecc, arp, mea, mnm;
    char classification;
    char intldes[9];  ///< columns 10-17 without trailing blanks, NUL-filled
};

namespace detail {

inline constexpr double pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr std::int64_t ipow10[] = {1,       10,        100,        1000,       10'000,
                                          100'000, 1'000'000, 10'000'000, 100'000'000};
/// ns in a unit of the day's eight fraction digits: 86400e9 / 1e8.
inline constexpr std::int64_t ns_per_day_unit = 864'000;

inline bool is_digit(const char c) noexcept {
    return static_cast<unsigned char>(c) - unsigned{'0'} <= 9u;
}
inline bool is_capital(const char c) noexcept { return c >= 'A' && c <= 'Z'; }
inline bool is_sign(const char c) noexcept { return c == ' ' || c == '+' || c == '-'; }

/// The value of digits m with k of them after the point. Fields have at most 10 digits, so this
/// is tle_fast_decimal's path: m and 10^k are exact doubles and the one division rounds
/// correctly, which is strtod's result for the same text, and TLE's.
inline double decimal(const std::int64_t m, const int k) noexcept {
    return static_cast<double>(m) / pow10[k];
}

/// Exactly `n` digits at `p`: no_fault and their value, or the offset of the first non-digit.
inline int digits(const char* p, const int n, std::int64_t& v) noexcept {
    std::int64_t x = 0;
    for (int i = 0; i < n; ++i) {
        if (!is_digit(p[i])) return i;
        x = x * 10 + (p[i] - '0');
    }
    v = x;
    return no_fault;
}

/// A right-aligned number of `n` columns: blanks, then at least one digit to the last column.
inline int right_aligned(const char* p, const int n, std::int64_t& v) noexcept {
    int i = 0;
    while (i < n - 1 && p[i] == ' ') ++i;
    const int bad = digits(p + i, n - i, v);
    return bad == no_fault ? no_fault : i + bad;
}

/// `w` columns of a right-aligned whole part, a point and `k` digits; `m` all digits together.
inline int fixed_point(const char* p, const int w, const int k, std::int64_t& m) noexcept {
    std::int64_t whole = 0, frac = 0;
    int bad = right_aligned(p, w, whole);
    if (bad != no_fault) return bad;
    if (p[w] != '.') return w;
    bad = digits(p + w + 1, k, frac);
    if (bad != no_fault) return w + 1 + bad;
    m = whole * ipow10[k] + frac;
    return no_fault;
}

/// " .NNNNNNNN" with a sign or blank in front: the value as written.
inline int signed_fraction(const char* p, double& value) noexcept {
    if (!is_sign(p[0])) return 0;
    if (p[1] != '.') return 1;
    std::int64_t m = 0;
    const int bad = digits(p + 2, 8, m);
    if (bad != no_fault) return 2 + bad;
    const double v = decimal(m, 8);
    value = p[0] == '-' ? -v : v;
    return no_fault;
}

inline double sign_factor(const char sign) noexcept { return sign == '-' ? -1.0 : 1.0; }

/// The implied-decimal exponent form "SMMMMMEX" = S0.MMMMM x 10^(EX) with mantissa `m`, correctly
/// rounded: m x 10^(X - 5) with m < 10^5, one exact power of ten and one rounding.
inline double exponent_value(const char* p, const std::int64_t m) noexcept {
    const int x = p[6] == '-' ? -(p[7] - '0') : p[7] - '0';
    const double v =
        x <= 5 ? static_cast<double>(m) / pow10[5 - x] : static_cast<double>(m) * pow10[x - 5];
    return v * sign_factor(p[0]);
}

/// The exponent form checked: no_fault and its value, or the offset of the first bad column.
inline int exponent_form(const char* p, double& value) noexcept {
    if (!is_sign(p[0])) return 0;
    std::int64_t m = 0;
    const int bad = digits(p + 1, 5, m);
    if (bad != no_fault) return 1 + bad;
    if (p[6] != '+' && p[6] != '-') return 6;
    if (!is_digit(p[7])) return 7;
    value = exponent_value(p, m);
    return no_fault;
}

/// Columns 10-17: all blank, or five digits and one to three capitals, left-aligned.
inline int intldes_form(const char* p) noexcept {
    int i = 0;
    while (i < 8 && p[i] == ' ') ++i;
    if (i == 8) return no_fault;
    std::int64_t unused = 0;
    const int bad = digits(p, 5, unused);
    if (bad != no_fault) return bad;
    i = 5;
    while (i < 8 && is_capital(p[i])) ++i;
    if (i == 5) return 5;
    while (i < 8 && p[i] == ' ') ++i;
    return i == 8 ? no_fault : i;
}

inline Fault fault_at(const Reason r, const int line, const int offset,
                      const std::int64_t found = 0, const std::int64_t expected = 0) noexcept {
    return {r, static_cast<std::uint8_t>(line), offset + 1, found, expected};
}

/// Characters, line number and length of one line.
inline Fault frame(const char* p, const std::size_t n, const int number) noexcept {
    // One pass that the compiler can vectorise; the exact column is searched only on a fault.
    unsigned bad = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        bad |= static_cast<unsigned>(c < 0x20) | static_cast<unsigned>(c >= 0x7f);
    }
    if (bad) {
        for (std::size_t i = 0;; ++i) {
            const unsigned char c = static_cast<unsigned char>(p[i]);
            if (c >= 0x80) return fault_at(Reason::non_ascii, number, static_cast<int>(i), c);
            if (c < 0x20 || c == 0x7f)
                return fault_at(Reason::control_character, number, static_cast<int>(i), c);
        }
    }
    if (n == 0 || p[0] != '0' + number) {
        return fault_at(Reason::line_number, number, 0, n ? p[0] : ' ', number);
    }
    if (n != line_length) {
        const int col = n > line_length ? static_cast<int>(line_length) : static_cast<int>(n);
        return fault_at(Reason::length, number, col, static_cast<std::int64_t>(n),
                        static_cast<std::int64_t>(line_length));
    }
    return {};
}

/// Column 69: a digit, and when `verify`, the checksum of the line.
inline Fault check_sum(const char* p, const int number, const bool verify) noexcept {
    if (!is_digit(p[68])) return fault_at(Reason::checksum_character, number, 68, p[68]);
    if (verify) {
        const int sum = checksum(p, line_length);
        if (p[68] - '0' != sum) return fault_at(Reason::checksum, number, 68, p[68] - '0', sum);
    }
    return {};
}

/// The checks of parse() one by one, in their order, stopping at the first fault.
inline Fault parse_exact(const char* line1, const std::size_t size1, const char* line2,
                         const std::size_t size2, Fields& out, const bool checksums,
                         const Units& units) noexcept {
    if (!line1) return fault_at(Reason::missing_line1, 2, 0);
    if (!line2) return fault_at(Reason::missing_line2, 1, 0);

    // ---- line 1 ----
    const char* p = line1;
    Fault f = detail::frame(p, size1, 1);
    if (!f.ok()) return f;
    int bad = 0;
    const auto blank = [&p](const int offset, const int line) {
        return p[offset] == ' ' ? Fault{} : fault_at(Reason::blank, line, offset, p[offset]);
    };
    if (!(f = blank(1, 1)).ok()) return f;
    if ((bad = alpha5_decode(p + 2, out.satno)) != no_fault)
        return fault_at(Reason::satno, 1, 2 + bad);
    if (!detail::is_capital(p[7])) return fault_at(Reason::classification, 1, 7);
    out.classification = p[7];
    if (!(f = blank(8, 1)).ok()) return f;
    if ((bad = detail::intldes_form(p + 9)) != no_fault)
        return fault_at(Reason::intldes, 1, 9 + bad);
    int len = 8;
    while (len > 0 && p[9 + len - 1] == ' ') --len;
    std::memset(out.intldes, 0, sizeof out.intldes);
    std::memcpy(out.intldes, p + 9, static_cast<std::size_t>(len));
    if (!(f = blank(17, 1)).ok()) return f;
    std::int64_t yy = 0, day = 0, fraction = 0, v = 0;
    if ((bad = detail::digits(p + 18, 2, yy)) != no_fault)
        return fault_at(Reason::epoch_year, 1, 18 + bad);
    if ((bad = detail::right_aligned(p + 20, 3, day)) != no_fault)
        return fault_at(Reason::epoch_day, 1, 20 + bad);
    if (p[23] != '.') return fault_at(Reason::epoch_day, 1, 23);
    if ((bad = detail::digits(p + 24, 8, fraction)) != no_fault)
        return fault_at(Reason::epoch_day, 1, 24 + bad);
    const int year = tle_full_year(static_cast<int>(yy));
    const int days_in_year = is_leap_year(year) ? 366 : 365;
    if (day < 1 || day > days_in_year)
        return fault_at(Reason::epoch_day_range, 1, 20, day, days_in_year);
    out.epoch_year = year;
    out.epoch_day = static_cast<std::int32_t>(day);
    out.epoch_fraction = static_cast<std::int32_t>(fraction);
    out.epoch_ns =
        (days_from_civil(year, 1, 1) + day - 1) * ns_per_day + fraction * detail::ns_per_day_unit;
    if (!(f = blank(32, 1)).ok()) return f;
    if ((bad = detail::signed_fraction(p + 33, out.ndot)) != no_fault)
        return fault_at(Reason::ndot, 1, 33 + bad);
    if (!(f = blank(43, 1)).ok()) return f;
    if ((bad = detail::exponent_form(p + 44, out.nddot)) != no_fault)
        return fault_at(Reason::nddot, 1, 44 + bad);
    if (!(f = blank(52, 1)).ok()) return f;
    if ((bad = detail::exponent_form(p + 53, out.bstar)) != no_fault)
        return fault_at(Reason::bstar, 1, 53 + bad);
    if (!(f = blank(61, 1)).ok()) return f;
    if (!detail::is_digit(p[62])) return fault_at(Reason::ephemeris_type, 1, 62);
    out.ephemeris_type = p[62] - '0';
    if (!(f = blank(63, 1)).ok()) return f;
    if ((bad = detail::right_aligned(p + 64, 4, v)) != no_fault)
        return fault_at(Reason::element_number, 1, 64 + bad);
    out.element_number = static_cast<std::int32_t>(v);
    if (!(f = detail::check_sum(p, 1, checksums)).ok()) return f;

    // ---- line 2 ----
    p = line2;
    if (!(f = detail::frame(p, size2, 2)).ok()) return f;
    if (!(f = blank(1, 2)).ok()) return f;
    std::int64_t satno2 = 0;
    if ((bad = alpha5_decode(p + 2, satno2)) != no_fault)
        return fault_at(Reason::satno, 2, 2 + bad);
    if (satno2 != out.satno) return fault_at(Reason::satno_mismatch, 2, 2, satno2, out.satno);
    if (!(f = blank(7, 2)).ok()) return f;
    // Angles: degrees as written, then TLE's scaling.
    const auto angle = [&](const int offset, const Reason r, double& field) {
        if (!(f = blank(offset - 1, 2)).ok()) return false;
        if ((bad = detail::fixed_point(p + offset, 3, 4, v)) != no_fault) {
            f = fault_at(r, 2, offset + bad);
            return false;
        }
        field = detail::decimal(v, 4) * units.deg;
        return true;
    };
    if (!angle(8, Reason::inc, out.inc) || !angle(17, Reason::raa, out.raa)) return f;
    if (!(f = blank(25, 2)).ok()) return f;
    // The eccentricity's seven digits follow an implied point: TLE reads "." and the digits.
    if ((bad = detail::digits(p + 26, 7, v)) != no_fault) return fault_at(Reason::ecc, 2, 26 + bad);
    out.ecc = detail::decimal(v, 7);
    if (!angle(34, Reason::arp, out.arp) || !angle(43, Reason::mea, out.mea)) return f;
    if (!(f = blank(51, 2)).ok()) return f;
    if ((bad = detail::fixed_point(p + 52, 2, 8, v)) != no_fault)
        return fault_at(Reason::mnm, 2, 52 + bad);
    if (v == 0) return fault_at(Reason::mnm_not_positive, 2, 52);
    out.mnm = (detail::decimal(v, 8) * units.rev) / units.day;
    if ((bad = detail::right_aligned(p + 63, 5, v)) != no_fault)
        return fault_at(Reason::revolution, 2, 63 + bad);
    out.revolution = static_cast<std::int32_t>(v);
    return detail::check_sum(p, 2, checksums);
}

// ---- the whole-line path --------------------------------------------------------------------

/// Column forms of the two lines (see scan::make_form); the line number, the catalogue number
/// and the designator are checked character by character.
inline constexpr scan::LineForm line1_form =
    scan::make_form("DB*****LB********BDDRRDPDDDDDDDDBSPDDDDDDDDBSDDDDDEDBSDDDDDEDBDBRRRDD");
inline constexpr scan::LineForm line2_form =
    scan::make_form("DB*****BRRDPDDDDBRRDPDDDDBDDDDDDDBRRDPDDDDBRRDPDDDDBRDPDDDDDDDDRRRRDD");

/// For each two-digit year yy: days from 1970-01-01 to 1 January of the epoch year, and the
/// number of days of that year.
struct YearStarts {
    std::int64_t days[100];
    std::int32_t length[100];
    constexpr YearStarts() : days(), length() {
        const auto days_of = [](const int y) {
            return 365 + static_cast<int>(y % 4 == 0 && (y % 100 != 0 || y % 400 == 0));
        };
        for (int yy = 0; yy < 100; ++yy) {
            const int year = yy < 57 ? 2000 + yy : 1900 + yy;
            std::int64_t d = 0;
            for (int y = 1970; y < year; ++y) d += days_of(y);
            for (int y = year; y < 1970; ++y) d -= days_of(y);
            days[yy] = d;
            length[yy] = days_of(year);
        }
    }
};
inline constexpr YearStarts year_starts{};

/// The fields of two lines whose form has been checked, read: `yy`, `day` and `mnm` (the
/// mean motion's ten digits) as the checks read them; out.satno is already decoded.
inline void read_fields(const char* a, const char* b, const std::uint32_t yy,
                        const std::int32_t day, const std::uint64_t mnm, Fields& out,
                        const Units& units) noexcept {
    out.classification = a[7];
    // A designator of the form has blanks only after its last character: all become NUL.
    const std::uint64_t designator = scan::load8(a + 9);
    scan::store8(out.intldes, designator & ~scan::bytes_equal(designator, ' '));
    out.intldes[8] = '\0';
    const std::uint32_t fraction = scan::eight_digits(scan::load8(a + 24));
    out.epoch_year = tle_full_year(static_cast<int>(yy));
    out.epoch_day = day;
    out.epoch_fraction = static_cast<std::int32_t>(fraction);
    out.epoch_ns = (year_starts.days[yy] + day - 1) * ns_per_day +
                   static_cast<std::int64_t>(fraction) * ns_per_day_unit;
    // Signs as factors of +-1: exact, as a negation is, and without a branch on the data.
    out.ndot = decimal(scan::eight_digits(scan::load8(a + 35)), 8) * sign_factor(a[33]);
    // Five mantissa digits: the low five bytes of the word that ends with them.
    out.nddot = exponent_value(a + 44, scan::eight_digits(scan::load8(a + 42) & ~0xFFFFFFULL));
    out.bstar = exponent_value(a + 53, scan::eight_digits(scan::load8(a + 51) & ~0xFFFFFFULL));
    out.ephemeris_type = a[62] - '0';
    out.element_number = static_cast<std::int32_t>(scan::small_digits(a + 64, 4));

    out.inc = decimal(scan::angle_digits(b + 8), 4) * units.deg;
    out.raa = decimal(scan::angle_digits(b + 17), 4) * units.deg;
    // The blank before the eccentricity reads as a leading zero.
    out.ecc = decimal(scan::eight_digits(scan::load8(b + 25)), 7);
    out.arp = decimal(scan::angle_digits(b + 34), 4) * units.deg;
    out.mea = decimal(scan::angle_digits(b + 43), 4) * units.deg;
    out.mnm = (decimal(static_cast<std::int64_t>(mnm), 8) * units.rev) / units.day;
    out.revolution = static_cast<std::int32_t>(scan::small_digits(b + 63, 5));
}

/// The mean motion's ten digits.
inline std::uint64_t mnm_digits(const char* b) noexcept {
    return std::uint64_t{scan::small_digits(b + 52, 2)} * 100'000'000u +
           scan::eight_digits(scan::load8(b + 55));
}

/// Both lines checked whole, columns at once, and read: true only for a set that parse_exact
/// accepts, with the same fields. False says nothing about the fault.
inline bool parse_fast(const char* a, const std::size_t size1, const char* b,
                       const std::size_t size2, Fields& out, const bool checksums,
                       const Units& units) noexcept {
    if (size1 != line_length || size2 != line_length || a[0] != '1' || b[0] != '2') return false;
    const scan::Scan s1 = scan::scan_line(a, line1_form), s2 = scan::scan_line(b, line2_form);
    if (!s1.fits || !s2.fits) return false;
    if (checksums && (static_cast<int>(s1.sum % 10) != a[68] - '0' ||
                      static_cast<int>(s2.sum % 10) != b[68] - '0'))
        return false;
    // The same five columns on both lines are the same number; else both are decoded.
    if (alpha5_decode(a + 2, out.satno) != no_fault || !scan::intldes_fits(a + 9)) return false;
    if (std::memcmp(a + 2, b + 2, 5) != 0) {
        std::int64_t satno2 = 0;
        if (alpha5_decode(b + 2, satno2) != no_fault || satno2 != out.satno) return false;
    }
    const std::uint32_t yy = scan::small_digits(a + 18, 2);
    const std::int32_t day = static_cast<std::int32_t>(scan::small_digits(a + 20, 3));
    if (day < 1 || day > year_starts.length[yy]) return false;
    const std::uint64_t mnm = mnm_digits(b);
    if (mnm == 0) return false;
    read_fields(a, b, yy, day, mnm, out, units);
    return true;
}

}  // namespace detail

/// Validates one set and reads its fields. `line1` and `line2` are the two lines without their
/// trailing white space (`size1`, `size2` bytes); a null line is missing. Returns the first
/// fault (see Reason for the order), or a fault whose ok() is true with every field of `out`
/// written; after a fault the contents of `out` are unspecified.
///
/// "In range for its year": the whole day is 1 to 365, or to 366 in a leap year, so the day
/// value lies in [1.0, 366.0) or [1.0, 367.0). With checksums false a wrong checksum digit is
/// accepted, but column 69 must still be a digit.
inline Fault parse(const char* line1, const std::size_t size1, const char* line2,
                   const std::size_t size2, Fields& out, const bool checksums = true,
                   const Units& units = si_units) noexcept {
    // Nearly every set of real text is valid: it takes the whole-line path, and only a set
    // that path cannot accept is checked step by step for its first fault.
    if (line1 && line2 && detail::parse_fast(line1, size1, line2, size2, out, checksums, units))
        return {};
    return detail::parse_exact(line1, size1, line2, size2, out, checksums, units);
}

/// The fields of a set parse() has accepted (two lines of 69 columns), read again without the
/// checks of its form and checksums: the same values, at a fraction of the cost. False when the
/// text no longer holds the keys it had (it changed meanwhile); nothing is read out of bounds
/// whatever the bytes.
inline bool reread(const char* line1, const char* line2, Fields& out,
                   const Units& units = si_units) noexcept {
    if (alpha5_decode(line1 + 2, out.satno) != no_fault) return false;
    const std::uint32_t yy = scan::small_digits(line1 + 18, 2);
    const std::int32_t day = static_cast<std::int32_t>(scan::small_digits(line1 + 20, 3));
    if (yy >= 100 || day < 1 || day > detail::year_starts.length[yy]) return false;
    detail::read_fields(line1, line2, yy, day, detail::mnm_digits(line2), out, units);
    return true;
}

/// Validation alone: parse into a scratch record.
inline Fault validate(const char* line1, const std::size_t size1, const char* line2,
                      const std::size_t size2, const bool checksums = true) noexcept {
    Fields scratch{};
    return parse(line1, size1, line2, size2, scratch, checksums);
}

}  // namespace orbivex::kern::tle
