#include "stages/filters/PhaseOscillator.h"

#include "stages/kernels/Kernels.h"

#include <cmath>

namespace sigkit {

int32_t PhaseOscillator::Step(double fs, double f, double& sinOut, double& cosOut)
{
    phase = (f * kTwoPi) / fs + phase;
    int32_t wrapped = 0;
    if (phase >= kTwoPi)
    {
        phase = phase - kTwoPi;
        wrapped = 1;
    }
    else if (phase <= -kTwoPi)
    {
        phase = phase + kTwoPi;
        wrapped = 1;
    }
    sinOut = std::sin(phase);
    cosOut = std::cos(phase);
    return wrapped;
}

void PhaseOscillator::Advance(double fs, double f, int32_t n, double* phases)
{
    // The increment is the one Step computes every time, taken once.
    const double increment = (f * kTwoPi) / fs;
    double p = phase;
    for (int32_t i = 0; i < n; ++i)
    {
        p = increment + p;
        if (p >= kTwoPi)
            p = p - kTwoPi;
        else if (p <= -kTwoPi)
            p = p + kTwoPi;
        phases[i] = p;
    }
    phase = p;
}

void PhaseOscillator::Steps(double fs, double f, int32_t n, double* phases, float* sinOut,
                            float* cosOut)
{
    Advance(fs, f, n, phases);
    kernels::Active().sinCos(phases, n, sinOut, cosOut);
}

} // namespace sigkit
