#include "stages/filters/GatedInterpolator.h"

#include "stages/filters/PolyphaseResampler.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

GatedInterpolator::GatedInterpolator() : table(kernels::Active())
{
}

int32_t GatedInterpolator::DesignBank(float rateIn, float rateOut, float beta, FilterWindow window,
                                      int32_t length)
{
    N = bank.Design(rateIn, rateOut, beta, window, length, false);
    history.Clear(N);
    acc = 0.0f;
    return N;
}

std::size_t GatedInterpolator::MaxGatedOutputs(std::size_t n, float rateIn, float rateOut)
{
    const float R = rateIn / rateOut;
    if (n == 0 || !PolyphaseResampler::UsableRatio(R))
        return 0;
    // The gate stores while the accumulator is below R, one more each time: at most ceil(R) + 1
    // samples per input. From R = 1 on, every add and subtraction is exact and an input leaves
    // the accumulator in [0, 1): over n inputs the stores are fewer than n·R + 1.
    const std::size_t perInput = n * (static_cast<std::size_t>(std::ceil(R)) + 1);
    if (R < 1.0f)
        return perInput;
    const double total = std::floor(static_cast<double>(n) * static_cast<double>(R)) + 2.0;
    return std::min(perInput, static_cast<std::size_t>(total));
}

int32_t GatedInterpolator::GatedFilterStep(float I, float Q, float rateIn, float rateOut,
                                           float& outI, float& outQ)
{
    outI = 0.0f;
    outQ = 0.0f;
    const float R = rateIn / rateOut;
    if (N == 0 || !PolyphaseResampler::UsableRatio(R))
        return 0;
    if (R > acc)
    {
        history.I[static_cast<std::size_t>(history.w)] = I;
        history.Q[static_cast<std::size_t>(history.w)] = Q;
        acc = acc + 1.0f;
        const float* taps = bank.Phase(PolyphaseBank::kPrototype);
        outI = table.dot(taps, history.WindowI(history.w, N), N);
        outQ = table.dot(taps, history.WindowQ(history.w, N), N);
        history.w = NextWritePosition(history.w);
        return 1;
    }
    acc = acc - R;
    return 0;
}

int32_t GatedInterpolator::StoreRound(const float* I, const float* Q, int32_t& i, int32_t n,
                                      float R, int32_t room, int32_t perInput)
{
    const int32_t top = history.w;
    int32_t stored = 0;
    float a = acc;
    for (; i < n && stored + perInput <= room; ++i)
    {
        if (R > a)
        {
            history.I[static_cast<std::size_t>(top - stored)] = I[i];
            history.Q[static_cast<std::size_t>(top - stored)] = Q != nullptr ? Q[i] : 0.0f;
            ++stored;
            a = a + 1.0f;
            while (R > a)
            {
                history.I[static_cast<std::size_t>(top - stored)] = 0.0f;
                history.Q[static_cast<std::size_t>(top - stored)] = 0.0f;
                ++stored;
                a = a + 1.0f;
            }
        }
        a = a - R; // the call that is refused
    }
    acc = a;
    return stored;
}

int32_t GatedInterpolator::GatedBlock(const float* I, const float* Q, int32_t n, float rateIn,
                                      float rateOut, float* outI, float* outQ)
{
    const float R = rateIn / rateOut;
    if (N == 0 || !PolyphaseResampler::UsableRatio(R) || n <= 0)
        return 0;
    const double most = std::ceil(static_cast<double>(R)) + 1.0; // stored per input at most
    int32_t produced = 0;
    const auto oneByOne = [&](int32_t i) {
        // The gate call by call: the input, then zeros until refused.
        float oI = 0.0f;
        float oQ = 0.0f;
        int32_t r = GatedFilterStep(I[i], Q != nullptr ? Q[i] : 0.0f, rateIn, rateOut, oI, oQ);
        while (r != 0)
        {
            outI[produced] = oI;
            if (outQ != nullptr)
                outQ[produced] = oQ;
            ++produced;
            r = GatedFilterStep(0.0f, 0.0f, rateIn, rateOut, oI, oQ);
        }
    };
    const int32_t perInput = most > kPart ? kPart + 1 : static_cast<int32_t>(most);
    const float* taps = bank.Phase(PolyphaseBank::kPrototype);
    for (int32_t i = 0; i < n;)
    {
        // Every stored sample gives an output: they lie at w, w - 1, ... and the windows of a
        // round of them are formed together. A round stays above position 0 and short of
        // reaching round into itself.
        const int32_t room = std::min({history.w + 1, kPart, kHistoryCapacity - N});
        if (room < perInput)
        {
            oneByOne(i++);
            continue;
        }
        const int32_t stored = StoreRound(I, Q, i, n, R, room, perInput);
        if (stored == 0)
            continue;
        const int32_t newest = history.w - stored + 1;
        const int32_t span = stored - 1 + N;
        table.firBlock(taps, N, history.WindowI(newest, span) + stored - 1, 1, stored,
                       outI + produced);
        if (outQ != nullptr)
            table.firBlock(taps, N, history.WindowQ(newest, span) + stored - 1, 1, stored,
                           outQ + produced);
        produced += stored;
        history.w = newest == 0 ? kHistoryCapacity - 1 : newest - 1;
    }
    return produced;
}

} // namespace sigkit
