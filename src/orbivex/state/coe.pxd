# Native table of orbivex.state.coe, for Cython modules that cimport its kernels and _2pi.
from orbivex.datamodel.structured cimport COE_t

# 2π, set when the module is imported.
cdef double _2pi

# Size, period and mean motion (SI units; GM in m^3/s^2).
cdef double c_orp_from_sma(const double sma, double GM) noexcept nogil
cdef double c_sma_from_orp(const double orp, double GM) noexcept nogil
cdef double c_mnm_from_sma(const double sma, double GM) noexcept nogil
cdef double c_sma_from_mnm(const double mnm, double GM) noexcept nogil

# Anomalies in radians. The four that go through atan2_asymmetric return -1.0 with an
# exception pending when it reports a failure.
cdef double c_eca_from_mea(const double mea, const double ecc) noexcept nogil
cdef double c_mea_from_eca(const double eca, const double ecc) noexcept nogil
cdef double c_eca_from_tra(const double tra, const double ecc) except? -1 nogil
cdef double c_tra_from_eca(const double eca, const double ecc) except? -1 nogil
cdef double c_tra_from_mea(const double mea, const double ecc) except? -1 nogil
cdef double c_mea_from_tra(const double tra, const double ecc) except? -1 nogil

# Size and shape: perigee and apogee are altitudes above the radius Re.
cdef double c_pge_from_sma_ecc(const double sma, const double ecc, const double Re) noexcept nogil
cdef double c_apg_from_sma_ecc(const double sma, const double ecc, const double Re) noexcept nogil
cdef double c_sma_from_pge_apg(const double pge, const double apg, const double Re) noexcept nogil
cdef double c_sma_from_ecc_pge(const double ecc, const double pge, const double Re) noexcept nogil
cdef double c_sma_from_ecc_apg(const double ecc, const double apg, const double Re) noexcept nogil
cdef double c_ecc_from_pge_apg(const double pge, const double apg, const double Re) noexcept nogil
cdef double c_ecc_from_sma_pge(const double sma, const double pge, const double Re) noexcept nogil
cdef double c_ecc_from_sma_apg(const double sma, const double apg, const double Re) noexcept nogil

# State vectors: r in m, v in m/s. c_coe_from_sv leaves an exception pending on failure.
cdef void c_coe_from_sv(double* r, double* v, const double GM, COE_t* coe) except * nogil
cdef void c_sv_from_coe(const COE_t coe, const double GM, double* r, double* v) noexcept nogil
