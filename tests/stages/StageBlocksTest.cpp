// The stages process a block at a time (the oscillator's sines and cosines for a whole part, the
// filters and the resampler over blocks). These tests keep the per-sample processing the stages
// are defined by - one splitter step, one oscillator step (the standard library's sin and cos),
// one mixer and one filter or resampler step per input (support/ReferenceSteps.h and the
// resampler's own steps) - and check that the stages give its bits, for every quality, ratio path
// and input kind, fed in blocks of many sizes.
#include "stages/FreqConv.h"
#include "stages/IQ2R.h"
#include "stages/ReSampl.h"
#include "stages/SpInv.h"
#include "stages/demod/AM_Demod.h"
#include "stages/demod/AmEnvelope.h"
#include "stages/filters/GatedInterpolator.h"
#include "stages/filters/PolyphaseResampler.h"
#include "support/ReferenceSteps.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace {

using namespace sigkit;
using sigtest::ReferenceOscillator;
using sigtest::Shift;

// ---- The per-sample processing.

// The complex samples of a stream as the stages pair it: real input through the splitter one
// sample at a time, complex input two floats at a time (an odd last value stays unpaired).
std::vector<std::pair<float, float>> Pairs(bool complexInput, const std::vector<float>& input)
{
    std::vector<std::pair<float, float>> pairs;
    if (complexInput)
    {
        for (std::size_t i = 0; i + 1 < input.size(); i += 2)
            pairs.emplace_back(input[i], input[i + 1]);
        return pairs;
    }
    sigtest::ReferenceSplitter splitter;
    for (float x : input)
        pairs.push_back(splitter.Step(x));
    return pairs;
}

// `power`, when given, gets the mean power of the filter's input (times Kamp²), per complex sample.
std::vector<float> ReferenceFreqConv(const FreqConv& stage, const std::vector<float>& input,
                                     double* power = nullptr)
{
    const FilterDesignChoice design = QualityToDesign(stage.quality);
    const std::vector<float> taps =
        sigtest::LowPassTaps(stage.Fd, stage.Fp, design.window, design.taps);
    sigtest::ReferenceFir filterI(taps);
    sigtest::ReferenceFir filterQ(taps);
    ReferenceOscillator oscillator;
    int32_t dropped = 0;
    std::vector<float> out;
    double sum = 0.0;
    std::size_t count = 0;
    for (const auto& [I, Q] : Pairs(stage.IsComplexInput(), input))
    {
        const auto [mI, mQ] = Shift(oscillator, stage.Fd, stage.Fn, I, Q);
        const float yI = filterI.Step(mI);
        const float yQ = filterQ.Step(mQ);
        sum += static_cast<double>(mI) * mI + static_cast<double>(mQ) * mQ;
        ++count;
        if (dropped < (design.taps - 1) / 2)
        {
            ++dropped;
            continue;
        }
        out.push_back(yI * stage.Kamp);
        out.push_back(yQ * stage.Kamp);
    }
    if (power != nullptr)
        *power = count > 0 ? sum / static_cast<double>(count) * stage.Kamp * stage.Kamp : 0.0;
    return out;
}

std::vector<float> ReferenceReSampl(const ReSampl& stage, const std::vector<float>& input)
{
    const FilterDesignChoice design = QualityToDesign(stage.quality);
    auto first = std::make_unique<PolyphaseResampler>();
    auto second = std::make_unique<PolyphaseResampler>();
    if (stage.TwoSteps())
    {
        first->DesignBank(stage.Fd, stage.Fi, 0.0f, design.window, design.taps);
        second->DesignBank(stage.Fi, stage.FdOut, 0.0f, design.window, design.taps);
    }
    else
        first->DesignBank(stage.Fd, stage.FdOut, 0.0f, design.window, design.taps);
    ReferenceOscillator oscillator;
    int32_t dropped = 0;
    std::vector<float> out;
    const auto deliver = [&](float I, float Q) {
        if (dropped < stage.Discard())
        {
            ++dropped;
            return;
        }
        out.push_back(I * stage.Kamp);
        out.push_back(Q * stage.Kamp);
    };
    for (const auto& [I, Q] : Pairs(stage.IsComplexInput(), input))
    {
        const auto [mI, mQ] = Shift(oscillator, stage.Fd, stage.Fn, I, Q);
        float oI = 0.0f;
        float oQ = 0.0f;
        if (!stage.TwoSteps())
        {
            int32_t r = first->ResampleStep(mI, mQ, stage.Fd, stage.FdOut, oI, oQ);
            while (r != 0)
            {
                deliver(oI, oQ);
                if (r != 2)
                    break;
                r = first->ResampleStep(mI, mQ, stage.Fd, stage.FdOut, oI, oQ);
            }
        }
        else if (first->ResampleStep(mI, mQ, stage.Fd, stage.Fi, oI, oQ) != 0)
        {
            float tI = 0.0f;
            float tQ = 0.0f;
            if (second->ResampleStep(oI, oQ, stage.Fi, stage.FdOut, tI, tQ) != 0)
                deliver(tI, tQ);
        }
    }
    return out;
}

