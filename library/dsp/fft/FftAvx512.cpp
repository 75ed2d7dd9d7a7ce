// AVX-512 variant of the FFT loops: sixteen butterflies side by side. Compiled with -mavx512f and
// -ffp-contract=off: every multiply and add stays separate, so the results are the scalar
// variant's bits.
#if defined(__x86_64__) || defined(__i386__)

#include "dsp/fft/FftLoops.h"
#include "dsp/fft/FftVariants.h"

#include <immintrin.h>

// GCC 12's AVX-512 headers fill the unused lanes of some intrinsics with an "undefined" value
// that its own -Wmaybe-uninitialized then reports at every use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace sigkit::fft {

namespace {

struct Avx512Lanes
{
    using T = __m512;
    static constexpr int32_t kWidth = 16;
    // The loaded value stays in a register: GCC otherwise folds a load into every operation
    // that uses it, loading each value twice in a butterfly.
    static T Load(const float* p)
    {
        T v = _mm512_loadu_ps(p);
        asm("" : "+v"(v));
        return v;
    }
    static void Store(float* p, T v) { _mm512_storeu_ps(p, v); }
    static T Broadcast(float x) { return _mm512_set1_ps(x); }
    static T Add(T a, T b) { return _mm512_add_ps(a, b); }
    static T Sub(T a, T b) { return _mm512_sub_ps(a, b); }
    static T Mul(T a, T b) { return _mm512_mul_ps(a, b); }
    static T Reverse(T v)
    {
        const __m512i order =
            _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
        return _mm512_permutexvar_ps(order, v);
    }
    // Memory register g of four 128-bit quarters: quarter g of u0, u1, u2, u3.
    static void StoreQuarters(__m512 u0, __m512 u1, __m512 u2, __m512 u3, float* out)
    {
        const __m512 a =
            _mm512_shuffle_f32x4(u0, u1, _MM_SHUFFLE(1, 0, 1, 0)); // u0 q0 q1, u1 q0 q1
        const __m512 b = _mm512_shuffle_f32x4(u2, u3, _MM_SHUFFLE(1, 0, 1, 0));
        const __m512 c =
            _mm512_shuffle_f32x4(u0, u1, _MM_SHUFFLE(3, 2, 3, 2)); // u0 q2 q3, u1 q2 q3
        const __m512 d = _mm512_shuffle_f32x4(u2, u3, _MM_SHUFFLE(3, 2, 3, 2));
        _mm512_storeu_ps(out, _mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm512_storeu_ps(out + 16, _mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        _mm512_storeu_ps(out + 32, _mm512_shuffle_f32x4(c, d, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm512_storeu_ps(out + 48, _mm512_shuffle_f32x4(c, d, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    // out[4e + k] = y[k][e]: a 4 × 4 transpose in each quarter (quarter g of u_r then holds
    // element 4g + r), then the quarters.
    static void Spread1(const T (&y)[4], float* out)
    {
        const __m512 t0 = _mm512_unpacklo_ps(y[0], y[1]);
        const __m512 t1 = _mm512_unpackhi_ps(y[0], y[1]);
        const __m512 t2 = _mm512_unpacklo_ps(y[2], y[3]);
        const __m512 t3 = _mm512_unpackhi_ps(y[2], y[3]);
        StoreQuarters(_mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)),
                      _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2)),
                      _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)),
                      _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2)), out);
    }
    // out[16g + 4k + c] = y[k][4g + c].
    static void Spread4(const T (&y)[4], float* out) { StoreQuarters(y[0], y[1], y[2], y[3], out); }
    static void Deinterleave(const float* x, T& even, T& odd)
    {
        const __m512 a = _mm512_loadu_ps(x);
        const __m512 b = _mm512_loadu_ps(x + 16);
        even = _mm512_permutex2var_ps(
            a, _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30), b);
        odd = _mm512_permutex2var_ps(
            a, _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31), b);
    }
    static void Interleave(T even, T odd, float* x)
    {
        _mm512_storeu_ps(x, _mm512_permutex2var_ps(even,
                                                   _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4,
                                                                     20, 5, 21, 6, 22, 7, 23),
                                                   odd));
        _mm512_storeu_ps(x + 16,
                         _mm512_permutex2var_ps(even,
                                                _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12,
                                                                  28, 13, 29, 14, 30, 15, 31),
                                                odd));
    }
};

} // namespace

FftKernels Avx512FftKernels()
{
    return MakeTable<Avx512Lanes>(kernels::Isa::Avx512, "avx512");
}

} // namespace sigkit::fft

#endif
