#include "ToneFit.h"

#include "dsp/rate/Multistage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace sigkit::dsp;
using sigtest::Db;

constexpr double kTwoPi = 6.283185307179586476925;

// The channel case: 2.4 MHz I/Q, a 10 kHz band (±5 kHz), stopped from 6 kHz on (a transition of
// 10 % of the band) 100 dB down, ripple ±0.1 dB, decimated to the lowest convenient rate.
MultistageRequest ChannelRequest()
{
    MultistageRequest request;
    request.rateIn = 2400000.0;
    request.passEdge = 5000.0;
    request.stopEdge = 6000.0;
    request.rateOut = ConvenientRate(request.rateIn, request.passEdge, request.stopEdge);
    request.attenuation = 100.0;
    request.passRipple = 0.1;
    request.channels = 2;
    return request;
}

// Complex tones e^(j2πfn/rate) of the given amplitudes, as I and Q arrays.
void ComplexTones(std::size_t count, double rate,
                  const std::vector<std::pair<double, double>>& tones, std::vector<float>& I,
                  std::vector<float>& Q)
{
    I.assign(count, 0.0f);
    Q.assign(count, 0.0f);
    for (std::size_t n = 0; n < count; ++n)
    {
        double i = 0.0;
        double q = 0.0;
        for (const auto& [f, a] : tones)
        {
            const double turns = f * static_cast<double>(n) / rate;
            const double angle = kTwoPi * (turns - std::floor(turns));
            i += a * std::cos(angle);
            q += a * std::sin(angle);
        }
        I[n] = static_cast<float>(i);
        Q[n] = static_cast<float>(q);
    }
}

void RunIq(Multistage& m, const std::vector<float>& I, const std::vector<float>& Q,
           std::vector<float>& outI, std::vector<float>& outQ)
{
    const auto n = static_cast<int32_t>(I.size());
    outI.assign(static_cast<std::size_t>(m.MaxOutput(n) + m.MaxFlush()), 0.0f);
    outQ.assign(outI.size(), 0.0f);
    const float* in[2] = {I.data(), Q.data()};
    float* out[2] = {outI.data(), outQ.data()};
    int32_t got = m.Process(in, n, out);
    float* tail[2] = {outI.data() + got, outQ.data() + got};
    got += m.Flush(tail);
    outI.resize(static_cast<std::size_t>(got));
    outQ.resize(static_cast<std::size_t>(got));
}

TEST(ChannelDecimation, ConvenientRateIsTheLowestWholeDivisorThatHoldsTheBand)
{
    EXPECT_EQ(ConvenientRate(2400000.0, 5000.0, 6000.0), 12000.0);
    EXPECT_EQ(ConvenientRate(48000.0, 3000.0, 3500.0), 8000.0);        // 6500 needed; 48000/6
    EXPECT_EQ(ConvenientRate(2400000.0, 90000.0, 100000.0), 200000.0); // 2.4 MHz / 12
    EXPECT_EQ(ConvenientRate(1000.0, 600.0, 700.0), 0.0);
}

TEST(ChannelDecimation, TenKilohertzBandAt2400kHzKeepsTheBandAndRejectsTheNeighbour)
{
    const MultistageRequest request = ChannelRequest();
    ASSERT_EQ(request.rateOut, 12000.0);
    RateStatus status = RateStatus::Ok;
    std::unique_ptr<Multistage> m = Multistage::Create(request, &status);
    ASSERT_NE(m, nullptr) << RateStatusText(status);
    // A few multiply-adds per input, not thousands.
    EXPECT_LT(m->Plan().macsPerInput, 12.0);
    std::printf("channel 2.4 MHz -> 12 kHz: %zu stages, %.2f multiply-adds per input\n",
                m->Plan().stages.size(), m->Plan().macsPerInput);

    // The wanted band's edges and middle, each beside one strong signal elsewhere: the
    // neighbouring channel's centre 10 kHz away on either side, the first frequency of the stop
    // band, and one far off.
    const std::size_t count = 480000; // 0.2 s
    for (const double f : {-4900.0, -2500.0, 0.0, 1234.5, 4900.0})
        for (const double other : {10000.0, -10000.0, 6000.0, -6000.0, 300000.0})
        {
            m->Reset();
            std::vector<float> I, Q, outI, outQ;
            ComplexTones(count, request.rateIn, {{f, 0.05}, {other, 0.5}}, I, Q);
            RunIq(*m, I, Q, outI, outQ);
            ASSERT_EQ(outI.size(), count / 200);
            // The wanted tone's amplitude and phase, then everything else that comes out.
            const std::size_t skip = outI.size() / 5;
            std::complex<double> sum = 0.0;
            for (std::size_t k = skip; k < outI.size() - skip; ++k)
            {
                const double turns = f * static_cast<double>(k) / request.rateOut;
                sum += std::complex<double>(outI[k], outQ[k]) *
                       std::polar(1.0, -kTwoPi * (turns - std::floor(turns)));
            }
            const std::complex<double> wanted = sum / static_cast<double>(outI.size() - 2 * skip);
            EXPECT_NEAR(Db(std::abs(wanted) / 0.05), 0.0, 0.1) << f << " Hz beside " << other;
            double rest = 0.0;
            for (std::size_t k = skip; k < outI.size() - skip; ++k)
            {
                const double turns = f * static_cast<double>(k) / request.rateOut;
                rest += std::norm(std::complex<double>(outI[k], outQ[k]) -
                                  wanted * std::polar(1.0, kTwoPi * (turns - std::floor(turns))));
            }
            rest = std::sqrt(rest / static_cast<double>(outI.size() - 2 * skip));
            EXPECT_LE(Db(rest / 0.5), -100.0) << f << " Hz beside " << other;
        }
}

