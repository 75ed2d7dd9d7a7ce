// The chains behind the sigkit_ API (RATE, CHANNEL, AM .. CW): each object gives its chain's
// floats bit for bit in any pieces, the aligned length after the flush, a fresh stream after a
// reset; what a chain refuses comes back as a status.
#include "sigkit_api.h"

#include "chains/ChannelChain.h"
#include "chains/RateChain.h"
#include "chains/Receiver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace sigkit::chains;

constexpr double kPi = std::numbers::pi;

struct Made
{
    sigkit_processor* p = nullptr;
    ~Made() { sigkit_destroy(p); }
};

struct Case
{
    const char* name;
    sigkit_config config;
    std::unique_ptr<Chain> (*chain)(const sigkit_config& c); // the same request made directly
    double audioGain;                                        // receivers: the API's extra gain
};

sigkit_config Init(int kind, double rate, double frequency, double outRate)
{
    sigkit_config c;
    EXPECT_EQ(sigkit_config_init(&c, kind), SIGKIT_OK);
    c.input_rate = rate;
    c.frequency = frequency;
    c.output_rate = outRate;
    return c;
}

std::unique_ptr<Chain> RateOf(const sigkit_config& c)
{
    RateRequest r;
    r.input = c.complex_input != 0 ? Layout{c.input_rate, 2, true}
                                   : Layout{c.input_rate, c.channels, false};
    r.rateOut = c.output_rate;
    r.quality = static_cast<sigkit::dsp::Quality>(c.quality);
    r.gain = static_cast<float>(c.gain);
    return RateChain::Create(r);
}

std::unique_ptr<Chain> ChannelOf(const sigkit_config& c)
{
    ChannelRequest r;
    r.input = c.complex_input != 0 ? Layout{c.input_rate, 2, true} : Layout{c.input_rate, 1, false};
    r.frequency = c.frequency;
    r.band = c.band;
    r.rateOut = c.output_rate;
    r.quality = static_cast<sigkit::dsp::Quality>(c.quality);
    r.gain = static_cast<float>(c.gain);
    return ChannelChain::Create(r);
}

// The receiver the configuration names, with the settings the API documents.
std::unique_ptr<Chain> ReceiverOf(const sigkit_config& c)
{
    ReceiverSettings s;
    ReceiverModeFromName(sigkit_kind_name(c.kind), s.mode);
    s.rateIn = c.input_rate;
    s.frequency = c.frequency;
    s.rateOut = c.output_rate == 0.0 ? 48000.0 : c.output_rate;
    s.band = c.band;
    s.deviation = c.deviation;
    s.deemphasis = c.deemphasis_us * 1e-6;
    s.agc = c.agc != 0;
    s.beat = c.cw_pitch;
    if (s.mode == ReceiverMode::Usb || s.mode == ReceiverMode::Lsb)
    {
        s.lowCut = c.audio_low;
        s.band = c.audio_high - c.audio_low;
    }
    return Receiver::Create(s);
}

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    sigkit_config c = Init(SIGKIT_KIND_RATE, 44100, 0, 48000);
    c.complex_input = 0;
    c.channels = 3;
    c.gain = 0.5;
    cases.push_back({"rate real three channels", c, RateOf, 1.0});
    c = Init(SIGKIT_KIND_RATE, 240000, 0, 48000);
    c.quality = SIGKIT_QUALITY_BEST;
    cases.push_back({"rate I/Q best", c, RateOf, 1.0});
    c = Init(SIGKIT_KIND_CHANNEL, 240000, -30000, 0);
    c.band = 10000;
    c.quality = SIGKIT_QUALITY_LOW;
    cases.push_back({"channel I/Q", c, ChannelOf, 1.0});
    c = Init(SIGKIT_KIND_CHANNEL, 48000, 10000, 16000);
    c.complex_input = 0;
    c.band = 4000;
    c.gain = 2.0;
    cases.push_back({"channel real", c, ChannelOf, 1.0});
    c = Init(SIGKIT_KIND_AM, 240000, 20000, 12000);
    c.gain = 2.0;
    cases.push_back({"am", c, ReceiverOf, 2.0});
    c = Init(SIGKIT_KIND_AM, 48000, -6000, 8000);
    c.agc = 0;
    cases.push_back({"am without agc", c, ReceiverOf, 1.0});
    c = Init(SIGKIT_KIND_FM, 96000, -10000, 0);
    c.deviation = 3000;
    cases.push_back({"fm", c, ReceiverOf, 1.0});
    c = Init(SIGKIT_KIND_WFM, 960000, 150000, 48000);
    c.deemphasis_us = 75;
    cases.push_back({"wfm", c, ReceiverOf, 1.0});
    c = Init(SIGKIT_KIND_USB, 48000, 7000, 11025);
    c.audio_low = 200;
    c.audio_high = 3000;
    cases.push_back({"usb", c, ReceiverOf, 1.0});
    c = Init(SIGKIT_KIND_LSB, 48000, 7000, 16000);
    cases.push_back({"lsb", c, ReceiverOf, 1.0});
    c = Init(SIGKIT_KIND_CW, 48000, -3000, 8000);
    c.cw_pitch = 600;
    c.gain = 0.25;
    cases.push_back({"cw", c, ReceiverOf, 0.25});
    return cases;
}

