// Two-line element sets as text: the normalised form TLE stores, and the two fixed-column lines
// of a set's values with their checksums.
#pragma once

#include <bit>
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

/// The two digit bytes of each number below 100, the first in the low byte.
struct DigitPairs {
    std::uint16_t pair[100];
    constexpr DigitPairs() : pair() {
        for (int i = 0; i < 100; ++i)
            pair[i] = static_cast<std::uint16_t>(('0' + i / 10) | ('0' + i % 10) << 8);
    }
};
inline constexpr DigitPairs digit_pairs{};

/// The eight digits of `u` < 10^8 as the bytes of a word, the first (most significant) in the
/// low byte: a pair at a time from the halves of the number, which keeps the chain of
/// divisions short.
inline std::uint64_t digit_word(const std::uint32_t u) noexcept {
    const std::uint32_t hi = u / 10'000, lo = u % 10'000;
    const auto pair = [](std::uint32_t i) { return std::uint64_t{digit_pairs.pair[i]}; };
    return pair(hi / 100) | pair(hi % 100) << 16 | pair(lo / 100) << 32 | pair(lo % 100) << 48;
}

/// The leading '0' bytes among the first `width - 1` of `w` replaced by `fill`: bytes that are
/// not '0' have their top bit set (exact per byte, no carry between them), byte width - 1 by
/// force.
inline std::uint64_t fill_leading(std::uint64_t w, const int width, const char fill) noexcept {
    const std::uint64_t x = w ^ 0x3030303030303030ULL;
    const std::uint64_t lows = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t other = ((((x & lows) + lows) | x) & ~lows) | 0x80ULL << 8 * (width - 1);
    const int zeros = std::countr_zero(other) / 8;
    const std::uint64_t lead = zeros == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * zeros);
    return w ^ (lead & (0x0101010101010101ULL * static_cast<unsigned char>('0' ^ fill)));
}

/// The low `width` bytes of `w` at `p`, the low byte first.
inline void put_bytes(char* p, const std::uint64_t w, const int width) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &w, static_cast<std::size_t>(width));
    } else {
        for (int k = 0; k < width; ++k) p[k] = static_cast<char>(w >> 8 * k);
    }
}

/// The last `width` digits of `v` (width at most 8) right-aligned, blanks in front (`fill` '0'
/// pads with zeros); the last column is always a digit.
inline void put_integer(char* p, const int width, const std::int64_t v,
                        const char fill = ' ') noexcept {
    if (width <= 0) return;
    // Unsigned: the callers' values are not negative; divisions by constants become products.
    const auto u = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) % 100'000'000u);
    const std::uint64_t w = digit_word(u) >> 8 * (8 - width);
    put_bytes(p, fill == '0' ? w : fill_leading(w, width, fill), width);
}

/// std::llround of a finite |x| < 2^62, without the library call: the fraction x - trunc(x)
/// is exact, so its compare with one half decides as llround does (halves away from zero).
inline std::int64_t round_half_away(const double x) noexcept {
    const auto t = static_cast<std::int64_t>(x);
    const double r = x - static_cast<double>(t);
    return t + (r >= 0.5) - (r <= -0.5);
}

/// `x` rounded to `K` decimals as a right-aligned whole part of `W` columns, a point and `K`
/// digits. False when the rounded value is negative, does not fit or `x` is not finite.
template <int W, int K>
inline bool put_fixed(char* p, const double x) noexcept {
    const double scaled = x * pow10[K];
    const double limit = pow10[W + K];
    if (!(scaled > -0.5) || !(scaled < limit - 0.5)) return false;
    const std::int64_t m = round_half_away(scaled);
    if (m >= static_cast<std::int64_t>(limit)) return false;
    if constexpr (W + K < 8) {
        // All the digits from one word: the whole part, the point and the decimals.
        const std::uint64_t d = digit_word(static_cast<std::uint32_t>(m));
        std::uint64_t w = (d >> 8 * (8 - K)) << 8 * (W + 1) | std::uint64_t{'.'} << 8 * W;
        if constexpr (W > 0) {
            w |= fill_leading((d >> 8 * (8 - W - K)) & (~std::uint64_t{0} >> (64 - 8 * W)), W, ' ');
        }
        put_bytes(p, w, W + 1 + K);
    } else {
        put_integer(p, W, m / ipow10[K]);
        p[W] = '.';
        put_integer(p + W + 1, K, m % ipow10[K], '0');
    }
    return true;
}

