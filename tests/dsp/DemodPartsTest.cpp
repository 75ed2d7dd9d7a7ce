#include "ToneFit.h"

#include "dsp/demod/Agc.h"
#include "dsp/demod/DcBlocker.h"
#include "dsp/demod/Deemphasis.h"
#include "dsp/demod/Envelope.h"
#include "dsp/demod/FmDiscriminator.h"
#include "dsp/demod/ProductDetector.h"
#include "dsp/demod/Squelch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace sigkit::dsp;
using sigtest::Db;
using sigtest::FitTones;

constexpr double kPi = std::numbers::pi;
constexpr double kTarget = 0.8912509381337456; // -1 dBFS

// amplitude·e^(j(2πfn/rate + phase)) as I and Q arrays, in double precision.
void ComplexTone(std::size_t count, double f, double rate, double amplitude, double phase,
                 std::vector<float>& I, std::vector<float>& Q)
{
    I.resize(count);
    Q.resize(count);
    for (std::size_t n = 0; n < count; ++n)
    {
        const double turns = f * static_cast<double>(n) / rate;
        const double angle = 2.0 * kPi * (turns - std::floor(turns)) + phase;
        I[n] = static_cast<float>(amplitude * std::cos(angle));
        Q[n] = static_cast<float>(amplitude * std::sin(angle));
    }
}

// ---- The FM discriminator.

TEST(FmDiscriminator, QuarterRateToneTurnsAQuarterTurnPerSample)
{
    std::vector<float> I, Q;
    ComplexTone(9, 12000.0, 48000.0, 1.0, 0.0, I, Q);
    FmDiscriminator fm(2.0 / kPi);
    std::vector<float> out(9);
    fm.Process(I.data(), Q.data(), 9, out.data());
    EXPECT_EQ(out[0], 0.0f); // the sample before the first is 0
    for (int n = 1; n < 9; ++n)
        EXPECT_FLOAT_EQ(out[n], 1.0f) << n;
}

TEST(FmDiscriminator, StaysLinearUpToHalfTheRate)
{
    // The old discriminator, -sin(step), folds past a quarter of the rate; the phase step does
    // not. Reference: the closed-form step 2πf/rate (the float tone adds about 1e-7).
    for (const double fraction : {-0.49, -0.3, -0.05, 0.1, 0.26, 0.45, 0.49})
    {
        std::vector<float> I, Q;
        ComplexTone(64, fraction * 48000.0, 48000.0, 0.3, 0.4, I, Q);
        FmDiscriminator fm;
        std::vector<float> out(64);
        fm.Process(I.data(), Q.data(), 64, out.data());
        for (int n = 1; n < 64; ++n)
            ASSERT_NEAR(out[n], 2.0 * kPi * fraction, 2e-6) << fraction << " at " << n;
    }
}

TEST(FmDiscriminator, ConfiguredDeviationGivesMinusOneDbfsWithoutDistortion)
{
    // 1 kHz at 5 kHz deviation, 48 kHz: phase 5·sin(2π·1000t), in double precision.
    const double rate = 48000.0;
    const std::size_t count = 9600;
    std::vector<float> I(count), Q(count);
    for (std::size_t n = 0; n < count; ++n)
    {
        const double phase = 5.0 * std::sin(2.0 * kPi * 1000.0 * static_cast<double>(n) / rate);
        I[n] = static_cast<float>(std::cos(phase));
        Q[n] = static_cast<float>(std::sin(phase));
    }
    FmDiscriminator fm(FmDiscriminator::GainFor(5000.0, rate, kTarget));
    std::vector<float> out(count);
    // Two calls: the second continues from the first one's last sample.
    fm.Process(I.data(), Q.data(), 1000, out.data());
    fm.Process(I.data() + 1000, Q.data() + 1000, static_cast<int32_t>(count - 1000),
               out.data() + 1000);
    const auto fit = FitTones(out, 1, 48, 9504, {1000.0, 2000.0, 3000.0}, rate);
    // The phase step is the mean frequency over a sample: sin(πf/rate)/(πf/rate) of it.
    const double droop = std::sin(kPi * 1000.0 / rate) / (kPi * 1000.0 / rate);
    EXPECT_NEAR(fit.amplitude[0], kTarget * droop, 1e-5);
    EXPECT_LT(Db(fit.amplitude[1] / fit.amplitude[0]), -120.0);
    EXPECT_LT(Db(fit.residualRms * std::sqrt(2.0) / fit.amplitude[0]), -120.0);
}

