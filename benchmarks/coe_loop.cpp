// Raw C++ loops over coe's kernels into preallocated arrays: the limit the Python functions
// are measured against (same kernels, same flags, no interpreter in the loop).
#include <cstddef>

#include "kernels/coe.hpp"
#include "kernels/records.hpp"

namespace {

namespace k = orbivex::kern::coe;

/// The bound sibling functions, as coe calls them; nothing can fail here.
struct RawEnv {
    double (*atan2_fn)(double, double);
    double (*dot_fn)(double*, double*);
    void (*cross_fn)(double*, double*, double*);
    double (*norm_fn)(double*);
    void (*normalize_fn)(double*, double*);
    double atan2(double y, double x) const { return atan2_fn(y, x); }
    double dot(double* a, double* b) const { return dot_fn(a, b); }
    void cross(double* a, double* b, double* c) const { cross_fn(a, b, c); }
    double norm(double* a) const { return norm_fn(a); }
    void normalize(double* a, double* u) const { normalize_fn(a, u); }
    bool failed() const { return false; }
};

}  // namespace

extern "C" {

void loop_orp_from_sma(const double* x, std::ptrdiff_t n, double gm, double* out) {
    for (std::ptrdiff_t i = 0; i < n; ++i) out[i] = k::orp_from_sma(x[i], gm);
}

void loop_eca_from_mea(const double* m, std::ptrdiff_t n, double e, double* out) {
    for (std::ptrdiff_t i = 0; i < n; ++i) out[i] = k::eca_from_mea(m[i], e);
}

void loop_tra_from_mea(const double* m, std::ptrdiff_t n, double e, double* out,
                       double (*atan2_fn)(double, double)) {
    const RawEnv env{atan2_fn, nullptr, nullptr, nullptr, nullptr};
    for (std::ptrdiff_t i = 0; i < n; ++i) out[i] = k::tra_from_mea(m[i], e, env);
}

void loop_coe_from_sv(const double* r, const double* v, std::ptrdiff_t n, double gm, COE_t* out,
                      const RawEnv* env) {
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        double lr[3] = {r[3 * i], r[3 * i + 1], r[3 * i + 2]};
        double lv[3] = {v[3 * i], v[3 * i + 1], v[3 * i + 2]};
        k::coe_from_sv(lr, lv, gm, &out[i], *env);
    }
}

void loop_sv_from_coe(const COE_t* rec, std::ptrdiff_t n, double gm, double* r, double* v) {
    for (std::ptrdiff_t i = 0; i < n; ++i) k::sv_from_coe(rec[i], gm, &r[3 * i], &v[3 * i]);
}

}  // extern "C"
