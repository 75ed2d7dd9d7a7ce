#include "stages/filters/PhaseOscillator.h"

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

} // namespace sigkit
