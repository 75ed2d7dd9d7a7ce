// The sigkit_ processing objects: the original kinds give the exports' floats bit for bit, in
// any pieces; the delay they report is where a pulse comes out; bad input gives a status.
#include "sigkit.h"
#include "sigkit_api.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Made
{
    sigkit_processor* p = nullptr;
    ~Made() { sigkit_destroy(p); }
};

sigkit_config Config(int kind, double inRate, bool complexInput, double frequency = 0.0,
                     double third = 0.0, int quality = SIGKIT_QUALITY_LOW, double gain = 1.0)
{
    sigkit_config c;
    EXPECT_EQ(sigkit_config_init(&c, kind), SIGKIT_OK);
    c.input_rate = inRate;
    c.complex_input = complexInput ? 1 : 0;
    c.frequency = frequency;
    if (kind == SIGKIT_KIND_CONVERT)
        c.band = third;
    else
        c.output_rate = third;
    c.quality = quality;
    c.gain = gain;
    return c;
}

std::vector<float> Noise(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = u(rng);
    return v;
}

// All output of the input through the API, in pieces of the given frame counts (cycled).
std::vector<float> RunApi(const sigkit_config& c, const std::vector<float>& in,
                          const std::vector<std::size_t>& pieces, bool flush = false)
{
    Made m;
    EXPECT_EQ(sigkit_create(&c, &m.p), SIGKIT_OK);
    if (m.p == nullptr)
        return {};
    int complexOut = 0, channels = 0;
    EXPECT_EQ(sigkit_output_layout(m.p, &complexOut, &channels, nullptr), SIGKIT_OK);
    const std::size_t inFloats = c.complex_input != 0 ? 2 : 1;
    const std::size_t outFloats = complexOut != 0 ? 2 : static_cast<std::size_t>(channels);
    const std::size_t frames = in.size() / inFloats;
    std::vector<float> out;
    std::size_t at = 0;
    for (std::size_t k = 0; at < frames; ++k)
    {
        const std::size_t n = std::min(pieces[k % pieces.size()], frames - at);
        std::size_t most = 0;
        EXPECT_EQ(sigkit_max_output(m.p, n, &most), SIGKIT_OK);
        std::vector<float> block(most * outFloats + 1);
        std::size_t made = 0;
        EXPECT_EQ(sigkit_process(m.p, in.data() + at * inFloats, n, block.data(), most, &made),
                  SIGKIT_OK);
        EXPECT_LE(made, most);
        out.insert(out.end(), block.begin(), block.begin() + made * outFloats);
        at += n;
    }
    if (flush)
    {
        std::size_t most = 0;
        EXPECT_EQ(sigkit_max_output(m.p, 0, &most), SIGKIT_OK);
        std::vector<float> block(most * outFloats + 1);
        std::size_t made = 0;
        EXPECT_EQ(sigkit_flush(m.p, block.data(), most, &made), SIGKIT_OK);
        out.insert(out.end(), block.begin(), block.begin() + made * outFloats);
    }
    return out;
}