std::vector<float> ReferenceDemod(const AM_Demod& stage, const std::vector<float>& input)
{
    const FilterDesignChoice design = QualityToDesign(stage.quality);
    auto resampler = std::make_unique<PolyphaseResampler>();
    resampler->DesignBank(stage.Fd, stage.FdOut, 0.0f, design.window, design.taps);
    ReferenceOscillator oscillator;
    float mean = 0.0f;
    float prevI = 0.0f;
    float prevQ = 0.0f;
    int32_t dropped = 0;
    std::vector<float> out;
    for (const auto& [I, Q] : Pairs(stage.IsComplexInput(), input))
    {
        const auto [mI, mQ] = Shift(oscillator, stage.Fd, stage.FnWork, I, Q);
        float y = 0.0f;
        if (stage.mode == AM_Demod::kAm)
        {
            const float m = std::sqrt(mI * mI + mQ * mQ);
            mean = static_cast<float>(demod::kMeanNew * m +
                                      demod::kMeanKeep * static_cast<double>(mean));
            if (mean == 0.0f)
                mean = 1.0f;
            const float ratio = m / mean;
            y = static_cast<float>((static_cast<double>(ratio) - 1.0) *
                                   static_cast<double>(stage.Kamp));
        }
        else if (stage.mode == AM_Demod::kFm)
        {
            float m = std::sqrt(mI * mI + mQ * mQ);
            if (m == 0.0f)
                m = 1.0f;
            const float u = mI / m;
            const float v = mQ / m;
            y = (prevQ * u - prevI * v) * stage.Kamp;
            prevI = u;
            prevQ = v;
        }
        else
            continue;
        float oI = 0.0f;
        float oQ = 0.0f;
        int32_t r = resampler->ResampleStep(y, 0.0f, stage.Fd, stage.FdOut, oI, oQ);
        while (r != 0)
        {
            if (dropped < stage.Discard())
                ++dropped;
            else
                out.push_back(oI);
            if (r != 2)
                break;
            r = resampler->ResampleStep(y, 0.0f, stage.Fd, stage.FdOut, oI, oQ);
        }
    }
    return out;
}

// Spectral inversion of real input: the analytic pair with I and Q exchanged.
std::vector<float> ReferenceSpInvReal(const std::vector<float>& input)
{
    std::vector<float> out;
    for (const auto& [I, Q] : Pairs(false, input))
    {
        out.push_back(Q);
        out.push_back(I);
    }
    return out;
}

// Real to complex: the analytic pair moved down by a quarter of the rate, decimated by 2, the
// filter delay dropped.
std::vector<float> ReferenceIQ2RReal(const IQ2R& stage, int32_t quality,
                                     const std::vector<float>& input)
{
    const FilterDesignChoice design = QualityToDesign(quality);
    auto resampler = std::make_unique<PolyphaseResampler>();
    resampler->DesignBank(2.0f, 1.0f, 0.0f, design.window, design.taps);
    ReferenceOscillator oscillator;
    int32_t dropped = 0;
    std::vector<float> out;
    for (const auto& [I, Q] : Pairs(false, input))
    {
        const auto [mI, mQ] = Shift(oscillator, 1.0, 0.25, I, Q);
        float oI = 0.0f;
        float oQ = 0.0f;
        if (resampler->ResampleStep(mI, mQ, 2.0f, 1.0f, oI, oQ) == 0)
            continue;
        if (dropped < stage.Discard())
        {
            ++dropped;
            continue;
        }
        out.push_back(oI);
        out.push_back(oQ);
    }
    return out;
}

