// AVX-512 variant of the dot products, the block filters, the oscillator's sine and cosine, the
// mixer and the FM discriminator: the 16 partial sums fill one register. Compiled with -mavx512f
// only (no FMA contraction); the sample conversions are the AVX2 ones.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/kernels/SinCosCheck.h"
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

// acc[0] holds the (I, Q) pairs of partial sums 0..7, acc[1] those of 8..15.
void DotComplex(const float* taps, const float* x, int32_t n, float* iq)
{
    const __m512i firstHalf = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
    const __m512i secondHalf =
        _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
    __m512 acc0 = _mm512_setzero_ps();
    __m512 acc1 = _mm512_setzero_ps();
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
    {
        const __m512 t = _mm512_loadu_ps(taps + j);
        const float* samples = x + 2 * j;
        acc0 = _mm512_add_ps(acc0, _mm512_mul_ps(Permute(firstHalf, t), _mm512_loadu_ps(samples)));
        acc1 = _mm512_add_ps(acc1,
                             _mm512_mul_ps(Permute(secondHalf, t), _mm512_loadu_ps(samples + 16)));
    }
    if (j < n)
    {
        const int32_t rest = n - j; // 1..15 taps, 2..30 sample floats
        const float* samples = x + 2 * j;
        const __m512 t = _mm512_maskz_loadu_ps(TailMask(rest), taps + j);
        const __mmask16 firstMask = rest >= 8 ? kAll : TailMask(2 * rest);
        acc0 = _mm512_add_ps(
            acc0, _mm512_mul_ps(Permute(firstHalf, t), _mm512_maskz_loadu_ps(firstMask, samples)));
        if (rest > 8)
            acc1 = _mm512_add_ps(
                acc1, _mm512_mul_ps(Permute(secondHalf, t),
                                    _mm512_maskz_loadu_ps(TailMask(2 * rest - 16), samples + 16)));
    }
    const __m512 s8 = _mm512_add_ps(acc0, acc1);                // k < 8
    const __m256 s4 = _mm256_add_ps(LowHalf(s8), HighHalf(s8)); // k < 4: I0 Q0 .. I3 Q3
    const __m128 s2 = _mm_add_ps(_mm256_castps256_ps128(s4), _mm256_extractf128_ps(s4, 1));
    const __m128 s1 = _mm_add_ps(s2, _mm_movehl_ps(s2, s2)); // s0 + s1: I, Q in lanes 0, 1
    iq[0] = _mm_cvtss_f32(s1);
    iq[1] = _mm_cvtss_f32(_mm_shuffle_ps(s1, s1, 1));
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
            const __m512 xv = _mm512_loadu_ps(x + j);
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
        const __m512 av = _mm512_loadu_ps(a + j);
        const __m512 bv = _mm512_loadu_ps(b + j);
        const __m512 xv = _mm512_loadu_ps(x + j);
        const __m512 yv = _mm512_loadu_ps(y + j);
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
    const __m512 a0 = _mm512_maskz_loadu_ps(mask, a[0] + j);
    const __m512 b0 = _mm512_maskz_loadu_ps(mask, b[0] + j);
    const __m512 x0 = _mm512_maskz_loadu_ps(mask, x[0] + j);
    const __m512 a1 = _mm512_maskz_loadu_ps(mask, a[1] + j);
    const __m512 b1 = _mm512_maskz_loadu_ps(mask, b[1] + j);
    const __m512 x1 = _mm512_maskz_loadu_ps(mask, x[1] + j);
    acc[0] = _mm512_add_ps(acc[0], _mm512_mul_ps(a0, x0));
    acc[1] = _mm512_add_ps(acc[1], _mm512_mul_ps(b0, x0));
    acc[4] = _mm512_add_ps(acc[4], _mm512_mul_ps(a1, x1));
    acc[5] = _mm512_add_ps(acc[5], _mm512_mul_ps(b1, x1));
    if constexpr (kBoth)
    {
        const __m512 y0 = _mm512_maskz_loadu_ps(mask, y[0] + j);
        const __m512 y1 = _mm512_maskz_loadu_ps(mask, y[1] + j);
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

// ---- Sine and cosine of 8 phases at a time, in double precision.

__m512d Splat(double value)
{
    return _mm512_set1_pd(value);
}

// Polynomials of both results over the reduced phase, and the rounding check: a lane passes when
// |phase| <= kSinCosLimit, and each result, rounded to float, cannot differ from the standard
// library's (see SinCosCheck.h). Zero phases give sin = the phase itself (its sign kept), cos = 1.
// Inlined everywhere: its results stay in registers.
__attribute__((always_inline)) inline __mmask8 SinCos8(__m512d x, __m256& sOut, __m256& cOut)
{
    using namespace sincos;
    const __m512d k = _mm512_roundscale_pd(_mm512_mul_pd(x, Splat(kTwoOverPi)),
                                           _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m512d r = _mm512_sub_pd(x, _mm512_mul_pd(k, Splat(kHalfPi1)));
    r = _mm512_sub_pd(r, _mm512_mul_pd(k, Splat(kHalfPi2)));
    r = _mm512_sub_pd(r, _mm512_mul_pd(k, Splat(kHalfPi3)));
    r = _mm512_sub_pd(r, _mm512_mul_pd(k, Splat(kHalfPi4)));
    const __m512d z = _mm512_mul_pd(r, r);

    __m512d ps = _mm512_add_pd(Splat(kSin[4]), _mm512_mul_pd(z, Splat(kSin[5])));
    ps = _mm512_add_pd(Splat(kSin[3]), _mm512_mul_pd(z, ps));
    ps = _mm512_add_pd(Splat(kSin[2]), _mm512_mul_pd(z, ps));
    ps = _mm512_add_pd(Splat(kSin[1]), _mm512_mul_pd(z, ps));
    ps = _mm512_add_pd(Splat(kSin[0]), _mm512_mul_pd(z, ps));
    const __m512d sinR = _mm512_add_pd(r, _mm512_mul_pd(_mm512_mul_pd(r, z), ps));

    __m512d pc = _mm512_add_pd(Splat(kCos[4]), _mm512_mul_pd(z, Splat(kCos[5])));
    pc = _mm512_add_pd(Splat(kCos[3]), _mm512_mul_pd(z, pc));
    pc = _mm512_add_pd(Splat(kCos[2]), _mm512_mul_pd(z, pc));
    pc = _mm512_add_pd(Splat(kCos[1]), _mm512_mul_pd(z, pc));
    pc = _mm512_add_pd(Splat(kCos[0]), _mm512_mul_pd(z, pc));
    const __m512d cosR = _mm512_add_pd(_mm512_sub_pd(Splat(1.0), _mm512_mul_pd(Splat(0.5), z)),
                                       _mm512_mul_pd(_mm512_mul_pd(z, z), pc));

    // Quadrant q = k mod 4: sin = (sinR, cosR, -sinR, -cosR)[q], cos = (cosR, -sinR, -cosR,
    // sinR)[q].
    const __m512i q = _mm512_castpd_si512(_mm512_add_pd(k, Splat(kRoundingShift)));
    const __mmask8 swap = _mm512_test_epi64_mask(q, _mm512_set1_epi64(1));
    const __m512i two = _mm512_set1_epi64(2);
    const __m512i sinSign = _mm512_slli_epi64(_mm512_and_si512(q, two), 62);
    const __m512i cosSign =
        _mm512_slli_epi64(_mm512_and_si512(_mm512_add_epi64(q, _mm512_set1_epi64(1)), two), 62);
    __m512d s = _mm512_castsi512_pd(
        _mm512_xor_si512(_mm512_castpd_si512(_mm512_mask_blend_pd(swap, sinR, cosR)), sinSign));
    __m512d c = _mm512_castsi512_pd(
        _mm512_xor_si512(_mm512_castpd_si512(_mm512_mask_blend_pd(swap, cosR, sinR)), cosSign));

    // Each result's low 29 bits against the float rounding boundary (see SinCosCheck.h).
    const __m512i low = _mm512_set1_epi64(kLowBits);
    const __m512i start = _mm512_set1_epi64(kNearStart);
    const __m512i width = _mm512_set1_epi64(2 * kMarginUlps);
    const __mmask8 sinOk = _mm512_cmpgt_epi64_mask(
        _mm512_and_si512(_mm512_sub_epi64(_mm512_castpd_si512(s), start), low), width);
    const __mmask8 cosOk = _mm512_cmpgt_epi64_mask(
        _mm512_and_si512(_mm512_sub_epi64(_mm512_castpd_si512(c), start), low), width);
    const __m512d magnitude = _mm512_abs_pd(x);
    const __mmask8 inRange = _mm512_cmp_pd_mask(magnitude, Splat(kSinCosLimit), _CMP_LE_OQ) &
                             _mm512_cmp_pd_mask(magnitude, Splat(kSmallestPhase), _CMP_GE_OQ);
    const __mmask8 zero = _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_EQ_OQ);
    s = _mm512_mask_blend_pd(zero, s, x);
    c = _mm512_mask_blend_pd(zero, c, Splat(1.0));
    sOut = _mm512_cvtpd_ps(s);
    cOut = _mm512_cvtpd_ps(c);
    return static_cast<__mmask8>((inRange & sinOk & cosOk) | zero);
}

// The elements of one group of eight whose lanes failed the check, from the standard library.
int32_t Redo(unsigned lanes, const double* phase, float* s, float* c)
{
    int32_t count = 0;
    while (lanes != 0)
    {
        const int l = __builtin_ctz(lanes);
        lanes &= lanes - 1;
        count += LibmSinCos(phase + l, 1, s + l, c + l);
    }
    return count;
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

void Mix(const float* I, const float* Q, const float* s, const float* c, int32_t n, float* outI,
         float* outQ)
{
    for (int32_t i = 0; i < n; i += 16)
    {
        const __mmask16 mask = n - i >= 16 ? kAll : TailMask(n - i);
        const __m512 in = _mm512_maskz_loadu_ps(mask, I + i);
        const __m512 quad = _mm512_maskz_loadu_ps(mask, Q + i);
        const __m512 sv = _mm512_maskz_loadu_ps(mask, s + i);
        const __m512 cv = _mm512_maskz_loadu_ps(mask, c + i);
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

// The oscillator's steps without a branch: p = increment + p, then p - wrap where p >= wrap,
// else p + wrap where p <= -wrap, chosen by masks (a branch would be mispredicted at every wrap
// and throw away the work running beside it).
double PhasesWithoutBranches(double p, double increment, double wrap, int32_t n, double* phases)
{
    const __m128d step = _mm_set_sd(increment);
    const __m128d limit = _mm_set_sd(wrap);
    const __m128d lower = _mm_set_sd(-wrap);
    __m128d value = _mm_set_sd(p);
    for (int32_t i = 0; i < n; ++i)
    {
        const __m128d next = _mm_add_sd(step, value);
        const __m128d above = _mm_cmp_sd(next, limit, _CMP_GE_OQ);
        const __m128d below = _mm_cmp_sd(next, lower, _CMP_LE_OQ);
        const __m128d wrapped = _mm_blendv_pd(next, _mm_add_sd(next, limit), below);
        value = _mm_blendv_pd(wrapped, _mm_sub_sd(next, limit), above);
        _mm_store_sd(phases + i, value);
    }
    return _mm_cvtsd_f64(value);
}

// A four-stage pipeline over groups of 8 samples. Round r: the phases of group r + 1 (a short
// chain), the sines, cosines, mixer and magnitudes of group r (vector work), the running mean
// over group r - 1 (the long chain, kept to the few operations that depend on the previous mean)
// and the envelope values of group r - 2 (vector work again). No stage waits for another of the
// same round, and no branch that could be mispredicted interrupts them: the two chains and the
// vector work run side by side.
int32_t AmDemodulate(const float* I, const float* Q, int32_t n, double* phase, double increment,
                     double wrap, float kamp, float* mean, double* phases, float* y)
{
    constexpr int32_t kGroup = 8;
    if (!DefaultFloatEnvironment() || n < 3 * kGroup)
    {
        // The same steps one group at a time (the sines and cosines from the standard library
        // in another floating-point environment).
        int32_t fromLibrary = 0;
        for (int32_t at = 0; at < n; at += kGroup)
        {
            const int32_t count = n - at < kGroup ? n - at : kGroup;
            float s[kGroup];
            float c[kGroup];
            float m[kGroup];
            fromLibrary += Oscillate(phase, increment, wrap, count, phases + at, s, c);
            for (int32_t i = 0; i < count; ++i)
            {
                const float in = I[at + i];
                const float quad = Q[at + i];
                const float mI = c[i] * in + quad * s[i];
                const float mQ = quad * c[i] - in * s[i];
                m[i] = std::sqrt(mI * mI + mQ * mQ);
            }
            AmEnvelope(m, count, static_cast<double>(kamp), *mean, y + at);
        }
        return fromLibrary;
    }
    const int32_t groups = n / kGroup;
    const __m512d gain = _mm512_set1_pd(static_cast<double>(kamp));
    alignas(32) float magnitude[3][kGroup]; // ring of three groups
    alignas(64) double share[3][kGroup];    // 0.01·m, which does not wait for the mean
    alignas(32) float means[3][kGroup];
    int32_t fromLibrary = 0;
    float average = *mean;
    double p = PhasesWithoutBranches(*phase, increment, wrap, kGroup, phases);
    for (int32_t r = 0; r < groups + 2; ++r)
    {
        if (r + 1 < groups)
            p = PhasesWithoutBranches(p, increment, wrap, kGroup, phases + (r + 1) * kGroup);
        if (r < groups)
        {
            const int32_t at = r * kGroup;
            __m256 s;
            __m256 c;
            const __mmask8 ok = SinCos8(_mm512_loadu_pd(phases + at), s, c);
            if (ok != 0xFF)
            {
                alignas(32) float sv[kGroup];
                alignas(32) float cv[kGroup];
                _mm256_store_ps(sv, s);
                _mm256_store_ps(cv, c);
                fromLibrary += Redo(static_cast<uint8_t>(~ok), phases + at, sv, cv);
                s = _mm256_load_ps(sv);
                c = _mm256_load_ps(cv);
            }
            const __m256 in = _mm256_loadu_ps(I + at);
            const __m256 quad = _mm256_loadu_ps(Q + at);
            const __m256 mI = _mm256_add_ps(_mm256_mul_ps(c, in), _mm256_mul_ps(quad, s));
            const __m256 mQ = _mm256_sub_ps(_mm256_mul_ps(quad, c), _mm256_mul_ps(in, s));
            const __m256 m =
                _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(mI, mI), _mm256_mul_ps(mQ, mQ)));
            _mm256_store_ps(magnitude[r % 3], m);
            _mm512_store_pd(share[r % 3], _mm512_mul_pd(_mm512_set1_pd(0.01), _mm512_cvtps_pd(m)));
        }
        if (r >= 1 && r - 1 < groups)
        {
            const double* a = share[(r - 1) % 3];
            float* out = means[(r - 1) % 3];
            for (int k = 0; k < kGroup; ++k)
            {
                average = static_cast<float>(a[k] + 0.99 * static_cast<double>(average));
                if (average == 0.0f)
                    average = 1.0f;
                out[k] = average;
            }
        }
        if (r >= 2)
        {
            const int32_t g = r - 2;
            const __m256 ratio =
                _mm256_div_ps(_mm256_load_ps(magnitude[g % 3]), _mm256_load_ps(means[g % 3]));
            const __m512d value =
                _mm512_mul_pd(_mm512_sub_pd(_mm512_cvtps_pd(ratio), _mm512_set1_pd(1.0)), gain);
            _mm256_storeu_ps(y + g * kGroup, _mm512_cvtpd_ps(value));
        }
    }
    *phase = p;
    *mean = average;
    const int32_t done = groups * kGroup;
    if (done < n)
    {
        float s[kGroup];
        float c[kGroup];
        float m[kGroup];
        const int32_t count = n - done;
        fromLibrary += Oscillate(phase, increment, wrap, count, phases + done, s, c);
        for (int32_t i = 0; i < count; ++i)
        {
            const float in = I[done + i];
            const float quad = Q[done + i];
            const float mI = c[i] * in + quad * s[i];
            const float mQ = quad * c[i] - in * s[i];
            m[i] = std::sqrt(mI * mI + mQ * mQ);
        }
        AmEnvelope(m, count, static_cast<double>(kamp), *mean, y + done);
    }
    return fromLibrary;
}

void FmDiscriminate(const float* I, const float* Q, int32_t n, float kamp, float* prev, float* y)
{
    // Lane 15 of prevU / prevV holds the previous element's (u, v).
    __m512 prevU = _mm512_set1_ps(prev[0]);
    __m512 prevV = _mm512_set1_ps(prev[1]);
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 gain = _mm512_set1_ps(kamp);
    for (int32_t i = 0; i < n; i += 16)
    {
        const int32_t count = n - i < 16 ? n - i : 16;
        const __mmask16 mask = count == 16 ? kAll : TailMask(count);
        const __m512 in = _mm512_maskz_loadu_ps(mask, I + i);
        const __m512 quad = _mm512_maskz_loadu_ps(mask, Q + i);
        __m512 m = _mm512_sqrt_ps(_mm512_add_ps(_mm512_mul_ps(in, in), _mm512_mul_ps(quad, quad)));
        m = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(m, _mm512_setzero_ps(), _CMP_EQ_OQ), m, one);
        const __m512 u = _mm512_div_ps(in, m);
        const __m512 v = _mm512_div_ps(quad, m);
        // The previous (u, v) of every lane: lane 15 of the last round, then lanes 0..14.
        const __m512 pu = _mm512_castsi512_ps(
            _mm512_alignr_epi32(_mm512_castps_si512(u), _mm512_castps_si512(prevU), 15));
        const __m512 pv = _mm512_castsi512_ps(
            _mm512_alignr_epi32(_mm512_castps_si512(v), _mm512_castps_si512(prevV), 15));
        const __m512 value =
            _mm512_mul_ps(_mm512_sub_ps(_mm512_mul_ps(pv, u), _mm512_mul_ps(pu, v)), gain);
        _mm512_mask_storeu_ps(y + i, mask, value);
        if (count < 16)
        {
            // The last element becomes lane 15.
            const __m512i last = _mm512_set1_epi32(count - 1);
            prevU = Permute(last, u);
            prevV = Permute(last, v);
        }
        else
        {
            prevU = u;
            prevV = v;
        }
    }
    alignas(64) float lastU[16];
    alignas(64) float lastV[16];
    _mm512_store_ps(lastU, prevU);
    _mm512_store_ps(lastV, prevV);
    if (n > 0)
    {
        prev[0] = lastU[15];
        prev[1] = lastV[15];
    }
}

} // namespace

KernelTable Avx512Kernels()
{
    KernelTable table = Avx2Kernels();
    table.isa = Isa::Avx512;
    table.name = "avx512";
    table.dot = Dot;
    table.dotComplex = DotComplex;
    table.firBlock = FirBlock;
    table.firBlockOddTaps = FirBlockOddTaps;
    table.dotPair = DotPair;
    table.dotPairTwice = DotPairTwice;
    table.sinCos = SinCos;
    table.oscillate = Oscillate;
    table.amDemodulate = AmDemodulate;
    table.mix = Mix;
    table.storeReversed = StoreReversed;
    table.deinterleave = Deinterleave;
    table.fmDiscriminate = FmDiscriminate;
    return table;
}

} // namespace sigkit::kernels

#endif
