// AVX2 variant. Compiled with -mavx2 only (no FMA): every multiply and add stays separate, so the
// results are the scalar variant's bits.
#if defined(__x86_64__) || defined(__i386__)

#include "stages/kernels/Variants.h"

#include <immintrin.h>

#include <cstring>

namespace sigkit::kernels {

namespace {

// Lanes j < count set (count 0..8): the mask of a partial load; masked lanes read as +0.0, and
// adding +0.0 to a partial sum leaves it unchanged.
__m256i TailMask(int32_t count)
{
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), lanes);
}

__m256 LoadPart(const float* p, int32_t count)
{
    return count >= 8 ? _mm256_loadu_ps(p) : _mm256_maskload_ps(p, TailMask(count));
}

// Partial sums 0..7 in `low`, 8..15 in `high`; the shared reduction order.
float Reduce(__m256 low, __m256 high)
{
    const __m256 s8 = _mm256_add_ps(low, high);                                             // k < 8
    const __m128 s4 = _mm_add_ps(_mm256_castps256_ps128(s8), _mm256_extractf128_ps(s8, 1)); // k < 4
    const __m128 s2 = _mm_add_ps(s4, _mm_movehl_ps(s4, s4));                                // k < 2
    const __m128 s1 = _mm_add_ss(s2, _mm_shuffle_ps(s2, s2, 1)); // s0 + s1
    return _mm_cvtss_f32(s1);
}

float Dot(const float* a, const float* b, int32_t n)
{
    __m256 low = _mm256_setzero_ps();
    __m256 high = _mm256_setzero_ps();
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
    {
        low = _mm256_add_ps(low, _mm256_mul_ps(_mm256_loadu_ps(a + j), _mm256_loadu_ps(b + j)));
        high = _mm256_add_ps(high,
                             _mm256_mul_ps(_mm256_loadu_ps(a + j + 8), _mm256_loadu_ps(b + j + 8)));
    }
    if (j < n)
    {
        const int32_t rest = n - j;
        low = _mm256_add_ps(low, _mm256_mul_ps(LoadPart(a + j, rest), LoadPart(b + j, rest)));
        if (rest > 8)
            high = _mm256_add_ps(
                high, _mm256_mul_ps(LoadPart(a + j + 8, rest - 8), LoadPart(b + j + 8, rest - 8)));
    }
    return Reduce(low, high);
}

// Taps t0..t7 spread over two registers as t0 t0 t1 t1 t2 t2 t3 t3 and t4 t4 ... t7 t7, so that
// they multiply interleaved (I, Q) samples directly.
struct SpreadTaps
{
    __m256 first, second;
};

SpreadTaps Spread(__m256 t)
{
    const __m256i firstHalf = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    const __m256i secondHalf = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
    return {_mm256_permutevar8x32_ps(t, firstHalf), _mm256_permutevar8x32_ps(t, secondHalf)};
}

