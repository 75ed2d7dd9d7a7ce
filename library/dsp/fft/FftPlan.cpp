#include "dsp/fft/FftPlan.h"

#include "dsp/fft/DoubleFft.h"

#include <cstring>

namespace sigkit {

namespace {

bool ValidSize(int32_t size)
{
    return size >= FftPlan::kMinSize && size <= FftPlan::kMaxSize && (size & (size - 1)) == 0;
}

// Whether the pass of this stride is a radix-4 one: sub-transforms of 4 or more points, except
// the last 8 of the odd powers, which take one radix-8 pass.
bool Radix4(int32_t size, int32_t stride)
{
    const int32_t span = size / stride;
    return span >= 4 && span != 8;
}

// w^(k·p), w = e^(-2πi/span), rounded from double precision.
void Twiddle(int64_t kp, int64_t span, float& re, float& im)
{
    double c = 0.0;
    double s = 0.0;
    fft::UnitRoot(kp, span, c, s);
    re = static_cast<float>(c);
    im = static_cast<float>(-s);
}

} // namespace

FftPlan::FftPlan(int32_t size, const fft::FftKernels* variant)
    : kernels(variant != nullptr ? variant : &fft::Active())
{
    if (!ValidSize(size))
        return;
    n = size;
    const int32_t quarter = n / 4;

    // Pass t has stride 4^t and sub-transforms of n / 4^t points; the twiddled ones first take
    // 6 floats per group, and those of strides 4 .. kSpreadStrides - 1 6 per element as well.
    std::size_t floats = 0;
    int32_t stride = 1;
    for (; Radix4(n, stride); stride *= 4)
    {
        const int32_t groups = n / (4 * stride);
        if (groups > 1)
            floats += 6 * static_cast<std::size_t>(groups);
        if (groups > 1 && stride > 1 && stride < fft::kSpreadStrides)
            floats += 6 * static_cast<std::size_t>(quarter);
    }
    lastRadix8 = stride < n;
    twiddles = fft::AlignedFloats(floats);
    scratchRe = fft::AlignedFloats(static_cast<std::size_t>(n));
    scratchIm = fft::AlignedFloats(static_cast<std::size_t>(n));

    float* next = twiddles.data();
    for (stride = 1; Radix4(n, stride); stride *= 4)
    {
        const int32_t span = n / stride;
        const int32_t groups = span / 4;
        fft::Radix4Pass pass{stride, groups, nullptr, nullptr};
        if (groups > 1)
        {
            float* w = next;
            next += 6 * static_cast<std::size_t>(groups);
            for (int32_t k = 1; k <= 3; ++k)
                for (int32_t p = 0; p < groups; ++p)
                    Twiddle(static_cast<int64_t>(k) * p, span, w[(2 * k - 2) * groups + p],
                            w[(2 * k - 1) * groups + p]);
            pass.twiddles = w;
            if (stride == 1)
                pass.spread = w; // element e is group e
            else if (stride < fft::kSpreadStrides)
            {
                float* spread = next;
                next += 6 * static_cast<std::size_t>(quarter);
                for (int32_t j = 0; j < 6; ++j)
                    for (int32_t e = 0; e < quarter; ++e)
                        spread[j * quarter + e] = w[j * groups + e / stride];
                pass.spread = spread;
            }
        }
        passes.push_back(pass);
    }
}

void FftPlan::Forward(const float* inRe, const float* inIm, float* outRe, float* outIm)
{
    Run(inRe, inIm, nullptr, nullptr, outRe, outIm);
}

void FftPlan::ForwardTimes(const float* inRe, const float* inIm, const float* hRe, const float* hIm,
                           float* outRe, float* outIm)
{
    if (hRe == nullptr || hIm == nullptr)
        return;
    Run(inRe, inIm, hRe, hIm, outRe, outIm);
}

void FftPlan::Run(const float* inRe, const float* inIm, const float* hRe, const float* hIm,
                  float* outRe, float* outIm)
{
    if (n == 0)
        return;
    const int32_t count = static_cast<int32_t>(passes.size()) + (lastRadix8 ? 1 : 0);
    // The passes go back and forth between the output and the scratch arrays, the last one into
    // the output; in place, the first must not write over its own input, and then the last
    // lands in the scratch arrays and is copied.
    const bool inPlace = outRe == inRe || outIm == inIm || outRe == inIm || outIm == inRe;
    bool toOutput = (count - 1) % 2 == 0 && !inPlace;
    const float* xr = inRe;
    const float* xi = inIm;
    for (int32_t t = 0; t < count; ++t)
    {
        float* yr = toOutput ? outRe : scratchRe.data();
        float* yi = toOutput ? outIm : scratchIm.data();
        // The products with h go with the last pass.
        const float* hr = t == count - 1 ? hRe : nullptr;
        const float* hi = t == count - 1 ? hIm : nullptr;
        if (t < static_cast<int32_t>(passes.size()))
            kernels->radix4(passes[t], n, xr, xi, hr, hi, yr, yi);
        else
            kernels->radix8(n, xr, xi, hr, hi, yr, yi);
        xr = yr;
        xi = yi;
        toOutput = !toOutput;
    }
    if (xr != outRe)
    {
        std::memcpy(outRe, xr, static_cast<std::size_t>(n) * sizeof(float));
        std::memcpy(outIm, xi, static_cast<std::size_t>(n) * sizeof(float));
    }
}

void FftPlan::Inverse(const float* inRe, const float* inIm, float* outRe, float* outIm)
{
    Forward(inIm, inRe, outIm, outRe);
}

} // namespace sigkit
