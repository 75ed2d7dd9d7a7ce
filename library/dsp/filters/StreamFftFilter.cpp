#include "dsp/filters/StreamFftFilter.h"

#include <algorithm>
#include <cstring>

namespace sigkit {

StreamFftFilter::StreamFftFilter(const float* taps, int32_t count)
    : filter(taps, count), hop(filter.IsValid() ? filter.Hop() : 0)
{
    if (hop == 0)
        return;
    const auto size = static_cast<std::size_t>(hop);
    gatherI = fft::AlignedFloats(size);
    gatherQ = fft::AlignedFloats(size);
    readyI = fft::AlignedFloats(2 * size);
    readyQ = fft::AlignedFloats(2 * size);
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
    // Hop() - 1 zeros stand first in the ring, ending where the first hop's outputs will begin.
    std::fill(readyI.data(), readyI.data() + readyI.Size(), 0.0f);
    std::fill(readyQ.data(), readyQ.data() + readyQ.Size(), 0.0f);
    readAt = 1;
    ready = hop - 1;
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
    const int32_t ring = 2 * hop;
    for (int32_t done = 0; done < n;)
    {
        const int32_t take = std::min(n - done, hop - fill);
        std::memcpy(gatherI.data() + fill, I + done, static_cast<std::size_t>(take) * 4);
        std::memcpy(gatherQ.data() + fill, Q + done, static_cast<std::size_t>(take) * 4);
        fill += take;
        if (fill == hop)
        {
            // The ring has room: at most Hop() - 1 outputs wait, and the write position is a
            // multiple of Hop().
            const int32_t writeAt = (readAt + ready) % ring;
            filter.StepBlock(gatherI.data(), gatherQ.data(), hop, readyI.data() + writeAt,
                             readyQ.data() + writeAt);
            ready += hop;
            fill = 0;
        }
        // The outputs of these inputs: there are always enough, as the gathering lags by less
        // than Hop() samples.
        for (int32_t given = 0; given < take;)
        {
            const int32_t piece = std::min(take - given, ring - readAt);
            std::memcpy(yI + done + given, readyI.data() + readAt,
                        static_cast<std::size_t>(piece) * 4);
            std::memcpy(yQ + done + given, readyQ.data() + readAt,
                        static_cast<std::size_t>(piece) * 4);
            readAt = (readAt + piece) % ring;
            ready -= piece;
            given += piece;
        }
        done += take;
    }
}

} // namespace sigkit
