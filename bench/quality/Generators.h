#pragma once

// Generated radio recordings (complex baseband, I/Q) for the receiver rows: stations of FM, AM
// and single-sideband emission modulated by a plan's audio, and white noise. Amplitudes are
// peak values of the complex signal; frequencies are relative to the recording's centre.
#include "Signal.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace sigquality {

using Audio = std::function<double(double)>;          // real audio at time t (s)
using AnalyticAudio = std::function<Complex(double)>; // analytic audio at time t (s)

// amplitude e^(j (2 pi carrier t + 2 pi deviation * integral of audio from 0 to t)): the
// integral by Simpson's rule over two panels per frame, in double precision.
void AddFm(std::vector<Complex>& x, double rate, double carrier, double amplitude, double deviation,
           const Audio& audio);

// amplitude (1 + depth audio(t)) e^(j 2 pi carrier t).
void AddAm(std::vector<Complex>& x, double rate, double carrier, double amplitude, double depth,
           const Audio& audio);

// amplitude a(t) e^(j 2 pi carrier t): with the analytic audio a(t) the upper sideband, with its
// conjugate the lower one. Tones of a complex plan land at carrier + their signed frequency.
void AddSideband(std::vector<Complex>& x, double rate, double carrier, double amplitude,
                 const AnalyticAudio& a);

// Complex white Gaussian noise of the given mean power (|n|^2), the same for a given seed.
void AddNoise(std::vector<Complex>& x, double power, std::uint64_t seed);

// Mean power of a carrier of peak amplitude A is A^2; the noise power that gives `cnrDb` of
// carrier to noise in `band` Hz of a recording at `rate`.
double NoisePowerFor(double carrierAmplitude, double cnrDb, double band, double rate);

// Every sample rounded to the nearest step of a 16-bit integer sample (1 / 32768), clipped to
// [-1, 32767 / 32768]: what writing and reading a 16-bit file does, without dither.
Signal Quantize16(Signal s);

} // namespace sigquality
