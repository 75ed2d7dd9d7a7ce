#pragma once

#include <cstdint>
#include <vector>

// Low-pass filters designed from what they must do: the pass-band edge, the stop-band edge and
// the stop-band attenuation go in, symmetric taps of odd length come out, as short as the method
// allows. Everything is computed in double precision; callers round the taps to float once.
// Frequencies are in cycles per sample of the rate the filter runs at: 0.5 is half that rate.
// Taps have a pass-band gain of 1 unless said otherwise.
namespace sigkit::dsp {

struct LowPassRequest
{
    double passEdge = 0.0;    // the pass band is [0, passEdge]
    double stopEdge = 0.0;    // the stop band is [stopEdge, 0.5]
    double attenuation = 0.0; // dB: the stop band's largest gain lies at least this far down
    double passRipple = 0.0;  // dB: the pass band's largest deviation from 1; 0: no more than
                              // the stop band's gain (as a window design gives)
};

enum class DesignStatus : int32_t
{
    Ok = 0,
    BadEdges,       // not 0 < passEdge < stopEdge <= 0.5 (half-band: passEdge < 0.25), or NaN
    BadAttenuation, // outside [kMinAttenuation, kMaxAttenuation], or NaN
    BadRipple,      // negative, NaN, or 3 dB or more
    BadPhases,      // a prototype for fewer than 1 or more than kMaxPrototypePhases branches
    TooLong,        // would need more than kMaxDesignTaps
    NoConvergence,  // the equiripple exchange failed and no window design could replace it
};
const char* DesignStatusText(DesignStatus status);

inline constexpr double kMinAttenuation = 20.0;
inline constexpr double kMaxAttenuation = 200.0;
inline constexpr int32_t kMaxDesignTaps = 1 << 21;
inline constexpr int32_t kMaxPrototypePhases = 1 << 16;

// The request's own validity (edges, attenuation, ripple).
DesignStatus CheckRequest(const LowPassRequest& request);

// Kaiser window shape β for a stop band `attenuation` dB down, and the odd number of taps the
// window design needs for a transition of `transition` (cycles per sample) at that attenuation
// (Kaiser's estimates: β = 0.1102·(A - 8.7) above 50 dB; N = (A - 7.95) / (14.36·Δf) + 1).
double KaiserBeta(double attenuation);
int64_t KaiserLength(double attenuation, double transition);

// Kaiser window design: the ideal low-pass cut at the middle of the transition, windowed. Its
// pass-band ripple equals its stop-band gain, so a ripple finer than that raises the attenuation
// the window is designed for. Up to 8191 taps the result is measured (Response.h) and lengthened
// until it meets the request; longer ones are designed 3 dB beyond it instead.
DesignStatus DesignKaiser(const LowPassRequest& request, std::vector<double>& taps);

// Herrmann, Rabiner and Chan's estimate of the odd length an equiripple design of the request needs
// (0 for a request CheckRequest refuses).
int64_t EquirippleLength(const LowPassRequest& request);

// Equiripple design (Remez exchange) weighted by the ratio of the allowed pass-band ripple to the
// allowed stop-band gain: the shortest odd length whose peak error meets the request, found from
// the Herrmann estimate by bisection (each design starting from the extremal frequencies of the one
// before), then measured and lengthened if the measurement disagrees. Up to 8191 taps; beyond,
// or when the exchange fails, the Kaiser design is returned instead (the result says Ok either
// way: the taps meet the request). `equiripple`, when not null, says which one it was.
DesignStatus DesignEquiripple(const LowPassRequest& request, std::vector<double>& taps,
                              bool* equiripple = nullptr);

// Half-band low-pass for decimation or interpolation by 2: symmetric about a quarter of the rate,
// the pass band [0, passEdge], the stop band [0.5 - passEdge, 0.5], ripple and stop-band gain
// alike. Length 4m - 1; the centre tap is exactly 0.5 and every other tap at an even distance from
// it is exactly 0. Designed equiripple as a one-band filter of length 2m in twice the frequency
// (h[2i] = g[i]/2), the shortest m that meets the attenuation; Kaiser (cut-off 0.25) when the
// exchange fails.
DesignStatus DesignHalfBand(double passEdge, double attenuation, std::vector<double>& taps);

// A prototype for a polyphase bank of `phases` branches, each running at the rate the request's
// frequencies refer to: taps at `phases` times that rate, with a pass-band gain of `phases` (each
// branch passes 1). Designed in two steps so that a bank of thousands of taps keeps the
// equiripple design's length per branch: an equiripple filter (measured) at an intermediate rate
// of at least 3·stopEdge (cycles per branch sample), then interpolated to the full rate by a
// Kaiser low-pass whose transition runs from stopEdge to that rate minus stopEdge, designed 13 dB
// beyond the request's attenuation from the length estimate (not measured: it can be tens of
// thousands of taps long). The length is odd, so the centre is a whole number of taps.
DesignStatus DesignPrototype(const LowPassRequest& request, int32_t phases,
                             std::vector<double>& taps);

} // namespace sigkit::dsp