// Complex to real: each pair through the gate, then zeros until it refuses; every kept output
// moved up by a quarter of the output rate, its I doubled.
std::vector<float> ReferenceIQ2RComplex(const IQ2R& stage, int32_t quality, bool revIQ,
                                        const std::vector<float>& input)
{
    const FilterDesignChoice design = QualityToDesign(quality);
    auto resampler = std::make_unique<GatedInterpolator>();
    resampler->DesignBank(2.0f, 1.0f, 0.0f, design.window, design.taps);
    ReferenceOscillator oscillator;
    int32_t dropped = 0;
    std::vector<float> out;
    for (const auto& [a, b] : Pairs(true, input))
    {
        float oI = 0.0f;
        float oQ = 0.0f;
        int32_t r = resampler->GatedFilterStep(revIQ ? b : a, revIQ ? a : b, 2.0f, 1.0f, oI, oQ);
        while (r != 0)
        {
            if (dropped < stage.Discard())
                ++dropped;
            else
            {
                const auto [mI, mQ] = Shift(oscillator, 1.0, -0.25, oI, oQ);
                out.push_back(2.0f * mI);
            }
            r = resampler->GatedFilterStep(0.0f, 0.0f, 2.0f, 1.0f, oI, oQ);
        }
    }
    return out;
}

// ---- Feeding the stages.

// A signal with tones at the shifted frequencies and values over many magnitudes, so that a
// change in any sum's order shows in the bits.
std::vector<float> Signal(std::size_t floats, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-4, 10);
    std::vector<float> x(floats);
    for (std::size_t i = 0; i < floats; ++i)
        x[i] = 3000.0f * static_cast<float>(std::cos(0.3 * static_cast<double>(i))) +
               std::ldexp(mantissa(random), exponent(random));
    return x;
}

// Blocks of the given sizes in turn (one Put and one port-0 Get each), everything handed out.
std::vector<float> RunInBlocks(Stage& stage, const std::vector<float>& input,
                               const std::vector<int32_t>& sizes)
{
    std::vector<float> output;
    std::size_t at = 0;
    for (std::size_t k = 0; at < input.size(); ++k)
    {
        const std::size_t n = std::min<std::size_t>(
            static_cast<std::size_t>(sizes[k % sizes.size()]), input.size() - at);
        stage.Put(0, input.data() + at, static_cast<int32_t>(4 * n));
        const void* block = nullptr;
        int32_t bytes = 0;
        stage.Get(0, &block, &bytes);
        const auto* floats = static_cast<const float*>(block);
        output.insert(output.end(), floats, floats + bytes / 4);
        at += n;
    }
    return output;
}

// Block sizes in floats: single values, odd counts that split pairs, the console's 300 floats
// (1200 bytes of 16-bit samples), and blocks larger than a gathered part (8192 pairs).
const std::vector<std::vector<int32_t>> kBlockSizes = {
    {1}, {3}, {300}, {7, 1200, 1, 4097}, {20001}};
// For the longer filters (slow references) the sizes that cover every boundary at once.
const std::vector<std::vector<int32_t>> kFewBlockSizes = {{3, 300, 1}, {7, 1200, 1, 20001}};

const std::vector<std::vector<int32_t>>& BlockSizes(const char* quality)
{
    return quality[0] == 'L' ? kBlockSizes : kFewBlockSizes;
}

// The same bits, or both NaN: which of two NaN operands an operation passes on (and so the sign
// of a NaN result) is not fixed by the arithmetic, and compilers order the operands of a sum as
// they see fit, so no computation promises it.
void ExpectSameBits(const std::vector<float>& expected, const std::vector<float>& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    ASSERT_GT(expected.size(), 0u);
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        uint32_t e = 0;
        uint32_t a = 0;
        std::memcpy(&e, &expected[i], 4);
        std::memcpy(&a, &actual[i], 4);
        if (std::isnan(expected[i]) && std::isnan(actual[i]))
            continue;
        ASSERT_EQ(e, a) << "output " << i << ": " << expected[i] << " against " << actual[i];
    }
}

