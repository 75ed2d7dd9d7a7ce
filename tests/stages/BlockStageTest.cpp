// The block layer the five processing stages share: blocks read at any address, the output of a
// block within the bound the handles check a call against, and a block handed out over several
// Gets when one Get cannot hold it.
#include "stages/BlockStage.h"
#include "stages/FreqConv.h"
#include "stages/IQ2R.h"
#include "stages/ReSampl.h"
#include "stages/SpInv.h"
#include "stages/demod/AM_Demod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sigkit;

struct Kind
{
    const char* name;
    std::function<std::unique_ptr<BlockStage>()> make;
};

std::unique_ptr<BlockStage>
Started(std::unique_ptr<BlockStage> stage,
        std::initializer_list<std::pair<const char*, const char*>> params)
{
    for (const auto& [name, value] : params)
        stage->SetParam(name, value);
    stage->Start();
    return stage;
}

// Every stage, with real and complex input, decimating and interpolating.
std::vector<Kind> Kinds()
{
    std::vector<Kind> kinds;
    for (const char* mode : {"Complex", "Simpl"})
    {
        kinds.push_back({"FreqConv", [mode] {
                             return Started(std::make_unique<FreqConv>(), {{"ModeInp", mode},
                                                                           {"Fd", "48000"},
                                                                           {"Fp", "6000"},
                                                                           {"Fn", "3000"}});
                         }});
        for (const char* out : {"8000", "44100", "200000"})
            kinds.push_back({"ReSampl", [mode, out] {
                                 return Started(std::make_unique<ReSampl>(), {{"ModeInp", mode},
                                                                              {"Fd", "48000"},
                                                                              {"FdOut", out},
                                                                              {"Fn", "3000"}});
                             }});
        for (const char* demod : {"AM", "FM"})
            kinds.push_back({"AM_Demod", [mode, demod] {
                                 return Started(std::make_unique<AM_Demod>(), {{"ModeInp", mode},
                                                                               {"Mode", demod},
                                                                               {"Fd", "48000"},
                                                                               {"FdOut", "12000"},
                                                                               {"Fn", "3000"}});
                             }});
        kinds.push_back({"IQ2R", [mode] {
                             return Started(std::make_unique<IQ2R>(), {{"ModeInp", mode}});
                         }});
        kinds.push_back({"SpInv", [mode] {
                             return Started(std::make_unique<SpInv>(), {{"ModeInp", mode}});
                         }});
    }
    return kinds;
}

std::vector<float> Signal(std::size_t n)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-100.0f, 100.0f);
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] =
            1000.0f * static_cast<float>(std::sin(0.05 * static_cast<double>(i))) + noise(random);
    return x;
}

// One Put of the bytes and every Get until nothing comes.
std::vector<float> PutAndGetAll(BlockStage& stage, const void* block, std::size_t floats)
{
    stage.Put(0, block, static_cast<int32_t>(4 * floats));
    std::vector<float> out;
    for (;;)
    {
        const void* data = nullptr;
        int32_t bytes = 0;
        if (stage.Get(0, &data, &bytes) <= 0)
            break;
        const std::size_t old = out.size();
        out.resize(old + static_cast<std::size_t>(bytes) / 4);
        std::memcpy(out.data() + old, data, static_cast<std::size_t>(bytes));
    }
    return out;
}

TEST(BlockStage, BlocksAtAnyAddressGiveTheSameOutput)
{
    const std::vector<float> x = Signal(9001);
    std::vector<unsigned char> shifted(4 * x.size() + 3);
    for (const Kind& kind : Kinds())
    {
        SCOPED_TRACE(kind.name);
        auto aligned = kind.make();
        auto unaligned = kind.make();
        for (std::size_t at = 0, k = 0; at < x.size(); ++k)
        {
            const std::size_t n = std::min<std::size_t>(k % 2 == 0 ? 1001 : 4097, x.size() - at);
            unsigned char* block = shifted.data() + 1 + k % 3;
            std::memcpy(block, x.data() + at, 4 * n);
            ASSERT_EQ(PutAndGetAll(*unaligned, block, n), PutAndGetAll(*aligned, x.data() + at, n))
                << at;
            at += n;
        }
    }
}

TEST(BlockStage, OutputStaysWithinTheBoundGivenBeforeThePut)
{
    const std::vector<float> x = Signal(60001);
    std::mt19937 random(12);
    std::uniform_int_distribution<std::size_t> size(1, 9000);
    for (const Kind& kind : Kinds())
    {
        SCOPED_TRACE(kind.name);
        auto stage = kind.make();
        std::size_t total = 0;
        std::size_t bounds = 0;
        for (std::size_t at = 0; at < x.size();)
        {
            const std::size_t n = std::min(size(random), x.size() - at);
            const std::size_t bound = stage->MostOutputFloats(n);
            const std::size_t got = PutAndGetAll(*stage, x.data() + at, n).size();
            ASSERT_LE(got, bound) << "at " << at << " n " << n;
            total += got;
            bounds += bound;
            at += n;
        }
        // Close to the true count: beyond the dropped start-up outputs (up to 550), a few
        // outputs per block and a hundredth.
        EXPECT_LE(static_cast<double>(bounds), 1.01 * static_cast<double>(total) + 2000.0);
    }
}

TEST(BlockStage, OutputBeyondOneGetIsHandedOutOverSeveralWithNothingLost)
{
    // SpInv takes a limit per Get; the other stages share the same loop.
    const std::vector<float> x = Signal(20001);
    for (const char* mode : {"Complex", "Simpl"})
    {
        auto whole = std::make_unique<SpInv>();
        auto limited = std::make_unique<SpInv>(1000);
        whole->SetParam("ModeInp", mode);
        limited->SetParam("ModeInp", mode);
        whole->Start();
        limited->Start();
        EXPECT_EQ(PutAndGetAll(*limited, x.data(), x.size()),
                  PutAndGetAll(*whole, x.data(), x.size()))
            << mode;
    }
}

} // namespace
