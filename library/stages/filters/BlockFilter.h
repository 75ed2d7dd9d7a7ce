#pragma once

#include <cstdint>

namespace sigkit {

// A filter run over blocks of complex samples held as two arrays (I and Q), one output per input.
// Plain objects behind it design their taps when made or started and take no memory per block.
class BlockFilter
{
public:
    virtual ~BlockFilter() = default;

    // Filters n samples: yI[k], yQ[k] are the outputs for I[k], Q[k]. The outputs do not alias
    // the inputs.
    virtual void StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ) = 0;
    // Samples by which an output lags its input (the group delay of a linear-phase filter).
    virtual int32_t Delay() const = 0;
    // Clears the history: the next outputs are those of a filter that saw only zeros before.
    virtual void Reset() = 0;
};

} // namespace sigkit
