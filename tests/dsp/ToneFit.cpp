#include "ToneFit.h"

#include <cmath>
#include <utility>

namespace sigtest {

namespace {
constexpr double kTwoPi = 6.283185307179586476925;

// Solves A·v = b in place (Gaussian elimination with partial pivoting; A is small and symmetric
// positive definite here).
std::vector<double> Solve(std::vector<std::vector<double>> A, std::vector<double> b)
{
    const std::size_t n = b.size();
    for (std::size_t i = 0; i < n; ++i)
    {
        std::size_t pivot = i;
        for (std::size_t r = i + 1; r < n; ++r)
            if (std::fabs(A[r][i]) > std::fabs(A[pivot][i]))
                pivot = r;
        std::swap(A[i], A[pivot]);
        std::swap(b[i], b[pivot]);
        for (std::size_t r = i + 1; r < n; ++r)
        {
            const double f = A[r][i] / A[i][i];
            for (std::size_t c = i; c < n; ++c)
                A[r][c] -= f * A[i][c];
            b[r] -= f * b[i];
        }
    }
    std::vector<double> v(n);
    for (std::size_t i = n; i-- > 0;)
    {
        double s = b[i];
        for (std::size_t c = i + 1; c < n; ++c)
            s -= A[i][c] * v[c];
        v[i] = s / A[i][i];
    }
    return v;
}
} // namespace

ToneFitResult FitTones(const std::vector<float>& x, std::size_t stride, std::size_t first,
                       std::size_t count, const std::vector<double>& frequencies, double rate)
{
    const std::size_t m = 2 * frequencies.size();
    std::vector<std::vector<double>> A(m, std::vector<double>(m, 0.0));
    std::vector<double> b(m, 0.0);
    std::vector<double> basis(m);
    const auto fill = [&](std::size_t n) {
        for (std::size_t i = 0; i < frequencies.size(); ++i)
        {
            // The angle's whole turns removed first, so that it stays exact for long signals.
            const double turns = frequencies[i] * static_cast<double>(n) / rate;
            const double angle = kTwoPi * (turns - std::floor(turns));
            basis[2 * i] = std::cos(angle);
            basis[2 * i + 1] = std::sin(angle);
        }
    };
    for (std::size_t n = first; n < first + count; ++n)
    {
        fill(n);
        const double v = x[n * stride];
        for (std::size_t i = 0; i < m; ++i)
        {
            b[i] += basis[i] * v;
            for (std::size_t j = 0; j < m; ++j)
                A[i][j] += basis[i] * basis[j];
        }
    }
    const std::vector<double> v = Solve(A, b);
    ToneFitResult result;
    for (std::size_t i = 0; i < frequencies.size(); ++i)
    {
        result.amplitude.push_back(std::hypot(v[2 * i], v[2 * i + 1]));
        result.phase.push_back(std::atan2(v[2 * i + 1], v[2 * i]));
    }
    double residual = 0.0;
    for (std::size_t n = first; n < first + count; ++n)
    {
        fill(n);
        double e = x[n * stride];
        for (std::size_t i = 0; i < m; ++i)
            e -= v[i] * basis[i];
        residual += e * e;
    }
    result.residualRms = std::sqrt(residual / static_cast<double>(count));
    return result;
}

double RmsOf(const std::vector<float>& x, std::size_t stride, std::size_t first, std::size_t count)
{
    double sum = 0.0;
    for (std::size_t n = first; n < first + count; ++n)
        sum += static_cast<double>(x[n * stride]) * x[n * stride];
    return std::sqrt(sum / static_cast<double>(count));
}

std::vector<float> Tone(std::size_t frames, double f, double rate, double amplitude, int channels)
{
    std::vector<float> x(frames * static_cast<std::size_t>(channels));
    for (std::size_t n = 0; n < frames; ++n)
    {
        const double turns = f * static_cast<double>(n) / rate;
        const auto v =
            static_cast<float>(amplitude * std::cos(kTwoPi * (turns - std::floor(turns))));
        for (int c = 0; c < channels; ++c)
            x[n * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
    }
    return x;
}

double Db(double ratio)
{
    return 20.0 * std::log10(ratio);
}

} // namespace sigtest
