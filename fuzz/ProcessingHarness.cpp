#include "Harnesses.h"

#include "sigkit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sigfuzz {

namespace {

// How a fuzz input is read:
//   byte 0      family (low 3 bits: am, fm, lpflt, resampl, iq2real, invert); bit 7: the record
//               is taken raw from the following bytes instead of being built from words; bit 6
//               (the first four families): the blocks also go through a second handle, each
//               prepared before its data call (bit 5: up to three blocks ahead)
//   bytes 1..3  indices of the format, input mode and quality words (each table holds a word
//               the library does not know)
//   bytes 4..19 sample rate, frequency, output rate or band (int32), gain (float bits)
//   bytes 20,21 block size in bytes (1 .. 4096)
//   the rest    the stored samples, handed over block by block
constexpr std::size_t kHeader = 22;

const char* const kFormats[] = {"8 bits  (signed)",   "8 bits  (unsigned)", "16 bits (signed)",
                                "16 bits (unsigned)", "24 bits (signed)",   "32 bits (signed)",
                                "32 bits (float)",    "16 bits  (signed)"};
const char* const kModes[] = {"Real", "Complex", "complex"};
const char* const kIqModes[] = {"Real->Complex", "Complex->Real", "Real"};
// Most inputs run at the lowest quality: the longer designs cost time and add no paths.
const char* const kQualities[] = {"Low", "Low", "Low", "Low", "Low",    "Low",  "Low",  "Low",
                                  "Low", "Low", "Low", "Low", "Medium", "High", "high", ""};

template <std::size_t N, std::size_t M>
void Word(char (&field)[N], const char* const (&words)[M], uint8_t index)
{
    std::snprintf(field, N, "%s", words[index % M]);
}

void Require(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "harness check failed: %s\n", what);
        std::abort();
    }
}

int32_t Int(const uint8_t* p)
{
    uint32_t v = 0;
    std::memcpy(&v, p, 4);
    return static_cast<int32_t>(v);
}

// Runs the samples through a handle block by block and checks what comes back.
template <typename Handle, typename Data>
void PumpAll(Data data, Handle* handle, const uint8_t* samples, std::size_t size, std::size_t block)
{
    volatile uint8_t sink = 0;
    for (std::size_t at = 0; at < size; at += block)
    {
        const std::size_t n = std::min(block, size - at);
        const void* out = nullptr;
        int32_t outBytes = -1;
        Require(data(handle, samples + at, static_cast<int32_t>(n), &out, &outBytes) == 1,
                "data returns 1");
        Require(outBytes >= 0, "output count not negative");
        for (int32_t i = 0; i < outBytes; i += 61)
            sink = sink ^ static_cast<const uint8_t*>(out)[i];
        if (outBytes > 0)
            sink = sink ^ static_cast<const uint8_t*>(out)[outBytes - 1];
    }
    // The same handle takes empty and odd calls too.
    const void* out = nullptr;
    int32_t outBytes = -1;
    Require(data(handle, samples, 0, &out, &outBytes) == 1 && outBytes == 0,
            "empty block gives nothing");
}

// The blocks through two handles of the record: one by the data calls alone, one with every block
// prepared first, up to `ahead` blocks before its data call (whose bytes are then not given).
// Both give the same bytes.
void PreparedMatches(BlockInitFn init, BlockFreeFn release, const BlockParams& params,
                     const uint8_t* samples, std::size_t size, std::size_t block, std::size_t ahead)
{
    BlockHandle* plain = nullptr;
    BlockHandle* split = nullptr;
    Require(init(params, &plain) == 1 && init(params, &split) == 1, "both handles made");
    std::vector<uint8_t> expected;
    std::vector<uint8_t> got;
    const std::size_t blocks = (size + block - 1) / block;
    std::size_t prepared = 0; // blocks prepared so far
    bool refused = false;
    for (std::size_t k = 0; k < blocks; ++k)
    {
        const std::size_t at = k * block;
        const auto n = static_cast<int32_t>(std::min(block, size - at));
        for (; !refused && prepared < blocks && prepared <= k + ahead; ++prepared)
        {
            const std::size_t from = prepared * block;
            const auto bytes = static_cast<int32_t>(std::min(block, size - from));
            refused = sigkit_block_prepare(split, samples + from, bytes) != 1;
            if (refused)
                break;
        }
        const void* out = nullptr;
        int32_t outBytes = 0;
        Require(resampl_data(plain, samples + at, n, &out, &outBytes) == 1, "data returns 1");
        expected.insert(expected.end(), static_cast<const uint8_t*>(out),
                        static_cast<const uint8_t*>(out) + outBytes);
        Require(resampl_data(split, k < prepared ? nullptr : samples + at, n, &out, &outBytes) == 1,
                "data of a prepared block returns 1");
        got.insert(got.end(), static_cast<const uint8_t*>(out),
                   static_cast<const uint8_t*>(out) + outBytes);
    }
    Require(got == expected, "prepared blocks give the bytes of the data calls alone");
    Require(release(plain) == 1 && release(split) == 1, "free returns 1");
}

