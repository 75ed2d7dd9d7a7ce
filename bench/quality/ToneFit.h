#pragma once

// Weighted least-squares fits of tones of known frequency, the base of every measurement.
//
// A span of output samples y[n], standing for times (first + n) / rate, is fitted with
//     y[n] ~ dc + sum over i of c_i e^(j 2 pi f_i (first + n) / rate)
// by minimising sum over n of |w[n] (y[n] - model[n])|^2, where w is a Kaiser window. The
// normal equations are formed and solved in double precision. A real span fits every tone as a
// cosine: both e^(+j 2 pi f t) and e^(-j 2 pi f t), whose coefficients then come out conjugate;
// the tone's amplitude A and phase phi of A cos(2 pi f t + phi) are |2 c| and arg(c).
//
// Fitting all known tones together takes each one out exactly, whatever the window's leakage,
// and the window keeps what is left (transients at the edges, tones not in the model) from
// leaking into the fitted amplitudes.
#include "Signal.h"

#include <cstddef>
#include <vector>

namespace sigquality {

// Kaiser window of n points, shape beta (the modified Bessel function I0 by its series).
std::vector<double> KaiserWindow(std::size_t n, double beta);

// beta 24: side lobes 188 dB down, main lobe 7.7 bins either side of a tone; a residual's
// spectrum under it shows spurs down to the rounding of float samples.
inline constexpr double kSpanBeta = 24.0;

// Half the width of the window's main lobe, in bins of the span (1 / span length).
double MainLobeBins(double beta);

// One stretch of one channel of a signal under analysis.
struct Span
{
    std::vector<Complex> y;
    bool real = true;
    double rate = 0.0;  // Hz
    double first = 0.0; // frame index of y[0] in the whole signal
    double beta = kSpanBeta;
    std::vector<double> window; // w[n], peak 1

    std::size_t Size() const { return y.size(); }
    // Frequency resolution of the span: rate / length, Hz.
    double BinHz() const { return rate / static_cast<double>(y.size()); }
};

// Frames [first, first + count) of channel `channel` (the I/Q pair of a complex signal).
Span MakeSpan(const Signal& s, std::size_t first, std::size_t count, int channel = 0,
              double beta = kSpanBeta);

struct ToneFitResult
{
    std::vector<double> freqs;      // Hz, as asked
    std::vector<Complex> amplitude; // a real span: A e^(j phi); a complex span: c
    Complex dc{};
    std::vector<Complex> residual; // y minus the whole model
    bool solved = false;           // false when the equations were singular
};

// Fits the tones at `freqs` (Hz; signed for a complex span, positive for a real one) and, with
// `withDc`, a constant.
ToneFitResult FitTones(const Span& span, const std::vector<double>& freqs, bool withDc);

// The model of tone i alone, sample by sample over the span.
std::vector<Complex> ToneModel(const Span& span, const ToneFitResult& fit, std::size_t i);

// sum of (w[n] |x[n]|)^2 / sum of w[n]^2: the windowed mean power of x over the span.
double WindowedPower(const Span& span, const std::vector<Complex>& x);

// e^(j 2 pi f t) for time t = index / rate, the angle reduced to whole turns first so that it
// stays exact to the last bits for long signals.
Complex Phasor(double f, double index, double rate);

} // namespace sigquality
