// AVX2 variant. Compiled with -mavx2 only (no FMA): every multiply and add stays separate, so the
// results are the scalar variant's bits.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/kernels/PhaseSteps.h"
#include "stages/kernels/SinCosApprox.h"
#include "stages/kernels/SinCosAvx2.h"
#include "stages/kernels/SinCosCheck.h"
#include "stages/kernels/Variants.h"

#include <immintrin.h>

#include <cmath>
#include <cstddef>
#include <cstring>

namespace sigkit::kernels {

namespace {

// Lanes j < count set (count 0..8): the mask of a partial load; masked lanes read as +0.0, and
// adding +0.0 to a partial sum leaves it unchanged.
__m256i TailMask(int32_t count)
{
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), lanes);
}

__m256 LoadPart(const float* p, int32_t count)
{
    return count >= 8 ? _mm256_loadu_ps(p) : _mm256_maskload_ps(p, TailMask(count));
}

// Partial sums 0..7 in `low`, 8..15 in `high`; the shared reduction order.
float Reduce(__m256 low, __m256 high)
{
    const __m256 s8 = _mm256_add_ps(low, high);                                             // k < 8
    const __m128 s4 = _mm_add_ps(_mm256_castps256_ps128(s8), _mm256_extractf128_ps(s8, 1)); // k < 4
    const __m128 s2 = _mm_add_ps(s4, _mm_movehl_ps(s4, s4));                                // k < 2
    const __m128 s1 = _mm_add_ss(s2, _mm_shuffle_ps(s2, s2, 1)); // s0 + s1
    return _mm_cvtss_f32(s1);
}

float Dot(const float* a, const float* b, int32_t n)
{
    __m256 low = _mm256_setzero_ps();
    __m256 high = _mm256_setzero_ps();
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
    {
        low = _mm256_add_ps(low, _mm256_mul_ps(_mm256_loadu_ps(a + j), _mm256_loadu_ps(b + j)));
        high = _mm256_add_ps(high,
                             _mm256_mul_ps(_mm256_loadu_ps(a + j + 8), _mm256_loadu_ps(b + j + 8)));
    }
    if (j < n)
    {
        const int32_t rest = n - j;
        low = _mm256_add_ps(low, _mm256_mul_ps(LoadPart(a + j, rest), LoadPart(b + j, rest)));
        if (rest > 8)
            high = _mm256_add_ps(
                high, _mm256_mul_ps(LoadPart(a + j + 8, rest - 8), LoadPart(b + j + 8, rest - 8)));
    }
    return Reduce(low, high);
}

// ---- Block filters and paired dot products: 16 partial sums in two registers per output.

// G outputs of FirBlock at once; each round's 16 taps are loaded once for all of them.
template <int G>
void FirGroup(const float* taps, int32_t n, const float* x, std::ptrdiff_t stride, float* out)
{
    __m256 low[G];
    __m256 high[G];
    for (int g = 0; g < G; ++g)
        low[g] = high[g] = _mm256_setzero_ps();
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
    {
        const __m256 t0 = _mm256_loadu_ps(taps + j);
        const __m256 t1 = _mm256_loadu_ps(taps + j + 8);
        for (int g = 0; g < G; ++g)
        {
            const float* window = x - g * stride + j;
            low[g] = _mm256_add_ps(low[g], _mm256_mul_ps(t0, _mm256_loadu_ps(window)));
            high[g] = _mm256_add_ps(high[g], _mm256_mul_ps(t1, _mm256_loadu_ps(window + 8)));
        }
    }
    if (j < n)
    {
        const int32_t rest = n - j;
        const __m256 t0 = LoadPart(taps + j, rest);
        const __m256 t1 = rest > 8 ? LoadPart(taps + j + 8, rest - 8) : _mm256_setzero_ps();
        for (int g = 0; g < G; ++g)
        {
            const float* window = x - g * stride + j;
            low[g] = _mm256_add_ps(low[g], _mm256_mul_ps(t0, LoadPart(window, rest)));
            if (rest > 8)
                high[g] = _mm256_add_ps(high[g], _mm256_mul_ps(t1, LoadPart(window + 8, rest - 8)));
        }
    }
    for (int g = 0; g < G; ++g)
        out[g] = Reduce(low[g], high[g]);
}

