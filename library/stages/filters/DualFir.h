#pragma once

#include "stages/filters/FilterDesign.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstdint>
#include <vector>

namespace sigkit {

// One set of taps run over two channels (I and Q); both histories share the write position w.
class DualFir
{
public:
    DualFir();

    // Designs an N-tap low-pass with the cut-off rateEdge / rateIn and clears the histories.
    // Result: N, or 0 when N is not an odd length within 1..kHistoryCapacity (then no filter
    // is held and Step gives 0).
    int32_t DesignLow(float rateIn, float rateEdge, float beta, FilterWindow window, int32_t N);
    // The same with the complementary high-pass.
    int32_t DesignHigh(float rateIn, float rateEdge, float beta, FilterWindow window, int32_t N);
    // Takes one sample per channel and gives one output per channel. Result: always 1.
    int32_t Step(float a, float b, float& ya, float& yb);
    // n Steps at once: the outputs of a[i], b[i] in ya[i], yb[i], with Step's values. The
    // outputs of a round of samples are formed together, each tap load serving several.
    void StepBlock(const float* a, const float* b, int32_t n, float* ya, float* yb);

    bool IsDesigned() const { return designed != 0; }
    int32_t TapCount() const { return N; }
    const float* Taps() const { return taps.data(); }

private:
    int32_t Design(bool highPass, float rateIn, float rateEdge, float beta, FilterWindow window,
                   int32_t length);

    int32_t w = 0;                         // newest sample; moves down after each Step
    int32_t designed = 0;                  // 1 once a filter is held
    int32_t N = 0;                         // taps in use
    std::vector<float> taps;               // kHistoryCapacity, the first N in use
    std::vector<float> historyA, historyB; // kHistoryCapacity each
    std::vector<float> scratchA, scratchB; // the windows when they wrap
    const kernels::KernelTable& table;
};

} // namespace sigkit
