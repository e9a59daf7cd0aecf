// SGP4/SDP4: propagation of one or more lanes of initialised sets.
//
// Equations of Spacetrack Report No. 3 (Hoots and Roehrich, 1980) as revised in "Revisiting
// Spacetrack Report #3" (Vallado, Crawford, Hujsak and Kelso, 2006). Propagation is written
// once over a lane type (double, or a vector of doubles from sgp4_maths.hpp); with double it is
// the published model evaluated with the C library, operation for operation.
#pragma once

#include <cmath>

#include "constants.hpp"
#include "sgp4_deep.hpp"
#include "sgp4_maths.hpp"
#include "sgp4_record.hpp"

namespace orbivex::kern::sgp4 {

namespace model_detail {

/// sin and cos of atan2(sinu, cosu) - dsu. One lane follows the model (the arctangent, then
/// sin and cos); vectors rotate the normalised (cos u, sin u) by -dsu instead, which is the
/// same angle without an arctangent.
inline void argument_of_latitude(double sinu, double cosu, double dsu, double& s,
                                 double& c) noexcept {
    const double su = std::atan2(sinu, cosu) - dsu;
    s = std::sin(su);
    c = std::cos(su);
}

template <lanes::Vector V>
inline void argument_of_latitude(const V& sinu, const V& cosu, const V& dsu, V& s, V& c) noexcept {
    using namespace lanes;
    // (sin u, cos u) is a unit vector up to rounding, so one Newton step from 1 gives
    // 1/sqrt(h2) to within (h2 - 1)^2; lanes far from it take the full root
    const V h2 = sinu * sinu + cosu * cosu;
    V inv = 1.5 - 0.5 * h2;
    if (!all(abs_(h2 - 1.0) <= 1.0e-6))
        inv = select(abs_(h2 - 1.0) <= 1.0e-6, inv, 1.0 / sqrt_(h2));
    const V su = sinu * inv, cu = cosu * inv;
    V sd, cd;
    sincos_small_(dsu, sd, cd);
    s = su * cd - cu * sd;
    c = cu * cd + su * sd;
}

/// Lane i of vectors of terms, as the terms of one set.
template <lanes::Vector V>
inline void lane_terms(const NearTerms<V>& c, const DeepTerms<V>& d, int i, NearTerms<double>& ci,
                       DeepTerms<double>& di) noexcept {
#define ORBIVEX_SGP4_LANE_NEAR(name) ci.name = c.name[i];
#define ORBIVEX_SGP4_LANE_DEEP(name) di.name = d.name[i];
    ORBIVEX_SGP4_NEAR_FIELDS(ORBIVEX_SGP4_LANE_NEAR)
    ORBIVEX_SGP4_DEEP_FIELDS(ORBIVEX_SGP4_LANE_DEEP)
#undef ORBIVEX_SGP4_LANE_NEAR
#undef ORBIVEX_SGP4_LANE_DEEP
}

}  // namespace model_detail

/// Propagates lanes of sets to t (minutes since each lane's epoch): position r in units of
/// c.rscale per earth radius (km for a record as initialised), velocity v in c.vscale units
/// (km/s). Returns the status per lane (as a double); failed lanes have NaN in r and v.
///
/// Deep selects the SDP4 branch (all lanes deep-space, with the one `resonance`); `drag` says
/// whether any lane uses the full drag expressions (false skips them, exact for simple sets).
template <class V, bool Deep>
V propagate_lanes(const NearTerms<V>& c, const DeepTerms<V>& d, int resonance, bool drag,
                  const V& t, ResonanceState<V>& st, V (&r)[3], V (&v)[3]) noexcept {
    using namespace lanes;
    using M = mask_t<V>;
    constexpr bool scalar = std::same_as<V, double>;

    V status = V{};
    const auto fail = [&status](const M& cond, double code) {
        status = select(status == 0.0, select(cond, splat<V>(code), status), status);
    };
    const auto give_up = [&]() {
        const V nan = splat<V>(NAN);
        r[0] = r[1] = r[2] = v[0] = v[1] = v[2] = nan;
        return status;
    };

    // ---- secular gravity and drag ------------------------------------------------------
    const V xmdf = c.mo + c.mdot * t;
    const V argpdf = c.argpo + c.argpdot * t;
    const V nodedf = c.nodeo + c.nodedot * t;
    V argpm = argpdf;
    V mm = xmdf;
    const V t2 = t * t;
    V nodem = nodedf + c.nodecf * t2;
    V tempa = 1.0 - c.cc1 * t;
    V tempe = c.bcc4 * t;
    V templ = c.t2cof * t2;
    if (!Deep && drag) {
        V sinxm = V{}, cosxm;
        if constexpr (scalar)
            cosxm = std::cos(xmdf);
        else
            sincos_(xmdf, sinxm, cosxm);
        const V delomg = c.omgcof * t;
        const V delmtemp = 1.0 + c.eta * cosxm;
        const V delm = c.xmcof * (delmtemp * delmtemp * delmtemp - c.delmo);
        const V temp = delomg + delm;
        mm = xmdf + temp;
        argpm = argpdf - temp;
        V sinmm, cosmm;
        sincos_sum_(mm, sinxm, cosxm, temp, sinmm, cosmm);
        const V t3 = t2 * t;
        const V t4 = t3 * t;
        tempa = tempa - c.d2 * t2 - c.d3 * t3 - c.d4 * t4;
        tempe = tempe + c.bcc5 * (sinmm - c.sinmao);
        templ = templ + c.t3cof * t3 + t4 * (c.t4cof + t * c.t5cof);
    }
    V nm = c.no;
    V em = c.ecco;
    V inclm = c.inclo;
    if constexpr (Deep) deep_secular(c, d, resonance, t, em, argpm, inclm, mm, nodem, nm, st);

    // Vector lanes run on past a failure (its lane keeps its status and ends as NaN); a lane of
    // its own stops there as the model does.
    fail(nm <= 0.0, mean_motion);
    if constexpr (scalar)
        if (status != 0.0) return give_up();

    // semi-major axis with drag: a = (ke / n)^(2/3) (1 - C1 t - ...)^2, then n back from it.
    // Vector lanes take sqrt(a) as sqrt(a0) |1 - C1 t - ...| (times (n0 / n)^(1/3) for resonant
    // sets), equal up to rounding, instead of a square root.
    V am, sqrtam;
    if constexpr (scalar) {
        if (Deep && resonance != no_resonance)
            am = std::pow(c.xke / nm, 2.0 / 3.0) * tempa * tempa;
        else
            am = c.a0 * tempa * tempa;
        nm = c.xke / std::pow(am, 1.5);
        sqrtam = std::sqrt(am);
    } else {
        if (Deep && resonance != no_resonance) {
            const V y = inv_cbrt_(nm / c.no);
            am = c.a0 * (y * y) * tempa * tempa;
            sqrtam = c.sqrta0 * y * abs_(tempa);
        } else {
            am = c.a0 * tempa * tempa;
            sqrtam = c.sqrta0 * abs_(tempa);
        }
        nm = c.xke / (am * sqrtam);
    }
    em = em - tempe;
    fail(em >= 1.0, mean_eccentricity);
    fail(em < -0.001, mean_eccentricity);
    if constexpr (scalar)
        if (status != 0.0) return give_up();
    // keep e away from zero, where the short-period terms divide by it
    em = select(em < 1.0e-6, splat<V>(1.0e-6), em);
    mm = mm + c.no * templ;
    V xlm = mm + argpm + nodem;

    // Only deep-space sets need fmod's sign convention (see reduce_turns_). The three angles
    // that grow with t are checked together for the fast reduction's range; lanes beyond it
    // take the C library's fmod.
    const auto turns = [](const V& x) {
        if constexpr (scalar)
            return std::fmod(x, two_pi);
        else
            return reduce_turns_<Deep>(x);
    };
    if constexpr (scalar) {
        nodem = turns(nodem);
        argpm = turns(argpm);
        xlm = turns(xlm);
    } else {
        const V a1 = abs_(nodem), a2 = abs_(argpm), a3 = abs_(xlm);
        const V big = select(a1 > a2, select(a1 > a3, a1, a3), select(a2 > a3, a2, a3));
        const V raw[3] = {nodem, argpm, xlm};
        nodem = turns(nodem);
        argpm = turns(argpm);
        xlm = turns(xlm);
        if (any(big > 1.0e7)) {
            V* reduced[3] = {&nodem, &argpm, &xlm};
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < width<V>; ++i)
                    if (!(big[i] <= 1.0e7)) (*reduced[k])[i] = std::fmod(raw[k][i], two_pi);
        }
    }
    mm = turns(xlm - argpm - nodem);