void FirBlock(const float* taps, int32_t n, const float* x, int32_t stride, int32_t count,
              float* out)
{
    const std::ptrdiff_t step = stride;
    int32_t i = 0;
    for (; i + 4 <= count; i += 4)
        FirGroup<4>(taps, n, x - i * step, step, out + i);
    if (i + 2 <= count)
    {
        FirGroup<2>(taps, n, x - i * step, step, out + i);
        i += 2;
    }
    if (i < count)
        FirGroup<1>(taps, n, x - i * step, step, out + i);
}

// Outputs in the lanes: with `have` outputs in the group (8, or fewer in the last), lane l holds
// output base + have - 1 - l, whose window at tap j starts at x[j - (base + have - 1) + l] (lanes
// l >= have are not loaded); acc[m] is partial sum 2m + 1 (odd j), the even ones stay +0.0.
void OddTapGroup(const float* taps, int32_t n, const float* x, int32_t base, int32_t count,
                 float* out)
{
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const int32_t have = count - base < 8 ? count - base : 8;
    const __m256i valid = TailMask(have);
    const float* start = x - (base + have - 1);
    __m256 acc[8];
    for (int m = 0; m < 8; ++m)
        acc[m] = _mm256_setzero_ps();
    for (int32_t j0 = 0; j0 < n; j0 += 16)
        for (int m = 0; m < 8; ++m)
        {
            const int32_t j = j0 + 2 * m + 1;
            if (j >= n)
                break;
            acc[m] = _mm256_add_ps(acc[m], _mm256_mul_ps(_mm256_broadcast_ss(taps + j),
                                                         _mm256_maskload_ps(start + j, valid)));
        }
    __m256 s1 = _mm256_add_ps(acc[0], acc[4]); // s[k] += s[k + 8] for k = 1, 3, 5, 7
    __m256 s3 = _mm256_add_ps(acc[1], acc[5]);
    const __m256 s5 = _mm256_add_ps(acc[2], acc[6]);
    const __m256 s7 = _mm256_add_ps(acc[3], acc[7]);
    s1 = _mm256_add_ps(s1, s5); // s[k] += s[k + 4]
    s3 = _mm256_add_ps(s3, s7);
    s1 = _mm256_add_ps(s1, s3);                                // s[k] += s[k + 2]
    const __m256 sum = _mm256_add_ps(_mm256_setzero_ps(), s1); // s0 + s1
    // Output base + k is lane have - 1 - k (indices below 0 wrap into lanes not stored).
    const __m256i order = _mm256_sub_epi32(_mm256_set1_epi32(have - 1), lanes);
    _mm256_maskstore_ps(out + base, valid, _mm256_permutevar8x32_ps(sum, order));
}

void FirBlockOddTaps(const float* taps, int32_t n, const float* x, int32_t count, float* out)
{
    for (int32_t i = 0; i < count; i += 8)
        OddTapGroup(taps, n, x, i, count, out);
}

// Keeps a loaded value in its register: GCC otherwise folds the load into each multiply that
// uses it, loading it again for every one.
#define SIGKIT_IN_REGISTER(v) asm("" : "+x"(v))

// Four outputs' partial sums (0..7 in the first register of each, 8..15 in the second) reduced
// in the shared order side by side; out[0..3] = a, b, c, d.
void Reduce4(__m256 a0, __m256 a1, __m256 b0, __m256 b1, __m256 c0, __m256 c1, __m256 d0, __m256 d1,
             float* out)
{
    const __m256 a = _mm256_add_ps(a0, a1); // s[k] += s[k + 8]
    const __m256 b = _mm256_add_ps(b0, b1);
    const __m256 c = _mm256_add_ps(c0, c1);
    const __m256 d = _mm256_add_ps(d0, d1);
    // s[k] += s[k + 4]: a's in the low half, b's in the high half (likewise c and d).
    const __m256 ab =
        _mm256_add_ps(_mm256_permute2f128_ps(a, b, 0x20), _mm256_permute2f128_ps(a, b, 0x31));
    const __m256 cd =
        _mm256_add_ps(_mm256_permute2f128_ps(c, d, 0x20), _mm256_permute2f128_ps(c, d, 0x31));
    // s[k] += s[k + 2]: a0 a1 c0 c1 | b0 b1 d0 d1 plus a2 a3 c2 c3 | b2 b3 d2 d3.
    const __m256 s2 = _mm256_add_ps(_mm256_shuffle_ps(ab, cd, _MM_SHUFFLE(1, 0, 1, 0)),
                                    _mm256_shuffle_ps(ab, cd, _MM_SHUFFLE(3, 2, 3, 2)));
    // s0 + s1: lane 0 a, lane 1 c, lane 4 b, lane 5 d.
    const __m256 s1 = _mm256_add_ps(_mm256_shuffle_ps(s2, s2, _MM_SHUFFLE(2, 0, 2, 0)),
                                    _mm256_shuffle_ps(s2, s2, _MM_SHUFFLE(3, 1, 3, 1)));
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, s1);
    out[0] = lanes[0];
    out[1] = lanes[4];
    out[2] = lanes[1];
    out[3] = lanes[5];
}

