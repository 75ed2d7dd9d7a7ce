#pragma once

#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

// The circular history every filter keeps between blocks. It holds kHistoryCapacity entries
// (floats, or (I, Q) float pairs for complex data), newest first: the newest sample sits at the
// write position w and the sample j steps older at (w + j) mod kHistoryCapacity. After each new
// sample w moves down by one, from 0 to kHistoryCapacity - 1. A filter of L taps sums
// taps[j] · history[(w + j) mod capacity]: tap 0 multiplies the newest sample.
namespace sigkit {

inline constexpr int32_t kHistoryCapacity = 102400; // entries; no filter is longer

// Samples (or I/Q pairs) handled together: a stage's part of a block, and the round of samples a
// filter stores and sums at once. Outputs never depend on it (every path gives the same bits
// whatever the split); it sizes the working arrays.
inline constexpr int32_t kPart = 2048;

// A fixed number of floats, all 0 at first, whose pages cost nothing until written
// (kernels::AllocateZeroed): a history of kHistoryCapacity entries that a short filter reaches
// only the start of costs only that start (a vector would write every entry at once).
class ZeroedFloats
{
public:
    explicit ZeroedFloats(std::size_t count)
        : values(static_cast<float*>(
              kernels::AllocateZeroed((count > 0 ? count : 1) * sizeof(float)))),
          count(count)
    {
        if (values == nullptr)
            throw std::bad_alloc();
    }
    ~ZeroedFloats() { kernels::FreeZeroed(values); }
    ZeroedFloats(const ZeroedFloats&) = delete;
    ZeroedFloats& operator=(const ZeroedFloats&) = delete;

    float* data() { return values; }
    const float* data() const { return values; }
    float* begin() { return values; }
    float* end() { return values + count; }
    std::size_t size() const { return count; }
    float& operator[](std::size_t i) { return values[i]; }
    float operator[](std::size_t i) const { return values[i]; }
    // Fresh zeroed storage of `larger` floats in place of this one, whose values are dropped.
    // False, nothing changed, when it cannot be had.
    bool Replace(std::size_t larger)
    {
        auto* fresh = static_cast<float*>(kernels::AllocateZeroed(larger * sizeof(float)));
        if (fresh == nullptr)
            return false;
        kernels::FreeZeroed(values);
        values = fresh;
        count = larger;
        return true;
    }

private:
    float* values;
    std::size_t count;
};

// The write position after w, one step down, wrapping from 0 to the last entry.
inline int32_t NextWritePosition(int32_t w)
{
    return w == 0 ? kHistoryCapacity - 1 : w - 1;
}

// The `length` newest entries starting at w as one contiguous run: the history itself, or, when
// the run straddles the end, a copy in order in `scratch` (at least `length` entries).
// `channels` floats make one entry (1 real, 2 for (I, Q) pairs). 1 <= length <= capacity.
inline const float* HistoryWindow(const float* history, int32_t w, int32_t length, float* scratch,
                                  int32_t channels = 1)
{
    if (w + length <= kHistoryCapacity)
        return history + static_cast<std::size_t>(w) * channels;
    const int32_t first = kHistoryCapacity - w; // entries up to the end, then from the start
    std::memcpy(scratch, history + static_cast<std::size_t>(w) * channels,
                sizeof(float) * static_cast<std::size_t>(first) * channels);
    std::memcpy(scratch + static_cast<std::size_t>(first) * channels, history,
                sizeof(float) * static_cast<std::size_t>(length - first) * channels);
    return scratch;
}

} // namespace sigkit
