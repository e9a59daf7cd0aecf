// SGP4/SDP4 over many samples: sets laid out as structure of arrays, propagation of grids and
// pairs of (set, time) in vector lanes, dispatched once per process to the widest vectors the
// CPU has (AVX-512, AVX2, or SSE2, the x86-64 baseline; elsewhere the generic 2-lane code).
//
// Every entry point takes a range of its work so that callers can split it over threads and
// look at signals between chunks; nothing here allocates, blocks or keeps state between calls.
// The vector code uses the same operations in the same order at every width, no fused
// multiply-add, and makes every choice between a fast and a fallback path per lane: a sample's
// bits depend only on its set and time, not on the instruction set, the layout, the chunk or
// the other samples it shares a vector with. (They differ from the one-lane model's, which
// uses the C library, by far less than 1 mm and 1 um/s.)
#pragma once

#include <cstddef>
#include <cstdint>

#include "sgp4_maths.hpp"
#include "sgp4_model.hpp"
#include "sgp4_record.hpp"

namespace orbivex::kern::sgp4 {

/// Sets that can share vector lanes: the near-Earth ones, and the deep-space ones by resonance.
enum class Family : std::uint8_t { near = 0, deep = 1, deep_synchronous = 2, deep_half_day = 3 };

inline Family family(const Record& rec) noexcept {
    if (!rec.deep_space) return Family::near;
    return static_cast<Family>(1 + rec.resonance);
}

/// Widest lane count any dispatch target uses.
inline constexpr std::size_t max_lanes = 8;

/// Where results go: sample (i, j) of set row i and time column j has its position at
/// r[i * set_stride + j * time_stride + k] (k = 0, 1, 2), its velocity at the same place in v
/// and its status at status[i * status_set_stride + j * status_time_stride]. Strides in
/// elements. Lengths come out in km times `scale` (1000 for metres), velocities in km/s times
/// `scale`; failed samples have NaN in r and v.
struct Output {
    double* r;
    double* v;
    std::uint8_t* status;
    std::ptrdiff_t set_stride, time_stride;
    std::ptrdiff_t status_set_stride, status_time_stride;
    double scale = 1.0;
};

/// Sets of one family as structure of arrays over caller-owned memory: field f of lane p at
/// data[f * stride + p], the near-Earth fields first, then (deep families) the deep-space ones.
/// Lane p is the record index[p]; lanes from count to stride repeat the last set, so a vector
/// load may start at any p < count.
struct SoaBlock {
    Family family;
    std::size_t count;
    std::size_t stride;
    double* data;
    const std::int64_t* index;
    bool drag;  ///< some set uses the full drag expressions
};

/// Lane stride of a block of `count` sets: room for a full vector from every lane.
inline std::size_t soa_stride(std::size_t count) noexcept {
    return (count + max_lanes - 1 + max_lanes - 1) / max_lanes * max_lanes;
}

/// Doubles of storage a block of `count` sets of family `f` needs.
inline std::size_t soa_doubles(Family f, std::size_t count) noexcept {
    const std::size_t fields =
        near_field_count + (f == Family::near ? 0 : static_cast<std::size_t>(deep_field_count));
    return fields * soa_stride(count);
}

/// Lays out records[index[p]] for p < count into `data` (soa_doubles(f, count) doubles) and
/// returns the block. All of them must be of family `f`.
inline SoaBlock soa_fill(Family f, const Record* records, const std::int64_t* index,
                         std::size_t count, double* data) noexcept {
    SoaBlock b{f, count, soa_stride(count), data, index, false};
    for (std::size_t p = 0; p < b.stride && count > 0; ++p) {
        const Record& rec = records[index[p < count ? p : count - 1]];
        if (p < count && !rec.simple) b.drag = true;
        std::size_t k = 0;
#define ORBIVEX_SGP4_STORE_NEAR(name) data[k++ * b.stride + p] = rec.near.name;
#define ORBIVEX_SGP4_STORE_DEEP(name) data[k++ * b.stride + p] = rec.deep.name;
        ORBIVEX_SGP4_NEAR_FIELDS(ORBIVEX_SGP4_STORE_NEAR)
        if (f != Family::near) {
            ORBIVEX_SGP4_DEEP_FIELDS(ORBIVEX_SGP4_STORE_DEEP)
        }
#undef ORBIVEX_SGP4_STORE_NEAR
#undef ORBIVEX_SGP4_STORE_DEEP
    }
    return b;
}

/// Instruction sets the dispatcher chooses from; `automatic` takes the best the CPU runs.
enum class Isa : std::uint8_t { automatic = 0, generic = 1, avx2 = 2, avx512 = 3 };

namespace batch {

/// One call's work. kind times: sets [begin, end) of `records`, each at times [t_begin, t_end)
/// in lanes of consecutive times. kind sets: lanes [begin, end) of `block`, lanes of sets, at
/// each of those times. kind paired: lanes [begin, end) of `block`, each at its own time
/// t[index[p]], written at row index[p], column 0.
struct Job {
    enum Kind : std::uint8_t { times, sets, paired } kind;
    const Record* records;
    const SoaBlock* block;
    std::size_t begin, end;
    const double* t;
    std::size_t t_begin, t_end;
    Output out;
};

template <class V>
inline void splat_terms(const Record& rec, double scale, NearTerms<V>& c,
                        DeepTerms<V>& d) noexcept {
    using lanes::splat;
#define ORBIVEX_SGP4_SPLAT_NEAR(name) c.name = splat<V>(rec.near.name);
#define ORBIVEX_SGP4_SPLAT_DEEP(name) d.name = splat<V>(rec.deep.name);
    ORBIVEX_SGP4_NEAR_FIELDS(ORBIVEX_SGP4_SPLAT_NEAR)
    if (rec.deep_space) {
        ORBIVEX_SGP4_DEEP_FIELDS(ORBIVEX_SGP4_SPLAT_DEEP)
    }
#undef ORBIVEX_SGP4_SPLAT_NEAR
#undef ORBIVEX_SGP4_SPLAT_DEEP
    c.rscale = c.rscale * scale;
    c.vscale = c.vscale * scale;
}

template <class V>
inline void load_terms(const SoaBlock& b, std::size_t p, double scale, NearTerms<V>& c,
                       DeepTerms<V>& d) noexcept {
    using lanes::load;
    std::size_t k = 0;
    const double* base = b.data + p;
#define ORBIVEX_SGP4_LOAD_NEAR(name) c.name = load<V>(base + k++ * b.stride);
#define ORBIVEX_SGP4_LOAD_DEEP(name) d.name = load<V>(base + k++ * b.stride);
    ORBIVEX_SGP4_NEAR_FIELDS(ORBIVEX_SGP4_LOAD_NEAR)
    if (b.family != Family::near) {
        ORBIVEX_SGP4_DEEP_FIELDS(ORBIVEX_SGP4_LOAD_DEEP)
    }
#undef ORBIVEX_SGP4_LOAD_NEAR
#undef ORBIVEX_SGP4_LOAD_DEEP
    c.rscale = c.rscale * scale;
    c.vscale = c.vscale * scale;
}

template <class V>
inline void store(const Output& out, std::size_t row, std::size_t col, int l, const V (&r)[3],
                  const V (&v)[3], const V& status) noexcept {
    using lanes::lane;
    const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(row) * out.set_stride +
                             static_cast<std::ptrdiff_t>(col) * out.time_stride;
    for (int k = 0; k < 3; ++k) {
        out.r[o + k] = lane(r[k], l);
        out.v[o + k] = lane(v[k], l);
    }
    out.status[static_cast<std::ptrdiff_t>(row) * out.status_set_stride +
               static_cast<std::ptrdiff_t>(col) * out.status_time_stride] =
        static_cast<std::uint8_t>(lane(status, l));
}

/// Runs a job in vectors of W lanes. Each work item ends in the one call of propagate_lanes
/// per branch below, so a dispatch target holds two copies of the model, not one per kind.
template <int W>
inline void run(const Job& job) noexcept {
    using V = typename lanes::Vec<W>::type;
    NearTerms<V> c;
    DeepTerms<V> d{};
    ResonanceState<V> st{};
    const double scale = job.out.scale;
    bool deep_space = false, drag = true;
    int resonance = 0;
    if (job.kind != Job::times) {
        const SoaBlock& b = *job.block;
        deep_space = b.family != Family::near;
        resonance = deep_space ? static_cast<int>(b.family) - 1 : 0;
        drag = b.drag;
    }

    // times: item = (set, block of W times); sets: item = (W lanes, time); paired: W lanes
    std::size_t outer = job.begin;
    std::size_t inner = job.t_begin;
    const bool by_time = job.kind == Job::times;
    bool fresh = true;
    while (outer < job.end) {
        if (job.kind != Job::paired && job.t_begin >= job.t_end) break;
        V t;
        int n;
        if (by_time) {
            const Record& rec = job.records[outer];
            if (fresh) {
                splat_terms(rec, scale, c, d);
                deep_space = rec.deep_space;
                resonance = rec.resonance;
                drag = !rec.simple;
                st = ResonanceState<V>{};
                fresh = false;
            }
            n = static_cast<int>(job.t_end - inner < static_cast<std::size_t>(W) ? job.t_end - inner
                                                                                 : W);
            for (int l = 0; l < W; ++l)
                t[l] = job.t[inner + static_cast<std::size_t>(l < n ? l : n - 1)];
        } else {
            const SoaBlock& b = *job.block;
            n = static_cast<int>(job.end - outer < static_cast<std::size_t>(W) ? job.end - outer
                                                                               : W);
            if (fresh) {
                load_terms(b, outer, scale, c, d);
                st = ResonanceState<V>{};
                fresh = false;
            }
            if (job.kind == Job::paired) {
                for (int l = 0; l < W; ++l)
                    t[l] = job.t[b.index[outer + static_cast<std::size_t>(l < n ? l : n - 1)]];
            } else {
                t = lanes::splat<V>(job.t[inner]);
            }
        }

        V r[3], v[3];
        const V status = deep_space ? propagate_lanes<V, true>(c, d, resonance, false, t, st, r, v)
                                    : propagate_lanes<V, false>(c, d, 0, drag, t, st, r, v);

        if (by_time) {
            for (int l = 0; l < n; ++l)
                store(job.out, outer, inner + static_cast<std::size_t>(l), l, r, v, status);
            inner += static_cast<std::size_t>(n);
            if (inner >= job.t_end) {
                inner = job.t_begin;
                ++outer;
                fresh = true;
            }
        } else {
            const SoaBlock& b = *job.block;
            const bool paired = job.kind == Job::paired;
            for (int l = 0; l < n; ++l)
                store(job.out,
                      static_cast<std::size_t>(b.index[outer + static_cast<std::size_t>(l)]),
                      paired ? 0 : inner, l, r, v, status);
            if (!paired) ++inner;
            if (paired || inner >= job.t_end) {
                inner = job.t_begin;
                outer += static_cast<std::size_t>(n);
                fresh = true;
            }
        }
    }
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ORBIVEX_SGP4_X86 1
[[gnu::target("avx512f"), gnu::flatten]] inline void run_avx512(const Job& job) noexcept {
    run<8>(job);
}
[[gnu::target("avx2"), gnu::flatten]] inline void run_avx2(const Job& job) noexcept { run<4>(job); }
#endif
[[gnu::flatten]] inline void run_generic(const Job& job) noexcept { run<2>(job); }

inline Isa detect() noexcept {
#ifdef ORBIVEX_SGP4_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return Isa::avx512;
    if (__builtin_cpu_supports("avx2")) return Isa::avx2;
#endif
    return Isa::generic;
}

inline void dispatch(const Job& job, Isa isa) noexcept {
    static const Isa best = detect();
    if (isa == Isa::automatic || isa > best) isa = best;
#ifdef ORBIVEX_SGP4_X86
    if (isa == Isa::avx512) return run_avx512(job);
    if (isa == Isa::avx2) return run_avx2(job);
#endif
    run_generic(job);
}

}  // namespace batch

/// The instruction set `automatic` dispatches to on this CPU.
inline Isa best_isa() noexcept {
    static const Isa best = batch::detect();
    return best;
}

/// Lanes per vector of the chosen instruction set: grids with fewer times than this are better
/// run over sets (propagate_grid_sets) than over times.
inline std::size_t lanes_of(Isa isa = Isa::automatic) noexcept {
    if (isa == Isa::automatic || isa > best_isa()) isa = best_isa();
    return isa == Isa::avx512 ? 8 : isa == Isa::avx2 ? 4 : 2;
}

/// Sets [s_begin, s_end) of `records` at times t[t_begin..t_end) (minutes since each set's
/// epoch), lanes over consecutive times: set i, time j go to row i, column j of `out`.
inline void propagate_grid_times(const Record* records, std::size_t s_begin, std::size_t s_end,
                                 const double* t, std::size_t t_begin, std::size_t t_end,
                                 const Output& out, Isa isa = Isa::automatic) noexcept {
    batch::Job job{batch::Job::times, records, nullptr, s_begin, s_end, t, t_begin, t_end, out};
    batch::dispatch(job, isa);
}

/// Lanes [p_begin, p_end) of `block` at times t[t_begin..t_end), lanes over sets: lane p, time
/// j go to row block.index[p], column j of `out`.
inline void propagate_grid_sets(const SoaBlock& block, std::size_t p_begin, std::size_t p_end,
                                const double* t, std::size_t t_begin, std::size_t t_end,
                                const Output& out, Isa isa = Isa::automatic) noexcept {
    batch::Job job{batch::Job::sets, nullptr, &block, p_begin, p_end, t, t_begin, t_end, out};
    batch::dispatch(job, isa);
}

/// Lanes [p_begin, p_end) of `block`, each at its own time t[block.index[p]], written at row
/// block.index[p] (column 0) of `out`.
inline void propagate_paired(const SoaBlock& block, std::size_t p_begin, std::size_t p_end,
                             const double* t, const Output& out,
                             Isa isa = Isa::automatic) noexcept {
    batch::Job job{batch::Job::paired, nullptr, &block, p_begin, p_end, t, 0, 0, out};
    batch::dispatch(job, isa);
}

}  // namespace orbivex::kern::sgp4
