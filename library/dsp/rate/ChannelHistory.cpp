#include "dsp/rate/ChannelHistory.h"

#include <algorithm>
#include <cstring>

namespace sigkit::dsp {

namespace {
// A history larger than this per channel is refused (it would hold over 256 MB of floats).
constexpr int64_t kMaxCapacity = int64_t{1} << 26;
} // namespace

bool ChannelHistory::Reset(int32_t channelCount, int32_t keepSize, int32_t blockSize)
{
    if (channelCount < 1 || keepSize < 1 || blockSize < 1)
        return false;
    const int64_t size = static_cast<int64_t>(keepSize) + 2 * static_cast<int64_t>(blockSize);
    if (size > kMaxCapacity || size * channelCount > 4 * kMaxCapacity)
        return false;
    channels = channelCount;
    capacity = static_cast<int32_t>(size);
    block = blockSize;
    keep = keepSize;
    data.assign(static_cast<std::size_t>(size) * static_cast<std::size_t>(channels), 0.0f);
    Clear();
    return true;
}

void ChannelHistory::Clear()
{
    std::fill(data.begin(), data.end(), 0.0f);
    base = -static_cast<int64_t>(keep);
    fill = keep;
}

void ChannelHistory::Write(const float* const* in, std::ptrdiff_t stride, int32_t n)
{
    for (int32_t c = 0; c < channels; ++c)
    {
        float* to = data.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(capacity) +
                    static_cast<std::size_t>(fill);
        const float* from = in[c];
        if (stride == 1)
            std::memcpy(to, from, static_cast<std::size_t>(n) * sizeof(float));
        else
            for (int32_t i = 0; i < n; ++i)
                to[i] = from[static_cast<std::ptrdiff_t>(i) * stride];
    }
    fill += n;
}

void ChannelHistory::WriteZeros(int32_t n)
{
    for (int32_t c = 0; c < channels; ++c)
        std::fill_n(data.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(capacity) +
                        static_cast<std::size_t>(fill),
                    n, 0.0f);
    fill += n;
}

void ChannelHistory::Discard(int64_t index)
{
    const int64_t dead = std::min<int64_t>(index - base, fill);
    if (dead < block)
        return;
    const auto drop = static_cast<int32_t>(dead);
    for (int32_t c = 0; c < channels; ++c)
    {
        float* buffer =
            data.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(capacity);
        std::memmove(buffer, buffer + drop, static_cast<std::size_t>(fill - drop) * sizeof(float));
    }
    base += drop;
    fill -= drop;
}

} // namespace sigkit::dsp
