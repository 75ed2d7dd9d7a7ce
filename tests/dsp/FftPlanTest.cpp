#include "dsp/fft/FftPlan.h"
#include "dsp/fft/DoubleFft.h"
#include "dsp/fft/FftKernels.h"

#include "Spectra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace sigkit;
using sigtest::Complex;
using sigtest::FirstDifference;
using sigtest::RandomComplex;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kEpsilon = 5.9604644775390625e-8; // 2^-24: half a unit in the last place of 1

// Every size from the smallest to the largest plan.
std::vector<int32_t> AllSizes()
{
    std::vector<int32_t> sizes;
    for (int32_t n = FftPlan::kMinSize; n <= FftPlan::kMaxSize; n *= 2)
        sizes.push_back(n);
    return sizes;
}

int32_t Log2(int32_t n)
{
    int32_t bits = 0;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}

Complex Forward(FftPlan& plan, const Complex& x)
{
    Complex y{std::vector<float>(x.re.size()), std::vector<float>(x.re.size())};
    plan.Forward(x.re.data(), x.im.data(), y.re.data(), y.im.data());
    return y;
}

// The reference transform of x in double precision.
void ReferenceForward(const Complex& x, std::vector<double>& re, std::vector<double>& im)
{
    re.assign(x.re.begin(), x.re.end());
    im.assign(x.im.begin(), x.im.end());
    fft::ForwardDouble(re.data(), im.data(), static_cast<int32_t>(re.size()));
}

// ---- The double-precision reference itself.

TEST(DoubleFft, UnitRootsAreExactAtQuarterTurnsAndPeriodic)
{
    double c = 0.0;
    double s = 0.0;
    const int64_t quarterTurns[][3] = {{0, 8, 1}, {2, 8, 0}, {4, 8, -1}, {6, 8, 0}};
    for (const auto& q : quarterTurns)
    {
        fft::UnitRoot(q[0], q[1], c, s);
        EXPECT_EQ(c, static_cast<double>(q[2]));
        EXPECT_EQ(std::fabs(s), q[2] == 0 ? 1.0 : 0.0);
    }
    for (int64_t j = 0; j < 64; ++j)
    {
        double c2 = 0.0;
        double s2 = 0.0;
        fft::UnitRoot(j, 48, c, s);
        fft::UnitRoot(j + 48, 48, c2, s2);
        EXPECT_EQ(c, c2);
        EXPECT_EQ(s, s2);
        // (The unreduced angle of the comparison is itself off by a few units of 1e-16.)
        EXPECT_NEAR(c, std::cos(kTwoPi * static_cast<double>(j) / 48.0), 4e-15);
        EXPECT_NEAR(s, std::sin(kTwoPi * static_cast<double>(j) / 48.0), 4e-15);
    }
}

TEST(DoubleFft, MatchesTheDefiningSumUpTo1024Points)
{
    for (int32_t n = 1; n <= 1024; n *= 2)
    {
        const Complex x = RandomComplex(n, 11);
        std::vector<double> re, im;
        ReferenceForward(x, re, im);
        for (int32_t k = 0; k < n; ++k)
        {
            // Sum in long double with the angle reduced exactly (jk mod n).
            long double sr = 0.0L;
            long double si = 0.0L;
            for (int32_t j = 0; j < n; ++j)
            {
                const long double angle =
                    -2.0L * 3.141592653589793238462643383279L *
                    static_cast<long double>((static_cast<int64_t>(j) * k) % n) / n;
                sr += x.re[j] * std::cos(angle) - x.im[j] * std::sin(angle);
                si += x.re[j] * std::sin(angle) + x.im[j] * std::cos(angle);
            }
            ASSERT_NEAR(re[k], static_cast<double>(sr), 1e-12 * n) << n << " " << k;
            ASSERT_NEAR(im[k], static_cast<double>(si), 1e-12 * n) << n << " " << k;
        }
    }
}

// ---- Sizes.