/// " .NNNNNNNN" (or "-.NNNNNNNN"): `x` rounded to eight decimals, |x| < 1.
inline bool put_signed_fraction(char* p, const double x) noexcept {
    const double scaled = std::fabs(x) * 1e8;
    if (!(scaled < 99'999'999.5)) return false;
    p[0] = std::signbit(x) ? '-' : ' ';
    p[1] = '.';
    put_integer(p + 2, 8, round_half_away(scaled), '0');
    return true;
}

/// floor(log10(a)) + 1 for 1e-10 <= a < 1e9, from the binary exponent and one compare with a
/// power of ten: exact but within a rounding of a power of ten, where put_exponent_form's
/// corrections give the same digits from either neighbour.
inline int decimal_exponent(const double a) noexcept {
    static constexpr double powers[] = {1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4,
                                        1e-3,  1e-2,  1e-1, 1e0,  1e1,  1e2,  1e3,  1e4,
                                        1e5,   1e6,   1e7,  1e8,  1e9,  1e10};
    // The binary exponent of a normal a; then floor(e2 log10(2)), so 10^k <= a < 10^(k + 2).
    const int e2 = static_cast<int>((std::bit_cast<std::uint64_t>(a) >> 52) & 0x7FF) - 1023;
    int k = (e2 * 78913) >> 18;
    k += a >= powers[k + 12];
    return k + 1;
}

/// "SMMMMMEX": `x` to five significant digits with an exponent -9 ... 9, mantissa normalised
/// (0.1 <= 0.MMMMM < 1) except where the exponent -9 would need to go lower; zero is "00000-0".
inline bool put_exponent_form(char* p, const double x) noexcept {
    const double a = std::fabs(x);
    if (!std::isfinite(a)) return false;
    p[0] = std::signbit(x) ? '-' : ' ';
    // Any exponent up to -9 gives the same digits; from 1e9 up none fits.
    if (a >= 1e9) return false;
    int e = a >= 1e-10 ? decimal_exponent(a) : -10;
    std::int64_t m = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int clamped = e < -9 ? -9 : e;
        const int s = 5 - clamped;  // a x 10^s is the mantissa
        const double scaled = s >= 0 ? a * pow10[s] : a / pow10[-s];
        m = round_half_away(scaled);
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

/// Every column in any class: scan_line of it gives a line's checksum alone.
inline constexpr scan::LineForm any_columns =
    scan::make_form("*********************************************************************");

/// The checksum digit of a written line, all 69 columns in a few vector steps.
inline char checksum_digit(const char* line) noexcept {
    return static_cast<char>('0' + scan::scan_line(line, any_columns).sum % 10);
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
    line1[68] = detail::checksum_digit(line1);

    if (!detail::put_fixed<3, 4>(line2 + 8, f.inc / units.deg)) return Reason::inc;
    if (!detail::put_fixed<3, 4>(line2 + 17, f.raa / units.deg)) return Reason::raa;
    if (!(f.ecc < 1.0) || !detail::put_fixed<0, 7>(line2 + 25, f.ecc)) return Reason::ecc;
    line2[25] = ' ';  // the implied point is not written
    if (!detail::put_fixed<3, 4>(line2 + 34, f.arp / units.deg)) return Reason::arp;
    if (!detail::put_fixed<3, 4>(line2 + 43, f.mea / units.deg)) return Reason::mea;
    if (!detail::put_fixed<2, 8>(line2 + 52, (f.mnm * units.day) / units.rev) ||
        std::strncmp(line2 + 52, " 0.00000000", 11) == 0)
        return Reason::mnm;
    if (f.revolution < 0 || f.revolution > 99'999) return Reason::revolution;
    put_integer(line2 + 63, 5, f.revolution);
    line2[68] = detail::checksum_digit(line2);
    return Reason::none;
}

}  // namespace orbivex::kern::tle
