// SGP4/SDP4: gravity models, status codes and the record of an initialised element set.
#pragma once

#include <cmath>
#include <cstdint>

namespace orbivex::kern::sgp4 {

/// Earth models the element sets may have been fitted with.
enum class Gravity : std::uint8_t { wgs72old = 0, wgs72 = 1, wgs84 = 2 };

/// The two ways of running the model: improved ('i'), and the operational one ('a'), which
/// differs from it only in how the Lyddane branch of the lunar-solar periodics folds the node.
enum class Mode : char { improved = 'i', operational = 'a' };

/// Constants of one Earth model. Lengths in km, time in minutes where the model works in its
/// own units: xke is sqrt(mu) in earth radii^1.5 per minute, tumin its reciprocal.
struct GravityModel {
    double mu;      ///< km^3/s^2
    double radius;  ///< equatorial radius, km
    double xke;     ///< 1/min in units of earth radii
    double tumin;   ///< minutes per time unit
    double j2, j3, j4, j3oj2;
};

/// The constants of `g`. WGS-72 "old" keeps the historical rounded xke instead of deriving it.
inline GravityModel gravity_model(Gravity g) noexcept {
    GravityModel m{};
    switch (g) {
    case Gravity::wgs72old:
        m.mu = 398600.79964;
        m.radius = 6378.135;
        m.xke = 0.0743669161;
        m.j2 = 0.001082616;
        m.j3 = -0.00000253881;
        m.j4 = -0.00000165597;
        break;
    case Gravity::wgs72:
    default:
        m.mu = 398600.8;
        m.radius = 6378.135;
        m.xke = 60.0 / std::sqrt(m.radius * m.radius * m.radius / m.mu);
        m.j2 = 0.001082616;
        m.j3 = -0.00000253881;
        m.j4 = -0.00000165597;
        break;
    case Gravity::wgs84:
        m.mu = 398600.5;
        m.radius = 6378.137;
        m.xke = 60.0 / std::sqrt(m.radius * m.radius * m.radius / m.mu);
        m.j2 = 0.00108262998905;
        m.j3 = -0.00000253215306;
        m.j4 = -0.00000161098761;
        break;
    }
    m.tumin = 1.0 / m.xke;
    m.j3oj2 = m.j3 / m.j2;
    return m;
}

/// Status of an initialisation or a sample, numbered as the model numbers them (5 is unused:
/// it once meant a sub-orbital epoch, which the decay test now covers).
enum Status : int {
    ok = 0,
    mean_eccentricity = 1,       ///< mean eccentricity outside [-0.001, 1)
    mean_motion = 2,             ///< mean motion not above zero
    perturbed_eccentricity = 3,  ///< eccentricity after lunar-solar periodics outside [0, 1]
    semilatus_rectum = 4,        ///< semilatus rectum below zero
    decayed = 6,                 ///< radius below one earth radius
};

/// One line of text per status code; "" for codes the model does not use.
inline const char* status_text(int code) noexcept {
    switch (code) {
    case ok: return "success";
    case mean_eccentricity: return "mean eccentricity is outside the range 0.0 to 1.0";
    case mean_motion: return "mean motion is zero or less";
    case perturbed_eccentricity: return "perturbed eccentricity is outside the range 0.0 to 1.0";
    case semilatus_rectum: return "semilatus rectum is less than zero";
    case 5: return "(status 5 is no longer used; it meant the epoch position was sub-orbital)";
    case decayed: return "mean radius is below one earth radius: the satellite has decayed";
    default: return "";
    }
}

// Coefficients every set needs to be propagated, as one list so that the record, the
// structure-of-arrays layout and the vector loaders cannot drift apart. Names follow the
// published report where it has one. Angles in rad, rates in rad/min, lengths in earth radii.
// For sets on the simplified drag branch (perigee below 220 km, and all deep-space sets) the
// coefficients of the higher drag terms are stored as zero, which makes the full expressions
// give those sets' results exactly.
#define ORBIVEX_SGP4_NEAR_FIELDS(X)                                                           \
    X(mo) X(mdot) X(argpo) X(argpdot) X(nodeo) X(nodedot) X(nodecf) /* secular rates */        \
    X(cc1) X(bcc4) X(t2cof)                          /* drag: bcc4 = B* C4 */                 \
    X(omgcof) X(eta) X(xmcof) X(delmo) X(d2) X(d3) X(d4) X(bcc5) X(sinmao) X(t3cof) X(t4cof)  \
    X(t5cof)                                         /* higher drag terms, zero if simple */  \
    X(no) X(a0) X(sqrta0) X(ecco) X(inclo) X(sinio) X(cosio) /* no: Brouwer n, a0 its a */   \
    X(aycof) X(xlcof) X(con41) X(x1mth2) X(x7thm1)   /* long/short-period factors */          \
    X(j2) X(j3oj2) X(xke) X(rscale) X(vscale)        /* rscale km per radius, vscale km/s */

// Coefficients of the deep-space (SDP4) sets only: sidereal time at epoch, the lunar-solar
// periodic amplitudes and mean anomalies, the lunar-solar secular rates and the resonance
// terms. `wrap` is 1 in the operational mode, where the Lyddane branch keeps nodes in [0, 2pi).
#define ORBIVEX_SGP4_DEEP_FIELDS(X)                                                           \
    X(gsto) X(e3) X(ee2) X(se2) X(se3) X(sgh2) X(sgh3) X(sgh4) X(sh2) X(sh3) X(si2) X(si3)     \
    X(sl2) X(sl3) X(sl4) X(xgh2) X(xgh3) X(xgh4) X(xh2) X(xh3) X(xi2) X(xi3) X(xl2) X(xl3)     \
    X(xl4) X(zmol) X(zmos)                                                                    \
    X(dedt) X(didt) X(dmdt) X(dnodt) X(domdt)                                                 \
    X(xfact) X(xlamo) X(del1) X(del2) X(del3) X(d2201) X(d2211) X(d3210) X(d3222) X(d4410)    \
    X(d4422) X(d5220) X(d5232) X(d5421) X(d5433) X(wrap)

#define ORBIVEX_SGP4_DECLARE(name) T name;
#define ORBIVEX_SGP4_COUNT(name) +1

/// The near-Earth coefficients with one value per lane: T is double or a vector of doubles.
template <class T>
struct NearTerms {
    ORBIVEX_SGP4_NEAR_FIELDS(ORBIVEX_SGP4_DECLARE)
};

/// The deep-space coefficients with one value per lane.
template <class T>
struct DeepTerms {
    ORBIVEX_SGP4_DEEP_FIELDS(ORBIVEX_SGP4_DECLARE)
};

inline constexpr int near_field_count = 0 ORBIVEX_SGP4_NEAR_FIELDS(ORBIVEX_SGP4_COUNT);
inline constexpr int deep_field_count = 0 ORBIVEX_SGP4_DEEP_FIELDS(ORBIVEX_SGP4_COUNT);

/// Resonance of a deep-space set: none, synchronous (24 h) or half-day (12 h, e > 0.5).
enum Resonance : std::uint8_t { no_resonance = 0, synchronous = 1, half_day = 2 };

/// An initialised element set: everything propagation needs, computed once. Plain data.
struct Record {
    NearTerms<double> near;
    DeepTerms<double> deep;   ///< zero for near-Earth sets except gsto
    double epoch;             ///< days since 1949 December 31 00:00 UT
    double a;                 ///< semi-major axis from the Brouwer mean motion, earth radii
    double alta, altp;        ///< apogee and perigee heights, earth radii
    double no_kozai;          ///< mean motion as given, rad/min
    double bstar;             ///< 1/earth radii
    std::uint8_t deep_space;  ///< 1: period of 225 min or more, the SDP4 branch
    std::uint8_t simple;      ///< 1: the simplified drag expressions (perigee < 220 km or deep)
    std::uint8_t resonance;   ///< a Resonance, for deep-space sets
    Gravity gravity;
    Mode mode;
    int status;  ///< status of the propagation to the epoch done by the initialisation
};

/// Integrator state of the resonance terms (12 h and 24 h sets), kept between samples so that
/// a run of times in one direction continues from the last whole step instead of restarting at
/// the epoch, and the derivatives there are not evaluated again. The model's steps are fixed
/// (720 min from the epoch), so the result does not depend on it: a zero state always restarts
/// and gives the same bits.
template <class T>
struct ResonanceState {
    T atime;               ///< minutes since epoch of the last step
    T xli;                 ///< resonance angle at atime
    T xni;                 ///< mean motion at atime
    T xndt, xldot, xnddt;  ///< derivatives at atime, valid where `have` is not 0
    T have;
};

}  // namespace orbivex::kern::sgp4
