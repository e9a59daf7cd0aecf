// Test-only C entry points over the element-set kernels, loaded by the tests with ctypes; also
// the raw C++ loop that times reading a whole buffer.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

#include "kernels/coe.hpp"
#include "kernels/misc.hpp"
#include "kernels/tle_format.hpp"
#include "kernels/tle_split.hpp"
#include "kernels/tle_write.hpp"

namespace {

/// CPU time of the calling thread in ns: other processes on a busy machine do not count.
double cpu_now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

namespace tle = orbivex::kern::tle;
namespace coe = orbivex::kern::coe;

/// The angle function TLE's kernels are bound to; it never fails.
struct Env {
    double atan2(double y, double x) const noexcept {
        return orbivex::kern::atan2_asymmetric(y, x);
    }
    bool failed() const noexcept { return false; }
};

/// Derived elements in TLE's order of steps: sma, orp, eca, tra, pge, apg.
void derive(const tle::Fields& f, double gm, double re, double* out) {
    out[0] = coe::sma_from_mnm(f.mnm, gm);
    out[1] = coe::orp_from_sma(out[0], gm);
    out[2] = coe::eca_from_mea(f.mea, f.ecc);
    out[3] = coe::tra_from_eca(out[2], f.ecc, Env{});
    out[4] = coe::pge_from_sma_ecc(out[0], f.ecc, re);
    out[5] = coe::apg_from_sma_ecc(out[0], f.ecc, re);
}

}  // namespace

