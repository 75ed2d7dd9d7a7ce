#include "stages/filters/FilterDesign.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numeric>
#include <vector>

namespace {

using namespace sigkit;

constexpr double kPi = 3.14159265358979323846;

std::vector<float> LowPass(float fc, FilterWindow window, int32_t N, float beta = 0.0f)
{
    std::vector<float> taps(N, 99.0f);
    EXPECT_EQ(DesignLowPass(fc, beta, window, N, taps.data()), 1);
    return taps;
}

double Sum(const std::vector<float>& taps)
{
    return std::accumulate(taps.begin(), taps.end(), 0.0);
}

// ---- Low-pass.

TEST(FilterDesign, OneTapFilterHoldsTheCutOff)
{
    float taps[3] = {7.0f, 7.0f, 7.0f};
    EXPECT_EQ(DesignLowPass(0.3f, 0.0f, kWindowHamming, 1, taps), 1);
    EXPECT_EQ(taps[0], 0.3f);
    EXPECT_EQ(taps[1], 7.0f); // nothing beyond N is written
}

TEST(FilterDesign, FullBandCutOffGivesAUnitImpulseWhateverTheWindow)
{
    for (FilterWindow window = 0; window <= 9; ++window)
    {
        const std::vector<float> taps = LowPass(1.0f, window, 101, 2.0f);
        EXPECT_EQ(taps[50], 1.0f);
        // sin(float(m·π)) is 0 only up to single-precision rounding.
        for (int i = 0; i < 101; ++i)
        {
            if (i != 50)
            {
                EXPECT_NEAR(taps[i], 0.0f, 1e-6f) << "window " << window << " tap " << i;
            }
        }
    }
}

TEST(FilterDesign, HalfBandRectangularTapsFollowTheSinc)
{
    const std::vector<float> taps = LowPass(0.5f, kWindowRectangular, 101);
    EXPECT_EQ(taps[50], 0.5f);
    EXPECT_EQ(taps[49], taps[51]);
    EXPECT_NEAR(taps[49], 1.0 / kPi, 1e-6); // 0.5·sin(π/2)/(π/2), closed form
    EXPECT_NEAR(taps[47], -1.0 / (3.0 * kPi), 1e-6);
    for (int m = 2; m <= 50; m += 2)
        EXPECT_NEAR(taps[50 + m], 0.0f, 1e-7f) << m; // sin(mπ/2) = 0 up to single rounding
}

TEST(FilterDesign, TapsAreSymmetricAndExactlyTheSingleAndDoublePrecisionSteps)
{
    // Independent evaluation of the stated steps for the Hamming design of the lowest quality.
    const float fc = 11025.0f / 44100.0f;
    const std::vector<float> taps = LowPass(fc, kWindowHamming, 101);
    for (int i = 0; i < 50; ++i)
    {
        ASSERT_EQ(taps[i], taps[100 - i]);
        const int m = 50 - i;
        const auto x = static_cast<float>(m * (static_cast<double>(fc) * 3.1415926536));
        const float s = std::sin(x) / x * fc;
        const double w = 0.54 - 0.46 * std::cos(6.2831853072 * i / 100.0);
        EXPECT_EQ(taps[i], static_cast<float>(s * w)) << i;
    }
}

TEST(FilterDesign, WindowsShapeTheOutermostTaps)
{
    const float fc = 0.3f;
    const std::vector<float> plain = LowPass(fc, kWindowRectangular, 101);
    EXPECT_EQ(LowPass(fc, kWindowTriangular, 101)[0], 0.0f);
    EXPECT_EQ(LowPass(fc, kWindowTriangular, 101)[100], 0.0f);
    for (FilterWindow window : {kWindowHann, kWindowBlackman, kWindowNuttall})
    {
        const std::vector<float> taps = LowPass(fc, window, 101);
        // The windows' own constants leave at most a few 1e-6 of the sinc value at the edge.
        EXPECT_NEAR(taps[0], 0.0f, 1e-5f * std::fabs(plain[0])) << window;
        EXPECT_EQ(taps[0], taps[100]);
    }
    EXPECT_NEAR(LowPass(fc, kWindowHamming, 101)[0], 0.08f * plain[0], 1e-7f); // 0.54 - 0.46
    // Every window but the flat top is 1 at the centre, which keeps fc anyway.
    for (FilterWindow window = 0; window <= 8; ++window)
        EXPECT_EQ(LowPass(fc, window, 101, 1.0f)[50], fc);
}

TEST(FilterDesign, KindsAbove8AndNegativeKindsAreRectangular)
{
    const std::vector<float> plain = LowPass(0.2f, kWindowRectangular, 301);
    EXPECT_EQ(LowPass(0.2f, 9, 301), plain);
    EXPECT_EQ(LowPass(0.2f, 100, 301), plain);
    EXPECT_EQ(LowPass(0.2f, -1, 301), plain);
}

TEST(FilterDesign, BesselWindowWithBetaZeroIsRectangular)
{
    EXPECT_EQ(LowPass(0.2f, kWindowBessel, 101, 0.0f), LowPass(0.2f, kWindowRectangular, 101));
    const std::vector<float> tapered = LowPass(0.2f, kWindowBessel, 101, 2.0f);
    const std::vector<float> plain = LowPass(0.2f, kWindowRectangular, 101);
    // J0(0)/J0(2) at the edge, from the closed form J0(2) = 0.22389077914123567.
    EXPECT_NEAR(tapered[0] / plain[0], 1.0 / 0.22389077914123567, 1e-5);
}

TEST(FilterDesign, LowPassHasAboutUnitGainAtDc)
{
    for (int level = 0; level <= 2; ++level)
    {
        const FilterDesignChoice choice = QualityToDesign(level);
        // The taps sum to fc·Σ sinc, about 1 without normalisation.
        EXPECT_NEAR(Sum(LowPass(0.25f, choice.window, choice.taps)), 1.0, 2e-3) << level;
    }
}

TEST(FilterDesign, EvenAndEmptyLengthsAreRefusedWithoutWriting)
{
    float taps[4] = {5.0f, 5.0f, 5.0f, 5.0f};
    EXPECT_EQ(DesignLowPass(0.5f, 0.0f, 0, 4, taps), 0);
    EXPECT_EQ(DesignLowPass(0.5f, 0.0f, 0, 0, taps), 0);
    EXPECT_EQ(DesignLowPass(0.5f, 0.0f, 0, -3, taps), 0);
    EXPECT_EQ(DesignHighPass(0.5f, 0.0f, 0, 2, taps), 0);
    EXPECT_EQ(DesignLowPass(0.5f, 0.0f, 0, 3, nullptr), 0);
    for (float t : taps)
        EXPECT_EQ(t, 5.0f);
}

// ---- High-pass.

TEST(FilterDesign, HighPassIsTheUnitImpulseMinusTheLowPass)
{
    for (int32_t N : {1, 3, 101, 1001})
    {
        const std::vector<float> low = LowPass(0.1f, kWindowNuttall, N);
        std::vector<float> high(N);
        EXPECT_EQ(DesignHighPass(0.1f, 0.0f, kWindowNuttall, N, high.data()), 1);
        for (int32_t k = 0; k < N; ++k)
            ASSERT_EQ(high[k], (k == N / 2 ? 1.0f : 0.0f) - low[k]) << N << " " << k;
        // No gain at DC once the filter is long enough for the low-pass to sum to about 1.
        if (N >= 101)
        {
            EXPECT_NEAR(Sum(high), 0.0, 1e-3) << N;
        }
    }
}

// ---- Hilbert transformer.

TEST(FilterDesign, HilbertTapsAreAntisymmetricWithZerosAtEvenDistance)
{
    const auto& taps = HilbertTaps();
    EXPECT_EQ(taps[150], 0.0f);
    EXPECT_EQ(taps[151], 0.636557102f);
    EXPECT_EQ(taps[149], -0.636557102f);
    EXPECT_EQ(taps[299], 0.000164876168f);
    EXPECT_EQ(taps[300], 0.0f);
    EXPECT_EQ(taps[0], 0.0f);
    for (int m = 1; m <= 150; ++m)
    {
        EXPECT_EQ(taps[150 - m], -taps[150 + m]) << m;
        if (m % 2 == 0)
        {
            EXPECT_EQ(taps[150 + m], 0.0f) << m;
        }
        else
        {
            EXPECT_GT(taps[150 + m], 0.0f) << m;
        }
    }
    double sum = 0.0;
    for (float t : taps)
        sum += t;
    EXPECT_EQ(sum, 0.0);
}

double HilbertMagnitude(double f) // f in units of the sample rate
{
    std::complex<double> response = 0.0;
    const auto& taps = HilbertTaps();
    for (int j = 0; j < kHilbertTapCount; ++j)
        response += static_cast<double>(taps[j]) * std::polar(1.0, -2.0 * kPi * f * j);
    return std::abs(response);
}

TEST(FilterDesign, HilbertMagnitudeResponseStaysWithinItsBounds)
{
    for (double f = 0.01; f <= 0.49 + 1e-12; f += 0.0005)
    {
        const double magnitude = HilbertMagnitude(f);
        EXPECT_GE(magnitude, 0.9983) << f;
        EXPECT_LE(magnitude, 1.0022) << f;
    }
    EXPECT_NEAR(HilbertMagnitude(0.005), 0.988, 0.001);
    EXPECT_NEAR(HilbertMagnitude(0.495), 0.988, 0.001);
    EXPECT_NEAR(HilbertMagnitude(0.001), 0.32, 0.01);
    EXPECT_NEAR(HilbertMagnitude(0.499), 0.32, 0.01);
}

// ---- Quality.

TEST(FilterDesign, QualityWordsSelectWindowAndLength)
{
    EXPECT_EQ(QualityLevel("Low"), 0);
    EXPECT_EQ(QualityLevel("Medium"), 1);
    EXPECT_EQ(QualityLevel("High"), 2);
    EXPECT_EQ(QualityLevel("high"), 0);
    EXPECT_EQ(QualityLevel(nullptr), 0);
    EXPECT_EQ(QualityToDesign("Low").window, kWindowHamming);
    EXPECT_EQ(QualityToDesign("Low").taps, 101);
    EXPECT_EQ(QualityToDesign("Medium").window, kWindowBlackman);
    EXPECT_EQ(QualityToDesign("Medium").taps, 301);
    EXPECT_EQ(QualityToDesign("High").window, kWindowNuttall);
    EXPECT_EQ(QualityToDesign("High").taps, 1001);
    EXPECT_EQ(QualityToDesign("Ultra").taps, 101);
    EXPECT_EQ(QualityToDesign(7).taps, 101);
}

} // namespace
