// SGP4/SDP4: initialisation of one element set into its record.
//
// Equations of Spacetrack Report No. 3 (Hoots and Roehrich, 1980) as revised in "Revisiting
// Spacetrack Report #3" (Vallado, Crawford, Hujsak and Kelso, 2006), in the report's names.
#pragma once

#include <cmath>

#include "constants.hpp"
#include "sgp4_deep_init.hpp"
#include "sgp4_model.hpp"
#include "sgp4_record.hpp"

namespace orbivex::kern::sgp4 {

/// Mean elements of an element set at its epoch, in the model's units.
struct Elements {
    double bstar;     ///< drag term B*, 1/earth radii
    double ndot;      ///< first derivative of mean motion / 2, rad/min^2 (not used by the model)
    double nddot;     ///< second derivative / 6, rad/min^3 (not used by the model)
    double ecco;      ///< eccentricity
    double argpo;     ///< argument of perigee, rad
    double inclo;     ///< inclination, rad
    double mo;        ///< mean anomaly, rad
    double no_kozai;  ///< mean motion (Kozai), rad/min
    double nodeo;     ///< right ascension of the ascending node, rad
};

/// Julian date of the model's day 0, 1949 December 31 00:00 UT.
inline constexpr double jd_1950 = 2433281.5;

/// Days since 1949 December 31 00:00 UT of the Julian date jd_whole + jd_frac. The whole part
/// is taken first, so an epoch whose jd_whole is day 0 plus whole days loses nothing.
inline double epoch_days(double jd_whole, double jd_frac) noexcept {
    return (jd_whole - jd_1950) + jd_frac;
}

/// Greenwich mean sidereal time (rad, [0, 2 pi)) at UT1 Julian date `jdut1`, IAU 1982.
inline double gstime(double jdut1) noexcept {
    const double tut1 = (jdut1 - 2451545.0) / 36525.0;
    double temp = -6.2e-6 * tut1 * tut1 * tut1 + 0.093104 * tut1 * tut1 +
                  (876600.0 * 3600 + 8640184.812866) * tut1 + 67310.54841;  // seconds
    // 360 degrees per 86400 s: seconds / 240 are degrees
    temp = std::fmod(temp * (pi / 180.0) / 240.0, two_pi);
    if (temp < 0.0) temp += two_pi;
    return temp;
}

/// Initialises `rec` from the elements at `epoch` (days since 1949 December 31 00:00 UT) and
/// propagates it to the epoch, as the model does; returns that status (also in rec.status).
/// A set that fails still has its record filled, and propagating it gives the model's codes.
inline int init_days(Record& rec, double epoch, const Elements& el,
                     Gravity gravity = Gravity::wgs72, Mode mode = Mode::improved) noexcept {
    rec = Record{};
    const GravityModel g = gravity_model(gravity);
    NearTerms<double>& c = rec.near;
    rec.epoch = epoch;
    rec.gravity = gravity;
    rec.mode = mode;
    rec.bstar = el.bstar;
    rec.no_kozai = el.no_kozai;
    c.ecco = el.ecco;
    c.argpo = el.argpo;
    c.inclo = el.inclo;
    c.mo = el.mo;
    c.nodeo = el.nodeo;
    c.j2 = g.j2;
    c.j3oj2 = g.j3oj2;
    c.xke = g.xke;
    c.rscale = g.radius;
    c.vscale = g.radius * g.xke / 60.0;
    rec.deep.wrap = mode == Mode::operational ? 1.0 : 0.0;
    const double x2o3 = 2.0 / 3.0;
    const double bstar = el.bstar;

    // Atmosphere: the density function's s (78 km altitude, as a radius in earth radii) and
    // (q0 - s)^4 with q0 = 120 km.
    const double ss = 78.0 / g.radius + 1.0;
    const double qzms2ttemp = (120.0 - 78.0) / g.radius;
    const double qzms2t = qzms2ttemp * qzms2ttemp * qzms2ttemp * qzms2ttemp;

    // Epoch quantities, and the Brouwer mean motion n0 from the Kozai one the sets carry:
    // a1 = (ke / n)^(2/3), d1 = (3/4) J2 (3 cos^2 i - 1) / (1 - e^2)^(3/2), delta = d1 / a^2 for
    // a = a1 and then a0 = a1 (1 - delta/3 - delta^2 - 134 delta^3 / 81), n0 = n / (1 + delta).
    const double eccsq = c.ecco * c.ecco;
    const double omeosq = 1.0 - eccsq;
    const double rteosq = std::sqrt(omeosq);
    const double cosio = std::cos(c.inclo);
    const double cosio2 = cosio * cosio;
    const double ak = std::pow(g.xke / el.no_kozai, x2o3);
    const double d1 = 0.75 * g.j2 * (3.0 * cosio2 - 1.0) / (rteosq * omeosq);
    double del = d1 / (ak * ak);
    const double adel = ak * (1.0 - del * del - del * (1.0 / 3.0 + 134.0 * del * del / 81.0));
    del = d1 / (adel * adel);
    c.no = el.no_kozai / (1.0 + del);

    const double ao = std::pow(g.xke / c.no, x2o3);
    const double sinio = std::sin(c.inclo);
    const double po = ao * omeosq;
    const double con42 = 1.0 - 5.0 * cosio2;
    c.con41 = -con42 - cosio2 - cosio2;
    const double posq = po * po;
    const double rp = ao * (1.0 - c.ecco);
    c.a0 = ao;
    c.sqrta0 = std::sqrt(ao);
    c.sinio = sinio;
    c.cosio = cosio;
    // both modes take the sidereal time of the IAU 1982 expression
    rec.deep.gsto = gstime(epoch + jd_1950);
    rec.a = std::pow(c.no * g.tumin, -x2o3);
    rec.alta = rec.a * (1.0 + c.ecco) - 1.0;
    rec.altp = rec.a * (1.0 - c.ecco) - 1.0;

    if (omeosq >= 0.0 || c.no >= 0.0) {
        rec.simple = rp < 220.0 / g.radius + 1.0;
        // below 156 km perigee the density function's s follows the perigee (20 km below 98)
        double sfour = ss;
        double qzms24 = qzms2t;
        const double perige = (rp - 1.0) * g.radius;
        if (perige < 156.0) {
            sfour = perige - 78.0;
            if (perige < 98.0) sfour = 20.0;
            const double qzms24temp = (120.0 - sfour) / g.radius;
            qzms24 = qzms24temp * qzms24temp * qzms24temp * qzms24temp;
            sfour = sfour / g.radius + 1.0;
        }
        const double pinvsq = 1.0 / posq;
        const double tsi = 1.0 / (ao - sfour);
        const double eta = ao * c.ecco * tsi;
        const double etasq = eta * eta;
        const double eeta = c.ecco * eta;
        const double psisq = std::fabs(1.0 - etasq);
        const double coef = qzms24 * std::pow(tsi, 4.0);
        const double coef1 = coef / std::pow(psisq, 3.5);
        const double cc2 =
            coef1 * c.no *
            (ao * (1.0 + 1.5 * etasq + eeta * (4.0 + etasq)) +
             0.375 * g.j2 * tsi / psisq * c.con41 * (8.0 + 3.0 * etasq * (8.0 + etasq)));
        c.cc1 = bstar * cc2;
        double cc3 = 0.0;
        // the odd-zonal drag term divides by e: dropped for nearly circular orbits
        if (c.ecco > 1.0e-4) cc3 = -2.0 * coef * tsi * g.j3oj2 * c.no * sinio / c.ecco;
        c.x1mth2 = 1.0 - cosio2;
        const double cc4 = 2.0 * c.no * coef1 * ao * omeosq *
                           (eta * (2.0 + 0.5 * etasq) + c.ecco * (0.5 + 2.0 * etasq) -
                            g.j2 * tsi / (ao * psisq) *
                                (-3.0 * c.con41 * (1.0 - 2.0 * eeta + etasq * (1.5 - 0.5 * eeta)) +
                                 0.75 * c.x1mth2 * (2.0 * etasq - eeta * (1.0 + etasq)) *
                                     std::cos(2.0 * c.argpo)));
        const double cc5 = 2.0 * coef1 * ao * omeosq * (1.0 + 2.75 * (etasq + eeta) + eeta * etasq);
        c.bcc4 = bstar * cc4;

        // secular rates of M, perigee and node from J2 (to second order) and J4
        const double cosio4 = cosio2 * cosio2;
        const double temp1 = 1.5 * g.j2 * pinvsq * c.no;
        const double temp2 = 0.5 * temp1 * g.j2 * pinvsq;
        const double temp3 = -0.46875 * g.j4 * pinvsq * pinvsq * c.no;
        c.mdot = c.no + 0.5 * temp1 * rteosq * c.con41 +
                 0.0625 * temp2 * rteosq * (13.0 - 78.0 * cosio2 + 137.0 * cosio4);
        c.argpdot = -0.5 * temp1 * con42 +
                    0.0625 * temp2 * (7.0 - 114.0 * cosio2 + 395.0 * cosio4) +
                    temp3 * (3.0 - 36.0 * cosio2 + 49.0 * cosio4);
        const double xhdot1 = -temp1 * cosio;
        c.nodedot =
            xhdot1 +
            (0.5 * temp2 * (4.0 - 19.0 * cosio2) + 2.0 * temp3 * (3.0 - 7.0 * cosio2)) * cosio;
        const double xpidot = c.argpdot + c.nodedot;
        c.omgcof = bstar * cc3 * std::cos(c.argpo);
        c.xmcof = 0.0;
        if (c.ecco > 1.0e-4) c.xmcof = -x2o3 * coef * bstar / eeta;
        c.nodecf = 3.5 * omeosq * xhdot1 * c.cc1;
        c.t2cof = 1.5 * c.cc1;
        // the J3 long-period term in L has 1 + cos i below: guard it at 180 degrees
        if (std::fabs(cosio + 1.0) > 1.5e-12)
            c.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / (1.0 + cosio);
        else
            c.xlcof = -0.25 * g.j3oj2 * sinio * (3.0 + 5.0 * cosio) / 1.5e-12;
        c.aycof = -0.5 * g.j3oj2 * sinio;
        const double delmotemp = 1.0 + eta * std::cos(c.mo);
        c.delmo = delmotemp * delmotemp * delmotemp;
        c.sinmao = std::sin(c.mo);
        c.x7thm1 = 7.0 * cosio2 - 1.0;
        c.eta = eta;
        c.bcc5 = bstar * cc5;

        if (two_pi / c.no >= 225.0) {
            rec.deep_space = 1;
            rec.simple = 1;
            init_deep_space(rec, epoch, xpidot);
        }
        if (!rec.simple) {
            const double cc1sq = c.cc1 * c.cc1;
            c.d2 = 4.0 * ao * tsi * cc1sq;
            const double temp = c.d2 * tsi * c.cc1 / 3.0;
            c.d3 = (17.0 * ao + sfour) * temp;
            c.d4 = 0.5 * temp * ao * tsi * (221.0 * ao + 31.0 * sfour) * c.cc1;
            c.t3cof = c.d2 + 2.0 * cc1sq;
            c.t4cof = 0.25 * (3.0 * c.d3 + c.cc1 * (12.0 * c.d2 + 10.0 * cc1sq));
            c.t5cof = 0.2 * (3.0 * c.d4 + 12.0 * c.cc1 * c.d3 + 6.0 * c.d2 * c.d2 +
                             15.0 * cc1sq * (2.0 * c.d2 + cc1sq));
        } else {
            // the simplified expressions leave these terms out; zero makes the full ones agree
            c.omgcof = c.xmcof = c.eta = c.delmo = c.bcc5 = 0.0;
        }
    }

    ResonanceState<double> st{};
    double r[3], v[3];
    const double s =
        rec.deep_space
            ? propagate_lanes<double, true>(c, rec.deep, rec.resonance, false, 0.0, st, r, v)
            : propagate_lanes<double, false>(c, rec.deep, 0, !rec.simple, 0.0, st, r, v);
    rec.status = static_cast<int>(s);
    return rec.status;
}

/// Initialises `rec` from elements whose epoch is the Julian date jd_whole + jd_frac (UT).
inline int init(Record& rec, double jd_whole, double jd_frac, const Elements& el,
                Gravity gravity = Gravity::wgs72, Mode mode = Mode::improved) noexcept {
    return init_days(rec, epoch_days(jd_whole, jd_frac), el, gravity, mode);
}

}  // namespace orbivex::kern::sgp4
