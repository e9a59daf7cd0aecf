// Whole-line scanning of 69-column element lines: one bit per column for each character class
// (SSE2 where the target has it), and digit strings read eight at a time in a 64-bit word.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(ORBIVEX_TLE_NO_SIMD)
#include <emmintrin.h>
#define ORBIVEX_TLE_SSE2 1
#endif

namespace orbivex::kern::tle::scan {

/// One bit per column of a line: bit i is column i + 1 (columns 1-64 in `lo`, 65-69 in `hi`).
struct Columns {
    std::uint64_t lo = 0, hi = 0;

    constexpr Columns operator&(const Columns o) const noexcept { return {lo & o.lo, hi & o.hi}; }
    constexpr Columns operator|(const Columns o) const noexcept { return {lo | o.lo, hi | o.hi}; }
    constexpr Columns operator~() const noexcept { return {~lo, ~hi}; }
    /// Each bit moved to the next column.
    constexpr Columns next() const noexcept { return {lo << 1, (hi << 1) | (lo >> 63)}; }
    constexpr bool none() const noexcept { return (lo | hi) == 0; }
};

/// Columns `first` to `last`, 1-based and inclusive.
constexpr Columns span(const int first, const int last) noexcept {
    Columns c;
    for (int col = first; col <= last; ++col) {
        if (col <= 64) {
            c.lo |= std::uint64_t{1} << (col - 1);
        } else {
            c.hi |= std::uint64_t{1} << (col - 65);
        }
    }
    return c;
}

/// The columns of a line holding each class of character, and the line's checksum before the
/// modulo: the digits of columns 1-68 plus one for each '-' there.
struct Classes {
    Columns digit, blank, point, plus, minus, capital;
    unsigned sum = 0;
};

/// What a line's form demands of its columns. A right-aligned field holds blanks and then
/// digits, its last column (also in `digit`) a digit; no two such fields are adjacent.
struct Template {
    Columns digit, blank, point, sign, exponent_sign, capital, right_aligned;
};

/// True when every column of the template holds what it demands.
constexpr bool fits(const Classes& c, const Template& t) noexcept {
    const Columns wrong = (t.digit & ~c.digit) | (t.blank & ~c.blank) | (t.point & ~c.point) |
                          (t.sign & ~(c.blank | c.plus | c.minus)) |
                          (t.exponent_sign & ~(c.plus | c.minus)) | (t.capital & ~c.capital) |
                          (t.right_aligned & ~(c.digit | c.blank)) |
                          // a blank right after a digit inside a right-aligned field
                          ((c.digit & t.right_aligned).next() & c.blank & t.right_aligned);
    return wrong.none();
}

#ifdef ORBIVEX_TLE_SSE2

/// Bytes of one 16-byte load in each class, a bit per byte.
struct Chunk {
    std::uint64_t digit, blank, point, plus, minus, capital;
    __m128i value;  ///< checksum score of each byte: the digit's value, 1 for '-', else 0
};

inline Chunk classify16(const char* p) noexcept {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed compares: bytes from 0x80 up are negative and in no class.
    const __m128i d = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                    _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i m = _mm_cmpeq_epi8(c, _mm_set1_epi8('-'));
    const __m128i cap = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('A' - 1)),
                                      _mm_cmplt_epi8(c, _mm_set1_epi8('Z' + 1)));
    const auto bits = [](const __m128i x) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(x)));
    };
    return {bits(d),
            bits(_mm_cmpeq_epi8(c, _mm_set1_epi8(' '))),
            bits(_mm_cmpeq_epi8(c, _mm_set1_epi8('.'))),
            bits(_mm_cmpeq_epi8(c, _mm_set1_epi8('+'))),
            bits(m),
            bits(cap),
            _mm_or_si128(_mm_and_si128(d, _mm_and_si128(c, _mm_set1_epi8(0x0F))),
                         _mm_and_si128(m, _mm_set1_epi8(1)))};
}

/// Classes of the 69 bytes at `p` in five 16-byte loads, the last (columns 54-69) overlapping
/// the fourth so that nothing past column 69 is read.
inline Classes classify(const char* p) noexcept {
    const Chunk c0 = classify16(p), c1 = classify16(p + 16), c2 = classify16(p + 32),
                c3 = classify16(p + 48), c4 = classify16(p + 53);
    const auto lo = [&](std::uint64_t Chunk::*f) {
        return c0.*f | (c1.*f << 16) | (c2.*f << 32) | (c3.*f << 48);
    };
    Classes out;
    out.digit = {lo(&Chunk::digit), c4.digit >> 11};
    out.blank = {lo(&Chunk::blank), c4.blank >> 11};
    out.point = {lo(&Chunk::point), c4.point >> 11};
    out.plus = {lo(&Chunk::plus), c4.plus >> 11};
    out.minus = {lo(&Chunk::minus), c4.minus >> 11};
    out.capital = {lo(&Chunk::capital), c4.capital >> 11};
    // The checksum takes columns 1-68: of the last load only columns 65-68 (bytes 11-14).
    const __m128i tail = _mm_set_epi8(0, 0x7F, 0x7F, 0x7F, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    // Scores are at most 9, so the sums of five loads stay below 256 in every byte.
    const __m128i v = _mm_add_epi8(_mm_add_epi8(c0.value, c1.value),
                                   _mm_add_epi8(_mm_add_epi8(c2.value, c3.value),
                                                _mm_and_si128(c4.value, tail)));
    const __m128i s = _mm_sad_epu8(v, _mm_setzero_si128());
    out.sum = static_cast<unsigned>(_mm_cvtsi128_si32(s) + _mm_extract_epi16(s, 4));
    return out;
}

#else

/// Classes of the 69 bytes at `p`, one byte at a time.
inline Classes classify(const char* p) noexcept {
    Classes out;
    for (int i = 0; i < 69; ++i) {
        const char c = p[i];
        const std::uint64_t bit = std::uint64_t{1} << (i < 64 ? i : i - 64);
        Columns one;
        (i < 64 ? one.lo : one.hi) = bit;
        if (c >= '0' && c <= '9') {
            out.digit = out.digit | one;
            if (i < 68) out.sum += static_cast<unsigned>(c - '0');
        } else if (c == ' ') {
            out.blank = out.blank | one;
        } else if (c == '.') {
            out.point = out.point | one;
        } else if (c == '+') {
            out.plus = out.plus | one;
        } else if (c == '-') {
            out.minus = out.minus | one;
            if (i < 68) ++out.sum;
        } else if (c >= 'A' && c <= 'Z') {
            out.capital = out.capital | one;
        }
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

/// Low nibbles of `n` bytes as a number: digits, with blanks as leading zeros.
inline std::uint32_t small_digits(const char* p, const int n) noexcept {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + (static_cast<std::uint32_t>(p[i]) & 0x0F);
    return v;
}

}  // namespace orbivex::kern::tle::scan
