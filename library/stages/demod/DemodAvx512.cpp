// The demodulators' formulas in AVX-512 registers: AM as a pipeline of the oscillator, mixer,
// magnitudes and running mean over groups of 8 samples, and the FM discriminator 16 elements at a
// time. Compiled with -mavx512f only (no FMA): the scalar forms' bits.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/demod/AmEnvelope.h"
#include "stages/demod/DemodVariants.h"
#include "stages/kernels/Kernels.h"
#include "stages/kernels/SinCosAvx512.h"

#include <immintrin.h>

#include <cmath>

namespace sigkit::demod {

namespace {

using kernels::avx512::Redo;
using kernels::avx512::SinCos8;

constexpr __mmask16 kAll = 0xFFFF;

__mmask16 TailMask(int32_t count)
{
    return static_cast<__mmask16>((1u << count) - 1u); // count 0..15
}

__m512 Permute(__m512i index, __m512 v)
{
    return _mm512_maskz_permutexvar_ps(kAll, index, v);
}

// The kernels' AVX-512 oscillator, for the groups that do not fill the pipeline.
const kernels::KernelTable& Oscillator()
{
    static const kernels::KernelTable& table = *kernels::TableFor(kernels::Isa::Avx512);
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

// A four-stage pipeline over groups of 8 samples. Round r: the phases of group r + 1 (a short
// chain), the sines, cosines, mixer and magnitudes of group r (vector work), the running mean
// over group r - 1 (the long chain, kept to the few operations that depend on the previous mean)
// and the envelope values of group r - 2 (vector work again). No stage waits for another of the
// same round, and no branch that could be mispredicted interrupts them: the two chains and the
// vector work run side by side. The mean's steps are placed half before and half after the sines
// and cosines, so that the processor finds the chain's next steps among the vector work instead
// of behind all of it.
int32_t AmDemodulateAvx512(const float* I, const float* Q, int32_t n, double* phase,
                           double increment, double wrap, float kamp, float* mean, double* phases,
                           float* y)
{
    if (*mean == 0.0f && n >= 3 * kGroup + kGroup)
    {
        // A new stream: its first group by the definition, whose check turns a mean of 0 into 1.
        const int32_t fromLibrary =
            AmGroup(I, Q, kGroup, phase, increment, wrap, kamp, mean, phases, y);
        return fromLibrary + AmDemodulateAvx512(I + kGroup, Q + kGroup, n - kGroup, phase,
                                                increment, wrap, kamp, mean, phases + kGroup,
                                                y + kGroup);
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
    const __m512d gain = _mm512_set1_pd(static_cast<double>(kamp));
    alignas(32) float magnitude[3][kGroup]; // ring of three groups
    alignas(64) double share[3][kGroup];    // kMeanNew·m, which does not wait for the mean
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
            if (r >= 1)
                MeanStepsAfterStart(share[(r - 1) % 3], means[(r - 1) % 3], 0, kGroup / 2, average);
            const __mmask8 ok = SinCos8(_mm512_loadu_pd(phases + at), s, c);
            if (r >= 1)
                MeanStepsAfterStart(share[(r - 1) % 3], means[(r - 1) % 3], kGroup / 2, kGroup,
                                    average);
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
            _mm512_store_pd(share[r % 3],
                            _mm512_mul_pd(_mm512_set1_pd(kMeanNew), _mm512_cvtps_pd(m)));
        }
        if (r == groups)
            MeanStepsAfterStart(share[(r - 1) % 3], means[(r - 1) % 3], 0, kGroup, average);
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
        fromLibrary += AmGroup(I + done, Q + done, n - done, phase, increment, wrap, kamp, mean,
                               phases + done, y + done);
    return fromLibrary;
}

void FmDiscriminateAvx512(const float* I, const float* Q, int32_t n, float kamp, float* prev,
                          float* y)
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

} // namespace sigkit::demod

#endif
