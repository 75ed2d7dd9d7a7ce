#include "ToneFit.h"

#include "dsp/rate/RateChanger.h"
#include "stages/kernels/Kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace {

using namespace sigkit::dsp;
using sigtest::Db;
using sigtest::FitTones;
using sigtest::RmsOf;
using sigtest::Tone;

// Designs at the best quality take a good part of a second: each rate changer is built once and
// Reset before every use.
RateChanger& Shared(double rateIn, double rateOut, int channels, Quality quality)
{
    static std::map<std::tuple<double, double, int, int>, std::unique_ptr<RateChanger>> made;
    auto& slot = made[{rateIn, rateOut, channels, static_cast<int>(quality)}];
    if (!slot)
        slot = RateChanger::Create(rateIn, rateOut, channels, quality);
    EXPECT_NE(slot, nullptr) << rateIn << " -> " << rateOut;
    slot->Reset();
    return *slot;
}

// The whole signal in one call, then the tail.
std::vector<float> RunAll(RateChanger& rc, const std::vector<float>& x)
{
    const int c = rc.Channels();
    const auto frames = static_cast<int32_t>(x.size() / static_cast<std::size_t>(c));
    std::vector<float> y(static_cast<std::size_t>(rc.MaxOutput(frames) + rc.MaxFlush()) *
                         static_cast<std::size_t>(c));
    int32_t n = rc.Process(x.data(), frames, y.data());
    n += rc.Flush(y.data() + static_cast<std::size_t>(n) * static_cast<std::size_t>(c));
    y.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(c));
    return y;
}

// The signal in pieces of random lengths (0 included), each call within its stated bound.
std::vector<float> RunInPieces(RateChanger& rc, const std::vector<float>& x, uint32_t seed)
{
    const int c = rc.Channels();
    const auto frames = static_cast<int32_t>(x.size() / static_cast<std::size_t>(c));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> length(0, 3000);
    std::vector<float> y;
    std::vector<float> piece;
    for (int32_t at = 0; at < frames;)
    {
        const int32_t n = std::min(frames - at, length(random) * (random() % 4 == 0 ? 7 : 1));
        piece.assign(static_cast<std::size_t>(rc.MaxOutput(n)) * static_cast<std::size_t>(c), 0.0f);
        const int32_t got =
            rc.Process(x.data() + static_cast<std::size_t>(at) * c, n, piece.data());
        EXPECT_LE(got, rc.MaxOutput(n));
        y.insert(y.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got) * c);
        at += n;
    }
    piece.assign(static_cast<std::size_t>(rc.MaxFlush()) * static_cast<std::size_t>(c), 0.0f);
    const int32_t tail = rc.Flush(piece.data());
    EXPECT_LE(tail, rc.MaxFlush());
    y.insert(y.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(tail) * c);
    return y;
}

int64_t Rounded(int64_t n, double rateIn, double rateOut)
{
    // round(n·out/in), halves up, for the whole-Hz rates used here.
    const auto in = static_cast<int64_t>(rateIn);
    const auto out = static_cast<int64_t>(rateOut);
    return (2 * n * out + in) / (2 * in);
}

struct Ratio
{
    double in;
    double out;
};

// Exact rational single stage both ways, multistage down (half-bands first) and up (half-bands
// after), the interpolated bank, and powers of two.
const Ratio kRatios[] = {{44100, 48000}, {48000, 44100}, {240000, 48000},
                         {8000, 48000},  {44100, 8000},  {2400000, 48000},
                         {44100, 47999}, {24000, 48000}, {96000, 48000}};

std::vector<float> Noise(std::size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-0.5f, 0.5f);
    std::vector<float> x(count);
    for (float& v : x)
        v = value(random);
    return x;
}

TEST(RateChanger, OutputLengthIsTheRoundedRatioTimesTheInput)
{
    for (const Ratio& r : kRatios)
    {
        RateChanger& rc = Shared(r.in, r.out, 1, Quality::Low);
        for (const int64_t n : {0, 1, 2, 3, 5, 17, 1000, 4097, 10001})
        {
            rc.Reset();
            const std::vector<float> y = RunAll(rc, Noise(static_cast<std::size_t>(n), 5));
            EXPECT_EQ(static_cast<int64_t>(y.size()), Rounded(n, r.in, r.out))
                << r.in << " -> " << r.out << ", " << n << " frames";
        }
    }
}

