# Native records of orbivex.datamodel.structured, for Cython modules: plain structs of doubles
# laid out exactly as the module's dtypes (SurfCoord_dtype, LLA_dtype, GeoState_dt, COE_dt,
# ENU_dtype, AER_dtype). DTF_dtype has no native twin.

ctypedef struct SurfCoord:
    double lat
    double lon

ctypedef struct LLA:
    double lat
    double lon
    double alt

ctypedef struct GeoState_t:
    double lat
    double lon
    double alt
    double lat_dot
    double lon_dot
    double alt_dot

ctypedef struct COE_t:
    double ecc
    double sma
    double inc
    double raa
    double arp
    double tra
    double slr

ctypedef struct ENU_Frame:
    double u_east[3]
    double u_north[3]
    double u_up[3]

ctypedef struct AER:
    double azimuth
    double elevation
    double range
