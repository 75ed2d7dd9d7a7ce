#pragma once

#include "dsp/fft/AlignedFloats.h"

#include <cstdint>

namespace sigkit {

// The 4-term Blackman-Harris window of a spectrum frame (periodic form, N points): sidelobes
// 92 dB down, so that a strong station's skirts do not cover weak neighbours; its main lobe is 8
// bins wide. Computed in double precision and rounded to float once.
struct SpectrumWindow
{
    explicit SpectrumWindow(int32_t size);

    fft::AlignedFloats w;
    double sum = 0.0; // Σ w: the gain of a tone at a bin's centre
    double sumSquares = 0.0;
    double enbwBins = 0.0; // equivalent noise bandwidth in bins: N·Σw² / (Σw)²
};

} // namespace sigkit
