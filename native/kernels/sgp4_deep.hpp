// SDP4, the deep-space part of the model at propagation (any lane type): lunar-solar secular
// terms, the resonance integrator, lunar-solar periodics.
//
// Equations of Spacetrack Report No. 3 (Hoots and Roehrich, 1980) with the corrections of
// "Revisiting Spacetrack Report #3" (Vallado, Crawford, Hujsak and Kelso, 2006): the integrator
// that also runs backwards, the Lyddane choice on the perturbed inclination, and the guards at
// 180 degrees inclination. Coefficient names are the report's.
#pragma once

#include <cmath>

#include "constants.hpp"
#include "sgp4_maths.hpp"
#include "sgp4_record.hpp"

namespace orbivex::kern::sgp4 {

namespace deep {

// Mean motions (rad/min) and eccentricities of the Sun's and Moon's orbits as the model fixes
// them, and the Earth's rotation rate in rad/min.
inline constexpr double zns = 1.19459e-5;
inline constexpr double zes = 0.01675;
inline constexpr double znl = 1.5835218e-4;
inline constexpr double zel = 0.05490;
inline constexpr double rptim = 4.37526908801129966e-3;
// Whole integrator steps in minutes, and step^2 / 2.
inline constexpr double step = 720.0;
inline constexpr double step2 = 259200.0;

}  // namespace deep

/// Rates of the resonance integrator at a step: of the mean motion (xndt), of the resonance
/// angle (xldot), and the second derivative of the mean motion (xnddt).
template <class V>
inline void resonance_rates(const NearTerms<V>& c, const DeepTerms<V>& d, int resonance,
                            const V& atime, const V& xli, const V& xni, V& xndt, V& xldot,
                            V& xnddt) noexcept {
    using namespace lanes;
    if (resonance == synchronous) {
        constexpr double fasx2 = 0.13130908, fasx4 = 2.8843198, fasx6 = 0.37448087;
        V s1, c1, s2, c2, s3, c3;
        sincos_(xli - fasx2, s1, c1);
        sincos_(2.0 * (xli - fasx4), s2, c2);
        sincos_(3.0 * (xli - fasx6), s3, c3);
        xndt = d.del1 * s1 + d.del2 * s2 + d.del3 * s3;
        xldot = xni + d.xfact;
        xnddt = d.del1 * c1 + 2.0 * d.del2 * c2 + 3.0 * d.del3 * c3;
        xnddt = xnddt * xldot;
    } else {
        constexpr double g22 = 5.7686396, g32 = 0.95240898, g44 = 1.8014998;
        constexpr double g52 = 1.0508330, g54 = 4.4108898;
        const V xomi = c.argpo + c.argpdot * atime;
        const V x2omi = xomi + xomi;
        const V x2li = xli + xli;
        V sa, ca, sb, cb, sc, cc, sd, cd, se, ce, sf, cf, sg, cg, sh, ch, si, ci, sj, cj;
        sincos_(x2omi + xli - g22, sa, ca);
        sincos_(xli - g22, sb, cb);
        sincos_(xomi + xli - g32, sc, cc);
        sincos_(-xomi + xli - g32, sd, cd);
        sincos_(x2omi + x2li - g44, se, ce);
        sincos_(x2li - g44, sf, cf);
        sincos_(xomi + xli - g52, sg, cg);
        sincos_(-xomi + xli - g52, sh, ch);
        sincos_(xomi + x2li - g54, si, ci);
        sincos_(-xomi + x2li - g54, sj, cj);
        xndt = d.d2201 * sa + d.d2211 * sb + d.d3210 * sc + d.d3222 * sd + d.d4410 * se +
               d.d4422 * sf + d.d5220 * sg + d.d5232 * sh + d.d5421 * si + d.d5433 * sj;
        xldot = xni + d.xfact;
        xnddt = d.d2201 * ca + d.d2211 * cb + d.d3210 * cc + d.d3222 * cd + d.d5220 * cg +
                d.d5232 * ch + 2.0 * (d.d4410 * ce + d.d4422 * cf + d.d5421 * ci + d.d5433 * cj);
        xnddt = xnddt * xldot;
    }
}

/// Lunar-solar secular terms and, for resonant sets, the resonance integrator: updates the
/// mean elements em, argpm, inclm, mm, nodem, nm at time t (minutes since epoch).
///
/// The integrator takes whole steps of 720 min from the epoch (Euler-Maclaurin, second order)
/// and a Taylor step for the remainder. `st` carries the last whole step between calls; a state
/// that points the other way, or past t, restarts at the epoch, so results do not depend on it.
template <class V>
inline void deep_secular(const NearTerms<V>& c, const DeepTerms<V>& d, int resonance, const V& t,
                         V& em, V& argpm, V& inclm, V& mm, V& nodem, V& nm,
                         ResonanceState<V>& st) noexcept {
    using namespace lanes;
    using deep::rptim;
    const V theta = fmod2pi_(d.gsto + t * rptim);
    em = em + d.dedt * t;
    inclm = inclm + d.didt * t;
    argpm = argpm + d.domdt * t;
    nodem = nodem + d.dnodt * t;
    mm = mm + d.dmdt * t;
    if (resonance == no_resonance) return;

    // restart at the epoch: no state yet, t on the other side of it, or t before the state
    const V one = splat<V>(1.0);
    const V back =
        select(st.atime == 0.0, one,
               select(t * st.atime <= 0.0, one, select(abs_(t) < abs_(st.atime), one, V{})));
    const auto restart = back != 0.0;
    // a restart from the epoch itself leaves the state, and its derivatives, as they were
    st.have = select(restart, select(st.atime == 0.0, st.have, V{}), st.have);
    st.atime = select(restart, V{}, st.atime);
    st.xni = select(restart, c.no, st.xni);
    st.xli = select(restart, d.xlamo, st.xli);
    const V delt = select(t > 0.0, splat<V>(deep::step), splat<V>(-deep::step));

    for (;;) {
        // rates at the current step, unless the state already has them
        if (any(st.have == 0.0)) {
            V xndt, xldot, xnddt;
            resonance_rates(c, d, resonance, st.atime, st.xli, st.xni, xndt, xldot, xnddt);
            const auto stale = st.have == 0.0;
            st.xndt = select(stale, xndt, st.xndt);
            st.xldot = select(stale, xldot, st.xldot);
            st.xnddt = select(stale, xnddt, st.xnddt);
            st.have = splat<V>(1.0);
        }
        // a non-finite t would never arrive: such lanes stop (their results are NaN)
        const V ahead = select(abs_(t) <= 1.7976931348623157e308, abs_(t - st.atime), V{});
        const auto going = ahead >= deep::step;
        if (!any(going)) break;
        st.xli = select(going, st.xli + st.xldot * delt + st.xndt * deep::step2, st.xli);
        st.xni = select(going, st.xni + st.xndt * delt + st.xnddt * deep::step2, st.xni);
        st.atime = select(going, st.atime + delt, st.atime);
        st.have = select(going, V{}, st.have);
    }

    const V ft = t - st.atime;
    nm = st.xni + st.xndt * ft + st.xnddt * ft * ft * 0.5;
    const V xl = st.xli + st.xldot * ft + st.xndt * ft * ft * 0.5;
    // the integrated angle is M + 2 node - 2 theta for half-day orbits, M + node + perigee -
    // theta for synchronous ones (theta the sidereal time): take M back out of it
    if (resonance == half_day)
        mm = xl - 2.0 * nodem + 2.0 * theta;
    else
        mm = xl - nodem - argpm + theta;
    const V dndt = nm - c.no;
    nm = c.no + dndt;
}

/// Lunar-solar periodics at time t added to the elements: eccentricity ep, inclination inclp,
/// node nodep, argument of perigee argpp and mean anomaly mp.
///
/// Below 0.2 rad perturbed inclination the node and perigee terms, which divide by sin i, are
/// applied to the equinoctial pair (sin i sin node, sin i cos node) instead (Lyddane).
template <class V>
inline void lunar_solar_periodics(const DeepTerms<V>& d, const V& t, V& ep, V& inclp, V& nodep,
                                  V& argpp, V& mp) noexcept {
    using namespace lanes;
    // Sun, then Moon: zf = zm + 2 e sin zm is the body's true anomaly to first order in e
    V zm = d.zmos + deep::zns * t;
    V sinzm, coszm;
    sincos_(zm, sinzm, coszm);
    V dz = 2.0 * deep::zes * sinzm;
    V zf = zm + dz;
    V sinzf, coszf;
    sincos_sum_(zf, sinzm, coszm, dz, sinzf, coszf);
    V f2 = 0.5 * sinzf * sinzf - 0.25;
    V f3 = -0.5 * sinzf * coszf;
    const V ses = d.se2 * f2 + d.se3 * f3;
    const V sis = d.si2 * f2 + d.si3 * f3;
    const V sls = d.sl2 * f2 + d.sl3 * f3 + d.sl4 * sinzf;
    const V sghs = d.sgh2 * f2 + d.sgh3 * f3 + d.sgh4 * sinzf;
    const V shs = d.sh2 * f2 + d.sh3 * f3;
    zm = d.zmol + deep::znl * t;
    sincos_(zm, sinzm, coszm);
    dz = 2.0 * deep::zel * sinzm;
    zf = zm + dz;
    sincos_sum_(zf, sinzm, coszm, dz, sinzf, coszf);
    f2 = 0.5 * sinzf * sinzf - 0.25;
    f3 = -0.5 * sinzf * coszf;
    const V sel = d.ee2 * f2 + d.e3 * f3;
    const V sil = d.xi2 * f2 + d.xi3 * f3;
    const V sll = d.xl2 * f2 + d.xl3 * f3 + d.xl4 * sinzf;
    const V sghl = d.xgh2 * f2 + d.xgh3 * f3 + d.xgh4 * sinzf;
    const V shll = d.xh2 * f2 + d.xh3 * f3;

    const V pe = ses + sel;
    const V pinc = sis + sil;
    const V pl = sls + sll;
    V pgh = sghs + sghl;
    V ph = shs + shll;

    inclp = inclp + pinc;
    ep = ep + pe;
    V sinip, cosip;
    sincos_bounded_(inclp, sinip, cosip);

    const auto direct = inclp >= 0.2;
    V nodep_out = nodep, argpp_out = argpp;
    if (any(direct)) {
        const V phs = ph / sinip;
        const V pghs = pgh - cosip * phs;
        argpp_out = argpp + pghs;
        nodep_out = nodep + phs;
    }
    if (!all(direct)) {
        V sinop, cosop;
        sincos_bounded_(nodep, sinop, cosop);
        V alfdp = sinip * sinop;
        V betdp = sinip * cosop;
        const V dalf = ph * cosop + pinc * cosip * sinop;
        const V dbet = -ph * sinop + pinc * cosip * cosop;
        alfdp = alfdp + dalf;
        betdp = betdp + dbet;
        V node = fmod2pi_(nodep);
        // the operational mode keeps the node in [0, 2 pi) as its arctangent did
        const V wrap = d.wrap * two_pi;  // 2 pi or 0
        node = select(node < 0.0, node + wrap, node);
        V xls = mp + argpp + cosip * node;
        const V dls = pl + pgh - pinc * node * sinip;
        xls = xls + dls;
        const V xnoh = node;
        node = atan2_(alfdp, betdp);
        node = select(node < 0.0, node + wrap, node);
        // keep the new node on the same turn as the old one
        node =
            select(abs_(xnoh - node) > pi, select(node < xnoh, node + two_pi, node - two_pi), node);
        const V argp = xls - (mp + pl) - cosip * node;
        nodep_out = select(direct, nodep_out, node);
        argpp_out = select(direct, argpp_out, argp);
    }
    nodep = nodep_out;
    argpp = argpp_out;
    mp = mp + pl;
}

}  // namespace orbivex::kern::sgp4
