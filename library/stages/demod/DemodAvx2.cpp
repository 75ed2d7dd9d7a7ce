// The demodulators' formulas compiled for AVX2: AM as a pipeline of the oscillator, mixer,
// magnitudes and running mean over groups of 8 samples, and the FM discriminator in AVX2
// registers, 8 elements per round, the rest one by one with the same operations. Compiled with
// -mavx2 only (no FMA): the scalar forms' bits.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/demod/AmEnvelope.h"
#include "stages/demod/DemodVariants.h"
#include "stages/kernels/Kernels.h"
#include "stages/kernels/SinCosAvx2.h"

#include <immintrin.h>

#include <cmath>

namespace sigkit::demod {

namespace {

using kernels::avx2::SinCos4;

// The kernels' AVX2 oscillator, for the groups that do not fill the pipeline.
const kernels::KernelTable& Oscillator()
{
    static const kernels::KernelTable& table = *kernels::TableFor(kernels::Isa::Avx2);
    return table;
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

constexpr int32_t kGroup = 8;

// Up to a group of samples step by step: the oscillator, the mixer, the magnitudes and the
// envelope.
int32_t AmGroup(const float* I, const float* Q, int32_t count, double* phase, double increment,
                double wrap, float kamp, float* mean, double* phases, float* y)
{
    float s[kGroup];
    float c[kGroup];
    float m[kGroup];
    const int32_t fromLibrary = Oscillator().oscillate(phase, increment, wrap, count, phases, s, c);
    for (int32_t i = 0; i < count; ++i)
    {
        const float mI = c[i] * I[i] + Q[i] * s[i];
        const float mQ = Q[i] * c[i] - I[i] * s[i];
        m[i] = std::sqrt(mI * mI + mQ * mQ);
    }
    AmEnvelope(m, count, static_cast<double>(kamp), *mean, y);
    return fromLibrary;
}

} // namespace

// A four-stage pipeline over groups of 8 samples, as the AVX-512 form runs it. Round r: the
// phases of group r + 1 (a short chain), the sines, cosines, mixer and magnitudes of group r
// (vector work), the running mean over group r - 1 (the long chain, kept to the few operations
// that depend on the previous mean) and the envelope values of group r - 2 (vector work again).
// No stage waits for another of the same round, and no branch that could be mispredicted
// interrupts them: the two chains and the vector work run side by side. The mean's steps are
// placed half after each set of sines and cosines, so that the processor finds the chain's next
// steps among the vector work instead of behind all of it.
int32_t AmDemodulateAvx2(const float* I, const float* Q, int32_t n, double* phase, double increment,
                         double wrap, float kamp, float* mean, double* phases, float* y)
{
    if (*mean == 0.0f && n >= 3 * kGroup + kGroup)
    {
        // A new stream: its first group by the definition, whose check turns a mean of 0 into 1.
        const int32_t fromLibrary =
            AmGroup(I, Q, kGroup, phase, increment, wrap, kamp, mean, phases, y);
        return fromLibrary + AmDemodulateAvx2(I + kGroup, Q + kGroup, n - kGroup, phase, increment,
                                              wrap, kamp, mean, phases + kGroup, y + kGroup);
    }
    if (!kernels::DefaultFloatEnvironment() || n < 3 * kGroup || *mean == 0.0f)
    {
        // The same steps one group at a time (the sines and cosines from the standard library
        // in another floating-point environment).
        int32_t fromLibrary = 0;
        for (int32_t at = 0; at < n; at += kGroup)
            fromLibrary += AmGroup(I + at, Q + at, n - at < kGroup ? n - at : kGroup, phase,
                                   increment, wrap, kamp, mean, phases + at, y + at);
        return fromLibrary;
    }
    const int32_t groups = n / kGroup;
    const __m256d gain = _mm256_set1_pd(static_cast<double>(kamp));
    const __m256d share = _mm256_set1_pd(kMeanNew);
    alignas(32) float magnitude[3][kGroup]; // ring of three groups
    alignas(32) double shares[3][kGroup];   // kMeanNew·m, which does not wait for the mean
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
            __m128 s0;
            __m128 c0;
            __m128 s1;
            __m128 c1;
            const int ok0 = SinCos4(_mm256_loadu_pd(phases + at), s0, c0);
            if (r >= 1)
                MeanStepsAfterStart(shares[(r - 1) % 3], means[(r - 1) % 3], 0, kGroup / 2,
                                    average);
            const int ok1 = SinCos4(_mm256_loadu_pd(phases + at + 4), s1, c1);
            if (r >= 1)
                MeanStepsAfterStart(shares[(r - 1) % 3], means[(r - 1) % 3], kGroup / 2, kGroup,
                                    average);
            __m256 s = _mm256_set_m128(s1, s0);
            __m256 c = _mm256_set_m128(c1, c0);
            const unsigned redo = ~static_cast<unsigned>(ok0 | (ok1 << 4)) & 0xFFu;
            if (redo != 0)
            {
                alignas(32) float sv[kGroup];
                alignas(32) float cv[kGroup];
                _mm256_store_ps(sv, s);
                _mm256_store_ps(cv, c);
                for (unsigned lanes = redo; lanes != 0; lanes &= lanes - 1)
                {
                    const int l = __builtin_ctz(lanes);
                    fromLibrary += kernels::LibmSinCos(phases + at + l, 1, sv + l, cv + l);
                }
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
            _mm256_store_pd(shares[r % 3],
                            _mm256_mul_pd(share, _mm256_cvtps_pd(_mm256_castps256_ps128(m))));
            _mm256_store_pd(shares[r % 3] + 4,
                            _mm256_mul_pd(share, _mm256_cvtps_pd(_mm256_extractf128_ps(m, 1))));
        }
        if (r == groups)
            MeanStepsAfterStart(shares[(r - 1) % 3], means[(r - 1) % 3], 0, kGroup, average);
        if (r >= 2)
        {
            const int32_t g = r - 2;
            const __m256 ratio =
                _mm256_div_ps(_mm256_load_ps(magnitude[g % 3]), _mm256_load_ps(means[g % 3]));
            const __m256d one = _mm256_set1_pd(1.0);
            const __m256d low = _mm256_mul_pd(
                _mm256_sub_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(ratio)), one), gain);
            const __m256d high = _mm256_mul_pd(
                _mm256_sub_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(ratio, 1)), one), gain);
            _mm256_storeu_ps(y + g * kGroup,
                             _mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low)));
        }
    }
    *phase = p;
    *mean = average;
    const int32_t done = groups * kGroup;
    if (done < n)
        fromLibrary += AmGroup(I + done, Q + done, n - done, phase, increment, wrap, kamp, mean,
                               phases + done, y + done);
    return fromLibrary;
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
