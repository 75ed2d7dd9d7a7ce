#include "dsp/fft/FftVariants.h"

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

} // namespace

const FftKernels& Active()
{
    // Whatever chose the kernel table (the processor, or an override of that choice) chooses the
    // transforms' variant too.
    static const FftKernels* chosen = fft::TableFor(kernels::Active().isa);
    return chosen != nullptr ? *chosen : AllTables().scalar;
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