// The same input through the original export of the kind, with the float format word.
std::vector<float> RunExport(const sigkit_config& c, const std::vector<float>& in)
{
    const char* quality = c.quality == 0 ? "Low" : c.quality == 1 ? "Medium" : "High";
    std::vector<float> out;
    auto gather = [&](const void* block, int32_t bytes) {
        const auto* f = static_cast<const float*>(block);
        out.insert(out.end(), f, f + bytes / 4);
    };
    const auto bytes = static_cast<int32_t>(in.size() * sizeof(float));
    const void* block = nullptr;
    int32_t outBytes = 0;
    if (c.kind == SIGKIT_KIND_IQ2R)
    {
        IqParams p{};
        std::strcpy(p.inputMode, c.complex_input != 0 ? "Complex->Real" : "Real->Complex");
        std::strcpy(p.sampleFormat, "32 bits (float)");
        std::strcpy(p.quality, quality);
        IqHandle* h = nullptr;
        EXPECT_EQ(iq2real_init(p, &h), 1);
        iq2real_data(h, in.data(), bytes, &block, &outBytes);
        gather(block, outBytes);
        iq2real_free(h);
        return out;
    }
    if (c.kind == SIGKIT_KIND_INVERT)
    {
        InvertParams p{};
        std::strcpy(p.inputMode, c.complex_input != 0 ? "Complex" : "Real");
        std::strcpy(p.sampleFormat, "32 bits (float)");
        InvertHandle* h = nullptr;
        EXPECT_EQ(invert_init(p, &h), 1);
        invert_data(h, in.data(), bytes, &block, &outBytes);
        gather(block, outBytes);
        invert_free(h);
        return out;
    }
    BlockParams p{};
    std::strcpy(p.inputMode, c.complex_input != 0 ? "Complex" : "Real");
    std::strcpy(p.sampleFormat, "32 bits (float)");
    std::strcpy(p.quality, quality);
    p.sampleRate = static_cast<int32_t>(c.input_rate);
    p.frequency = static_cast<int32_t>(c.frequency);
    p.outRateOrBand = static_cast<int32_t>(c.kind == SIGKIT_KIND_CONVERT ? c.band : c.output_rate);
    p.amplify = static_cast<float>(c.gain);
    BlockHandle* h = nullptr;
    auto init = c.kind == SIGKIT_KIND_RESAMPLE     ? resampl_init
                : c.kind == SIGKIT_KIND_CONVERT    ? lpflt_init
                : c.kind == SIGKIT_KIND_AM_CLASSIC ? am_demod_init
                                                   : fm_demod_init;
    EXPECT_EQ(init(p, &h), 1);
    resampl_data(h, in.data(), bytes, &block, &outBytes);
    gather(block, outBytes);
    resampl_free(h);
    return out;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

struct Case
{
    const char* name;
    sigkit_config config;
};

std::vector<Case> OriginalCases()
{
    return {
        {"iq2r real to complex", Config(SIGKIT_KIND_IQ2R, 48000, false)},
        {"iq2r complex to real",
         Config(SIGKIT_KIND_IQ2R, 24000, true, 0, 0, SIGKIT_QUALITY_MEDIUM)},
        {"resample complex down", Config(SIGKIT_KIND_RESAMPLE, 48000, true, 3000, 8000)},
        {"resample two steps", Config(SIGKIT_KIND_RESAMPLE, 240000, true, -20000, 12000)},
        {"resample real up", Config(SIGKIT_KIND_RESAMPLE, 8000, false, 1000, 20000, 0, 0.5)},
        {"resample best", Config(SIGKIT_KIND_RESAMPLE, 44100, true, 0, 22050, SIGKIT_QUALITY_BEST)},
        {"convert complex", Config(SIGKIT_KIND_CONVERT, 48000, true, -12000, 8000)},
        {"convert real", Config(SIGKIT_KIND_CONVERT, 22050, false, 5000, 3000, 1, 2.0)},
        {"invert complex", Config(SIGKIT_KIND_INVERT, 48000, true)},
        {"invert real", Config(SIGKIT_KIND_INVERT, 48000, false)},
        {"am classic", Config(SIGKIT_KIND_AM_CLASSIC, 48000, true, 10000, 12000)},
        {"fm classic real", Config(SIGKIT_KIND_FM_CLASSIC, 48000, false, 6000, 16000, 0, 3.0)},
    };
}

} // namespace

TEST(ApiOriginalKinds, GiveTheExportsFloatsBitForBit)
{
    for (const Case& c : OriginalCases())
    {
        SCOPED_TRACE(c.name);
        const std::vector<float> in = Noise(2 * 30011, 7);
        const std::vector<float> viaExport = RunExport(c.config, in);
        const std::vector<float> viaApi = RunApi(c.config, in, {1u << 20});
        EXPECT_GT(viaApi.size(), 1000u);
        EXPECT_TRUE(SameBits(viaApi, viaExport)) << viaApi.size() << " vs " << viaExport.size();
    }
}

