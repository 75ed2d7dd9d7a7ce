#include "ChainRunner.h"

#include "chains/ChannelChain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

using namespace sigkit::chains;
using sigkit::dsp::Quality;
using namespace sigtest;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ChannelRequest Iq(double rate, double frequency, double band, double rateOut = 0.0,
                  Quality quality = Quality::High)
{
    ChannelRequest r;
    r.input = {rate, 2, true};
    r.frequency = frequency;
    r.band = band;
    r.rateOut = rateOut;
    r.quality = quality;
    return r;
}

ChannelRequest Real(double rate, double frequency, double band, double rateOut = 0.0)
{
    ChannelRequest r = Iq(rate, frequency, band, rateOut);
    r.input = {rate, 1, false};
    return r;
}

std::unique_ptr<ChannelChain> Made(const ChannelRequest& request)
{
    ChainStatus status;
    std::unique_ptr<ChannelChain> chain = ChannelChain::Create(request, &status);
    EXPECT_NE(chain, nullptr) << status.text;
    return chain;
}

// The recording's channel and the structures that cut it: a 10 kHz band 200 kHz off the centre
// of 2.4 MHz, decimated through the cascade to its convenient rate (12 kHz); and a 2 kHz band
// kept at 48 kHz, where the fast filter does the work.
const ChannelRequest kRadio = Iq(2400000, 200000, 10000);
const ChannelRequest kKept = Iq(48000, -7000, 2000, 48000);
// A narrow band brought down only a little: the fast filter, then a short cascade.
const ChannelRequest kBetween = Iq(2400000, 300000, 10000, 480000);

// Output frames away from both ends of a run: past the filters' start and before their tail.
struct Middle
{
    std::size_t first;
    std::size_t count;
};
Middle MiddleOf(const std::vector<float>& iq, double fraction = 0.2)
{
    const std::size_t frames = iq.size() / 2;
    const auto skip = static_cast<std::size_t>(fraction * static_cast<double>(frames));
    return {skip, frames - 2 * skip};
}

TEST(ChannelChain, ChoosesTheCascadeToDecimateAndTheFastFilterToKeepTheRate)
{
    std::unique_ptr<ChannelChain> radio = Made(kRadio);
    ASSERT_NE(radio, nullptr);
    EXPECT_EQ(radio->Output().rate, 12000.0); // 2.4 MHz / 200: the lowest convenient rate
    EXPECT_TRUE(radio->Output().complex);
    EXPECT_EQ(radio->FftTaps(), 0);
    ASSERT_NE(radio->Plan(), nullptr);
    EXPECT_LT(radio->CostPerInput(), 40.0);

    std::unique_ptr<ChannelChain> kept = Made(kKept);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->Output().rate, 48000.0);
    EXPECT_GT(kept->FftTaps(), 1000);
    EXPECT_EQ(kept->Plan(), nullptr);

    std::unique_ptr<ChannelChain> between = Made(kBetween);
    ASSERT_NE(between, nullptr);
    EXPECT_GT(between->FftTaps(), 10000);
    ASSERT_NE(between->Plan(), nullptr);
    EXPECT_LT(between->CostPerInput(), 400.0);
}

