#include "stages/filters/DualFir.h"

#include <algorithm>

namespace sigkit {

DualFir::DualFir()
    : taps(kHistoryCapacity), historyA(kHistoryCapacity), historyB(kHistoryCapacity),
      scratchA(kHistoryCapacity), scratchB(kHistoryCapacity), table(kernels::Active())
{
}

int32_t DualFir::DesignLow(float rateIn, float rateEdge, float beta, FilterWindow window,
                           int32_t length)
{
    // Only the last design's taps can be other than zero (the arrays were zeroed at
    // construction).
    std::fill(taps.begin(), taps.begin() + N, 0.0f);
    const bool valid = length >= 1 && length <= kHistoryCapacity && length % 2 == 1;
    N = valid ? length : 0;
    if (valid)
        DesignLowPass(rateEdge / rateIn, beta, window, N, taps.data());
    designed = valid ? 1 : 0;
    Reset();
    return N;
}

void DualFir::Reset()
{
    w = 0;
    // The first windows reach [0, N) before the new samples do (w starts at 0 and moves down
    // from the top); every other entry is overwritten before a window reaches it.
    std::fill(historyA.begin(), historyA.begin() + N, 0.0f);
    std::fill(historyB.begin(), historyB.begin() + N, 0.0f);
}

void DualFir::StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ)
{
    for (int32_t done = 0; done < n;)
    {
        // The round's samples go to w, w - 1, ... without passing 0, and no window reaches round
        // the history into them.
        const int32_t count = std::min({n - done, w + 1, kPart, kHistoryCapacity - N});
        table.storeReversed(I + done, count, historyA.data() + w);
        table.storeReversed(Q + done, count, historyB.data() + w);
        if (N > 0)
        {
            // Output i's window starts at w - i: all of them lie in the run from the newest
            // sample's window, w - count + 1, to the first one's end.
            const int32_t newest = w - count + 1;
            const int32_t span = count - 1 + N;
            table.firBlock(taps.data(), N,
                           HistoryWindow(historyA.data(), newest, span, scratchA.data()) + count -
                               1,
                           1, count, yI + done);
            table.firBlock(taps.data(), N,
                           HistoryWindow(historyB.data(), newest, span, scratchB.data()) + count -
                               1,
                           1, count, yQ + done);
        }
        else
        {
            std::fill(yI + done, yI + done + count, 0.0f);
            std::fill(yQ + done, yQ + done + count, 0.0f);
        }
        w = w - count < 0 ? kHistoryCapacity - 1 : w - count;
        done += count;
    }
}

} // namespace sigkit