TEST(FftPlan, SizesOutsideThePowersOfTwoFrom16To2Pow20GiveAnEmptyPlanThatWritesNothing)
{
    for (int32_t size : {-16, 0, 1, 8, 15, 48, 1000, (1 << 20) + 1, 1 << 21})
    {
        FftPlan plan(size);
        EXPECT_EQ(plan.Size(), 0) << size;
        std::vector<float> x(64, 1.0f), y(64, 7.0f);
        plan.Forward(x.data(), x.data(), y.data(), y.data());
        plan.Inverse(x.data(), x.data(), y.data(), y.data());
        EXPECT_EQ(y, std::vector<float>(64, 7.0f));
    }
    for (int32_t size : AllSizes())
        EXPECT_EQ(FftPlan(size).Size(), size);
}

TEST(FftPlan, ActiveVariantIsOneOfTheVariantsAndFollowsAForcedKernelTable)
{
    EXPECT_EQ(fft::TableFor(fft::Active().isa), &fft::Active());
    if (kernels::Forced() != nullptr)
    {
        EXPECT_EQ(fft::Active().isa, kernels::Forced()->isa);
    }
    ASSERT_NE(fft::TableFor(kernels::Isa::Scalar), nullptr);
    for (kernels::Isa isa : {kernels::Isa::Avx2, kernels::Isa::Avx512})
        EXPECT_EQ(fft::TableFor(isa) == nullptr, kernels::TableFor(isa) == nullptr);
    std::printf("active FFT variant: %s\n", fft::Active().name);
}

// ---- Accuracy against double precision.

// Float rounding grows with the passes: for random data the error's RMS stays below
// eps·sqrt(log2 N) of the spectrum's, eps = 2^-24 (measured: 0.54 to 0.62 of that), and no bin is
// off by more than 1.5e-6 of the RMS (measured: at most 6.9e-7).
TEST(FftPlan, ForwardIsWithinTheFloatBoundOfTheDoubleTransformAtEverySize)
{
    for (int32_t n : AllSizes())
    {
        const Complex x = RandomComplex(n, static_cast<uint32_t>(n));
        FftPlan plan(n);
        const Complex y = Forward(plan, x);
        std::vector<double> re, im;
        ReferenceForward(x, re, im);
        double error = 0.0;
        double power = 0.0;
        double worst = 0.0;
        for (int32_t k = 0; k < n; ++k)
        {
            const double d = std::hypot(y.re[k] - re[k], y.im[k] - im[k]);
            error += d * d;
            power += re[k] * re[k] + im[k] * im[k];
            worst = std::max(worst, d);
        }
        const double rms = std::sqrt(power / n);
        const double relative = std::sqrt(error / power);
        EXPECT_LT(relative, kEpsilon * std::sqrt(Log2(n))) << n;
        EXPECT_LT(worst / rms, 1.5e-6) << n;
    }
}

TEST(FftPlan, InverseOfForwardGivesNTimesTheInputAtEverySize)
{
    for (int32_t n : AllSizes())
    {
        const Complex x = RandomComplex(n, static_cast<uint32_t>(3 * n));
        FftPlan plan(n);
        Complex y = Forward(plan, x);
        plan.Inverse(y.re.data(), y.im.data(), y.re.data(), y.im.data());
        double error = 0.0;
        double power = 0.0;
        for (int32_t j = 0; j < n; ++j)
        {
            const double dr = y.re[j] / n - x.re[j];
            const double di = y.im[j] / n - x.im[j];
            error += dr * dr + di * di;
            power +=
                static_cast<double>(x.re[j]) * x.re[j] + static_cast<double>(x.im[j]) * x.im[j];
        }
        // Measured: 1.2 to 1.3 eps·sqrt(log2 N).
        EXPECT_LT(std::sqrt(error / power), 1.5 * kEpsilon * std::sqrt(Log2(n))) << n;
    }
}

// ---- Worked examples.