// The channel: tones across the band come out flat to 0.01 dB (0.1 dB is asked); a
// neighbour 10 kHz away on either side, and tones that would alias into the band at the output
// rate, lie at least the quality's attenuation down (100 dB asked of the default).
TEST(ChannelChain, KeepsTheBandFlatAndRejectsNeighboursAndAliases)
{
    std::unique_ptr<ChannelChain> chain = Made(kRadio);
    ASSERT_NE(chain, nullptr);
    const double rate = kRadio.input.rate;
    const double f0 = kRadio.frequency;
    const double out = chain->Output().rate;
    const std::size_t frames = 120000; // 50 ms
    for (const double d : {-4990.0, -3700.0, -100.0, 0.0, 1300.0, 4200.0, 5000.0})
    {
        chain->Reset();
        const std::vector<float> y = RunAll(*chain, ComplexTone(frames, f0 + d, rate, 0.5));
        const Middle m = MiddleOf(y);
        const ComplexFit fit = FitComplex(y, m.first, m.count, {d}, out);
        EXPECT_NEAR(DbOf(std::abs(fit.amplitude[0]) / 0.5), 0.0, 0.015) << d << " Hz";
    }
    for (const double d : {-10000.0, 10000.0, 6000.0, -6000.0, 12000.0 + 1000.0, -24000.0 - 2500.0,
                           600000.0 + 3000.0, -1000000.0})
    {
        chain->Reset();
        const std::vector<float> y = RunAll(*chain, ComplexTone(frames, f0 + d, rate, 0.5));
        const Middle m = MiddleOf(y);
        EXPECT_LE(DbOf(ComplexRms(y, m.first, m.count) / 0.5), -119.0) << d << " Hz";
    }
}

TEST(ChannelChain, EachQualityRejectsItsAttenuation)
{
    for (const Quality q : {Quality::Low, Quality::Medium, Quality::Best})
    {
        ChannelRequest request = kRadio;
        request.quality = q;
        request.rateOut = 16000;
        std::unique_ptr<ChannelChain> chain = Made(request);
        ASSERT_NE(chain, nullptr);
        const double attenuation = chain->Design().attenuation;
        for (const double d : {6000.0, -10000.0, 16000.0 + 2000.0})
        {
            chain->Reset();
            const std::vector<float> y =
                RunAll(*chain, ComplexTone(120000, kRadio.frequency + d, 2400000, 0.5));
            const Middle m = MiddleOf(y);
            EXPECT_LE(DbOf(ComplexRms(y, m.first, m.count) / 0.5), -attenuation + 1.0)
                << attenuation << " dB, " << d << " Hz";
        }
    }
}

// The fast filter at the input rate, alone or before a cascade: the band flat, the stop band
// (and what would alias into the band at the output rate) down.
TEST(ChannelChain, FastFilterKeepsTheBandAndStopsTheRest)
{
    for (const ChannelRequest& request : {kKept, kBetween})
    {
        std::unique_ptr<ChannelChain> chain = Made(request);
        ASSERT_NE(chain, nullptr);
        const double rate = request.input.rate;
        const double out = chain->Output().rate;
        const double half = 0.5 * request.band;
        const auto frames = static_cast<std::size_t>(rate / 10);
        for (const double fraction : {-0.99, -0.4, 0.0, 0.6, 1.0})
        {
            const double d = fraction * half;
            chain->Reset();
            const std::vector<float> y =
                RunAll(*chain, ComplexTone(frames, request.frequency + d, rate, 0.5));
            const Middle m = MiddleOf(y);
            const ComplexFit fit = FitComplex(y, m.first, m.count, {d}, out);
            EXPECT_NEAR(DbOf(std::abs(fit.amplitude[0]) / 0.5), 0.0, 0.015) << out << ", " << d;
            EXPECT_LE(DbOf(fit.residualRms / 0.5), -120.0) << out << ", " << d << " Hz";
        }
        for (const double d : {-1.2 * half, 1.2 * half, 5.0 * half, out + 0.3 * half,
                               -0.5 * out - 0.2 * half, 0.4 * rate})
        {
            if (std::fabs(d - rate * std::round(d / rate)) < 1.2 * half)
                continue; // (at the input rate, in the band again)
            chain->Reset();
            const std::vector<float> y =
                RunAll(*chain, ComplexTone(frames, request.frequency + d, rate, 0.5));
            const Middle m = MiddleOf(y);
            EXPECT_LE(DbOf(ComplexRms(y, m.first, m.count) / 0.5), -119.0) << out << ", " << d;
        }
    }
}

