#include "Generators.h"
#include "ToneFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace sigquality {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(AddFm, PhaseIsTheIntegralOfTheAudio)
{
    // A cosine of f Hz at deviation D: phase (D / f) sin(2 pi f t) on the carrier, exactly.
    const double rate = 240000.0, carrier = 25000.0, D = 75000.0, f = 1000.0;
    std::vector<Complex> x(24000);
    AddFm(x, rate, carrier, 0.5, D, [f](double t) { return std::cos(2 * kPi * f * t); });
    double worst = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        const double t = static_cast<double>(n) / rate;
        const Complex expected =
            0.5 * std::polar(1.0, 2 * kPi * carrier * t + D / f * std::sin(2 * kPi * f * t));
        worst = std::max(worst, std::abs(x[n] - expected));
    }
    EXPECT_LT(worst, 1e-9);
}

TEST(AddAm, EnvelopeFollowsTheAudioAtTheDepth)
{
    const double rate = 12000.0;
    std::vector<Complex> x(1200);
    AddAm(x, rate, 1500.0, 0.4, 0.9, [](double t) { return std::sin(2 * kPi * 100 * t); });
    for (std::size_t n = 0; n < x.size(); n += 37)
    {
        const double t = static_cast<double>(n) / rate;
        EXPECT_NEAR(std::abs(x[n]), 0.4 * (1 + 0.9 * std::sin(2 * kPi * 100 * t)), 1e-12);
    }
}

TEST(AddSideband, PutsEachToneOnItsSideOfTheCarrier)
{
    // Audio tones at +1000 and -1700 Hz: upper at carrier + 1000, lower at carrier - 1700.
    const double rate = 48000.0, carrier = -6000.0;
    std::vector<Complex> x(9600);
    AddSideband(x, rate, carrier, 1.0, [](double t) {
        return 0.3 * std::polar(1.0, 2 * kPi * 1000 * t) +
               0.1 * std::polar(1.0, -2 * kPi * 1700 * t);
    });
    Span span;
    span.y = x;
    span.real = false;
    span.rate = rate;
    span.window = KaiserWindow(x.size(), span.beta);
    const ToneFitResult fit = FitTones(span, {-5000.0, -7700.0, -7000.0, -4300.0}, false);
    EXPECT_NEAR(std::abs(fit.amplitude[0]), 0.3, 1e-12);
    EXPECT_NEAR(std::abs(fit.amplitude[1]), 0.1, 1e-12);
    EXPECT_LT(std::abs(fit.amplitude[2]), 1e-12);
    EXPECT_LT(std::abs(fit.amplitude[3]), 1e-12);
}

TEST(AddNoise, HasItsPowerAndRepeatsForASeed)
{
    std::vector<Complex> a(400000), b(400000), c(400000);
    AddNoise(a, 2e-3, 11);
    AddNoise(b, 2e-3, 11);
    AddNoise(c, 2e-3, 12);
    double power = 0.0, cross = 0.0;
    for (std::size_t n = 0; n < a.size(); ++n)
    {
        power += std::norm(a[n]);
        cross += std::abs(a[n].real() * a[n].imag());
    }
    power /= static_cast<double>(a.size());
    EXPECT_NEAR(power, 2e-3, 2e-3 * 0.01); // 400000 samples: about 0.2 % spread
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(NoisePowerFor, GivesTheCarrierToNoiseRatioInTheBand)
{
    // Carrier 0.25 (power 1/16), 20 dB in 200 kHz of a 2.4 MHz recording: 12 bands of 1/1600.
    EXPECT_NEAR(NoisePowerFor(0.25, 20.0, 200000.0, 2400000.0), 12.0 / 1600.0, 1e-15);
}

TEST(Quantize16, RoundsToSixteenBitStepsAndClips)
{
    Signal s;
    s.rate = 8000.0;
    s.samples = {0.0f, 1.4f / 32768.0f, 1.6f / 32768.0f, -2.5f / 32768.0f, 1.0f, -1.5f};
    const Signal q = Quantize16(s);
    EXPECT_EQ(q.samples[0], 0.0f);
    EXPECT_EQ(q.samples[1], 1.0f / 32768.0f);
    EXPECT_EQ(q.samples[2], 2.0f / 32768.0f);
    EXPECT_EQ(q.samples[3], -2.0f / 32768.0f); // ties to even, as the rounding mode does
    EXPECT_EQ(q.samples[4], 32767.0f / 32768.0f);
    EXPECT_EQ(q.samples[5], -1.0f);
}

} // namespace
} // namespace sigquality