TEST(FftPlan, ImpulseAtZeroGivesExactlyOneInEveryBinAndBack)
{
    for (int32_t n : AllSizes())
    {
        Complex x{std::vector<float>(n, 0.0f), std::vector<float>(n, 0.0f)};
        x.re[0] = 1.0f;
        FftPlan plan(n);
        const Complex y = Forward(plan, x);
        ASSERT_EQ(y.re, std::vector<float>(n, 1.0f)) << n;
        for (float v : y.im)
            ASSERT_EQ(v, 0.0f) << n;
        Complex back{std::vector<float>(n), std::vector<float>(n)};
        plan.Inverse(y.re.data(), y.im.data(), back.re.data(), back.im.data());
        std::vector<float> expected(n, 0.0f);
        expected[0] = static_cast<float>(n); // a sum of n ones
        ASSERT_EQ(back.re, expected) << n;
    }
}

TEST(FftPlan, DelayedImpulseTurnsAtItsDelayPerBin)
{
    const int32_t n = 4096;
    const int32_t delay = 37;
    Complex x{std::vector<float>(n, 0.0f), std::vector<float>(n, 0.0f)};
    x.re[delay] = 1.0f;
    FftPlan plan(n);
    const Complex y = Forward(plan, x);
    for (int32_t k = 0; k < n; ++k)
    {
        // e^(-2πi·delay·k/n), to float rounding over 6 passes.
        const double angle = -kTwoPi * static_cast<double>((delay * k) % n) / n;
        ASSERT_NEAR(y.re[k], std::cos(angle), 1e-6) << k;
        ASSERT_NEAR(y.im[k], std::sin(angle), 1e-6) << k;
    }
}

TEST(FftPlan, ToneOfWholeCyclesLandsInItsBinPositiveAndNegative)
{
    for (int32_t n : {16, 32, 1024, 8192})
        for (int32_t cycles : {1, 3, -3, n / 2 - 1, -(n / 4)})
        {
            Complex x{std::vector<float>(n), std::vector<float>(n)};
            for (int32_t j = 0; j < n; ++j)
            {
                const double angle =
                    kTwoPi * static_cast<double>((static_cast<int64_t>(cycles) * j) % n) / n;
                x.re[j] = static_cast<float>(std::cos(angle));
                x.im[j] = static_cast<float>(std::sin(angle));
            }
            FftPlan plan(n);
            const Complex y = Forward(plan, x);
            const int32_t bin = (cycles + n) % n;
            for (int32_t k = 0; k < n; ++k)
            {
                const double magnitude = std::hypot(y.re[k], y.im[k]);
                if (k == bin)
                    EXPECT_NEAR(magnitude, n, 1e-5 * n) << n << " " << cycles;
                else
                    ASSERT_LT(magnitude, 1e-5 * n) << n << " " << cycles << " bin " << k;
            }
        }
}

TEST(FftPlan, InPlaceGivesTheSameBitsAsSeparateArraysForOddAndEvenPassCounts)
{
    for (int32_t n : {16, 32, 64, 128, 4096, 8192})
    {
        const Complex x = RandomComplex(n, 5);
        FftPlan plan(n);
        const Complex separate = Forward(plan, x);
        Complex inPlace = x;
        plan.Forward(inPlace.re.data(), inPlace.im.data(), inPlace.re.data(), inPlace.im.data());
        EXPECT_EQ(FirstDifference(separate.re, inPlace.re), -1) << n;
        EXPECT_EQ(FirstDifference(separate.im, inPlace.im), -1) << n;
    }
}