// Output frame k stands for input time k / Fout: a tone at f0 + d leaves as e^(j2π·d·t) with
// the phase it had at that time (frame 0 is turned by 0), within a hundredth of an output frame.
TEST(ChannelChain, ToneComesOutAlignedWithItsInputTime)
{
    struct Run
    {
        ChannelRequest request;
        double d;
    };
    for (const Run& run : {Run{kRadio, 3100.0}, Run{kRadio, -4400.0}, Run{kKept, 730.0},
                           Run{kBetween, -2900.0}, Run{Iq(2400000, 200000, 10000, 16000), 2500.0},
                           Run{Iq(2400000, -350000, 10000, 2400000), -3000.0},
                           Run{Real(48000, 9000, 2000, 8000), 800.0}})
    {
        std::unique_ptr<ChannelChain> chain = Made(run.request);
        ASSERT_NE(chain, nullptr);
        const double rate = run.request.input.rate;
        const double out = chain->Output().rate;
        const auto frames = static_cast<std::size_t>(rate / 20);
        std::vector<float> x = ComplexTone(frames, run.request.frequency + run.d, rate, 0.5);
        if (!run.request.input.complex)
            for (std::size_t n = 0; n < frames; ++n)
                x[n] = x[2 * n]; // the real part: a cosine of amplitude 0.5
        x.resize(frames * static_cast<std::size_t>(run.request.input.channels));
        const std::vector<float> y = RunAll(*chain, x);
        const Middle m = MiddleOf(y);
        const ComplexFit fit = FitComplex(y, m.first, m.count, {run.d}, out);
        const double delay = -std::arg(fit.amplitude[0]) / (kTwoPi * run.d / out);
        EXPECT_NEAR(delay, 0.0, 0.01) << run.request.input.rate << " -> " << out << ", d " << run.d;
        EXPECT_NEAR(DbOf(std::abs(fit.amplitude[0]) / 0.5), 0.0, 0.1) << out << ", d " << run.d;
    }
}

// N input frames give round(N·Fout/Fin) output frames; before the flush, Latency() says how
// many the flush will give.
TEST(ChannelChain, LengthIsTheRoundedRatioAndLatencyIsWhatTheFlushGives)
{
    for (const ChannelRequest& request : {kRadio, kKept, kBetween, Iq(2400000, 0, 10000, 16000)})
    {
        std::unique_ptr<ChannelChain> chain = Made(request);
        ASSERT_NE(chain, nullptr);
        const auto in = static_cast<int64_t>(request.input.rate);
        const auto out = static_cast<int64_t>(chain->Output().rate);
        for (const int64_t n : {0, 1, 2, 3, 17, 199, 201, 4096, 4097, 70001, 250000})
        {
            chain->Reset();
            const std::vector<float> x = ComplexTone(static_cast<std::size_t>(n), 1234.5, 1e4, 0.3);
            std::vector<float> y(FloatsOf(chain->MaxOutput(static_cast<int32_t>(n)), 2));
            const int32_t made = chain->Process(x.data(), static_cast<int32_t>(n), y.data());
            const int64_t held = chain->Latency();
            EXPECT_GE(held, 0);
            EXPECT_LE(held, chain->MaxFlush());
            std::vector<float> tail(FloatsOf(chain->MaxFlush(), 2));
            const int32_t flushed = chain->Flush(tail.data());
            EXPECT_EQ(flushed, held) << in << " -> " << out << ", " << n << " frames";
            EXPECT_EQ(made + flushed, (2 * n * out + in) / (2 * in))
                << in << " -> " << out << ", " << n << " frames";
            EXPECT_EQ(chain->Latency(), 0);
        }
    }
}

