#include "stages/kernels/Calibration.h"
#include "stages/kernels/Variants.h"

#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <vector>
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

#if defined(__x86_64__) || defined(__i386__)
// Data for the calibration runs: samples of the size the stages hand the kernels.
struct CalibrationData
{
    static constexpr int32_t kTaps = 301;
    static constexpr int32_t kOutputs = 128;
    static constexpr int32_t kSamples = 2048;
    std::vector<float> a, b, x, y, out;
    std::vector<double> phases;

    CalibrationData()
        : a(kTaps + 16), b(kTaps + 16), x(2 * kSamples + kTaps), y(2 * kSamples + kTaps),
          out(2 * kSamples), phases(kSamples)
    {
        uint32_t state = 1;
        const auto next = [&state]() {
            state = state * 1664525u + 1013904223u;
            return static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
        };
        for (float& v : a)
            v = next();
        for (float& v : b)
            v = next();
        for (float& v : x)
            v = next();
        for (float& v : y)
            v = next();
    }
};

// Kernel by kernel, the faster of the two variants (the conversions are the AVX2 ones in both).
KernelTable MeritTable(const KernelTable& narrow, const KernelTable& wide, std::string& name)
{
    CalibrationData d;
    KernelTable merit = wide;
    std::string narrowSlots;
    const auto pick = [&](auto slot, const char* slotName, auto run) {
        if (NarrowIsFaster([&] { run(narrow); }, [&] { run(wide); }))
        {
            merit.*slot = narrow.*slot;
            narrowSlots += narrowSlots.empty() ? slotName : std::string(", ") + slotName;
        }
    };
    constexpr int32_t N = CalibrationData::kTaps;
    constexpr int32_t outputs = CalibrationData::kOutputs;
    float* out = d.out.data();
    pick(&KernelTable::dot, "dot", [&](const KernelTable& t) {
        for (int32_t i = 0; i < outputs; ++i)
            out[i] = t.dot(d.a.data(), d.x.data() + i, N);
    });
    pick(&KernelTable::firBlock, "firBlock", [&](const KernelTable& t) {
        t.firBlock(d.a.data(), N, d.x.data() + outputs, 1, outputs, out);
    });
    pick(&KernelTable::firBlockOddTaps, "firBlockOddTaps", [&](const KernelTable& t) {
        t.firBlockOddTaps(d.a.data(), N, d.x.data() + outputs, outputs, out);
    });
    pick(&KernelTable::dotPair, "dotPair", [&](const KernelTable& t) {
        for (int32_t i = 0; i < outputs / 2; ++i)
            t.dotPair(d.a.data(), d.b.data(), d.x.data() + 5 * i, d.y.data() + 5 * i, N + 7,
                      out + 4 * i);
    });
    pick(&KernelTable::dotPairTwice, "dotPairTwice", [&](const KernelTable& t) {
        for (int32_t i = 0; i < outputs / 4; ++i)
        {
            const float* pa[2] = {d.a.data(), d.b.data()};
            const float* pb[2] = {d.b.data(), d.a.data()};
            const float* px[2] = {d.x.data() + 11 * i, d.x.data() + 11 * i + 5};
            const float* py[2] = {d.y.data() + 11 * i, d.y.data() + 11 * i + 5};
            t.dotPairTwice(pa, pb, px, py, N + 7, out + 8 * i);
        }
    });
    constexpr int32_t n = CalibrationData::kSamples;
    pick(&KernelTable::oscillate, "oscillate", [&](const KernelTable& t) {
        double phase = 0.0;
        t.oscillate(&phase, 0.3141592653589793, 6.2831854820251465, n / 2, d.phases.data(), out,
                    out + n);
    });
    pick(&KernelTable::shiftApprox, "shiftApprox", [&](const KernelTable& t) {
        double phase = 0.0;
        t.shiftApprox(&phase, 0.3141592653589793, 6.2831854820251465, n / 2, d.phases.data(), out,
                      out + n);
    });
    pick(&KernelTable::mix, "mix", [&](const KernelTable& t) {
        t.mix(d.x.data(), d.y.data(), d.x.data() + n, d.y.data() + n, n, out, out + n);
    });
    pick(&KernelTable::storeReversed, "storeReversed", [&](const KernelTable& t) {
        out[0] = static_cast<float>(t.storeReversed(d.x.data(), n, out + n - 1));
    });
    pick(&KernelTable::deinterleave, "deinterleave",
         [&](const KernelTable& t) { t.deinterleave(d.x.data(), n, out, out + n); });
    if (narrowSlots.empty())
        name = wide.name;
    else
        name = std::string(wide.name) + " (" + narrow.name + ": " + narrowSlots + ")";
    merit.name = name.c_str();
    return merit;
}
#endif

