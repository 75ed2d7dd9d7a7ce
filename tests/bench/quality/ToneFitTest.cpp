#include "ToneFit.h"
#include "Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace sigquality {
namespace {

constexpr double kPi = std::numbers::pi;

Span RealSpan(const std::vector<double>& x, double rate, double first = 0.0)
{
    Span s;
    for (double v : x)
        s.y.emplace_back(v, 0.0);
    s.real = true;
    s.rate = rate;
    s.first = first;
    s.window = KaiserWindow(x.size(), s.beta);
    return s;
}

TEST(KaiserWindow, SymmetricWithPeakOne)
{
    const std::vector<double> w = KaiserWindow(101, kSpanBeta);
    EXPECT_DOUBLE_EQ(w[50], 1.0);
    for (std::size_t i = 0; i < w.size(); ++i)
        EXPECT_NEAR(w[i], w[w.size() - 1 - i], 1e-15);
    EXPECT_LT(w[0], 1e-8);
}

TEST(KaiserWindow, SideLobesOfTheSpanWindowLie180DbDown)
{
    // The span's window, transformed with 16 times zero padding: everything past the main lobe
    // (MainLobeBins either side) is at least 180 dB below the peak.
    const std::size_t N = 1024;
    const std::vector<double> w = KaiserWindow(N, kSpanBeta);
    std::vector<Complex> X(16 * N);
    for (std::size_t n = 0; n < N; ++n)
        X[n] = w[n];
    Fft(X);
    const double peak = std::abs(X[0]);
    const auto lobe = static_cast<std::size_t>(16.0 * MainLobeBins(kSpanBeta)) + 1;
    double worst = 0.0;
    for (std::size_t k = lobe; k < X.size() - lobe; ++k)
        worst = std::max(worst, std::abs(X[k]) / peak);
    EXPECT_LT(20.0 * std::log10(worst), -180.0);
}

TEST(FitTones, RecoversAmplitudesPhasesAndConstantOfRealTones)
{
    // Two cosines and a constant over a stretch that holds no whole number of their periods.
    const double rate = 48000.0;
    std::vector<double> x(3000);
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        const double t = static_cast<double>(n) / rate;
        x[n] = 0.25 + 0.7 * std::cos(2 * kPi * 1003.7 * t + 0.4) +
               1e-3 * std::cos(2 * kPi * 5111.1 * t - 2.0);
    }
    const Span span = RealSpan(x, rate);
    const ToneFitResult fit = FitTones(span, {1003.7, 5111.1}, true);
    ASSERT_TRUE(fit.solved);
    EXPECT_NEAR(std::abs(fit.amplitude[0]), 0.7, 1e-12);
    EXPECT_NEAR(std::arg(fit.amplitude[0]), 0.4, 1e-11);
    EXPECT_NEAR(std::abs(fit.amplitude[1]), 1e-3, 1e-12);
    EXPECT_NEAR(std::arg(fit.amplitude[1]), -2.0, 1e-8);
    EXPECT_NEAR(fit.dc.real(), 0.25, 1e-12);
    for (const Complex& r : fit.residual)
        EXPECT_LT(std::abs(r), 1e-12);
}

TEST(FitTones, TellsPositiveFromNegativeFrequenciesOfComplexTones)
{
    const double rate = 12000.0;
    Span span;
    span.real = false;
    span.rate = rate;
    for (int n = 0; n < 2000; ++n)
    {
        const double t = n / rate;
        span.y.push_back(0.5 * std::polar(1.0, 2 * kPi * 700.0 * t) +
                         0.1 * std::polar(1.0, -2 * kPi * 700.0 * t + 1.0));
    }
    span.window = KaiserWindow(span.y.size(), span.beta);
    const ToneFitResult fit = FitTones(span, {700.0, -700.0}, false);
    EXPECT_NEAR(std::abs(fit.amplitude[0]), 0.5, 1e-12);
    EXPECT_NEAR(std::abs(fit.amplitude[1]), 0.1, 1e-12);
    EXPECT_NEAR(std::arg(fit.amplitude[1]), 1.0, 1e-11);
}

TEST(FitTones, LeavesWhatIsNotInTheModelInTheResidual)
{
    const double rate = 8000.0;
    std::vector<double> x(4000);
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        const double t = static_cast<double>(n) / rate;
        x[n] = std::cos(2 * kPi * 1000.0 * t) + 0.01 * std::cos(2 * kPi * 3000.0 * t);
    }
    const Span span = RealSpan(x, rate);
    const ToneFitResult fit = FitTones(span, {1000.0}, true);
    // What is left is the 3 kHz tone: its windowed power is 0.01^2 / 2.
    EXPECT_NEAR(WindowedPower(span, fit.residual), 0.5e-4, 1e-9);
    // The tone not in the model leaks into the fitted one no more than the window allows.
    EXPECT_NEAR(std::abs(fit.amplitude[0]), 1.0, 1e-12);
}

TEST(FitTones, PhaseRefersToTimeZeroOfTheWholeSignal)
{
    // The same tone seen from frame 1000 on: its phase is still the phase at time 0.
    const double rate = 44100.0;
    std::vector<double> x(1500);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = std::cos(2 * kPi * 440.0 * static_cast<double>(n + 1000) / rate + 1.2);
    const ToneFitResult fit = FitTones(RealSpan(x, rate, 1000.0), {440.0}, false);
    EXPECT_NEAR(std::arg(fit.amplitude[0]), 1.2, 1e-10);
}

TEST(FitTones, ReportsSingularEquations)
{
    // The same frequency twice cannot be told apart.
    std::vector<double> x(256, 1.0);
    const ToneFitResult fit = FitTones(RealSpan(x, 1000.0), {100.0, 100.0}, false);
    EXPECT_FALSE(fit.solved);
}

TEST(Phasor, StaysExactFarIntoALongSignal)
{
    // 10^9 frames into a signal, 20833333 1/3 turns: a double holds that count to 4e-9 turn,
    // and reducing it to its fraction before the cosine keeps it there.
    const Complex e = Phasor(1000.0, 1e9, 48000.0);
    const double angle = 2 * kPi / 3.0;
    EXPECT_NEAR(std::abs(e - Complex(std::cos(angle), std::sin(angle))), 0.0, 5e-8);
}

} // namespace
} // namespace sigquality
