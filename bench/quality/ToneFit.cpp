#include "ToneFit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sigquality {

namespace {

double BesselI0(double x)
{
    // I0(x) = sum over k of ((x / 2)^k / k!)^2; the terms fall below the sum's last bit by k = 60
    // for the shapes used here.
    const double half = x / 2.0;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 500; ++k)
    {
        term *= half / static_cast<double>(k);
        const double add = term * term;
        sum += add;
        if (add < sum * 1e-18)
            break;
    }
    return sum;
}

// Solves A x = b in place (A n x n, row-major) by elimination with partial pivoting. False when a
// pivot vanishes against the matrix's scale.
bool Solve(std::vector<Complex>& A, std::vector<Complex>& b, std::size_t n)
{
    double scale = 0.0;
    for (const Complex& a : A)
        scale = std::max(scale, std::abs(a));
    for (std::size_t col = 0; col < n; ++col)
    {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (std::abs(A[r * n + col]) > std::abs(A[pivot * n + col]))
                pivot = r;
        if (!(std::abs(A[pivot * n + col]) > scale * 1e-13))
            return false;
        if (pivot != col)
        {
            for (std::size_t c = 0; c < n; ++c)
                std::swap(A[col * n + c], A[pivot * n + c]);
            std::swap(b[col], b[pivot]);
        }
        for (std::size_t r = col + 1; r < n; ++r)
        {
            const Complex factor = A[r * n + col] / A[col * n + col];
            for (std::size_t c = col; c < n; ++c)
                A[r * n + c] -= factor * A[col * n + c];
            b[r] -= factor * b[col];
        }
    }
    for (std::size_t col = n; col-- > 0;)
    {
        Complex sum = b[col];
        for (std::size_t c = col + 1; c < n; ++c)
            sum -= A[col * n + c] * b[c];
        b[col] = sum / A[col * n + col];
    }
    return true;
}

} // namespace

std::vector<double> KaiserWindow(std::size_t n, double beta)
{
    std::vector<double> w(n, 1.0);
    if (n < 2)
        return w;
    const double norm = BesselI0(beta);
    const double last = static_cast<double>(n - 1);
    for (std::size_t i = 0; i < n; ++i)
    {
        const double r = 2.0 * static_cast<double>(i) / last - 1.0;
        w[i] = BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
    }
    return w;
}

double MainLobeBins(double beta)
{
    return std::sqrt(1.0 + (beta / std::numbers::pi) * (beta / std::numbers::pi));
}

Span MakeSpan(const Signal& s, std::size_t first, std::size_t count, int channel, double beta)
{
    Span span;
    span.y = ChannelView(s, first, count, channel);
    span.real = !s.complex;
    span.rate = s.rate;
    span.first = static_cast<double>(first);
    span.beta = beta;
    span.window = KaiserWindow(count, beta);
    return span;
}

Complex Phasor(double f, double index, double rate)
{
    double turns = f * index / rate;
    turns -= std::floor(turns);
    const double angle = 2.0 * std::numbers::pi * turns;
    return Complex(std::cos(angle), std::sin(angle));
}

ToneFitResult FitTones(const Span& span, const std::vector<double>& freqs, bool withDc)
{
    ToneFitResult result;
    result.freqs = freqs;
    result.amplitude.assign(freqs.size(), Complex{});
    const std::size_t N = span.Size();
    // The exponents of the model: each tone once (complex) or as a conjugate pair (real), the
    // constant last.
    std::vector<double> exponents;
    for (double f : freqs)
    {
        exponents.push_back(f);
        if (span.real)
            exponents.push_back(-f);
    }
    if (withDc)
        exponents.push_back(0.0);
    const std::size_t K = exponents.size();
    std::vector<Complex> basis(K * N);
    for (std::size_t k = 0; k < K; ++k)
        for (std::size_t n = 0; n < N; ++n)
            basis[k * N + n] = Phasor(exponents[k], span.first + static_cast<double>(n), span.rate);
    std::vector<Complex> gram(K * K);
    std::vector<Complex> rhs(K);
    for (std::size_t a = 0; a < K; ++a)
    {
        for (std::size_t b = a; b < K; ++b)
        {
            Complex sum{};
            for (std::size_t n = 0; n < N; ++n)
                sum += span.window[n] * span.window[n] * std::conj(basis[a * N + n]) *
                       basis[b * N + n];
            gram[a * K + b] = sum;
            gram[b * K + a] = std::conj(sum);
        }
        Complex sum{};
        for (std::size_t n = 0; n < N; ++n)
            sum += span.window[n] * span.window[n] * std::conj(basis[a * N + n]) * span.y[n];
        rhs[a] = sum;
    }
    result.residual = span.y;
    if (K == 0)
    {
        result.solved = true;
        return result;
    }
    result.solved = Solve(gram, rhs, K);
    if (!result.solved)
        return result;
    for (std::size_t k = 0; k < K; ++k)
        for (std::size_t n = 0; n < N; ++n)
            result.residual[n] -= rhs[k] * basis[k * N + n];
    const std::size_t perTone = span.real ? 2 : 1;
    for (std::size_t i = 0; i < freqs.size(); ++i)
        result.amplitude[i] = span.real ? 2.0 * rhs[i * perTone] : rhs[i * perTone];
    if (withDc)
        result.dc = rhs[K - 1];
    return result;
}

std::vector<Complex> ToneModel(const Span& span, const ToneFitResult& fit, std::size_t i)
{
    std::vector<Complex> model(span.Size());
    for (std::size_t n = 0; n < model.size(); ++n)
    {
        const Complex e = Phasor(fit.freqs[i], span.first + static_cast<double>(n), span.rate);
        // A real tone: Re(A e^(j phi) e^(j 2 pi f t)) = A cos(2 pi f t + phi).
        model[n] = span.real ? Complex((fit.amplitude[i] * e).real(), 0.0) : fit.amplitude[i] * e;
    }
    return model;
}

double WindowedPower(const Span& span, const std::vector<Complex>& x)
{
    double sum = 0.0;
    double weights = 0.0;
    for (std::size_t n = 0; n < x.size() && n < span.window.size(); ++n)
    {
        const double w2 = span.window[n] * span.window[n];
        sum += w2 * std::norm(x[n]);
        weights += w2;
    }
    return weights > 0.0 ? sum / weights : 0.0;
}

} // namespace sigquality