    // ---- lunar-solar periodics and long-period terms -----------------------------------
    V ep = em, xincp = inclm, argpp = argpm, nodep = nodem, mp = mm;
    V sinip = c.sinio, cosip = c.cosio;
    V aycof = c.aycof, xlcof = c.xlcof, con41 = c.con41, x1mth2 = c.x1mth2, x7thm1 = c.x7thm1;
    if constexpr (Deep) {
        lunar_solar_periodics(d, t, ep, xincp, nodep, argpp, mp);
        // a negative inclination is the same orbit with node and perigee turned by pi
        const M negative = xincp < 0.0;
        xincp = select(negative, -xincp, xincp);
        nodep = select(negative, nodep + pi, nodep);
        argpp = select(negative, argpp - pi, argpp);
        fail(ep < 0.0, perturbed_eccentricity);
        fail(ep > 1.0, perturbed_eccentricity);
        if constexpr (scalar)
            if (status != 0.0) return give_up();
        sincos_bounded_(xincp, sinip, cosip);
        aycof = -0.5 * c.j3oj2 * sinip;
        const V xl_num = -0.25 * c.j3oj2 * sinip * (3.0 + 5.0 * cosip);
        xlcof = select(abs_(cosip + 1.0) > 1.5e-12, xl_num / (1.0 + cosip), xl_num / 1.5e-12);
    }
    V sinargp, cosargp;
    sincos_bounded_(argpp, sinargp, cosargp);
    const V axnl = ep * cosargp;
    V temp = 1.0 / (am * (1.0 - ep * ep));
    const V aynl = ep * sinargp + temp * aycof;
    const V xl = mp + argpp + nodep + temp * xlcof * axnl;

