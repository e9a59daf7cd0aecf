// Two-line element sets as text: the normalised form TLE stores, and the two fixed-column lines
// of a set's values with their checksums.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/civil_time.hpp"
#include "kernels/tle_fields.hpp"
#include "kernels/tle_format.hpp"

namespace orbivex::kern::tle {

/// The line as TLE stores it: white space stripped from both ends (the ASCII characters that
/// Python's str.strip removes: \t \n \v \f \r, 0x1C-0x1F and the blank), ASCII letters upper-cased,
/// at most 69 characters kept, the rest of `out` NUL. Returns the length kept. Bytes outside
/// ASCII are copied as they are (TLE refuses such a line).
inline std::size_t normalise(const char* src, std::size_t size,
                             char (&out)[tle_line_size]) noexcept {
    const auto space = [](const char c) {
        return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
    };
    std::size_t begin = 0;
    while (begin < size && space(src[begin])) ++begin;
    while (size > begin && space(src[size - 1])) --size;
    std::size_t n = size - begin < tle_line_size - 1 ? size - begin : tle_line_size - 1;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = src[begin + i];
        out[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    std::memset(out + n, 0, tle_line_size - n);
    return n;
}

namespace detail {

/// `v` right-aligned in `width` columns, blanks in front (`fill` '0' pads with zeros).
inline void put_integer(char* p, const int width, std::int64_t v, const char fill = ' ') noexcept {
    for (int k = width - 1; k >= 0; --k) {
        p[k] = (v != 0 || k == width - 1) ? static_cast<char>('0' + v % 10) : fill;
        v /= 10;
    }
}

/// `x` rounded to `k` decimals as a right-aligned whole part of `w` columns, a point and `k`
/// digits. False when the rounded value is negative, does not fit or `x` is not finite.
inline bool put_fixed(char* p, const int w, const int k, const double x) noexcept {
    const double scaled = x * pow10[k];
    const double limit = pow10[w + k];
    if (!(scaled > -0.5) || !(scaled < limit - 0.5)) return false;
    const std::int64_t m = std::llround(scaled);
    if (m >= static_cast<std::int64_t>(limit)) return false;
    put_integer(p, w, m / ipow10[k]);
    p[w] = '.';
    put_integer(p + w + 1, k, m % ipow10[k], '0');
    return true;
}

/// " .NNNNNNNN" (or "-.NNNNNNNN"): `x` rounded to eight decimals, |x| < 1.
inline bool put_signed_fraction(char* p, const double x) noexcept {
    const double scaled = std::fabs(x) * 1e8;
    if (!(scaled < 99'999'999.5)) return false;
    p[0] = std::signbit(x) ? '-' : ' ';
    p[1] = '.';
    put_integer(p + 2, 8, std::llround(scaled), '0');
    return true;
}

/// "SMMMMMEX": `x` to five significant digits with an exponent -9 ... 9, mantissa normalised
/// (0.1 <= 0.MMMMM < 1) except where the exponent -9 would need to go lower; zero is "00000-0".
inline bool put_exponent_form(char* p, const double x) noexcept {
    const double a = std::fabs(x);
    if (!std::isfinite(a)) return false;
    p[0] = std::signbit(x) ? '-' : ' ';
    int e = a > 0.0 ? static_cast<int>(std::floor(std::log10(a))) + 1 : -9;
    if (e > 10) return false;
    std::int64_t m = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int clamped = e < -9 ? -9 : e;
        const int s = 5 - clamped;  // a x 10^s is the mantissa
        const double scaled = s >= 0 ? a * pow10[s] : a / pow10[-s];
        m = std::llround(scaled);
        e = clamped;
        if (m >= 100'000) {
            ++e;  // rounding carried into a sixth digit
        } else if (m < 10'000 && m != 0 && e > -9) {
            --e;  // log10 rounded up past a power of ten
        } else {
            break;
        }
    }
    if (m >= 100'000 || e > 9) return false;
    if (m == 0) e = 0;
    put_integer(p + 1, 5, m, '0');
    p[6] = e > 0 || (e == 0 && m != 0) ? '+' : '-';
    p[7] = static_cast<char>('0' + (e < 0 ? -e : e));
    return true;
}

}  // namespace detail

/// Writes the two lines of `f` (69 characters and a NUL each) in the form the format's
/// publishers use: catalogue numbers zero-padded or Alpha-5, the epoch day zero-padded to three
/// digits, blanks before the other right-aligned numbers, a blank for a positive sign, zero in
/// the exponent form as "00000-0", and the checksums. The epoch is `f.epoch_ns` rounded to the
/// nearest 864 us (ties later), its year 1957-2056; angles are converted back to degrees with
/// `units.deg`, the mean motion to rev/day with `units.day` and `units.rev`.
///
/// Returns Reason::none, or the reason of the first field whose value cannot be written (out
/// of the field's range, not finite, a negative angle, a mean motion that rounds to 0, a
/// classification that is not a capital, a designator that is not of the form); the lines are
/// then incomplete. A valid set in this form reads back to the same lines, and any valid set
/// reads back to the same values.
inline Reason format(const Fields& f, char (&line1)[tle_line_size], char (&line2)[tle_line_size],
                     const Units& units = si_units) noexcept {
    using detail::put_integer;
    std::memset(line1, ' ', line_length);
    std::memset(line2, ' ', line_length);
    line1[line_length] = line2[line_length] = '\0';
    line1[0] = '1';
    line2[0] = '2';
    if (!alpha5_encode(f.satno, line1 + 2)) return Reason::satno;
    std::memcpy(line2 + 2, line1 + 2, 5);
    if (!detail::is_capital(f.classification)) return Reason::classification;
    line1[7] = f.classification;
    for (int i = 0; i < 8 && f.intldes[i] != '\0'; ++i) line1[9 + i] = f.intldes[i];
    if (detail::intldes_form(line1 + 9) != no_fault) return Reason::intldes;

    // Epoch in units of 1e-8 day, rounded to nearest.
    const std::int64_t unit = detail::ns_per_day_unit;
    std::int64_t q = floor_div(f.epoch_ns, unit);
    if (2 * floor_mod(f.epoch_ns, unit) >= unit) ++q;
    const std::int64_t days = floor_div(q, 100'000'000);
    const std::int64_t year = civil_from_days(days).year;
    if (year < 1957 || year > 2056) return Reason::epoch_year;
    put_integer(line1 + 18, 2, year % 100, '0');
    put_integer(line1 + 20, 3, days - days_from_civil(year, 1, 1) + 1, '0');
    line1[23] = '.';
    put_integer(line1 + 24, 8, floor_mod(q, 100'000'000), '0');

    if (!detail::put_signed_fraction(line1 + 33, f.ndot)) return Reason::ndot;
    if (!detail::put_exponent_form(line1 + 44, f.nddot)) return Reason::nddot;
    if (!detail::put_exponent_form(line1 + 53, f.bstar)) return Reason::bstar;
    if (f.ephemeris_type < 0 || f.ephemeris_type > 9) return Reason::ephemeris_type;
    line1[62] = static_cast<char>('0' + f.ephemeris_type);
    if (f.element_number < 0 || f.element_number > 9999) return Reason::element_number;
    put_integer(line1 + 64, 4, f.element_number);
    line1[68] = static_cast<char>('0' + checksum(line1, line_length));

    if (!detail::put_fixed(line2 + 8, 3, 4, f.inc / units.deg)) return Reason::inc;
    if (!detail::put_fixed(line2 + 17, 3, 4, f.raa / units.deg)) return Reason::raa;
    if (!(f.ecc < 1.0) || !detail::put_fixed(line2 + 25, 0, 7, f.ecc)) return Reason::ecc;
    line2[25] = ' ';  // the implied point is not written
    if (!detail::put_fixed(line2 + 34, 3, 4, f.arp / units.deg)) return Reason::arp;
    if (!detail::put_fixed(line2 + 43, 3, 4, f.mea / units.deg)) return Reason::mea;
    if (!detail::put_fixed(line2 + 52, 2, 8, (f.mnm * units.day) / units.rev) ||
        std::strncmp(line2 + 52, " 0.00000000", 11) == 0)
        return Reason::mnm;
    if (f.revolution < 0 || f.revolution > 99'999) return Reason::revolution;
    put_integer(line2 + 63, 5, f.revolution);
    line2[68] = static_cast<char>('0' + checksum(line2, line_length));
    return Reason::none;
}

}  // namespace orbivex::kern::tle