// One round of 16 taps of the paired sums (partial sums 0..7 in acc[2m], 8..15 in acc[2m + 1]
// for m = a·x, b·x, a·y, b·y); lanes past `count` read as +0.0.
template <bool kBoth, bool kWhole>
inline void PairRound(__m256 (&acc)[8], const float* a, const float* b, const float* x,
                      const float* y, int32_t count)
{
    const __m256i low = kWhole ? __m256i{} : TailMask(count);
    const __m256i high = kWhole ? __m256i{} : TailMask(count - 8);
    const auto load = [&](const float* p, int half) {
        return kWhole ? _mm256_loadu_ps(p + 8 * half)
                      : _mm256_maskload_ps(p + 8 * half, half == 0 ? low : high);
    };
    __m256 a0 = load(a, 0), a1 = load(a, 1), b0 = load(b, 0), b1 = load(b, 1);
    __m256 x0 = load(x, 0), x1 = load(x, 1);
    SIGKIT_IN_REGISTER(a0);
    SIGKIT_IN_REGISTER(a1);
    SIGKIT_IN_REGISTER(b0);
    SIGKIT_IN_REGISTER(b1);
    SIGKIT_IN_REGISTER(x0);
    SIGKIT_IN_REGISTER(x1);
    acc[0] = _mm256_add_ps(acc[0], _mm256_mul_ps(a0, x0));
    acc[1] = _mm256_add_ps(acc[1], _mm256_mul_ps(a1, x1));
    acc[2] = _mm256_add_ps(acc[2], _mm256_mul_ps(b0, x0));
    acc[3] = _mm256_add_ps(acc[3], _mm256_mul_ps(b1, x1));
    if constexpr (kBoth)
    {
        __m256 y0 = load(y, 0), y1 = load(y, 1);
        SIGKIT_IN_REGISTER(y0);
        SIGKIT_IN_REGISTER(y1);
        acc[4] = _mm256_add_ps(acc[4], _mm256_mul_ps(a0, y0));
        acc[5] = _mm256_add_ps(acc[5], _mm256_mul_ps(a1, y1));
        acc[6] = _mm256_add_ps(acc[6], _mm256_mul_ps(b0, y0));
        acc[7] = _mm256_add_ps(acc[7], _mm256_mul_ps(b1, y1));
    }
}

template <bool kBoth>
void DotPairOf(const float* a, const float* b, const float* x, const float* y, int32_t n,
               float* out)
{
    __m256 acc[8];
    for (__m256& v : acc)
        v = _mm256_setzero_ps();
    // y is null when only x is given: no offset is applied to it then.
    const auto atY = [y](int32_t j) { return kBoth ? y + j : nullptr; };
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
        PairRound<kBoth, true>(acc, a + j, b + j, x + j, atY(j), 16);
    if (j < n)
        PairRound<kBoth, false>(acc, a + j, b + j, x + j, atY(j), n - j);
    if constexpr (kBoth)
        Reduce4(acc[0], acc[1], acc[2], acc[3], acc[4], acc[5], acc[6], acc[7], out);
    else
    {
        out[0] = Reduce(acc[0], acc[1]);
        out[1] = Reduce(acc[2], acc[3]);
    }
}

void DotPair(const float* a, const float* b, const float* x, const float* y, int32_t n, float* out)
{
    if (y != nullptr)
        DotPairOf<true>(a, b, x, y, n, out);
    else
        DotPairOf<false>(a, b, x, y, n, out);
}

void DotPairTwice(const float* const* a, const float* const* b, const float* const* x,
                  const float* const* y, int32_t n, float* out)
{
    for (int k = 0; k < 2; ++k)
        DotPair(a[k], b[k], x[k], y != nullptr ? y[k] : nullptr, n, out + 4 * k);
}

// ---- Sine and cosine of 4 phases at a time, in double precision (see SinCosCheck.h).

