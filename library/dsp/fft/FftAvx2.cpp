// AVX2 variant of the FFT loops: eight butterflies side by side. Compiled with -mavx2 only (no
// FMA): every multiply and add stays separate, so the results are the scalar variant's bits.
#if defined(__x86_64__) || defined(__i386__)

#include "dsp/fft/FftLoops.h"
#include "dsp/fft/FftVariants.h"

#include <immintrin.h>

namespace sigkit::fft {

namespace {

struct Avx2Lanes
{
    using T = __m256;
    static constexpr int32_t kWidth = 8;
    // The loaded value stays in a register: GCC otherwise folds a load into every operation
    // that uses it, loading each value twice in a butterfly.
    static T Load(const float* p)
    {
        T v = _mm256_loadu_ps(p);
        asm("" : "+x"(v));
        return v;
    }
    static void Store(float* p, T v) { _mm256_storeu_ps(p, v); }
    static T Broadcast(float x) { return _mm256_set1_ps(x); }
    static T Add(T a, T b) { return _mm256_add_ps(a, b); }
    static T Sub(T a, T b) { return _mm256_sub_ps(a, b); }
    static T Mul(T a, T b) { return _mm256_mul_ps(a, b); }
    static T Reverse(T v)
    {
        return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
    }
    // out[4e + k] = y[k][e]: a 4 × 4 transpose in each half, then the halves in place.
    static void Spread1(const T (&y)[4], float* out)
    {
        const __m256 t0 = _mm256_unpacklo_ps(y[0], y[1]); // e = 0, 1 | 4, 5 of y0, y1
        const __m256 t1 = _mm256_unpackhi_ps(y[0], y[1]); // e = 2, 3 | 6, 7
        const __m256 t2 = _mm256_unpacklo_ps(y[2], y[3]);
        const __m256 t3 = _mm256_unpackhi_ps(y[2], y[3]);
        const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)); // e = 0 | 4
        const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2)); // e = 1 | 5
        const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)); // e = 2 | 6
        const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2)); // e = 3 | 7
        _mm256_storeu_ps(out, _mm256_permute2f128_ps(u0, u1, 0x20));
        _mm256_storeu_ps(out + 8, _mm256_permute2f128_ps(u2, u3, 0x20));
        _mm256_storeu_ps(out + 16, _mm256_permute2f128_ps(u0, u1, 0x31));
        _mm256_storeu_ps(out + 24, _mm256_permute2f128_ps(u2, u3, 0x31));
    }
    // out[16g + 4k + c] = y[k][4g + c]: the halves of the four registers transposed.
    static void Spread4(const T (&y)[4], float* out)
    {
        _mm256_storeu_ps(out, _mm256_permute2f128_ps(y[0], y[1], 0x20));
        _mm256_storeu_ps(out + 8, _mm256_permute2f128_ps(y[2], y[3], 0x20));
        _mm256_storeu_ps(out + 16, _mm256_permute2f128_ps(y[0], y[1], 0x31));
        _mm256_storeu_ps(out + 24, _mm256_permute2f128_ps(y[2], y[3], 0x31));
    }
    static void Deinterleave(const float* x, T& even, T& odd)
    {
        const __m256 a = _mm256_loadu_ps(x);
        const __m256 b = _mm256_loadu_ps(x + 8);
        // [a0 a2 b0 b2 | a4 a6 b4 b6] with its 64-bit pairs put in order.
        const __m256 e = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 o = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        even =
            _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(e), _MM_SHUFFLE(3, 1, 2, 0)));
        odd = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(o), _MM_SHUFFLE(3, 1, 2, 0)));
    }
    static void Interleave(T even, T odd, float* x)
    {
        const __m256 lo = _mm256_unpacklo_ps(even, odd); // pairs 0, 1 | 4, 5
        const __m256 hi = _mm256_unpackhi_ps(even, odd); // pairs 2, 3 | 6, 7
        _mm256_storeu_ps(x, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_storeu_ps(x + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
};

} // namespace

FftKernels Avx2FftKernels()
{
    return MakeTable<Avx2Lanes>(kernels::Isa::Avx2, "avx2");
}

} // namespace sigkit::fft

#endif
