#pragma once

// The figures of the quality table, each computed from fitted tones (ToneFit.h) in double
// precision:
// - a tone's level: its fitted amplitude (gain: output amplitude over input amplitude);
// - THD+N: the fundamental and a constant fitted and taken out, the power of what is left in a
//   band over the fundamental's power; THD: the harmonics fitted with the fundamental, their
//   power over the fundamental's; SINAD: everything in the band over what is left;
// - the worst spur: the largest component of the residual's windowed spectrum in a band, away
//   from the fitted tones (aliases and images of a rate change, a neighbour's leak);
// - the delay: the time offset at which the expected signal, scaled, best fits the output (least
//   squares over a probe of known shape, searched by cross-correlation, then refined).
// Tones are fitted at the frequencies they must have: an output whose tone is off frequency (a
// rate or a carrier not kept exactly) shows it as residual, not as a clean tone elsewhere.
#include "Signal.h"
#include "ToneFit.h"

#include <functional>
#include <vector>

namespace sigquality {

// Power ratio in dB; a ratio of 0 gives -400.
double Db(double powerRatio);
// Amplitude ratio in dB.
double AmplitudeDb(double amplitudeRatio);

// Windowed power of x in the band lo <= |f| <= hi (Hz) over the span: x through the span's window,
// zero-padded, transformed, and the bins in the band summed (Parseval). A band from 0 to the
// span's Nyquist frequency or more gives the whole windowed power.
double BandPower(const Span& span, const std::vector<Complex>& x, double lo, double hi);

struct Distortion
{
    double amplitude = 0.0; // the fundamental's peak amplitude
    double thdN = 0.0;      // power ratio, residual in the band over the fundamental
    double thd = 0.0;       // power ratio, harmonics 2 .. over the fundamental
    double sinad = 0.0;     // power ratio, fundamental and residual over residual, in the band
};

// Distortion of a tone at f0 (Hz) over the band [lo, hi] (Hz). Harmonics up to `harmonics` times
// f0 that lie below hi and below the span's Nyquist frequency count towards THD.
Distortion MeasureDistortion(const Span& span, double f0, double lo, double hi, int harmonics = 9);

struct Spur
{
    double freq = 0.0;      // Hz, signed in a complex span
    double amplitude = 0.0; // peak amplitude of the component
};

// The strongest component left after fitting `freqs` and a constant: the residual's spectrum
// under the span's window, zero-padded four times, searched over lo <= |f| <= hi, except within
// 1.5 main lobes of a fitted frequency or of 0 Hz.
Spur WorstSpur(const Span& span, const std::vector<double>& freqs, double lo, double hi);

// One tone of an expected signal: coefficient e^(j 2 pi freq t).
struct ExpectedTone
{
    double freq = 0.0; // Hz
    Complex coefficient{};
};

// What a probe should look like at the output: its analytic form s(t) (a real output is the
// real part), zero outside [begin, end].
struct Expected
{
    std::function<Complex(double)> at; // t in seconds of the input's time
    double begin = 0.0;                // s
    double end = 0.0;                  // s
    double highest = 0.0;              // Hz, the largest |frequency| in it
    // When s(t) is envelope(t) times a sum of tones, both given here: the fit then turns each
    // tone's phasor from frame to frame instead of evaluating `at` at every frame.
    std::vector<ExpectedTone> tones;
    std::function<double(double)> envelope;
};

// How the output may be scaled against the expected signal: a real factor (a sign included), or
// a complex one (any phase: for an output whose carrier phase is its own).
enum class GainFreedom
{
    Real,
    Complex,
};

struct DelayFit
{
    bool found = false;
    double seconds = 0.0; // output time minus the time the expected signal says, s
    Complex gain{};       // the fitted scale
    double misfit = 0.0;  // power ratio: residual over fitted model
};

// Fits y(t) = gain s(t - delay) for |delay| <= maxLag over the output's channel `channel`. Method:
// the cross-correlation of output and expected signal (both taken every S-th frame, S as large as
// the probe's highest frequency allows) gives the delay to a frame; the least-squares misfit with
// the best gain for each delay is then searched on a grid of 1/16 of the highest frequency's
// period and refined by golden sections to 1e-6 frame.
DelayFit FitDelay(const Signal& out, const Expected& expected, double maxLag, GainFreedom freedom,
                  int channel = 0);

} // namespace sigquality
