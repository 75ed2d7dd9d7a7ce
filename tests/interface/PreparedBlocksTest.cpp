// A block handle's processing split over two threads: blocks prepared ahead on one thread,
// finished by the data calls on another, give the bytes of the data calls alone.
#include "sigkit.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace sigtest;

namespace {

using DataFn = int32_t (*)(BlockHandle*, const void*, int32_t, const void**, int32_t*);
using InitFn = int32_t (*)(BlockParams, BlockHandle**);
using FreeFn = int32_t (*)(BlockHandle*);

template <std::size_t N> void Put(char (&field)[N], const char* text)
{
    std::snprintf(field, N, "%s", text);
}

BlockParams Block(const char* mode, const char* format, int32_t rate, int32_t frequency,
                  int32_t third, const char* quality)
{
    BlockParams p{};
    Put(p.inputMode, mode);
    Put(p.sampleFormat, format);
    p.sampleRate = rate;
    p.frequency = frequency;
    p.outRateOrBand = third;
    p.amplify = 1.5f;
    Put(p.quality, quality);
    return p;
}

std::vector<std::string> Cut(const std::string& input, std::size_t piece)
{
    std::vector<std::string> parts;
    for (std::size_t at = 0; at < input.size(); at += piece)
        parts.push_back(input.substr(at, piece));
    return parts;
}

// The data calls alone, block by block.
std::string Whole(DataFn data, BlockHandle* handle, const std::vector<std::string>& parts)
{
    std::string output;
    for (const std::string& part : parts)
    {
        const void* out = nullptr;
        int32_t outBytes = 0;
        EXPECT_EQ(data(handle, part.data(), static_cast<int32_t>(part.size()), &out, &outBytes), 1);
        output.append(static_cast<const char*>(out), static_cast<std::size_t>(outBytes));
    }
    return output;
}

// Every block prepared on a second thread, at most `ahead` blocks before the data call that
// finishes it; each data call is handed the block's length, not its bytes. Result: the
// output; `prepared` counts the blocks prepared before the first refusal.
std::string Split(DataFn data, BlockHandle* handle, const std::vector<std::string>& parts,
                  std::size_t ahead, std::size_t& prepared)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t ready = 0; // blocks whose prepare returned
    std::size_t done = 0;  // blocks whose data call returned
    bool refused = false;
    std::thread front([&] {
        for (std::size_t k = 0; k < parts.size(); ++k)
        {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return k < done + ahead; });
            }
            const int32_t result = sigkit_block_prepare(handle, parts[k].data(),
                                                        static_cast<int32_t>(parts[k].size()));
            std::lock_guard lock(mutex);
            if (result != 1)
                refused = true;
            else
                ready = k + 1;
            changed.notify_all();
            if (refused)
                return;
        }
    });
    std::string output;
    for (std::size_t k = 0; k < parts.size(); ++k)
    {
        bool wasPrepared = false;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return ready > k || refused; });
            wasPrepared = ready > k;
        }
        // A prepared block's bytes are not read again: zeros, or no bytes at all, in their place.
        const std::string zeros(parts[k].size(), '\0');
        const char* given = !wasPrepared ? parts[k].data() : k % 2 == 0 ? zeros.data() : nullptr;
        const void* out = nullptr;
        int32_t outBytes = 0;
        EXPECT_EQ(data(handle, given, static_cast<int32_t>(parts[k].size()), &out, &outBytes), 1);
        output.append(static_cast<const char*>(out), static_cast<std::size_t>(outBytes));
        std::lock_guard lock(mutex);
        done = k + 1;
        changed.notify_all();
    }
    front.join();
    prepared = ready;
    return output;
}

// Two handles of the record: one by the data calls alone, one split (Split, `ahead` blocks).
struct BothWays
{
    std::string alone;
    std::string split;
    std::size_t prepared = 0;
};

BothWays RunBothWays(InitFn init, DataFn data, FreeFn release, const BlockParams& params,
                     const std::vector<std::string>& parts, std::size_t ahead)
{
    BothWays result;
    BlockHandle* alone = nullptr;
    BlockHandle* split = nullptr;
    EXPECT_EQ(init(params, &alone), 1);
    EXPECT_EQ(init(params, &split), 1);
    if (alone != nullptr && split != nullptr)
    {
        result.alone = Whole(data, alone, parts);
        result.split = Split(data, split, parts, ahead, result.prepared);
    }
    release(alone);
    release(split);
    return result;
}

struct Family
{
    const char* name;
    InitFn init;
    DataFn data;
    FreeFn release;
    int32_t frequency;
    int32_t third; // output rate, or the band of lpflt
};

std::string Signal(int bits, std::size_t values, unsigned seed)
{
    std::mt19937 random(seed);
    const int32_t top = bits == 8 ? 100 : bits == 16 ? 20000 : 2000000;
    std::uniform_int_distribution<int32_t> sample(-top, top);
    std::vector<int32_t> ints(values);
    for (std::size_t i = 0; i < values; ++i)
        ints[i] = i % 5000 < 300 ? 0 : sample(random); // silences as well
    return StoreSamples(ints, bits);
}

} // namespace

