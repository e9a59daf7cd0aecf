// Raw C++ loops over the SGP4/SDP4 kernels into preallocated arrays, on one thread: the
// one-lane model and the batch entry points, for bench_sgp4.py to time against python-sgp4.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernels/sgp4_batch.hpp"
#include "kernels/sgp4_init.hpp"

namespace {

namespace k = orbivex::kern::sgp4;

}  // namespace

extern "C" {

std::int64_t loop_record_size() { return sizeof(k::Record); }
int loop_best_isa() { return static_cast<int>(k::best_isa()); }

/// Initialises n sets at one epoch (jd_whole + jd_frac): rows of (bstar, ndot, nddot, ecco,
/// argpo, inclo, mo, no_kozai, nodeo), WGS-72, improved mode. Returns the number that failed.
std::int64_t loop_init(std::int64_t n, double jd_whole, double jd_frac, const double* el,
                       k::Record* out) {
    std::int64_t failed = 0;
    for (std::int64_t i = 0; i < n; ++i) {
        const double* e = el + 9 * i;
        const k::Elements elements{e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], e[8]};
        failed += k::init(out[i], jd_whole, jd_frac, elements) != 0;
    }
    return failed;
}

/// The one-lane model over a grid (sets outer, times inner), r and v as (n, nt, 3).
void loop_scalar(std::int64_t n, const k::Record* recs, std::int64_t nt, const double* t, double* r,
                 double* v, std::uint8_t* status) {
    for (std::int64_t i = 0; i < n; ++i) {
        k::ResonanceState<double> state{};
        for (std::int64_t j = 0; j < nt; ++j) {
            const std::int64_t o = i * nt + j;
            status[o] = static_cast<std::uint8_t>(
                k::propagate(recs[i], t[j], r + 3 * o, v + 3 * o, &state));
        }
    }
}

/// The batch grid, lanes over times, r and v as (n, nt, 3).
void loop_grid_times(std::int64_t n, const k::Record* recs, std::int64_t nt, const double* t,
                     double* r, double* v, std::uint8_t* status, int isa) {
    const k::Output out{r, v, status, 3 * nt, 3, nt, 1, 1.0};
    k::propagate_grid_times(recs, 0, static_cast<std::size_t>(n), t, 0,
                            static_cast<std::size_t>(nt), out, static_cast<k::Isa>(isa));
}

/// The batch grid, lanes over sets (structure of arrays by family, laid out here and counted
/// in the time), r and v as (n, nt, 3).
void loop_grid_sets(std::int64_t n, const k::Record* recs, std::int64_t nt, const double* t,
                    double* r, double* v, std::uint8_t* status, int isa) {
    std::vector<std::int64_t> index[4];
    for (std::int64_t i = 0; i < n; ++i) index[static_cast<int>(k::family(recs[i]))].push_back(i);
    const k::Output out{r, v, status, 3 * nt, 3, nt, 1, 1.0};
    for (int f = 0; f < 4; ++f) {
        if (index[f].empty()) continue;
        const auto fam = static_cast<k::Family>(f);
        std::vector<double> data(k::soa_doubles(fam, index[f].size()));
        const k::SoaBlock b = k::soa_fill(fam, recs, index[f].data(), index[f].size(), data.data());
        k::propagate_grid_sets(b, 0, b.count, t, 0, static_cast<std::size_t>(nt), out,
                               static_cast<k::Isa>(isa));
    }
}

}  // extern "C"
