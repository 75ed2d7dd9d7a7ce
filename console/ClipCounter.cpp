#include "ClipCounter.h"

namespace sigrun {

ClipCounter::ClipCounter(uint16_t formatTag, uint16_t bitsPerSample)
{
    if (formatTag == 1 &&
        (bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32))
        width = bitsPerSample / 8;
}

bool ClipCounter::AtFullScale(const unsigned char* sample) const
{
    // Little-endian; 8-bit samples are unsigned (ends 0x00 and 0xFF), wider ones signed (ends
    // 0x00..00 0x80 and 0xFF..FF 0x7F).
    switch (width)
    {
    case 1:
        return sample[0] == 0x00 || sample[0] == 0xFF;
    case 2:
        return (sample[0] == 0xFF && sample[1] == 0x7F) || (sample[0] == 0x00 && sample[1] == 0x80);
    case 3:
        return (sample[0] == 0xFF && sample[1] == 0xFF && sample[2] == 0x7F) ||
               (sample[0] == 0x00 && sample[1] == 0x00 && sample[2] == 0x80);
    default:
        return (sample[0] == 0xFF && sample[1] == 0xFF && sample[2] == 0xFF && sample[3] == 0x7F) ||
               (sample[0] == 0x00 && sample[1] == 0x00 && sample[2] == 0x00 && sample[3] == 0x80);
    }
}

void ClipCounter::CountWhole(const unsigned char* bytes, long long count)
{
    for (long long i = 0; i < count; ++i)
        clipped += AtFullScale(bytes + i * width) ? 1 : 0;
}

void ClipCounter::Count(const void* block, int32_t bytes)
{
    if (width == 0 || block == nullptr || bytes <= 0)
        return;
    const auto* at = static_cast<const unsigned char*>(block);
    long long left = bytes;
    // A sample begun at the end of the last block is completed first.
    constexpr int kCapacity = static_cast<int>(sizeof pending);
    while (pendingBytes > 0 && pendingBytes < width && pendingBytes < kCapacity && left > 0)
    {
        pending[pendingBytes++] = *at++;
        --left;
        if (pendingBytes == width)
        {
            CountWhole(pending, 1);
            pendingBytes = 0;
        }
    }
    const long long whole = left / width;
    CountWhole(at, whole);
    at += whole * width;
    left -= whole * width;
    // What is left is less than a sample: it waits for the next block.
    for (; left > 0 && pendingBytes < width && pendingBytes < kCapacity; --left)
        pending[pendingBytes++] = *at++;
}

} // namespace sigrun
