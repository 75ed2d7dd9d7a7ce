#pragma once

#include "chains/Chain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

// Running a chain over a whole signal, or over random pieces of it, and the tone measurements of
// its I/Q outputs, in double precision.
namespace sigtest {

using Complex = std::complex<double>;
constexpr double kTwoPi = 6.283185307179586476925;

inline std::size_t FloatsOf(int64_t frames, int32_t channels)
{
    return static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
}

// The whole signal in one call, then the flush; every call within its stated bound.
inline std::vector<float> RunAll(sigkit::chains::Chain& chain, const std::vector<float>& x)
{
    const int32_t cin = chain.Input().channels;
    const int32_t cout = chain.Output().channels;
    const auto frames = static_cast<int32_t>(x.size() / static_cast<std::size_t>(cin));
    std::vector<float> y(FloatsOf(chain.MaxOutput(frames), cout) +
                         FloatsOf(chain.MaxFlush(), cout));
    int32_t n = chain.Process(x.data(), frames, y.data());
    EXPECT_LE(n, chain.MaxOutput(frames));
    const int32_t tail = chain.Flush(y.data() + FloatsOf(n, cout));
    EXPECT_LE(tail, chain.MaxFlush());
    y.resize(FloatsOf(n + tail, cout));
    return y;
}

// The signal in pieces of random lengths (some long, some of a frame or none), then the flush.
inline std::vector<float> RunInPieces(sigkit::chains::Chain& chain, const std::vector<float>& x,
                                      uint32_t seed)
{
    const int32_t cin = chain.Input().channels;
    const int32_t cout = chain.Output().channels;
    const auto frames = static_cast<int32_t>(x.size() / static_cast<std::size_t>(cin));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> length(0, 3000);
    std::vector<float> y;
    std::vector<float> piece;
    for (int32_t at = 0; at < frames;)
    {
        const int32_t kind = static_cast<int32_t>(random() % 8);
        const int32_t want = kind == 0 ? 1 : kind == 1 ? 20000 + length(random) : length(random);
        const int32_t n = std::min(frames - at, want);
        piece.assign(FloatsOf(chain.MaxOutput(n), cout), 0.0f);
        const int32_t got = chain.Process(x.data() + FloatsOf(at, cin), n, piece.data());
        EXPECT_LE(got, chain.MaxOutput(n));
        y.insert(y.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got) * cout);
        at += n;
    }
    piece.assign(FloatsOf(chain.MaxFlush(), cout), 0.0f);
    const int32_t tail = chain.Flush(piece.data());
    EXPECT_LE(tail, chain.MaxFlush());
    y.insert(y.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(tail) * cout);
    return y;
}

// amplitude·e^(j2π·f·n/rate), interleaved I, Q; the angle formed from the fraction of a turn.
inline std::vector<float> ComplexTone(std::size_t frames, double f, double rate, double amplitude)
{
    std::vector<float> x(2 * frames);
    for (std::size_t n = 0; n < frames; ++n)
    {
        const double turns = f * static_cast<double>(n) / rate;
        const double angle = kTwoPi * (turns - std::floor(turns));
        x[2 * n] = static_cast<float>(amplitude * std::cos(angle));
        x[2 * n + 1] = static_cast<float>(amplitude * std::sin(angle));
    }
    return x;
}

// Adds b to a, element by element.
inline std::vector<float> Sum(std::vector<float> a, const std::vector<float>& b)
{
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] += b[i];
    return a;
}

struct ComplexFit
{
    std::vector<Complex> amplitude; // component i is amplitude[i]·e^(j2π·f_i·n/rate)
    double residualRms = 0.0;       // of what the fitted tones leave
};

// Least-squares fit of complex tones of known frequencies to interleaved I/Q frames
// first .. first + count - 1 (n counted from frame 0).
inline ComplexFit FitComplex(const std::vector<float>& iq, std::size_t first, std::size_t count,
                             const std::vector<double>& frequencies, double rate)
{
    const std::size_t m = frequencies.size();
    std::vector<std::vector<Complex>> A(m, std::vector<Complex>(m, 0.0));
    std::vector<Complex> b(m, 0.0);
    std::vector<Complex> e(m);
    const auto basis = [&](std::size_t n) {
        for (std::size_t i = 0; i < m; ++i)
        {
            const double turns = frequencies[i] * static_cast<double>(n) / rate;
            e[i] = std::polar(1.0, kTwoPi * (turns - std::floor(turns)));
        }
    };
    for (std::size_t n = first; n < first + count; ++n)
    {
        basis(n);
        const Complex z(iq[2 * n], iq[2 * n + 1]);
        for (std::size_t i = 0; i < m; ++i)
        {
            b[i] += std::conj(e[i]) * z;
            for (std::size_t j = 0; j < m; ++j)
                A[i][j] += std::conj(e[i]) * e[j];
        }
    }
    for (std::size_t i = 0; i < m; ++i) // Gaussian elimination; A is Hermitian positive definite
        for (std::size_t r = i + 1; r < m; ++r)
        {
            const Complex f = A[r][i] / A[i][i];
            for (std::size_t c = i; c < m; ++c)
                A[r][c] -= f * A[i][c];
            b[r] -= f * b[i];
        }
    ComplexFit fit;
    fit.amplitude.assign(m, 0.0);
    for (std::size_t i = m; i-- > 0;)
    {
        Complex s = b[i];
        for (std::size_t c = i + 1; c < m; ++c)
            s -= A[i][c] * fit.amplitude[c];
        fit.amplitude[i] = s / A[i][i];
    }
    double residual = 0.0;
    for (std::size_t n = first; n < first + count; ++n)
    {
        basis(n);
        Complex z(iq[2 * n], iq[2 * n + 1]);
        for (std::size_t i = 0; i < m; ++i)
            z -= fit.amplitude[i] * e[i];
        residual += std::norm(z);
    }
    fit.residualRms = std::sqrt(residual / static_cast<double>(count));
    return fit;
}

// Root mean square of |z| over frames first .. first + count - 1 of interleaved I/Q.
inline double ComplexRms(const std::vector<float>& iq, std::size_t first, std::size_t count)
{
    double sum = 0.0;
    for (std::size_t n = first; n < first + count; ++n)
        sum += static_cast<double>(iq[2 * n]) * iq[2 * n] +
               static_cast<double>(iq[2 * n + 1]) * iq[2 * n + 1];
    return std::sqrt(sum / static_cast<double>(count));
}

inline double DbOf(double ratio)
{
    return 20.0 * std::log10(ratio);
}

} // namespace sigtest
