// AVX-512 variant of the dot products: the 16 partial sums fill one register. Compiled with
// -mavx512f only (no FMA contraction); the sample conversions are the AVX2 ones.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/kernels/Variants.h"

#include <immintrin.h>

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

} // namespace

KernelTable Avx512Kernels()
{
    KernelTable table = Avx2Kernels();
    table.isa = Isa::Avx512;
    table.name = "avx512";
    table.dot = Dot;
    table.dotComplex = DotComplex;
    return table;
}

} // namespace sigkit::kernels

#endif
