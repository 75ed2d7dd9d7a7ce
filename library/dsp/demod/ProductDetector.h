#pragma once

#include "stages/kernels/Kernels.h"

#include <cstdint>
#include <vector>

namespace sigkit::dsp {

// Single-sideband and CW detection: the channel's complex samples are turned by
// e^(j2π·offset·n/rate), the exact oscillator's phasor (n counted from the last reset, so that
// sample 0 is turned by 0), and the real part is the audio: audio[n] = I·cos θ - Q·sin θ. A tone
// at f Hz in the channel comes out at f + offset Hz with its phase. The channel's magnitude |x|
// comes out too, as the level of an automatic gain control.
class ProductDetector
{
public:
    // `block`: the most samples per call the scratch is made for (longer calls are cut).
    ProductDetector(double offset, double rate, int32_t block);
    void Reset();
    // n samples in (I, Q); audio and level out (n each).
    void Process(const float* I, const float* Q, int32_t n, float* audio, float* level);
    // The oscillator's vector kernels (every variant gives the same bits).
    void UseKernels(const kernels::KernelTable& kernels) { table = &kernels; }

private:
    double increment = 0.0; // radians per sample, of the conjugate phasor the mix kernel applies
    double phase = 0.0;
    int32_t block = 0;
    std::vector<double> phases;
    std::vector<float> sines, cosines, spare;
    const kernels::KernelTable* table = nullptr;
};

} // namespace sigkit::dsp
