#include "ChainRunner.h"
#include "ToneFit.h"

#include "chains/RateChain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

using namespace sigkit::chains;
using sigkit::dsp::Quality;
using sigtest::FloatsOf;
using sigtest::RunAll;
using sigtest::RunInPieces;

RateRequest Request(double rateIn, double rateOut, int32_t channels, bool complex = false,
                    Quality quality = Quality::High)
{
    RateRequest r;
    r.input = {rateIn, channels, complex};
    r.rateOut = rateOut;
    r.quality = quality;
    return r;
}

std::unique_ptr<RateChain> Made(const RateRequest& request)
{
    ChainStatus status;
    std::unique_ptr<RateChain> chain = RateChain::Create(request, &status);
    EXPECT_NE(chain, nullptr) << status.text;
    return chain;
}

// Frames of `channels` channels, channel c a tone at frequencies[c].
std::vector<float> Tones(std::size_t frames, const std::vector<double>& frequencies, double rate,
                         double amplitude)
{
    const std::size_t channels = frequencies.size();
    std::vector<float> x(frames * channels);
    for (std::size_t c = 0; c < channels; ++c)
    {
        const std::vector<float> tone = sigtest::Tone(frames, frequencies[c], rate, amplitude);
        for (std::size_t n = 0; n < frames; ++n)
            x[n * channels + c] = tone[n];
    }
    return x;
}

TEST(RateChain, RealStaysRealWithItsChannelsAndIqStaysIq)
{
    for (const RateRequest& request : {Request(44100, 48000, 1), Request(44100, 48000, 2),
                                       Request(8000, 48000, 5), Request(2400000, 48000, 2, true)})
    {
        std::unique_ptr<RateChain> chain = Made(request);
        ASSERT_NE(chain, nullptr);
        const Layout out = chain->Output();
        EXPECT_EQ(out.rate, request.rateOut);
        EXPECT_EQ(out.channels, request.input.channels);
        EXPECT_EQ(out.complex, request.input.complex);
        EXPECT_EQ(chain->Input().rate, request.input.rate);
    }
}

// The presets: a tone just above half the output rate aliases no higher than the preset's
// attenuation (80 / 100 / 120 / 140 dB).
TEST(RateChain, EachQualityStopsAliasesAtItsAttenuation)
{
    const double attenuation[] = {80.0, 100.0, 120.0, 140.0};
    for (const Quality q : {Quality::Low, Quality::Medium, Quality::High, Quality::Best})
    {
        std::unique_ptr<RateChain> chain = Made(Request(44100, 8000, 1, false, q));
        ASSERT_NE(chain, nullptr);
        for (const double f : {4000.0 * 1.02, 9000.0, 20000.0})
        {
            chain->Reset();
            const std::vector<float> y = RunAll(*chain, sigtest::Tone(22050, f, 44100, 0.5));
            const std::size_t skip = y.size() / 5;
            const double rms = sigtest::RmsOf(y, 1, skip, y.size() - 2 * skip);
            EXPECT_LE(sigtest::Db(rms / (0.5 / std::sqrt(2.0))),
                      -attenuation[static_cast<int>(q)] + 1.0)
                << "quality " << static_cast<int>(q) << ", " << f << " Hz";
        }
    }
}

// Real frames and I/Q pairs are filtered alike: stereo gives the bits of the same floats as I/Q,
// and a mono signal gives the I of (signal, 0) with Q exactly zero.
TEST(RateChain, RealAndIqOfTheSameFloatsGiveTheSameBits)
{
    std::unique_ptr<RateChain> stereo = Made(Request(44100, 48000, 2));
    std::unique_ptr<RateChain> iq = Made(Request(44100, 48000, 2, true));
    std::unique_ptr<RateChain> mono = Made(Request(44100, 48000, 1));
    ASSERT_TRUE(stereo && iq && mono);
    const std::vector<float> x = Tones(30011, {440.0, 12345.0}, 44100, 0.4);
    const std::vector<float> a = RunAll(*stereo, x);
    const std::vector<float> b = RunAll(*iq, x);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);

    std::vector<float> left(30011), leftAndZero(2 * 30011, 0.0f);
    for (std::size_t n = 0; n < left.size(); ++n)
        left[n] = leftAndZero[2 * n] = x[2 * n];
    iq->Reset();
    const std::vector<float> alone = RunAll(*mono, left);
    const std::vector<float> pairs = RunAll(*iq, leftAndZero);
    ASSERT_EQ(pairs.size(), 2 * alone.size());
    for (std::size_t k = 0; k < alone.size(); ++k)
    {
        ASSERT_EQ(pairs[2 * k], alone[k]) << k;
        ASSERT_EQ(pairs[2 * k + 1], 0.0f) << k;
    }
}

