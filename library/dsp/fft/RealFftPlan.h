#pragma once

#include "dsp/fft/AlignedFloats.h"
#include "dsp/fft/FftKernels.h"
#include "dsp/fft/FftPlan.h"

#include <cstdint>

namespace sigkit {

// The transform of 2N real points through the complex transform of N points (the even samples
// as real parts, the odd ones as imaginary parts), and back. Spectra are the bins 0..N, split
// into real and imaginary parts (N + 1 each); the other bins are their complex conjugates.
class RealFftPlan
{
public:
    static constexpr int32_t kMinSize = 2 * FftPlan::kMinSize;
    static constexpr int32_t kMaxSize = 2 * FftPlan::kMaxSize;

    // A size that is not a power of two within kMinSize..kMaxSize gives an empty plan.
    explicit RealFftPlan(int32_t size, const fft::FftKernels* variant = nullptr);
    RealFftPlan(const RealFftPlan&) = delete;
    RealFftPlan& operator=(const RealFftPlan&) = delete;

    int32_t Size() const { return n; }
    int32_t Bins() const { return n == 0 ? 0 : n / 2 + 1; }
    const fft::FftKernels& Variant() const { return half.Variant(); }

    // X[k] = Σ_j x[j]·e^(-2πi·jk/Size()), k = 0 .. Size()/2, unscaled; the imaginary parts of
    // bins 0 and Size()/2 are 0. The outputs must not overlap the input.
    void Forward(const float* x, float* re, float* im);
    // x[j] = Σ_k X[k]·e^(+2πi·jk/Size()) over all Size() bins (the missing ones the conjugates
    // of those given), unscaled: Inverse(Forward(x)) = Size()·x. The imaginary parts of bins 0
    // and Size()/2 are not read.
    void Inverse(const float* re, const float* im, float* x);

private:
    int32_t n = 0;
    FftPlan half;
    fft::AlignedFloats wr, wi; // e^(-2πi·k/Size()), k < Size()/2
    fft::AlignedFloats aRe, aIm, bRe, bIm;
};

} // namespace sigkit
