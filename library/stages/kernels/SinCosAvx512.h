#pragma once

// The sine and cosine of 8 double-precision phases at a time in AVX-512 registers, for the files
// compiled with -mavx512f alone (the kernels' variant and the demodulators' vector forms): the
// reduction, the polynomials and the rounding check of SinCosCheck.h.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/kernels/SinCosCheck.h"

#include <immintrin.h>

#include <cstdint>

// GCC 12's AVX-512 headers fill the unused lanes of many intrinsics with an "undefined" value
// that its own -Wmaybe-uninitialized and -Wuninitialized then report at every use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace sigkit::kernels::avx512 {

inline __m512d Splat(double value)
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
inline int32_t Redo(unsigned lanes, const double* phase, float* s, float* c)
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

} // namespace sigkit::kernels::avx512

#endif
