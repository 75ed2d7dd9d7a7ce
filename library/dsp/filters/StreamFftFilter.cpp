#include "dsp/filters/StreamFftFilter.h"

#include <algorithm>
#include <cstring>

namespace sigkit {

StreamFftFilter::StreamFftFilter(const float* taps, int32_t count)
    : filter(taps, count), hop(filter.IsValid() ? filter.Hop() : 0)
{
    Reset();
}

int32_t StreamFftFilter::Delay() const
{
    return hop > 0 ? filter.Delay() + hop - 1 : 0;
}

void StreamFftFilter::Reset()
{
    if (hop == 0)
        return;
    filter.Reset();
    fill = 0;
    zeros = hop - 1;
    readAt = 0;
}

void StreamFftFilter::StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ)
{
    if (I == nullptr || Q == nullptr || yI == nullptr || yQ == nullptr || n < 1)
        return;
    if (hop == 0)
    {
        std::fill(yI, yI + n, 0.0f);
        std::fill(yQ, yQ + n, 0.0f);
        return;
    }
    for (int32_t done = 0; done < n;)
    {
        // The inputs go straight into the filter's hop.
        const int32_t take = std::min(n - done, hop - fill);
        std::memcpy(filter.HopRe() + fill, I + done, static_cast<std::size_t>(take) * 4);
        std::memcpy(filter.HopIm() + fill, Q + done, static_cast<std::size_t>(take) * 4);
        fill += take;
        // An output for each input, Hop() - 1 inputs behind: the input that ends a hop takes the
        // hop's first output, the ones before it the last hop's (all given by then).
        const bool ends = fill == hop;
        Give(yI + done, yQ + done, ends ? take - 1 : take);
        if (ends)
        {
            filter.TransformHop();
            fill = 0;
            readAt = 0;
            Give(yI + done + take - 1, yQ + done + take - 1, 1);
        }
        done += take;
    }
}

void StreamFftFilter::Give(float* yI, float* yQ, int32_t count)
{
    const int32_t start = std::min(count, zeros);
    std::fill(yI, yI + start, 0.0f);
    std::fill(yQ, yQ + start, 0.0f);
    zeros -= start;
    const int32_t rest = count - start;
    std::memcpy(yI + start, filter.OutputRe() + readAt, static_cast<std::size_t>(rest) * 4);
    std::memcpy(yQ + start, filter.OutputIm() + readAt, static_cast<std::size_t>(rest) * 4);
    readAt += rest;
}

} // namespace sigkit