// Output k stands for input time k/rateOut: a tone comes out with the phase it has at that time,
// to within a hundredth of an output sample, at every kind of cascade.
TEST(RateChanger, ToneComesOutAlignedAndAtItsGain)
{
    for (const Ratio& r : kRatios)
    {
        RateChanger& rc = Shared(r.in, r.out, 1, Quality::Best);
        const double half = 0.5 * std::min(r.in, r.out);
        for (const double fraction : {0.1, 0.37, 0.9})
        {
            rc.Reset();
            const double f = fraction * half;
            const std::vector<float> y =
                RunAll(rc, Tone(static_cast<std::size_t>(r.in / 10), f, r.in, 0.5));
            const std::size_t skip = y.size() / 5;
            const auto fit = FitTones(y, 1, skip, y.size() - 2 * skip, {f}, r.out);
            const double delay = fit.phase[0] / (2.0 * M_PI * f / r.out);
            EXPECT_NEAR(delay, 0.0, 0.01) << r.in << " -> " << r.out << " at " << f << " Hz";
            EXPECT_NEAR(Db(fit.amplitude[0] / 0.5), 0.0, 0.01)
                << r.in << " -> " << r.out << " at " << f << " Hz";
        }
    }
}

// The pass band at the best quality: flat to 0.01 dB up to 0.9 of half the lower rate, no more
// than 3 dB down at 0.95 of it.
TEST(RateChanger, PassBandIsFlatAndHalfPowerLiesAbove95PercentOfTheBand)
{
    for (const Ratio& r : {Ratio{44100, 48000}, Ratio{48000, 44100}, Ratio{2400000, 48000}})
    {
        RateChanger& rc = Shared(r.in, r.out, 1, Quality::Best);
        const double half = 0.5 * std::min(r.in, r.out);
        for (const double fraction : {0.02, 0.25, 0.5, 0.7, 0.8, 0.85, 0.9, 0.95})
        {
            rc.Reset();
            const double f = fraction * half;
            const std::vector<float> y = RunAll(
                rc, Tone(static_cast<std::size_t>(std::min(r.in / 10, 48000.0)), f, r.in, 0.5));
            const std::size_t skip = y.size() / 5;
            const double gain =
                Db(FitTones(y, 1, skip, y.size() - 2 * skip, {f}, r.out).amplitude[0] / 0.5);
            if (fraction <= 0.9)
                EXPECT_LE(std::fabs(gain), 0.01) << r.in << " -> " << r.out << " at " << fraction;
            else
                EXPECT_GE(gain, -3.0) << r.in << " -> " << r.out << " at " << fraction;
        }
    }
}

// Decimation at the best quality: a tone anywhere above half the output rate (just above it
// included) leaves nothing within 130 dB of itself.
TEST(RateChanger, TonesAboveTheOutputBandAlias130dBDownOrLess)
{
    for (const Ratio& r : {Ratio{44100, 8000}, Ratio{240000, 48000}, Ratio{48000, 44100}})
    {
        RateChanger& rc = Shared(r.in, r.out, 1, Quality::Best);
        for (const double f : {0.5 * r.out * 1.001, 0.5 * r.out * 1.03, 0.5 * r.out * 1.3,
                               0.5 * r.out + 0.4 * (r.in - r.out), 0.49 * r.in})
        {
            if (f >= 0.5 * r.in)
                continue;
            rc.Reset();
            const std::vector<float> y =
                RunAll(rc, Tone(static_cast<std::size_t>(r.in / 10), f, r.in, 0.5));
            const std::size_t skip = y.size() / 5;
            const double rms = RmsOf(y, 1, skip, y.size() - 2 * skip);
            EXPECT_LE(Db(rms / (0.5 / std::sqrt(2.0))), -130.0)
                << r.in << " -> " << r.out << " at " << f << " Hz";
        }
    }
}

