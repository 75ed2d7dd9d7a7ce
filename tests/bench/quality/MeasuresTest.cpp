#include "Measures.h"
#include "Generators.h"
#include "Plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace sigquality {
namespace {

constexpr double kPi = std::numbers::pi;

// A real signal from a function of time, at `rate`, rounded to float like every output.
Signal RealSignal(double rate, std::size_t frames, const std::function<double(double)>& f)
{
    Signal s;
    s.rate = rate;
    s.samples.resize(frames);
    for (std::size_t n = 0; n < frames; ++n)
        s.samples[n] = static_cast<float>(f(static_cast<double>(n) / rate));
    return s;
}

Signal ComplexSignal(double rate, std::size_t frames, const std::function<Complex(double)>& f)
{
    std::vector<Complex> x(frames);
    for (std::size_t n = 0; n < frames; ++n)
        x[n] = f(static_cast<double>(n) / rate);
    return FromComplex(x, rate, true);
}

// ---- Distortion: THD, THD+N and SINAD of known synthetic faults.

TEST(Distortion, KnownHarmonicsGiveTheirThdAndThdN)
{
    // Second harmonic 60 dB and third 70 dB below the fundamental: THD = 1e-6 + 1e-7.
    const Signal s = RealSignal(48000.0, 9600, [](double t) {
        return 0.5 * std::cos(2 * kPi * 1000 * t) + 0.5e-3 * std::cos(2 * kPi * 2000 * t + 1) +
               0.5 * std::pow(10.0, -3.5) * std::cos(2 * kPi * 3000 * t);
    });
    const Distortion d = MeasureDistortion(MakeSpan(s, 1000, 8000), 1000.0, 0.0, 24000.0);
    const double expected = 10 * std::log10(1.1e-6);
    EXPECT_NEAR(Db(d.thd), expected, 0.01);
    EXPECT_NEAR(Db(d.thdN), expected, 0.01);
    EXPECT_NEAR(Db(d.sinad), -expected, 0.01);
    EXPECT_NEAR(d.amplitude, 0.5, 1e-6);
}

TEST(Distortion, WhiteNoiseGivesItsPowerOverTheTonePower)
{
    // Tone amplitude 1 (power 1/2) in complex noise of power 1e-6 taken as its real part (power
    // 0.5e-6): THD+N -60 dB. 200000 frames hold the estimate to a few hundredths of a dB.
    std::vector<Complex> noise(200000);
    AddNoise(noise, 1e-6, 7);
    Signal s =
        RealSignal(96000.0, noise.size(), [](double t) { return std::cos(2 * kPi * 997 * t); });
    for (std::size_t n = 0; n < noise.size(); ++n)
        s.samples[n] += static_cast<float>(noise[n].real());
    const Distortion d = MeasureDistortion(MakeSpan(s, 0, s.Frames()), 997.0, 0.0, 48000.0);
    EXPECT_NEAR(Db(d.thdN), -60.0, 0.1);
    EXPECT_LT(Db(d.thd), -90.0); // noise, not harmonics
}

TEST(Distortion, BandLeavesOutWhatLiesBeyondIt)
{
    // A spur at 18 kHz, 40 dB down, counts over the whole band and not up to 15 kHz.
    const Signal s = RealSignal(48000.0, 9600, [](double t) {
        return std::cos(2 * kPi * 1000 * t) + 0.01 * std::cos(2 * kPi * 18000 * t);
    });
    const Span span = MakeSpan(s, 0, s.Frames());
    EXPECT_NEAR(Db(MeasureDistortion(span, 1000.0, 0.0, 24000.0).thdN), -40.0, 0.01);
    EXPECT_NEAR(Db(MeasureDistortion(span, 1000.0, 20.0, 24000.0).thdN), -40.0, 0.01);
    EXPECT_LT(Db(MeasureDistortion(span, 1000.0, 20.0, 15000.0).thdN), -130.0);
}

TEST(Distortion, SixteenBitRoundingSitsAtItsTheoreticalLevel)
{
    // A tone at -1 dBFS rounded to 16 bits: noise of step^2 / 12 against A^2 / 2, about -97 dB.
    const double A = std::pow(10.0, -1.0 / 20.0);
    const Signal s = Quantize16(
        RealSignal(48000.0, 48000, [A](double t) { return A * std::cos(2 * kPi * 1001.3 * t); }));
    const double step = 1.0 / 32768.0;
    const double expected = 10 * std::log10(step * step / 12.0 / (A * A / 2.0));
    const Distortion d = MeasureDistortion(MakeSpan(s, 0, s.Frames()), 1001.3, 0.0, 24000.0);
    EXPECT_NEAR(Db(d.thdN), expected, 0.3);
}

TEST(Distortion, FloatRoundingOfAToneLiesNear150DbDown)
{
    // The floor of every float measurement: a tone rounded to float.
    const Signal s =
        RealSignal(48000.0, 24000, [](double t) { return 0.89 * std::cos(2 * kPi * 1000 * t); });
    const Distortion d = MeasureDistortion(MakeSpan(s, 0, s.Frames()), 1000.0, 0.0, 24000.0);
    EXPECT_LT(Db(d.thdN), -145.0);
    EXPECT_GT(Db(d.thdN), -165.0);
}

TEST(Distortion, ComplexToneTakesItsPowerAsMagnitudeSquared)
{
    const Signal s = ComplexSignal(12000.0, 6000, [](double t) {
        return 0.5 * std::polar(1.0, 2 * kPi * -1500 * t) +
               0.5e-3 * std::polar(1.0, 2 * kPi * 2500 * t);
    });
    const Distortion d = MeasureDistortion(MakeSpan(s, 0, s.Frames()), -1500.0, 0.0, 6000.0);
    EXPECT_NEAR(Db(d.thdN), -60.0, 0.01);
    EXPECT_NEAR(d.amplitude, 0.5, 1e-6);
}

// ---- Worst spur: aliases and images of known level and place.

TEST(WorstSpur, FindsAnAliasAtItsLevelAndFrequency)
{
    // An alias 130 dB below a tone, as a rate change that lets a little through would leave it.
    const Signal s = RealSignal(8000.0, 4000, [](double t) {
        return 0.5 * std::cos(2 * kPi * 1000 * t) +
               0.5 * std::pow(10.0, -6.5) * std::cos(2 * kPi * 3761 * t);
    });
    const Spur spur = WorstSpur(MakeSpan(s, 0, s.Frames()), {1000.0}, 0.0, 4000.0);
    EXPECT_NEAR(spur.freq, 3761.0, 1.0);
    EXPECT_NEAR(AmplitudeDb(spur.amplitude / 0.5), -130.0, 0.1);
}

TEST(WorstSpur, ReachesBelowTheFloatFloorWithDoubleSamples)
{
    // With the samples in double (a Span filled directly) a spur 170 dB down is still measured:
    // the window and the transform are not what limits the figures.
    Span span;
    span.real = true;
    span.rate = 48000.0;
    for (int n = 0; n < 8192; ++n)
    {
        const double t = n / span.rate;
        span.y.emplace_back(std::cos(2 * kPi * 5000 * t) +
                                std::pow(10.0, -8.5) * std::cos(2 * kPi * 17000 * t),
                            0.0);
    }
    span.window = KaiserWindow(span.y.size(), span.beta);
    const Spur spur = WorstSpur(span, {5000.0}, 0.0, 24000.0);
    EXPECT_NEAR(spur.freq, 17000.0, 3.0);
    EXPECT_NEAR(AmplitudeDb(spur.amplitude), -170.0, 0.2);
}

TEST(WorstSpur, TellsTheSideOfAnImageInAComplexSignal)
{
    const Signal s = ComplexSignal(48000.0, 8000, [](double t) {
        return 0.5 * std::polar(1.0, 2 * kPi * 3000 * t) +
               0.5e-4 * std::polar(1.0, 2 * kPi * -13000 * t);
    });
    const Spur spur = WorstSpur(MakeSpan(s, 0, s.Frames()), {3000.0}, 0.0, 24000.0);
    EXPECT_NEAR(spur.freq, -13000.0, 2.0);
    EXPECT_NEAR(AmplitudeDb(spur.amplitude / 0.5), -80.0, 0.05);
}

TEST(WorstSpur, IgnoresAConstantAndTheFittedTones)
{
    const Signal s = RealSignal(8000.0, 4000, [](double t) {
        return 0.3 + 0.5 * std::cos(2 * kPi * 1000 * t) + 0.2 * std::cos(2 * kPi * 2000 * t);
    });
    const Spur spur = WorstSpur(MakeSpan(s, 0, s.Frames()), {1000.0, 2000.0}, 0.0, 4000.0);
    EXPECT_LT(AmplitudeDb(spur.amplitude), -140.0);
}

// ---- Band power.

TEST(BandPower, SplitsTwoTonesByBand)
{
    const Signal s = RealSignal(48000.0, 9600, [](double t) {
        return std::cos(2 * kPi * 1000 * t) + 0.1 * std::cos(2 * kPi * 10000 * t);
    });
    const Span span = MakeSpan(s, 0, s.Frames());
    EXPECT_NEAR(BandPower(span, span.y, 0.0, 5000.0), 0.5, 1e-6);
    EXPECT_NEAR(BandPower(span, span.y, 5000.0, 20000.0), 0.005, 1e-8);
    EXPECT_NEAR(BandPower(span, span.y, 0.0, 24000.0), 0.505, 1e-6);
}

// ---- Delay: a probe of known shape, shifted by a known time.

// A plan with one probe of seven tones up to `highest` Hz (signs alternating when complex).
Plan ProbePlan(double highest, bool alternate)
{
    Plan plan;
    plan.Add("probe", Shape::Probe,
             ToneSet({0.1, 0.19, 0.3, 0.42, 0.55, 0.7, 1.0}, highest, 0.1, alternate), 0.3);
    return plan;
}

TEST(FitDelay, FindsAFractionalDelayOfARealProbe)
{
    const Plan plan = ProbePlan(15000.0, false);
    const Segment& probe = *plan.Find("probe");
    const double rate = 48000.0;
    for (double delayFrames : {0.0, 3.37, -0.5, -398.4, 3410.25})
    {
        const double delay = delayFrames / rate;
        const Signal out = RealSignal(rate, static_cast<std::size_t>(plan.Duration() * rate),
                                      [&](double t) { return plan.At(t - delay).real(); });
        const DelayFit fit = FitDelay(out, plan.ProbeExpected(probe), 0.25, GainFreedom::Real);
        ASSERT_TRUE(fit.found);
        // Float samples hold the fit to about 1e-5 frame.
        EXPECT_NEAR(fit.seconds * rate, delayFrames, 1e-4) << delayFrames;
        EXPECT_NEAR(fit.gain.real(), 1.0, 1e-6);
    }
}

TEST(FitDelay, KeepsTheSignOfTheGain)
{
    const Plan plan = ProbePlan(3000.0, false);
    const double rate = 12000.0;
    const Signal out = RealSignal(rate, static_cast<std::size_t>(plan.Duration() * rate),
                                  [&](double t) { return -0.5 * plan.At(t - 0.01).real(); });
    const DelayFit fit =
        FitDelay(out, plan.ProbeExpected(*plan.Find("probe")), 0.25, GainFreedom::Real);
    EXPECT_NEAR(fit.seconds, 0.01, 1e-8);
    EXPECT_NEAR(fit.gain.real(), -0.5, 1e-6);
    EXPECT_LT(fit.misfit, 1e-10);
}

TEST(FitDelay, TakesAnyPhaseWhenTheGainIsComplex)
{
    // A complex output turned by 1 rad, and a real output in quadrature (what a sideband
    // receiver with its own carrier phase gives): both fitted at the right delay.
    const Plan plan = ProbePlan(4000.0, true);
    const double rate = 16000.0;
    const double delay = 7.25 / rate;
    const Complex turn = std::polar(0.8, 1.0);
    const Signal complexOut = ComplexSignal(rate, static_cast<std::size_t>(plan.Duration() * rate),
                                            [&](double t) { return turn * plan.At(t - delay); });
    const DelayFit a =
        FitDelay(complexOut, plan.ProbeExpected(*plan.Find("probe")), 0.25, GainFreedom::Complex);
    EXPECT_NEAR(a.seconds * rate, 7.25, 1e-4);
    EXPECT_NEAR(std::abs(a.gain - turn), 0.0, 1e-5);

    const Plan upper = ProbePlan(2500.0, false);
    const Signal realOut = RealSignal(rate, static_cast<std::size_t>(upper.Duration() * rate),
                                      [&](double t) { return upper.At(t - delay).imag(); });
    const DelayFit b =
        FitDelay(realOut, upper.ProbeExpected(*upper.Find("probe")), 0.25, GainFreedom::Complex);
    EXPECT_NEAR(b.seconds * rate, 7.25, 1e-4);
    EXPECT_NEAR(std::abs(b.gain), 1.0, 1e-5);
}

TEST(FitDelay, HoldsInNoiseAndAtAHighRateWithANarrowProbe)
{
    // A 4 kHz probe in a 2.4 MHz output, 60 dB of noise over the probe's power: the search takes
    // every 150th frame for the correlation and still lands within a hundredth of a frame.
    const Plan plan = ProbePlan(4000.0, true);
    const double rate = 2400000.0;
    const double delayFrames = -1234.56;
    std::vector<Complex> shifted(static_cast<std::size_t>(plan.Duration() * rate));
    for (std::size_t n = 0; n < shifted.size(); ++n)
        shifted[n] = plan.At(static_cast<double>(n) / rate - delayFrames / rate);
    AddNoise(shifted, 1e-8, 3);
    const Signal out = FromComplex(shifted, rate, true);
    const DelayFit fit =
        FitDelay(out, plan.ProbeExpected(*plan.Find("probe")), 0.25, GainFreedom::Complex);
    ASSERT_TRUE(fit.found);
    EXPECT_NEAR(fit.seconds * rate, delayFrames, 0.01);
}

TEST(FitDelay, FollowsAResponseGivenForTheProbe)
{
    // An output through a first-order low-pass of 75 us: fitted with the same response, the
    // delay is 0; without it, the filter's phase reads as a delay of tens of microseconds.
    const Plan plan = ProbePlan(3000.0, false);
    const double rate = 48000.0;
    const double tau = 75e-6;
    const auto response = [tau](double f) { return 1.0 / Complex(1.0, 2 * kPi * f * tau); };
    const Segment& probe = *plan.Find("probe");
    const Expected filtered = plan.ProbeExpected(probe, response);
    const Signal out = RealSignal(rate, static_cast<std::size_t>(plan.Duration() * rate),
                                  [&](double t) { return filtered.at(t).real(); });
    EXPECT_NEAR(FitDelay(out, plan.ProbeExpected(probe, response), 0.25, GainFreedom::Real).seconds,
                0.0, 1e-9);
    EXPECT_GT(FitDelay(out, plan.ProbeExpected(probe), 0.25, GainFreedom::Real).seconds, 20e-6);
}

TEST(FitDelay, TonesUnderAnEnvelopeFitAsTheFunctionDoes)
{
    // The same expected probe given as tones under an envelope and as a function of time alone.
    const Plan plan = ProbePlan(10000.0, false);
    const double rate = 32000.0;
    const Signal out = RealSignal(rate, static_cast<std::size_t>(plan.Duration() * rate),
                                  [&](double t) { return 0.7 * plan.At(t - 11.3 / rate).real(); });
    const Expected withTones = plan.ProbeExpected(*plan.Find("probe"));
    Expected functionOnly = withTones;
    functionOnly.tones.clear();
    const DelayFit a = FitDelay(out, withTones, 0.25, GainFreedom::Real);
    const DelayFit b = FitDelay(out, functionOnly, 0.25, GainFreedom::Real);
    EXPECT_NEAR(a.seconds * rate, 11.3, 1e-4);
    EXPECT_NEAR(a.seconds, b.seconds, 1e-10);
    EXPECT_NEAR(a.gain.real(), b.gain.real(), 1e-9);
}

TEST(FitDelay, ReportsNothingForSilence)
{
    const Plan plan = ProbePlan(3000.0, false);
    Signal out;
    out.rate = 12000.0;
    out.samples.assign(12000, 0.0f);
    EXPECT_FALSE(
        FitDelay(out, plan.ProbeExpected(*plan.Find("probe")), 0.25, GainFreedom::Real).found);
}

} // namespace
} // namespace sigquality
