#include "dsp/design/LowPass.h"
#include "dsp/rate/BankStage.h"
#include "dsp/rate/HalfBandDecimator.h"
#include "dsp/rate/HalfBandInterpolator.h"
#include "dsp/rate/PolyphaseStage.h"
#include "stages/kernels/Kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace sigkit::dsp;

// Symmetric taps of odd length with values of every magnitude, so that a wrong index shows.
std::vector<double> SymmetricTaps(std::size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> taps(n);
    for (std::size_t i = 0; i <= n / 2; ++i)
        taps[i] = taps[n - 1 - i] = value(random);
    return taps;
}

// All outputs of a stage for an impulse at input n0 among `inputs` inputs, the tail included.
template <typename Stage>
std::vector<float> ImpulseResponse(Stage& stage, int64_t n0, int64_t inputs)
{
    std::vector<float> x(static_cast<std::size_t>(inputs), 0.0f);
    x[static_cast<std::size_t>(n0)] = 1.0f;
    std::vector<float> y(
        static_cast<std::size_t>(stage.MaxOutputs(inputs) + stage.TailEnd(inputs)));
    float* out = y.data();
    const float* in = x.data();
    int32_t got = 0;
    // In pieces of 7, as a cascade would feed it.
    for (int64_t at = 0; at < inputs; at += 7)
    {
        const auto n = static_cast<int32_t>(std::min<int64_t>(7, inputs - at));
        const float* piece = in + at;
        stage.Write(&piece, 1, n);
        float* to = out + got;
        got += stage.Read(&to, 1 << 20);
    }
    while (stage.Produced() < stage.TailEnd(inputs))
    {
        stage.WriteZeros(1);
        float* to = out + got;
        got += stage.Read(&to, static_cast<int32_t>(stage.TailEnd(inputs) - stage.Produced()));
    }
    y.resize(static_cast<std::size_t>(got));
    return y;
}

// y[k] = Σ_n x[n]·h[k·M + D - n·L]: for a unit impulse at n0, h[k·M + D - n0·L] itself (one
// product of 1 with the tap, every other product 0).
TEST(PolyphaseStage, ImpulseGivesThePrototypeAtEachOutputsPosition)
{
    struct Case
    {
        int32_t L, M;
        std::size_t taps;
    };
    for (const Case& c : {Case{1, 1, 31}, Case{3, 2, 61}, Case{2, 3, 45}, Case{160, 147, 961},
                          Case{1, 5, 41}, Case{4, 1, 33}})
    {
        const std::vector<double> h = SymmetricTaps(c.taps, 7);
        PolyphaseStage stage;
        ASSERT_TRUE(stage.Reset(h, c.L, c.M, 1, 64));
        const int64_t D = static_cast<int64_t>(c.taps - 1) / 2;
        for (const int64_t n0 : {0, 1, 5, 37})
        {
            stage.Clear();
            const std::vector<float> y = ImpulseResponse(stage, n0, 50);
            for (std::size_t k = 0; k < y.size(); ++k)
            {
                const int64_t at = static_cast<int64_t>(k) * c.M + D - n0 * c.L;
                const float expected = at >= 0 && at < static_cast<int64_t>(c.taps)
                                           ? static_cast<float>(h[static_cast<std::size_t>(at)])
                                           : 0.0f;
                ASSERT_EQ(y[k], expected) << c.L << "/" << c.M << " n0=" << n0 << " k=" << k;
            }
            // The tail runs to the last output whose window (T = ⌈N/L⌉ inputs) reaches the last
            // input, and no further.
            const auto window = static_cast<int64_t>((c.taps + c.L - 1) / c.L) * c.L;
            const int64_t lastAt = static_cast<int64_t>(y.size() - 1) * c.M + D - 49 * c.L;
            EXPECT_LT(lastAt, window);
            EXPECT_GE(lastAt + c.M, window);
        }
    }
}

// y[k] = x[2k]/2 + Σ_j h[2k + D - j]·x[j] over the odd-distance taps.
TEST(HalfBandDecimator, ImpulseGivesTheHalfBandAtEveryOtherTap)
{
    std::vector<double> h;
    ASSERT_EQ(DesignHalfBand(0.2, 100.0, h), DesignStatus::Ok);
    const auto D = static_cast<int64_t>(h.size() - 1) / 2;
    HalfBandDecimator stage;
    ASSERT_TRUE(stage.Reset(h, 1, 64));
    for (const int64_t n0 : {0, 1, 2, 7, 30})
    {
        stage.Clear();
        const std::vector<float> y = ImpulseResponse(stage, n0, 40);
        for (std::size_t k = 0; k < y.size(); ++k)
        {
            const int64_t at = 2 * static_cast<int64_t>(k) + D - n0;
            const float expected = at >= 0 && at < static_cast<int64_t>(h.size())
                                       ? static_cast<float>(h[static_cast<std::size_t>(at)])
                                       : 0.0f;
            ASSERT_EQ(y[k], expected) << "n0=" << n0 << " k=" << k;
        }
    }
}