// Interpolation at the best quality: the images of a tone (around multiples of the input rate)
// lie 130 dB down or more; what is left beside the tone and its images is the float noise.
TEST(RateChanger, ImagesOfTonesLie130dBDown)
{
    for (const Ratio& r : {Ratio{8000, 48000}, Ratio{44100, 48000}, Ratio{44100, 47999}})
    {
        RateChanger& rc = Shared(r.in, r.out, 1, Quality::Best);
        for (const double fraction : {0.05, 0.5, 0.9, 0.99})
        {
            rc.Reset();
            const double f = fraction * 0.5 * r.in;
            std::vector<double> tones = {f};
            for (double image = r.in - f; image < 0.5 * r.out; image += r.in)
            {
                tones.push_back(image);
                if (image + 2.0 * f < 0.5 * r.out)
                    tones.push_back(image + 2.0 * f);
            }
            const std::vector<float> y =
                RunAll(rc, Tone(static_cast<std::size_t>(r.in / 5), f, r.in, 0.5));
            const std::size_t skip = y.size() / 5;
            const auto fit = FitTones(y, 1, skip, y.size() - 2 * skip, tones, r.out);
            for (std::size_t i = 1; i < tones.size(); ++i)
                EXPECT_LE(Db(fit.amplitude[i] / 0.5), -130.0)
                    << r.in << " -> " << r.out << ": image of " << f << " at " << tones[i];
        }
    }
}

// THD+N of a float tone at the best quality: what the fitted tone leaves, against its power.
TEST(RateChanger, FloatToneKeepsThdPlusNoise130dBDown)
{
    for (const Ratio& r : kRatios)
    {
        RateChanger& rc = Shared(r.in, r.out, 1, Quality::Best);
        const double f = 997.0 * std::min(r.in, r.out) / 48000.0;
        const std::vector<float> y =
            RunAll(rc, Tone(static_cast<std::size_t>(r.in / 5), f, r.in, 0.5));
        const std::size_t skip = y.size() / 5;
        const auto fit = FitTones(y, 1, skip, y.size() - 2 * skip, {f}, r.out);
        EXPECT_LE(Db(fit.residualRms / (fit.amplitude[0] / std::sqrt(2.0))), -130.0)
            << r.in << " -> " << r.out;
    }
}

// An impulse at input time n0 peaks at the output sample of the same time and rings
// symmetrically about it (the filters are linear-phase, their delay compensated).
TEST(RateChanger, ImpulseLandsOnItsOutputTimeAndRingsSymmetrically)
{
    for (const Ratio& r :
         {Ratio{44100, 48000}, Ratio{48000, 44100}, Ratio{8000, 48000}, Ratio{240000, 48000}})
    {
        RateChanger& rc = Shared(r.in, r.out, 1, Quality::High);
        // n0 a whole number of ratio periods in, so that its output time is a whole sample.
        const auto in = static_cast<int64_t>(r.in);
        const auto out = static_cast<int64_t>(r.out);
        int64_t a = in, b = out;
        while (b != 0)
            std::tie(a, b) = std::make_tuple(b, a % b);
        const int64_t period = in / a;
        const int64_t n0 = period * (2000 / period + 1);
        const int64_t k0 = n0 * out / in;
        std::vector<float> x(static_cast<std::size_t>(2 * n0), 0.0f);
        x[static_cast<std::size_t>(n0)] = 1.0f;
        const std::vector<float> y = RunAll(rc, x);
        std::size_t peak = 0;
        for (std::size_t k = 0; k < y.size(); ++k)
            if (std::fabs(y[k]) > std::fabs(y[peak]))
                peak = k;
        EXPECT_EQ(static_cast<int64_t>(peak), k0) << r.in << " -> " << r.out;
        for (int64_t j = 1; j < 200; ++j)
            ASSERT_NEAR(y[static_cast<std::size_t>(k0 + j)], y[static_cast<std::size_t>(k0 - j)],
                        1e-6f)
                << r.in << " -> " << r.out << " at " << j;
    }
}

