#include "Generators.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sigquality {

namespace {

Complex CarrierAt(double carrier, double n, double rate)
{
    double turns = carrier * n / rate;
    turns -= std::floor(turns);
    const double angle = 2.0 * std::numbers::pi * turns;
    return Complex(std::cos(angle), std::sin(angle));
}

// splitmix64: a small generator whose sequence is fixed by its seed.
std::uint64_t NextRandom(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// Uniform in (0, 1], 53 bits.
double Uniform(std::uint64_t& state)
{
    return (static_cast<double>(NextRandom(state) >> 11) + 1.0) / 9007199254740992.0;
}

} // namespace

void AddFm(std::vector<Complex>& x, double rate, double carrier, double amplitude, double deviation,
           const Audio& audio)
{
    const double h = 1.0 / rate;
    double integral = 0.0; // of the audio from 0 to the current frame, s
    double previous = audio(0.0);
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        const auto nn = static_cast<double>(n);
        if (n > 0)
        {
            // Simpson's rule over two panels of h / 2 between frames n - 1 and n.
            const double t0 = (nn - 1.0) * h;
            const double quarter = audio(t0 + 0.25 * h);
            const double middle = audio(t0 + 0.5 * h);
            const double threeQuarters = audio(t0 + 0.75 * h);
            const double now = audio(nn * h);
            integral +=
                h / 12.0 * (previous + 4.0 * quarter + 2.0 * middle + 4.0 * threeQuarters + now);
            previous = now;
        }
        double turns = deviation * integral;
        turns -= std::floor(turns);
        const double angle = 2.0 * std::numbers::pi * turns;
        x[n] +=
            amplitude * CarrierAt(carrier, nn, rate) * Complex(std::cos(angle), std::sin(angle));
    }
}

void AddAm(std::vector<Complex>& x, double rate, double carrier, double amplitude, double depth,
           const Audio& audio)
{
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        const auto nn = static_cast<double>(n);
        x[n] += amplitude * (1.0 + depth * audio(nn / rate)) * CarrierAt(carrier, nn, rate);
    }
}

void AddSideband(std::vector<Complex>& x, double rate, double carrier, double amplitude,
                 const AnalyticAudio& a)
{
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        const auto nn = static_cast<double>(n);
        x[n] += amplitude * a(nn / rate) * CarrierAt(carrier, nn, rate);
    }
}

void AddNoise(std::vector<Complex>& x, double power, std::uint64_t seed)
{
    std::uint64_t state = seed;
    // Box-Muller: two independent Gaussians of variance power / 2 each, for I and Q.
    const double sigma = std::sqrt(power / 2.0);
    for (Complex& v : x)
    {
        const double r = std::sqrt(-2.0 * std::log(Uniform(state)));
        const double angle = 2.0 * std::numbers::pi * Uniform(state);
        v += sigma * r * Complex(std::cos(angle), std::sin(angle));
    }
}

double NoisePowerFor(double carrierAmplitude, double cnrDb, double band, double rate)
{
    const double inBand = carrierAmplitude * carrierAmplitude / std::pow(10.0, cnrDb / 10.0);
    return inBand * rate / band;
}

Signal Quantize16(Signal s)
{
    for (float& v : s.samples)
    {
        const double q =
            std::clamp(std::nearbyint(static_cast<double>(v) * 32768.0), -32768.0, 32767.0);
        v = static_cast<float>(q / 32768.0);
    }
    return s;
}

} // namespace sigquality
