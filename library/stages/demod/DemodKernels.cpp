#include "stages/demod/DemodKernels.h"

#include "stages/demod/AmPieces.h"
#include "stages/demod/DemodVariants.h"

#include <cmath>

namespace sigkit::demod {

namespace {

using kernels::Isa;
using kernels::KernelTable;

int32_t AmScalar(const float* I, const float* Q, int32_t n, double* phase, double increment,
                 double wrap, float kamp, float* mean, double* phases, float* y)
{
    return AmInPieces(*kernels::TableFor(Isa::Scalar), I, Q, n, phase, increment, wrap, kamp, mean,
                      phases, y);
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
    DemodKernels scalar{Isa::Scalar, "scalar", AmScalar, FmDiscriminate};
#if defined(__x86_64__) || defined(__i386__)
    DemodKernels avx2{Isa::Avx2, "avx2", AmDemodulateAvx2, FmDiscriminateAvx2};
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