// The complex sum keeps (I, Q) of partial sum k side by side: acc[0] holds partial sums 0..3,
// acc[1] 4..7, acc[2] 8..11, acc[3] 12..15, each as I, Q, I, Q, ...
void DotComplex(const float* taps, const float* x, int32_t n, float* iq)
{
    __m256 acc[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(),
                     _mm256_setzero_ps()};
    int32_t j = 0;
    for (; j + 16 <= n; j += 16)
    {
        const float* samples = x + 2 * j;
        const SpreadTaps low = Spread(_mm256_loadu_ps(taps + j));
        const SpreadTaps high = Spread(_mm256_loadu_ps(taps + j + 8));
        acc[0] = _mm256_add_ps(acc[0], _mm256_mul_ps(low.first, _mm256_loadu_ps(samples)));
        acc[1] = _mm256_add_ps(acc[1], _mm256_mul_ps(low.second, _mm256_loadu_ps(samples + 8)));
        acc[2] = _mm256_add_ps(acc[2], _mm256_mul_ps(high.first, _mm256_loadu_ps(samples + 16)));
        acc[3] = _mm256_add_ps(acc[3], _mm256_mul_ps(high.second, _mm256_loadu_ps(samples + 24)));
    }
    // The last 1..15 taps, four at a time into the partial sums they belong to.
    for (int quarter = 0; quarter < 4 && j + 4 * quarter < n; ++quarter)
    {
        const int32_t first = j + 4 * quarter;
        const int32_t count = n - first < 4 ? n - first : 4;
        const __m256 t = LoadPart(taps + first, count);
        const __m256 spread =
            _mm256_permutevar8x32_ps(t, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
        const __m256 samples = LoadPart(x + 2 * first, 2 * count);
        acc[quarter] = _mm256_add_ps(acc[quarter], _mm256_mul_ps(spread, samples));
    }
    const __m256 s8a = _mm256_add_ps(acc[0], acc[2]); // k < 8: partial sums 0..3
    const __m256 s8b = _mm256_add_ps(acc[1], acc[3]); // k < 8: partial sums 4..7
    const __m256 s4 = _mm256_add_ps(s8a, s8b);        // k < 4: I0 Q0 I1 Q1 | I2 Q2 I3 Q3
    const __m128 s2 = _mm_add_ps(_mm256_castps256_ps128(s4), _mm256_extractf128_ps(s4, 1));
    const __m128 s1 = _mm_add_ps(s2, _mm_movehl_ps(s2, s2)); // s0 + s1: I, Q in lanes 0, 1
    iq[0] = _mm_cvtss_f32(s1);
    iq[1] = _mm_cvtss_f32(_mm_shuffle_ps(s1, s1, 1));
}

// ---- Stored samples to floats: 8 per round, the rest by the scalar variant.

using ToFloatFn = void (*)(const uint8_t*, int32_t, float*);
using FromFloatFn = void (*)(const uint8_t*, int32_t, uint8_t*);

const KernelTable& Scalar()
{
    static const KernelTable table = ScalarKernels();
    return table;
}

void Tail(StoredFormat format, const uint8_t* in, int32_t n, float* out)
{
    Scalar().toFloat[static_cast<int>(format)](in, n, out);
}

void Tail(StoredFormat format, const uint8_t* in, int32_t n, uint8_t* out)
{
    Scalar().fromFloat[static_cast<int>(format)](in, n, out);
}

__m128i Load8Bytes(const uint8_t* p)
{
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

void Int8ToFloat(const uint8_t* in, int32_t n, float* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(Load8Bytes(in + i))));
    Tail(StoredFormat::Int8, in + i, n - i, out + i);
}

void UInt8ToFloat(const uint8_t* in, int32_t n, float* out)
{
    const __m256i offset = _mm256_set1_epi32(127);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        // The offset goes in integers, so 127 becomes +0.0 in every rounding mode.
        const __m256i value = _mm256_sub_epi32(_mm256_cvtepu8_epi32(Load8Bytes(in + i)), offset);
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(value));
    }
    Tail(StoredFormat::UInt8, in + i, n - i, out + i);
}

void Int16ToFloat(const uint8_t* in, int32_t n, float* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(raw)));
    }
    Tail(StoredFormat::Int16, in + 2 * i, n - i, out + i);
}

void UInt16ToFloat(const uint8_t* in, int32_t n, float* out)
{
    const __m256i offset = _mm256_set1_epi32(32767);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        const __m256i value = _mm256_sub_epi32(_mm256_cvtepu16_epi32(raw), offset);
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(value));
    }
    Tail(StoredFormat::UInt16, in + 2 * i, n - i, out + i);
}

// Exactly 12 bytes (four 24-bit samples) into the low 12 bytes of a register.
__m128i Load12Bytes(const uint8_t* p)
{
    int32_t last = 0;
    std::memcpy(&last, p + 8, sizeof last);
    return _mm_insert_epi32(Load8Bytes(p), last, 2);
}

