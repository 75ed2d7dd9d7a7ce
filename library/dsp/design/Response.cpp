#include "dsp/design/Response.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace sigkit::dsp {

namespace {

constexpr double kTwoPi = 6.283185307179586476925;
// The rotation e^(-j2πf) is applied step by step and restarted from an exact value this often,
// so rounding grows over at most this many steps.
constexpr int32_t kRestart = 128;

std::complex<double> Rotation(double f, int64_t k)
{
    // The angle's whole turns are removed before the sine and cosine are taken.
    const double turns = f * static_cast<double>(k);
    const double angle = kTwoPi * (turns - std::floor(turns));
    return {std::cos(angle), -std::sin(angle)};
}

template <typename T> double MagnitudeOf(const T* taps, int32_t n, double f)
{
    std::complex<double> sum = 0.0;
    const std::complex<double> step = Rotation(f, 1);
    std::complex<double> phasor = 1.0;
    for (int32_t k = 0; k < n; ++k)
    {
        if (k % kRestart == 0)
            phasor = Rotation(f, k);
        sum += static_cast<double>(taps[k]) * phasor;
        phasor *= step;
    }
    return std::abs(sum);
}

struct BandScan
{
    double max = 0.0;
    double min = 0.0;
};

// The largest of sign·|A(f)| between low and high around a grid peak (golden-section search).
double RefinePeak(const std::vector<double>& taps, double low, double high, double sign)
{
    const auto n = static_cast<int32_t>(taps.size());
    const auto value = [&](double f) {
        return sign * std::fabs(SymmetricAmplitude(taps.data(), n, f));
    };
    constexpr double kGolden = 0.6180339887498949;
    double c = high - kGolden * (high - low);
    double d = low + kGolden * (high - low);
    double vc = value(c);
    double vd = value(d);
    for (int i = 0; i < 24; ++i)
    {
        if (vc > vd)
        {
            high = d;
            d = c;
            vd = vc;
            c = high - kGolden * (high - low);
            vc = value(c);
        }
        else
        {
            low = c;
            c = d;
            vc = vd;
            d = low + kGolden * (high - low);
            vd = value(d);
        }
    }
    return sign * std::max(vc, vd);
}

// Extremes of |A(f)| over [low, high]: a grid of 16 points per 1/n, eight times denser within
// 2/n of either edge (the lobes beside a transition band are the narrowest), and every local
// peak (and, for the minimum, every dip) refined between its grid neighbours.
BandScan Scan(const std::vector<double>& taps, double low, double high)
{
    const auto n = static_cast<double>(std::max<std::size_t>(taps.size(), 8));
    std::vector<double> grid;
    const double coarse = 1.0 / (16.0 * n);
    const double fine = coarse / 8.0;
    const double near = 2.0 / n;
    for (double f = low; f < high;)
    {
        grid.push_back(f);
        f += (f - low < near || high - f < near) ? fine : coarse;
    }
    grid.push_back(high);
    std::vector<double> values(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i)
        values[i] =
            std::fabs(SymmetricAmplitude(taps.data(), static_cast<int32_t>(taps.size()), grid[i]));
    BandScan scan{values[0], values[0]};
    for (std::size_t i = 0; i < values.size(); ++i)
    {
        scan.max = std::max(scan.max, values[i]);
        scan.min = std::min(scan.min, values[i]);
        if (i == 0 || i + 1 == values.size())
            continue;
        if (values[i] >= values[i - 1] && values[i] >= values[i + 1])
            scan.max = std::max(scan.max, RefinePeak(taps, grid[i - 1], grid[i + 1], 1.0));
        if (values[i] <= values[i - 1] && values[i] <= values[i + 1])
            scan.min = std::min(scan.min, RefinePeak(taps, grid[i - 1], grid[i + 1], -1.0));
    }
    return scan;
}

} // namespace

double Magnitude(const double* taps, int32_t n, double f)
{
    return MagnitudeOf(taps, n, f);
}

double Magnitude(const float* taps, int32_t n, double f)
{
    return MagnitudeOf(taps, n, f);
}

double SymmetricAmplitude(const double* taps, int32_t n, double f)
{
    if (n < 1)
        return 0.0;
    const int32_t c = (n - 1) / 2;
    double sum = taps[c];
    // cos(2πfk) by the recurrence c[k+1] = 2·cos(2πf)·c[k] - c[k-1], restarted from exact values
    // every kRestart terms.
    const double twice = 2.0 * Rotation(f, 1).real();
    double previous = 1.0;
    double current = 1.0;
    for (int32_t k = 1; k <= c; ++k)
    {
        if (k == 1 || k % kRestart == 0)
        {
            previous = Rotation(f, k - 1).real();
            current = Rotation(f, k).real();
        }
        else
        {
            const double next = twice * current - previous;
            previous = current;
            current = next;
        }
        sum += 2.0 * taps[c - k] * current;
    }
    return sum;
}

double LowPassFigures::RippleDb() const
{
    const double rise = passMax > 0.0 ? 20.0 * std::log10(passMax) : 0.0;
    const double fall = passMin > 0.0 ? -20.0 * std::log10(passMin) : HUGE_VAL;
    return std::max(rise, fall);
}

double LowPassFigures::AttenuationDb() const
{
    return stopMax > 0.0 ? -20.0 * std::log10(stopMax) : HUGE_VAL;
}

LowPassFigures MeasureLowPass(const std::vector<double>& taps, double passEdge, double stopEdge,
                              double gain)
{
    LowPassFigures figures;
    if (taps.empty() || !(gain > 0.0))
        return figures;
    const BandScan pass = Scan(taps, 0.0, passEdge);
    const BandScan stop = Scan(taps, stopEdge, 0.5);
    figures.passMax = pass.max / gain;
    figures.passMin = pass.min / gain;
    figures.stopMax = stop.max / gain;
    return figures;
}

double EdgeFrequency(const std::vector<double>& taps, double dropDb, double gain)
{
    const auto n = static_cast<int32_t>(taps.size());
    const double level = gain * std::pow(10.0, -dropDb / 20.0);
    const double step = 1.0 / (16.0 * static_cast<double>(std::max(n, 8)));
    double low = 0.0;
    for (double f = step; f <= 0.5; f += step)
    {
        if (std::fabs(SymmetricAmplitude(taps.data(), n, f)) < level)
        {
            double high = f;
            for (int i = 0; i < 60; ++i)
            {
                const double mid = 0.5 * (low + high);
                if (std::fabs(SymmetricAmplitude(taps.data(), n, mid)) < level)
                    high = mid;
                else
                    low = mid;
            }
            return 0.5 * (low + high);
        }
        low = f;
    }
    return 0.5;
}

} // namespace sigkit::dsp