const char* const kQualities[] = {"Low", "Medium", "High"};

// Input lengths that keep the per-sample reference quick and still pass the start-up.
std::size_t Length(const char* quality)
{
    return quality[0] == 'H' ? 24000 : 12000;
}

// ---- The comparisons.

// The frequency converter's long filters run by fast convolution, fed whole hops only: the same
// bits for any blocks, and the per-sample direct form's values within the fast filter's rounding,
// each given hop - 1 inputs later (so the stream ends that many outputs short of the direct
// form's). The bound: the difference's power at least 120 dB below the power of the signal the
// filter takes (scaled by the gain as the outputs are; a band with little in it has outputs far
// below that, the rounding of the sums does not shrink with them), and every value within a unit
// of the 16-bit scale the signal is at, so 8- and 16-bit outputs move by at most 1.
TEST(StageBlocks, FreqConvGivesTheSameBitsForAnyBlocksAndTheDirectFormWithinItsRounding)
{
    for (bool complexInput : {true, false})
        for (const char* quality : kQualities)
            for (float Fn : {12000.0f, -31000.0f, 0.0f})
            {
                SCOPED_TRACE(testing::Message()
                             << (complexInput ? "complex " : "real ") << quality << " Fn " << Fn);
                std::vector<float> input = Signal(Length(quality), 1);
                for (float& x : input)
                    x *= 7.0f; // near 16-bit full scale
                auto stage = std::make_unique<FreqConv>();
                stage->SetParam("ModeInp", complexInput ? "Complex" : "Simpl");
                stage->SetParam("Fd", "240000");
                stage->SetParam("Fn", std::to_string(Fn).c_str());
                stage->SetParam("Fp", "24000");
                stage->SetParam("Kamp", "0.75");
                stage->SetParam("Quality", quality);
                const int32_t taps = stage->Start();
                ASSERT_GT(taps, 0);
                const std::vector<float> whole =
                    RunInBlocks(*stage, input, {static_cast<int32_t>(input.size())});
                for (const auto& sizes : BlockSizes(quality))
                {
                    ASSERT_GT(stage->Start(), 0);
                    ExpectSameBits(whole, RunInBlocks(*stage, input, sizes));
                }

                double power = 0.0;
                const std::vector<float> direct = ReferenceFreqConv(*stage, input, &power);
                const std::size_t later =
                    2 * static_cast<std::size_t>(stage->Discard() - (taps - 1) / 2);
                ASSERT_GT(later, 0u) << "the long filters take the fast path";
                ASSERT_EQ(whole.size() + later, direct.size());
                double error = 0.0;
                float largest = 0.0f;
                for (std::size_t i = 0; i < whole.size(); ++i)
                {
                    const double d = static_cast<double>(whole[i]) - direct[i];
                    error += d * d;
                    largest = std::max(largest, static_cast<float>(std::fabs(d)));
                }
                // Power per complex sample: two floats each.
                const double errorPower = 2.0 * error / static_cast<double>(whole.size());
                EXPECT_LT(10.0 * std::log10(errorPower / power), -120.0);
                EXPECT_LT(largest, 1.0f);
            }
}

// Ratios of every path: one step with t = 0 (240k -> 48k) and with a varying phase (44.1k ->
// 8k), two steps (2.4M -> 48k, 240k -> 12k), equal rates, and an output rate above the input's.
constexpr float kResampleRates[][2] = {{240000, 48000}, {44100, 8000},  {2400000, 48000},
                                       {240000, 12000}, {48000, 48000}, {8000, 48000}};

