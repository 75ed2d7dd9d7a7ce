#include "stages/filters/DualFir.h"

#include <algorithm>

namespace sigkit {

DualFir::DualFir()
    : taps(kHistoryCapacity, 0.0f), historyA(kHistoryCapacity, 0.0f),
      historyB(kHistoryCapacity, 0.0f), scratchA(kHistoryCapacity, 0.0f),
      scratchB(kHistoryCapacity, 0.0f), table(kernels::Active())
{
}

int32_t DualFir::DesignLow(float rateIn, float rateEdge, float beta, FilterWindow window,
                           int32_t length)
{
    return Design(false, rateIn, rateEdge, beta, window, length);
}

int32_t DualFir::DesignHigh(float rateIn, float rateEdge, float beta, FilterWindow window,
                            int32_t length)
{
    return Design(true, rateIn, rateEdge, beta, window, length);
}

int32_t DualFir::Design(bool highPass, float rateIn, float rateEdge, float beta,
                        FilterWindow window, int32_t length)
{
    std::fill(taps.begin(), taps.end(), 0.0f);
    const bool valid = length >= 1 && length <= kHistoryCapacity && length % 2 == 1;
    N = valid ? length : 0;
    if (valid)
    {
        const float fc = rateEdge / rateIn;
        if (highPass)
            DesignHighPass(fc, beta, window, N, taps.data());
        else
            DesignLowPass(fc, beta, window, N, taps.data());
    }
    designed = valid ? 1 : 0;
    w = 0;
    std::fill(historyA.begin(), historyA.end(), 0.0f);
    std::fill(historyB.begin(), historyB.end(), 0.0f);
    std::fill(scratchA.begin(), scratchA.end(), 0.0f);
    std::fill(scratchB.begin(), scratchB.end(), 0.0f);
    return N;
}

int32_t DualFir::Step(float a, float b, float& ya, float& yb)
{
    ya = 0.0f;
    yb = 0.0f;
    historyA[w] = a;
    historyB[w] = b;
    if (N > 0)
    {
        ya = table.dot(taps.data(), HistoryWindow(historyA.data(), w, N, scratchA.data()), N);
        yb = table.dot(taps.data(), HistoryWindow(historyB.data(), w, N, scratchB.data()), N);
    }
    w = NextWritePosition(w);
    return 1;
}

} // namespace sigkit
