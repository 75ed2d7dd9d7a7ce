#pragma once

#include "dsp/fft/AlignedFloats.h"
#include "dsp/fft/FftKernels.h"

#include <cstdint>
#include <vector>

namespace sigkit {

// A complex single-precision transform of one power-of-two size: radix-4 Stockham passes (and a
// last radix-8 pass for the odd powers), natural order in and out. The twiddles are computed
// once, in double precision, and rounded to float; the scratch arrays are taken when the plan is
// made, so a transform takes no memory. One plan serves one thread at a time.
//
// Complex data are held split: an array of real parts and one of imaginary parts.
class FftPlan
{
public:
    static constexpr int32_t kMinSize = 16;
    static constexpr int32_t kMaxSize = 1 << 20;

    // A plan for `size` points run by the given variant (nullptr: the one the processor runs).
    // A size that is not a power of two within kMinSize..kMaxSize gives an empty plan: Size() 0,
    // and its transforms write nothing.
    explicit FftPlan(int32_t size, const fft::FftKernels* variant = nullptr);
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;

    int32_t Size() const { return n; }
    const fft::FftKernels& Variant() const { return *kernels; }

    // X[k] = Σ_j x[j]·e^(-2πi·jk/N), unscaled. The outputs may be the inputs themselves (in
    // place); otherwise they must not overlap them.
    void Forward(const float* inRe, const float* inIm, float* outRe, float* outIm);
    // The forward transform multiplied bin by bin by h (h[k] = hRe[k] + i·hIm[k]) in its last
    // pass: the bits of Forward followed by the variant's multiply(X, h), one pass fewer. h must
    // not overlap the outputs.
    void ForwardTimes(const float* inRe, const float* inIm, const float* hRe, const float* hIm,
                      float* outRe, float* outIm);
    // x[j] = Σ_k X[k]·e^(+2πi·jk/N), unscaled: Inverse(Forward(x)) = N·x. It is the forward
    // transform with real and imaginary parts exchanged on the way in and out.
    void Inverse(const float* inRe, const float* inIm, float* outRe, float* outIm);

private:
    void Run(const float* inRe, const float* inIm, const float* hRe, const float* hIm, float* outRe,
             float* outIm);

    int32_t n = 0;
    const fft::FftKernels* kernels;
    std::vector<fft::Radix4Pass> passes;
    bool lastRadix8 = false; // odd powers of two end with a radix-8 pass
    fft::AlignedFloats twiddles;
    fft::AlignedFloats scratchRe, scratchIm;
};

} // namespace sigkit