TEST(ApiOriginalKinds, AnyPiecesGiveTheSameFloats)
{
    for (const Case& c : OriginalCases())
    {
        SCOPED_TRACE(c.name);
        const std::vector<float> in = Noise(2 * 20000, 11);
        const std::vector<float> whole = RunApi(c.config, in, {1u << 20}, true);
        const std::vector<float> pieces = RunApi(c.config, in, {1, 7, 4096, 333, 12289, 2}, true);
        EXPECT_TRUE(SameBits(whole, pieces));
    }
}

TEST(ApiOriginalKinds, ResetRepeatsTheFirstRunAndFlushEndsTheStream)
{
    const sigkit_config c = Config(SIGKIT_KIND_FM_CLASSIC, 48000, true, 1000, 12000);
    const std::vector<float> in = Noise(2 * 5000, 3);
    Made m;
    ASSERT_EQ(sigkit_create(&c, &m.p), SIGKIT_OK);
    std::vector<float> first(100000), second(100000);
    std::size_t a = 0, b = 0, z = 0;
    ASSERT_EQ(sigkit_process(m.p, in.data(), 5000, first.data(), 50000, &a), SIGKIT_OK);
    ASSERT_EQ(sigkit_flush(m.p, second.data(), 50000, &z), SIGKIT_OK);
    EXPECT_EQ(sigkit_process(m.p, in.data(), 5000, second.data(), 50000, &b), SIGKIT_E_STATE);
    EXPECT_EQ(sigkit_flush(m.p, second.data(), 50000, &b), SIGKIT_E_STATE);
    ASSERT_EQ(sigkit_reset(m.p), SIGKIT_OK);
    ASSERT_EQ(sigkit_process(m.p, in.data(), 5000, second.data(), 50000, &b), SIGKIT_OK);
    ASSERT_EQ(a, b);
    EXPECT_EQ(std::memcmp(first.data(), second.data(), a * sizeof(float)), 0);
}

TEST(ApiOriginalKinds, FlushBringsTheLastInputOut)
{
    // A complex constant at 48 kHz resampled to 8 kHz: with the flush, the output holds at least
    // the frames that the input's length stands for, less the start-up that is dropped.
    const sigkit_config c = Config(SIGKIT_KIND_RESAMPLE, 48000, true, 0, 8000);
    std::vector<float> in(2 * 48000, 0.25f);
    const std::vector<float> out = RunApi(c, in, {48000}, true);
    Made m;
    ASSERT_EQ(sigkit_create(&c, &m.p), SIGKIT_OK);
    double latency = 0;
    ASSERT_EQ(sigkit_latency(m.p, &latency), SIGKIT_OK);
    EXPECT_GE(static_cast<double>(out.size() / 2), 8000.0 + latency - 1.0);
}

