#pragma once

#include <cstdint>

namespace sigkit {

// The single-precision 2π, widened: the increment and both wrap limits use it, so a quarter-rate
// oscillator steps through exact quarter turns and wraps exactly to 0.
inline constexpr double kTwoPi = 6.2831854820251465;

// A running phase (radians, double precision) with its sine and cosine.
class PhaseOscillator
{
public:
    void Reset() { phase = 0.0; }
    // n steps: each advances the phase by Increment(fs, f) (Hz, Hz) and wraps it at most once by
    // ±kTwoPi, so the first step after a reset gives the phase 2π·f/fs. The phases go to
    // phases[0..n-1], their sines and cosines (the standard library's, rounded to float) to
    // sinOut and cosOut.
    void Steps(double fs, double f, int32_t n, double* phases, float* sinOut, float* cosOut);

    double Phase() const { return phase; }
    // The phase itself, for kernels that step the oscillator as part of their work, and the
    // increment a step adds at rate fs and frequency f.
    double* PhaseState() { return &phase; }
    static double Increment(double fs, double f) { return (f * kTwoPi) / fs; }

private:
    double phase = 0.0;
};

} // namespace sigkit