extern "C" {

std::size_t cat_sizeof_fields() { return sizeof(tle::Fields); }
std::size_t cat_sizeof_fault() { return sizeof(tle::Fault); }
int cat_reason_count() { return tle::reason_count; }
const char* cat_reason_name(int r) { return tle::reasons[r].name; }

int cat_checksum(const char* line, std::size_t n) { return tle::checksum(line, n); }

int cat_alpha5_decode(const char* field, std::int64_t* value) {
    return tle::alpha5_decode(field, *value);
}

int cat_alpha5_encode(std::int64_t n, char* out) { return tle::alpha5_encode(n, out) ? 1 : 0; }

void cat_parse(const char* l1, std::size_t n1, const char* l2, std::size_t n2, int checksums,
               tle::Fields* out, tle::Fault* fault) {
    *fault = tle::parse(l1, n1, l2, n2, *out, checksums != 0);
}

/// A set read again without its form checks, as the catalogue's gathering threads read it.
int cat_reread(const char* l1, const char* l2, tle::Fields* out) {
    return tle::reread(l1, l2, *out) ? 1 : 0;
}

/// The step-by-step checks alone, without the whole-line path.
void cat_parse_exact(const char* l1, std::size_t n1, const char* l2, std::size_t n2, int checksums,
                     tle::Fields* out, tle::Fault* fault) {
    *fault = tle::detail::parse_exact(l1, n1, l2, n2, *out, checksums != 0, tle::si_units);
}

std::size_t cat_fault_text(const tle::Fault* f, char* out, std::size_t size) {
    return tle::fault_text(*f, out, size);
}

int cat_format(const tle::Fields* f, char* l1, char* l2) {
    char a[orbivex::kern::tle_line_size], b[orbivex::kern::tle_line_size];
    const tle::Reason r = tle::format(*f, a, b);
    std::memcpy(l1, a, sizeof a);
    std::memcpy(l2, b, sizeof b);
    return static_cast<int>(r);
}

std::size_t cat_normalise(const char* src, std::size_t n, char* out) {
    char line[orbivex::kern::tle_line_size];
    const std::size_t len = tle::normalise(src, n, line);
    std::memcpy(out, line, sizeof line);
    return len;
}

/// Nine numbers per set of [begin, size) whose first line has number `first_line`: offset, size
/// and number of the name, line 1 and line 2 (offset -1 when absent; offsets from `data`).
/// Returns the number of sets, of which at most `cap` are written.
std::size_t cat_split_from(const char* data, std::size_t size, std::size_t begin,
                           std::int64_t first_line, std::int64_t* out, std::size_t cap) {
    tle::Splitter split(data + begin, size - begin, first_line);
    tle::SetText s;
    std::size_t count = 0;
    while (split.next(s)) {
        if (count < cap) {
            std::int64_t* o = out + 9 * count;
            for (const tle::TextLine* l : {&s.name, &s.line1, &s.line2}) {
                o[0] = l->present() ? l->text - data : -1;
                o[1] = static_cast<std::int64_t>(l->size);
                o[2] = l->number;
                o += 3;
            }
        }
        ++count;
    }
    return count;
}

std::size_t cat_split(const char* data, std::size_t size, std::int64_t* out, std::size_t cap) {
    return cat_split_from(data, size, 0, 1, out, cap);
}

std::size_t cat_split_point(const char* data, std::size_t size, std::size_t from) {
    return tle::split_point(data, size, from);
}

std::int64_t cat_count_newlines(const char* data, std::size_t size) {
    return tle::count_newlines(data, size);
}

/// Splits and parses a whole buffer: per set its fields, its fault, the line where it starts and
/// the line number of its faulty line (0 when valid). Returns the number of sets.
std::size_t cat_read(const char* data, std::size_t size, int checksums, tle::Fields* rows,
                     tle::Fault* faults, std::int64_t* first_lines, std::int64_t* fault_lines,
                     std::size_t cap) {
    tle::Splitter split(data, size);
    tle::SetText s;
    std::size_t count = 0;
    tle::Fields row{};
    tle::Fault fault{};
    while (split.next(s)) {
        fault =
            tle::parse(s.line1.text, s.line1.size, s.line2.text, s.line2.size, row, checksums != 0);
        if (count < cap) {
            rows[count] = row;
            faults[count] = fault;
            first_lines[count] = s.first_line();
            fault_lines[count] = fault.ok() ? 0 : fault.line == 1 ? s.line1.number : s.line2.number;
        }
        ++count;
    }
    return count;
}

/// TLE's own reading of line 2 (kern::tle_parse_line2): inc, raa, ecc, arp, mea in degrees or as
/// written, mean motion in rev/day.
void cat_tle_line2(const char* line, std::size_t n, double* out) {
    char stored[orbivex::kern::tle_line_size];
    orbivex::kern::tle_store_line(stored, line, n);
    const orbivex::kern::TleLine2Fields f = orbivex::kern::tle_parse_line2(stored);
    const double values[6] = {f.inc_deg, f.raa_deg, f.ecc, f.arp_deg, f.mea_deg, f.mnm_rev_per_day};
    std::memcpy(out, values, sizeof values);
}

void cat_derive(const tle::Fields* f, double gm, double re, double* out) {
    derive(*f, gm, re, out);
}

/// Least ns per set over `repeats` runs of reading the whole buffer into preallocated rows:
/// stage 0 splits only, 1 also validates and reads the fields, 2 also derives the six elements.
double cat_time_read(const char* data, std::size_t size, int stage, int repeats,
                     std::int64_t* sets) {
    std::size_t n = 0;
    {
        tle::Splitter split(data, size);
        tle::SetText s;
        while (split.next(s)) ++n;
    }
    std::vector<tle::Fields> rows(n);
    std::vector<tle::Fault> faults(n);
    std::vector<double> derived(6 * n);
    double best = 1e300;
    std::int64_t bad = 0;
    for (int r = 0; r < repeats; ++r) {
        const auto t0 = cpu_now();
        tle::Splitter split(data, size);
        tle::SetText s;
        std::size_t i = 0;
        std::int64_t lines = 0;
        bad = 0;
        while (split.next(s)) {
            if (stage == 0) {
                lines += s.line1.number;
            } else {
                faults[i] = tle::parse(s.line1.text, s.line1.size, s.line2.text, s.line2.size,
                                       rows[i], true);
                if (!faults[i].ok()) {
                    ++bad;
                } else if (stage == 2) {
                    derive(rows[i], 3.986004418e14, 6378137.0, &derived[6 * i]);
                }
            }
            ++i;
        }
        const auto t1 = cpu_now();
        const double ns = (t1 - t0);
        if (ns < best) best = ns;
        if (lines == -1) best = 0;  // keeps the split-only loop from being optimised away
    }
    sets[0] = static_cast<std::int64_t>(n);
    sets[1] = bad;
    return best / static_cast<double>(n ? n : 1);
}

}  // extern "C"
