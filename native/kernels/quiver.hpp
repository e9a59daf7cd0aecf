// 3-vector and 3x3 kernels: fixed operation orders so that every result is reproducible to the bit.
#pragma once

#include <cmath>

namespace orbivex::kern {

// Every product is rounded before it is summed (the build forbids FMA contraction) and sums run
// left to right, as written. Component k of the inputs is read before component k of the output
// is written wherever the aliasing notes say in-place use is allowed.

/// c = scalar·a; c may be a.
inline void scale(const double scalar, const double* a, double* c) noexcept {
    c[0] = a[0] * scalar;
    c[1] = a[1] * scalar;
    c[2] = a[2] * scalar;
}

/// c = a + b; c may be a or b.
inline void add(const double* a, const double* b, double* c) noexcept {
    c[0] = a[0] + b[0];
    c[1] = a[1] + b[1];
    c[2] = a[2] + b[2];
}

/// c = a − b; c may be a or b.
inline void sub(const double* a, const double* b, double* c) noexcept {
    c[0] = a[0] - b[0];
    c[1] = a[1] - b[1];
    c[2] = a[2] - b[2];
}

/// (a0·b0 + a1·b1) + a2·b2.
inline double dot(const double* a, const double* b) noexcept {
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2];
}

/// c = a × b. c0 is stored before a and b are read again: c must not overlap a or b.
inline void cross(const double* a, const double* b, double* c) noexcept {
    c[0] = a[1] * b[2] - a[2] * b[1];
    c[1] = a[2] * b[0] - a[0] * b[2];
    c[2] = a[0] * b[1] - a[1] * b[0];
}

/// Euclidean length. No rescaling: squares overflow to +inf and underflow to 0 as they fall.
inline double norm(const double* a) noexcept {
    return std::sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]);
}

/// Angle between a and b in radians. The quotient is divided by each length in turn and is not
/// clamped: rounding past ±1 gives NaN (angle of (1, 1, 1) with itself), as does a zero vector.
inline double angle(const double* a, const double* b) noexcept {
    const double d = dot(a, b);
    const double na = norm(a);
    const double nb = norm(b);
    return std::acos((d / na) / nb);
}

/// u = a/‖a‖ through the rounded reciprocal (one division, three products; (3, 4, 0) gives
/// 0.6000000000000001 in x). The zero vector gives NaNs (0·inf). u may be a.
inline void normalize(const double* a, double* u) noexcept {
    const double f = 1.0 / norm(a);
    scale(f, a, u);
}

/// b = M·a with M row-major. Each row sum starts at +0.0 (so −0.0 products come back as +0.0)
/// and is accumulated in b itself: b must not overlap M or a.
inline void mat_x_vec(const double (*M)[3], const double* a, double* b) noexcept {
    for (int i = 0; i < 3; ++i) {
        b[i] = 0.0;
        b[i] += M[i][0] * a[0];
        b[i] += M[i][1] * a[1];
        b[i] += M[i][2] * a[2];
    }
}

}  // namespace orbivex::kern