TEST(PreparedBlocks, GiveTheBytesOfTheDataCallsAloneInEveryFamily)
{
    const Family families[] = {
        {"resampl down", resampl_init, resampl_data, resampl_free, 7000, 11025},
        {"resampl two steps", resampl_init, resampl_data, resampl_free, -3000, 2000},
        {"resampl up", resampl_init, resampl_data, resampl_free, 1000, 200000},
        {"lpflt", lpflt_init, lpflt_data, lpflt_free, 12000, 9000},
        {"am_demod", am_demod_init, am_demod_data, am_demod_free, 5000, 12000},
        {"fm_demod", fm_demod_init, fm_demod_data, fm_demod_free, -5000, 12000},
    };
    const struct
    {
        const char* format;
        int bits;
    } formats[] = {{"16 bits (signed)", 16}, {"8 bits  (unsigned)", 8}, {"24 bits (signed)", 24}};
    for (const Family& family : families)
        for (const auto& format : formats)
            for (const char* quality : {"Low", "Medium", "High"})
            {
                // Every quality (the filters' forms) on 16 bits, one on the other widths.
                if (format.bits != 16 && std::string(quality) != "Medium")
                    continue;
                const std::string input = Signal(format.bits, 120001, 11);
                const BlockParams params =
                    Block("Complex", format.format, 96000, family.frequency, family.third, quality);
                // Odd pieces: pairs, and samples, split between blocks.
                for (std::size_t piece : {std::size_t{4097}, std::size_t{65536}, input.size()})
                {
                    const std::vector<std::string> parts = Cut(input, piece);
                    const BothWays run =
                        RunBothWays(family.init, family.data, family.release, params, parts, 3);
                    EXPECT_EQ(run.prepared, parts.size()) << family.name;
                    EXPECT_FALSE(run.alone.empty()) << family.name;
                    EXPECT_TRUE(run.split == run.alone) << family.name << " " << format.format
                                                        << " " << quality << " blocks of " << piece;
                }
            }
}

TEST(PreparedBlocks, FloatInputAndBlocksOfNoWholeSample)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> floats(50001);
    for (float& v : floats)
        v = value(random);
    std::string input(floats.size() * sizeof(float), '\0');
    std::memcpy(input.data(), floats.data(), input.size());
    const BlockParams params = Block("Complex", "32 bits (float)", 48000, 3000, 8000, "Medium");
    // Pieces of 1 to 13 bytes: floats and pairs split everywhere, blocks with no whole float.
    std::vector<std::string> parts;
    for (std::size_t at = 0, n = 1; at < input.size(); at += n, n = n % 13 + 1)
        parts.push_back(input.substr(at, n));
    const BothWays run = RunBothWays(resampl_init, resampl_data, resampl_free, params, parts, 8);
    EXPECT_TRUE(run.split == run.alone);
    EXPECT_EQ(run.prepared, parts.size());
}

TEST(PreparedBlocks, WhatCannotBePreparedIsRefusedAndProcessedWhole)
{
    EXPECT_EQ(sigkit_block_prepare(nullptr, "abcd", 4), 0);

    const std::string input = Signal(16, 40000, 2);
    const std::vector<std::string> parts = Cut(input, 8000);
    // Real input has no first part to split off: the first prepare is refused, nothing else
    // changes.
    {
        const BlockParams real = Block("Real", "16 bits (signed)", 48000, 3000, 8000, "Medium");
        const BothWays run = RunBothWays(resampl_init, resampl_data, resampl_free, real, parts, 2);
        EXPECT_TRUE(run.split == run.alone);
        EXPECT_EQ(run.prepared, 0u);
    }
    const BlockParams params = Block("Complex", "16 bits (signed)", 48000, 3000, 8000, "Medium");
    // A block above the limit is refused, and so is every later one: the rest is processed whole.
    {
        std::vector<std::string> mixed = parts;
        mixed.insert(mixed.begin() + 2, Signal(16, SIGKIT_PREPARE_BYTES / 2 + 2, 3));
        const BothWays run =
            RunBothWays(resampl_init, resampl_data, resampl_free, params, mixed, 4);
        EXPECT_TRUE(run.split == run.alone);
        EXPECT_EQ(run.prepared, 2u);
    }
    // A data call with another byte count than the block prepared next fails, and takes nothing:
    // the right call then gives that block's output.
    {
        BlockHandle* alone = nullptr;
        BlockHandle* split = nullptr;
        ASSERT_EQ(resampl_init(params, &alone), 1);
        ASSERT_EQ(resampl_init(params, &split), 1);
        const std::string expected = Whole(resampl_data, alone, {parts[0]});
        ASSERT_EQ(sigkit_block_prepare(split, parts[0].data(), 8000), 1);
        const void* out = nullptr;
        int32_t outBytes = -1;
        EXPECT_EQ(resampl_data(split, parts[0].data(), 7996, &out, &outBytes), 0);
        EXPECT_EQ(outBytes, 0);
        EXPECT_EQ(resampl_data(split, parts[0].data(), 8000, &out, &outBytes), 1);
        EXPECT_TRUE(std::string(static_cast<const char*>(out),
                                static_cast<std::size_t>(outBytes)) == expected);
        resampl_free(alone);
        resampl_free(split);
    }
    // A handle freed with blocks still prepared frees them (the sanitizer build sees any leak).
    {
        BlockHandle* handle = nullptr;
        ASSERT_EQ(resampl_init(params, &handle), 1);
        for (const std::string& part : parts)
            ASSERT_EQ(sigkit_block_prepare(handle, part.data(), 8000), 1);
        EXPECT_EQ(resampl_free(handle), 1);
    }
}