using avx2::SinCos4;

// Sines and cosines in an environment the caller has found to be the default one.
int32_t SinCosChecked(const double* phase, int32_t n, float* s, float* c)
{
    int32_t fromLibrary = 0;
    int32_t i = 0;
    for (; i + 4 <= n; i += 4)
    {
        __m128 sv;
        __m128 cv;
        unsigned redo = static_cast<unsigned>(~SinCos4(_mm256_loadu_pd(phase + i), sv, cv)) & 0xFu;
        _mm_storeu_ps(s + i, sv);
        _mm_storeu_ps(c + i, cv);
        fromLibrary += __builtin_popcount(redo);
        while (redo != 0)
        {
            const int l = __builtin_ctz(redo);
            redo &= redo - 1;
            LibmSinCos(phase + i + l, 1, s + i + l, c + i + l);
        }
    }
    if (i < n)
    {
        alignas(32) double rest[4] = {};
        alignas(16) float sv[4];
        alignas(16) float cv[4];
        const int32_t count = n - i;
        for (int32_t l = 0; l < count; ++l)
            rest[l] = phase[i + l];
        __m128 sr;
        __m128 cr;
        const int ok = SinCos4(_mm256_load_pd(rest), sr, cr);
        _mm_store_ps(sv, sr);
        _mm_store_ps(cv, cr);
        for (int32_t l = 0; l < count; ++l)
        {
            if ((ok >> l) & 1)
            {
                s[i + l] = sv[l];
                c[i + l] = cv[l];
            }
            else
                fromLibrary += LibmSinCos(phase + i + l, 1, s + i + l, c + i + l);
        }
    }
    return fromLibrary;
}

int32_t Oscillate(double* phase, double increment, double wrap, int32_t n, double* phases, float* s,
                  float* c)
{
    if (!DefaultFloatEnvironment())
    {
        *phase = AdvancePhases(*phase, increment, wrap, n, phases);
        return LibmSinCos(phases, n, s, c);
    }
    // Round r: the phases of a group kAhead further on (a chain of dependent adds), then the
    // sines and cosines of group r, which do not wait for that chain and run beside it.
    constexpr int32_t kGroup = 16;
    constexpr int32_t kAhead = 4 * kGroup;
    int32_t fromLibrary = 0;
    const int32_t whole = n / kGroup * kGroup;
    *phase = AdvancePhases(*phase, increment, wrap, whole < kAhead ? whole : kAhead, phases);
    for (int32_t i = 0; i < whole; i += kGroup)
    {
        if (i + kAhead < whole)
            *phase = AdvancePhases(*phase, increment, wrap, kGroup, phases + i + kAhead);
        fromLibrary += SinCosChecked(phases + i, kGroup, s + i, c + i);
    }
    if (whole < n)
    {
        *phase = AdvancePhases(*phase, increment, wrap, n - whole, phases + whole);
        fromLibrary += SinCosChecked(phases + whole, n - whole, s + whole, c + whole);
    }
    return fromLibrary;
}

const KernelTable& Scalar();

// ---- The oscillator's fast form (see SinCosApprox.h): 8 elements per round in single
// precision, the phases' reduction in two registers of doubles.

