// AVX-512 variant of the dot products, the block filters, the oscillator's sine and cosine and the
// mixer: the 16 partial sums fill one register. Compiled with -mavx512f
// only (no FMA contraction); the sample conversions are the AVX2 ones.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/kernels/PhaseSteps.h"
#include "stages/kernels/SinCosApprox.h"
#include "stages/kernels/SinCosAvx512.h"
#include "stages/kernels/Variants.h"

#include <immintrin.h>

#include <cmath>
#include <cstddef>

// GCC 12's AVX-512 headers fill the unused lanes of many intrinsics with an "undefined" value
// that its own -Wmaybe-uninitialized and -Wuninitialized then report at every use (sqrt,
// conversions, rounding, lane shuffles).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace sigkit::kernels {

namespace {

using avx512::Redo;
using avx512::SinCos8;

// Keeps a loaded value in its register: GCC otherwise folds the load into each multiply that
// uses it, loading it again for every one.
#define SIGKIT_IN_REGISTER(v) asm("" : "+v"(v))

__mmask16 TailMask(int32_t count)
{
    return static_cast<__mmask16>((1u << count) - 1u); // count 0..15
}

// Partial sums 0..7 (for the complex sums: their I, Q pairs 0..3) in `s8`, reduced in the
// shared order from k < 4 on.
float ReduceFrom8(__m256 s8)
{
    const __m128 s4 = _mm_add_ps(_mm256_castps256_ps128(s8), _mm256_extractf128_ps(s8, 1));
    const __m128 s2 = _mm_add_ps(s4, _mm_movehl_ps(s4, s4));
    const __m128 s1 = _mm_add_ss(s2, _mm_shuffle_ps(s2, s2, 1));
    return _mm_cvtss_f32(s1);
}

// The zero-masked forms of the lane moves: GCC 12 warns about the undefined fill of the plain ones.
constexpr __mmask16 kAll = 0xFFFF;

__m256 LowHalf(__m512 v)
{
    return _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, _mm512_castps_pd(v), 0));
}

__m256 HighHalf(__m512 v)
{
    return _mm256_castpd_ps(_mm512_maskz_extractf64x4_pd(0xF, _mm512_castps_pd(v), 1));
}

__m512 Permute(__m512i index, __m512 v)
{
    return _mm512_maskz_permutexvar_ps(kAll, index, v);
}

float Dot(const float* a, const float* b, int32_t n)
{
    __m512 acc = _mm512_setzero_ps();
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
        acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_loadu_ps(a + j), _mm512_loadu_ps(b + j)));
    if (j < n)
    {
        // Masked lanes read as +0.0; adding +0.0 leaves a partial sum unchanged.
        const __mmask16 mask = TailMask(n - j);
        acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_maskz_loadu_ps(mask, a + j),
                                               _mm512_maskz_loadu_ps(mask, b + j)));
    }
    return ReduceFrom8(_mm256_add_ps(LowHalf(acc), HighHalf(acc))); // k < 8 first
}

// One output's 16 partial sums reduced in the shared order.
float Reduce16(__m512 acc)
{
    return ReduceFrom8(_mm256_add_ps(LowHalf(acc), HighHalf(acc)));
}

// The shared reduction of 8 outputs at once, each add pairing the lanes the order pairs:
// partial sums k and k + 8 of two outputs in one register, then k and k + 4 of four, k and k + 2
// of eight, and s0 + s1. The results leave in output order.
__m512 PairHalves(__m512 a, __m512 b) // [a: s_k + s_k+8 | b: the same], k < 8
{
    return _mm512_add_ps(_mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(1, 0, 1, 0)),
                         _mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(3, 2, 3, 2)));
}

__m512 PairQuarters(__m512 a, __m512 b) // four outputs: s_k + s_k+4, k < 4, one quarter each
{
    return _mm512_add_ps(_mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(2, 0, 2, 0)),
                         _mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}

