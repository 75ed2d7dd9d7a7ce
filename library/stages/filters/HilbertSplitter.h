#pragma once

#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstdint>
#include <vector>

namespace sigkit {

// A real signal into its analytic (I, Q) pair, delayed by 150 samples: I is the input 150
// samples ago, Q its 90-degree-shifted copy from the 301-tap Hilbert transformer. A tone at a
// positive frequency stays at that positive frequency.
class HilbertSplitter
{
public:
    HilbertSplitter();

    // Clears the history: the next 150 steps give I = 0.
    void Reset();
    // Result: always 0.
    int32_t Step(float x, float& delayed, float& shifted);
    // n Steps at once, with Step's values. While the samples are finite (and the floating-point
    // environment is the default one) the zero taps at even distances are skipped.
    void StepBlock(const float* x, int32_t n, float* delayed, float* shifted);

private:
    int32_t w = 0;              // newest sample; moves down before each new one is written
    std::vector<float> history; // kHistoryCapacity, sized once
    std::vector<float> scratch; // the windows of a round of samples when they wrap
    int32_t finiteRun = 0;      // newest consecutive finite samples in the history
    const kernels::KernelTable& table;
};

} // namespace sigkit