// kInside: the phases are known to lie below kPhaseLimit (PhasesStayInside), and the test that
// turns the others into 0 is left out.
template <bool kInside>
__attribute__((always_inline)) inline void SinCosApprox8(const double* phase, __m256& s, __m256& c)
{
    using namespace approx;
    const auto reduce = [](__m256d p, __m128& r, __m128i& q) {
        if constexpr (!kInside)
        {
            const __m256d inRange = _mm256_cmp_pd(_mm256_andnot_pd(_mm256_set1_pd(-0.0), p),
                                                  _mm256_set1_pd(kPhaseLimit), _CMP_LT_OQ);
            p = _mm256_and_pd(p, inRange);
        }
        const __m256d k = _mm256_round_pd(_mm256_mul_pd(p, _mm256_set1_pd(kTwoOverPi)),
                                          _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        const __m256d reduced =
            _mm256_sub_pd(_mm256_sub_pd(p, _mm256_mul_pd(k, _mm256_set1_pd(kHalfPiHigh))),
                          _mm256_mul_pd(k, _mm256_set1_pd(kHalfPiLow)));
        r = _mm256_cvtpd_ps(reduced);
        q = _mm256_cvtpd_epi32(k);
    };
    __m128 r0;
    __m128 r1;
    __m128i q0;
    __m128i q1;
    reduce(_mm256_loadu_pd(phase), r0, q0);
    reduce(_mm256_loadu_pd(phase + 4), r1, q1);
    const __m256 r = _mm256_set_m128(r1, r0);
    const __m256i q = _mm256_set_m128i(q1, q0);
    const __m256 z = _mm256_mul_ps(r, r);
    __m256 ps = _mm256_add_ps(_mm256_set1_ps(kSin[2]), _mm256_mul_ps(z, _mm256_set1_ps(kSin[3])));
    ps = _mm256_add_ps(_mm256_set1_ps(kSin[1]), _mm256_mul_ps(z, ps));
    ps = _mm256_add_ps(_mm256_set1_ps(kSin[0]), _mm256_mul_ps(z, ps));
    const __m256 sinR = _mm256_add_ps(r, _mm256_mul_ps(_mm256_mul_ps(r, z), ps));
    __m256 pc = _mm256_add_ps(_mm256_set1_ps(kCos[2]), _mm256_mul_ps(z, _mm256_set1_ps(kCos[3])));
    pc = _mm256_add_ps(_mm256_set1_ps(kCos[1]), _mm256_mul_ps(z, pc));
    pc = _mm256_add_ps(_mm256_set1_ps(kCos[0]), _mm256_mul_ps(z, pc));
    const __m256 cosR =
        _mm256_add_ps(_mm256_sub_ps(_mm256_set1_ps(1.0f), _mm256_mul_ps(_mm256_set1_ps(0.5f), z)),
                      _mm256_mul_ps(_mm256_mul_ps(z, z), pc));
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i two = _mm256_set1_epi32(2);
    const __m256 swap = _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(q, one), one));
    const __m256 sinSign = _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_and_si256(q, two), 30));
    const __m256 cosSign =
        _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_and_si256(_mm256_add_epi32(q, one), two), 30));
    s = _mm256_xor_ps(_mm256_blendv_ps(sinR, cosR, swap), sinSign);
    c = _mm256_xor_ps(_mm256_blendv_ps(cosR, sinR, swap), cosSign);
}

template <bool kInside> void ShiftApproxBlock(const double* phases, int32_t n, float* I, float* Q)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        __m256 s;
        __m256 c;
        SinCosApprox8<kInside>(phases + i, s, c);
        __m256 in = _mm256_loadu_ps(I + i);
        __m256 quad = _mm256_loadu_ps(Q + i);
        SIGKIT_IN_REGISTER(in);
        SIGKIT_IN_REGISTER(quad);
        _mm256_storeu_ps(I + i, _mm256_add_ps(_mm256_mul_ps(c, in), _mm256_mul_ps(quad, s)));
        _mm256_storeu_ps(Q + i, _mm256_sub_ps(_mm256_mul_ps(quad, c), _mm256_mul_ps(in, s)));
    }
    for (; i < n; ++i)
    {
        float s = 0.0f;
        float c = 0.0f;
        approx::SinCos(phases[i], s, c);
        const float in = I[i];
        const float quad = Q[i];
        I[i] = c * in + quad * s;
        Q[i] = quad * c - in * s;
    }
}

void ShiftApprox(double* phase, double increment, double wrap, int32_t n, double* phases, float* I,
                 float* Q)
{
    if (!DefaultFloatEnvironment())
    {
        Scalar().shiftApprox(phase, increment, wrap, n, phases, I, Q);
        return;
    }
    // Round r: the phases of block r + 1 (a chain of adds), then the work of block r beside them.
    // Short blocks: the processor's reordering window then holds the chain of one block with the
    // vector work of the one before.
    constexpr int32_t kBlock = 32;
    const bool inside = PhasesStayInside(*phase, increment, wrap);
    int32_t ahead = n < kBlock ? n : kBlock;
    *phase = AdvancePhases(*phase, increment, wrap, ahead, phases);
    for (int32_t i = 0; i < n; i += kBlock)
    {
        if (ahead < n)
        {
            const int32_t next = n - ahead < kBlock ? n - ahead : kBlock;
            *phase = AdvancePhases(*phase, increment, wrap, next, phases + ahead);
            ahead += next;
        }
        const int32_t count = n - i < kBlock ? n - i : kBlock;
        if (inside)
            ShiftApproxBlock<true>(phases + i, count, I + i, Q + i);
        else
            ShiftApproxBlock<false>(phases + i, count, I + i, Q + i);
    }
}

