#pragma once

#include "dsp/filters/FftFilter.h"
#include "stages/filters/BlockFilter.h"

#include <cstdint>

namespace sigkit {

// An FftFilter for streams cut into blocks by someone else: the filter only ever sees whole hops,
// gathered from the blocks, so its outputs are the same bits however the input is cut. The price
// is a fixed delay of Hop() - 1 samples beyond the filter's own: an output comes out Hop() - 1
// inputs after the direct form would give it (the first Hop() - 1 outputs are zeros, the filter
// of the silence before the stream), which is the longest an output can wait for its hop to end.
// Delay() counts both, so a stage that drops Delay() start-up outputs hands out the direct
// form's outputs (within the fast filter's rounding), each as many inputs later.
//
// All memory is taken when the filter is made; a step takes none.
class StreamFftFilter final : public BlockFilter
{
public:
    // Real taps, as FftFilter takes them (without a block size: hops of the best length).
    StreamFftFilter(const float* taps, int32_t count);

    void StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ) override;
    // The filter's (count - 1) / 2 and the Hop() - 1 of the gathering.
    int32_t Delay() const override;
    void Reset() override;

    bool IsValid() const { return filter.IsValid(); }
    int32_t Hop() const { return hop; }
    int32_t TransformSize() const { return filter.TransformSize(); }

private:
    // Outputs in order into yI, yQ: the start-up zeros first, then the last hop's.
    void Give(float* yI, float* yQ, int32_t count);

    FftFilter filter;
    int32_t hop = 0;
    int32_t fill = 0;   // samples of the current hop written into the filter
    int32_t zeros = 0;  // start-up zeros not yet handed out
    int32_t readAt = 0; // the next output of the last hop transformed
};

} // namespace sigkit
