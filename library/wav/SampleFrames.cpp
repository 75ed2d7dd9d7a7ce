#include "wav/SampleFrames.h"

#include "wav/ByteOrder.h"

#include <cmath>
#include <cstring>

namespace sigkit {

namespace {

// The tail shared by the sub-format identifiers of extensible formats (after the 16-bit tag).
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

bool SampleFormat::Readable() const
{
    const bool widthOk =
        tag == kTagFloat ? bits == 32 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    return (tag == kTagPcm || tag == kTagFloat) && widthOk && channels > 0 &&
           blockAlign >= channels * (bits / 8) && rate > 0.0 && std::isfinite(rate);
}

SampleFormat FormatOf(const FileWAV& file)
{
    SampleFormat f;
    uint8_t format[kFmtCapacity]{};
    const uint32_t size = file.GetFormat(format, sizeof format);
    if (size < kFmtEssentialBytes && file.FormatFound())
        return f;
    uint16_t tag = LoadU16(format);
    if (tag == kTagExtensible && size >= 40 &&
        std::memcmp(format + 26, kSubFormatTail, sizeof kSubFormatTail) == 0)
        tag = LoadU16(format + 24);
    f.tag = (tag == kTagPcm || tag == kTagFloat) ? tag : 0;
    f.channels = LoadU16(format + 2);
    f.blockAlign = LoadU16(format + 12);
    f.bits = LoadU16(format + 14);
    uint32_t whole = 0;
    uint32_t exactBits = 0;
    file.GetRates(whole, exactBits);
    float exact = 0.0f;
    std::memcpy(&exact, &exactBits, 4);
    f.rate = exact > 0.0f && std::isfinite(exact) ? static_cast<double>(exact) : whole;
    return f;
}

void DecodeFrames(const SampleFormat& format, const uint8_t* bytes, std::size_t frames, float* out)
{
    const std::size_t channels = format.channels;
    // Frames without padding in the commonest widths: one run of samples. (Multiplying by the
    // reciprocal of a power of two gives the quotient's bits exactly.)
    const std::size_t count = frames * channels;
    if (format.tag == kTagPcm && format.bits == 16 && format.blockAlign == 2 * channels)
    {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<float>(static_cast<int16_t>(LoadU16(bytes + 2 * i))) *
                     (1.0f / 32768.0f);
        return;
    }
    if (format.tag == kTagPcm && format.bits == 8 && format.blockAlign == channels)
    {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = (static_cast<float>(bytes[i]) - 128.0f) * (1.0f / 128.0f);
        return;
    }
    for (std::size_t n = 0; n < frames; ++n)
    {
        const uint8_t* frame = bytes + n * format.blockAlign;
        for (std::size_t c = 0; c < channels; ++c)
        {
            float v = 0.0f;
            if (format.tag == kTagFloat)
            {
                const uint32_t b = LoadU32(frame + 4 * c);
                std::memcpy(&v, &b, 4);
                // Values no recording holds (NaN, infinities, beyond a million times full scale)
                // would only spoil every sum they enter.
                if (!(std::fabs(v) <= 1e6f))
                    v = 0.0f;
            }
            else if (format.bits == 8)
                v = (static_cast<float>(frame[c]) - 128.0f) / 128.0f;
            else if (format.bits == 16)
                v = static_cast<float>(static_cast<int16_t>(LoadU16(frame + 2 * c))) / 32768.0f;
            else if (format.bits == 24)
            {
                const uint8_t* p = frame + 3 * c;
                const auto u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                               (static_cast<uint32_t>(p[2]) << 16);
                const auto s = static_cast<int32_t>(u << 8) >> 8;
                v = static_cast<float>(s) / 8388608.0f;
            }
            else
                v = static_cast<float>(
                    static_cast<double>(static_cast<int32_t>(LoadU32(frame + 4 * c))) /
                    2147483648.0);
            out[n * channels + c] = v;
        }
    }
}

} // namespace sigkit
