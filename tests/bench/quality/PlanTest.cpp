#include "Plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace sigquality {
namespace {

constexpr double kPi = std::numbers::pi;

Plan TwoSegments()
{
    Plan plan;
    plan.lead = 0.2;
    plan.tail = 0.3;
    plan.fade = 0.01;
    plan.guard = 0.05;
    plan.Add("probe", Shape::Probe, {{500.0, 0.5, 0.0}}, 0.3);
    plan.Add("tone", Shape::Steady, {{1000.0, 0.8, 0.25}}, 0.2);
    return plan;
}

TEST(Plan, SegmentsFollowTheLeadAndEachOther)
{
    const Plan plan = TwoSegments();
    EXPECT_DOUBLE_EQ(plan.Find("probe")->start, 0.2);
    EXPECT_DOUBLE_EQ(plan.Find("tone")->start, 0.5);
    EXPECT_DOUBLE_EQ(plan.Duration(), 1.0);
    EXPECT_EQ(plan.Find("none"), nullptr);
}

TEST(Plan, SteadyToneHasItsAmplitudeAndPhaseBetweenTheFades)
{
    const Plan plan = TwoSegments();
    const double t = 0.6;
    EXPECT_NEAR(std::abs(plan.At(t) - 0.8 * std::polar(1.0, 2 * kPi * 1000 * t + 0.25)), 0.0,
                1e-12);
    // Silence in the lead and the tail.
    EXPECT_EQ(plan.At(0.1), Complex{});
    EXPECT_EQ(plan.At(0.95), Complex{});
}

TEST(Plan, EnvelopesRiseFromZeroSmoothly)
{
    const Plan plan = TwoSegments();
    const Segment& tone = *plan.Find("tone");
    const Segment& probe = *plan.Find("probe");
    EXPECT_NEAR(plan.Envelope(tone, tone.start), 0.0, 1e-15);
    EXPECT_NEAR(plan.Envelope(tone, tone.start + 0.005), 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(plan.Envelope(tone, tone.start + 0.01), 1.0);
    EXPECT_NEAR(plan.Envelope(tone, tone.start + tone.length), 0.0, 1e-15);
    EXPECT_NEAR(plan.Envelope(probe, probe.start + probe.length / 2), 1.0, 1e-15);
    EXPECT_NEAR(plan.Envelope(probe, probe.start + probe.length / 4), 0.5, 1e-12);
}

TEST(Plan, RendersRealPartsOrComplexFrames)
{
    const Plan plan = TwoSegments();
    const Signal real = plan.RenderSignal(8000.0, false);
    const Signal iq = plan.RenderSignal(8000.0, true);
    ASSERT_EQ(real.Frames(), 8000u);
    ASSERT_EQ(iq.Frames(), 8000u);
    const std::size_t n = 4800; // t = 0.6 s
    EXPECT_FLOAT_EQ(real.samples[n], static_cast<float>(plan.At(0.6).real()));
    EXPECT_FLOAT_EQ(iq.samples[2 * n + 1], static_cast<float>(plan.At(0.6).imag()));
}

TEST(Plan, AnalysisFramesFollowTheDelayAndStopAtTheEnd)
{
    const Plan plan = TwoSegments();
    const Segment& tone = *plan.Find("tone");
    std::size_t first = 0, count = 0;
    // Guards of 0.05 s: 0.55 .. 0.65 s, at 10 kHz frames 5500 .. 6500.
    ASSERT_TRUE(plan.AnalysisFrames(tone, 10000.0, 0.0, 10000, first, count));
    EXPECT_EQ(first, 5500u);
    EXPECT_EQ(count, 1000u);
    // 12.5 frames late.
    ASSERT_TRUE(plan.AnalysisFrames(tone, 10000.0, 12.5 / 10000.0, 10000, first, count));
    EXPECT_EQ(first, 5513u);
    // An output cut short keeps what it has, and nothing when too little is left.
    ASSERT_TRUE(plan.AnalysisFrames(tone, 10000.0, 0.0, 6000, first, count));
    EXPECT_EQ(count, 500u);
    EXPECT_FALSE(plan.AnalysisFrames(tone, 10000.0, 0.0, 5520, first, count));
    // An output that starts early by more than the segment's start has no frames before 0.
    EXPECT_FALSE(plan.AnalysisFrames(tone, 10000.0, -1.0, 10000, first, count));
}

TEST(Plan, ProbeExpectedWeighsEachToneByTheResponse)
{
    const Plan plan = TwoSegments();
    const Segment& probe = *plan.Find("probe");
    const Expected plain = plan.ProbeExpected(probe);
    const Expected halved = plan.ProbeExpected(probe, [](double) { return Complex(0.0, 0.5); });
    EXPECT_DOUBLE_EQ(plain.begin, 0.2);
    EXPECT_DOUBLE_EQ(plain.end, 0.5);
    EXPECT_DOUBLE_EQ(plain.highest, 500.0);
    for (double t : {0.25, 0.33, 0.41})
        EXPECT_NEAR(std::abs(halved.at(t) - Complex(0.0, 0.5) * plain.at(t)), 0.0, 1e-12);
}

TEST(ToneSet, AlternatesSignsForComplexSignals)
{
    const std::vector<Tone> tones = ToneSet({0.1, 0.2, 0.3}, 1000.0, 0.25, true);
    ASSERT_EQ(tones.size(), 3u);
    EXPECT_DOUBLE_EQ(tones[0].freq, 100.0);
    EXPECT_DOUBLE_EQ(tones[1].freq, -200.0);
    EXPECT_DOUBLE_EQ(tones[2].freq, 300.0);
}

TEST(SpreadFractions, OnePerPartAndNoTwoGapsAlike)
{
    // Gaps that repeat would make a probe nearly periodic, and its delay ambiguous by a period.
    const std::vector<double> f = SpreadFractions(16, 0.05, 0.8);
    ASSERT_EQ(f.size(), 16u);
    for (std::size_t i = 0; i < f.size(); ++i)
    {
        EXPECT_GE(f[i], 0.05 + 0.75 * static_cast<double>(i) / 16);
        EXPECT_LT(f[i], 0.05 + 0.75 * static_cast<double>(i + 1) / 16);
    }
    std::vector<double> gaps;
    for (std::size_t i = 1; i < f.size(); ++i)
        gaps.push_back(f[i] - f[i - 1]);
    for (std::size_t i = 0; i < gaps.size(); ++i)
        for (std::size_t j = i + 1; j < gaps.size(); ++j)
            EXPECT_GT(std::abs(gaps[i] - gaps[j]), 1e-4) << i << " " << j;
}

} // namespace
} // namespace sigquality
