#pragma once

#include "stages/filters/BlockFilter.h"
#include "stages/filters/FilterDesign.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstdint>
#include <vector>

namespace sigkit {

// A real signal into its analytic (I, Q) pair, delayed by 150 samples: I is the input 150
// samples ago, Q its 90-degree-shifted copy from the 301-tap Hilbert transformer
// (Σ HilbertTaps()[j]·x[k - j], summed as the kernels' dot product sums). A tone at a positive
// frequency stays at that positive frequency.
//
// As a block filter it takes real samples: the input I is the signal and the input Q is not read
// (it may be null); the outputs are the pair.
class HilbertSplitter final : public BlockFilter
{
public:
    HilbertSplitter();

    // While the samples are finite (and the floating-point environment is the default one) the
    // zero taps at even distances are skipped.
    void StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ) override;
    int32_t Delay() const override { return kHilbertCentre; }
    // Clears the history: the next 150 outputs have I = 0.
    void Reset() override;

private:
    int32_t w = 0;              // newest sample; moves down before each new one is written
    ZeroedFloats history;       // kHistoryCapacity, sized once
    std::vector<float> scratch; // the windows of a round of samples when they wrap
    int32_t finiteRun = 0;      // newest consecutive finite samples in the history
    const kernels::KernelTable& table;
};

} // namespace sigkit
