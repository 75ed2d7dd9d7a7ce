#pragma once

// The sine and cosine of 4 double-precision phases at a time in AVX2 registers, for the files
// compiled with -mavx2 alone (the kernels' variant and the demodulators' vector forms): the
// reduction, the polynomials and the rounding check of SinCosCheck.h.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/kernels/SinCosCheck.h"

#include <immintrin.h>

#include <cstdint>

namespace sigkit::kernels::avx2 {

inline __m256d Splat(double value)
{
    return _mm256_set1_pd(value);
}

inline __m256i Splat64(int64_t value)
{
    return _mm256_set1_epi64x(value);
}

inline __m256d Abs(__m256d v)
{
    return _mm256_andnot_pd(Splat(-0.0), v);
}

// All-ones lanes where the double's low 29 bits lie more than the margin from a float midpoint.
inline __m256i FarFromBoundary(__m256d v)
{
    using namespace sincos;
    const __m256i t = _mm256_and_si256(
        _mm256_sub_epi64(_mm256_castpd_si256(v), Splat64(kNearStart)), Splat64(kLowBits));
    return _mm256_cmpgt_epi64(t, Splat64(2 * kMarginUlps));
}

// Four lanes; result: bit l set when lane l's floats are final.
__attribute__((always_inline)) inline int SinCos4(__m256d x, __m128& sOut, __m128& cOut)
{
    using namespace sincos;
    const __m256d k = _mm256_round_pd(_mm256_mul_pd(x, Splat(kTwoOverPi)),
                                      _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m256d r = _mm256_sub_pd(x, _mm256_mul_pd(k, Splat(kHalfPi1)));
    r = _mm256_sub_pd(r, _mm256_mul_pd(k, Splat(kHalfPi2)));
    r = _mm256_sub_pd(r, _mm256_mul_pd(k, Splat(kHalfPi3)));
    r = _mm256_sub_pd(r, _mm256_mul_pd(k, Splat(kHalfPi4)));
    const __m256d z = _mm256_mul_pd(r, r);

    __m256d ps = _mm256_add_pd(Splat(kSin[4]), _mm256_mul_pd(z, Splat(kSin[5])));
    ps = _mm256_add_pd(Splat(kSin[3]), _mm256_mul_pd(z, ps));
    ps = _mm256_add_pd(Splat(kSin[2]), _mm256_mul_pd(z, ps));
    ps = _mm256_add_pd(Splat(kSin[1]), _mm256_mul_pd(z, ps));
    ps = _mm256_add_pd(Splat(kSin[0]), _mm256_mul_pd(z, ps));
    const __m256d sinR = _mm256_add_pd(r, _mm256_mul_pd(_mm256_mul_pd(r, z), ps));

    __m256d pc = _mm256_add_pd(Splat(kCos[4]), _mm256_mul_pd(z, Splat(kCos[5])));
    pc = _mm256_add_pd(Splat(kCos[3]), _mm256_mul_pd(z, pc));
    pc = _mm256_add_pd(Splat(kCos[2]), _mm256_mul_pd(z, pc));
    pc = _mm256_add_pd(Splat(kCos[1]), _mm256_mul_pd(z, pc));
    pc = _mm256_add_pd(Splat(kCos[0]), _mm256_mul_pd(z, pc));
    const __m256d cosR = _mm256_add_pd(_mm256_sub_pd(Splat(1.0), _mm256_mul_pd(Splat(0.5), z)),
                                       _mm256_mul_pd(_mm256_mul_pd(z, z), pc));

    // Quadrant q = k mod 4: sin = (sinR, cosR, -sinR, -cosR)[q], cos = (cosR, -sinR, -cosR,
    // sinR)[q].
    const __m256i q = _mm256_castpd_si256(_mm256_add_pd(k, Splat(kRoundingShift)));
    const __m256d swap =
        _mm256_castsi256_pd(_mm256_cmpeq_epi64(_mm256_and_si256(q, Splat64(1)), Splat64(1)));
    const __m256i sinSign = _mm256_slli_epi64(_mm256_and_si256(q, Splat64(2)), 62);
    const __m256i cosSign =
        _mm256_slli_epi64(_mm256_and_si256(_mm256_add_epi64(q, Splat64(1)), Splat64(2)), 62);
    __m256d s = _mm256_xor_pd(_mm256_blendv_pd(sinR, cosR, swap), _mm256_castsi256_pd(sinSign));
    __m256d c = _mm256_xor_pd(_mm256_blendv_pd(cosR, sinR, swap), _mm256_castsi256_pd(cosSign));

    const __m256d ok =
        _mm256_castsi256_pd(_mm256_and_si256(FarFromBoundary(s), FarFromBoundary(c)));
    const __m256d magnitude = Abs(x);
    const __m256d inRange =
        _mm256_and_pd(_mm256_cmp_pd(magnitude, Splat(kSinCosLimit), _CMP_LE_OQ),
                      _mm256_cmp_pd(magnitude, Splat(kSmallestPhase), _CMP_GE_OQ));
    const __m256d zero = _mm256_cmp_pd(x, _mm256_setzero_pd(), _CMP_EQ_OQ);
    s = _mm256_blendv_pd(s, x, zero);
    c = _mm256_blendv_pd(c, Splat(1.0), zero);
    sOut = _mm256_cvtpd_ps(s);
    cOut = _mm256_cvtpd_ps(c);
    return _mm256_movemask_pd(_mm256_or_pd(_mm256_and_pd(inRange, ok), zero));
}

} // namespace sigkit::kernels::avx2

#endif
