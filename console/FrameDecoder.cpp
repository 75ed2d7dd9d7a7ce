#include "FrameDecoder.h"

#include "sigkit_api.h"

#include <cmath>
#include <cstring>

namespace sigrun {

namespace {

constexpr uint16_t kTagFloat = 3;

uint32_t Little(const unsigned char* at, int width)
{
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | at[i];
    return v;
}

} // namespace

FrameDecoder::FrameDecoder(const WavDescription& input)
    : channels(input.channels), width((input.bitsPerSample + 7) / 8),
      isFloat(input.formatTag == kTagFloat),
      frameBytes(static_cast<std::size_t>(channels) * static_cast<std::size_t>(width))
{
}

float FrameDecoder::Sample(const unsigned char* at) const
{
    const uint32_t u = Little(at, width);
    if (isFloat)
    {
        float v = 0.0f;
        std::memcpy(&v, &u, sizeof v);
        return std::fabs(v) <= 1e6f ? v : 0.0f;
    }
    switch (width)
    {
    case 1:
        return (static_cast<float>(u) - 128.0f) / 128.0f;
    case 2:
        return static_cast<float>(static_cast<int16_t>(u)) / 32768.0f;
    case 3:
        return static_cast<float>(static_cast<int32_t>(u << 8) >> 8) / 8388608.0f;
    default:
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(u)) / 2147483648.0);
    }
}

std::size_t FrameDecoder::Decode(const void* block, int32_t bytes, std::vector<float>& out)
{
    out.clear();
    if (frameBytes == 0 || bytes <= 0)
        return 0;
    const auto* at = static_cast<const unsigned char*>(block);
    std::size_t left = static_cast<std::size_t>(bytes);
    const std::size_t frames = (pending.size() + left) / frameBytes;
    out.resize(frames * static_cast<std::size_t>(channels));
    float* to = out.data();
    if (!pending.empty())
    {
        const std::size_t taken = std::min(frameBytes - pending.size(), left);
        pending.insert(pending.end(), at, at + taken);
        at += taken;
        left -= taken;
        if (pending.size() < frameBytes)
            return 0;
        for (int c = 0; c < channels; ++c)
            *to++ = Sample(pending.data() + c * width);
        pending.clear();
    }
    // Whole frames: the common widths in loops the compiler vectorises (scaling by a power of
    // two is exact, so these give Sample's values), the others sample by sample.
    const std::size_t whole = left / frameBytes;
    const std::size_t samples = whole * static_cast<std::size_t>(channels);
    if (!isFloat && width == 2)
        for (std::size_t i = 0; i < samples; ++i)
        {
            int16_t v = 0;
            std::memcpy(&v, at + 2 * i, sizeof v);
            to[i] = static_cast<float>(v) * (1.0f / 32768.0f);
        }
    else if (!isFloat && width == 1)
        for (std::size_t i = 0; i < samples; ++i)
            to[i] = (static_cast<float>(at[i]) - 128.0f) * (1.0f / 128.0f);
    else
        for (std::size_t i = 0; i < samples; ++i)
            to[i] = Sample(at + i * static_cast<std::size_t>(width));
    at += whole * frameBytes;
    left -= whole * frameBytes;
    pending.assign(at, at + left);
    return frames;
}

int EncodingOf(const WavDescription& input)
{
    if (input.formatTag == kTagFloat)
        return input.bitsPerSample == 32 ? SIGKIT_ENCODING_F32 : 0;
    switch (input.bitsPerSample)
    {
    case 8:
        return SIGKIT_ENCODING_U8;
    case 16:
        return SIGKIT_ENCODING_S16;
    case 24:
        return SIGKIT_ENCODING_S24;
    case 32:
        return SIGKIT_ENCODING_S32;
    default:
        return 0;
    }
}

double FullScale(const WavDescription& input)
{
    if (input.formatTag == kTagFloat || input.bitsPerSample < 8 || input.bitsPerSample > 32)
        return 1.0;
    return std::ldexp(1.0, input.bitsPerSample - 1);
}

} // namespace sigrun