void Int24ToFloat(const uint8_t* in, int32_t n, float* out)
{
    // Each sample's three bytes go to the top of a 32-bit lane; the arithmetic shift by 8 then
    // extends the sign.
    const __m256i spread = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,
                                            -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const uint8_t* p = in + 3 * i;
        const __m256i raw = _mm256_set_m128i(Load12Bytes(p + 12), Load12Bytes(p));
        const __m256i value = _mm256_srai_epi32(_mm256_shuffle_epi8(raw, spread), 8);
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(value));
    }
    Tail(StoredFormat::Int24, in + 3 * i, n - i, out + i);
}

// Four 32-bit integers as the nearest floats, halves to even, in any rounding mode: the exact
// doubles are rounded to 24 significant bits on their bit patterns (as the scalar variant does),
// then narrowed exactly.
__m128 NearestFloats(__m128i value)
{
    __m256i bits = _mm256_castpd_si256(_mm256_cvtepi32_pd(value));
    const __m256i odd = _mm256_and_si256(_mm256_srli_epi64(bits, 29), _mm256_set1_epi64x(1));
    bits = _mm256_add_epi64(bits, _mm256_add_epi64(_mm256_set1_epi64x(0x0FFFFFFF), odd));
    bits = _mm256_andnot_si256(_mm256_set1_epi64x(0x1FFFFFFF), bits);
    return _mm256_cvtpd_ps(_mm256_castsi256_pd(bits));
}

void Int32ToFloat(const uint8_t* in, int32_t n, float* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * i));
        const __m128 low = NearestFloats(_mm256_castsi256_si128(raw));
        const __m128 high = NearestFloats(_mm256_extracti128_si256(raw, 1));
        _mm256_storeu_ps(out + i, _mm256_set_m128(high, low));
    }
    Tail(StoredFormat::Int32, in + 4 * i, n - i, out + i);
}

// ---- Floats to stored samples: 8 per round, rounded and limited into 32-bit lanes, then packed.

constexpr int kRoundEven = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;

// NaN lanes become +0.0.
__m256 LoadValues(const uint8_t* p)
{
    const __m256 x = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
    return _mm256_and_ps(x, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
}

// round(x), halves to even, limited to [lo, hi] (both exact floats), as 32-bit integers.
__m256i SignedLanes(__m256 x, float lo, float hi)
{
    __m256 r = _mm256_round_ps(x, kRoundEven);
    r = _mm256_min_ps(_mm256_max_ps(r, _mm256_set1_ps(lo)), _mm256_set1_ps(hi));
    return _mm256_cvttps_epi32(r);
}

// round(x + offset), halves to even, limited to [0, hi], for an odd offset. With r = round(x)
// (even at a half) and d = x - r (exact), the stored value is r + offset, except at a half
// (|d| = 0.5) where r + offset is odd and the even neighbour r + offset + 2d is taken. x is
// first limited to one beyond the reachable range, where r + offset stays exact.
__m256i UnsignedLanes(__m256 x, float offset, float hi)
{
    x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-offset - 1.0f)),
                      _mm256_set1_ps(hi - offset + 1.0f));
    const __m256 r = _mm256_round_ps(x, kRoundEven);
    const __m256 d = _mm256_sub_ps(x, r);
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), d);
    const __m256 half = _mm256_cmp_ps(magnitude, _mm256_set1_ps(0.5f), _CMP_EQ_OQ);
    const __m256 step = _mm256_and_ps(half, _mm256_add_ps(d, d));
    __m256 y = _mm256_add_ps(_mm256_add_ps(r, _mm256_set1_ps(offset)), step);
    y = _mm256_min_ps(_mm256_max_ps(y, _mm256_setzero_ps()), _mm256_set1_ps(hi));
    return _mm256_cvttps_epi32(y);
}