// ---- Envelope and product detector.

TEST(Envelope, IsTheMagnitude)
{
    const std::vector<float> I = {3.0f, -5.0f, 0.0f, 1e-20f};
    const std::vector<float> Q = {4.0f, 12.0f, -2.5f, 0.0f};
    std::vector<float> out(4);
    Envelope(I.data(), Q.data(), 4, out.data());
    EXPECT_EQ(out, (std::vector<float>{5.0f, 13.0f, 2.5f, 1e-20f}));
}

TEST(ProductDetector, ToneComesOutAtItsFrequencyPlusTheOffsetWithItsPhase)
{
    // USB's channel centred 1500 Hz above the carrier: a tone 1 kHz above the carrier sits at
    // -500 Hz in it and comes out at 1 kHz with its phase.
    const double rate = 6000.0;
    std::vector<float> I, Q;
    ComplexTone(6000, -500.0, rate, 0.25, 0.7, I, Q);
    ProductDetector detector(1500.0, rate, 1000); // calls longer than its block are cut
    std::vector<float> audio(6000), level(6000);
    detector.Process(I.data(), Q.data(), 6000, audio.data(), level.data());
    const auto fit = FitTones(audio, 1, 0, 6000, {1000.0}, rate);
    EXPECT_NEAR(fit.amplitude[0], 0.25, 1e-6);
    EXPECT_NEAR(fit.phase[0], -0.7, 1e-5); // amplitude·cos(2πfn/rate - phase)
    for (float v : level)
        ASSERT_NEAR(v, 0.25f, 1e-7f);
}

TEST(ProductDetector, EveryKernelVariantGivesTheSameBits)
{
    std::vector<float> I, Q;
    ComplexTone(5000, 333.0, 8000.0, 0.5, 0.1, I, Q);
    std::vector<float> reference(5000), level(5000);
    ProductDetector scalar(1234.5, 8000.0, 4096);
    scalar.UseKernels(*sigkit::kernels::TableFor(sigkit::kernels::Isa::Scalar));
    scalar.Process(I.data(), Q.data(), 5000, reference.data(), level.data());
    for (const auto isa : {sigkit::kernels::Isa::Avx2, sigkit::kernels::Isa::Avx512})
    {
        const sigkit::kernels::KernelTable* table = sigkit::kernels::TableFor(isa);
        if (table == nullptr)
            continue;
        ProductDetector vector(1234.5, 8000.0, 4096);
        vector.UseKernels(*table);
        std::vector<float> out(5000);
        vector.Process(I.data(), Q.data(), 5000, out.data(), level.data());
        EXPECT_EQ(out, reference) << table->name;
    }
}

// ---- De-emphasis and DC removal.

TEST(Deemphasis, FollowsTheAnalogTimeConstantUpTo15Kilohertz)
{
    for (const double tau : {50e-6, 75e-6})
    {
        const Deemphasis filter(tau, 240000.0);
        for (double f = 100.0; f <= 15000.0; f += 100.0)
        {
            const std::complex<double> analog(1.0 / std::complex<double>(1.0, 2.0 * kPi * f * tau));
            const std::complex<double> digital = filter.Response(f);
            ASSERT_NEAR(Db(std::abs(digital / analog)), 0.0, 0.15) << f;
            ASSERT_NEAR(std::arg(digital / analog), 0.0, 0.2 * kPi / 180.0) << f;
        }
    }
}