std::size_t InFloats(const sigkit_config& c)
{
    return c.complex_input != 0 ? 2 : static_cast<std::size_t>(c.channels);
}

// A carrier with AM and FM on it 150 Hz above `frequency`, and noise: something for every kind.
std::vector<float> Busy(const sigkit_config& c, std::size_t frames)
{
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    const std::size_t floats = InFloats(c);
    std::vector<float> x(frames * floats);
    for (std::size_t n = 0; n < frames; ++n)
    {
        const double t = static_cast<double>(n) / c.input_rate;
        const double a = 0.4 * (1.0 + 0.3 * std::cos(2.0 * kPi * 450.0 * t));
        const double phase =
            2.0 * kPi * (c.frequency + 150.0) * t + 2.0 * std::sin(2.0 * kPi * 1100.0 * t);
        for (std::size_t k = 0; k < floats; ++k)
        {
            const double v =
                c.complex_input != 0 && k == 1 ? std::sin(phase) : std::cos(phase + 0.3 * k);
            x[n * floats + k] = static_cast<float>(a * v) + noise(random);
        }
    }
    return x;
}

// Everything through the API in pieces of the given frame counts (cycled), then the flush.
std::vector<float> RunApi(sigkit_processor* p, const sigkit_config& c, const std::vector<float>& in,
                          const std::vector<std::size_t>& pieces)
{
    int complexOut = 0, channels = 0;
    EXPECT_EQ(sigkit_output_layout(p, &complexOut, &channels, nullptr), SIGKIT_OK);
    const std::size_t outFloats = complexOut != 0 ? 2 : static_cast<std::size_t>(channels);
    const std::size_t frames = in.size() / InFloats(c);
    std::vector<float> out, block;
    std::size_t at = 0;
    for (std::size_t k = 0; at < frames; ++k)
    {
        const std::size_t n = std::min(pieces[k % pieces.size()], frames - at);
        std::size_t most = 0, made = 0;
        EXPECT_EQ(sigkit_max_output(p, n, &most), SIGKIT_OK);
        block.assign(most * outFloats, 0.0f);
        EXPECT_EQ(sigkit_process(p, in.data() + at * InFloats(c), n, block.data(), most, &made),
                  SIGKIT_OK);
        EXPECT_LE(made, most);
        out.insert(out.end(), block.begin(), block.begin() + made * outFloats);
        at += n;
    }
    std::size_t most = 0, made = 0;
    EXPECT_EQ(sigkit_max_output(p, 0, &most), SIGKIT_OK);
    block.assign(most * outFloats + 1, 0.0f);
    EXPECT_EQ(sigkit_flush(p, block.data(), most, &made), SIGKIT_OK);
    out.insert(out.end(), block.begin(), block.begin() + made * outFloats);
    return out;
}

