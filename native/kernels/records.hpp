// The package's fixed native records: plain C structs of doubles, each the twin of a NumPy dtype
// of orbivex.datamodel.structured (same fields, order, offsets and size).
#pragma once

#include <cstddef>

extern "C" {

/// Latitude and longitude of a point on a surface (rad).
struct SurfCoord {
    double lat;
    double lon;
};

/// Latitude, longitude (rad) and altitude (m).
struct LLA {
    double lat;
    double lon;
    double alt;
};

/// Geodetic state: latitude, longitude, altitude and their time derivatives.
struct GeoState_t {
    double lat;
    double lon;
    double alt;
    double lat_dot;
    double lon_dot;
    double alt_dot;
};

/// Classical orbital elements: ecc; sma (m); inc, raa, arp, tra (rad); slr (m).
struct COE_t {
    double ecc;
    double sma;
    double inc;
    double raa;
    double arp;
    double tra;
    double slr;
};

/// East, north and up unit vectors of a local frame.
struct ENU_Frame {
    double u_east[3];
    double u_north[3];
    double u_up[3];
};

/// Azimuth, elevation (rad) and range (m).
struct AER {
    double azimuth;
    double elevation;
    double range;
};

}  // extern "C"

// The dtypes are packed (no alignment flag): every record must be its doubles back to back.
static_assert(sizeof(double) == 8);
static_assert(sizeof(SurfCoord) == 16 && offsetof(SurfCoord, lon) == 8);
static_assert(sizeof(LLA) == 24 && offsetof(LLA, lon) == 8 && offsetof(LLA, alt) == 16);
static_assert(sizeof(GeoState_t) == 48 && offsetof(GeoState_t, lon) == 8 &&
              offsetof(GeoState_t, alt) == 16 && offsetof(GeoState_t, lat_dot) == 24 &&
              offsetof(GeoState_t, lon_dot) == 32 && offsetof(GeoState_t, alt_dot) == 40);
static_assert(sizeof(COE_t) == 56 && offsetof(COE_t, ecc) == 0 && offsetof(COE_t, sma) == 8 &&
              offsetof(COE_t, inc) == 16 && offsetof(COE_t, raa) == 24 &&
              offsetof(COE_t, arp) == 32 && offsetof(COE_t, tra) == 40 &&
              offsetof(COE_t, slr) == 48);
static_assert(sizeof(ENU_Frame) == 72 && offsetof(ENU_Frame, u_north) == 24 &&
              offsetof(ENU_Frame, u_up) == 48);
static_assert(sizeof(AER) == 24 && offsetof(AER, elevation) == 8 && offsetof(AER, range) == 16);
