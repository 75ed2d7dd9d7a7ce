#pragma once

#include "stages/filters/SampleHistory.h"

#include <cstdint>
#include <vector>

namespace sigkit {

// The history of a complex filter: the I and Q parts of the samples kept apart (so that every
// load of a sum serves one part), kHistoryCapacity entries each, newest first from the write
// position w as SampleHistory.h lays it out, and the scratch for windows that straddle the end.
class ComplexHistory
{
public:
    ComplexHistory();
    ~ComplexHistory();
    ComplexHistory(const ComplexHistory&) = delete;
    ComplexHistory& operator=(const ComplexHistory&) = delete;

    // Puts w at 0 and zeros the first `entries`: those the first windows of up to that length
    // reach before new samples do (w moves down from the top); every other entry is overwritten
    // before a window reaches it.
    void Clear(int32_t entries);
    // The `length` entries from `from` on as one contiguous run.
    const float* WindowI(int32_t from, int32_t length)
    {
        return HistoryWindow(I.data(), from, length, scratchI);
    }
    const float* WindowQ(int32_t from, int32_t length)
    {
        return HistoryWindow(Q.data(), from, length, scratchQ);
    }

    ZeroedFloats I;
    ZeroedFloats Q;
    int32_t w = 0;

private:
    float* scratch = nullptr; // kHistoryCapacity (I, Q) pairs, aligned: I in the first half
    float* scratchI = nullptr;
    float* scratchQ = nullptr;
};

} // namespace sigkit
