// The demodulators' formulas compiled for AVX2: AM from the AVX2 oscillator and mixer a piece at a
// time, and the FM discriminator in AVX2 registers, 8 elements per round, the rest one by one with
// the same operations. Compiled with -mavx2 only (no FMA): the scalar forms' bits.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/demod/AmPieces.h"
#include "stages/demod/DemodVariants.h"

#include <immintrin.h>

#include <cmath>

namespace sigkit::demod {

int32_t AmDemodulateAvx2(const float* I, const float* Q, int32_t n, double* phase, double increment,
                         double wrap, float kamp, float* mean, double* phases, float* y)
{
    static const kernels::KernelTable& table = *kernels::TableFor(kernels::Isa::Avx2);
    return AmInPieces(table, I, Q, n, phase, increment, wrap, kamp, mean, phases, y);
}

void FmDiscriminateAvx2(const float* I, const float* Q, int32_t n, float kamp, float* prev,
                        float* y)
{
    const __m256i back = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6); // lane l takes lane l - 1
    __m256 prevU = _mm256_set1_ps(prev[0]); // lane 7: the previous element's u
    __m256 prevV = _mm256_set1_ps(prev[1]);
    const __m256 gain = _mm256_set1_ps(kamp);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m256 in = _mm256_loadu_ps(I + i);
        const __m256 quad = _mm256_loadu_ps(Q + i);
        __m256 m = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(in, in), _mm256_mul_ps(quad, quad)));
        m = _mm256_blendv_ps(m, _mm256_set1_ps(1.0f),
                             _mm256_cmp_ps(m, _mm256_setzero_ps(), _CMP_EQ_OQ));
        const __m256 u = _mm256_div_ps(in, m);
        const __m256 v = _mm256_div_ps(quad, m);
        const __m256 pu = _mm256_blend_ps(_mm256_permutevar8x32_ps(u, back),
                                          _mm256_permutevar8x32_ps(prevU, back), 0x01);
        const __m256 pv = _mm256_blend_ps(_mm256_permutevar8x32_ps(v, back),
                                          _mm256_permutevar8x32_ps(prevV, back), 0x01);
        _mm256_storeu_ps(
            y + i, _mm256_mul_ps(_mm256_sub_ps(_mm256_mul_ps(pv, u), _mm256_mul_ps(pu, v)), gain));
        prevU = u;
        prevV = v;
    }
    alignas(32) float lastU[8];
    alignas(32) float lastV[8];
    _mm256_store_ps(lastU, prevU);
    _mm256_store_ps(lastV, prevV);
    float prevI = lastU[7];
    float prevQ = lastV[7];
    for (; i < n; ++i)
    {
        float m = std::sqrt(I[i] * I[i] + Q[i] * Q[i]);
        if (m == 0.0f)
            m = 1.0f;
        const float u = I[i] / m;
        const float v = Q[i] / m;
        y[i] = (prevQ * u - prevI * v) * kamp;
        prevI = u;
        prevQ = v;
    }
    prev[0] = prevI;
    prev[1] = prevQ;
}

} // namespace sigkit::demod

#endif
