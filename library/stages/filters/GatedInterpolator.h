#pragma once

#include "stages/filters/ComplexHistory.h"
#include "stages/filters/FilterDesign.h"
#include "stages/filters/PolyphaseBank.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>

namespace sigkit {

// Interpolation by zero insertion: the resampler's prototype low-pass behind a rate gate, which
// stores and filters while its accumulator is below R = rateIn / rateOut, otherwise refuses the
// input (not stored) and lowers the accumulator by R. With R = 2 the gate gives 1, 1, 0, 1, 1, 0,
// ... to the input, then zeros until refused: two outputs per input.
class GatedInterpolator
{
public:
    GatedInterpolator();

    // Designs the prototype (cut-off rateOut / rateIn) and clears the history and the
    // accumulator. Result: N, or 0 when N is not an odd length that fits the history (then every
    // step gives no output).
    int32_t DesignBank(float rateIn, float rateOut, float beta, FilterWindow window, int32_t N);

    // One call of the gate. Result: 0 (refused) or 1 (stored; the prototype's output). Rates
    // whose ratio the resampler does not take give 0.
    int32_t GatedFilterStep(float I, float Q, float rateIn, float rateOut, float& outI,
                            float& outQ);
    // n inputs through the gate as interpolation by zero insertion feeds it: each input, then
    // zeros (0, 0) until the gate refuses one; the outputs of every stored sample, in order, with
    // GatedFilterStep's values. Q may be null (0), outQ too (no Q sums). The outputs must have
    // room for MaxGatedOutputs(n, rateIn, rateOut). Result: the number of outputs.
    int32_t GatedBlock(const float* I, const float* Q, int32_t n, float rateIn, float rateOut,
                       float* outI, float* outQ);
    static std::size_t MaxGatedOutputs(std::size_t n, float rateIn, float rateOut);

    int32_t TapCount() const { return N; }

private:
    // The input and the zeros after it, stored for a round; a = the accumulator. Result: the
    // samples stored.
    int32_t StoreRound(const float* I, const float* Q, int32_t& i, int32_t n, float R, int32_t room,
                       int32_t perInput);

    PolyphaseBank bank;
    ComplexHistory history;
    float acc = 0.0f; // rate accumulator, in input samples
    int32_t N = 0;
    const kernels::KernelTable& table;
};

} // namespace sigkit
