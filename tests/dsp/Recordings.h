#pragma once

// Generated recordings with known stations, for the spectrum, station and picture tests: I/Q
// pairs (interleaved floats, full scale 1.0) made in double precision, and the occupied bandwidth
// each station has by its definition (99 % of the power).
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace sigtest {

inline constexpr double kTwoPi = 6.283185307179586476925;

struct Recording
{
    double rate = 48000.0;
    std::vector<double> iq; // interleaved I, Q

    explicit Recording(double seconds, double rateHz = 48000.0) : rate(rateHz)
    {
        iq.assign(2 * static_cast<std::size_t>(seconds * rateHz), 0.0);
    }
    std::size_t Frames() const { return iq.size() / 2; }

    // A steady carrier of magnitude a at offset f.
    void Carrier(double f, double a)
    {
        for (std::size_t n = 0; n < Frames(); ++n)
            Add(n, a, kTwoPi * f * n / rate);
    }
    // A carrier keyed on and off: `on` seconds of it, `off` of nothing, rounded edges of 5 ms.
    void Cw(double f, double a, double on, double off)
    {
        const double period = on + off;
        for (std::size_t n = 0; n < Frames(); ++n)
        {
            const double t = std::fmod(n / rate, period);
            double g = t < on ? 1.0 : 0.0;
            if (t < 0.005)
                g = 0.5 - 0.5 * std::cos(kTwoPi * t / 0.01);
            else if (t > on - 0.005 && t < on)
                g = 0.5 - 0.5 * std::cos(kTwoPi * (on - t) / 0.01);
            Add(n, a * g, kTwoPi * f * n / rate);
        }
    }
    // AM: carrier of magnitude a, modulation depth m by a tone of fm.
    void Am(double f, double a, double m, double fm)
    {
        for (std::size_t n = 0; n < Frames(); ++n)
            Add(n, a * (1.0 + m * std::cos(kTwoPi * fm * n / rate)), kTwoPi * f * n / rate);
    }
    // FM: magnitude a, deviation dev by a tone of fm.
    void Fm(double f, double a, double dev, double fm)
    {
        for (std::size_t n = 0; n < Frames(); ++n)
        {
            const double t = n / rate;
            Add(n, a, kTwoPi * f * t + dev / fm * std::sin(kTwoPi * fm * t));
        }
    }
    // Complex white noise, each of I and Q of standard deviation sigma.
    void Noise(double sigma, uint32_t seed)
    {
        std::mt19937 random(seed);
        std::normal_distribution<double> value(0.0, sigma);
        for (double& v : iq)
            v += value(random);
    }
    std::vector<float> Floats() const { return std::vector<float>(iq.begin(), iq.end()); }

private:
    void Add(std::size_t n, double a, double phase)
    {
        iq[2 * n] += a * std::cos(phase);
        iq[2 * n + 1] += a * std::sin(phase);
    }
};

// Bessel function of the first kind of integer order, by its series (fine for x below 20).
inline double BesselJ(int order, double x)
{
    double term = 1.0;
    for (int k = 1; k <= order; ++k)
        term *= x / 2.0 / k;
    double sum = 0.0;
    for (int k = 0; k < 80; ++k)
    {
        sum += term;
        term *= -(x / 2.0) * (x / 2.0) / ((k + 1.0) * (k + 1.0 + order));
    }
    return sum;
}

// The 99 % bandwidth of FM by a tone: the lines ±n·fm with the least n that holds 99 %.
inline double FmBandwidth(double dev, double fm)
{
    const double beta = dev / fm;
    double held = BesselJ(0, beta) * BesselJ(0, beta);
    int n = 0;
    while (held < 0.99 && n < 60)
    {
        ++n;
        held += 2.0 * BesselJ(n, beta) * BesselJ(n, beta);
    }
    return 2.0 * n * fm;
}

} // namespace sigtest
