// Test-only C entry points over the SGP4/SDP4 kernels, loaded by the tests with ctypes.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "kernels/sgp4_batch.hpp"
#include "kernels/sgp4_init.hpp"

namespace k = orbivex::kern::sgp4;

namespace {

struct Blocks {
    std::vector<std::vector<std::int64_t>> index{4};
    std::vector<std::vector<double>> data{4};
    std::vector<k::SoaBlock> blocks;

    Blocks(const k::Record* recs, std::int64_t n) {
        for (std::int64_t i = 0; i < n; ++i)
            index[static_cast<int>(k::family(recs[i]))].push_back(i);
        for (int f = 0; f < 4; ++f) {
            if (index[f].empty()) continue;
            const auto fam = static_cast<k::Family>(f);
            data[f].resize(k::soa_doubles(fam, index[f].size()));
            blocks.push_back(
                k::soa_fill(fam, recs, index[f].data(), index[f].size(), data[f].data()));
        }
    }
};

}  // namespace

extern "C" {

std::int64_t sgp4_record_size() { return sizeof(k::Record); }
int sgp4_best_isa() { return static_cast<int>(k::best_isa()); }

/// n sets: epochs as (jd_whole, jd_frac) pairs, elements as rows of (bstar, ndot, nddot, ecco,
/// argpo, inclo, mo, no_kozai, nodeo).
void sgp4_init(std::int64_t n, const double* jd, const double* el, int gravity, char mode,
               k::Record* out, std::int32_t* status) {
    for (std::int64_t i = 0; i < n; ++i) {
        const double* e = el + 9 * i;
        const k::Elements elements{e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], e[8]};
        status[i] = k::init(out[i], jd[2 * i], jd[2 * i + 1], elements,
                            static_cast<k::Gravity>(gravity), static_cast<k::Mode>(mode));
    }
}

/// The one-lane model: set i at times t[j], into r, v of shape (n, nt, 3); `carry` keeps the
/// resonance integrator from one time to the next.
void sgp4_scalar(std::int64_t n, const k::Record* recs, std::int64_t nt, const double* t, double* r,
                 double* v, std::int32_t* status, int carry) {
    for (std::int64_t i = 0; i < n; ++i) {
        k::ResonanceState<double> state{};
        for (std::int64_t j = 0; j < nt; ++j) {
            const std::int64_t o = i * nt + j;
            status[o] = k::propagate(recs[i], t[j], r + 3 * o, v + 3 * o, carry ? &state : nullptr);
        }
    }
}

/// propagate_grid_times over sets [s0, s1) and times [t0, t1) with the given output strides.
void sgp4_grid_times(const k::Record* recs, std::int64_t s0, std::int64_t s1, const double* t,
                     std::int64_t t0, std::int64_t t1, double* r, double* v, std::uint8_t* status,
                     std::int64_t set_stride, std::int64_t time_stride, std::int64_t st_set,
                     std::int64_t st_time, double scale, int isa) {
    const k::Output out{r, v, status, set_stride, time_stride, st_set, st_time, scale};
    k::propagate_grid_times(recs, static_cast<std::size_t>(s0), static_cast<std::size_t>(s1), t,
                            static_cast<std::size_t>(t0), static_cast<std::size_t>(t1), out,
                            static_cast<k::Isa>(isa));
}

/// propagate_grid_sets over every family block of the n sets, in chunks of `chunk` lanes,
/// into r, v of shape (n, nt, 3).
void sgp4_grid_sets(std::int64_t n, const k::Record* recs, std::int64_t nt, const double* t,
                    double* r, double* v, std::uint8_t* status, std::int64_t chunk, int isa) {
    const Blocks b(recs, n);
    const k::Output out{r, v, status, 3 * nt, 3, nt, 1, 1.0};
    for (const k::SoaBlock& block : b.blocks)
        for (std::size_t p = 0; p < block.count; p += static_cast<std::size_t>(chunk))
            k::propagate_grid_sets(block, p,
                                   std::min(block.count, p + static_cast<std::size_t>(chunk)), t, 0,
                                   static_cast<std::size_t>(nt), out, static_cast<k::Isa>(isa));
}

/// propagate_paired: set i at t[i], into r, v of shape (n, 3).
void sgp4_paired(std::int64_t n, const k::Record* recs, const double* t, double* r, double* v,
                 std::uint8_t* status, int isa) {
    const Blocks b(recs, n);
    const k::Output out{r, v, status, 3, 0, 1, 0, 1.0};
    for (const k::SoaBlock& block : b.blocks)
        k::propagate_paired(block, 0, block.count, t, out, static_cast<k::Isa>(isa));
}

/// Fields of a record the tests look at: family, simple-drag flag, status.
void sgp4_record_info(const k::Record* rec, std::int32_t* out) {
    out[0] = static_cast<std::int32_t>(k::family(*rec));
    out[1] = rec->simple;
    out[2] = rec->status;
}

}  // extern "C"