TEST(ChannelChain, AnySplitIntoCallsGivesTheSameBits)
{
    for (const ChannelRequest& request :
         {kRadio, kKept, kBetween, Iq(96000, 20000, 30000, 48000), Real(48000, 9000, 2000, 8000)})
    {
        std::unique_ptr<ChannelChain> chain = Made(request);
        ASSERT_NE(chain, nullptr);
        const auto frames = static_cast<std::size_t>(request.input.rate / 8);
        std::vector<float> x =
            Sum(ComplexTone(frames, request.frequency + 700.0, request.input.rate, 0.4),
                ComplexTone(frames, request.frequency - 7100.0, request.input.rate, 0.3));
        x.resize(frames * static_cast<std::size_t>(request.input.channels));
        const std::vector<float> whole = RunAll(*chain, x);
        for (uint32_t seed = 1; seed <= 3; ++seed)
        {
            chain->Reset();
            const std::vector<float> pieces = RunInPieces(*chain, x, seed);
            ASSERT_EQ(pieces.size(), whole.size()) << request.input.rate;
            EXPECT_EQ(std::memcmp(pieces.data(), whole.data(), whole.size() * sizeof(float)), 0)
                << request.input.rate << " -> " << chain->Output().rate << ", seed " << seed;
        }
    }
}

// Real input is the analytic signal of its positive frequencies: its bits are those of I/Q input
// with the samples doubled and Q zero, and a real cosine leaves as one complex tone at full
// amplitude, its mirror gone.
TEST(ChannelChain, RealInputGivesTheBitsOfItsDoubledIqAndNoMirror)
{
    for (const ChannelRequest& real :
         {Real(48000, 9000, 2000, 8000), Real(2400000, 150000, 10000), Real(48000, 21000, 2000)})
    {
        ChannelRequest iq = real;
        iq.input = {real.input.rate, 2, true};
        std::unique_ptr<ChannelChain> a = Made(real);
        std::unique_ptr<ChannelChain> b = Made(iq);
        ASSERT_TRUE(a && b);
        const double rate = real.input.rate;
        const auto frames = static_cast<std::size_t>(rate / 10);
        const double d = 0.3 * real.band;
        const std::vector<float> tone = ComplexTone(frames, real.frequency + d, rate, 0.5);
        std::vector<float> x(frames), doubled(2 * frames, 0.0f);
        for (std::size_t n = 0; n < frames; ++n)
        {
            x[n] = tone[2 * n];
            doubled[2 * n] = 2.0f * tone[2 * n];
        }
        const std::vector<float> y = RunAll(*a, x);
        const std::vector<float> yIq = RunAll(*b, doubled);
        ASSERT_EQ(y.size(), yIq.size());
        EXPECT_EQ(std::memcmp(y.data(), yIq.data(), y.size() * sizeof(float)), 0) << rate;
        const Middle m = MiddleOf(y);
        const ComplexFit fit = FitComplex(y, m.first, m.count, {d, -d}, a->Output().rate);
        EXPECT_NEAR(DbOf(std::abs(fit.amplitude[0]) / 0.5), 0.0, 0.1) << rate;
        EXPECT_LE(DbOf(fit.residualRms / 0.5), -110.0) << rate;
        EXPECT_LE(DbOf(std::abs(fit.amplitude[1]) / 0.5), -119.0) << rate;
    }
}

TEST(ChannelChain, GainScalesEveryOutputSample)
{
    ChannelRequest request = kKept;
    std::unique_ptr<ChannelChain> plain = Made(request);
    request.gain = 0.25f;
    std::unique_ptr<ChannelChain> quarter = Made(request);
    ASSERT_TRUE(plain && quarter);
    const std::vector<float> x = ComplexTone(30000, -7300.0, 48000, 0.5);
    const std::vector<float> a = RunAll(*plain, x);
    const std::vector<float> b = RunAll(*quarter, x);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(b[i], a[i] * 0.25f) << i;
}