// A record that can never produce output: a rate that is not positive, a gain that is not finite,
// a negative band, or rates whose ratio lies beyond the resampler's (interpolation by more than
// 4096, decimation by 2^31 or more).
bool NeverProduces(const BlockParams& params, bool band)
{
    if (params.sampleRate <= 0 || !std::isfinite(params.amplify))
        return true;
    if (band)
        return params.outRateOrBand < 0;
    if (params.outRateOrBand <= 0)
        return true;
    const float ratio =
        static_cast<float>(params.sampleRate) / static_cast<float>(params.outRateOrBand);
    return ratio * 4096.0f < 1.0f || ratio >= 2147483648.0f;
}

} // namespace

void ProcessingExports(const uint8_t* data, std::size_t size)
{
    if (size < kHeader)
        return;
    const int family = data[0] & 7;
    const bool raw = (data[0] & 0x80) != 0;
    const std::size_t block =
        1 +
        ((static_cast<std::size_t>(data[20]) | (static_cast<std::size_t>(data[21]) << 8)) % 4096);
    const uint8_t* samples = data + kHeader;
    std::size_t count = size - kHeader;

    if (family <= 3)
    {
        BlockParams params{};
        if (raw)
            std::memcpy(&params, data + 1, std::min(size - 1, sizeof params));
        else
        {
            Word(params.sampleFormat, kFormats, data[1]);
            Word(params.inputMode, kModes, data[2]);
            Word(params.quality, kQualities, data[3]);
            params.sampleRate = Int(data + 4);
            params.frequency = Int(data + 8);
            params.outRateOrBand = Int(data + 12);
            std::memcpy(&params.amplify, data + 16, 4);
        }
        // Interpolating by large factors makes thousands of outputs per input: keep such runs
        // short, the point here is what the library does with the numbers, not its speed.
        const double rate = std::fabs(static_cast<double>(params.sampleRate));
        const double out = std::fabs(static_cast<double>(params.outRateOrBand));
        if (family != 2 && out > 8.0 * rate)
            count = std::min<std::size_t>(count, 16);
        BlockInitFn inits[] = {am_demod_init, fm_demod_init, lpflt_init, resampl_init};
        BlockFreeFn frees[] = {am_demod_free, fm_demod_free, lpflt_free, resampl_free};
        BlockHandle* handle = nullptr;
        const int32_t made = inits[family](params, &handle);
        Require((made == 1) == (handle != nullptr), "init result and handle agree");
        if (made != 1)
        {
            Require(NeverProduces(params, family == 2), "init refuses only records without output");
            return;
        }
        PumpAll(resampl_data, handle, samples, count, block);
        Require(frees[family](handle) == 1, "free returns 1");
        if ((data[0] & 0x40) != 0)
            PreparedMatches(inits[family], frees[family], params, samples, count, block,
                            (data[0] & 0x20) != 0 ? 3 : 0);
    }
    else if (family == 4)
    {
        IqParams params{};
        if (raw)
            std::memcpy(&params, data + 1, std::min(size - 1, sizeof params));
        else
        {
            Word(params.sampleFormat, kFormats, data[1]);
            Word(params.inputMode, kIqModes, data[2]);
            Word(params.quality, kQualities, data[3]);
        }
        IqHandle* handle = nullptr;
        Require(iq2real_init(params, &handle) == 1 && handle != nullptr, "init succeeds");
        PumpAll(iq2real_data, handle, samples, count, block);
        Require(iq2real_free(handle) == 1, "free returns 1");
    }
    else
    {
        InvertParams params{};
        if (raw)
            std::memcpy(&params, data + 1, std::min(size - 1, sizeof params));
        else
        {
            Word(params.sampleFormat, kFormats, data[1]);
            Word(params.inputMode, kModes, data[2]);
        }
        InvertHandle* handle = nullptr;
        Require(invert_init(params, &handle) == 1 && handle != nullptr, "init succeeds");
        PumpAll(invert_data, handle, samples, count, block);
        Require(invert_free(handle) == 1, "free returns 1");
    }
}

} // namespace sigfuzz
