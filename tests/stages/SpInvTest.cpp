#include "stages/SpInv.h"

#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using sigkit::SpInv;
using Floats = std::vector<float>;

std::unique_ptr<SpInv> Inverter(const char* mode, const char* revIQ = "Off",
                                int32_t outLimit = SpInv::kMaxOutFloats)
{
    auto stage = std::make_unique<SpInv>(outLimit);
    stage->SetParam("ModeInp", mode);
    stage->SetParam("RevIQ", revIQ);
    stage->SetParam("ReSampl", "Off");
    stage->Start();
    return stage;
}

// One Put and one Get.
Floats Process(SpInv& stage, const Floats& in)
{
    EXPECT_EQ(stage.Put(0, in.data(), static_cast<int32_t>(in.size() * 4)),
              static_cast<int32_t>(in.size()));
    const void* block = nullptr;
    int32_t bytes = -1;
    const int32_t result = stage.Get(0, &block, &bytes);
    EXPECT_EQ(result, bytes);
    Floats out(static_cast<std::size_t>(bytes) / 4);
    if (bytes > 0)
        std::memcpy(out.data(), block, static_cast<std::size_t>(bytes));
    return out;
}

// One Put, then Gets until the block is used up.
Floats RunAll(SpInv& stage, const Floats& in, int* gets = nullptr)
{
    stage.Put(0, in.data(), static_cast<int32_t>(in.size() * 4));
    Floats out;
    int count = 0;
    for (;;)
    {
        const void* block = nullptr;
        int32_t bytes = 0;
        if (stage.Get(0, &block, &bytes) == 0)
            break;
        ++count;
        const auto* floats = static_cast<const float*>(block);
        out.insert(out.end(), floats, floats + bytes / 4);
    }
    if (gets != nullptr)
        *gets = count;
    return out;
}

// ---- Complex input.

TEST(SpInv, ComplexPairsAreExchanged)
{
    auto stage = Inverter("Complex");
    EXPECT_EQ(Process(*stage, {1, 2, 3, 4}), (Floats{2, 1, 4, 3}));
}

TEST(SpInv, RevIQCancelsTheExchange)
{
    auto stage = Inverter("Complex", "On");
    EXPECT_EQ(Process(*stage, {1, 2, 3, 4}), (Floats{1, 2, 3, 4}));
}

TEST(SpInv, HalfPairWaitsForTheNextBlock)
{
    auto stage = Inverter("Complex");
    EXPECT_EQ(Process(*stage, {1, 2, 3}), (Floats{2, 1}));
    EXPECT_EQ(Process(*stage, {5, 6}), (Floats{5, 3}));
    EXPECT_EQ(Process(*stage, {}), Floats{});
    EXPECT_EQ(Process(*stage, {7}), (Floats{7, 6}));
    EXPECT_EQ(Process(*stage, {8}), Floats{});
    EXPECT_EQ(Process(*stage, {9, 10, 11}), (Floats{9, 8, 11, 10}));
    // Start forgets a waiting half.
    EXPECT_EQ(Process(*stage, {12}), Floats{});
    stage->Start();
    EXPECT_EQ(Process(*stage, {13, 14}), (Floats{14, 13}));
}

TEST(SpInv, ComplexToneMovesToTheMirrorFrequency)
{
    auto stage = Inverter("Complex");
    const Floats out = Process(*stage, sigtest::ComplexTone(4096, 3000.0, 48000.0, 100.0));
    // Exact exchanges of a closed-form tone: the measured amplitude is the tone's own.
    EXPECT_NEAR(sigtest::ComplexToneAmplitude(out, -3000.0, 48000.0), 100.0, 1e-3);
    EXPECT_NEAR(sigtest::ComplexToneAmplitude(out, 3000.0, 48000.0), 0.0, 1e-3);
}

// ---- Real input.

TEST(SpInv, RealInputGivesTwoFloatsPerSampleWithISettlingFor150Pairs)
{
    auto stage = Inverter("Simpl");
    const Floats in(400, 2.0f);
    const Floats out = Process(*stage, in);
    ASSERT_EQ(out.size(), 800u);
    for (int pair = 0; pair < 150; ++pair)
        EXPECT_EQ(out[2 * pair + 1], 0.0f) << pair; // I, second of each output pair
    EXPECT_EQ(out[2 * 150 + 1], 2.0f);
}

TEST(SpInv, RealToneComesOutAtTheNegativeFrequency)
{
    auto stage = Inverter("Simpl");
    const double rate = 44100.0;
    const Floats out = Process(*stage, sigtest::RealTone(8192, 5000.0, rate, 1000.0));
    // The analytic signal keeps the full amplitude (within the Hilbert ripple of 0.2 %), mirrored.
    EXPECT_NEAR(sigtest::ComplexToneAmplitude(out, -5000.0, rate, 400), 1000.0, 2.5);
    EXPECT_LT(sigtest::ComplexToneAmplitude(out, 5000.0, rate, 400), 2.5);
}

TEST(SpInv, RevIQDoesNotChangeRealInput)
{
    auto plain = Inverter("Simpl");
    auto reversed = Inverter("Simpl", "On");
    const Floats in = sigtest::RealTone(1000, 300.0, 8000.0, 50.0);
    EXPECT_EQ(Process(*plain, in), Process(*reversed, in));
}