TEST(RateChanger, AnySplitIntoCallsGivesTheSameBits)
{
    for (const Ratio& r : kRatios)
    {
        RateChanger& rc = Shared(r.in, r.out, 2, Quality::Low);
        const std::vector<float> x = Noise(2 * 30011, 9);
        const std::vector<float> whole = RunAll(rc, x);
        for (uint32_t seed = 1; seed <= 3; ++seed)
        {
            rc.Reset();
            const std::vector<float> pieces = RunInPieces(rc, x, seed);
            ASSERT_EQ(pieces.size(), whole.size()) << r.in << " -> " << r.out;
            EXPECT_EQ(std::memcmp(pieces.data(), whole.data(), whole.size() * sizeof(float)), 0)
                << r.in << " -> " << r.out << " seed " << seed;
        }
    }
}

// Random rate pairs (whole Hz from 1 kHz to 3 MHz, any ratio between), channel counts and
// splits: the length is exact and the bits do not depend on the split.
TEST(RateChanger, RandomRatesKeepLengthAndStreamingBits)
{
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> logRate(std::log(1000.0), std::log(3e6));
    for (int trial = 0; trial < 24; ++trial)
    {
        const double in = std::round(std::exp(logRate(random)));
        const double out = std::round(std::exp(logRate(random)));
        const int channels = 1 + static_cast<int>(random() % 3);
        std::unique_ptr<RateChanger> rc = RateChanger::Create(in, out, channels, Quality::Low);
        ASSERT_NE(rc, nullptr) << in << " -> " << out;
        const auto frames = static_cast<std::size_t>(std::min(20000.0, 20000.0 * in / out) + 1);
        const std::vector<float> x = Noise(frames * static_cast<std::size_t>(channels), trial);
        const std::vector<float> whole = RunAll(*rc, x);
        EXPECT_EQ(static_cast<int64_t>(whole.size()) / channels,
                  Rounded(static_cast<int64_t>(frames), in, out))
            << in << " -> " << out;
        rc->Reset();
        const std::vector<float> pieces = RunInPieces(*rc, x, static_cast<uint32_t>(trial));
        ASSERT_EQ(pieces.size(), whole.size()) << in << " -> " << out;
        EXPECT_EQ(std::memcmp(pieces.data(), whole.data(), whole.size() * sizeof(float)), 0)
            << in << " -> " << out;
    }
}

// Channels are filtered alike and apart: each channel of a frame (I and Q of a complex signal,
// left and right) comes out with the bits it has alone.
TEST(RateChanger, EachChannelOfAFrameGivesItsMonoBits)
{
    for (const Ratio& r :
         {Ratio{44100, 48000}, Ratio{2400000, 48000}, Ratio{44100, 47999}, Ratio{8000, 48000}})
    {
        const std::vector<float> a = Noise(20000, 1);
        const std::vector<float> b = Noise(20000, 2);
        const std::vector<float> c = Noise(20000, 3);
        std::vector<float> frames(3 * a.size());
        for (std::size_t i = 0; i < a.size(); ++i)
        {
            frames[3 * i] = a[i];
            frames[3 * i + 1] = b[i];
            frames[3 * i + 2] = c[i];
        }
        const std::vector<float> together = RunAll(Shared(r.in, r.out, 3, Quality::Low), frames);
        RateChanger& mono = Shared(r.in, r.out, 1, Quality::Low);
        const std::vector<float>* alone[3] = {nullptr, nullptr, nullptr};
        const std::vector<float> ya = RunAll(mono, a);
        mono.Reset();
        const std::vector<float> yb = RunAll(mono, b);
        mono.Reset();
        const std::vector<float> yc = RunAll(mono, c);
        alone[0] = &ya;
        alone[1] = &yb;
        alone[2] = &yc;
        ASSERT_EQ(together.size(), 3 * ya.size());
        for (std::size_t ch = 0; ch < 3; ++ch)
            for (std::size_t k = 0; k < ya.size(); ++k)
                ASSERT_EQ(together[3 * k + ch], (*alone[ch])[k])
                    << r.in << " -> " << r.out << " channel " << ch << " frame " << k;
    }
}

