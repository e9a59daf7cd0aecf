// Civil-calendar arithmetic on int64 nanoseconds since 1970-01-01T00:00:00 UTC (no leap seconds).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

namespace orbivex::kern {

inline constexpr std::int64_t ns_per_second = 1'000'000'000;
inline constexpr std::int64_t ns_per_day = 86'400 * ns_per_second;
/// Julian date of 1970-01-01T00:00:00.
inline constexpr double jd_unix_epoch = 2440587.5;
/// The one int64 value that is not an instant: datetime64's NaT.
inline constexpr std::int64_t not_a_time = std::numeric_limits<std::int64_t>::min();

/// Floor division and its remainder with the sign of `b` (C++ `/` truncates toward zero).
/// Neither multiplies back, so both hold over the whole int64 range.
inline std::int64_t floor_div(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}
inline std::int64_t floor_mod(std::int64_t a, std::int64_t b) noexcept {
    std::int64_t r = a % b;
    if (r != 0 && ((r < 0) != (b < 0))) r += b;
    return r;
}

struct CivilDate {
    std::int64_t year;
    int month;  ///< 1..12
    int day;    ///< 1..31
};

/// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's era arithmetic, exact for
/// any year whose day count fits in int64).
inline std::int64_t days_from_civil(std::int64_t y, int m, int d) noexcept {
    y -= m <= 2;
    const std::int64_t era = floor_div(y, 400);
    const std::int64_t yoe = y - era * 400;                                    // [0, 399]
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;  // [0, 365]
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;            // [0, 146096]
    return era * 146097 + doe - 719468;
}

/// Inverse of days_from_civil.
inline CivilDate civil_from_days(std::int64_t z) noexcept {
    z += 719468;
    const std::int64_t era = floor_div(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

inline bool is_leap_year(std::int64_t y) noexcept {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

inline int days_in_month(std::int64_t y, int m) noexcept {
    static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && is_leap_year(y) ? 29 : lengths[m - 1];
}

/// Outcome of turning text or a Julian date into nanoseconds.
enum class TimeStatus { ok, bad_text, out_of_range, not_finite };

/// Instant of a civil date and time of day; out_of_range when it does not fit int64 (or is NaT).
inline TimeStatus ns_from_civil(std::int64_t y, int mo, int d, std::int64_t ns_of_day,
                                std::int64_t& out) noexcept {
    // Years beyond +-1e6 cannot fit; the bound keeps days_from_civil's products small.
    if (y < -1'000'000 || y > 1'000'000) return TimeStatus::out_of_range;
    std::int64_t ns = 0;
    if (__builtin_mul_overflow(days_from_civil(y, mo, d), ns_per_day, &ns) ||
        __builtin_add_overflow(ns, ns_of_day, &ns) || ns == not_a_time)
        return TimeStatus::out_of_range;
    out = ns;
    return TimeStatus::ok;
}

namespace detail {

// Reads exactly `n` decimal digits at `p`; false when any is not a digit.
inline bool read_digits(const char* p, int n, std::int64_t& out) noexcept {
    std::int64_t v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        v = v * 10 + (p[i] - '0');
    }
    out = v;
    return true;
}

}  // namespace detail

/// Reads "YYYY", "YYYY-MM" or "YYYY-MM-DD"; after a full date optionally "THH:MM" (or a blank
/// for "T"), then ":SS", then "." and 1 to 9 fraction digits; and an optional final "Z".
/// UTC, no leap second.
inline TimeStatus ns_from_iso(std::string_view s, std::int64_t& out) noexcept {
    if (!s.empty() && s.back() == 'Z') s.remove_suffix(1);
    const char* p = s.data();
    const std::size_t n = s.size();
    std::int64_t field[6] = {0, 1, 1, 0, 0, 0};  // year, month, day, hour, minute, second
    std::int64_t frac = 0;
    if (n < 4 || !detail::read_digits(p, 4, field[0])) return TimeStatus::bad_text;
    std::size_t i = 4;
    // Each later field is one separator and two digits; a field needs all before it.
    static constexpr char separators[5] = {'-', '-', 'T', ':', ':'};
    for (int f = 1; f < 6 && i < n; ++f) {
        const bool sep_ok = p[i] == separators[f - 1] || (f == 3 && p[i] == ' ');
        if (n < i + 3 || !sep_ok || !detail::read_digits(p + i + 1, 2, field[f]))
            return TimeStatus::bad_text;
        i += 3;
        if (f == 3 && i >= n) return TimeStatus::bad_text;  // an hour needs its minutes
    }
    if (i < n) {
        const std::size_t digits = n - i - 1;
        if (i != 19 || p[i] != '.' || digits < 1 || digits > 9 ||
            !detail::read_digits(p + i + 1, static_cast<int>(digits), frac))
            return TimeStatus::bad_text;
        for (std::size_t k = digits; k < 9; ++k) frac *= 10;
    }
    const int month = static_cast<int>(field[1]);
    if (month < 1 || month > 12 || field[2] < 1 || field[2] > days_in_month(field[0], month) ||
        field[3] > 23 || field[4] > 59 || field[5] > 59)
        return TimeStatus::bad_text;
    const std::int64_t ns_of_day =
        ((field[3] * 60 + field[4]) * 60 + field[5]) * ns_per_second + frac;
    return ns_from_civil(field[0], month, static_cast<int>(field[2]), ns_of_day, out);
}

/// Nanoseconds of a Julian date, rounded to nearest. The offset from the Unix epoch is taken
/// with its rounding error (TwoSum), split into whole days and a fraction, and only the
/// fraction is scaled in floating point, so no precision is lost to the size of the day count.
inline TimeStatus ns_from_jd(double jd, std::int64_t& out) noexcept {
    if (!std::isfinite(jd)) return TimeStatus::not_finite;
    const double x = jd - jd_unix_epoch;
    const double bb = x - jd;
    const double err = (jd - (x - bb)) + (-jd_unix_epoch - bb);  // x + err == jd - epoch exactly
    const double whole = std::floor(x);
    // +-106752 days is the int64 nanosecond range.
    if (whole < -106753.0 || whole > 106752.0) return TimeStatus::out_of_range;
    const double frac_ns = std::nearbyint(((x - whole) + err) * static_cast<double>(ns_per_day));
    std::int64_t ns = 0;
    if (__builtin_mul_overflow(static_cast<std::int64_t>(whole), ns_per_day, &ns) ||
        __builtin_add_overflow(ns, static_cast<std::int64_t>(frac_ns), &ns) || ns == not_a_time)
        return TimeStatus::out_of_range;
    out = ns;
    return TimeStatus::ok;
}

/// Julian date of an instant: whole days are added exactly, the fraction is rounded once.
inline double jd_from_ns(std::int64_t ns) noexcept {
    const std::int64_t days = floor_div(ns, ns_per_day);
    const std::int64_t rest = floor_mod(ns, ns_per_day);
    return (jd_unix_epoch + static_cast<double>(days)) +
           static_cast<double>(rest) / static_cast<double>(ns_per_day);
}

/// Longest text format_iso writes (a six-digit year with sign, nine fraction digits), plus NUL.
inline constexpr std::size_t iso_buffer_size = 40;

/// Writes "YYYY-MM-DDTHH:MM:SS" followed by `digits` (0, 3, 6 or 9) fraction digits, the
/// instant rounded half up to that many digits. Returns the length written (NUL-terminated).
inline std::size_t format_iso(std::int64_t ns, int digits, char* buf) noexcept {
    std::int64_t unit = 1;
    for (int k = digits; k < 9; ++k) unit *= 10;
    // Round in units of the last digit shown; the quotient form cannot overflow.
    std::int64_t q = floor_div(ns, unit);
    if (2 * floor_mod(ns, unit) >= unit) ++q;
    const std::int64_t units_per_day = ns_per_day / unit;
    const std::int64_t days = floor_div(q, units_per_day);
    std::int64_t tod = floor_mod(q, units_per_day);
    const std::int64_t units_per_second = ns_per_second / unit;
    const std::int64_t frac = tod % units_per_second;
    std::int64_t secs = tod / units_per_second;
    const CivilDate date = civil_from_days(days);
    const int hh = static_cast<int>(secs / 3600);
    secs %= 3600;
    char* p = buf;
    auto put = [&p](std::int64_t v, int width) {
        for (int k = width - 1; k >= 0; --k) {
            p[k] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        p += width;
    };
    const std::int64_t y = date.year;
    if (y < 0 || y > 9999) {
        *p++ = y < 0 ? '-' : '+';
        put(y < 0 ? -y : y, 6);
    } else {
        put(y, 4);
    }
    *p++ = '-';
    put(date.month, 2);
    *p++ = '-';
    put(date.day, 2);
    *p++ = 'T';
    put(hh, 2);
    *p++ = ':';
    put(secs / 60, 2);
    *p++ = ':';
    put(secs % 60, 2);
    if (digits > 0) {
        *p++ = '.';
        put(frac, digits);
    }
    *p = '\0';
    return static_cast<std::size_t>(p - buf);
}

}  // namespace orbivex::kern
