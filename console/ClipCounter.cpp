#include "ClipCounter.h"

namespace sigrun {

ClipCounter::ClipCounter(uint16_t formatTag, uint16_t bitsPerSample)
{
    if (formatTag == 1 &&
        (bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32))
        width = bitsPerSample / 8;
}

namespace {

// The samples of `count` at either end of the range, each assembled from its little-endian
// bytes (a loop the compiler turns into vector compares).
template <int Width> long long CountEnds(const unsigned char* bytes, long long count)
{
    // 8 bits unsigned: 0x00 and 0xFF; wider ones signed: 0x80..00 and 0x7F..FF.
    constexpr uint32_t kLow = Width == 1 ? 0x00u : 1u << (8 * Width - 1);
    constexpr uint32_t kHigh = Width == 1 ? 0xFFu : kLow - 1;
    long long ends = 0;
    for (long long i = 0; i < count; ++i)
    {
        const unsigned char* sample = bytes + i * Width;
        uint32_t value = 0;
        for (int b = 0; b < Width; ++b)
            value |= static_cast<uint32_t>(sample[b]) << (8 * b);
        ends += (value == kLow) | (value == kHigh);
    }
    return ends;
}

} // namespace

void ClipCounter::CountWhole(const unsigned char* bytes, long long count)
{
    switch (width)
    {
    case 1:
        clipped += CountEnds<1>(bytes, count);
        break;
    case 2:
        clipped += CountEnds<2>(bytes, count);
        break;
    case 3:
        clipped += CountEnds<3>(bytes, count);
        break;
    default:
        clipped += CountEnds<4>(bytes, count);
        break;
    }
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