TEST(SpInv, SplitterHistoryCarriesAcrossBlocksAndStartClearsIt)
{
    const Floats in = sigtest::RealTone(3000, 700.0, 8000.0, 50.0);
    auto whole = Inverter("Simpl");
    const Floats expected = Process(*whole, in);
    auto pieces = Inverter("Simpl");
    Floats out;
    for (std::size_t first = 0; first < in.size(); first += 333)
    {
        const Floats piece(in.begin() + first, in.begin() + std::min(first + 333, in.size()));
        const Floats part = Process(*pieces, piece);
        out.insert(out.end(), part.begin(), part.end());
    }
    EXPECT_EQ(out, expected);
    pieces->Start();
    EXPECT_EQ(Process(*pieces, in), expected);
}

// ---- Blocks larger than the output buffer.

TEST(SpInv, BlockLargerThanTheOutputBufferGivesAllItsOutputAtOnce)
{
    const Floats real = sigtest::RealTone(100000, 1234.0, 48000.0, 1000.0);
    auto whole = Inverter("Simpl");
    const Floats out = Process(*whole, real);
    ASSERT_EQ(out.size(), 200000u);
    EXPECT_EQ(whole->OutCapacity(), 200000u);
    auto pieces = Inverter("Simpl");
    Floats expected;
    for (std::size_t first = 0; first < real.size(); first += 10000)
    {
        const Floats part =
            Process(*pieces, Floats(real.begin() + first, real.begin() + first + 10000));
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(pieces->OutCapacity(), static_cast<std::size_t>(SpInv::kOutBufferFloats));

    auto complex = Inverter("Complex");
    Floats iq(200001);
    for (std::size_t i = 0; i < iq.size(); ++i)
        iq[i] = static_cast<float>(i);
    const Floats swapped = Process(*complex, iq);
    ASSERT_EQ(swapped.size(), 200000u);
    EXPECT_EQ(swapped[0], 1.0f);
    EXPECT_EQ(swapped[199999], 199998.0f);
    EXPECT_EQ(Process(*complex, {-1.0f}), (Floats{-1.0f, 200000.0f}));
}

TEST(SpInv, OutputBeyondOneGetsLimitIsHandedOutInPartsWithNothingLost)
{
    const Floats real = sigtest::RealTone(2501, 900.0, 8000.0, 10.0);
    auto unlimited = Inverter("Simpl");
    const Floats expected = Process(*unlimited, real);
    auto limited = Inverter("Simpl", "Off", 1001); // whole pairs: 1000 floats per Get
    int gets = 0;
    EXPECT_EQ(RunAll(*limited, real, &gets), expected);
    EXPECT_EQ(gets, 6);

    auto complex = Inverter("Complex", "Off", 4);
    EXPECT_EQ(RunAll(*complex, {1, 2, 3, 4, 5, 6, 7}, &gets), (Floats{2, 1, 4, 3, 6, 5}));
    EXPECT_EQ(gets, 2);
    EXPECT_EQ(RunAll(*complex, {8}), (Floats{8, 7}));
}

// ---- Stage contract.

TEST(SpInv, StoppedStageRefusesInputAndGetHandsOutOnce)
{
    SpInv stage;
    const Floats in = {1, 2, 3, 4};
    EXPECT_EQ(stage.Put(0, in.data(), 16), 0); // constructed stopped
    const void* block = nullptr;
    int32_t bytes = -1;
    EXPECT_EQ(stage.Get(0, &block, &bytes), 0);
    EXPECT_EQ(bytes, 0);
    stage.Start();
    EXPECT_EQ(stage.Put(5, in.data(), 16), 4); // the port is not looked at
    EXPECT_EQ(stage.Get(1, &block, &bytes), 0);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(stage.Get(0, &block, &bytes), 16);
    EXPECT_EQ(stage.Get(0, &block, &bytes), 0);
    EXPECT_EQ(bytes, 0);
    stage.Stop();
    EXPECT_EQ(stage.Put(0, in.data(), 16), 0);
    EXPECT_EQ(stage.Get(0, &block, &bytes), 0);
    EXPECT_EQ(stage.Get(0, nullptr, nullptr), 0);
}

TEST(SpInv, CountsWholeFloatsAndReadsUnalignedBlocks)
{
    auto stage = Inverter("Complex");
    const Floats in = {1, 2, 3, 4};
    EXPECT_EQ(stage->Put(0, in.data(), 7), 1);
    EXPECT_EQ(stage->Put(0, in.data(), -8), 0);
    EXPECT_EQ(stage->Put(0, nullptr, 8), 0);
    std::vector<unsigned char> bytes(1 + 16);
    std::memcpy(bytes.data() + 1, in.data(), 16);
    EXPECT_EQ(stage->Put(0, bytes.data() + 1, 16), 4);
    const void* block = nullptr;
    int32_t count = 0;
    ASSERT_EQ(stage->Get(0, &block, &count), 16);
    const auto* out = static_cast<const float*>(block);
    EXPECT_EQ(Floats(out, out + 4), (Floats{2, 1, 4, 3}));
}

TEST(SpInv, ParametersCompareExactlyAndOthersChangeNothing)
{
    auto stage = Inverter("Complex");
    stage->SetParam("Quality", "High");
    stage->SetParam("ReSampl", "On");
    stage->SetParam("Test", "On");
    stage->SetParam("Fd", "48000");
    stage->SetParam("revIQ", "On");
    EXPECT_EQ(Process(*stage, {1, 2}), (Floats{2, 1}));
    stage->SetParam("ModeInp", "complex"); // not "Complex": real input
    EXPECT_EQ(Process(*stage, {1, 2}).size(), 4u);
}

} // namespace