const KernelTable& Choose()
{
    const Tables& tables = AllTables();
#if defined(__x86_64__) || defined(__i386__)
    if (tables.hasAvx512)
    {
        // Where AVX-512 runs at half width (its instructions split into two halves), AVX2 can be
        // as fast or faster for some kernels: measured, kernel by kernel. A table that takes every
        // kernel from AVX-512 is that variant's own.
        static std::string name;
        static const KernelTable merit = MeritTable(tables.avx2, tables.avx512, name);
        if (name == tables.avx512.name)
            return tables.avx512;
        return merit;
    }
    if (tables.hasAvx2)
        return tables.avx2;
#endif
    return tables.scalar;
}

} // namespace

bool IsaFromWord(const char* word, Isa& isa)
{
    if (word == nullptr)
        return false;
    const std::string_view text(word);
    if (text == "scalar")
        isa = Isa::Scalar;
    else if (text == "avx2")
        isa = Isa::Avx2;
    else if (text == "avx512")
        isa = Isa::Avx512;
    else
        return false;
    return true;
}

const KernelTable* ForcedBy(const char* word)
{
    Isa isa = Isa::Scalar;
    return IsaFromWord(word, isa) ? TableFor(isa) : nullptr;
}

const KernelTable* Forced()
{
    static const KernelTable* forced = ForcedBy(std::getenv(kIsaVariable));
    return forced;
}

const KernelTable& Automatic()
{
    static const KernelTable& chosen = Choose();
    return chosen;
}

const KernelTable& Active()
{
    static const KernelTable& chosen = Forced() != nullptr ? *Forced() : Automatic();
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

void StreamCopy(const float* from, int32_t n, float* to)
{
    int32_t i = 0;
#if defined(__SSE2__)
    // Up to the first 16-byte boundary one by one, then 4 floats per store.
    for (; i < n && reinterpret_cast<std::uintptr_t>(to + i) % 16 != 0; ++i)
        to[i] = from[i];
    for (; i + 4 <= n; i += 4)
        _mm_stream_ps(to + i, _mm_loadu_ps(from + i));
#endif
    for (; i < n; ++i)
        to[i] = from[i];
}

void StreamCopiesDone()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

namespace {

// Blocks from this size on come as fresh pages of their own: the system hands them out zeroed
// and backs a page only once it is written, so the parts of a long history or bank that a filter
// never reaches cost nothing. (calloc would do the same only while its allocator maps such
// sizes apart, which stops once blocks of that size were freed: it then clears them by hand.)
constexpr std::size_t kFreshPagesBytes = std::size_t{64} << 10;

// What sits just before a block: the allocation's own address and, for fresh pages, their
// length (0: from calloc).
struct BlockHeader
{
    void* allocation;
    std::size_t mapped;
};

} // namespace

void* AllocateZeroed(std::size_t bytes)
{
    constexpr std::size_t extra = kComplexAlignment + sizeof(BlockHeader);
    if (bytes == 0 || bytes > std::numeric_limits<std::size_t>::max() / 2 - extra)
        return nullptr;
    void* allocation = nullptr;
    std::size_t mapped = 0;
    if (bytes >= kFreshPagesBytes)
    {
        mapped = bytes + extra;
        allocation =
            mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (allocation == MAP_FAILED)
            return nullptr;
    }
    else
    {
        allocation = std::calloc(bytes + extra, 1);
        if (allocation == nullptr)
            return nullptr;
    }
    // The block is aligned inside the allocation, its header just before it.
    const auto start = reinterpret_cast<std::uintptr_t>(allocation) + sizeof(BlockHeader);
    const std::uintptr_t aligned = (start + kComplexAlignment - 1) & ~(kComplexAlignment - 1);
    BlockHeader* header = reinterpret_cast<BlockHeader*>(aligned) - 1;
    header->allocation = allocation;
    header->mapped = mapped;
    return reinterpret_cast<void*>(aligned);
}

void FreeZeroed(void* block)
{
    if (block == nullptr)
        return;
    const BlockHeader header = *(static_cast<BlockHeader*>(block) - 1);
    if (header.mapped != 0)
        munmap(header.allocation, header.mapped);
    else
        std::free(header.allocation);
}

float* AllocateComplex(std::size_t pairs)
{
    constexpr std::size_t pairBytes = 2 * sizeof(float);
    if (pairs > std::numeric_limits<std::size_t>::max() / 4 / pairBytes)
        return nullptr;
    return static_cast<float*>(AllocateZeroed(pairs * pairBytes));
}

void FreeComplex(float* block)
{
    FreeZeroed(block);
}

} // namespace sigkit::kernels