TEST(ChannelChain, CallsWithoutInputOrAfterTheFlushGiveNothing)
{
    std::unique_ptr<ChannelChain> chain = Made(kKept);
    ASSERT_NE(chain, nullptr);
    std::vector<float> x = ComplexTone(1000, 100.0, 48000, 0.5);
    std::vector<float> y(FloatsOf(chain->MaxOutput(1000) + chain->MaxFlush(), 2));
    EXPECT_EQ(chain->Process(nullptr, 1000, y.data()), 0);
    EXPECT_EQ(chain->Process(x.data(), 1000, nullptr), 0);
    EXPECT_EQ(chain->Process(x.data(), 0, y.data()), 0);
    EXPECT_EQ(chain->Process(x.data(), -5, y.data()), 0);
    EXPECT_EQ(chain->Latency(), 0);
    EXPECT_EQ(chain->MaxOutput(kRefusedCall), kRefusedCall);
    EXPECT_EQ(chain->Process(x.data(), kRefusedCall, y.data()), 0);
    const int32_t made = chain->Process(x.data(), 1000, y.data());
    EXPECT_EQ(made + chain->Latency(), 1000);
    EXPECT_EQ(chain->Flush(y.data()), 1000 - made);
    EXPECT_EQ(chain->Flush(y.data()), 0);
    EXPECT_EQ(chain->Process(x.data(), 1000, y.data()), 0);
    chain->Reset();
    EXPECT_EQ(chain->Process(x.data(), 1000, y.data()), made);
}

// Every refusal names its reason; nothing is made.
TEST(ChannelChain, RefusesRequestsItCannotMeet)
{
    struct Bad
    {
        ChannelRequest request;
        ChainCode code;
    };
    ChannelRequest threeReal = Real(48000, 9000, 2000);
    threeReal.input.channels = 3;
    ChannelRequest oneIq = kRadio;
    oneIq.input.channels = 1;
    ChannelRequest infiniteGain = kRadio;
    infiniteGain.gain = std::numeric_limits<float>::infinity();
    ChannelRequest noQuality = kRadio;
    noQuality.quality = static_cast<Quality>(7);
    const Bad bad[] = {
        {oneIq, ChainCode::BadLayout},
        {threeReal, ChainCode::BadLayout},
        {Iq(0, 0, 1000), ChainCode::BadRate},
        {Iq(kNaN, 0, 1000), ChainCode::BadRate},
        {Iq(-48000, 0, 1000), ChainCode::BadRate},
        {Iq(2e12, 0, 1000), ChainCode::BadRate},
        {Iq(48000, 0, 0), ChainCode::BadParameter},
        {Iq(48000, 0, kNaN), ChainCode::BadParameter},
        {Iq(48000, 0, -2000), ChainCode::BadParameter},
        {Iq(48000, 0, 40001), ChainCode::BadParameter}, // 1.2 x band beyond the rate
        {Iq(48000, 24001, 2000), ChainCode::BadFrequency},
        {Iq(48000, kNaN, 2000), ChainCode::BadFrequency},
        {Iq(48000, 0, 2000, kNaN), ChainCode::BadRate},
        {Iq(48000, 0, 2000, -8000), ChainCode::BadRate},
        {Iq(48000, 0, 2000, 96000), ChainCode::BadRate},
        {Iq(48000, 0, 2000, 2399), ChainCode::BadRate},      // below 1.2 x band
        {Iq(1e11, 0, 100, 200), ChainCode::BadRate},         // a ratio beyond the limits
        {Real(48000, 1000, 2000), ChainCode::BadFrequency},  // the mirror within reach
        {Real(48000, 23000, 2000), ChainCode::BadFrequency}, // near half the rate
        {infiniteGain, ChainCode::BadParameter},
        {noQuality, ChainCode::BadParameter},
    };
    for (const Bad& b : bad)
    {
        ChainStatus status;
        EXPECT_EQ(ChannelChain::Create(b.request, &status), nullptr) << status.text;
        EXPECT_EQ(status.code, b.code) << status.text;
        EXPECT_NE(status.text.find("channel: "), std::string::npos) << status.text;
    }
    ChainStatus status;
    EXPECT_NE(ChannelChain::Create(Real(48000, 1650, 2000), &status), nullptr) << status.text;
    EXPECT_TRUE(status.Ok());
}

} // namespace