TEST(Deemphasis, ToneThroughTheFilterHasTheStatedResponse)
{
    Deemphasis filter(50e-6, 48000.0);
    std::vector<float> x = sigtest::Tone(24000, 3000.0, 48000.0, 0.5);
    filter.Process(x.data(), 10000);
    filter.Process(x.data() + 10000, 14000);
    const auto fit = FitTones(x, 1, 4800, 19200, {3000.0}, 48000.0);
    const std::complex<double> expected = filter.Response(3000.0);
    EXPECT_NEAR(fit.amplitude[0], 0.5 * std::abs(expected), 1e-6);
    EXPECT_NEAR(fit.phase[0], -std::arg(expected), 1e-5);
}

TEST(DcBlocker, CarrierPresentFromTheStartGivesNoAudioAtAll)
{
    DcBlocker dc(4.0, 12000.0);
    std::vector<float> x(24000, 0.375f), audio(24000), carrier(24000);
    dc.Process(x.data(), 24000, audio.data(), carrier.data());
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        ASSERT_EQ(audio[n], 0.0f) << n;
        ASSERT_EQ(carrier[n], 0.375f) << n;
    }
}

TEST(DcBlocker, HundredHertzPassesAndTheCarrierBarelyRipples)
{
    const double rate = 12000.0;
    std::vector<float> x = sigtest::Tone(48000, 100.0, rate, 0.45);
    for (float& v : x)
        v += 0.5f;
    DcBlocker dc(4.0, rate);
    std::vector<float> audio(x.size()), carrier(x.size());
    dc.Process(x.data(), static_cast<int32_t>(x.size()), audio.data(), carrier.data());
    // Gain |1 - 1/(1 + j·25)²| = +0.014 dB at 100 Hz.
    const auto fit = FitTones(audio, 1, 24000, 24000, {100.0}, rate);
    EXPECT_NEAR(Db(fit.amplitude[0] / 0.45), 0.014, 0.005);
    const auto ripple = FitTones(carrier, 1, 24000, 24000, {100.0}, rate);
    EXPECT_LT(ripple.amplitude[0], 0.45 / 600.0); // two poles at 4 Hz: (4/100)² down
}

// ---- The gain control.

struct AgcRun
{
    std::vector<float> out;
    int32_t delay = 0;
};

// The control over a whole signal, cut into calls of `block`, its tail flushed, the delay taken
// out: out[n] belongs to signal[n].
AgcRun RunAgc(const AgcSettings& settings, double rate, const std::vector<float>& signal,
              const std::vector<float>& level, std::size_t block)
{
    Agc agc(settings, rate);
    std::vector<float> out(signal.size() + static_cast<std::size_t>(agc.Delay()));
    for (std::size_t at = 0; at < signal.size(); at += block)
    {
        const auto n = static_cast<int32_t>(std::min(block, signal.size() - at));
        agc.Process(signal.data() + at, level.data() + at, n, out.data() + at);
    }
    agc.Flush(out.data() + signal.size());
    for (int32_t k = 0; k < agc.Delay(); ++k)
        EXPECT_EQ(out[static_cast<std::size_t>(k)], 0.0f); // the silence before the input
    out.erase(out.begin(), out.begin() + agc.Delay());
    return {out, agc.Delay()};
}

// A 1 kHz tone whose amplitude steps from `before` to `after` at `at` s; the level is its
// amplitude.
void SteppedTone(double rate, double seconds, double at, double before, double after,
                 std::vector<float>& signal, std::vector<float>& level)
{
    const auto count = static_cast<std::size_t>(rate * seconds);
    signal.resize(count);
    level.resize(count);
    for (std::size_t n = 0; n < count; ++n)
    {
        const double t = static_cast<double>(n) / rate;
        const double a = t < at ? before : after;
        level[n] = static_cast<float>(a);
        signal[n] = static_cast<float>(a * std::cos(2.0 * kPi * 1000.0 * t));
    }
}