// Four outputs' reductions at once (the order as in Reduce8): quarter q ends up holding output q.
void Reduce4(__m512 a, __m512 b, __m512 c, __m512 d, float* out, int count)
{
    const __m512 r = PairQuarters(PairHalves(a, b), PairHalves(c, d));
    const __m512 s2 = _mm512_add_ps(_mm512_shuffle_ps(r, r, _MM_SHUFFLE(1, 0, 1, 0)),
                                    _mm512_shuffle_ps(r, r, _MM_SHUFFLE(3, 2, 3, 2)));
    const __m512 s1 = _mm512_add_ps(_mm512_shuffle_ps(s2, s2, _MM_SHUFFLE(2, 0, 2, 0)),
                                    _mm512_shuffle_ps(s2, s2, _MM_SHUFFLE(3, 1, 3, 1)));
    alignas(64) float lanes[16];
    _mm512_store_ps(lanes, s1);
    for (int k = 0; k < count; ++k)
        out[k] = lanes[4 * k];
}

void Reduce8(const __m512 (&acc)[8], float* out)
{
    const __m512 r01 = PairHalves(acc[0], acc[1]);
    const __m512 r23 = PairHalves(acc[2], acc[3]);
    const __m512 r45 = PairHalves(acc[4], acc[5]);
    const __m512 r67 = PairHalves(acc[6], acc[7]);
    const __m512 r0123 = PairQuarters(r01, r23); // quarter q: output q
    const __m512 r4567 = PairQuarters(r45, r67); // quarter q: output q + 4
    // s_k + s_k+2, k < 2: quarter q holds output q's two sums, then output q + 4's.
    const __m512 s2 = _mm512_add_ps(_mm512_shuffle_ps(r0123, r4567, _MM_SHUFFLE(1, 0, 1, 0)),
                                    _mm512_shuffle_ps(r0123, r4567, _MM_SHUFFLE(3, 2, 3, 2)));
    // s0 + s1: quarter q lane 0 is output q, lane 1 output q + 4.
    const __m512 s1 = _mm512_add_ps(_mm512_shuffle_ps(s2, s2, _MM_SHUFFLE(2, 0, 2, 0)),
                                    _mm512_shuffle_ps(s2, s2, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 0, 0, 0, 0, 0, 0, 0, 0);
    _mm256_storeu_ps(out, LowHalf(Permute(order, s1)));
}

// G outputs of FirBlock at once: the taps of each round of 16 are loaded once and multiply the
// windows of all G outputs; lane k of accumulator g is partial sum k of output g.
template <int G>
void FirGroup(const float* taps, int32_t n, const float* x, std::ptrdiff_t stride, float* out)
{
    __m512 acc[G];
    for (int g = 0; g < G; ++g)
        acc[g] = _mm512_setzero_ps();
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
    {
        const __m512 t = _mm512_loadu_ps(taps + j);
        for (int g = 0; g < G; ++g)
            acc[g] = _mm512_add_ps(acc[g], _mm512_mul_ps(t, _mm512_loadu_ps(x - g * stride + j)));
    }
    if (j < n)
    {
        const __mmask16 mask = TailMask(n - j);
        const __m512 t = _mm512_maskz_loadu_ps(mask, taps + j);
        for (int g = 0; g < G; ++g)
            acc[g] = _mm512_add_ps(
                acc[g], _mm512_mul_ps(t, _mm512_maskz_loadu_ps(mask, x - g * stride + j)));
    }
    if constexpr (G == 4)
        Reduce4(acc[0], acc[1], acc[2], acc[3], out, 4);
    else if constexpr (G == 2)
        Reduce4(acc[0], acc[1], acc[0], acc[1], out, 2);
    else
        for (int g = 0; g < G; ++g)
            out[g] = Reduce16(acc[g]);
}

// Eight outputs with every accumulator in a register of its own.
void FirGroup8(const float* taps, int32_t n, const float* x, std::ptrdiff_t stride, float* out)
{
    __m512 acc[8] = {_mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps(),
                     _mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps(),
                     _mm512_setzero_ps(), _mm512_setzero_ps()};
    const float* w[8];
    for (int g = 0; g < 8; ++g)
        w[g] = x - g * stride;
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
    {
        const __m512 t = _mm512_loadu_ps(taps + j);
#pragma GCC unroll 8
        for (int g = 0; g < 8; ++g)
            acc[g] = _mm512_add_ps(acc[g], _mm512_mul_ps(t, _mm512_loadu_ps(w[g] + j)));
    }
    if (j < n)
    {
        const __mmask16 mask = TailMask(n - j);
        const __m512 t = _mm512_maskz_loadu_ps(mask, taps + j);
#pragma GCC unroll 8
        for (int g = 0; g < 8; ++g)
            acc[g] = _mm512_add_ps(acc[g], _mm512_mul_ps(t, _mm512_maskz_loadu_ps(mask, w[g] + j)));
    }
    Reduce8(acc, out);
}

void FirBlock(const float* taps, int32_t n, const float* x, int32_t stride, int32_t count,
              float* out)
{
    const std::ptrdiff_t step = stride;
    int32_t i = 0;
    for (; i + 8 <= count; i += 8)
        FirGroup8(taps, n, x - i * step, step, out + i);
    if (i + 4 <= count)
    {
        FirGroup<4>(taps, n, x - i * step, step, out + i);
        i += 4;
    }
    if (i + 2 <= count)
    {
        FirGroup<2>(taps, n, x - i * step, step, out + i);
        i += 2;
    }
    if (i < count)
        FirGroup<1>(taps, n, x - i * step, step, out + i);
}

// Outputs in the lanes: with `have` outputs in group g (16, or fewer in the last), lane l holds
// output first + have - 1 - l, whose window at tap j starts at x[j - (first + have - 1) + l], so
// one load gives tap j's samples for the group (lanes l >= have are not loaded). acc[g][m] is
// partial sum 2m + 1 (the odd j); the even partial sums stay +0.0 and enter the reduction as
// constants, which keeps the shared order.
template <int G>
void OddTapGroups(const float* taps, int32_t n, const float* x, int32_t base, int32_t count,
                  float* out)
{
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __mmask16 valid[G];
    int32_t have[G];
    const float* start[G];
    for (int g = 0; g < G; ++g)
    {
        const int32_t first = base + 16 * g;
        have[g] = count - first < 16 ? count - first : 16;
        valid[g] = have[g] == 16 ? kAll : TailMask(have[g]);
        start[g] = x - (first + have[g] - 1);
    }
    __m512 acc[G][8];
    for (int g = 0; g < G; ++g)
        for (int m = 0; m < 8; ++m)
            acc[g][m] = _mm512_setzero_ps();
    for (int32_t j0 = 0; j0 < n; j0 += 16)
        for (int m = 0; m < 8; ++m)
        {
            const int32_t j = j0 + 2 * m + 1;
            if (j >= n)
                break;
            const __m512 t = _mm512_set1_ps(taps[j]);
            for (int g = 0; g < G; ++g)
                acc[g][m] = _mm512_add_ps(
                    acc[g][m], _mm512_mul_ps(t, _mm512_maskz_loadu_ps(valid[g], start[g] + j)));
        }
    const __m512 zero = _mm512_setzero_ps();
    for (int g = 0; g < G; ++g)
    {
        // s[k] += s[k + 8]: the odd k < 8 are 1, 3, 5, 7 (acc 0..3) with 9, 11, 13, 15 (acc 4..7).
        __m512 s1 = _mm512_add_ps(acc[g][0], acc[g][4]);
        __m512 s3 = _mm512_add_ps(acc[g][1], acc[g][5]);
        const __m512 s5 = _mm512_add_ps(acc[g][2], acc[g][6]);
        const __m512 s7 = _mm512_add_ps(acc[g][3], acc[g][7]);
        s1 = _mm512_add_ps(s1, s5); // s[k] += s[k + 4]
        s3 = _mm512_add_ps(s3, s7);
        s1 = _mm512_add_ps(s1, s3); // s[k] += s[k + 2]
        // s0 + s1, then into output order: output first + k is lane have - 1 - k.
        const __m512i order = _mm512_sub_epi32(_mm512_set1_epi32(have[g] - 1), lanes);
        const __m512 sum = Permute(order, _mm512_add_ps(zero, s1));
        _mm512_mask_storeu_ps(out + base + 16 * g, valid[g], sum);
    }
}

void FirBlockOddTaps(const float* taps, int32_t n, const float* x, int32_t count, float* out)
{
    int32_t i = 0;
    for (; i + 32 <= count; i += 32)
        OddTapGroups<2>(taps, n, x, i, count, out);
    for (; i < count; i += 16)
        OddTapGroups<1>(taps, n, x, i, count, out);
}

void DotPair(const float* a, const float* b, const float* x, const float* y, int32_t n, float* out)
{
    __m512 ax = _mm512_setzero_ps();
    __m512 bx = _mm512_setzero_ps();
    int32_t j = 0;
    if (y == nullptr)
    {
        for (; j + 16 <= n; j += 16)
        {
            __m512 xv = _mm512_loadu_ps(x + j);
            SIGKIT_IN_REGISTER(xv);
            ax = _mm512_add_ps(ax, _mm512_mul_ps(_mm512_loadu_ps(a + j), xv));
            bx = _mm512_add_ps(bx, _mm512_mul_ps(_mm512_loadu_ps(b + j), xv));
        }
        if (j < n)
        {
            const __mmask16 mask = TailMask(n - j);
            const __m512 xv = _mm512_maskz_loadu_ps(mask, x + j);
            ax = _mm512_add_ps(ax, _mm512_mul_ps(_mm512_maskz_loadu_ps(mask, a + j), xv));
            bx = _mm512_add_ps(bx, _mm512_mul_ps(_mm512_maskz_loadu_ps(mask, b + j), xv));
        }
        Reduce4(ax, bx, ax, bx, out, 2);
        return;
    }
    __m512 ay = _mm512_setzero_ps();
    __m512 by = _mm512_setzero_ps();
    for (; j + 16 <= n; j += 16)
    {
        __m512 av = _mm512_loadu_ps(a + j);
        __m512 bv = _mm512_loadu_ps(b + j);
        __m512 xv = _mm512_loadu_ps(x + j);
        __m512 yv = _mm512_loadu_ps(y + j);
        SIGKIT_IN_REGISTER(av);
        SIGKIT_IN_REGISTER(bv);
        SIGKIT_IN_REGISTER(xv);
        SIGKIT_IN_REGISTER(yv);
        ax = _mm512_add_ps(ax, _mm512_mul_ps(av, xv));
        bx = _mm512_add_ps(bx, _mm512_mul_ps(bv, xv));
        ay = _mm512_add_ps(ay, _mm512_mul_ps(av, yv));
        by = _mm512_add_ps(by, _mm512_mul_ps(bv, yv));
    }
    if (j < n)
    {
        const __mmask16 mask = TailMask(n - j);
        const __m512 av = _mm512_maskz_loadu_ps(mask, a + j);
        const __m512 bv = _mm512_maskz_loadu_ps(mask, b + j);
        const __m512 xv = _mm512_maskz_loadu_ps(mask, x + j);
        const __m512 yv = _mm512_maskz_loadu_ps(mask, y + j);
        ax = _mm512_add_ps(ax, _mm512_mul_ps(av, xv));
        bx = _mm512_add_ps(bx, _mm512_mul_ps(bv, xv));
        ay = _mm512_add_ps(ay, _mm512_mul_ps(av, yv));
        by = _mm512_add_ps(by, _mm512_mul_ps(bv, yv));
    }
    Reduce4(ax, bx, ay, by, out, 4);
}

// One round of 16 taps of DotPairTwice: every accumulator in a register of its own.
template <bool kBoth>
inline void PairRound(__m512 (&acc)[8], const float* const* a, const float* const* b,
                      const float* const* x, const float* const* y, int32_t j, __mmask16 mask)
{
    __m512 a0 = _mm512_maskz_loadu_ps(mask, a[0] + j);
    __m512 b0 = _mm512_maskz_loadu_ps(mask, b[0] + j);
    __m512 x0 = _mm512_maskz_loadu_ps(mask, x[0] + j);
    __m512 a1 = _mm512_maskz_loadu_ps(mask, a[1] + j);
    __m512 b1 = _mm512_maskz_loadu_ps(mask, b[1] + j);
    __m512 x1 = _mm512_maskz_loadu_ps(mask, x[1] + j);
    SIGKIT_IN_REGISTER(a0);
    SIGKIT_IN_REGISTER(b0);
    SIGKIT_IN_REGISTER(x0);
    SIGKIT_IN_REGISTER(a1);
    SIGKIT_IN_REGISTER(b1);
    SIGKIT_IN_REGISTER(x1);
    acc[0] = _mm512_add_ps(acc[0], _mm512_mul_ps(a0, x0));
    acc[1] = _mm512_add_ps(acc[1], _mm512_mul_ps(b0, x0));
    acc[4] = _mm512_add_ps(acc[4], _mm512_mul_ps(a1, x1));
    acc[5] = _mm512_add_ps(acc[5], _mm512_mul_ps(b1, x1));
    if constexpr (kBoth)
    {
        __m512 y0 = _mm512_maskz_loadu_ps(mask, y[0] + j);
        __m512 y1 = _mm512_maskz_loadu_ps(mask, y[1] + j);
        SIGKIT_IN_REGISTER(y0);
        SIGKIT_IN_REGISTER(y1);
        acc[2] = _mm512_add_ps(acc[2], _mm512_mul_ps(a0, y0));
        acc[3] = _mm512_add_ps(acc[3], _mm512_mul_ps(b0, y0));
        acc[6] = _mm512_add_ps(acc[6], _mm512_mul_ps(a1, y1));
        acc[7] = _mm512_add_ps(acc[7], _mm512_mul_ps(b1, y1));
    }
}

template <bool kBoth>
void DotPairTwiceOf(const float* const* a, const float* const* b, const float* const* x,
                    const float* const* y, int32_t n, float* out)
{
    // acc[4k + m]: output k's sum m (a·x, b·x, a·y, b·y), as in DotPair.
    __m512 acc[8] = {_mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps(),
                     _mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps(),
                     _mm512_setzero_ps(), _mm512_setzero_ps()};
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
        PairRound<kBoth>(acc, a, b, x, y, j, kAll);
    if (j < n)
        PairRound<kBoth>(acc, a, b, x, y, j, TailMask(n - j));
    if constexpr (kBoth)
        Reduce8(acc, out);
    else
    {
        float sums[4];
        Reduce4(acc[0], acc[1], acc[4], acc[5], sums, 4);
        out[0] = sums[0];
        out[1] = sums[1];
        out[4] = sums[2];
        out[5] = sums[3];
    }
}

void DotPairTwice(const float* const* a, const float* const* b, const float* const* x,
                  const float* const* y, int32_t n, float* out)
{
    if (y != nullptr)
        DotPairTwiceOf<true>(a, b, x, y, n, out);
    else
        DotPairTwiceOf<false>(a, b, x, y, n, out);
}

int32_t SinCos(const double* phase, int32_t n, float* s, float* c)
{
    if (!DefaultFloatEnvironment())
        return LibmSinCos(phase, n, s, c);
    int32_t fromLibrary = 0;
    int32_t i = 0;
    // Two groups per round give the scheduler independent chains to overlap.
    for (; i + 16 <= n; i += 16)
    {
        __m256 s0, c0, s1, c1;
        const __mmask8 ok0 = SinCos8(_mm512_loadu_pd(phase + i), s0, c0);
        const __mmask8 ok1 = SinCos8(_mm512_loadu_pd(phase + i + 8), s1, c1);
        _mm256_storeu_ps(s + i, s0);
        _mm256_storeu_ps(c + i, c0);
        _mm256_storeu_ps(s + i + 8, s1);
        _mm256_storeu_ps(c + i + 8, c1);
        if ((ok0 & ok1) != 0xFF)
        {
            fromLibrary += Redo(static_cast<uint8_t>(~ok0), phase + i, s + i, c + i);
            fromLibrary += Redo(static_cast<uint8_t>(~ok1), phase + i + 8, s + i + 8, c + i + 8);
        }
    }
    for (; i < n; i += 8)
    {
        const int32_t count = n - i < 8 ? n - i : 8;
        const __mmask8 lanes = static_cast<__mmask8>((1u << count) - 1u);
        __m256 sv;
        __m256 cv;
        const __mmask8 ok = SinCos8(_mm512_maskz_loadu_pd(lanes, phase + i), sv, cv);
        const __m256i store =
            _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        _mm256_maskstore_ps(s + i, store, sv);
        _mm256_maskstore_ps(c + i, store, cv);
        fromLibrary += Redo(static_cast<unsigned>(lanes & ~ok), phase + i, s + i, c + i);
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
    // Round r: the phases of group r + 1 (a chain of dependent adds), then the sines and cosines
    // of group r, which do not wait for that chain and run beside it.
    constexpr int32_t kGroup = 16;
    constexpr int32_t kAhead = 4 * kGroup; // phases computed this far ahead of their use
    int32_t fromLibrary = 0;
    const int32_t whole = n / kGroup * kGroup;
    const int32_t lead = whole < kAhead ? whole : kAhead;
    *phase = AdvancePhases(*phase, increment, wrap, lead, phases);
    for (int32_t i = 0; i < whole; i += kGroup)
    {
        if (i + kAhead < whole)
            *phase = AdvancePhases(*phase, increment, wrap, kGroup, phases + i + kAhead);
        __m256 s0, c0, s1, c1;
        const __mmask8 ok0 = SinCos8(_mm512_loadu_pd(phases + i), s0, c0);
        const __mmask8 ok1 = SinCos8(_mm512_loadu_pd(phases + i + 8), s1, c1);
        _mm256_storeu_ps(s + i, s0);
        _mm256_storeu_ps(c + i, c0);
        _mm256_storeu_ps(s + i + 8, s1);
        _mm256_storeu_ps(c + i + 8, c1);
        if ((ok0 & ok1) != 0xFF)
        {
            fromLibrary += Redo(static_cast<uint8_t>(~ok0), phases + i, s + i, c + i);
            fromLibrary += Redo(static_cast<uint8_t>(~ok1), phases + i + 8, s + i + 8, c + i + 8);
        }
    }
    if (whole < n)
    {
        *phase = AdvancePhases(*phase, increment, wrap, n - whole, phases + whole);
        fromLibrary += SinCos(phases + whole, n - whole, s + whole, c + whole);
    }
    return fromLibrary;
}

// ---- The oscillator's fast form (see SinCosApprox.h): 16 elements per round in single
// precision, the phases' reduction in two registers of doubles.

// kInside: the phases are known to lie below kPhaseLimit (PhasesStayInside), and the test that
// turns the others into 0 is left out.
template <bool kInside>
__attribute__((always_inline)) inline void SinCosApprox16(const double* phase, __mmask16 mask,
                                                          __m512& s, __m512& c)
{
    using namespace approx;
    const auto reduce = [](__m512d p, __m256& r, __m256i& q) {
        if constexpr (!kInside)
        {
            const __mmask8 inRange =
                _mm512_cmp_pd_mask(_mm512_abs_pd(p), _mm512_set1_pd(kPhaseLimit), _CMP_LT_OQ);
            p = _mm512_maskz_mov_pd(inRange, p);
        }
        const __m512d k = _mm512_roundscale_pd(_mm512_mul_pd(p, _mm512_set1_pd(kTwoOverPi)),
                                               _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        const __m512d reduced =
            _mm512_sub_pd(_mm512_sub_pd(p, _mm512_mul_pd(k, _mm512_set1_pd(kHalfPiHigh))),
                          _mm512_mul_pd(k, _mm512_set1_pd(kHalfPiLow)));
        r = _mm512_cvtpd_ps(reduced);
        q = _mm512_cvtpd_epi32(k);
    };
    __m256 r0;
    __m256 r1;
    __m256i q0;
    __m256i q1;
    reduce(_mm512_maskz_loadu_pd(static_cast<__mmask8>(mask), phase), r0, q0);
    reduce(_mm512_maskz_loadu_pd(static_cast<__mmask8>(mask >> 8), phase + 8), r1, q1);
    const __m512 r = _mm512_castpd_ps(
        _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(r0)), _mm256_castps_pd(r1), 1));
    const __m512i q = _mm512_inserti64x4(_mm512_castsi256_si512(q0), q1, 1);
    const __m512 z = _mm512_mul_ps(r, r);
    __m512 ps = _mm512_add_ps(_mm512_set1_ps(kSin[2]), _mm512_mul_ps(z, _mm512_set1_ps(kSin[3])));
    ps = _mm512_add_ps(_mm512_set1_ps(kSin[1]), _mm512_mul_ps(z, ps));
    ps = _mm512_add_ps(_mm512_set1_ps(kSin[0]), _mm512_mul_ps(z, ps));
    const __m512 sinR = _mm512_add_ps(r, _mm512_mul_ps(_mm512_mul_ps(r, z), ps));
    __m512 pc = _mm512_add_ps(_mm512_set1_ps(kCos[2]), _mm512_mul_ps(z, _mm512_set1_ps(kCos[3])));
    pc = _mm512_add_ps(_mm512_set1_ps(kCos[1]), _mm512_mul_ps(z, pc));
    pc = _mm512_add_ps(_mm512_set1_ps(kCos[0]), _mm512_mul_ps(z, pc));
    const __m512 cosR =
        _mm512_add_ps(_mm512_sub_ps(_mm512_set1_ps(1.0f), _mm512_mul_ps(_mm512_set1_ps(0.5f), z)),
                      _mm512_mul_ps(_mm512_mul_ps(z, z), pc));
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i two = _mm512_set1_epi32(2);
    const __mmask16 swap = _mm512_test_epi32_mask(q, one);
    const __m512i sinSign = _mm512_slli_epi32(_mm512_and_si512(q, two), 30);
    const __m512i cosSign = _mm512_slli_epi32(_mm512_and_si512(_mm512_add_epi32(q, one), two), 30);
    s = _mm512_castsi512_ps(
        _mm512_xor_si512(_mm512_castps_si512(_mm512_mask_blend_ps(swap, sinR, cosR)), sinSign));
    c = _mm512_castsi512_ps(
        _mm512_xor_si512(_mm512_castps_si512(_mm512_mask_blend_ps(swap, cosR, sinR)), cosSign));
}

template <bool kInside> void ShiftApproxBlock(const double* phases, int32_t n, float* I, float* Q)
{
    for (int32_t i = 0; i < n; i += 16)
    {
        const __mmask16 mask = n - i >= 16 ? kAll : TailMask(n - i);
        __m512 s;
        __m512 c;
        SinCosApprox16<kInside>(phases + i, mask, s, c);
        __m512 in = _mm512_maskz_loadu_ps(mask, I + i);
        __m512 quad = _mm512_maskz_loadu_ps(mask, Q + i);
        SIGKIT_IN_REGISTER(in);
        SIGKIT_IN_REGISTER(quad);
        _mm512_mask_storeu_ps(I + i, mask,
                              _mm512_add_ps(_mm512_mul_ps(c, in), _mm512_mul_ps(quad, s)));
        _mm512_mask_storeu_ps(Q + i, mask,
                              _mm512_sub_ps(_mm512_mul_ps(quad, c), _mm512_mul_ps(in, s)));
    }
}

void ShiftApprox(double* phase, double increment, double wrap, int32_t n, double* phases, float* I,
                 float* Q)
{
    if (!DefaultFloatEnvironment())
    {
        static const KernelTable scalar = ScalarKernels();
        scalar.shiftApprox(phase, increment, wrap, n, phases, I, Q);
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

void Mix(const float* I, const float* Q, const float* s, const float* c, int32_t n, float* outI,
         float* outQ)
{
    for (int32_t i = 0; i < n; i += 16)
    {
        const __mmask16 mask = n - i >= 16 ? kAll : TailMask(n - i);
        __m512 in = _mm512_maskz_loadu_ps(mask, I + i);
        __m512 quad = _mm512_maskz_loadu_ps(mask, Q + i);
        __m512 sv = _mm512_maskz_loadu_ps(mask, s + i);
        __m512 cv = _mm512_maskz_loadu_ps(mask, c + i);
        SIGKIT_IN_REGISTER(in);
        SIGKIT_IN_REGISTER(quad);
        SIGKIT_IN_REGISTER(sv);
        SIGKIT_IN_REGISTER(cv);
        _mm512_mask_storeu_ps(outI + i, mask,
                              _mm512_add_ps(_mm512_mul_ps(cv, in), _mm512_mul_ps(quad, sv)));
        _mm512_mask_storeu_ps(outQ + i, mask,
                              _mm512_sub_ps(_mm512_mul_ps(quad, cv), _mm512_mul_ps(in, sv)));
    }
}

uint32_t StoreReversed(const float* x, int32_t n, float* top)
{
    const __m512i reverse = _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i magnitude = _mm512_set1_epi32(0x7FFFFFFF);
    __m512i largest = _mm512_setzero_si512();
    int32_t i = 0;
    for (; i + 16 <= n; i += 16)
    {
        // Element i + l goes to top - i - l: reversed, the group lands at top - i - 15.
        const __m512 v = _mm512_loadu_ps(x + i);
        _mm512_storeu_ps(top - i - 15, Permute(reverse, v));
        largest = _mm512_max_epu32(largest, _mm512_and_si512(_mm512_castps_si512(v), magnitude));
    }
    if (i < n)
    {
        // The last count elements reversed into lanes 0 .. count-1, landing at top - n + 1.
        const int32_t count = n - i;
        const __mmask16 mask = TailMask(count);
        const __m512 v = _mm512_maskz_loadu_ps(mask, x + i);
        const __m512i backwards = _mm512_sub_epi32(
            _mm512_set1_epi32(count - 1),
            _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
        _mm512_mask_storeu_ps(top - n + 1, mask, Permute(backwards, v));
        largest = _mm512_max_epu32(largest, _mm512_and_si512(_mm512_castps_si512(v), magnitude));
    }
    return static_cast<uint32_t>(_mm512_reduce_max_epu32(largest));
}

void Deinterleave(const float* iq, int32_t pairs, float* I, float* Q)
{
    const __m512i even =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd =
        _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    for (int32_t k = 0; k < pairs; k += 16)
    {
        const int32_t count = pairs - k < 16 ? pairs - k : 16;
        const __mmask16 first = count >= 8 ? kAll : TailMask(2 * count);
        const __mmask16 second = count > 8 ? TailMask(2 * count - 16) : 0;
        const __m512 a = _mm512_maskz_loadu_ps(first, iq + 2 * k);
        const __m512 b =
            second != 0 ? _mm512_maskz_loadu_ps(second, iq + 2 * k + 16) : _mm512_setzero_ps();
        const __mmask16 mask = count == 16 ? kAll : TailMask(count);
        _mm512_mask_storeu_ps(I + k, mask, _mm512_permutex2var_ps(a, even, b));
        _mm512_mask_storeu_ps(Q + k, mask, _mm512_permutex2var_ps(a, odd, b));
    }
}

} // namespace

KernelTable Avx512Kernels()
{
    KernelTable table = Avx2Kernels();
    table.isa = Isa::Avx512;
    table.name = "avx512";
    table.dot = Dot;
    table.firBlock = FirBlock;
    table.firBlockOddTaps = FirBlockOddTaps;
    table.dotPair = DotPair;
    table.dotPairTwice = DotPairTwice;
    table.oscillate = Oscillate;
    table.shiftApprox = ShiftApprox;
    table.mix = Mix;
    table.storeReversed = StoreReversed;
    table.deinterleave = Deinterleave;
    return table;
}

} // namespace sigkit::kernels

#endif