    // ---- Kepler's equation in the equinoctial form: E + w from u = L - node ------------
    const V u = turns(xl - nodep);
    // Newton steps, at most 10, until a step is below 1e-12; sin and cos of the estimate before
    // the last step go on. Vector lanes turn the previous sin and cos by each step instead of
    // evaluating them afresh, and stop updating once converged.
    V eo1 = u, sineo1 = V{}, coseo1 = V{};
    V active = splat<V>(1.0);  // 1 while a lane iterates; every lane takes one step at least
    V s, co;
    sincos_bounded_(eo1, s, co);
    for (int ktr = 1;; ++ktr) {
        V tem5 = 1.0 - co * axnl - s * aynl;
        tem5 = (u - aynl * co + axnl * s - eo1) / tem5;
        // damp the first steps of very eccentric orbits
        tem5 =
            select(abs_(tem5) >= 0.95, select(tem5 > 0.0, splat<V>(0.95), splat<V>(-0.95)), tem5);
        sineo1 = select(active != 0.0, s, sineo1);
        coseo1 = select(active != 0.0, co, coseo1);
        eo1 = select(active != 0.0, eo1 + tem5, eo1);
        active = select(abs_(tem5) >= 1.0e-12, active, V{});
        if (ktr == 10 || !any(active != 0.0)) break;
        V s_next, co_next;
        sincos_sum_(eo1, s, co, tem5, s_next, co_next);
        s = s_next;
        co = co_next;
    }

    // ---- short-period terms --------------------------------------------------------------
    const V ecose = axnl * coseo1 + aynl * sineo1;
    const V esine = axnl * sineo1 - aynl * coseo1;
    const V el2 = axnl * axnl + aynl * aynl;
    const V pl = am * (1.0 - el2);
    fail(pl < 0.0, semilatus_rectum);
    if constexpr (scalar)
        if (status != 0.0) return give_up();
    const V rl = am * (1.0 - ecose);
    const V betal = sqrt_(1.0 - el2);
    // vector lanes: one reciprocal of rl, and sqrt(pl) = sqrt(a) beta
    V rdotl, rvdotl, aor;
    if constexpr (scalar) {
        rdotl = sqrtam * esine / rl;
        rvdotl = std::sqrt(pl) / rl;
        aor = am / rl;
    } else {
        const V inv_rl = 1.0 / rl;
        rdotl = sqrtam * esine * inv_rl;
        rvdotl = sqrtam * betal * inv_rl;
        aor = am * inv_rl;
    }
    temp = esine / (1.0 + betal);
    const V sinu = aor * (sineo1 - aynl - axnl * temp);
    const V cosu = aor * (coseo1 - axnl + aynl * temp);
    const V sin2u = (cosu + cosu) * sinu;
    const V cos2u = 1.0 - 2.0 * sinu * sinu;
    temp = 1.0 / pl;
    const V temp1 = 0.5 * c.j2 * temp;
    const V temp2 = temp1 * temp;
    if constexpr (Deep) {
        const V cosisq = cosip * cosip;
        con41 = 3.0 * cosisq - 1.0;
        x1mth2 = 1.0 - cosisq;
        x7thm1 = 7.0 * cosisq - 1.0;
    }
    const V mrt = rl * (1.0 - 1.5 * temp2 * betal * con41) + 0.5 * temp1 * x1mth2 * cos2u;
    V sinsu, cossu;
    model_detail::argument_of_latitude(sinu, cosu, 0.25 * temp2 * x7thm1 * sin2u, sinsu, cossu);
    const V xnode = nodep + 1.5 * temp2 * cosip * sin2u;
    const V dinc = 1.5 * temp2 * cosip * sinip * cos2u;
    const V xinc = xincp + dinc;
    V mvt, rvdot;
    if constexpr (scalar) {
        mvt = rdotl - nm * temp1 * x1mth2 * sin2u / c.xke;
        rvdot = rvdotl + nm * temp1 * (x1mth2 * cos2u + 1.5 * con41) / c.xke;
    } else {
        const V f = nm * temp1 / c.xke;
        mvt = rdotl - f * x1mth2 * sin2u;
        rvdot = rvdotl + f * (x1mth2 * cos2u + 1.5 * con41);
    }