// Real taps filter I and Q alike and apart: the I/Q of two real signals gives each one's bits.
TEST(ChannelDecimation, IqOfTwoRealSignalsGivesEachOnesBits)
{
    MultistageRequest request = ChannelRequest();
    std::unique_ptr<Multistage> iq = Multistage::Create(request, nullptr);
    request.channels = 1;
    std::unique_ptr<Multistage> real = Multistage::Create(request, nullptr);
    ASSERT_NE(iq, nullptr);
    ASSERT_NE(real, nullptr);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> a(100003), b(100003);
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        a[i] = value(random);
        b[i] = value(random);
    }
    std::vector<float> outI, outQ;
    RunIq(*iq, a, b, outI, outQ);
    for (const auto* part : {&a, &b})
    {
        real->Reset();
        const auto n = static_cast<int32_t>(part->size());
        std::vector<float> y(static_cast<std::size_t>(real->MaxOutput(n) + real->MaxFlush()));
        const float* in = part->data();
        float* out = y.data();
        int32_t got = real->Process(&in, n, &out);
        float* tail = y.data() + got;
        got += real->Flush(&tail);
        y.resize(static_cast<std::size_t>(got));
        EXPECT_EQ(y, part == &a ? outI : outQ);
    }
}

TEST(ChannelDecimation, ArraysAndInterleavedFramesGiveTheSameBits)
{
    std::unique_ptr<Multistage> m = Multistage::Create(ChannelRequest(), nullptr);
    ASSERT_NE(m, nullptr);
    std::vector<float> I, Q, outI, outQ;
    ComplexTones(50000, 2400000.0, {{1000.0, 0.5}, {-20000.0, 0.5}}, I, Q);
    RunIq(*m, I, Q, outI, outQ);
    m->Reset();
    std::vector<float> frames(2 * I.size());
    for (std::size_t i = 0; i < I.size(); ++i)
    {
        frames[2 * i] = I[i];
        frames[2 * i + 1] = Q[i];
    }
    std::vector<float> out(2 * static_cast<std::size_t>(m->MaxOutput(50000) + m->MaxFlush()));
    int32_t got = m->ProcessInterleaved(frames.data(), 50000, out.data());
    got += m->FlushInterleaved(out.data() + 2 * got);
    ASSERT_EQ(static_cast<std::size_t>(got), outI.size());
    for (std::size_t k = 0; k < outI.size(); ++k)
    {
        ASSERT_EQ(out[2 * k], outI[k]) << k;
        ASSERT_EQ(out[2 * k + 1], outQ[k]) << k;
    }
}

TEST(ChannelDecimation, RefusesBandsTheRatesCannotHold)
{
    MultistageRequest request = ChannelRequest();
    const auto refused = [](const MultistageRequest& s) {
        RateStatus status = RateStatus::Ok;
        const bool made = Multistage::Create(s, &status) != nullptr;
        return made ? RateStatus::Ok : status;
    };
    request.stopEdge = 6001.0; // beyond half the output rate
    EXPECT_EQ(refused(request), RateStatus::BadBand);
    request = ChannelRequest();
    request.passEdge = 6000.0; // not below the stop edge
    EXPECT_EQ(refused(request), RateStatus::BadBand);
    request = ChannelRequest();
    request.passEdge = std::nan("");
    EXPECT_EQ(refused(request), RateStatus::BadBand);
    request = ChannelRequest();
    request.attenuation = 5.0;
    EXPECT_EQ(refused(request), RateStatus::BadAttenuation);
    request = ChannelRequest();
    request.passRipple = 0.0;
    EXPECT_EQ(refused(request), RateStatus::BadRipple);
}

} // namespace
