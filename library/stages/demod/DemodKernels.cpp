#include "stages/demod/DemodKernels.h"

#include "stages/demod/AmPieces.h"
#include "stages/demod/DemodVariants.h"

#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Calibration.h"

#include <cmath>
#include <vector>

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

namespace {

// The faster form of each formula where the processor runs both AVX-512 and AVX2 (see
// kernels::Automatic), measured on a part of samples.
DemodKernels MeritForms(const DemodKernels& narrow, const DemodKernels& wide)
{
    constexpr int32_t n = kPart;
    std::vector<float> I(n), Q(n), y(n);
    std::vector<double> phases(n);
    for (int32_t i = 0; i < n; ++i)
    {
        I[i] = std::cos(0.05 * i) * 0.5f;
        Q[i] = std::sin(0.05 * i) * 0.5f;
    }
    DemodKernels merit = wide;
    merit.name = "merit";
    const auto am = [&](const DemodKernels& forms) {
        double phase = 0.0;
        float mean = 0.0f;
        forms.amDemodulate(I.data(), Q.data(), n, &phase, 0.5235987755982988, 6.2831854820251465,
                           1.0f, &mean, phases.data(), y.data());
    };
    if (kernels::NarrowIsFaster([&] { am(narrow); }, [&] { am(wide); }))
        merit.amDemodulate = narrow.amDemodulate;
    const auto fm = [&](const DemodKernels& forms) {
        float prev[2] = {1.0f, 0.0f};
        forms.fmDiscriminate(I.data(), Q.data(), n, 1.0f, prev, y.data());
    };
    if (kernels::NarrowIsFaster([&] { fm(narrow); }, [&] { fm(wide); }))
        merit.fmDiscriminate = narrow.fmDiscriminate;
    return merit;
}

const DemodKernels& Choose()
{
    if (kernels::Forced() != nullptr)
        return *DemodKernelsFor(kernels::Forced()->isa);
    const DemodKernels* narrow = DemodKernelsFor(Isa::Avx2);
    const DemodKernels* wide = DemodKernelsFor(Isa::Avx512);
    if (narrow != nullptr && wide != nullptr)
    {
        static const DemodKernels merit = MeritForms(*narrow, *wide);
        if (merit.amDemodulate == wide->amDemodulate &&
            merit.fmDiscriminate == wide->fmDiscriminate)
            return *wide;
        return merit;
    }
    return *DemodKernelsFor(kernels::Automatic().isa);
}

} // namespace

const DemodKernels& ActiveDemod()
{
    static const DemodKernels& chosen = Choose();
    return chosen;
}

} // namespace sigkit::demod