// The delay each kind reports is where a smooth pulse's centre of energy comes out.
TEST(ApiOriginalKinds, LatencyIsWhereAPulseComesOut)
{
    struct Pulse
    {
        const char* name;
        sigkit_config config;
        double carrier; // cycles per input sample the pulse rides on (IQ2R real input: 1/4)
        bool fm;        // the pulse is the instantaneous frequency of a complex tone
    };
    const Pulse cases[] = {
        {"convert complex", Config(SIGKIT_KIND_CONVERT, 48000, true, 0, 48000), 0, false},
        {"convert real", Config(SIGKIT_KIND_CONVERT, 48000, false, 0, 48000), 0.125, false},
        {"invert real", Config(SIGKIT_KIND_INVERT, 48000, false), 0.125, false},
        {"resample down", Config(SIGKIT_KIND_RESAMPLE, 48000, true, 0, 8000, 2), 0, false},
        {"resample down 5", Config(SIGKIT_KIND_RESAMPLE, 240000, true, 0, 48000, 1), 0, false},
        {"resample two steps", Config(SIGKIT_KIND_RESAMPLE, 96000, true, 0, 8000, 0), 0, false},
        {"resample up", Config(SIGKIT_KIND_RESAMPLE, 8000, true, 0, 48000, 0), 0, false},
        {"resample real", Config(SIGKIT_KIND_RESAMPLE, 48000, false, 6000, 12000), 0.125, false},
        {"iq2r to complex", Config(SIGKIT_KIND_IQ2R, 48000, false), 0.25, false},
        {"iq2r to real", Config(SIGKIT_KIND_IQ2R, 24000, true), 0, false},
        {"fm classic", Config(SIGKIT_KIND_FM_CLASSIC, 48000, true, 0, 8000), 0, true},
    };
    const double kPi = 3.14159265358979323846;
    for (const Pulse& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::size_t frames = 40000;
        const double t0 = 20000.0;
        const double sigma = 400.0;
        std::vector<float> in(2 * frames);
        double phase = 0.0;
        for (std::size_t n = 0; n < frames; ++n)
        {
            const double d = (static_cast<double>(n) - t0) / sigma;
            const double g = std::exp(-0.5 * d * d);
            if (c.fm)
            {
                phase += 0.05 * g;
                in[2 * n] = static_cast<float>(std::cos(phase));
                in[2 * n + 1] = static_cast<float>(std::sin(phase));
            }
            else if (c.config.complex_input != 0)
            {
                in[2 * n] = static_cast<float>(0.5 * g);
                in[2 * n + 1] = static_cast<float>(0.25 * g);
            }
            else
                in[n] = static_cast<float>(0.5 * g * std::cos(2 * kPi * c.carrier * n));
        }
        if (c.config.complex_input == 0)
            in.resize(frames);
        Made m;
        ASSERT_EQ(sigkit_create(&c.config, &m.p), SIGKIT_OK);
        double latency = 0, rate = 0;
        int complexOut = 0;
        ASSERT_EQ(sigkit_latency(m.p, &latency), SIGKIT_OK);
        ASSERT_EQ(sigkit_output_layout(m.p, &complexOut, nullptr, &rate), SIGKIT_OK);
        const std::vector<float> out = RunApi(c.config, in, {frames}, true);
        double sum = 0, moment = 0;
        const std::size_t step = complexOut != 0 ? 2 : 1;
        for (std::size_t k = 0; k * step < out.size(); ++k)
        {
            double e = out[k * step] * out[k * step];
            if (complexOut != 0)
                e += out[k * step + 1] * out[k * step + 1];
            if (c.fm)
                e = out[k];
            sum += e;
            moment += e * static_cast<double>(k);
        }
        ASSERT_GT(std::fabs(sum), 0.0);
        const double expected = t0 * rate / c.config.input_rate + latency;
        EXPECT_NEAR(moment / sum, expected, 0.5) << "latency " << latency;
    }
}