    // ---- orientation: unit vectors along the radius (u) and across it (v) ----------------
    V snod, cnod, sini, cosi;
    sincos_bounded_(xnode, snod, cnod);
    sincos_sum_(xinc, sinip, cosip, dinc, sini, cosi);
    const V xmx = -snod * cosi;
    const V xmy = cnod * cosi;
    const V ux = xmx * sinsu + cnod * cossu;
    const V uy = xmy * sinsu + snod * cossu;
    const V uz = sini * sinsu;
    const V vx = xmx * cossu - cnod * sinsu;
    const V vy = xmy * cossu - snod * sinsu;
    const V vz = sini * cossu;
    r[0] = (mrt * ux) * c.rscale;
    r[1] = (mrt * uy) * c.rscale;
    r[2] = (mrt * uz) * c.rscale;
    v[0] = (mvt * ux + rvdot * vx) * c.vscale;
    v[1] = (mvt * uy + rvdot * vy) * c.vscale;
    v[2] = (mvt * uz + rvdot * vz) * c.vscale;

    fail(mrt < 1.0, decayed);
    const M bad = status != 0.0;
    if (any(bad)) {
        const V nan = splat<V>(NAN);
        for (int k = 0; k < 3; ++k) {
            r[k] = select(bad, nan, r[k]);
            v[k] = select(bad, nan, v[k]);
        }
    }

    // Within 0.8 degrees of retrograde equatorial the J3 long-period coefficient, which goes as
    // sin i / (1 + cos i) ~ 2 / (pi - i), changes with i as 2 / (pi - i)^2: a last-bit
    // difference in the perturbed inclination moves deep-space positions by centimetres at
    // 1e-5 rad from 180 degrees. Such lanes (rare) take the one-lane model, which follows the C
    // library's bits.
    if constexpr (Deep && !scalar) {
        const auto retrograde = (1.0 + cosip) < 1.0e-4;
        if (any(retrograde)) {
            for (int i = 0; i < width<V>; ++i) {
                if (!((1.0 + cosip[i]) < 1.0e-4)) continue;
                NearTerms<double> ci;
                DeepTerms<double> di;
                model_detail::lane_terms(c, d, i, ci, di);
                ResonanceState<double> fresh{};
                double ri[3], vi[3];
                status[i] =
                    propagate_lanes<double, true>(ci, di, resonance, false, t[i], fresh, ri, vi);
                for (int k = 0; k < 3; ++k) {
                    r[k][i] = ri[k];
                    v[k][i] = vi[k];
                }
            }
        }
    }
    return status;
}

/// Propagates one set to t minutes since its epoch: r in km and v in km/s (TEME); returns the
/// status, with NaN in r and v when it is not 0. `state` optionally carries the resonance
/// integrator from one call to the next (the result is the same with or without it).
inline int propagate(const Record& rec, double t, double* r, double* v,
                     ResonanceState<double>* state = nullptr) noexcept {
    ResonanceState<double> fresh{};
    ResonanceState<double>& st = state ? *state : fresh;
    double rr[3], vv[3];
    const double s =
        rec.deep_space
            ? propagate_lanes<double, true>(rec.near, rec.deep, rec.resonance, false, t, st, rr, vv)
            : propagate_lanes<double, false>(rec.near, rec.deep, 0, !rec.simple, t, st, rr, vv);
    for (int k = 0; k < 3; ++k) {
        r[k] = rr[k];
        v[k] = vv[k];
    }
    return static_cast<int>(s);
}

}  // namespace orbivex::kern::sgp4