TEST(StageBlocks, ReSamplGivesThePerSampleBits)
{
    for (const auto& rates : kResampleRates)
        for (bool complexInput : {true, false})
            for (const char* quality : kQualities)
            {
                SCOPED_TRACE(testing::Message()
                             << rates[0] << " -> " << rates[1] << " "
                             << (complexInput ? "complex " : "real ") << quality);
                // One stage, started again for every run (a Start clears everything).
                auto stage = std::make_unique<ReSampl>();
                stage->SetParam("ModeInp", complexInput ? "Complex" : "Simpl");
                stage->Fd = rates[0];
                stage->FdOut = rates[1];
                stage->SetParam("Fn", "10000");
                stage->SetParam("Kamp", "2");
                stage->SetParam("Quality", quality);
                ASSERT_GT(stage->Start(), 0);
                // Enough input to pass the start-up and give 200 outputs more.
                const auto pairs = static_cast<std::size_t>((stage->Discard() + 200) *
                                                            std::max(1.0f, rates[0] / rates[1]));
                const std::vector<float> input = Signal(std::max(Length(quality), 2 * pairs), 2);
                const std::vector<float> expected = ReferenceReSampl(*stage, input);
                for (const auto& sizes : BlockSizes(quality))
                {
                    ASSERT_GT(stage->Start(), 0);
                    ExpectSameBits(expected, RunInBlocks(*stage, input, sizes));
                }
            }
}

constexpr float kDemodRates[][2] = {{240000, 12000}, {44100, 8000}, {48000, 48000}, {8000, 48000}};

TEST(StageBlocks, DemodulatorGivesThePerSampleBitsForAmAndFm)
{
    for (const char* mode : {"AM", "FM"})
        for (const auto& rates : kDemodRates)
            for (bool complexInput : {true, false})
                for (const char* quality : kQualities)
                {
                    SCOPED_TRACE(testing::Message()
                                 << mode << " " << rates[0] << " -> " << rates[1]
                                 << (complexInput ? " complex " : " real ") << quality);
                    // Past the start-up (AM drops (N + 999) / 2 outputs), and 200 outputs more.
                    const auto pairs =
                        static_cast<std::size_t>(((QualityToDesign(quality).taps + 999) / 2 + 200) *
                                                 std::max(1.0f, rates[0] / rates[1]));
                    const std::vector<float> input =
                        Signal(std::max(Length(quality), 2 * pairs), 3);
                    std::vector<float> expected;
                    for (const auto& sizes : BlockSizes(quality))
                    {
                        // A new stage each run: the FM discriminator's previous phasor outlives
                        // a Start.
                        auto stage = std::make_unique<AM_Demod>();
                        stage->SetParam("ModeInp", complexInput ? "Complex" : "Simpl");
                        stage->SetParam("Mode", mode);
                        stage->Fd = rates[0];
                        stage->FdOut = rates[1];
                        stage->SetParam("Fn", "-20000");
                        stage->SetParam("Kamp", "3");
                        stage->SetParam("Quality", quality);
                        ASSERT_GT(stage->Start(), 0);
                        if (expected.empty())
                            expected = ReferenceDemod(*stage, input);
                        ExpectSameBits(expected, RunInBlocks(*stage, input, sizes));
                    }
                }
}

TEST(StageBlocks, RealInputOfSpInvAndIQ2RGivesThePerSampleBits)
{
    std::vector<float> input = Signal(30000, 5);
    input[20000] = std::numeric_limits<float>::infinity(); // the splitter's exact path
    for (const auto& sizes : kBlockSizes)
    {
        auto inversion = std::make_unique<SpInv>();
        inversion->SetParam("ModeInp", "Simpl");
        inversion->Start();
        ExpectSameBits(ReferenceSpInvReal(input), RunInBlocks(*inversion, input, sizes));
        for (int32_t quality = 0; quality < 3; ++quality)
        {
            auto stage = std::make_unique<IQ2R>();
            stage->SetParam("ModeInp", "Simpl");
            stage->SetParam("Quality", kQualities[quality]);
            stage->Start();
            ExpectSameBits(ReferenceIQ2RReal(*stage, quality, input),
                           RunInBlocks(*stage, input, sizes));
        }
    }
}

TEST(StageBlocks, ComplexInputOfIQ2RGivesThePerSampleBits)
{
    const std::vector<float> input = Signal(30001, 6);
    for (int32_t quality = 0; quality < 3; ++quality)
        for (bool revIQ : {false, true})
        {
            auto stage = std::make_unique<IQ2R>();
            stage->SetParam("ModeInp", "Complex");
            stage->SetParam("RevIQ", revIQ ? "On" : "Off");
            stage->SetParam("Quality", kQualities[quality]);
            stage->Start();
            const std::vector<float> expected = ReferenceIQ2RComplex(*stage, quality, revIQ, input);
            for (const auto& sizes : BlockSizes(kQualities[quality]))
            {
                stage->Start();
                ExpectSameBits(expected, RunInBlocks(*stage, input, sizes));
            }
        }
}