// ---- The mixer, the history store and the separation of I and Q: 8 elements per round, the
// rest one by one with the same operations.

void Mix(const float* I, const float* Q, const float* s, const float* c, int32_t n, float* outI,
         float* outQ)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        __m256 in = _mm256_loadu_ps(I + i);
        __m256 quad = _mm256_loadu_ps(Q + i);
        __m256 sv = _mm256_loadu_ps(s + i);
        __m256 cv = _mm256_loadu_ps(c + i);
        SIGKIT_IN_REGISTER(in);
        SIGKIT_IN_REGISTER(quad);
        SIGKIT_IN_REGISTER(sv);
        SIGKIT_IN_REGISTER(cv);
        _mm256_storeu_ps(outI + i, _mm256_add_ps(_mm256_mul_ps(cv, in), _mm256_mul_ps(quad, sv)));
        _mm256_storeu_ps(outQ + i, _mm256_sub_ps(_mm256_mul_ps(quad, cv), _mm256_mul_ps(in, sv)));
    }
    for (; i < n; ++i)
    {
        const float in = I[i];
        const float quad = Q[i];
        outI[i] = c[i] * in + quad * s[i];
        outQ[i] = quad * c[i] - in * s[i];
    }
}

uint32_t StoreReversed(const float* x, int32_t n, float* top)
{
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i magnitude = _mm256_set1_epi32(0x7FFFFFFF);
    __m256i largest = _mm256_setzero_si256();
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m256 v = _mm256_loadu_ps(x + i);
        _mm256_storeu_ps(top - i - 7, _mm256_permutevar8x32_ps(v, reverse));
        largest = _mm256_max_epu32(largest, _mm256_and_si256(_mm256_castps_si256(v), magnitude));
    }
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), largest);
    uint32_t result = 0;
    for (uint32_t lane : lanes)
        result = lane > result ? lane : result;
    for (; i < n; ++i)
    {
        top[-i] = x[i];
        uint32_t bits = 0;
        std::memcpy(&bits, x + i, sizeof bits);
        bits &= 0x7FFFFFFFu;
        result = bits > result ? bits : result;
    }
    return result;
}

void Deinterleave(const float* iq, int32_t pairs, float* I, float* Q)
{
    // Within each 128-bit half: I0 I1 Q0 Q1 | ...; then the halves' 64-bit parts in order.
    int32_t k = 0;
    for (; k + 8 <= pairs; k += 8)
    {
        const __m256 a = _mm256_loadu_ps(iq + 2 * k);     // I0 Q0 I1 Q1 I2 Q2 I3 Q3
        const __m256 b = _mm256_loadu_ps(iq + 2 * k + 8); // I4 Q4 ... I7 Q7
        const __m256 even =
            _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)); // I0 I1 I4 I5 I2 I3 I6 I7
        const __m256 odd = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
        _mm256_storeu_ps(I + k, _mm256_permutevar8x32_ps(even, order));
        _mm256_storeu_ps(Q + k, _mm256_permutevar8x32_ps(odd, order));
    }
    for (; k < pairs; ++k)
    {
        I[k] = iq[2 * k];
        Q[k] = iq[2 * k + 1];
    }
}

// ---- Stored samples to floats: 8 per round, the rest by the scalar variant.

using ToFloatFn = void (*)(const uint8_t*, int32_t, float*);
using FromFloatFn = void (*)(const uint8_t*, int32_t, uint8_t*);

const KernelTable& Scalar()
{
    static const KernelTable table = ScalarKernels();
    return table;
}

void Tail(StoredFormat format, const uint8_t* in, int32_t n, float* out)
{
    Scalar().toFloat[static_cast<int>(format)](in, n, out);
}

void Tail(StoredFormat format, const uint8_t* in, int32_t n, uint8_t* out)
{
    Scalar().fromFloat[static_cast<int>(format)](in, n, out);
}

__m128i Load8Bytes(const uint8_t* p)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

void Int8ToFloat(const uint8_t* in, int32_t n, float* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(Load8Bytes(in + i))));
    Tail(StoredFormat::Int8, in + i, n - i, out + i);
}

