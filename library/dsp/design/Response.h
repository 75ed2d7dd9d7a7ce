#pragma once

#include <cstdint>
#include <vector>

// Frequency responses of FIR taps, computed in double precision (a discrete-time Fourier
// transform at any frequency), and the figures of a low-pass measured from them. Frequencies are
// in cycles per sample: 0.5 is half the rate.
namespace sigkit::dsp {

// |Σ h[n]·e^(-j2πfn)|.
double Magnitude(const double* taps, int32_t n, double f);
double Magnitude(const float* taps, int32_t n, double f);

// The real amplitude of symmetric taps of odd length about their centre c = (n - 1)/2:
// A(f) = h[c] + 2 Σ_k h[c - k]·cos(2πfk). Its sign shows where the response turns over.
double SymmetricAmplitude(const double* taps, int32_t n, double f);

// A low-pass measured on a grid of 16 points per 1/n of frequency (denser beside the band edges),
// each local peak found on it refined to the true one. Gains are linear, relative to `gain`.
struct LowPassFigures
{
    double passMax = 0.0; // largest gain over [0, passEdge]
    double passMin = 0.0; // smallest gain over [0, passEdge]
    double stopMax = 0.0; // largest gain over [stopEdge, 0.5]

    // Peak deviation over the pass band, dB (the larger of the rise and the fall).
    double RippleDb() const;
    // How far the stop band lies below the pass band, dB.
    double AttenuationDb() const;
};
LowPassFigures MeasureLowPass(const std::vector<double>& taps, double passEdge, double stopEdge,
                              double gain = 1.0);

// The first frequency above 0 at which the gain falls `dropDb` below `gain` (searched on the same
// grid, then by bisection); 0.5 when it never does.
double EdgeFrequency(const std::vector<double>& taps, double dropDb, double gain = 1.0);

} // namespace sigkit::dsp