// The fast filter carries a non-finite sample into every output of the transforms that see it:
// those of its hop and the next (which holds it in its history), and no other output changes.
TEST(StageBlocks, FreqConvKeepsANonFiniteSampleToTheTwoHopsThatHoldIt)
{
    const std::vector<float> clean = Signal(2 * 60000, 5);
    for (const char* quality : kQualities)
        for (float wild :
             {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        {
            SCOPED_TRACE(testing::Message() << quality << " " << wild);
            auto stage = std::make_unique<FreqConv>();
            stage->SetParam("ModeInp", "Complex");
            stage->SetParam("Fd", "240000");
            stage->SetParam("Fn", "12000");
            stage->SetParam("Fp", "24000");
            stage->SetParam("Quality", quality);
            const int32_t taps = stage->Start();
            const int32_t delay = (taps - 1) / 2;
            const int32_t hop = stage->Discard() - delay + 1;
            const std::vector<float> expected = RunInBlocks(*stage, clean, {1200});
            std::vector<float> input = clean;
            const int32_t at = 3 * hop + 17; // the pair spoiled
            input[2 * static_cast<std::size_t>(at)] = wild;
            ASSERT_GT(stage->Start(), 0);
            const std::vector<float> actual = RunInBlocks(*stage, input, {1200});
            ASSERT_EQ(expected.size(), actual.size());
            // Output k is the filter's output for input k + delay.
            const auto first = static_cast<std::size_t>(2 * (3 * hop - delay));
            const auto end = static_cast<std::size_t>(2 * (5 * hop - delay));
            for (std::size_t i = 0; i < actual.size(); ++i)
            {
                if (i >= first && i < end)
                    continue;
                ASSERT_EQ(std::memcmp(&expected[i], &actual[i], sizeof(float)), 0) << i;
            }
            EXPECT_FALSE(std::isfinite(actual[2 * static_cast<std::size_t>(at - delay)]));
        }
}

TEST(StageBlocks, NonFiniteAndHugeInputGiveThePerSampleBits)
{
    // Infinities, NaN and values near the float limit: the shortcuts that hold only for finite,
    // moderate samples (skipped zero taps, a neighbouring sum of weight 0) must step aside.
    std::vector<float> input = Signal(40000, 4);
    const float wild[] = {std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(), -3e38f, 1e30f};
    for (std::size_t i = 3000, k = 0; i < input.size(); i += 3331, ++k)
        input[i] = wild[k % 4];
    for (bool complexInput : {true, false})
    {
        SCOPED_TRACE(complexInput ? "complex" : "real");
        for (const auto& rates : kResampleRates)
        {
            SCOPED_TRACE(testing::Message() << rates[0] << " -> " << rates[1]);
            auto stage = std::make_unique<ReSampl>();
            stage->SetParam("ModeInp", complexInput ? "Complex" : "Simpl");
            stage->Fd = rates[0];
            stage->FdOut = rates[1];
            stage->SetParam("Fn", "10000");
            stage->Start();
            ExpectSameBits(ReferenceReSampl(*stage, input), RunInBlocks(*stage, input, {1200}));
        }
        for (const char* mode : {"AM", "FM"})
            for (const char* kamp : {"1", "3e37"})
            {
                SCOPED_TRACE(testing::Message() << mode << " Kamp " << kamp);
                auto demod = std::make_unique<AM_Demod>();
                demod->SetParam("ModeInp", complexInput ? "Complex" : "Simpl");
                demod->SetParam("Mode", mode);
                demod->SetParam("Fd", "240000");
                demod->SetParam("FdOut", "12000");
                demod->SetParam("Fn", "20000");
                demod->SetParam("Kamp", kamp);
                demod->Start();
                ExpectSameBits(ReferenceDemod(*demod, input), RunInBlocks(*demod, input, {1200}));
            }
    }
}

} // namespace
