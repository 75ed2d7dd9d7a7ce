#include "stages/filters/PhaseOscillator.h"

#include "stages/kernels/Kernels.h"
#include "stages/kernels/SinCosCheck.h"

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
    phase = kernels::AdvancePhases(phase, Increment(fs, f), kTwoPi, n, phases);
}

void PhaseOscillator::Steps(double fs, double f, int32_t n, double* phases, float* sinOut,
                            float* cosOut)
{
    // The increment is the one Step computes every time, taken once.
    kernels::Active().oscillate(&phase, Increment(fs, f), kTwoPi, n, phases, sinOut, cosOut);
}

} // namespace sigkit