TEST(ApiProcessing, RefusesBadConfigurations)
{
    struct Bad
    {
        const char* name;
        void (*edit)(sigkit_config&);
        int status;
    };
    const Bad cases[] = {
        {"zero rate", [](sigkit_config& c) { c.input_rate = 0; }, SIGKIT_E_BAD_RATE},
        {"negative rate", [](sigkit_config& c) { c.input_rate = -8000; }, SIGKIT_E_BAD_RATE},
        {"NaN rate", [](sigkit_config& c) { c.input_rate = NAN; }, SIGKIT_E_BAD_RATE},
        {"infinite rate", [](sigkit_config& c) { c.input_rate = INFINITY; }, SIGKIT_E_BAD_RATE},
        {"NaN output rate", [](sigkit_config& c) { c.output_rate = NAN; }, SIGKIT_E_BAD_RATE},
        {"fractional rate", [](sigkit_config& c) { c.input_rate = 48000.5; }, SIGKIT_E_BAD_RATE},
        {"ratio too high", [](sigkit_config& c) { c.output_rate = 48000.0 * 5000; },
         SIGKIT_E_BAD_RATE},
        {"rate beyond int32", [](sigkit_config& c) { c.input_rate = 3e9; }, SIGKIT_E_BAD_RATE},
        {"frequency beyond band", [](sigkit_config& c) { c.frequency = 24001; },
         SIGKIT_E_FREQUENCY},
        {"NaN frequency", [](sigkit_config& c) { c.frequency = NAN; }, SIGKIT_E_FREQUENCY},
        {"NaN gain", [](sigkit_config& c) { c.gain = NAN; }, SIGKIT_E_INVALID},
        {"gain beyond float", [](sigkit_config& c) { c.gain = 1e300; }, SIGKIT_E_INVALID},
        {"quality", [](sigkit_config& c) { c.quality = 4; }, SIGKIT_E_INVALID},
        {"complex flag", [](sigkit_config& c) { c.complex_input = 2; }, SIGKIT_E_INVALID},
        {"two complex channels", [](sigkit_config& c) { c.channels = 2; }, SIGKIT_E_CHANNELS},
        {"real stereo", [](sigkit_config& c) { c.complex_input = 0, c.channels = 2; },
         SIGKIT_E_CHANNELS},
        {"no channels", [](sigkit_config& c) { c.channels = 0; }, SIGKIT_E_CHANNELS},
        {"unknown kind", [](sigkit_config& c) { c.kind = 99; }, SIGKIT_E_UNKNOWN_KIND},
        {"kind zero", [](sigkit_config& c) { c.kind = 0; }, SIGKIT_E_UNKNOWN_KIND},
        {"later kind", [](sigkit_config& c) { c.kind = SIGKIT_KIND_SPECTRUM; },
         SIGKIT_E_NOT_AVAILABLE},
        {"short record", [](sigkit_config& c) { c.size = 100; }, SIGKIT_E_RECORD_SIZE},
        {"zero size", [](sigkit_config& c) { c.size = 0; }, SIGKIT_E_RECORD_SIZE},
        {"huge size", [](sigkit_config& c) { c.size = 0xFFFFFFFFu; }, SIGKIT_E_RECORD_SIZE},
    };
    for (const Bad& b : cases)
    {
        SCOPED_TRACE(b.name);
        sigkit_config c = Config(SIGKIT_KIND_RESAMPLE, 48000, true, 0, 8000);
        b.edit(c);
        sigkit_processor* p = reinterpret_cast<sigkit_processor*>(&c); // must be overwritten
        EXPECT_EQ(sigkit_create(&c, &p), b.status);
        EXPECT_EQ(p, nullptr);
    }
    sigkit_processor* p = nullptr;
    EXPECT_EQ(sigkit_create(nullptr, &p), SIGKIT_E_NULL);
    const sigkit_config c = Config(SIGKIT_KIND_INVERT, 48000, true);
    EXPECT_EQ(sigkit_create(&c, nullptr), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_config_init(nullptr, SIGKIT_KIND_RATE), SIGKIT_E_NULL);
    sigkit_config untouched{};
    EXPECT_EQ(sigkit_config_init(&untouched, 77), SIGKIT_E_UNKNOWN_KIND);
    EXPECT_EQ(untouched.size, 0u);
}

TEST(ApiProcessing, RecordsOfOtherSizes)
{
    // A larger record is taken when the bytes this version does not know are zero.
    struct Larger
    {
        sigkit_config c;
        unsigned char more[24];
    } larger{};
    larger.c = Config(SIGKIT_KIND_INVERT, 48000, true);
    larger.c.size = sizeof larger;
    sigkit_processor* p = nullptr;
    EXPECT_EQ(sigkit_create(&larger.c, &p), SIGKIT_OK);
    sigkit_destroy(p);
    larger.more[20] = 1;
    EXPECT_EQ(sigkit_create(&larger.c, &p), SIGKIT_E_RECORD_SIZE);
    EXPECT_EQ(p, nullptr);
}

