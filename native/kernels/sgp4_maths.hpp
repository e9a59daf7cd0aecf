// SGP4/SDP4: the maths the model needs, on one lane (double, libm) or on a vector of lanes.
//
// The model is written once, over a lane type V that is either double or a GCC/Clang vector of
// doubles. For double every function here is the C library's, so one lane computes what the
// published model computes. For vectors the functions are our own kernels, without branches
// between lanes: they are accurate to a few units in the last place, far inside the 1 mm and
// 1 um/s the results are held to, use no fused multiply-add and need nothing beyond SSE2, so
// the same source serves every instruction set the dispatcher compiles it for. Arguments they
// do not cover (angles beyond 1e7 rad) go lane by lane to the C library.
#pragma once

#include <cmath>

#include <concepts>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include "constants.hpp"

#if defined(__GNUC__) && !defined(__clang__)
// GCC notes that vectors returned from the helpers below would be passed differently with
// AVX enabled. Everything is inlined into the dispatched loops, so no vector crosses a call
// boundary. The note comes when the template instances are emitted at the end of the
// translation unit, so it is turned off for the rest of it rather than pushed and popped.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace orbivex::kern::sgp4::lanes {

/// W doubles as one vector value, and the signed and unsigned integer vectors of its width.
template <int W>
struct Vec {
    typedef double type __attribute__((vector_size(W * sizeof(double))));
    typedef std::int64_t mask __attribute__((vector_size(W * sizeof(double))));
    typedef std::uint64_t bits __attribute__((vector_size(W * sizeof(double))));
};

template <class V>
concept Vector = !std::same_as<V, double>;

/// Lane count of V (1 for double).
template <class V>
inline constexpr int width = static_cast<int>(sizeof(V) / sizeof(double));

/// The mask type of V: bool for double, an integer vector of all-ones/zero lanes otherwise.
template <class V>
using mask_t = decltype(std::declval<V>() < std::declval<V>());

template <class V>
using bits_t = typename Vec<width<V>>::bits;

// ---- masks and selection -----------------------------------------------------------------

// GCC compiles these helpers for the baseline target before inlining them into the dispatched
// loops, and lowers some vector forms lane by lane at that point: a ?: on vectors, and &, | or
// ~ between two comparison results. A single comparison feeding the bitwise select below stays
// a vector operation, so the model combines conditions by nesting selects and keeps running
// flags as data, never as combined masks.

inline bool any(bool m) noexcept { return m; }
inline bool all(bool m) noexcept { return m; }
inline double select(bool m, double a, double b) noexcept { return m ? a : b; }

template <class M>
    requires(!std::same_as<M, bool>)
inline bool any(const M& m) noexcept {
    std::int64_t acc = 0;
    for (int i = 0; i < static_cast<int>(sizeof(M) / sizeof(std::int64_t)); ++i) acc |= m[i];
    return acc != 0;
}

template <class M>
    requires(!std::same_as<M, bool>)
inline bool all(const M& m) noexcept {
    std::int64_t acc = -1;
    for (int i = 0; i < static_cast<int>(sizeof(M) / sizeof(std::int64_t)); ++i) acc &= m[i];
    return acc != 0;
}

/// a where m, b elsewhere, for a mask m of all-ones or zero lanes.
template <Vector V, class M>
    requires(!std::same_as<M, bool>)
inline V select(const M& m, const V& a, const V& b) noexcept {
    using B = bits_t<V>;
    return (V)(((B)m & (B)a) | (~(B)m & (B)b));
}

/// x in every lane; keeps the sign of zero (a plain broadcast through 0.0 + x would not).
template <class V>
inline V splat(double x) noexcept {
    if constexpr (std::same_as<V, double>) {
        return x;
    } else {
        V v;
        for (int i = 0; i < width<V>; ++i) v[i] = x;
        return v;
    }
}

