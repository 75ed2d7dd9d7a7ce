#include "dsp/fft/AlignedFloats.h"
#include "dsp/fft/FftPlan.h"
#include "dsp/fft/FftVariants.h"
#include "stages/kernels/Calibration.h"

namespace sigkit::fft {

namespace {

struct Tables
{
    FftKernels scalar = ScalarFftKernels();
#if defined(__x86_64__) || defined(__i386__)
    FftKernels avx2{};
    FftKernels avx512{};
    bool hasAvx2 = false;
    bool hasAvx512 = false;

    Tables()
    {
        // The kernel tables know what the processor runs; the FFT tables are built only where
        // they exist (by code compiled for their instruction sets).
        hasAvx2 = kernels::TableFor(kernels::Isa::Avx2) != nullptr;
        hasAvx512 = kernels::TableFor(kernels::Isa::Avx512) != nullptr;
        if (hasAvx2)
            avx2 = Avx2FftKernels();
        if (hasAvx512)
            avx512 = Avx512FftKernels();
    }
#endif
};

const Tables& AllTables()
{
    static const Tables tables;
    return tables;
}

// The faster variant where both AVX-512 and AVX2 run (see kernels::Automatic): transforms of a
// size the fast filters use, with the product between them.
const FftKernels& Choose()
{
    const Tables& tables = AllTables();
#if defined(__x86_64__) || defined(__i386__)
    if (tables.hasAvx512 && tables.hasAvx2)
    {
        constexpr int32_t kSize = 1024;
        AlignedFloats re(kSize), im(kSize), hRe(kSize), hIm(kSize), outRe(kSize), outIm(kSize);
        for (int32_t k = 0; k < kSize; ++k)
        {
            re[k] = static_cast<float>(k % 7) - 3.0f;
            im[k] = static_cast<float>(k % 5) - 2.0f;
            hRe[k] = 1.0f / static_cast<float>(k + 1);
            hIm[k] = -hRe[k];
        }
        FftPlan narrow(kSize, &tables.avx2);
        FftPlan wide(kSize, &tables.avx512);
        const auto run = [&](FftPlan& plan) {
            for (int repeat = 0; repeat < 4; ++repeat)
            {
                plan.ForwardTimes(re.data(), im.data(), hRe.data(), hIm.data(), outRe.data(),
                                  outIm.data());
                plan.Inverse(outRe.data(), outIm.data(), outRe.data(), outIm.data());
            }
        };
        return kernels::NarrowIsFaster([&] { run(narrow); }, [&] { run(wide); }) ? tables.avx2
                                                                                 : tables.avx512;
    }
#endif
    const FftKernels* table = fft::TableFor(kernels::Automatic().isa);
    return table != nullptr ? *table : tables.scalar;
}

} // namespace

const FftKernels& Active()
{
    // The variant SIGKIT_ISA forces the kernel table to (kernels::Active) forces the transforms'
    // too; otherwise the dispatcher's choice.
    static const FftKernels& chosen =
        kernels::Forced() != nullptr ? *fft::TableFor(kernels::Forced()->isa) : Choose();
    return chosen;
}

const FftKernels* TableFor(kernels::Isa isa)
{
    const Tables& tables = AllTables();
    switch (isa)
    {
    case kernels::Isa::Scalar:
        return &tables.scalar;
#if defined(__x86_64__) || defined(__i386__)
    case kernels::Isa::Avx2:
        return tables.hasAvx2 ? &tables.avx2 : nullptr;
    case kernels::Isa::Avx512:
        return tables.hasAvx512 ? &tables.avx512 : nullptr;
#endif
    default:
        return nullptr;
    }
}

} // namespace sigkit::fft
