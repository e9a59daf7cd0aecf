// Two-line element text read into rows on several threads: the text cut into chunks at points
// where no set is open, the sets of each chunk validated and read, the lines that belong to no
// set found, and line numbers made absolute once every chunk has counted its lines. No Python
// here: the glue runs it with the interpreter lock released.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "kernels/tle_format.hpp"
#include "kernels/tle_split.hpp"

namespace orbivex::catalog {

namespace tle = kern::tle;

/// Name size of a set without a name (two-line text).
inline constexpr std::uint32_t no_name = 0xFFFF'FFFF;

/// A valid set as found: its sort keys and where its text lies in the input. Its values are
/// read again from the text once the sets are in catalogue order, straight into the columns:
/// reading twice costs less than writing every value to memory and moving it again.
struct SetRef {
    std::int64_t satno, epoch_ns;
    std::int64_t source_line;    ///< where the set starts, numbered within its chunk
    const char* line1;           ///< 69 columns: already the normalised line, as a valid one is
    const char* name;            ///< name_size bytes, or nothing when name_size is no_name
    std::uint32_t line2_offset;  ///< from line 1 to line 2
    std::uint32_t name_size;
    std::uint32_t name_hash;  ///< of the name's bytes, for the table that shares name objects
    std::uint32_t chunk;
};

/// Memory for many rows, zeroed by the system as it is first touched, in huge pages where the
/// system gives them: one fault per 2 MiB instead of per 4 KiB. Throws std::bad_alloc.
class RowMemory {
public:
    RowMemory() = default;
    explicit RowMemory(std::size_t bytes);
    RowMemory(const RowMemory&) = delete;
    RowMemory& operator=(const RowMemory&) = delete;
    RowMemory(RowMemory&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    RowMemory& operator=(RowMemory&& o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~RowMemory();
    template <class T>
    T* as() const noexcept {
        return static_cast<T*>(p_);
    }

private:
    void* p_ = nullptr;
};

/// The valid sets of one chunk, in room set aside for as many as its text can hold.
struct SetList {
    SetRef* data = nullptr;
    std::size_t count = 0, capacity = 0;
    std::size_t size() const noexcept { return count; }
    const SetRef* begin() const noexcept { return data; }
    const SetRef* end() const noexcept { return data + count; }
};

/// The six derived elements from mnm, ecc and mea in SI units, in TLE's order of steps, with
/// the same kernels: sma, orp, eca, tra, pge, apg.
void derive(double mnm, double ecc, double mea, double gm, double re, double* out) noexcept;

/// A refused set, or a line that belongs to no set (reason none).
struct Rejection {
    tle::Fault fault;
    std::int64_t line;  ///< the line at fault, numbered within its chunk
    std::uint32_t chunk;
};

/// One piece of the text, cut where no set is open.
struct Chunk {
    std::size_t begin = 0, end = 0;
    std::int64_t first_line = 1;  ///< number the chunk's splitter gives its first line
    std::int64_t lines = -1;      ///< line ends in the chunk; -1 until it has been read whole
    SetList sets;
    std::vector<Rejection> rejected;
};

/// FNV-1a of a name's bytes.
inline std::uint32_t name_hash(const char* p, const std::size_t n) noexcept {
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 16777619u;
    return h;
}

/// The read of one buffer. step() is safe to call from several threads at once.
class TextRead {
public:
    /// `stop_at_first`: only the first refusal in text order matters (errors="raise"), so a
    /// chunk stops at its first and chunks after the earliest faulty one are not read.
    TextRead(const char* data, std::size_t size, bool checksums, const tle::Units& units,
             bool stop_at_first, std::size_t threads);

    /// Reads the next chunk; false when none is left or the read was cancelled.
    bool step() noexcept;
    /// Makes every thread stop after its current chunk.
    void cancel() noexcept { cancel_.store(true, std::memory_order_relaxed); }
    /// The values of a set found valid, read again without its checks; false only if the text
    /// changed meanwhile.
    bool values(const SetRef& set, tle::Fields& out) const noexcept {
        return tle::reread(set.line1, set.line1 + set.line2_offset, out, units_);
    }
    /// A chunk could not allocate its rows.
    bool out_of_memory() const noexcept { return oom_.load(std::memory_order_relaxed); }

    /// After every step has returned: the number of the first line of each chunk, absolute,
    /// for the chunks read whole before the first one that was not (all of them, unless a read
    /// stopped at a refusal).
    void number_lines() noexcept;
    /// Absolute line of a number counted within `chunk`.
    std::int64_t absolute(std::uint32_t chunk, std::int64_t line) const noexcept {
        return line + offset_[chunk];
    }

    /// The earliest refusal in text order: its chunk and index there; false when none.
    bool first_rejection(std::size_t& chunk, std::size_t& index) const noexcept;

    std::vector<Chunk> chunks;
    /// Gives back the room of the chunks' sets (after they have been sorted).
    void release_sets() noexcept {
        for (Chunk& c : chunks) c.sets = {};
        set_memory_ = {};
    }

private:
    void read_chunk(std::size_t k);
    /// Lines of chunk `k` from `p` (numbered `line`) up to the line numbered `until` or the
    /// chunk's end: each that is not blank belongs to no set. Returns false when the read
    /// stops at one; `p` and `line` are left after the lines walked.
    bool strays(std::size_t k, const char*& p, std::int64_t& line, std::int64_t until);
    void refuse(std::size_t k, const tle::Fault& f, std::int64_t line);

    const char* data_;
    std::size_t size_;
    bool checksums_, stop_at_first_;
    tle::Units units_;
    std::vector<std::int64_t> offset_;
    RowMemory set_memory_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> first_bad_;
    std::atomic<bool> cancel_{false}, oom_{false};
};

}  // namespace orbivex::catalog