TEST(ApiProcessing, RefusesBadCallsWithoutTouchingTheStream)
{
    const sigkit_config c = Config(SIGKIT_KIND_CONVERT, 48000, true, 1000, 4000);
    Made m;
    ASSERT_EQ(sigkit_create(&c, &m.p), SIGKIT_OK);
    std::vector<float> in = Noise(2000, 5), out(4000);
    std::size_t made = 99, most = 0;
    EXPECT_EQ(sigkit_process(m.p, in.data(), 1000, out.data(), 999, &made),
              SIGKIT_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(made, 0u);
    EXPECT_EQ(sigkit_process(m.p, nullptr, 1000, out.data(), 2000, &made), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_process(m.p, in.data(), 1000, nullptr, 2000, &made), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_process(m.p, in.data(), 1000, out.data(), 2000, nullptr), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_process(nullptr, in.data(), 1000, out.data(), 2000, &made), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_process(m.p, in.data(), SIZE_MAX / 2, out.data(), SIZE_MAX, &made),
              SIGKIT_E_OVERFLOW);
    EXPECT_EQ(sigkit_max_output(m.p, SIZE_MAX, &most), SIGKIT_E_OVERFLOW);
    EXPECT_EQ(sigkit_process(m.p, nullptr, 0, nullptr, 0, &made), SIGKIT_OK);
    EXPECT_EQ(made, 0u);
    // Nothing was taken by the refused calls: the stream equals a fresh one.
    ASSERT_EQ(sigkit_process(m.p, in.data(), 1000, out.data(), 2000, &made), SIGKIT_OK);
    const std::vector<float> fresh = RunApi(c, in, {1000});
    EXPECT_EQ(std::memcmp(out.data(), fresh.data(), fresh.size() * 4), 0);
    double d = 0;
    EXPECT_EQ(sigkit_latency(nullptr, &d), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_latency(m.p, nullptr), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_output_layout(nullptr, nullptr, nullptr, nullptr), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_reset(nullptr), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_flush(nullptr, out.data(), 10, &made), SIGKIT_E_NULL);
    sigkit_destroy(nullptr);
}

TEST(ApiInfo, VersionKindsAndTexts)
{
    int major = -1, minor = -1, patch = -1;
    const char* text = sigkit_version(&major, &minor, &patch);
    EXPECT_EQ(major, SIGKIT_VERSION_MAJOR);
    EXPECT_EQ(minor, SIGKIT_VERSION_MINOR);
    EXPECT_EQ(patch, SIGKIT_VERSION_PATCH);
    EXPECT_STREQ(text, SIGKIT_VERSION_STRING);
    EXPECT_EQ(sigkit_version(nullptr, nullptr, nullptr), text);
    for (int kind = SIGKIT_KIND_FIRST; kind <= SIGKIT_KIND_LAST; ++kind)
    {
        ASSERT_NE(sigkit_kind_name(kind), nullptr);
        EXPECT_EQ(sigkit_kind_available(kind), kind <= SIGKIT_KIND_CW ? 1 : 0);
    }
    EXPECT_STREQ(sigkit_kind_name(SIGKIT_KIND_AM_CLASSIC), "am-classic");
    EXPECT_EQ(sigkit_kind_name(0), nullptr);
    EXPECT_EQ(sigkit_kind_available(-5), 0);
    for (int status = 0; status >= SIGKIT_E_INTERNAL; --status)
        EXPECT_STRNE(sigkit_strerror(status), "unknown status") << status;
    EXPECT_STREQ(sigkit_strerror(-1000), "unknown status");
    EXPECT_STREQ(sigkit_strerror(5), "unknown status");
}