// Every vector variant gives the scalar variant's bits, through every kind of stage.
TEST(RateChanger, EveryKernelVariantGivesTheSameBits)
{
    using namespace sigkit::kernels;
    for (const Ratio& r :
         {Ratio{44100, 48000}, Ratio{2400000, 48000}, Ratio{44100, 47999}, Ratio{8000, 48000}})
    {
        RateChanger& rc = Shared(r.in, r.out, 2, Quality::Low);
        const std::vector<float> x = Noise(2 * 20011, 8);
        rc.UseKernels(*TableFor(Isa::Scalar));
        const std::vector<float> scalar = RunAll(rc, x);
        for (const Isa isa : {Isa::Avx2, Isa::Avx512})
            if (const KernelTable* variant = TableFor(isa))
            {
                rc.Reset();
                rc.UseKernels(*variant);
                const std::vector<float> y = RunAll(rc, x);
                ASSERT_EQ(y.size(), scalar.size());
                EXPECT_EQ(std::memcmp(y.data(), scalar.data(), y.size() * sizeof(float)), 0)
                    << variant->name << ", " << r.in << " -> " << r.out;
            }
        rc.UseKernels(Active());
    }
}

TEST(RateChanger, ResetRepeatsTheFirstRun)
{
    RateChanger& rc = Shared(240000, 48000, 2, Quality::Low);
    const std::vector<float> x = Noise(2 * 12345, 4);
    const std::vector<float> first = RunAll(rc, x);
    rc.Reset();
    const std::vector<float> second = RunAll(rc, x);
    ASSERT_EQ(first.size(), second.size());
    EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(float)), 0);
    // A second Flush, and input after the flush, give nothing until Reset.
    float out[64];
    EXPECT_EQ(rc.Flush(out), 0);
    EXPECT_EQ(rc.Process(x.data(), 10, out), 0);
}

TEST(RateChanger, EqualRatesPassFramesThroughUnchanged)
{
    std::unique_ptr<RateChanger> rc = RateChanger::Create(44100, 44100, 2, Quality::Best);
    ASSERT_NE(rc, nullptr);
    EXPECT_TRUE(rc->Plan().stages.empty());
    const std::vector<float> x = Noise(2 * 1000, 6);
    EXPECT_EQ(RunAll(*rc, x), x);
}

// 390800 -> 2032 Hz: after the half-bands the ratio 16256/24425 has too many branches for an
// exact rational bank (and an earlier cut, 4064/24425, too long a prototype): the interpolated
// bank serves, at every quality.
TEST(RateChanger, RatiosBeyondAnExactBankUseTheInterpolatedOne)
{
    for (const Quality q : {Quality::Low, Quality::Best})
    {
        RateStatus status = RateStatus::DesignFailed;
        std::unique_ptr<RateChanger> rc = RateChanger::Create(390800, 2032, 1, q, &status);
        ASSERT_NE(rc, nullptr) << RateStatusText(status);
        EXPECT_EQ(rc->Plan().stages.back().kind, StageKind::Bank);
        EXPECT_EQ(RunAll(*rc, Noise(100000, 3)).size(),
                  static_cast<std::size_t>(Rounded(100000, 390800, 2032)));
    }
}

TEST(RateChanger, RefusesRatesRatiosAndChannelCountsItCannotServe)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case
    {
        double in, out;
        int32_t channels;
        RateStatus expected;
    };
    const Case cases[] = {
        {nan, 48000, 1, RateStatus::BadRate},
        {48000, nan, 1, RateStatus::BadRate},
        {0, 48000, 1, RateStatus::BadRate},
        {48000, 0, 1, RateStatus::BadRate},
        {-44100, 48000, 1, RateStatus::BadRate},
        {inf, 48000, 1, RateStatus::BadRate},
        {2e12, 48000, 1, RateStatus::BadRate},
        {1, 1e6, 1, RateStatus::BadRatio},
        {1e9, 8000, 1, RateStatus::BadRatio},
        {44100, 48000, 0, RateStatus::BadChannels},
        {44100, 48000, 100000, RateStatus::BadChannels},
    };
    for (const Case& c : cases)
    {
        RateStatus status = RateStatus::Ok;
        EXPECT_EQ(RateChanger::Create(c.in, c.out, c.channels, Quality::Low, &status), nullptr)
            << c.in << " -> " << c.out << " x" << c.channels;
        EXPECT_EQ(status, c.expected) << c.in << " -> " << c.out << " x" << c.channels;
        EXPECT_STRNE(RateStatusText(status), "");
    }
}

} // namespace
