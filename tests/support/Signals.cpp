#include "support/Signals.h"

#include <cmath>
#include <complex>

namespace sigtest {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

double ToneAmplitude(const std::vector<float>& x, double frequency, double rate, std::size_t skip)
{
    // Correlation with a complex exponential; a real cosine of amplitude A gives A.
    std::complex<double> sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = skip; i < x.size(); ++i, ++n)
        sum += static_cast<double>(x[i]) *
               std::polar(1.0, -2.0 * kPi * frequency * static_cast<double>(i) / rate);
    return n == 0 ? 0.0 : 2.0 * std::abs(sum) / static_cast<double>(n);
}

double ComplexToneAmplitude(const std::vector<float>& iq, double frequency, double rate,
                            std::size_t skipPairs)
{
    std::complex<double> sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = skipPairs; 2 * i + 1 < iq.size(); ++i, ++n)
    {
        const std::complex<double> v(iq[2 * i], iq[2 * i + 1]);
        sum += v * std::polar(1.0, -2.0 * kPi * frequency * static_cast<double>(i) / rate);
    }
    return n == 0 ? 0.0 : std::abs(sum) / static_cast<double>(n);
}

std::vector<float> RealTone(std::size_t count, double frequency, double rate, double amplitude,
                            double phase)
{
    std::vector<float> x(count);
    for (std::size_t i = 0; i < count; ++i)
        x[i] = static_cast<float>(
            amplitude * std::cos(2.0 * kPi * frequency * static_cast<double>(i) / rate + phase));
    return x;
}

std::vector<float> ComplexTone(std::size_t pairs, double frequency, double rate, double amplitude)
{
    std::vector<float> x(2 * pairs);
    for (std::size_t i = 0; i < pairs; ++i)
    {
        const double phase = 2.0 * kPi * frequency * static_cast<double>(i) / rate;
        x[2 * i] = static_cast<float>(amplitude * std::cos(phase));
        x[2 * i + 1] = static_cast<float>(amplitude * std::sin(phase));
    }
    return x;
}

double Rms(const std::vector<float>& x, std::size_t skip)
{
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = skip; i < x.size(); ++i, ++n)
        sum += static_cast<double>(x[i]) * x[i];
    return n == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(n));
}

} // namespace sigtest
