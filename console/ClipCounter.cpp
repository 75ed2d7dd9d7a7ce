#include "ClipCounter.h"

#include <cstring>

namespace sigrun {

ClipCounter::ClipCounter(uint16_t formatTag, uint16_t bitsPerSample)
{
    if (formatTag == 1 &&
        (bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24 || bitsPerSample == 32))
        width = bitsPerSample / 8;
}

namespace {

// A sample's bits in the narrowest unsigned type that holds them; it also counts the ends within
// a run, so that the compiler's vector compares keep as many lanes as the samples have.
template <int Width> struct Lane
{
    using type = uint32_t;
};
template <> struct Lane<1>
{
    using type = uint8_t;
};
template <> struct Lane<2>
{
    using type = uint16_t;
};

// The samples of `count` at either end of the range, each assembled from its little-endian
// bytes, counted in runs short enough for the narrow counter.
template <int Width> long long CountEnds(const unsigned char* bytes, long long count)
{
    using Bits = typename Lane<Width>::type;
    // 8 bits unsigned: 0x00 and 0xFF; wider ones signed: 0x80..00 and 0x7F..FF.
    constexpr Bits kLow = Width == 1 ? 0x00u : 1u << (8 * Width - 1);
    constexpr Bits kHigh = Width == 1 ? 0xFFu : kLow - 1;
    constexpr long long kRun = 255;
    long long ends = 0;
    while (count > 0)
    {
        const long long run = count < kRun ? count : kRun;
        Bits inRun = 0;
        for (long long i = 0; i < run; ++i)
        {
            const unsigned char* sample = bytes + i * Width;
            Bits value = 0;
            if constexpr (Width == 3)
                value = static_cast<Bits>(sample[0] | sample[1] << 8 | sample[2] << 16);
            else
                std::memcpy(&value, sample, sizeof value); // little-endian, as the file is
            inRun += static_cast<Bits>((value == kLow) | (value == kHigh));
        }
        ends += inRun;
        bytes += run * Width;
        count -= run;
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