// 8 lanes of 16-bit values (already in range) in order.
__m128i Pack16(__m256i lanes, bool isSigned)
{
    const __m128i low = _mm256_castsi256_si128(lanes);
    const __m128i high = _mm256_extracti128_si256(lanes, 1);
    return isSigned ? _mm_packs_epi32(low, high) : _mm_packus_epi32(low, high);
}

void FloatToInt8(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words = Pack16(SignedLanes(LoadValues(in + 4 * i), -128.0f, 127.0f), true);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi16(words, words));
    }
    Tail(StoredFormat::Int8, in + 4 * i, n - i, out + i);
}

void FloatToUInt8(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words = Pack16(UnsignedLanes(LoadValues(in + 4 * i), 127.0f, 255.0f), false);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(words, words));
    }
    Tail(StoredFormat::UInt8, in + 4 * i, n - i, out + i);
}

void FloatToInt16(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words =
            Pack16(SignedLanes(LoadValues(in + 4 * i), -32768.0f, 32767.0f), true);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), words);
    }
    Tail(StoredFormat::Int16, in + 4 * i, n - i, out + 2 * i);
}

void FloatToUInt16(const uint8_t* in, int32_t n, uint8_t* out)
{
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m128i words =
            Pack16(UnsignedLanes(LoadValues(in + 4 * i), 32767.0f, 65535.0f), false);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), words);
    }
    Tail(StoredFormat::UInt16, in + 4 * i, n - i, out + 2 * i);
}

// The low 12 bytes of a register, exactly.
void Store12Bytes(uint8_t* p, __m128i bytes)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), bytes);
    const int32_t last = _mm_extract_epi32(bytes, 2);
    std::memcpy(p + 8, &last, sizeof last);
}

void FloatToInt24(const uint8_t* in, int32_t n, uint8_t* out)
{
    // The low three bytes of each 32-bit lane, packed into the low 12 bytes of each half.
    const __m256i gather = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        const __m256i lanes = SignedLanes(LoadValues(in + 4 * i), -8388608.0f, 8388607.0f);
        const __m256i packed = _mm256_shuffle_epi8(lanes, gather);
        Store12Bytes(out + 3 * i, _mm256_castsi256_si128(packed));
        Store12Bytes(out + 3 * i + 12, _mm256_extracti128_si256(packed, 1));
    }
    Tail(StoredFormat::Int24, in + 4 * i, n - i, out + 3 * i);
}

void FloatToInt32(const uint8_t* in, int32_t n, uint8_t* out)
{
    const __m256 top = _mm256_set1_ps(2147483648.0f); // 2^31, the first value beyond the range
    int32_t i = 0;
    for (; i + 8 <= n; i += 8)
    {
        __m256 r = _mm256_round_ps(LoadValues(in + 4 * i), kRoundEven);
        r = _mm256_max_ps(r, _mm256_set1_ps(-2147483648.0f));
        const __m256 over = _mm256_cmp_ps(r, top, _CMP_GE_OQ);
        // Lanes at 2^31 or above convert to 0x80000000; they take the top of the range instead.
        __m256i lanes = _mm256_cvttps_epi32(_mm256_min_ps(r, top));
        lanes = _mm256_blendv_epi8(lanes, _mm256_set1_epi32(INT32_MAX), _mm256_castps_si256(over));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), lanes);
    }
    Tail(StoredFormat::Int32, in + 4 * i, n - i, out + 4 * i);
}

} // namespace

KernelTable Avx2Kernels()
{
    return KernelTable{
        Isa::Avx2,
        "avx2",
        Dot,
        DotComplex,
        {Int8ToFloat, UInt8ToFloat, Int16ToFloat, UInt16ToFloat, Int24ToFloat, Int32ToFloat},
        {FloatToInt8, FloatToUInt8, FloatToInt16, FloatToUInt16, FloatToInt24, FloatToInt32},
    };
}

} // namespace sigkit::kernels

#endif
