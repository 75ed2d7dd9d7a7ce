#include "stages/filters/PhaseOscillator.h"

#include "stages/kernels/Kernels.h"

namespace sigkit {

void PhaseOscillator::Steps(double fs, double f, int32_t n, double* phases, float* sinOut,
                            float* cosOut)
{
    kernels::Active().oscillate(&phase, Increment(fs, f), kTwoPi, n, phases, sinOut, cosOut);
}

} // namespace sigkit
