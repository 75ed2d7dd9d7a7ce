// The resampler's output schedule, a pure function of the ratio and the accumulator: it gives
// exactly the outputs of one add of 1 per input, in runs of any length, and stays within the
// bounds the stages size their outputs by.
#include "stages/filters/ResampleSchedule.h"
#include "stages/filters/PolyphaseResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace sigkit;
using schedule::Accumulator;
using schedule::Due;

uint32_t Bits(float x)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// The definition: one add of 1 per input; where the sum reaches R an output at the fraction
// sum - R, which becomes the accumulator.
std::vector<Due> AddByAdd(float R, int32_t count, float& acc)
{
    std::vector<Due> due;
    for (int32_t i = 0; i < count; ++i)
    {
        acc = acc + 1.0f;
        if (acc < R)
            continue;
        const float frac = acc - R;
        acc = frac;
        due.push_back({i, frac});
    }
    return due;
}

// Ratios of every path: whole ones (one pattern from 0), fractional ones whose jumps hold and
// ones whose fractions have too many bits for them, the thresholds, and beyond 2^24 (the adds
// stop at 2^24 and no output comes).
constexpr float kRatios[] = {1.0f,
                             2.0f,
                             5.0f,
                             5.5125f,
                             44100.0f / 8000.0f,
                             7.99f,
                             8.0f,
                             20.0f,
                             31.5f,
                             32.0f,
                             50.0f,
                             240000.0f / 48000.0f,
                             342857.0f / 48000.0f,
                             1e6f,
                             16777216.0f,
                             3e7f,
                             1.0000001f};

TEST(ResampleSchedule, GivesTheOutputsOfOneAddPerInputInRunsOfAnyLength)
{
    std::mt19937 random(5);
    std::uniform_int_distribution<int32_t> length(1, 3000);
    for (float R : kRatios)
        for (bool jumps : {true, false})
        {
            SCOPED_TRACE(testing::Message() << "R = " << R << (jumps ? "" : " without jumps"));
            float reference = 0.0f;
            Accumulator state;
            std::vector<Due> due(3000);
            int32_t total = 0;
            while (total < 40000)
            {
                const int32_t count = length(random);
                state.jumps = jumps;
                const std::vector<Due> expected = AddByAdd(R, count, reference);
                const int32_t outputs = schedule::Schedule(R, count, state, due.data());
                ASSERT_EQ(outputs, static_cast<int32_t>(expected.size())) << "at input " << total;
                ASSERT_LE(static_cast<std::size_t>(outputs), schedule::MostDue(count, R));
                for (int32_t k = 0; k < outputs; ++k)
                {
                    ASSERT_EQ(due[k].input, expected[k].input) << k;
                    ASSERT_EQ(Bits(due[k].frac), Bits(expected[k].frac)) << k;
                }
                ASSERT_EQ(Bits(state.acc), Bits(reference));
                const bool lastGave = !expected.empty() && expected.back().input == count - 1;
                ASSERT_EQ(state.last, lastGave ? 1 : 0);
                total += count;
            }
        }
}