template <class V>
inline V load(const double* p) noexcept {
    if constexpr (std::same_as<V, double>) {
        return *p;
    } else {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
}

/// Lane i of v.
template <class V>
inline double lane(const V& v, int i) noexcept {
    if constexpr (std::same_as<V, double>) {
        (void)i;
        return v;
    } else {
        return v[i];
    }
}

// ---- one lane: the C library ---------------------------------------------------------------

inline double abs_(double x) noexcept { return std::fabs(x); }
inline double sqrt_(double x) noexcept { return std::sqrt(x); }
inline void sincos_(double x, double& s, double& c) noexcept {
    s = std::sin(x);
    c = std::cos(x);
}
inline void sincos_bounded_(double x, double& s, double& c) noexcept { sincos_(x, s, c); }
inline double atan2_(double y, double x) noexcept { return std::atan2(y, x); }
/// fmod(x, 2 pi): the remainder with the sign of x.
inline double fmod2pi_(double x) noexcept { return std::fmod(x, two_pi); }

// ---- vectors: our own kernels --------------------------------------------------------------

namespace detail {

// pi/2 and 2 pi split into two 30-bit heads and a tail (Cody and Waite): n * head is exact for
// |n| < 2^23, so the reduction keeps full precision up to |x| of about 1e7 rad.
inline constexpr double pio2_1 = 1.570796325802803;      // 0x1.921fb54000000p+0
inline constexpr double pio2_2 = 9.920935791635221e-10;  // 0x1.10b4611800000p-30
inline constexpr double pio2_3 = 5.170182981794105e-19;
inline constexpr double twopi_1 = 6.283185303211212;
inline constexpr double twopi_2 = 3.9683743166540886e-09;
inline constexpr double twopi_3 = 2.068073192717642e-18;
inline constexpr double two_over_pi = 0.6366197723675814;
inline constexpr double one_over_2pi = 0.15915494309189535;
inline constexpr double reduction_limit = 1.0e7;
// Adding and removing 1.5 * 2^52 rounds to the nearest integer for |x| < 2^51 (without
// SSE4.1's roundpd); the integer is also left in the low mantissa bits of the sum.
inline constexpr double round_magic = 6755399441055744.0;

template <class V>
inline V rint(const V& x) noexcept {
    return (x + round_magic) - round_magic;
}

template <class V>
inline V copysign_bits(const V& mag, const V& sgn) noexcept {
    using B = bits_t<V>;
    const B sign = (B)splat<V>(-0.0);
    return (V)(((B)mag & ~sign) | ((B)sgn & sign));
}

/// Lanes where the fast reduction is not exact enough, recomputed with the C library.
template <class V, class F>
inline void fallback(const V& x, V& out, F f) noexcept {
    for (int i = 0; i < width<V>; ++i)
        if (!(std::fabs(x[i]) <= reduction_limit)) out[i] = f(x[i]);
}

}  // namespace detail

template <Vector V>
inline V abs_(const V& x) noexcept {
    using B = bits_t<V>;
    return (V)((B)x & ~(B)splat<V>(-0.0));
}

/// sqrt from a bit-level reciprocal-square-root seed (about 3.5 % off) and four Newton steps
/// on 1/sqrt (each squares the error), then one Newton step on the root itself.
template <Vector V>
inline V sqrt_(const V& x) noexcept {
    using B = bits_t<V>;
    V y = (V)((B)splat<V>(0x1.6eb50c7b537a9p+511) - ((B)x >> 1));  // 0x5fe6eb50c7b537a9
    const V hx = 0.5 * x;
    for (int k = 0; k < 4; ++k) y = y * (1.5 - hx * y * y);
    V s = x * y;
    s = s + 0.5 * y * (x - s * s);
    s = select<V>(x == 0.0, x, s);
    return select<V>(x < 0.0, splat<V>(NAN), s);
}

/// sin and cos together for |x| <= 1e7 (reduced arguments; larger ones lose accuracy): x =
/// n pi/2 + r with |r| <= pi/4, Taylor polynomials of r (truncation below 1e-19), and the
/// quadrant n mod 4 read from the rounding sum's low bits.
template <Vector V>
inline void sincos_bounded_(const V& x, V& s, V& c) noexcept {
    using namespace detail;
    using B = bits_t<V>;
    const V big = x * two_over_pi + round_magic;
    const V n = big - round_magic;
    const V r = ((x - n * pio2_1) - n * pio2_2) - n * pio2_3;
    const V r2 = r * r;
    const V ps = r + r * r2 *
                         (-1.6666666666666666e-01 +
                          r2 * (8.333333333333333e-03 +
                                r2 * (-1.984126984126984e-04 +
                                      r2 * (2.7557319223985893e-06 +
                                            r2 * (-2.505210838544172e-08 +
                                                  r2 * (1.6059043836821613e-10 +
                                                        r2 * (-7.647163731819816e-13 +
                                                              r2 * 2.8114572543455206e-15)))))));
    // 1 - h with h = r^2/2 - r^4/24 + ... summed first: a single rounding at the end, so that
    // cos near +-1 comes out correctly rounded. The model forms 1 + cos i and 1 - cos^2 i, and
    // near 180 degrees a unit in the last place of cos i would grow to 1e-9 there.
    const V pc =
        1.0 - (0.5 * r2 - r2 * r2 *
                              (4.1666666666666664e-02 +
                               r2 * (-1.388888888888889e-03 +
                                     r2 * (2.48015873015873e-05 +
                                           r2 * (-2.755731922398589e-07 +
                                                 r2 * (2.08767569878681e-09 +
                                                       r2 * (-1.1470745597729725e-11 +
                                                             r2 * 4.779477332387385e-14)))))));
    const B q = (B)big;
    const auto odd = (q & 1) != 0;
    const V sv = select(odd, pc, ps);
    const V cv = select(odd, ps, pc);
    s = (V)((B)sv ^ ((q & 2) << 62));
    c = (V)((B)cv ^ (((q + 1) & 2) << 62));
}

/// sin and cos together for any x: lanes beyond 1e7 rad use the C library.
template <Vector V>
inline void sincos_(const V& x, V& s, V& c) noexcept {
    using namespace detail;
    sincos_bounded_(x, s, c);
    if (any(abs_(x) > reduction_limit)) {
        fallback(x, s, [](double a) { return std::sin(a); });
        fallback(x, c, [](double a) { return std::cos(a); });
    }
}

/// x less whole turns, for |x| <= 1e7: in [-pi, pi], or with FmodSign as fmod(x, 2 pi) gives
/// it (k = trunc(x / 2 pi), the sign of x). The sign convention matters only where an angle is
/// used other than through its value modulo 2 pi: the Lyddane branch of the lunar-solar
/// periodics is not periodic in the node.
template <bool FmodSign, Vector V>
inline V reduce_turns_(const V& x) noexcept {
    using namespace detail;
    V k = rint(x * one_over_2pi);
    V r = ((x - k * twopi_1) - k * twopi_2) - k * twopi_3;
    if constexpr (FmodSign) {
        // rint may round away from zero; step k back one turn where the remainder changed sign
        k = k - select(r * x < 0.0, copysign_bits(splat<V>(1.0), x), V{});
        r = ((x - k * twopi_1) - k * twopi_2) - k * twopi_3;
    }
    return r;
}

/// fmod(x, 2 pi) for any x (lanes beyond 1e7 rad use the C library).
template <Vector V>
inline V fmod2pi_(const V& x) noexcept {
    using namespace detail;
    V r = reduce_turns_<true>(x);
    if (any(abs_(x) > reduction_limit)) fallback(x, r, [](double a) { return fmod2pi_(a); });
    return r;
}

/// atan2 from atan of the ratio min/max in [0, 1], reduced about the nearest of tan(k pi/16)
/// (k = 0..4) to |z| <= tan(pi/32) where eight Taylor terms leave less than 1e-18.
template <Vector V>
inline V atan2_(const V& y, const V& x) noexcept {
    const V ax = abs_(x), ay = abs_(y);
    const auto swap = ay > ax;
    const V num = select(swap, ax, ay);
    const V den = select(swap, ay, ax);
    V a = num / den;
    a = select<V>(den == 0.0, V{}, a);
    // centres tan(k pi/16) as doubles, atan of those doubles, and the midpoints between them
    V cen = V{}, base = V{};
    cen = select(a > 0.09849140335716425, splat<V>(0.198912367379658), cen);
    base = select(a > 0.09849140335716425, splat<V>(0.19634954084936207), base);
    cen = select(a > 0.3033466836073424, splat<V>(0.41421356237309503), cen);
    base = select(a > 0.3033466836073424, splat<V>(0.39269908169872414), base);
    cen = select(a > 0.5345111359507916, splat<V>(0.6681786379192989), cen);
    base = select(a > 0.5345111359507916, splat<V>(0.5890486225480862), base);
    cen = select(a > 0.8206787908286602, splat<V>(1.0), cen);
    base = select(a > 0.8206787908286602, splat<V>(0.7853981633974483), base);
    const V z = (a - cen) / (1.0 + a * cen);
    const V z2 = z * z;
    const V p =
        z + z * z2 *
                (-1.0 / 3.0 +
                 z2 * (1.0 / 5.0 +
                       z2 * (-1.0 / 7.0 +
                             z2 * (1.0 / 9.0 +
                                   z2 * (-1.0 / 11.0 + z2 * (1.0 / 13.0 + z2 * (-1.0 / 15.0)))))));
    V t = base + p;
    t = select(swap, 1.5707963267948966 - t, t);
    const V sx = detail::copysign_bits(splat<V>(1.0), x);
    t = select(sx < 0.0, 3.141592653589793 - t, t);
    return detail::copysign_bits(t, y);
}

/// sin and cos of an angle d that is mostly small: a short series for lanes with |d| <= 1/8
/// (truncated after d^9 and d^10, leaving less than 1e-18), sincos_ for the others. The choice
/// is made per lane, so that a lane's result never depends on its neighbours.
template <Vector V>
inline void sincos_small_(const V& d, V& s, V& c) noexcept {
    const V d2 = d * d;
    s = d +
        d * d2 * (-1.0 / 6.0 + d2 * (1.0 / 120.0 + d2 * (-1.0 / 5040.0 + d2 * (1.0 / 362880.0))));
    c = (1.0 - 0.5 * d2) +
        d2 * d2 *
            (1.0 / 24.0 + d2 * (-1.0 / 720.0 + d2 * (1.0 / 40320.0 + d2 * (-1.0 / 3628800.0))));
    if (any(abs_(d) > 0.125)) {
        V sf, cf;
        sincos_(d, sf, cf);
        s = select(abs_(d) > 0.125, sf, s);
        c = select(abs_(d) > 0.125, cf, c);
    }
}

/// sin and cos of a + d from those of a and a small d. One lane takes sin and cos of the
/// rounded sum `sum` as the model does; vector lanes turn (sin a, cos a) by d.
inline void sincos_sum_(double sum, double, double, double, double& s, double& c) noexcept {
    s = std::sin(sum);
    c = std::cos(sum);
}

template <Vector V>
inline void sincos_sum_(const V&, const V& sa, const V& ca, const V& d, V& s, V& c) noexcept {
    V sd, cd;
    sincos_small_(d, sd, cd);
    s = sa * cd + ca * sd;
    c = ca * cd - sa * sd;
}

/// q^(-1/3) for q near 1, by Newton steps y <- y (4 - q y^3) / 3, which need no division;
/// lanes with q outside [0.8, 1.25] use the C library.
template <Vector V>
inline V inv_cbrt_(const V& q) noexcept {
    V y = splat<V>(1.0);
    for (int k = 0; k < 6; ++k) y = y * (4.0 - q * (y * y * y)) * (1.0 / 3.0);
    if (any(q < 0.8) || any(q > 1.25))
        for (int i = 0; i < width<V>; ++i)
            if (!(q[i] >= 0.8 && q[i] <= 1.25)) y[i] = 1.0 / std::cbrt(q[i]);
    return y;
}

}  // namespace orbivex::kern::sgp4::lanes
