// Whole-line scanning of 69-column element lines: every column against the line's form and the
// checksum in one pass (SSE2 where the target has it), and digit strings read eight at a time
// in a 64-bit word.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(ORBIVEX_TLE_NO_SIMD)
#include <emmintrin.h>
#define ORBIVEX_TLE_SSE2 1
#endif

namespace orbivex::kern::tle::scan {

// Character classes as bits of a byte.
inline constexpr unsigned char digit = 1, blank = 2, point = 4, plus = 8, minus = 16, capital = 32;

/// What each of a line's 69 columns may hold (a set of classes), and the columns inside a
/// right-aligned field after its first, where a blank must not follow a digit (0xFF).
struct LineForm {
    unsigned char allowed[69];
    unsigned char inner[69];
};

/// The form of a line from one letter per column: D digit, B blank, P point, S sign (blank,
/// '+' or '-'), E exponent sign ('+' or '-'), L capital, R right-aligned (blanks, then
/// digits; a field ends with a D column), and * any class, for columns checked elsewhere.
consteval LineForm make_form(const char (&pattern)[70]) {
    LineForm f{};
    for (int i = 0; i < 69; ++i) {
        const char c = pattern[i];
        f.allowed[i] = c == 'D'   ? digit
                       : c == 'B' ? blank
                       : c == 'P' ? point
                       : c == 'S' ? blank | plus | minus
                       : c == 'E' ? plus | minus
                       : c == 'L' ? capital
                       : c == 'R' ? digit | blank
                                  : digit | blank | point | plus | minus | capital;
        f.inner[i] = (c == 'R' || c == 'D') && i > 0 && pattern[i - 1] == 'R' ? 0xFF : 0;
    }
    return f;
}

/// Whether a line fits its form, and its checksum before the modulo (digits of columns 1-68
/// plus one for each '-' there).
struct Scan {
    bool fits;
    unsigned sum;
};

#ifdef ORBIVEX_TLE_SSE2

/// The 69 bytes at `p` in five 16-byte loads, the last (columns 54-69) overlapping the fourth
/// so that nothing past column 69 is read; a column checked twice gives the same answer.
inline Scan scan_line(const char* p, const LineForm& form) noexcept {
    const auto load = [](const void* q) { return _mm_loadu_si128(static_cast<const __m128i*>(q)); };
    const auto bit = [](const unsigned char b) { return _mm_set1_epi8(static_cast<char>(b)); };
    __m128i bad = _mm_setzero_si128(), score = _mm_setzero_si128();
    static constexpr int offsets[5] = {0, 16, 32, 48, 53};
    for (int k = 0; k < 5; ++k) {
        const int o = offsets[k];
        const __m128i c = load(p + o);
        // Signed compares: bytes from 0x80 up are negative and in no class.
        const __m128i d = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                        _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
        const __m128i b = _mm_cmpeq_epi8(c, _mm_set1_epi8(' '));
        const __m128i m = _mm_cmpeq_epi8(c, _mm_set1_epi8('-'));
        const __m128i cap = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('A' - 1)),
                                          _mm_cmplt_epi8(c, _mm_set1_epi8('Z' + 1)));
        const __m128i pt = _mm_cmpeq_epi8(c, _mm_set1_epi8('.'));
        const __m128i pl = _mm_cmpeq_epi8(c, _mm_set1_epi8('+'));
        const __m128i classes = _mm_or_si128(
            _mm_or_si128(_mm_or_si128(_mm_and_si128(d, bit(digit)), _mm_and_si128(b, bit(blank))),
                         _mm_or_si128(_mm_and_si128(pt, bit(point)), _mm_and_si128(pl, bit(plus)))),
            _mm_or_si128(_mm_and_si128(m, bit(minus)), _mm_and_si128(cap, bit(capital))));
        // A column whose class is not allowed, and a blank right after a digit inside a
        // right-aligned field (the first column of a field is never inner, so the digit
        // before it is in the same load).
        bad = _mm_or_si128(bad, _mm_cmpeq_epi8(_mm_and_si128(classes, load(form.allowed + o)),
                                               _mm_setzero_si128()));
        bad = _mm_or_si128(
            bad, _mm_and_si128(load(form.inner + o), _mm_and_si128(b, _mm_slli_si128(d, 1))));
        __m128i value = _mm_or_si128(_mm_and_si128(d, _mm_and_si128(c, _mm_set1_epi8(0x0F))),
                                     _mm_and_si128(m, _mm_set1_epi8(1)));
        if (k == 4) {
            // Of the last load only columns 65-68 (bytes 11-14) count towards the checksum.
            value = _mm_and_si128(
                value, _mm_set_epi8(0, 0x7F, 0x7F, 0x7F, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
        }
        // At most 9 per byte and load: the sums stay below 256.
        score = _mm_add_epi8(score, value);
    }
    const __m128i s = _mm_sad_epu8(score, _mm_setzero_si128());
    return {_mm_movemask_epi8(bad) == 0,
            static_cast<unsigned>(_mm_cvtsi128_si32(s) + _mm_extract_epi16(s, 4))};
}

#else

/// The 69 bytes at `p`, one at a time.
inline Scan scan_line(const char* p, const LineForm& form) noexcept {
    Scan out{true, 0};
    bool previous_digit = false;
    for (int i = 0; i < 69; ++i) {
        const char c = p[i];
        const unsigned char cls = c >= '0' && c <= '9'   ? digit
                                  : c == ' '             ? blank
                                  : c == '.'             ? point
                                  : c == '+'             ? plus
                                  : c == '-'             ? minus
                                  : c >= 'A' && c <= 'Z' ? capital
                                                         : 0;
        if ((cls & form.allowed[i]) == 0 || (form.inner[i] && cls == blank && previous_digit))
            out.fits = false;
        if (i < 68) out.sum += cls == digit ? static_cast<unsigned>(c - '0') : cls == minus;
        previous_digit = cls == digit;
    }
    return out;
}

#endif

/// The eight bytes at `p` as a word, the first byte lowest.
inline std::uint64_t load8(const char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

/// Stores a word from load8 back as eight bytes.
inline void store8(char* p, std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

/// Value of eight digit bytes in a word from load8 (a blank counts as 0: only the low nibble of
/// each byte is used). Pairs, then quadruples, then the whole, each step one multiply-add on
/// lanes of the word.
inline std::uint32_t eight_digits(std::uint64_t v) noexcept {
    v &= 0x0F0F0F0F0F0F0F0FULL;
    v = v * 10 + (v >> 8);  // byte 2i: the pair of digits 2i, 2i + 1
    const std::uint64_t pairs = 0x000000FF000000FFULL;
    v = (((v & pairs) * (100 + (1'000'000ULL << 32))) +
         (((v >> 16) & pairs) * (1 + (10'000ULL << 32)))) >>
        32;
    return static_cast<std::uint32_t>(v);
}

/// "NNN.NNNN" at `p` (blanks for leading zeros) as the integer of its seven digits.
inline std::uint32_t angle_digits(const char* p) noexcept {
    const std::uint64_t v = load8(p);
    // Drop the point (byte 3) and put a zero digit in front.
    const std::uint64_t joined = (v & 0x0000000000FFFFFFULL) | ((v >> 8) & 0x00FFFFFFFF000000ULL);
    return eight_digits(joined << 8);
}

/// Bytes of `w` equal to `byte`, as 0xFF, others 0. Exact for words whose bytes, xor `byte`,
/// are never 0x01 above a match (the borrow of the zero test could reach them): true of digits,
/// capitals and blanks against a blank.
inline std::uint64_t bytes_equal(const std::uint64_t w, const unsigned char byte) noexcept {
    const std::uint64_t x = w ^ (0x0101010101010101ULL * byte);
    const std::uint64_t zero = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
    return (zero >> 7) * 0xFF;
}

/// Columns 10-17 of line 1: all blank, or five digits and one to three capitals, left-aligned.
/// Without branches: the piece's length varies from set to set.
inline bool intldes_fits(const char* p) noexcept {
    const auto u = [p](const int i) { return unsigned{static_cast<unsigned char>(p[i])}; };
    const auto dig = [&](const int i) { return static_cast<unsigned>(u(i) - '0' <= 9u); };
    const auto cap = [&](const int i) { return static_cast<unsigned>(u(i) - 'A' <= 25u); };
    const auto blank = [&](const int i) { return static_cast<unsigned>(u(i) == ' '); };
    const unsigned digits = dig(0) & dig(1) & dig(2) & dig(3) & dig(4);
    const unsigned piece = cap(5) & ((blank(6) & blank(7)) | (cap(6) & (blank(7) | cap(7))));
    return (digits & piece) | (load8(p) == 0x2020202020202020ULL);
}

/// Low nibbles of `n` bytes as a number: digits, with blanks as leading zeros.
inline std::uint32_t small_digits(const char* p, const int n) noexcept {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (static_cast<std::uint32_t>(p[i]) & 0x0F);
    return v;
}

}  // namespace orbivex::kern::tle::scan
