// Classical orbital element kernels: size, period, mean motion, anomalies (Kepler's equation) and
// the conversions between a Cartesian state and the elements.
#pragma once

#include <cmath>
#include <limits>

namespace orbivex::kern::coe {

// Every kernel evaluates its formula in exactly the written order, one rounding per operation
// (the build forbids FMA contraction), so that every caller gets the same bits.

/// 2π and π rounded to the nearest double.
inline constexpr double two_pi = 6.283185307179586;
inline constexpr double pi = 3.141592653589793;
/// Relative step below which Newton's iteration for Kepler's equation stops.
inline constexpr double kepler_rtol = 1e-7;
/// Newton steps after which the solver gives up on settling (see eca_from_mea). For |e| < 1
/// valid input can need over 10^5 steps; for |e| ≥ 1, outside the solver's domain, the cap is
/// low so that no element costs more than a fraction of a millisecond.
inline constexpr long kepler_step_cap = 10'000'000;
inline constexpr long kepler_step_cap_outside = 4'000;

// ---- size, period and mean motion -----------------------------------------------------------

/// Orbital period (s): (2π·a)·√(a/GM), which keeps a³ from overflowing.
inline double orp_from_sma(const double sma, const double GM) noexcept {
    const double t = two_pi * sma;
    return t * std::sqrt(sma / GM);
}

/// Semimajor axis (m) from the period: cbrt(orp·(GM·orp/2π)/2π).
inline double sma_from_orp(const double orp, const double GM) noexcept {
    const double u = (GM * orp) / two_pi;
    return std::cbrt((orp * u) / two_pi);
}

/// Mean motion (rad/s): √(GM/a)/a.
inline double mnm_from_sma(const double sma, const double GM) noexcept {
    return std::sqrt(GM / sma) / sma;
}

/// Semimajor axis (m) from the mean motion: cbrt((GM/n)/n).
inline double sma_from_mnm(const double mnm, const double GM) noexcept {
    return std::cbrt((GM / mnm) / mnm);
}

// ---- size and shape -------------------------------------------------------------------------

inline double pge_from_sma_ecc(const double sma, const double ecc, const double Re) noexcept {
    return ((1.0 - ecc) * sma) - Re;
}

inline double apg_from_sma_ecc(const double sma, const double ecc, const double Re) noexcept {
    return (sma * (ecc + 1.0)) - Re;
}

inline double sma_from_pge_apg(const double pge, const double apg, const double Re) noexcept {
    return ((apg + pge) * 0.5) + Re;
}

inline double sma_from_ecc_pge(const double ecc, const double pge, const double Re) noexcept {
    return (Re + pge) / (1.0 - ecc);
}

inline double sma_from_ecc_apg(const double ecc, const double apg, const double Re) noexcept {
    return (Re + apg) / (ecc + 1.0);
}

/// Re is added twice, one addition after the other (not 2·Re), for the published bits.
inline double ecc_from_pge_apg(const double pge, const double apg, const double Re) noexcept {
    return (apg - pge) / (((pge + apg) + Re) + Re);
}

inline double ecc_from_sma_pge(const double sma, const double pge, const double Re) noexcept {
    return 1.0 - ((Re + pge) / sma);
}

inline double ecc_from_sma_apg(const double sma, const double apg, const double Re) noexcept {
    return ((Re + apg) / sma) - 1.0;
}

// ---- Kepler's equation ----------------------------------------------------------------------

/// Mean anomaly: M = E − e·sin E. Keeps the turn of E.
inline double mea_from_eca(const double eca, const double ecc) noexcept {
    return eca - ecc * std::sin(eca);
}

/// A root of E − e·sin E = M by bisection on [M − |e|, M + |e|]. At the left end the residual is
/// −|e| − e·sin E ≤ 0 and at the right end |e| − e·sin E ≥ 0, so the interval brackets a root for
/// any finite e (also e ≥ 1, where the root need not be unique), and the root lies in the turn
/// of M. Halves until the interval has no double inside; returns the end with the smaller
/// residual, or an exact zero met on the way. The residual is written (1 − e)·E + e·(E − sin E) −
/// M: near e = 1 and E = 0, where this solver is needed most, E − e·sin E cancels to rounding
/// noise, while (1 − e) is exact there and E − sin E loses nothing that matters.
inline double kepler_bisect(const double mea, const double ecc) noexcept {
    const auto residual = [mea, ecc](const double E) {
        return ((1.0 - ecc) * E + ecc * (E - std::sin(E))) - mea;
    };
    const double span = std::fabs(ecc);
    double lo = mea - span;
    double hi = mea + span;
    for (;;) {
        const double mid = lo + (hi - lo) * 0.5;
        if (!(mid > lo && mid < hi)) break;
        const double f = residual(mid);
        if (f == 0.0) return mid;
        if (f < 0.0) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const double f_lo = residual(lo);
    const double f_hi = residual(hi);
    return std::fabs(f_lo) <= std::fabs(f_hi) ? lo : hi;
}

/// Eccentric anomaly from the mean anomaly by Newton–Raphson on Kepler's equation.
///
/// M is never wrapped: the start is M ± e chosen against π itself, so the result stays in the
/// turn of M (M = 7 gives E near 7). The stop test is relative to the estimate before the step,
/// and a NaN error stops as well, so NaN or infinite input returns NaN after one step.
///
/// Newton need not settle. Valid elliptic input can take more than 10^5 steps (e near 1 with a
/// negative M starts far from the root), so no small cap is possible; and for some valid input
/// the iterates fall into an exact cycle (M = 19.654965781773733, e = 0.8291313354603675 cycles
/// through eight values for ever). Returning a last iterate there would be a wrong answer, so:
///  - the convergence test runs first on every step, so input that converges keeps its Newton
///    result bit for bit;
///  - an exact repeat of an estimate (Brent's cycle detection: compare with an estimate saved
///    at power-of-two intervals) proves that the iteration never stops, since each step is a
///    fixed function of the estimate and every step of the cycle has been seen to fail the test;
///  - kepler_step_cap steps (far above what converging input needs) end the loop as well; for
///    |e| ≥ 1 kepler_step_cap_outside does, a few thousand steps (Newton is chaotic there and
///    a few per cent of such input would otherwise run to the large cap);
///  - a step that overshoots to an infinite estimate (the denominator 1 − e·cos E rounds to
///    almost nothing near e = 1) makes the next step's error NaN, which stops the loop as
///    NaN input does: from finite M and e that NaN is no answer, the root exists.
/// These exits return kepler_bisect(M, e): a true root, in the turn of M (for |e| ≥ 1, where
/// roots need not be unique, the one the bisection reaches, always the same for the same input).
/// Finite M and e never give NaN.
inline double eca_from_mea(const double mea, const double ecc) noexcept {
    if (mea == 0.0 || mea == pi || ecc == 0.0) return mea;
    const long cap = std::fabs(ecc) >= 1.0 ? kepler_step_cap_outside : kepler_step_cap;
    double eca = mea < pi ? mea + ecc : mea - ecc;
    double saved = eca;
    long power = 1;
    long since_saved = 0;
    for (long step = 1;; ++step) {
        const double s = std::sin(eca);
        const double c = std::cos(eca);
        const double increment = ((mea - eca) + ecc * s) / (1.0 - ecc * c);
        const double error = std::fabs(increment / eca);
        eca = eca + increment;
        if (!(error > kepler_rtol)) {
            // From finite M and e only an overshoot gives a NaN error; the root exists.
            if (!std::isnan(error) || !std::isfinite(mea) || !std::isfinite(ecc)) return eca;
            return kepler_bisect(mea, ecc);
        }
        if (eca == saved || step >= cap) return kepler_bisect(mea, ecc);
        if (++since_saved == power) {
            saved = eca;
            power *= 2;
            since_saved = 0;
        }
    }
}

// ---- anomalies through the angle function ---------------------------------------------------
//
// `Env` supplies the bound angle function and the failure probe:
//   double atan2(double y, double x) const;   the sibling's atan2_asymmetric
//   bool failed() const;                      a failure is pending after a bound call
// A kernel stops at the first failure and returns −1.0 with it pending; −1.0 alone is not an
// error, the caller looks for the pending failure.

inline constexpr double failed_result = -1.0;

/// Eccentric anomaly from the true anomaly: angle of (cos ν + e, √(1 − e²)·sin ν).
template <class Env>
inline double eca_from_tra(const double tra, const double ecc, const Env& env) noexcept {
    const double s = std::sin(tra);
    const double c = std::cos(tra);
    const double x = c + ecc;
    const double y = std::sqrt(1.0 - ecc * ecc) * s;
    const double result = env.atan2(y, x);
    if (env.failed()) return failed_result;
    return result;
}

/// True anomaly from the eccentric anomaly: angle of (cos E − e, √(1 − e²)·sin E).
template <class Env>
inline double tra_from_eca(const double eca, const double ecc, const Env& env) noexcept {
    const double s = std::sin(eca);
    const double c = std::cos(eca);
    const double x = c - ecc;
    const double y = std::sqrt(1.0 - ecc * ecc) * s;
    const double result = env.atan2(y, x);
    if (env.failed()) return failed_result;
    return result;
}

template <class Env>
inline double tra_from_mea(const double mea, const double ecc, const Env& env) noexcept {
    return tra_from_eca(eca_from_mea(mea, ecc), ecc, env);
}

template <class Env>
inline double mea_from_tra(const double tra, const double ecc, const Env& env) noexcept {
    const double eca = eca_from_tra(tra, ecc, env);
    if (eca == failed_result && env.failed()) return failed_result;
    return mea_from_eca(eca, ecc);
}

// ---- state vectors --------------------------------------------------------------------------
//
// `Env` for the state-vector kernel also supplies the bound 3-vector functions
// dot, cross, norm and normalize; the kernel probes for a failure after every bound call.

/// Elements of the orbit through position r (m) and velocity v (m/s). Fields are written in the
/// order inc, slr, ecc, sma, raa, arp, tra; on a failure the kernel returns at once, leaving the
/// rest unwritten. Zero angular momentum gives seven NaNs. The special orbits are selected by
/// exact tests on the computed inc and ecc: a merely tiny value takes the general path.
template <class Record, class Env>
inline void coe_from_sv(double* r, double* v, const double GM, Record* coe,
                        const Env& env) noexcept {
    double l[3];
    env.cross(r, v, l);
    if (env.failed()) return;
    const double l2 = env.dot(l, l);
    if (env.failed()) return;
    if (l2 == 0.0) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        coe->ecc = coe->sma = coe->inc = coe->raa = coe->arp = coe->tra = coe->slr = nan;
        return;
    }
    const double l_norm = std::sqrt(l2);
    coe->inc = std::acos(l[2] / l_norm);  // not clamped: rounding past ±1 gives NaN

    double u_r[3];
    env.normalize(r, u_r);
    if (env.failed()) return;
    double e[3];
    env.cross(v, l, e);
    if (env.failed()) return;
    for (int k = 0; k < 3; ++k) e[k] = e[k] / GM - u_r[k];
    const double ecc = env.norm(e);
    if (env.failed()) return;
    coe->slr = l2 / GM;
    coe->ecc = ecc;
    coe->sma = ecc == 1.0 ? std::numeric_limits<double>::infinity() : (l2 / GM) / (1.0 - ecc * ecc);

    // Node direction (−l1, l0, 0); the negation keeps the sign of a zero l1.
    double raa = 0.0;
    if (coe->inc != 0.0) {
        raa = env.atan2(l[0], -l[1]);
        if (env.failed()) return;
    }
    coe->raa = raa;
    double u_n[3] = {std::cos(raa), std::sin(raa), 0.0};

    double arp = 0.0;
    if (ecc != 0.0) {
        double u_q[3];
        env.cross(l, u_n, u_q);
        if (env.failed()) return;
        for (double& q : u_q) q = q / l_norm;
        const double y = env.dot(u_q, e);
        if (env.failed()) return;
        const double x = env.dot(u_n, e);
        if (env.failed()) return;
        arp = env.atan2(y, x);
        if (env.failed()) return;
    }
    coe->arp = arp;

    // A circular orbit measures tra from the node (the argument of latitude).
    double u_e[3] = {u_n[0], u_n[1], u_n[2]};
    if (ecc != 0.0) {
        env.normalize(e, u_e);
        if (env.failed()) return;
    }
    double u_p[3];
    env.cross(l, u_e, u_p);
    if (env.failed()) return;
    for (double& p : u_p) p = p / l_norm;
    const double y = env.dot(u_p, r);
    if (env.failed()) return;
    const double x = env.dot(u_e, r);
    if (env.failed()) return;
    const double tra = env.atan2(y, x);
    if (env.failed()) return;
    coe->tra = tra;
}

/// Position (m) and velocity (m/s) of the record's orbit. Uses slr, not sma, so that parabolic
/// and hyperbolic records work too.
template <class Record>
inline void sv_from_coe(const Record& coe, const double GM, double* r, double* v) noexcept {
    const double sin_inc = std::sin(coe.inc), cos_inc = std::cos(coe.inc);
    const double sin_raa = std::sin(coe.raa), cos_raa = std::cos(coe.raa);
    const double sin_arp = std::sin(coe.arp), cos_arp = std::cos(coe.arp);
    const double sin_tra = std::sin(coe.tra), cos_tra = std::cos(coe.tra);
    const double slr = coe.slr;
    const double ecc = coe.ecc;
    const double r_norm = slr / (ecc * cos_tra + 1.0);
    const double v_quasi_norm = std::sqrt(GM / slr);

    // Columns: P towards periapsis, Q 90° ahead of it in the orbit plane.
    double rot[3][2];
    rot[0][0] = cos_raa * cos_arp - sin_raa * sin_arp * cos_inc;
    rot[1][0] = sin_raa * cos_arp + cos_raa * sin_arp * cos_inc;
    rot[2][0] = sin_arp * sin_inc;
    rot[0][1] = -cos_raa * sin_arp - sin_raa * cos_arp * cos_inc;
    rot[1][1] = -sin_raa * sin_arp + cos_raa * cos_arp * cos_inc;
    rot[2][1] = cos_arp * sin_inc;
    for (int i = 0; i < 3; ++i) r[i] = (cos_tra * rot[i][0] + sin_tra * rot[i][1]) * r_norm;
    for (int i = 0; i < 3; ++i)
        v[i] = ((ecc + cos_tra) * rot[i][1] - sin_tra * rot[i][0]) * v_quasi_norm;
}

}  // namespace orbivex::kern::coe