void UInt8ToFloat(const uint8_t* in, int32_t n, float* out)
{
    const __m256i offset = _mm256_set1_epi32(127);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        // The offset goes in integers, so 127 becomes +0.0 in every rounding mode.
        const __m256i value = _mm256_sub_epi32(_mm256_cvtepu8_epi32(Load8Bytes(in + i)), offset);
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(value));
    }
    Tail(StoredFormat::UInt8, in + i, n - i, out + i);
}

void Int16ToFloat(const uint8_t* in, int32_t n, float* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(raw)));
    }
    Tail(StoredFormat::Int16, in + 2 * i, n - i, out + i);
}

void UInt16ToFloat(const uint8_t* in, int32_t n, float* out)
{
    const __m256i offset = _mm256_set1_epi32(32767);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        const __m256i value = _mm256_sub_epi32(_mm256_cvtepu16_epi32(raw), offset);
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(value));
    }
    Tail(StoredFormat::UInt16, in + 2 * i, n - i, out + i);
}

// Exactly 12 bytes (four 24-bit samples) into the low 12 bytes of a register.
__m128i Load12Bytes(const uint8_t* p)
{
    int32_t last = 0;
    std::memcpy(&last, p + 8, sizeof last);
    return _mm_insert_epi32(Load8Bytes(p), last, 2);
}

void Int24ToFloat(const uint8_t* in, int32_t n, float* out)
{
    // Each sample's three bytes go to the top of a 32-bit lane; the arithmetic shift by 8 then
    // extends the sign.
    const __m256i spread = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,
                                            -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const uint8_t* p = in + 3 * i;
        const __m256i raw = _mm256_set_m128i(Load12Bytes(p + 12), Load12Bytes(p));
        const __m256i value = _mm256_srai_epi32(_mm256_shuffle_epi8(raw, spread), 8);
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(value));
    }
    Tail(StoredFormat::Int24, in + 3 * i, n - i, out + i);
}

// Four 32-bit integers as the nearest floats, halves to even, in any rounding mode: the exact
// doubles are rounded to 24 significant bits on their bit patterns (as the scalar variant does),
// then narrowed exactly.
__m128 NearestFloats(__m128i value)
{
    __m256i bits = _mm256_castpd_si256(_mm256_cvtepi32_pd(value));
    const __m256i odd = _mm256_and_si256(_mm256_srli_epi64(bits, 29), _mm256_set1_epi64x(1));
    bits = _mm256_add_epi64(bits, _mm256_add_epi64(_mm256_set1_epi64x(0x0FFFFFFF), odd));
    bits = _mm256_andnot_si256(_mm256_set1_epi64x(0x1FFFFFFF), bits);
    return _mm256_cvtpd_ps(_mm256_castsi256_pd(bits));
}

void Int32ToFloat(const uint8_t* in, int32_t n, float* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * i));
        const __m128 low = NearestFloats(_mm256_castsi256_si128(raw));
        const __m128 high = NearestFloats(_mm256_extracti128_si256(raw, 1));
        _mm256_storeu_ps(out + i, _mm256_set_m128(high, low));
    }
    Tail(StoredFormat::Int32, in + 4 * i, n - i, out + i);
}

// ---- Floats to stored samples: 8 per round, rounded and limited into 32-bit lanes, then packed.

constexpr int kRoundEven = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;

// NaN lanes become +0.0.
__m256 LoadValues(const uint8_t* p)
{
    const __m256 x = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
    return _mm256_and_ps(x, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
}

// round(x), halves to even, limited to [lo, hi] (both exact floats), as 32-bit integers.
__m256i SignedLanes(__m256 x, float lo, float hi)
{
    __m256 r = _mm256_round_ps(x, kRoundEven);
    r = _mm256_min_ps(_mm256_max_ps(r, _mm256_set1_ps(lo)), _mm256_set1_ps(hi));
    return _mm256_cvttps_epi32(r);
}

// round(x + offset), halves to even, limited to [0, hi], for an odd offset. With r = round(x)
// (even at a half) and d = x - r (exact), the stored value is r + offset, except at a half
// (|d| = 0.5) where r + offset is odd and the even neighbour r + offset + 2d is taken. x is
// first limited to one beyond the reachable range, where r + offset stays exact.
__m256i UnsignedLanes(__m256 x, float offset, float hi)
{
    x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-offset - 1.0f)),
                      _mm256_set1_ps(hi - offset + 1.0f));
    const __m256 r = _mm256_round_ps(x, kRoundEven);
    const __m256 d = _mm256_sub_ps(x, r);
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), d);
    const __m256 half = _mm256_cmp_ps(magnitude, _mm256_set1_ps(0.5f), _CMP_EQ_OQ);
    const __m256 step = _mm256_and_ps(half, _mm256_add_ps(d, d));
    __m256 y = _mm256_add_ps(_mm256_add_ps(r, _mm256_set1_ps(offset)), step);
    y = _mm256_min_ps(_mm256_max_ps(y, _mm256_setzero_ps()), _mm256_set1_ps(hi));
    return _mm256_cvttps_epi32(y);
}

