#include "stages/demod/DemodKernels.h"

#include "stages/demod/AmEnvelope.h"
#include "stages/demod/DemodVariants.h"

#include <cmath>

namespace sigkit::demod {

namespace {

using kernels::Isa;
using kernels::KernelTable;

// AM from the kernels' oscillator and mixer, a piece at a time: the magnitudes, then the chain
// of the running mean.
int32_t AmInPieces(const KernelTable& table, const float* I, const float* Q, int32_t n,
                   double* phase, double increment, double wrap, float kamp, float* mean,
                   double* phases, float* y)
{
    constexpr int32_t kPiece = 256;
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

template <Isa kIsa>
int32_t AmWithKernels(const float* I, const float* Q, int32_t n, double* phase, double increment,
                      double wrap, float kamp, float* mean, double* phases, float* y)
{
    return AmInPieces(*kernels::TableFor(kIsa), I, Q, n, phase, increment, wrap, kamp, mean, phases,
                      y);
}

void FmDiscriminate(const float* I, const float* Q, int32_t n, float kamp, float* prev, float* y)
{
    float prevI = prev[0];
    float prevQ = prev[1];
    for (int32_t i = 0; i < n; ++i)
    {
        float m = std::sqrt(I[i] * I[i] + Q[i] * Q[i]);
        if (m == 0.0f)
            m = 1.0f;
        const float u = I[i] / m;
        const float v = Q[i] / m;
        y[i] = (prevQ * u - prevI * v) * kamp;
        prevI = u;
        prevQ = v;
    }
    prev[0] = prevI;
    prev[1] = prevQ;
}

struct Forms
{
    DemodKernels scalar{Isa::Scalar, "scalar", AmWithKernels<Isa::Scalar>, FmDiscriminate};
#if defined(__x86_64__) || defined(__i386__)
    DemodKernels avx2{Isa::Avx2, "avx2", AmWithKernels<Isa::Avx2>, FmDiscriminateAvx2};
    DemodKernels avx512{Isa::Avx512, "avx512", AmDemodulateAvx512, FmDiscriminateAvx512};
#endif
};

const Forms& AllForms()
{
    static const Forms forms;
    return forms;
}

} // namespace

const DemodKernels* DemodKernelsFor(Isa isa)
{
    // A form is offered where the kernel table of its instruction set is.
    if (kernels::TableFor(isa) == nullptr)
        return nullptr;
    const Forms& forms = AllForms();
    switch (isa)
    {
    case Isa::Scalar:
        return &forms.scalar;
#if defined(__x86_64__) || defined(__i386__)
    case Isa::Avx2:
        return &forms.avx2;
    case Isa::Avx512:
        return &forms.avx512;
#endif
    default:
        return nullptr;
    }
}

const DemodKernels& ActiveDemod()
{
    static const DemodKernels& chosen = *DemodKernelsFor(kernels::Active().isa);
    return chosen;
}

} // namespace sigkit::demod
