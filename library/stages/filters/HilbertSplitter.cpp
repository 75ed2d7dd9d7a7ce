#include "stages/filters/HilbertSplitter.h"

#include "stages/filters/FilterDesign.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

HilbertSplitter::HilbertSplitter()
    : history(kHistoryCapacity), scratch(kPart + kHilbertTapCount, 0.0f),
      finiteRun(kHistoryCapacity), table(kernels::Active())
{
}

void HilbertSplitter::Reset()
{
    // The first windows (the first sample goes to the top entry) reach round to [0, 300) before
    // new samples do; every other entry is overwritten before a window reaches it.
    std::fill(history.begin(), history.begin() + kHilbertTapCount, 0.0f);
    w = 0;
    finiteRun = kHistoryCapacity;
}

void HilbertSplitter::StepBlock(const float* x, const float* /*Q*/, int32_t n, float* delayed,
                                float* shifted)
{
    const bool quiet = kernels::DefaultFloatEnvironment();
    const float* taps = HilbertTaps().data();
    for (int32_t done = 0; done < n;)
    {
        // w moves down before each sample is written: the round's samples go to w - 1, w - 2, ...
        // down to 0 at the lowest, then the history wraps.
        const int32_t top = w == 0 ? kHistoryCapacity : w; // first position is top - 1
        const int32_t count = std::min({n - done, top, kPart});
        // The largest magnitude's bits stay below those of infinity while every sample is finite.
        const bool finite =
            table.storeReversed(x + done, count, history.data() + (top - 1)) < 0x7F800000u;
        const int32_t newest = top - count;
        const float* window =
            HistoryWindow(history.data(), newest, count - 1 + kHilbertTapCount, scratch.data()) +
            count - 1; // the first sample's window; sample i's starts i entries lower
        // Every window of the round holds this round's samples and the 300 before them.
        if (quiet && finite && finiteRun >= kHilbertTapCount - 1)
            table.firBlockOddTaps(taps, kHilbertTapCount, window, count, shifted + done);
        else
            table.firBlock(taps, kHilbertTapCount, window, 1, count, shifted + done);
        for (int32_t i = 0; i < count; ++i)
            delayed[done + i] = window[kHilbertCentre - i];

        if (finite)
            finiteRun = std::min(finiteRun + count, kHistoryCapacity);
        else
        {
            int32_t run = 0;
            while (run < count && std::isfinite(x[done + count - 1 - run]))
                ++run;
            finiteRun = run;
        }
        w = newest;
        done += count;
    }
}

} // namespace sigkit