// 8 lanes of 16-bit values (already in range) in order.
__m128i Pack16(__m256i lanes, bool isSigned)
{
    const __m128i low = _mm256_castsi256_si128(lanes);
    const __m128i high = _mm256_extracti128_si256(lanes, 1);
    return isSigned ? _mm_packs_epi32(low, high) : _mm_packus_epi32(low, high);
}

void FloatToInt8(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words = Pack16(SignedLanes(LoadValues(in + 4 * i), -128.0f, 127.0f), true);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi16(words, words));
    }
    Tail(StoredFormat::Int8, in + 4 * i, n - i, out + i);
}

void FloatToUInt8(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words = Pack16(UnsignedLanes(LoadValues(in + 4 * i), 127.0f, 255.0f), false);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(words, words));
    }
    Tail(StoredFormat::UInt8, in + 4 * i, n - i, out + i);
}

void FloatToInt16(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words =
            Pack16(SignedLanes(LoadValues(in + 4 * i), -32768.0f, 32767.0f), true);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), words);
    }
    Tail(StoredFormat::Int16, in + 4 * i, n - i, out + 2 * i);
}

void FloatToUInt16(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words =
            Pack16(UnsignedLanes(LoadValues(in + 4 * i), 32767.0f, 65535.0f), false);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), words);
    }
    Tail(StoredFormat::UInt16, in + 4 * i, n - i, out + 2 * i);
}

// The low 12 bytes of a register, exactly.
void Store12Bytes(uint8_t* p, __m128i bytes)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), bytes);
    const int32_t last = _mm_extract_epi32(bytes, 2);
    std::memcpy(p + 8, &last, sizeof last);
}

void FloatToInt24(const uint8_t* in, int32_t n, uint8_t* out)
{
    // The low three bytes of each 32-bit lane, packed into the low 12 bytes of each half.
    const __m256i gather = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m256i lanes = SignedLanes(LoadValues(in + 4 * i), -8388608.0f, 8388607.0f);
        const __m256i packed = _mm256_shuffle_epi8(lanes, gather);
        Store12Bytes(out + 3 * i, _mm256_castsi256_si128(packed));
        Store12Bytes(out + 3 * i + 12, _mm256_extracti128_si256(packed, 1));
    }
    Tail(StoredFormat::Int24, in + 4 * i, n - i, out + 3 * i);
}

void FloatToInt32(const uint8_t* in, int32_t n, uint8_t* out)
{
    const __m256 top = _mm256_set1_ps(2147483648.0f); // 2^31, the first value beyond the range
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        __m256 r = _mm256_round_ps(LoadValues(in + 4 * i), kRoundEven);
        r = _mm256_max_ps(r, _mm256_set1_ps(-2147483648.0f));
        const __m256 over = _mm256_cmp_ps(r, top, _CMP_GE_OQ);
        // Lanes at 2^31 or above convert to 0x80000000; they take the top of the range instead.
        __m256i lanes = _mm256_cvttps_epi32(_mm256_min_ps(r, top));
        lanes = _mm256_blendv_epi8(lanes, _mm256_set1_epi32(INT32_MAX), _mm256_castps_si256(over));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), lanes);
    }
    Tail(StoredFormat::Int32, in + 4 * i, n - i, out + 4 * i);
}

} // namespace

KernelTable Avx2Kernels()
{
    return KernelTable{
        Isa::Avx2,
        "avx2",
        Dot,
        FirBlock,
        FirBlockOddTaps,
        DotPair,
        DotPairTwice,
        Oscillate,
        ShiftApprox,
        Mix,
        StoreReversed,
        Deinterleave,
        {Int8ToFloat, UInt8ToFloat, Int16ToFloat, UInt16ToFloat, Int24ToFloat, Int32ToFloat},
        {FloatToInt8, FloatToUInt8, FloatToInt16, FloatToUInt16, FloatToInt24, FloatToInt32},
    };
}

} // namespace sigkit::kernels

#endif