TEST(Agc, SteadyToneComesOutAtTheTargetWhateverItsLevel)
{
    for (const double amplitude : {0.001, 0.1, 0.9})
    {
        std::vector<float> signal, level;
        SteppedTone(12000.0, 1.0, 0.0, amplitude, amplitude, signal, level);
        const AgcRun run = RunAgc({}, 12000.0, signal, level, 777);
        EXPECT_EQ(run.delay, 60); // 5 ms at 12 kHz
        const auto fit = FitTones(run.out, 1, 1200, 9600, {1000.0}, 12000.0);
        EXPECT_NEAR(fit.amplitude[0], kTarget, 1e-6) << amplitude;
        EXPECT_NEAR(fit.phase[0], 0.0, 1e-6); // the delay is taken out exactly
    }
}

TEST(Agc, SuddenRiseOfFortyDecibelsNeverOvershoots)
{
    std::vector<float> signal, level;
    SteppedTone(12000.0, 1.0, 0.5, 0.001, 0.1, signal, level);
    const AgcRun run = RunAgc({}, 12000.0, signal, level, 4096);
    double largest = 0.0;
    for (float v : run.out)
        largest = std::max(largest, static_cast<double>(std::fabs(v)));
    EXPECT_LE(largest, kTarget * (1.0 + 1e-6));
    // Right after the step the tone is already at the target: the gain fell before it came.
    const auto fit = FitTones(run.out, 1, 6000, 120, {1000.0}, 12000.0);
    EXPECT_NEAR(fit.amplitude[0], kTarget, 1e-4);
}

TEST(Agc, GainRisesTwentyDecibelsPerSecondAfterAFall)
{
    std::vector<float> signal, level;
    SteppedTone(12000.0, 2.0, 0.5, 0.1, 0.001, signal, level);
    const AgcRun run = RunAgc({}, 12000.0, signal, level, 4096);
    // One second after the fall the gain has risen 20 of the 40 dB: -20 dB below the target.
    const auto fit = FitTones(run.out, 1, 17994, 12, {1000.0}, 12000.0);
    EXPECT_NEAR(Db(fit.amplitude[0] / kTarget), -20.0, 0.05);
}

TEST(Agc, SilenceGivesZerosAndWeakSignalsGetAtMostTheLargestGain)
{
    AgcSettings settings;
    settings.maxGain = 100.0;
    std::vector<float> silence(5000, 0.0f);
    for (float v : RunAgc(settings, 8000.0, silence, silence, 1000).out)
        ASSERT_EQ(v, 0.0f);
    std::vector<float> signal, level;
    SteppedTone(8000.0, 1.0, 0.0, 1e-5, 1e-5, signal, level);
    const AgcRun run = RunAgc(settings, 8000.0, signal, level, 1000);
    const auto fit = FitTones(run.out, 1, 800, 6400, {1000.0}, 8000.0);
    EXPECT_NEAR(fit.amplitude[0], 1e-3, 1e-9);
}

TEST(Agc, SamplesBeyondTheLevelAreLimited)
{
    // An AM audio whose carrier level reads far too low (as at a carrier's onset): the limit
    // holds every sample below 0.98.
    std::vector<float> signal, level;
    SteppedTone(12000.0, 0.5, 0.0, 0.5, 0.5, signal, level);
    std::fill(level.begin(), level.end(), 0.01f);
    for (float v : RunAgc({}, 12000.0, signal, level, 4096).out)
        ASSERT_LE(std::fabs(v), 0.98f);
}

TEST(Agc, AnySplitGivesTheSameBits)
{
    std::vector<float> signal, level;
    SteppedTone(12000.0, 1.0, 0.3, 0.02, 0.3, signal, level);
    const std::vector<float> whole = RunAgc({}, 12000.0, signal, level, signal.size()).out;
    for (const std::size_t block : {1u, 59u, 61u, 4096u})
        EXPECT_EQ(RunAgc({}, 12000.0, signal, level, block).out, whole) << block;
}

