// SDP4 at initialisation (one set, double): the lunar-solar periodic amplitudes and secular
// rates from the positions of Sun and Moon at epoch, and the resonance coefficients.
//
// Equations of Spacetrack Report No. 3 (Hoots and Roehrich, 1980) with the corrections of
// "Revisiting Spacetrack Report #3" (Vallado, Crawford, Hujsak and Kelso, 2006). Coefficient
// names are the report's.
#pragma once

#include <cmath>

#include "constants.hpp"
#include "sgp4_deep.hpp"
#include "sgp4_record.hpp"

namespace orbivex::kern::sgp4 {

namespace deep {

/// Orientation of the orbit at epoch as the lunar-solar terms see it.
struct EpochOrbit {
    double sinim, cosim, sinomm, cosomm, snodm, cnodm;
    double em, emsq, betasq, rtemsq, xnoi;
};

/// Coefficients of one perturbing body (the report's s1..s7 and z1..z33).
struct BodyTerms {
    double s1, s2, s3, s4, s5, s6, s7;
    double z1, z2, z3, z11, z12, z13, z21, z22, z23, z31, z32, z33;
};

/// The terms of a body whose orbit has argument of perigee (zcosg, zsing), inclination
/// (zcosi, zsini) and node relative to the satellite's (zcosh, zsinh), with strength cc.
inline BodyTerms body_terms(const EpochOrbit& o, double zcosg, double zsing, double zcosi,
                            double zsini, double zcosh, double zsinh, double cc) noexcept {
    // direction cosines of the body's perigee and its normal in the satellite's orbit frame
    const double a1 = zcosg * zcosh + zsing * zcosi * zsinh;
    const double a3 = -zsing * zcosh + zcosg * zcosi * zsinh;
    const double a7 = -zcosg * zsinh + zsing * zcosi * zcosh;
    const double a8 = zsing * zsini;
    const double a9 = zsing * zsinh + zcosg * zcosi * zcosh;
    const double a10 = zcosg * zsini;
    const double a2 = o.cosim * a7 + o.sinim * a8;
    const double a4 = o.cosim * a9 + o.sinim * a10;
    const double a5 = -o.sinim * a7 + o.cosim * a8;
    const double a6 = -o.sinim * a9 + o.cosim * a10;

    const double x1 = a1 * o.cosomm + a2 * o.sinomm;
    const double x2 = a3 * o.cosomm + a4 * o.sinomm;
    const double x3 = -a1 * o.sinomm + a2 * o.cosomm;
    const double x4 = -a3 * o.sinomm + a4 * o.cosomm;
    const double x5 = a5 * o.sinomm;
    const double x6 = a6 * o.sinomm;
    const double x7 = a5 * o.cosomm;
    const double x8 = a6 * o.cosomm;

    BodyTerms b;
    const double emsq = o.emsq;
    b.z31 = 12.0 * x1 * x1 - 3.0 * x3 * x3;
    b.z32 = 24.0 * x1 * x2 - 6.0 * x3 * x4;
    b.z33 = 12.0 * x2 * x2 - 3.0 * x4 * x4;
    b.z1 = 3.0 * (a1 * a1 + a2 * a2) + b.z31 * emsq;
    b.z2 = 6.0 * (a1 * a3 + a2 * a4) + b.z32 * emsq;
    b.z3 = 3.0 * (a3 * a3 + a4 * a4) + b.z33 * emsq;
    b.z11 = -6.0 * a1 * a5 + emsq * (-24.0 * x1 * x7 - 6.0 * x3 * x5);
    b.z12 = -6.0 * (a1 * a6 + a3 * a5) +
            emsq * (-24.0 * (x2 * x7 + x1 * x8) - 6.0 * (x3 * x6 + x4 * x5));
    b.z13 = -6.0 * a3 * a6 + emsq * (-24.0 * x2 * x8 - 6.0 * x4 * x6);
    b.z21 = 6.0 * a2 * a5 + emsq * (24.0 * x1 * x5 - 6.0 * x3 * x7);
    b.z22 =
        6.0 * (a4 * a5 + a2 * a6) + emsq * (24.0 * (x2 * x5 + x1 * x6) - 6.0 * (x4 * x7 + x3 * x8));
    b.z23 = 6.0 * a4 * a6 + emsq * (24.0 * x2 * x6 - 6.0 * x4 * x8);
    b.z1 = b.z1 + b.z1 + o.betasq * b.z31;
    b.z2 = b.z2 + b.z2 + o.betasq * b.z32;
    b.z3 = b.z3 + b.z3 + o.betasq * b.z33;
    b.s3 = cc * o.xnoi;
    b.s2 = -0.5 * b.s3 / o.rtemsq;
    b.s4 = b.s3 * o.rtemsq;
    b.s1 = -15.0 * o.em * b.s4;
    b.s5 = x1 * x3 + x2 * x4;
    b.s6 = x2 * x3 + x1 * x4;
    b.s7 = x2 * x4 - x1 * x3;
    return b;
}

/// Amplitudes of the periodic terms of one body: the report's (se2.., si2.., sl2.., sgh2..,
/// sh2..) for the Sun and (ee2.., xi2.., xl2.., xgh2.., xh2..) for the Moon; `ze` the body's
/// orbital eccentricity.
struct Periodics {
    double e2, e3, i2, i3, l2, l3, l4, gh2, gh3, gh4, h2, h3;
};

inline Periodics periodic_amplitudes(const BodyTerms& b, double emsq, double ze) noexcept {
    Periodics p;
    p.e2 = 2.0 * b.s1 * b.s6;
    p.e3 = 2.0 * b.s1 * b.s7;
    p.i2 = 2.0 * b.s2 * b.z12;
    p.i3 = 2.0 * b.s2 * (b.z13 - b.z11);
    p.l2 = -2.0 * b.s3 * b.z2;
    p.l3 = -2.0 * b.s3 * (b.z3 - b.z1);
    p.l4 = -2.0 * b.s3 * (-21.0 - 9.0 * emsq) * ze;
    p.gh2 = 2.0 * b.s4 * b.z32;
    p.gh3 = 2.0 * b.s4 * (b.z33 - b.z31);
    p.gh4 = -18.0 * b.s4 * ze;
    p.h2 = -2.0 * b.s2 * b.z22;
    p.h3 = -2.0 * b.s2 * (b.z23 - b.z21);
    return p;
}

/// Resonance coefficients of a half-day orbit (irez 2): the ten d-terms from the eccentricity
/// polynomials G(e) and inclination functions F(i) of the 2-2, 3-2, 4-4 and 5-2/5-4 harmonics.
inline void half_day_terms(DeepTerms<double>& d, double em, double cosim, double sinim, double nm,
                           double aonv) noexcept {
    const double emsq = em * em;
    const double eoc = em * emsq;
    const double cosisq = cosim * cosim;
    double g211, g310, g322, g410, g422, g520, g521, g532, g533;
    const double g201 = -0.306 - (em - 0.64) * 0.440;
    if (em <= 0.65) {
        g211 = 3.616 - 13.2470 * em + 16.2900 * emsq;
        g310 = -19.302 + 117.3900 * em - 228.4190 * emsq + 156.5910 * eoc;
        g322 = -18.9068 + 109.7927 * em - 214.6334 * emsq + 146.5816 * eoc;
        g410 = -41.122 + 242.6940 * em - 471.0940 * emsq + 313.9530 * eoc;
        g422 = -146.407 + 841.8800 * em - 1629.014 * emsq + 1083.4350 * eoc;
        g520 = -532.114 + 3017.977 * em - 5740.032 * emsq + 3708.2760 * eoc;
    } else {
        g211 = -72.099 + 331.819 * em - 508.738 * emsq + 266.724 * eoc;
        g310 = -346.844 + 1582.851 * em - 2415.925 * emsq + 1246.113 * eoc;
        g322 = -342.585 + 1554.908 * em - 2366.899 * emsq + 1215.972 * eoc;
        g410 = -1052.797 + 4758.686 * em - 7193.992 * emsq + 3651.957 * eoc;
        g422 = -3581.690 + 16178.110 * em - 24462.770 * emsq + 12422.520 * eoc;
        // the fit of G520 changes form at e = 0.715
        if (em > 0.715)
            g520 = -5149.66 + 29936.92 * em - 54087.36 * emsq + 31324.56 * eoc;
        else
            g520 = 1464.74 - 4664.75 * em + 3763.64 * emsq;
    }
    if (em < 0.7) {
        g533 = -919.22770 + 4988.6100 * em - 9064.7700 * emsq + 5542.21 * eoc;
        g521 = -822.71072 + 4568.6173 * em - 8491.4146 * emsq + 5337.524 * eoc;
        g532 = -853.66600 + 4690.2500 * em - 8624.7700 * emsq + 5341.4 * eoc;
    } else {
        g533 = -37995.780 + 161616.52 * em - 229838.20 * emsq + 109377.94 * eoc;
        g521 = -51752.104 + 218913.95 * em - 309468.16 * emsq + 146349.42 * eoc;
        g532 = -40023.880 + 170470.89 * em - 242699.48 * emsq + 115605.82 * eoc;
    }

    const double sini2 = sinim * sinim;
    const double f220 = 0.75 * (1.0 + 2.0 * cosim + cosisq);
    const double f221 = 1.5 * sini2;
    const double f321 = 1.875 * sinim * (1.0 - 2.0 * cosim - 3.0 * cosisq);
    const double f322 = -1.875 * sinim * (1.0 + 2.0 * cosim - 3.0 * cosisq);
    const double f441 = 35.0 * sini2 * f220;
    const double f442 = 39.3750 * sini2 * sini2;
    const double f522 = 9.84375 * sinim *
                        (sini2 * (1.0 - 2.0 * cosim - 5.0 * cosisq) +
                         0.33333333 * (-2.0 + 4.0 * cosim + 6.0 * cosisq));
    const double f523 = sinim * (4.92187512 * sini2 * (-2.0 - 4.0 * cosim + 10.0 * cosisq) +
                                 6.56250012 * (1.0 + 2.0 * cosim - 3.0 * cosisq));
    const double f542 =
        29.53125 * sinim * (2.0 - 8.0 * cosim + cosisq * (-12.0 + 8.0 * cosim + 10.0 * cosisq));
    const double f543 =
        29.53125 * sinim * (-2.0 - 8.0 * cosim + cosisq * (12.0 + 8.0 * cosim - 10.0 * cosisq));

    // the geopotential coefficients (root22 = sqrt of C22^2 + S22^2 and so on) enter with
    // increasing powers of 1/a
    constexpr double root22 = 1.7891679e-6, root32 = 3.7393792e-7, root44 = 7.3636953e-9;
    constexpr double root52 = 1.1428639e-7, root54 = 2.1765803e-9;
    const double xno2 = nm * nm;
    const double ainv2 = aonv * aonv;
    double temp1 = 3.0 * xno2 * ainv2;
    double temp = temp1 * root22;
    d.d2201 = temp * f220 * g201;
    d.d2211 = temp * f221 * g211;
    temp1 = temp1 * aonv;
    temp = temp1 * root32;
    d.d3210 = temp * f321 * g310;
    d.d3222 = temp * f322 * g322;
    temp1 = temp1 * aonv;
    temp = 2.0 * temp1 * root44;
    d.d4410 = temp * f441 * g410;
    d.d4422 = temp * f442 * g422;
    temp1 = temp1 * aonv;
    temp = temp1 * root52;
    d.d5220 = temp * f522 * g520;
    d.d5232 = temp * f523 * g532;
    temp = 2.0 * temp1 * root54;
    d.d5421 = temp * f542 * g521;
    d.d5433 = temp * f543 * g533;
}

/// Resonance coefficients of a synchronous orbit (irez 1): the 2-2, 3-1 and 3-3 terms.
inline void synchronous_terms(DeepTerms<double>& d, double emsq, double cosim, double sinim,
                              double nm, double aonv) noexcept {
    constexpr double q22 = 1.7891679e-6, q31 = 2.1460748e-6, q33 = 2.2123015e-7;
    const double g200 = 1.0 + emsq * (-2.5 + 0.8125 * emsq);
    const double g310 = 1.0 + 2.0 * emsq;
    const double g300 = 1.0 + emsq * (-6.0 + 6.60937 * emsq);
    const double f220 = 0.75 * (1.0 + cosim) * (1.0 + cosim);
    const double f311 = 0.9375 * sinim * sinim * (1.0 + 3.0 * cosim) - 0.75 * (1.0 + cosim);
    double f330 = 1.0 + cosim;
    f330 = 1.875 * f330 * f330 * f330;
    double del1 = 3.0 * nm * nm * aonv * aonv;
    d.del2 = 2.0 * del1 * f220 * g200 * q22;
    d.del3 = 3.0 * del1 * f330 * g300 * q33 * aonv;
    d.del1 = del1 * f311 * g310 * q31 * aonv;
}

}  // namespace deep

/// Fills the deep-space terms of `rec`, whose near-Earth terms are set: the lunar-solar
/// periodics from the positions of Sun and Moon at epoch, their secular rates, and the
/// resonance terms. `epoch` in days since 1949 December 31 00:00 UT, `xpidot` the secular rate
/// of the longitude of perigee (argpdot + nodedot).
inline void init_deep_space(Record& rec, double epoch, double xpidot) noexcept {
    using namespace deep;
    NearTerms<double>& c = rec.near;
    DeepTerms<double>& d = rec.deep;

    EpochOrbit o;
    o.em = c.ecco;
    o.snodm = std::sin(c.nodeo);
    o.cnodm = std::cos(c.nodeo);
    o.sinomm = std::sin(c.argpo);
    o.cosomm = std::cos(c.argpo);
    o.sinim = std::sin(c.inclo);
    o.cosim = std::cos(c.inclo);
    o.emsq = o.em * o.em;
    o.betasq = 1.0 - o.emsq;
    o.rtemsq = std::sqrt(o.betasq);
    o.xnoi = 1.0 / c.no;

    // The Moon's node and perigee at epoch from the report's linear theory (day counted from
    // 1900 January 0.5), then its orbit's orientation relative to the equator.
    const double day = epoch + 18261.5;
    const double xnodce = std::fmod(4.5236020 - 9.2422029e-4 * day, two_pi);
    const double stem = std::sin(xnodce);
    const double ctem = std::cos(xnodce);
    const double zcosil = 0.91375164 - 0.03568096 * ctem;
    const double zsinil = std::sqrt(1.0 - zcosil * zcosil);
    const double zsinhl = 0.089683511 * stem / zsinil;
    const double zcoshl = std::sqrt(1.0 - zsinhl * zsinhl);
    const double gam = 5.8351514 + 0.0019443680 * day;
    double zx = 0.39785416 * stem / zsinil;
    const double zy = zcoshl * ctem + 0.91744867 * zsinhl * stem;
    zx = std::atan2(zx, zy);
    zx = gam + zx - xnodce;
    const double zcosgl = std::cos(zx);
    const double zsingl = std::sin(zx);

    // The Sun: fixed perigee and the obliquity of the ecliptic; c1ss and c1l the bodies'
    // strengths (n'^2 m'/(m + m') in the report's units).
    constexpr double c1ss = 2.9864797e-6, c1l = 4.7968065e-7;
    constexpr double zsinis = 0.39785416, zcosis = 0.91744867;
    constexpr double zcosgs = 0.1945905, zsings = -0.98088458;
    const BodyTerms sun = body_terms(o, zcosgs, zsings, zcosis, zsinis, o.cnodm, o.snodm, c1ss);
    const BodyTerms moon =
        body_terms(o, zcosgl, zsingl, zcosil, zsinil, zcoshl * o.cnodm + zsinhl * o.snodm,
                   o.snodm * zcoshl - o.cnodm * zsinhl, c1l);

    d.zmol = std::fmod(4.7199672 + 0.22997150 * day - gam, two_pi);
    d.zmos = std::fmod(6.2565837 + 0.017201977 * day, two_pi);

    const Periodics ps = periodic_amplitudes(sun, o.emsq, zes);
    const Periodics pl = periodic_amplitudes(moon, o.emsq, zel);
    d.se2 = ps.e2, d.se3 = ps.e3, d.si2 = ps.i2, d.si3 = ps.i3;
    d.sl2 = ps.l2, d.sl3 = ps.l3, d.sl4 = ps.l4;
    d.sgh2 = ps.gh2, d.sgh3 = ps.gh3, d.sgh4 = ps.gh4, d.sh2 = ps.h2, d.sh3 = ps.h3;
    d.ee2 = pl.e2, d.e3 = pl.e3, d.xi2 = pl.i2, d.xi3 = pl.i3;
    d.xl2 = pl.l2, d.xl3 = pl.l3, d.xl4 = pl.l4;
    d.xgh2 = pl.gh2, d.xgh3 = pl.gh3, d.xgh4 = pl.gh4, d.xh2 = pl.h2, d.xh3 = pl.h3;

    // Secular rates from the lunar-solar terms. Near 0 and 180 degrees inclination the node
    // rate is ill-defined (it divides by sin i), so its part is dropped there.
    const double nm = c.no;
    const double inclm = c.inclo;
    const bool polar_degenerate = inclm < 5.2359877e-2 || inclm > pi - 5.2359877e-2;
    const double ses = sun.s1 * zns * sun.s5;
    const double sis = sun.s2 * zns * (sun.z11 + sun.z13);
    const double sls = -zns * sun.s3 * (sun.z1 + sun.z3 - 14.0 - 6.0 * o.emsq);
    const double sghs = sun.s4 * zns * (sun.z31 + sun.z33 - 6.0);
    double shs = -zns * sun.s2 * (sun.z21 + sun.z23);
    if (polar_degenerate) shs = 0.0;
    if (o.sinim != 0.0) shs = shs / o.sinim;
    const double sgs = sghs - o.cosim * shs;

    d.dedt = ses + moon.s1 * znl * moon.s5;
    d.didt = sis + moon.s2 * znl * (moon.z11 + moon.z13);
    d.dmdt = sls - znl * moon.s3 * (moon.z1 + moon.z3 - 14.0 - 6.0 * o.emsq);
    const double sghl = moon.s4 * znl * (moon.z31 + moon.z33 - 6.0);
    double shll = -znl * moon.s2 * (moon.z21 + moon.z23);
    if (polar_degenerate) shll = 0.0;
    d.domdt = sgs + sghl;
    d.dnodt = shs;
    if (o.sinim != 0.0) {
        d.domdt = d.domdt - o.cosim / o.sinim * shll;
        d.dnodt = d.dnodt + shll / o.sinim;
    }

    // Resonance: synchronous for 0.8 to 1.2 rev/day, half-day for 1.893 to 2.117 rev/day with
    // e >= 0.5 (bounds in rad/min).
    rec.resonance = no_resonance;
    if (nm < 0.0052359877 && nm > 0.0034906585) rec.resonance = synchronous;
    if (nm >= 8.26e-3 && nm <= 9.24e-3 && o.em >= 0.5) rec.resonance = half_day;
    if (rec.resonance != no_resonance) {
        const double theta = std::fmod(d.gsto, two_pi);
        const double aonv = std::pow(nm / c.xke, 2.0 / 3.0);
        if (rec.resonance == half_day) {
            // the G(e) fits take the epoch eccentricity
            half_day_terms(d, c.ecco, o.cosim, o.sinim, nm, aonv);
            d.xlamo = std::fmod(c.mo + c.nodeo + c.nodeo - theta - theta, two_pi);
            d.xfact = c.mdot + d.dmdt + 2.0 * (c.nodedot + d.dnodt - rptim) - c.no;
        } else {
            synchronous_terms(d, o.emsq, o.cosim, o.sinim, nm, aonv);
            d.xlamo = std::fmod(c.mo + c.nodeo + c.argpo - theta, two_pi);
            d.xfact = c.mdot + xpidot - rptim + d.dmdt + d.domdt + d.dnodt - c.no;
        }
    }
}

}  // namespace orbivex::kern::sgp4