TEST(FftPlan, ForwardTimesGivesTheBitsOfForwardThenMultiplyInEveryVariant)
{
    std::vector<const fft::FftKernels*> variants = sigtest::VectorVariants();
    variants.push_back(fft::TableFor(kernels::Isa::Scalar));
    for (const fft::FftKernels* variant : variants)
        for (int32_t n = FftPlan::kMinSize; n <= 1 << 16; n *= 2)
        {
            const Complex x = RandomComplex(n, 21);
            const Complex h = RandomComplex(n, 22);
            FftPlan plan(n, variant);
            Complex expected = Forward(plan, x);
            variant->multiply(expected.re.data(), expected.im.data(), h.re.data(), h.im.data(), n,
                              expected.re.data(), expected.im.data());
            Complex actual{std::vector<float>(n), std::vector<float>(n)};
            plan.ForwardTimes(x.re.data(), x.im.data(), h.re.data(), h.im.data(), actual.re.data(),
                              actual.im.data());
            ASSERT_EQ(FirstDifference(expected.re, actual.re), -1) << variant->name << " " << n;
            ASSERT_EQ(FirstDifference(expected.im, actual.im), -1) << variant->name << " " << n;
            Complex inPlace = x;
            plan.ForwardTimes(inPlace.re.data(), inPlace.im.data(), h.re.data(), h.im.data(),
                              inPlace.re.data(), inPlace.im.data());
            ASSERT_EQ(FirstDifference(expected.re, inPlace.re), -1) << variant->name << " " << n;
            ASSERT_EQ(FirstDifference(expected.im, inPlace.im), -1) << variant->name << " " << n;
        }
}

// ---- Same bits on every processor.

TEST(FftPlan, EveryVariantGivesTheScalarBitsForwardAndInverseAtEverySize)
{
    const fft::FftKernels& scalar = *fft::TableFor(kernels::Isa::Scalar);
    for (int32_t n : AllSizes())
    {
        // Values over many magnitudes, so that any change in the order of operations shows.
        Complex x = RandomComplex(n, static_cast<uint32_t>(7 * n));
        for (int32_t j = 0; j < n; j += 3)
            x.re[j] = std::ldexp(x.re[j], (j % 41) - 20);
        FftPlan reference(n, &scalar);
        const Complex expected = Forward(reference, x);
        Complex expectedBack{std::vector<float>(n), std::vector<float>(n)};
        reference.Inverse(x.re.data(), x.im.data(), expectedBack.re.data(), expectedBack.im.data());
        for (const fft::FftKernels* variant : sigtest::VectorVariants())
        {
            FftPlan plan(n, variant);
            const Complex actual = Forward(plan, x);
            ASSERT_EQ(FirstDifference(expected.re, actual.re), -1) << variant->name << " " << n;
            ASSERT_EQ(FirstDifference(expected.im, actual.im), -1) << variant->name << " " << n;
            Complex back{std::vector<float>(n), std::vector<float>(n)};
            plan.Inverse(x.re.data(), x.im.data(), back.re.data(), back.im.data());
            ASSERT_EQ(FirstDifference(expectedBack.re, back.re), -1) << variant->name << " " << n;
            ASSERT_EQ(FirstDifference(expectedBack.im, back.im), -1) << variant->name << " " << n;
        }
    }
}

TEST(FftPlan, EveryVariantMultipliesSpectraWithTheScalarBitsAtAnyLength)
{
    const fft::FftKernels& scalar = *fft::TableFor(kernels::Isa::Scalar);
    const Complex a = RandomComplex(100, 1);
    const Complex b = RandomComplex(100, 2);
    for (int32_t n = 0; n <= 100; ++n)
    {
        Complex expected{std::vector<float>(100, 0.0f), std::vector<float>(100, 0.0f)};
        scalar.multiply(a.re.data(), a.im.data(), b.re.data(), b.im.data(), n, expected.re.data(),
                        expected.im.data());
        for (const fft::FftKernels* variant : sigtest::VectorVariants())
        {
            Complex actual{std::vector<float>(100, 0.0f), std::vector<float>(100, 0.0f)};
            variant->multiply(a.re.data(), a.im.data(), b.re.data(), b.im.data(), n,
                              actual.re.data(), actual.im.data());
            ASSERT_EQ(FirstDifference(expected.re, actual.re), -1) << variant->name << " " << n;
            ASSERT_EQ(FirstDifference(expected.im, actual.im), -1) << variant->name << " " << n;
        }
    }
}

} // namespace
