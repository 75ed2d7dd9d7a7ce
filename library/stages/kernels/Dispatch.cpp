#include "stages/kernels/Variants.h"

#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace sigkit::kernels {

namespace {

constexpr std::size_t kComplexAlignment = 64;

struct Tables
{
    KernelTable scalar = ScalarKernels();
#if defined(__x86_64__) || defined(__i386__)
    KernelTable avx2{};
    KernelTable avx512{};
    bool hasAvx2 = false;
    bool hasAvx512 = false;

    Tables()
    {
        // Includes the operating system's support for the wider registers.
        __builtin_cpu_init();
        hasAvx2 = __builtin_cpu_supports("avx2") != 0;
        hasAvx512 = hasAvx2 && __builtin_cpu_supports("avx512f") != 0;
        // The tables are built by code compiled for their instruction sets: only on a processor
        // that has them.
        if (hasAvx2)
            avx2 = Avx2Kernels();
        if (hasAvx512)
            avx512 = Avx512Kernels();
    }
#endif
};

const Tables& AllTables()
{
    static const Tables tables;
    return tables;
}

const KernelTable& Choose()
{
    const Tables& tables = AllTables();
#if defined(__x86_64__) || defined(__i386__)
    if (tables.hasAvx512)
        return tables.avx512;
    if (tables.hasAvx2)
        return tables.avx2;
#endif
    return tables.scalar;
}

} // namespace

const KernelTable& Active()
{
    static const KernelTable& chosen = Choose();
    return chosen;
}

const KernelTable* TableFor(Isa isa)
{
    const Tables& tables = AllTables();
    switch (isa)
    {
    case Isa::Scalar:
        return &tables.scalar;
#if defined(__x86_64__) || defined(__i386__)
    case Isa::Avx2:
        return tables.hasAvx2 ? &tables.avx2 : nullptr;
    case Isa::Avx512:
        return tables.hasAvx512 ? &tables.avx512 : nullptr;
#endif
    default:
        return nullptr;
    }
}

bool DefaultFloatEnvironment()
{
#if defined(__SSE2__)
    // The SSE control word governs float and double arithmetic here: rounding control (bits 13
    // and 14), flush to zero (15) and denormals are zero (6) must all be clear.
    constexpr unsigned kNonDefault = 0x6000u | 0x8000u | 0x0040u;
    return (_mm_getcsr() & kNonDefault) == 0;
#else
    return std::fegetround() == FE_TONEAREST;
#endif
}

float* AllocateComplex(std::size_t pairs)
{
    constexpr std::size_t pairBytes = 2 * sizeof(float);
    constexpr std::size_t extra = kComplexAlignment + sizeof(void*);
    if (pairs == 0 || pairs > (std::numeric_limits<std::size_t>::max() - extra) / pairBytes)
        return nullptr;
    // calloc: a large block comes as zero pages from the system, so the parts that are never
    // used (most of a resampler's bank) cost nothing. The block is aligned inside the
    // allocation; the allocation's own address is kept just before it.
    void* allocation = std::calloc(pairs * pairBytes + extra, 1);
    if (allocation == nullptr)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(allocation) + sizeof(void*);
    const std::uintptr_t aligned = (start + kComplexAlignment - 1) & ~(kComplexAlignment - 1);
    void** before = reinterpret_cast<void**>(aligned) - 1;
    *before = allocation;
    return reinterpret_cast<float*>(aligned);
}

void FreeComplex(float* block)
{
    if (block != nullptr)
        std::free(*(reinterpret_cast<void**>(block) - 1));
}

} // namespace sigkit::kernels
