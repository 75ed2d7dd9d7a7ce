#pragma once

#include "stages/filters/BlockFilter.h"
#include "stages/filters/FilterDesign.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstdint>
#include <vector>

namespace sigkit {

// One set of taps run over I and Q directly (a sum of N products per output); both histories
// share the write position w. Output k of a channel is Σ taps[j]·x[k - j], j = 0 .. N-1, summed
// as the kernels' dot product sums, with the samples before the first taken as 0.
class DualFir final : public BlockFilter
{
public:
    DualFir();

    // Designs an N-tap low-pass with the cut-off rateEdge / rateIn and clears the histories.
    // Result: N, or 0 when N is not an odd length within 1..kHistoryCapacity (then no filter
    // is held and every output is 0).
    int32_t DesignLow(float rateIn, float rateEdge, float beta, FilterWindow window, int32_t N);
    // The outputs of a round of samples are formed together, each tap load serving several.
    void StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ) override;
    int32_t Delay() const override { return (N - 1) / 2; }
    void Reset() override;

    bool IsDesigned() const { return designed != 0; }
    int32_t TapCount() const { return N; }
    const float* Taps() const { return taps.data(); }

private:
    int32_t w = 0;                   // newest sample; moves down after each one
    int32_t designed = 0;            // 1 once a filter is held
    int32_t N = 0;                   // taps in use
    ZeroedFloats taps;               // kHistoryCapacity, the first N in use
    ZeroedFloats historyA, historyB; // kHistoryCapacity each
    ZeroedFloats scratchA, scratchB; // the windows when they wrap
    const kernels::KernelTable& table;
};

} // namespace sigkit