TEST(RateChain, GainScalesEveryOutputAndEqualRatesPassTheInputThrough)
{
    RateRequest request = Request(48000, 44100, 2);
    std::unique_ptr<RateChain> plain = Made(request);
    request.gain = -0.5f;
    std::unique_ptr<RateChain> half = Made(request);
    ASSERT_TRUE(plain && half);
    const std::vector<float> x = Tones(20000, {1000.0, 3000.0}, 48000, 0.5);
    const std::vector<float> a = RunAll(*plain, x);
    const std::vector<float> b = RunAll(*half, x);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(b[i], a[i] * -0.5f) << i;

    std::unique_ptr<RateChain> same = Made(Request(44100, 44100, 3, false, Quality::Best));
    ASSERT_NE(same, nullptr);
    const std::vector<float> y = Tones(1000, {100.0, 200.0, 300.0}, 44100, 0.5);
    EXPECT_EQ(RunAll(*same, y), y);
}

// N frames give round(N·Fout/Fin); before the flush Latency() says how many it will give; any
// split into calls gives the same bits.
TEST(RateChain, LengthLatencyAndStreamingHold)
{
    for (const RateRequest& request :
         {Request(44100, 48000, 2), Request(2400000, 48000, 2, true), Request(8000, 48000, 1),
          Request(44100, 47999, 1, false, Quality::Low)})
    {
        std::unique_ptr<RateChain> chain = Made(request);
        ASSERT_NE(chain, nullptr);
        const auto in = static_cast<int64_t>(request.input.rate);
        const auto out = static_cast<int64_t>(request.rateOut);
        const int32_t c = request.input.channels;
        for (const int64_t n : {0, 1, 2, 5, 4097, 60001})
        {
            chain->Reset();
            const std::vector<float> x =
                sigtest::Tone(static_cast<std::size_t>(n), 300.0, 1e4, 0.5, c);
            std::vector<float> y(FloatsOf(chain->MaxOutput(static_cast<int32_t>(n)), c));
            const int32_t made = chain->Process(x.data(), static_cast<int32_t>(n), y.data());
            const int64_t held = chain->Latency();
            EXPECT_LE(held, chain->MaxFlush());
            std::vector<float> tail(FloatsOf(chain->MaxFlush(), c));
            EXPECT_EQ(chain->Flush(tail.data()), held) << in << " -> " << out << ", " << n;
            EXPECT_EQ(made + held, (2 * n * out + in) / (2 * in))
                << in << " -> " << out << ", " << n;
        }
        const std::vector<float> x =
            sigtest::Tone(static_cast<std::size_t>(in / 10), 313.0, request.input.rate, 0.5, c);
        chain->Reset();
        const std::vector<float> whole = RunAll(*chain, x);
        chain->Reset();
        const std::vector<float> pieces = RunInPieces(*chain, x, 7);
        ASSERT_EQ(whole.size(), pieces.size());
        EXPECT_EQ(std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)), 0)
            << in << " -> " << out;
    }
}

TEST(RateChain, RefusesRequestsItCannotMeet)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    RateRequest noGain = Request(44100, 48000, 1);
    noGain.gain = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        RateRequest request;
        ChainCode code;
    } bad[] = {
        {Request(44100, 48000, 0), ChainCode::BadLayout},
        {Request(44100, 48000, 1025), ChainCode::BadLayout},
        {Request(44100, 48000, 1, true), ChainCode::BadLayout},
        {Request(0, 48000, 1), ChainCode::BadRate},
        {Request(44100, kNaN, 1), ChainCode::BadRate},
        {Request(44100, -1, 1), ChainCode::BadRate},
        {Request(std::numeric_limits<double>::infinity(), 48000, 1), ChainCode::BadRate},
        {Request(1e12 * 2, 48000, 1), ChainCode::BadRate},
        {Request(8000000, 100, 1), ChainCode::BadRate}, // a ratio of 80000
        {Request(44100, 48000, 1, false, static_cast<Quality>(9)), ChainCode::BadParameter},
        {noGain, ChainCode::BadParameter},
    };
    for (const auto& b : bad)
    {
        ChainStatus status;
        EXPECT_EQ(RateChain::Create(b.request, &status), nullptr) << status.text;
        EXPECT_EQ(status.code, b.code) << status.text;
        EXPECT_NE(status.text.find("rate"), std::string::npos) << status.text;
    }
}

} // namespace
