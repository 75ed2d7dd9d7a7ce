#include "dsp/fft/RealFftPlan.h"

#include "dsp/fft/DoubleFft.h"

namespace sigkit {

namespace {

bool ValidSize(int32_t size)
{
    return size >= RealFftPlan::kMinSize && size <= RealFftPlan::kMaxSize &&
           (size & (size - 1)) == 0;
}

} // namespace

RealFftPlan::RealFftPlan(int32_t size, const fft::FftKernels* variant)
    : half(ValidSize(size) ? size / 2 : 0, variant)
{
    if (!ValidSize(size))
        return;
    n = size;
    const auto halfSize = static_cast<std::size_t>(n / 2);
    wr = fft::AlignedFloats(halfSize);
    wi = fft::AlignedFloats(halfSize);
    for (std::size_t k = 0; k < halfSize; ++k)
    {
        double c = 0.0;
        double s = 0.0;
        fft::UnitRoot(static_cast<int64_t>(k), n, c, s);
        wr[k] = static_cast<float>(c);
        wi[k] = static_cast<float>(-s);
    }
    aRe = fft::AlignedFloats(halfSize);
    aIm = fft::AlignedFloats(halfSize);
    bRe = fft::AlignedFloats(halfSize);
    bIm = fft::AlignedFloats(halfSize);
}

void RealFftPlan::Forward(const float* x, float* re, float* im)
{
    if (n == 0)
        return;
    const fft::FftKernels& kernels = half.Variant();
    kernels.deinterleave(x, n / 2, aRe.data(), aIm.data());
    half.Forward(aRe.data(), aIm.data(), bRe.data(), bIm.data());
    kernels.realForward(bRe.data(), bIm.data(), wr.data(), wi.data(), n / 2, re, im);
}

void RealFftPlan::Inverse(const float* re, const float* im, float* x)
{
    if (n == 0)
        return;
    const fft::FftKernels& kernels = half.Variant();
    kernels.realInverse(re, im, wr.data(), wi.data(), n / 2, aRe.data(), aIm.data());
    half.Inverse(aRe.data(), aIm.data(), bRe.data(), bIm.data());
    kernels.interleave(bRe.data(), bIm.data(), n / 2, x);
}

} // namespace sigkit
