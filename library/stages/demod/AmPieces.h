#pragma once

#include "stages/demod/AmEnvelope.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <cmath>
#include <cstdint>

namespace sigkit::demod {

// AM from the kernels' oscillator and mixer, a piece at a time: the magnitudes, then the chain
// of the running mean. Compiled into each form that uses it, with that form's instruction set.
static inline int32_t AmInPieces(const kernels::KernelTable& table, const float* I, const float* Q,
                                 int32_t n, double* phase, double increment, double wrap,
                                 float kamp, float* mean, double* phases, float* y)
{
    constexpr int32_t kPiece = kPart / 8; // the piece's five arrays stay in the first-level cache
    alignas(32) float s[kPiece];
    alignas(32) float c[kPiece];
    alignas(32) float mI[kPiece];
    alignas(32) float mQ[kPiece];
    alignas(32) float m[kPiece];
    int32_t fromLibrary = 0;
    for (int32_t at = 0; at < n; at += kPiece)
    {
        const int32_t count = n - at < kPiece ? n - at : kPiece;
        fromLibrary += table.oscillate(phase, increment, wrap, count, phases + at, s, c);
        table.mix(I + at, Q + at, s, c, count, mI, mQ);
        for (int32_t i = 0; i < count; ++i)
            m[i] = std::sqrt(mI[i] * mI[i] + mQ[i] * mQ[i]);
        AmEnvelope(m, count, static_cast<double>(kamp), *mean, y + at);
    }
    return fromLibrary;
}

} // namespace sigkit::demod
