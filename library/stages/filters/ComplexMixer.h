#pragma once

#include <cstdint>

namespace sigkit {

// Multiplies I + jQ by the conjugate phasor c - js (c = cos φ, s = sin φ from the oscillator),
// in single precision: a component at +f moves to 0 Hz; a negative f moves the spectrum up.
class ComplexMixer
{
public:
    // Result: always 0.
    static int32_t Mix(float I, float Q, float c, float s, float& outI, float& outQ)
    {
        outI = c * I + Q * s;
        outQ = Q * c - I * s;
        return 0;
    }
};

} // namespace sigkit
