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

    double Phase() const { return phase; }

private:
    double phase = 0.0;
};

} // namespace sigkit
