#include "dsp/design/Remez.h"
#include "dsp/design/Response.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using namespace sigkit::dsp;

// scipy.signal.remez(21, [0, 0.1, 0.2, 0.5], [1, 0], weight=[1, 10]), taps 0..10 (symmetric).
constexpr double kScipyLowPass21[11] = {
    0.005959206682943299,  0.011610571155089877, 0.010610727238654855, -0.004787592040593493,
    -0.030942999346083105, -0.04793150828494372, -0.02837628148725968, 0.042020544352209595,
    0.1471640508525701,    0.24291690767052782,  0.2816535707735032};

// scipy.signal.remez(16, [0, 0.3], [1]): an even length, one band.
constexpr double kScipyOneBand16[8] = {
    -0.0002096728308748348, 0.0013759387984021972, -0.005296071601129524, 0.015331970835557847,
    -0.037137145825291276,  0.08143178894750537,   -0.181068486004264,    0.6255675229652797};

TEST(Remez, OddLengthLowPassMatchesAnIndependentImplementation)
{
    std::vector<double> taps;
    double peak = 0.0;
    ASSERT_EQ(DesignRemez(21, {{0.0, 0.1, 1.0, 1.0}, {0.2, 0.5, 0.0, 10.0}}, taps, &peak),
              RemezResult::Ok);
    ASSERT_EQ(taps.size(), 21u);
    // Both search the extrema on a grid of 16 points per degree of freedom; the grids differ a
    // little, so the taps agree to a few millionths.
    for (int i = 0; i < 11; ++i)
    {
        EXPECT_NEAR(taps[static_cast<std::size_t>(i)], kScipyLowPass21[i], 1e-5) << i;
        EXPECT_EQ(taps[static_cast<std::size_t>(i)], taps[static_cast<std::size_t>(20 - i)]);
    }
    EXPECT_GT(peak, 0.0);
}

TEST(Remez, EvenLengthOneBandMatchesAnIndependentImplementation)
{
    std::vector<double> taps;
    ASSERT_EQ(DesignRemez(16, {{0.0, 0.3, 1.0, 1.0}}, taps), RemezResult::Ok);
    ASSERT_EQ(taps.size(), 16u);
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(taps[static_cast<std::size_t>(i)], kScipyOneBand16[i], 1e-5) << i;
}

// The defining property: the weighted error reaches the same peak in every band, and the peak
// reported is the one measured. (The extrema are taken on the grid: the true peaks between its
// points lie up to a few per cent higher.)
TEST(Remez, WeightedErrorIsEquiripple)
{
    for (const double weight : {1.0, 30.0, 3000.0})
    {
        std::vector<double> taps;
        double peak = 0.0;
        ASSERT_EQ(DesignRemez(151, {{0.0, 0.2, 1.0, 1.0}, {0.23, 0.5, 0.0, weight}}, taps, &peak),
                  RemezResult::Ok);
        const LowPassFigures f = MeasureLowPass(taps, 0.2, 0.23);
        const double passError = std::max(f.passMax - 1.0, 1.0 - f.passMin);
        const double stopError = weight * f.stopMax;
        EXPECT_NEAR(passError / peak, 1.0, 0.08) << weight;
        EXPECT_NEAR(stopError / peak, 1.0, 0.08) << weight;
    }
}

// Long filters converge: the exchange keeps all reference points alternating even while the
// first references are far from the optimum.
TEST(Remez, LongFiltersConverge)
{
    for (const int32_t n : {501, 1001, 2001})
    {
        std::vector<double> taps;
        double peak = 0.0;
        const double stop = 0.1 + 4.0 / n;
        ASSERT_EQ(DesignRemez(n, {{0.0, 0.1, 1.0, 1.0}, {stop, 0.5, 0.0, 100.0}}, taps, &peak),
                  RemezResult::Ok)
            << n;
        const LowPassFigures f = MeasureLowPass(taps, 0.1, stop);
        EXPECT_LT(100.0 * f.stopMax, 1.08 * peak) << n;
        EXPECT_LT(f.passMax - 1.0, 1.08 * peak) << n;
    }
}

TEST(Remez, RefusesBadBandsAndLengths)
{
    std::vector<double> taps = {7.0};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(DesignRemez(1, {{0.0, 0.1, 1.0, 1.0}}, taps), RemezResult::BadLength);
    EXPECT_EQ(DesignRemez(kMaxRemezTaps + 1, {{0.0, 0.1, 1.0, 1.0}}, taps), RemezResult::BadLength);
    EXPECT_EQ(DesignRemez(31, {}, taps), RemezResult::BadBands);
    EXPECT_EQ(DesignRemez(31, {{0.0, 0.3, 1.0, 1.0}, {0.2, 0.5, 0.0, 1.0}}, taps),
              RemezResult::BadBands);
    EXPECT_EQ(DesignRemez(31, {{0.0, 0.6, 1.0, 1.0}}, taps), RemezResult::BadBands);
    EXPECT_EQ(DesignRemez(31, {{0.0, nan, 1.0, 1.0}}, taps), RemezResult::BadBands);
    EXPECT_EQ(DesignRemez(31, {{0.0, 0.1, 1.0, 0.0}}, taps), RemezResult::BadBands);
    // An even length has a zero at half the rate: no band may reach it.
    EXPECT_EQ(DesignRemez(30, {{0.0, 0.1, 1.0, 1.0}, {0.2, 0.5, 0.0, 1.0}}, taps),
              RemezResult::BadBands);
    EXPECT_EQ(taps, std::vector<double>{7.0});
}

} // namespace