// Output 2q is x[q]; output 2q + 1 is Σ 2·h[...]·x: an impulse gives 1 at its own time and the
// doubled half-band taps between.
TEST(HalfBandInterpolator, ImpulseGivesItselfAndTheDoubledHalfBand)
{
    std::vector<double> h;
    ASSERT_EQ(DesignHalfBand(0.2, 100.0, h), DesignStatus::Ok);
    const auto D = static_cast<int64_t>(h.size() - 1) / 2;
    HalfBandInterpolator stage;
    ASSERT_TRUE(stage.Reset(h, 1, 64));
    for (const int64_t n0 : {0, 3, 20})
    {
        stage.Clear();
        const std::vector<float> y = ImpulseResponse(stage, n0, 30);
        for (std::size_t j = 0; j < y.size(); ++j)
        {
            const int64_t at = static_cast<int64_t>(j) + D - 2 * n0;
            const float expected = at >= 0 && at < static_cast<int64_t>(h.size())
                                       ? static_cast<float>(2.0 * h[static_cast<std::size_t>(at)])
                                       : 0.0f;
            ASSERT_EQ(y[j], expected) << "n0=" << n0 << " j=" << j;
        }
    }
}

// At output times that fall on input samples (μ = 0) the bank gives the prototype's own samples;
// between them the cubic, which a double-precision evaluation of the same cubic matches.
TEST(BankStage, ImpulseFollowsThePrototypeThroughTheCubic)
{
    const int32_t P = 16;
    std::vector<double> h;
    ASSERT_EQ(DesignPrototype({0.4, 0.5, 100.0, 0.01}, P, h), DesignStatus::Ok);
    // L/M = 7/5: output k at input time 5k/7.
    BankStage stage;
    ASSERT_TRUE(stage.Reset(h, P, 7, 5, 1, 64));
    const int64_t n0 = 40;
    const std::vector<float> y = ImpulseResponse(stage, n0, 80);
    const int64_t pad = 0; // the prototype is centred on a whole input sample
    static_cast<void>(pad);
    const double centre = static_cast<double>(h.size() - 1) / 2.0;
    const auto prototype = [&](double t) { // t in input samples from the centre
        const double at = centre + t * P;
        const auto i = static_cast<int64_t>(std::floor(at));
        const double mu = at - static_cast<double>(i);
        const auto p = [&](int64_t j) {
            return j >= 0 && j < static_cast<int64_t>(h.size()) ? h[static_cast<std::size_t>(j)]
                                                                : 0.0;
        };
        const double a = p(i - 1), b = p(i), c = p(i + 1), d = p(i + 2);
        return b + mu * ((-a / 3.0 - b / 2.0 + c - d / 6.0) +
                         mu * ((a + c) / 2.0 - b + mu * ((d - a) / 6.0 + (b - c) / 2.0)));
    };
    for (std::size_t k = 0; k < y.size(); ++k)
    {
        const double t = 5.0 * static_cast<double>(k) / 7.0 - static_cast<double>(n0);
        const double expected = prototype(t);
        if (k % 7 == 0)
            ASSERT_EQ(y[k], static_cast<float>(expected)) << k;
        else
            ASSERT_NEAR(y[k], expected, 2e-7) << k;
    }
}

// The stages run firBlock over windows that lie later in memory for later outputs (a negative
// stride): every variant must give the scalar bits there too.
TEST(RateStages, BlockFilterOverRisingWindowsGivesTheScalarBitsInEveryVariant)
{
    using namespace sigkit::kernels;
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> taps(400), x(6000);
    for (float& t : taps)
        t = value(random);
    for (float& v : x)
        v = value(random);
    const KernelTable& scalar = *TableFor(Isa::Scalar);
    for (const Isa isa : {Isa::Avx2, Isa::Avx512})
    {
        const KernelTable* variant = TableFor(isa);
        if (variant == nullptr)
            continue;
        for (const int32_t n : {1, 8, 15, 16, 17, 46, 309, 400})
            for (const int32_t stride : {-1, -2, -5, -25, -147})
                for (const int32_t count : {1, 2, 3, 7, 8, 9, 19})
                {
                    float expected[19];
                    float actual[19];
                    scalar.firBlock(taps.data(), n, x.data() + 3, stride, count, expected);
                    variant->firBlock(taps.data(), n, x.data() + 3, stride, count, actual);
                    ASSERT_EQ(std::memcmp(expected, actual,
                                          sizeof(float) * static_cast<std::size_t>(count)),
                              0)
                        << variant->name << " n=" << n << " stride=" << stride
                        << " count=" << count;
                }
    }
}

} // namespace
