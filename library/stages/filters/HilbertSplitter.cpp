#include "stages/filters/HilbertSplitter.h"

#include "stages/filters/FilterDesign.h"

#include <algorithm>

namespace sigkit {

HilbertSplitter::HilbertSplitter()
    : history(kHistoryCapacity, 0.0f), scratch(kHilbertTapCount, 0.0f), table(kernels::Active())
{
}

void HilbertSplitter::Reset()
{
    std::fill(history.begin(), history.end(), 0.0f);
    std::fill(scratch.begin(), scratch.end(), 0.0f);
    w = 0;
}

int32_t HilbertSplitter::Step(float x, float& delayed, float& shifted)
{
    w = NextWritePosition(w);
    history[w] = x;
    const float* window = HistoryWindow(history.data(), w, kHilbertTapCount, scratch.data());
    shifted = table.dot(HilbertTaps().data(), window, kHilbertTapCount);
    delayed = window[kHilbertCentre];
    return 0;
}

} // namespace sigkit
