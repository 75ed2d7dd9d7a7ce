#include "dsp/fft/RealFftPlan.h"
#include "dsp/fft/DoubleFft.h"

#include "Spectra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using namespace sigkit;
using sigtest::FirstDifference;
using sigtest::RandomReal;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kEpsilon = 5.9604644775390625e-8; // 2^-24

std::vector<int32_t> AllSizes()
{
    std::vector<int32_t> sizes;
    for (int32_t n = RealFftPlan::kMinSize; n <= RealFftPlan::kMaxSize; n *= 2)
        sizes.push_back(n);
    return sizes;
}

struct Spectrum
{
    std::vector<float> re, im;
};

Spectrum Forward(RealFftPlan& plan, const std::vector<float>& x)
{
    Spectrum s{std::vector<float>(plan.Bins()), std::vector<float>(plan.Bins())};
    plan.Forward(x.data(), s.re.data(), s.im.data());
    return s;
}

TEST(RealFftPlan, SizesOutsideThePowersOfTwoFrom32To2Pow21GiveAnEmptyPlan)
{
    for (int32_t size : {0, 16, 31, 96, 1 << 22})
    {
        RealFftPlan plan(size);
        EXPECT_EQ(plan.Size(), 0) << size;
        EXPECT_EQ(plan.Bins(), 0) << size;
        std::vector<float> x(64, 1.0f), y(64, 7.0f);
        plan.Forward(x.data(), y.data(), y.data());
        plan.Inverse(x.data(), x.data(), y.data());
        EXPECT_EQ(y, std::vector<float>(64, 7.0f));
    }
    EXPECT_EQ(RealFftPlan(1 << 21).Bins(), (1 << 20) + 1);
}

// The same bound as the complex transform's: the error's RMS below eps·sqrt(log2 N) of the
// spectrum's, eps = 2^-24 (measured: 0.55 to 0.62 of that).
TEST(RealFftPlan, ForwardIsWithinTheFloatBoundOfTheDoubleTransformAtEverySize)
{
    for (int32_t n : AllSizes())
    {
        const std::vector<float> x = RandomReal(n, static_cast<uint32_t>(n));
        RealFftPlan plan(n);
        const Spectrum s = Forward(plan, x);
        std::vector<double> re(x.begin(), x.end());
        std::vector<double> im(n, 0.0);
        fft::ForwardDouble(re.data(), im.data(), n);
        re.resize(plan.Bins());
        im.resize(plan.Bins());
        const double db = sigtest::ErrorDb(re, im, s.re.data(), s.im.data(), plan.Bins());
        const double bound = 20.0 * std::log10(kEpsilon * std::sqrt(std::log2(n)));
        EXPECT_LT(db, bound) << n;
        EXPECT_EQ(s.im[0], 0.0f);
        EXPECT_EQ(s.im[n / 2], 0.0f);
    }
}

TEST(RealFftPlan, InverseOfForwardGivesSizeTimesTheInputAtEverySize)
{
    for (int32_t n : AllSizes())
    {
        const std::vector<float> x = RandomReal(n, static_cast<uint32_t>(5 * n));
        RealFftPlan plan(n);
        const Spectrum s = Forward(plan, x);
        std::vector<float> back(n);
        plan.Inverse(s.re.data(), s.im.data(), back.data());
        double error = 0.0;
        double power = 0.0;
        for (int32_t j = 0; j < n; ++j)
        {
            const double d = back[j] / n - x[j];
            error += d * d;
            power += static_cast<double>(x[j]) * x[j];
        }
        EXPECT_LT(std::sqrt(error / power), 1.5 * kEpsilon * std::sqrt(std::log2(n))) << n;
    }
}

TEST(RealFftPlan, CosineOfWholeCyclesLandsInItsBinWithHalfTheSizeAndAConstantInBinZero)
{
    const int32_t n = 2048;
    RealFftPlan plan(n);
    for (int32_t cycles : {1, 5, 511, 512, 1023})
    {
        std::vector<float> x(n);
        for (int32_t j = 0; j < n; ++j)
            x[j] = 0.25f + static_cast<float>(
                               std::cos(kTwoPi * static_cast<double>((cycles * j) % n) / n + 0.3));
        const Spectrum s = Forward(plan, x);
        EXPECT_NEAR(s.re[0], 0.25 * n, 1e-3);
        EXPECT_NEAR(std::hypot(s.re[cycles], s.im[cycles]), n / 2.0, 1e-3) << cycles;
        EXPECT_NEAR(std::atan2(s.im[cycles], s.re[cycles]), 0.3, 1e-5) << cycles;
        for (int32_t k = 1; k <= n / 2; ++k)
        {
            if (k == cycles)
                continue;
            ASSERT_LT(std::hypot(s.re[k], s.im[k]), 2e-3) << cycles << " bin " << k;
        }
    }
    // The highest bin holds an alternating sequence, real.
    std::vector<float> alternating(n);
    for (int32_t j = 0; j < n; ++j)
        alternating[j] = j % 2 == 0 ? 1.0f : -1.0f;
    const Spectrum s = Forward(plan, alternating);
    EXPECT_EQ(s.re[n / 2], static_cast<float>(n));
    EXPECT_EQ(s.im[n / 2], 0.0f);
}

TEST(RealFftPlan, InverseDoesNotReadTheImaginaryPartsOfBinsZeroAndHalf)
{
    const int32_t n = 256;
    RealFftPlan plan(n);
    Spectrum s = Forward(plan, RandomReal(n, 9));
    std::vector<float> expected(n), actual(n);
    plan.Inverse(s.re.data(), s.im.data(), expected.data());
    s.im[0] = 123.0f;
    s.im[n / 2] = -7.0f;
    plan.Inverse(s.re.data(), s.im.data(), actual.data());
    EXPECT_EQ(FirstDifference(expected, actual), -1);
}

TEST(RealFftPlan, EveryVariantGivesTheScalarBitsForwardAndInverseAtEverySize)
{
    const fft::FftKernels& scalar = *fft::TableFor(kernels::Isa::Scalar);
    for (int32_t n : AllSizes())
    {
        std::vector<float> x = RandomReal(n, static_cast<uint32_t>(n + 1));
        for (int32_t j = 0; j < n; j += 3)
            x[j] = std::ldexp(x[j], (j % 41) - 20);
        RealFftPlan reference(n, &scalar);
        const Spectrum expected = Forward(reference, x);
        std::vector<float> expectedBack(n);
        reference.Inverse(expected.re.data(), expected.im.data(), expectedBack.data());
        for (const fft::FftKernels* variant : sigtest::VectorVariants())
        {
            RealFftPlan plan(n, variant);
            const Spectrum actual = Forward(plan, x);
            ASSERT_EQ(FirstDifference(expected.re, actual.re), -1) << variant->name << " " << n;
            ASSERT_EQ(FirstDifference(expected.im, actual.im), -1) << variant->name << " " << n;
            std::vector<float> back(n);
            plan.Inverse(expected.re.data(), expected.im.data(), back.data());
            ASSERT_EQ(FirstDifference(expectedBack, back), -1) << variant->name << " " << n;
        }
    }
}

} // namespace