// Any ratio from any accumulator: ratios drawn over the binades (whole, fine fractions, just
// below and above a power of two, where sums leave R's binade), accumulators with bits finer than
// the sums keep, and the rates users set.
TEST(ResampleSchedule, MatchesTheAddsForRandomRatiosAndAccumulators)
{
    std::mt19937 random(17);
    std::uniform_real_distribution<float> exponent(0.0f, 17.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int32_t> length(1, 700);
    for (int k = 0; k < 400; ++k)
    {
        float R = std::exp2(exponent(random));
        if (k % 4 == 1)
            R = std::round(R);
        else if (k % 4 == 2)
            R = std::nextafter(std::exp2(std::round(exponent(random))), k % 8 == 2 ? 0.0f : 1e9f);
        R = std::max(R, 1.0f);
        float reference = k % 3 == 0 ? 0.0f : std::min(unit(random) * R, std::nextafter(R, 0.0f));
        Accumulator state;
        state.acc = reference;
        std::vector<Due> due(701);
        for (int32_t total = 0; total < 6000;)
        {
            const int32_t count = length(random);
            const std::vector<Due> expected = AddByAdd(R, count, reference);
            const int32_t outputs = schedule::Schedule(R, count, state, due.data());
            ASSERT_EQ(outputs, static_cast<int32_t>(expected.size()))
                << "R = " << R << " at input " << total;
            for (int32_t o = 0; o < outputs; ++o)
            {
                ASSERT_EQ(due[o].input, expected[o].input) << "R = " << R << ", output " << o;
                ASSERT_EQ(Bits(due[o].frac), Bits(expected[o].frac)) << "R = " << R;
            }
            ASSERT_EQ(Bits(state.acc), Bits(reference)) << "R = " << R;
            total += count;
        }
    }
}

TEST(ResampleSchedule, PlansFollowTheRatioThresholds)
{
    // Below 8: between phase p = (int)(8·frac) and p + 1 at t, over the phases' N + 7 taps.
    schedule::OutputPlan plan = schedule::Plan(5.5f, 0.3f, 101, 108);
    EXPECT_EQ(plan.phase, 2);
    EXPECT_EQ(plan.length, 108);
    EXPECT_FLOAT_EQ(plan.weight, 0.4f);
    EXPECT_TRUE(plan.interpolates);
    EXPECT_TRUE(plan.neighbourIsPhase);
    plan = schedule::Plan(7.99f, 0.0f, 101, 108);
    EXPECT_EQ(plan.phase, 0);
    EXPECT_EQ(plan.weight, 0.0f);
    // From 8 to 32: phase 0 over N taps, between neighbouring windows at frac.
    plan = schedule::Plan(schedule::kPhasePairRatio, 0.75f, 101, 108);
    EXPECT_EQ(plan.phase, 0);
    EXPECT_EQ(plan.length, 101);
    EXPECT_EQ(plan.weight, 0.75f);
    EXPECT_TRUE(plan.interpolates);
    EXPECT_FALSE(plan.neighbourIsPhase);
    // From 32: phase 0 over one window.
    plan = schedule::Plan(schedule::kNeighbourRatio, 0.75f, 101, 108);
    EXPECT_EQ(plan.length, 101);
    EXPECT_FALSE(plan.interpolates);
}

// Outputs of the interpolating steps for n inputs, from a state `warm` inputs in.
std::size_t InterpolatedOutputs(float R, int32_t warm, int32_t n)
{
    PolyphaseResampler r;
    r.DesignBank(1.0f, 1.0f / R, 0.0f, kWindowHamming, 1);
    std::size_t outputs = 0;
    for (int32_t i = 0; i < warm + n; ++i)
    {
        float oI = 0.0f;
        float oQ = 0.0f;
        for (int32_t res = r.ResampleStep(1.0f, 0.0f, 1.0f, 1.0f / R, oI, oQ); res != 0;
             res = res == 2 ? r.ResampleStep(1.0f, 0.0f, 1.0f, 1.0f / R, oI, oQ) : 0)
            outputs += i >= warm ? 1 : 0;
    }
    return outputs;
}

TEST(ResampleSchedule, MostOutputsBoundEveryPathTightly)
{
    std::mt19937 random(9);
    std::uniform_real_distribution<float> up(1.0f / 4096.0f, 1.0f);
    std::uniform_int_distribution<int32_t> warm(0, 50);
    for (int k = 0; k < 40; ++k)
    {
        const float R = k == 0 ? 1.0f / 4096.0f : k == 1 ? 0.5f : up(random);
        const auto inputs = static_cast<int32_t>(std::min(3000.0f, 2e6f * R));
        const std::size_t outputs = InterpolatedOutputs(R, warm(random), inputs);
        const std::size_t bound =
            PolyphaseResampler::MaxOutputs(static_cast<std::size_t>(inputs), 1.0f, 1.0f / R);
        EXPECT_LE(outputs, bound) << "R = " << R;
        // Within a few outputs and a thousandth of the count.
        EXPECT_LE(static_cast<double>(bound), static_cast<double>(outputs) * 1.001 + 4.0)
            << "R = " << R;
    }
    // Decimating: at most one more than n / R.
    EXPECT_EQ(PolyphaseResampler::MaxOutputs(1000, 48000.0f, 8000.0f), 167u);
    EXPECT_EQ(PolyphaseResampler::MaxOutputs(1000, 48000.0f, 48000.0f), 1000u);
    EXPECT_EQ(PolyphaseResampler::MaxOutputs(1000, 48000.0f, 0.0f), 0u);
}

} // namespace