// The chain itself over the whole input, then its flush; receivers' audio times the API's gain.
std::vector<float> RunChain(Chain& chain, const std::vector<float>& in, double gain)
{
    const auto frames = static_cast<int32_t>(in.size() / chain.Input().channels);
    const auto outFloats = static_cast<std::size_t>(chain.Output().channels);
    std::vector<float> out((static_cast<std::size_t>(chain.MaxOutput(frames)) + chain.MaxFlush()) *
                           outFloats);
    const int32_t n = chain.Process(in.data(), frames, out.data());
    const int32_t tail = chain.Flush(out.data() + n * outFloats);
    out.resize((n + tail) * outFloats);
    for (float& v : out)
        v = gain == 1.0 ? v : v * static_cast<float>(gain);
    return out;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

TEST(ApiChainKinds, EachGivesItsChainsFloatsBitForBitInAnyPieces)
{
    for (const Case& c : Cases())
    {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<Chain> chain = c.chain(c.config);
        ASSERT_NE(chain, nullptr);
        const std::vector<float> in =
            Busy(c.config, static_cast<std::size_t>(0.15 * c.config.input_rate) + 7);
        const std::vector<float> expected = RunChain(*chain, in, c.audioGain);
        Made m;
        ASSERT_EQ(sigkit_create(&c.config, &m.p), SIGKIT_OK);
        // One call (more than the adapter's pieces of 65536 frames for the faster rates) ...
        const std::vector<float> whole = RunApi(m.p, c.config, in, {1u << 30});
        EXPECT_GT(whole.size(), 1000u);
        EXPECT_TRUE(SameBits(whole, expected)) << whole.size() << " vs " << expected.size();
        // ... any pieces, and after a reset the same again.
        ASSERT_EQ(sigkit_reset(m.p), SIGKIT_OK);
        EXPECT_TRUE(SameBits(RunApi(m.p, c.config, in, {1, 4097, 13, 30000, 2}), expected));
        ASSERT_EQ(sigkit_reset(m.p), SIGKIT_OK);
        EXPECT_TRUE(SameBits(RunApi(m.p, c.config, in, {70001}), expected));
    }
}

TEST(ApiChainKinds, LayoutAlignedLengthAndNoLatency)
{
    for (const Case& c : Cases())
    {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<Chain> chain = c.chain(c.config);
        Made m;
        ASSERT_EQ(sigkit_create(&c.config, &m.p), SIGKIT_OK);
        int complexOut = -1, channels = -1;
        double rate = 0, latency = -1;
        ASSERT_EQ(sigkit_output_layout(m.p, &complexOut, &channels, &rate), SIGKIT_OK);
        const Layout out = chain->Output();
        EXPECT_EQ(complexOut, out.complex ? 1 : 0);
        EXPECT_EQ(channels, out.complex ? 1 : out.channels);
        EXPECT_EQ(rate, out.rate);
        ASSERT_EQ(sigkit_latency(m.p, &latency), SIGKIT_OK);
        EXPECT_EQ(latency, 0.0);
        std::size_t flushMost = 0;
        ASSERT_EQ(sigkit_max_output(m.p, 0, &flushMost), SIGKIT_OK);
        EXPECT_EQ(flushMost, static_cast<std::size_t>(chain->MaxFlush()));

        // N frames give round(N * Fout / Fin) frames, whatever N.
        for (const std::size_t frames : {1u, 999u, 20011u})
        {
            ASSERT_EQ(sigkit_reset(m.p), SIGKIT_OK);
            const std::vector<float> y = RunApi(m.p, c.config, Busy(c.config, frames), {4096});
            const std::size_t outFloats = complexOut != 0 ? 2 : static_cast<std::size_t>(channels);
            EXPECT_EQ(y.size() / outFloats,
                      static_cast<std::size_t>(
                          std::llround(static_cast<double>(frames) * rate / c.config.input_rate)))
                << frames;
        }
    }
}

TEST(ApiChainKinds, FlushEndsTheStreamUntilReset)
{
    sigkit_config c = Init(SIGKIT_KIND_WFM, 240000, 0, 48000);
    Made m;
    ASSERT_EQ(sigkit_create(&c, &m.p), SIGKIT_OK);
    const std::vector<float> in = Busy(c, 24000);
    std::vector<float> out(200000);
    std::size_t made = 0;
    ASSERT_EQ(sigkit_process(m.p, in.data(), 24000, out.data(), 100000, &made), SIGKIT_OK);
    // The filters hold back what later input completes; the flush gives it.
    EXPECT_LT(made, 4800u);
    std::size_t tail = 0;
    ASSERT_EQ(sigkit_flush(m.p, out.data() + made, 100000, &tail), SIGKIT_OK);
    EXPECT_EQ(made + tail, 4800u);
    EXPECT_EQ(sigkit_process(m.p, in.data(), 10, out.data(), 50000, &made), SIGKIT_E_STATE);
    EXPECT_EQ(sigkit_flush(m.p, out.data(), 50000, &made), SIGKIT_E_STATE);
    ASSERT_EQ(sigkit_reset(m.p), SIGKIT_OK);
    EXPECT_EQ(sigkit_process(m.p, in.data(), 10, out.data(), 50000, &made), SIGKIT_OK);
}

TEST(ApiChainKinds, RefusalsComeBackAsStatuses)
{
    struct Bad
    {
        const char* name;
        int kind;
        void (*edit)(sigkit_config&);
        int status;
    };
    const Bad cases[] = {
        {"rate ratio beyond the limits", SIGKIT_KIND_RATE,
         [](sigkit_config& c) { c.output_rate = 0.5; }, SIGKIT_E_BAD_RATE},
        {"rate gain beyond a float", SIGKIT_KIND_RATE, [](sigkit_config& c) { c.gain = 1e39; },
         SIGKIT_E_INVALID},
        {"rate real channels beyond 1024", SIGKIT_KIND_RATE,
         [](sigkit_config& c) { c.complex_input = 0, c.channels = 1025; }, SIGKIT_E_CHANNELS},
        {"channel without band", SIGKIT_KIND_CHANNEL, [](sigkit_config& c) { c.band = 0; },
         SIGKIT_E_INVALID},
        {"channel band wider than the input", SIGKIT_KIND_CHANNEL,
         [](sigkit_config& c) { c.band = 41000; }, SIGKIT_E_INVALID},
        {"channel real stereo", SIGKIT_KIND_CHANNEL,
         [](sigkit_config& c) { c.complex_input = 0, c.channels = 2; }, SIGKIT_E_CHANNELS},
        {"channel real near 0 Hz", SIGKIT_KIND_CHANNEL,
         [](sigkit_config& c) { c.complex_input = 0, c.frequency = 1000; }, SIGKIT_E_FREQUENCY},
        {"channel output above the input", SIGKIT_KIND_CHANNEL,
         [](sigkit_config& c) { c.output_rate = 96000; }, SIGKIT_E_BAD_RATE},
        {"frequency beyond half the rate", SIGKIT_KIND_AM,
         [](sigkit_config& c) { c.frequency = 24001; }, SIGKIT_E_FREQUENCY},
        {"am channel beyond the recording", SIGKIT_KIND_AM,
         [](sigkit_config& c) { c.frequency = 20000; }, SIGKIT_E_FREQUENCY},
        {"usb audio beyond the recording", SIGKIT_KIND_USB,
         [](sigkit_config& c) { c.frequency = 22000; }, SIGKIT_E_FREQUENCY},
        {"receiver of real input", SIGKIT_KIND_FM, [](sigkit_config& c) { c.complex_input = 0; },
         SIGKIT_E_CHANNELS},
        {"receiver band wider than the input", SIGKIT_KIND_WFM, [](sigkit_config&) {},
         SIGKIT_E_INVALID},
        {"fm deviation beyond the working rate", SIGKIT_KIND_FM,
         [](sigkit_config& c) { c.deviation = 30000; }, SIGKIT_E_INVALID},
        {"negative de-emphasis", SIGKIT_KIND_WFM,
         [](sigkit_config& c) { c.input_rate = 240000, c.deemphasis_us = -50; }, SIGKIT_E_INVALID},
        {"usb audio band upside down", SIGKIT_KIND_USB,
         [](sigkit_config& c) { c.audio_low = 2000, c.audio_high = 1000; }, SIGKIT_E_INVALID},
        {"cw pitch below half its band", SIGKIT_KIND_CW, [](sigkit_config& c) { c.cw_pitch = 200; },
         SIGKIT_E_INVALID},
        {"receiver output rate NaN", SIGKIT_KIND_LSB, [](sigkit_config& c) { c.output_rate = NAN; },
         SIGKIT_E_BAD_RATE},
        {"agc flag", SIGKIT_KIND_AM, [](sigkit_config& c) { c.agc = 2; }, SIGKIT_E_INVALID},
    };
    for (const Bad& b : cases)
    {
        SCOPED_TRACE(b.name);
        sigkit_config c = Init(b.kind, 48000, 0, 0);
        if (b.kind == SIGKIT_KIND_CHANNEL)
            c.band = 8000;
        if (b.kind == SIGKIT_KIND_RATE)
            c.output_rate = 44100;
        b.edit(c);
        sigkit_processor* p = reinterpret_cast<sigkit_processor*>(&c); // must be overwritten
        EXPECT_EQ(sigkit_create(&c, &p), b.status);
        EXPECT_EQ(p, nullptr);
    }
}

TEST(ApiChainKinds, DefaultsOfTheRecord)
{
    // The kind's defaults: broadcast FM de-emphasised, narrow FM not; the receivers' rate 48 kHz.
    sigkit_config c;
    ASSERT_EQ(sigkit_config_init(&c, SIGKIT_KIND_WFM), SIGKIT_OK);
    EXPECT_EQ(c.deemphasis_us, 50.0);
    ASSERT_EQ(sigkit_config_init(&c, SIGKIT_KIND_FM), SIGKIT_OK);
    EXPECT_EQ(c.deemphasis_us, 0.0);
    EXPECT_EQ(c.agc, 1);
    EXPECT_EQ(c.cw_pitch, 700.0);
    Made m;
    ASSERT_EQ(sigkit_create(&c, &m.p), SIGKIT_OK);
    double rate = 0;
    ASSERT_EQ(sigkit_output_layout(m.p, nullptr, nullptr, &rate), SIGKIT_OK);
    EXPECT_EQ(rate, 48000.0);
    // A rate change to 0 Hz is none: the input's bits come back.
    ASSERT_EQ(sigkit_config_init(&c, SIGKIT_KIND_RATE), SIGKIT_OK);
    Made same;
    ASSERT_EQ(sigkit_create(&c, &same.p), SIGKIT_OK);
    const std::vector<float> in = Busy(c, 5000);
    EXPECT_TRUE(SameBits(RunApi(same.p, c, in, {777}), in));
}