// ---- The squelch.

// A carrier of amplitude `carrier` (from `start` s on) in complex Gaussian noise of power
// `noise`; the audio is a ramp, so that each output sample tells which input it was.
struct Channel
{
    std::vector<float> I, Q, audio;
};

Channel NoisyCarrier(double rate, double seconds, double carrier, double noise, double start)
{
    std::mt19937 random(5);
    std::normal_distribution<double> gauss(0.0, std::sqrt(noise / 2.0));
    const auto count = static_cast<std::size_t>(rate * seconds);
    Channel c{std::vector<float>(count), std::vector<float>(count), std::vector<float>(count)};
    for (std::size_t n = 0; n < count; ++n)
    {
        const double a = static_cast<double>(n) / rate >= start ? carrier : 0.0;
        const double phase = 0.3 * static_cast<double>(n);
        c.I[n] = static_cast<float>(a * std::cos(phase) + gauss(random));
        c.Q[n] = static_cast<float>(a * std::sin(phase) + gauss(random));
        c.audio[n] = static_cast<float>(n % 1000) / 1000.0f;
    }
    return c;
}

// The squelch over a channel in calls of 1000, its tail flushed and its delay taken out.
std::vector<float> Squelched(const Channel& c, double rate)
{
    Squelch squelch({}, rate);
    std::vector<float> out(c.I.size() + static_cast<std::size_t>(squelch.Delay()));
    for (std::size_t at = 0; at < c.I.size(); at += 1000)
    {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(1000, c.I.size() - at));
        squelch.Process(c.I.data() + at, c.Q.data() + at, c.audio.data() + at, n, out.data() + at);
    }
    squelch.Flush(out.data() + c.I.size());
    out.erase(out.begin(), out.begin() + squelch.Delay());
    return out;
}

TEST(Squelch, CarrierInNoiseIsHeardFromTheFirstSampleUnchanged)
{
    // 10 dB of carrier to noise: open throughout, the audio exactly as it came.
    const Channel c = NoisyCarrier(16000.0, 1.0, 0.1, 0.001, 0.0);
    EXPECT_EQ(Squelched(c, 16000.0), c.audio);
}

TEST(Squelch, NoiseAloneIsSilentAtAnyLevel)
{
    for (const double power : {1e-12, 1e-4, 1.0})
        for (float v : Squelched(NoisyCarrier(16000.0, 2.0, 0.0, power, 0.0), 16000.0))
            ASSERT_EQ(v, 0.0f) << power;
    // At 0 dB of carrier to noise too.
    for (float v : Squelched(NoisyCarrier(16000.0, 2.0, 0.01, 1e-4, 0.0), 16000.0))
        ASSERT_EQ(v, 0.0f);
}

TEST(Squelch, OpensByFadingInWhenACarrierAppears)
{
    const double rate = 16000.0;
    const Channel c = NoisyCarrier(rate, 2.0, 0.1, 0.001, 1.0);
    const std::vector<float> out = Squelched(c, rate);
    // Closed until shortly before the carrier (the decision looks 0.1 s ahead), open after it;
    // between, every sample a fraction of its input that never falls.
    for (std::size_t n = 0; n < 14400; ++n)
        ASSERT_EQ(out[n], 0.0f) << n;
    for (std::size_t n = 17600; n < out.size(); ++n)
        ASSERT_EQ(out[n], c.audio[n]) << n;
    double previous = 0.0;
    for (std::size_t n = 14400; n < 17600; ++n)
        if (c.audio[n] > 0.0f)
        {
            const double fraction = out[n] / c.audio[n];
            ASSERT_GE(fraction, previous - 1e-6) << n;
            previous = fraction;
        }
}

} // namespace
