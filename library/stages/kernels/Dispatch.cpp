#include "stages/kernels/Variants.h"

#include <cfenv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
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
    KernelTable avx2 = Avx2Kernels();
    KernelTable avx512 = Avx512Kernels();
    bool hasAvx2 = false;
    bool hasAvx512 = false;

    Tables()
    {
        // Includes the operating system's support for the wider registers.
        __builtin_cpu_init();
        hasAvx2 = __builtin_cpu_supports("avx2") != 0;
        hasAvx512 = hasAvx2 && __builtin_cpu_supports("avx512f") != 0;
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

int32_t DotProduct(const float* a, const float* b, int32_t n, float* out)
{
    if (a == nullptr || b == nullptr || out == nullptr)
        return -8;
    if (n < 1)
        return -6;
    *out = Active().dot(a, b, n);
    return 0;
}

int32_t DotProductComplex(const float* taps, const float* x, int32_t n, float* outIQ)
{
    if (taps == nullptr || x == nullptr || outIQ == nullptr)
        return -8;
    if (n < 1)
        return -6;
    Active().dotComplex(taps, x, n, outIQ);
    return 0;
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
    if (pairs == 0 ||
        pairs > std::numeric_limits<std::size_t>::max() / pairBytes - kComplexAlignment)
        return nullptr;
    // Rounded up to whole alignment units, as aligned allocation requires.
    const std::size_t bytes =
        (pairs * pairBytes + kComplexAlignment - 1) / kComplexAlignment * kComplexAlignment;
    void* block = ::operator new (bytes, std::align_val_t{kComplexAlignment}, std::nothrow);
    if (block == nullptr)
        return nullptr;
    std::memset(block, 0, bytes);
    return static_cast<float*>(block);
}

void FreeComplex(float* block)
{
    if (block != nullptr)
        ::operator delete (block, std::align_val_t{kComplexAlignment});
}

} // namespace sigkit::kernels
