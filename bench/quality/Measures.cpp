#include "Measures.h"

#include "Fft.h"

#include <algorithm>
#include <cmath>

namespace sigquality {

double Db(double powerRatio)
{
    return powerRatio > 0.0 ? 10.0 * std::log10(powerRatio) : -400.0;
}

double AmplitudeDb(double amplitudeRatio)
{
    return amplitudeRatio > 0.0 ? 20.0 * std::log10(amplitudeRatio) : -400.0;
}

namespace {

// Signed frequency of bin k of a transform of P points at `rate`.
double BinFrequency(std::size_t k, std::size_t P, double rate)
{
    const auto kk = static_cast<double>(k);
    const auto PP = static_cast<double>(P);
    return (k < P / 2 ? kk : kk - PP) * rate / PP;
}

// x through the span's window, zero-padded to a power of two of at least `pad` times its length,
// transformed.
std::vector<Complex> WindowedSpectrum(const Span& span, const std::vector<Complex>& x,
                                      std::size_t pad)
{
    std::vector<Complex> X(NextPowerOfTwo(pad * x.size()));
    for (std::size_t n = 0; n < x.size(); ++n)
        X[n] = span.window[n] * x[n];
    Fft(X);
    return X;
}

double WindowSum(const Span& span)
{
    double sum = 0.0;
    for (double w : span.window)
        sum += w;
    return sum;
}

} // namespace

double BandPower(const Span& span, const std::vector<Complex>& x, double lo, double hi)
{
    if (lo <= 0.0 && hi >= span.rate / 2.0)
        return WindowedPower(span, x);
    const std::vector<Complex> X = WindowedSpectrum(span, x, 2);
    const std::size_t P = X.size();
    double sum = 0.0;
    for (std::size_t k = 0; k < P; ++k)
    {
        const double f = std::abs(BinFrequency(k, P, span.rate));
        if (f >= lo && f <= hi)
            sum += std::norm(X[k]);
    }
    double weights = 0.0;
    for (double w : span.window)
        weights += w * w;
    // Parseval: the sum over all P bins is P times the windowed energy.
    return weights > 0.0 ? sum / (static_cast<double>(P) * weights) : 0.0;
}

Distortion MeasureDistortion(const Span& span, double f0, double lo, double hi, int harmonics)
{
    Distortion d;
    const ToneFitResult fundamental = FitTones(span, {f0}, true);
    if (!fundamental.solved)
        return d;
    d.amplitude = std::abs(fundamental.amplitude[0]);
    // Mean power of the tone: A^2 / 2 for a real cosine, |c|^2 for a complex exponential.
    const double tonePower =
        span.real ? d.amplitude * d.amplitude / 2.0 : d.amplitude * d.amplitude;
    if (tonePower <= 0.0)
        return d;
    const double residual = BandPower(span, fundamental.residual, lo, hi);
    d.thdN = residual / tonePower;
    d.sinad = residual > 0.0 ? (tonePower + residual) / residual : 0.0;

    std::vector<double> freqs{f0};
    const double top = std::min(hi, span.rate / 2.0);
    for (int h = 2; h <= harmonics; ++h)
    {
        const double fh = f0 * h;
        // Leave out harmonics within a main lobe of the band's top or of the Nyquist frequency.
        if (std::abs(fh) < top - 2.0 * MainLobeBins(span.beta) * span.BinHz())
            freqs.push_back(fh);
    }
    const ToneFitResult all = FitTones(span, freqs, true);
    if (all.solved && std::abs(all.amplitude[0]) > 0.0)
    {
        double sum = 0.0;
        for (std::size_t i = 1; i < freqs.size(); ++i)
            sum += std::norm(all.amplitude[i]);
        d.thd = sum / std::norm(all.amplitude[0]);
    }
    return d;
}

Spur WorstSpur(const Span& span, const std::vector<double>& freqs, double lo, double hi)
{
    Spur worst;
    const ToneFitResult fit = FitTones(span, freqs, true);
    const std::vector<Complex> X = WindowedSpectrum(span, fit.residual, 4);
    const std::size_t P = X.size();
    const double sum = WindowSum(span);
    const double keepOut = 1.5 * MainLobeBins(span.beta) * span.BinHz();
    for (std::size_t k = 0; k < P; ++k)
    {
        const double f = BinFrequency(k, P, span.rate);
        if (span.real && f < 0.0)
            continue;
        if (std::abs(f) < lo || std::abs(f) > hi || std::abs(f) < keepOut)
            continue;
        bool near = false;
        for (double t : freqs)
            near = near || std::abs(f - t) < keepOut || (span.real && std::abs(f + t) < keepOut);
        if (near)
            continue;
        // A tone's peak amplitude: |X| / sum(w), twice that for a real cosine.
        const double amplitude = std::abs(X[k]) / sum * (span.real ? 2.0 : 1.0);
        if (amplitude > worst.amplitude)
            worst = {f, amplitude};
    }
    return worst;
}

namespace {

struct Projection
{
    double energy = 0.0; // of the fitted model
    double total = 0.0;  // of the output over the same frames
    Complex gain{};
};

// The least-squares fit of y(t_k) = gain s(t_k - delay) over frames k = kb, kb + S, ... where the
// shifted probe is not zero.
Projection Project(const std::vector<Complex>& y, std::size_t y0, bool real, double rate,
                   const Expected& expected, GainFreedom freedom, double delay, std::size_t S)
{
    Projection p;
    const double fb = std::ceil((expected.begin + delay) * rate);
    const double fe = std::floor((expected.end + delay) * rate);
    const auto lastFrame = static_cast<double>(y0 + y.size()) - 1.0;
    const double from = std::max(fb, static_cast<double>(y0));
    const double to = std::min(fe, lastFrame);
    // Sums for a 2 x 2 real fit (real output, any phase): y = a Re s + b Im s.
    double rr = 0.0, ri = 0.0, ii = 0.0, yr = 0.0, yi = 0.0;
    Complex ys{};
    double ss = 0.0;
    // A sum of tones under an envelope: each tone's phasor at the first frame, then turned by
    // its step per S frames (in double, the turns add an error of about 1e-16 per step).
    const bool tones = !expected.tones.empty() && expected.envelope;
    std::vector<Complex> phasor, turn;
    if (tones)
        for (const ExpectedTone& tone : expected.tones)
        {
            phasor.push_back(tone.coefficient * Phasor(tone.freq, from - delay * rate, rate));
            turn.push_back(Phasor(tone.freq, static_cast<double>(S), rate));
        }
    for (double k = from; k <= to; k += static_cast<double>(S))
    {
        const auto index = static_cast<std::size_t>(k) - y0;
        Complex s{};
        if (tones)
        {
            for (std::size_t i = 0; i < phasor.size(); ++i)
            {
                s += phasor[i];
                phasor[i] *= turn[i];
            }
            s *= expected.envelope(k / rate - delay);
        }
        else
            s = expected.at(k / rate - delay);
        const Complex v = y[index];
        p.total += std::norm(v);
        if (real)
        {
            rr += s.real() * s.real();
            ri += s.real() * s.imag();
            ii += s.imag() * s.imag();
            yr += v.real() * s.real();
            yi += v.real() * s.imag();
        }
        else
        {
            ys += v * std::conj(s);
            ss += std::norm(s);
        }
    }
    if (real && freedom == GainFreedom::Real)
    {
        if (rr > 0.0)
        {
            p.gain = yr / rr;
            p.energy = yr * yr / rr;
        }
    }
    else if (real)
    {
        const double det = rr * ii - ri * ri;
        if (det > 0.0)
        {
            const double a = (yr * ii - yi * ri) / det;
            const double b = (yi * rr - yr * ri) / det;
            // y = a Re s + b Im s = Re((a - j b) s).
            p.gain = Complex(a, -b);
            p.energy = a * yr + b * yi;
        }
    }
    else if (ss > 0.0)
    {
        if (freedom == GainFreedom::Real)
        {
            p.gain = ys.real() / ss;
            p.energy = ys.real() * ys.real() / ss;
        }
        else
        {
            p.gain = ys / ss;
            p.energy = std::norm(ys) / ss;
        }
    }
    return p;
}

} // namespace

DelayFit FitDelay(const Signal& out, const Expected& expected, double maxLag, GainFreedom freedom,
                  int channel)
{
    DelayFit fit;
    const double rate = out.rate;
    const auto frames = static_cast<double>(out.Frames());
    if (!(rate > 0.0) || !(expected.highest > 0.0) || !(expected.end > expected.begin))
        return fit;
    const double k0d = std::max(0.0, std::floor((expected.begin - maxLag) * rate));
    const double k1d = std::min(frames, std::ceil((expected.end + maxLag) * rate) + 1.0);
    if (!(k1d > k0d))
        return fit;
    const auto k0 = static_cast<std::size_t>(k0d);
    const std::vector<Complex> y =
        ChannelView(out, k0, static_cast<std::size_t>(k1d - k0d), channel);
    const bool real = !out.complex;

    // Every S-th frame still holds the probe's highest frequency four times over.
    const auto S =
        static_cast<std::size_t>(std::max(1.0, std::floor(rate / (4.0 * expected.highest))));
    const double step = static_cast<double>(S);
    std::vector<Complex> Y;
    for (std::size_t i = 0; i < y.size(); i += S)
        Y.push_back(y[i]);
    const double mb = std::ceil(expected.begin * rate / step);
    const double me = std::floor(expected.end * rate / step);
    std::vector<Complex> U;
    for (double m = mb; m <= me; m += 1.0)
    {
        const Complex s = expected.at(m * step / rate);
        U.push_back(real ? Complex(s.real(), 0.0) : s);
    }
    if (Y.empty() || U.empty())
        return fit;
    // r[L] = sum over m of Y[m + L] conj(U[m]) for lags of either sign; for a real output, of
    // their analytic signals (the negative frequencies of the product removed). |r| is then the
    // correlation's envelope, which peaks at the delay whatever the filters in between did to
    // the phases and amplitudes of the probe's tones.
    const std::size_t P = NextPowerOfTwo(Y.size() + U.size());
    std::vector<Complex> FY(P), FU(P);
    std::copy(Y.begin(), Y.end(), FY.begin());
    std::copy(U.begin(), U.end(), FU.begin());
    Fft(FY);
    Fft(FU);
    for (std::size_t k = 0; k < P; ++k)
    {
        FY[k] *= std::conj(FU[k]);
        if (real && k > P / 2)
            FY[k] = 0.0;
    }
    Fft(FY, true);
    double bestScore = -1.0;
    double coarse = 0.0;
    for (std::size_t k = 0; k < P; ++k)
    {
        const double L = k < P - U.size() ? static_cast<double>(k)
                                          : static_cast<double>(k) - static_cast<double>(P);
        const double delay = (k0d + L * step - mb * step) / rate;
        if (std::abs(delay) > maxLag)
            continue;
        const double score = std::abs(FY[k]);
        if (score > bestScore)
        {
            bestScore = score;
            coarse = delay;
        }
    }
    if (!(bestScore > 0.0))
        return fit;

    // Grid over three coarse steps either side, then golden sections around the grid's best.
    const auto energyAt = [&](double delay) {
        return Project(y, k0, real, rate, expected, freedom, delay, S).energy;
    };
    const double grid = 1.0 / (16.0 * expected.highest);
    const double reach = 3.0 * step / rate;
    double best = coarse;
    double bestEnergy = energyAt(coarse);
    for (double d = coarse - reach; d <= coarse + reach; d += grid)
    {
        const double e = energyAt(d);
        if (e > bestEnergy)
        {
            bestEnergy = e;
            best = d;
        }
    }
    const double golden = (std::sqrt(5.0) - 1.0) / 2.0;
    double a = best - grid;
    double b = best + grid;
    double c = b - golden * (b - a);
    double d = a + golden * (b - a);
    double ec = energyAt(c);
    double ed = energyAt(d);
    while (b - a > 1e-6 / rate)
    {
        if (ec > ed)
        {
            b = d;
            d = c;
            ed = ec;
            c = b - golden * (b - a);
            ec = energyAt(c);
        }
        else
        {
            a = c;
            c = d;
            ec = ed;
            d = a + golden * (b - a);
            ed = energyAt(d);
        }
    }
    fit.seconds = (a + b) / 2.0;
    const Projection p = Project(y, k0, real, rate, expected, freedom, fit.seconds, S);
    fit.gain = p.gain;
    fit.misfit = p.energy > 0.0 ? std::max(0.0, p.total - p.energy) / p.energy : 0.0;
    fit.found = p.energy > 0.0;
    return fit;
}

} // namespace sigquality
