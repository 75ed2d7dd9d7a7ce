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
    // Advances by 2π·f/fs (Hz, Hz), wraps at most once by ±kTwoPi, and gives the sine and cosine
    // of the new phase: the first step after a reset gives the phase 2π·f/fs. Result: 1 when
    // the phase wrapped in this step, else 0.
    int32_t Step(double fs, double f, double& sinOut, double& cosOut);
    // n steps at once: the phases one after the other exactly as Step advances them (into
    // phases[0..n-1]), then their sines and cosines, rounded to float, for the whole block. Each
    // value equals what Step gives, rounded to float.
    void Steps(double fs, double f, int32_t n, double* phases, float* sinOut, float* cosOut);
    // The phases alone.
    void Advance(double fs, double f, int32_t n, double* phases);

    double Phase() const { return phase; }
    // The phase itself, for kernels that step the oscillator as part of their work, and the
    // increment a step adds at rate fs and frequency f (as Step computes it).
    double* PhaseState() { return &phase; }
    static double Increment(double fs, double f) { return (f * kTwoPi) / fs; }

private:
    double phase = 0.0;
};

} // namespace sigkit
