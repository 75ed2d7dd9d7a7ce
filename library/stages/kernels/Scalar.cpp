#include "stages/kernels/PhaseSteps.h"
#include "stages/kernels/SinCosApprox.h"
#include "stages/kernels/SinCosCheck.h"
#include "stages/kernels/Variants.h"

#include <cmath>
#include <cstring>

namespace sigkit::kernels {

namespace {

constexpr int kPartialSums = 16;

// The fixed reduction of the 16 partial sums shared by every variant.
float Reduce(float (&s)[kPartialSums])
{
    for (int k = 0; k < 8; ++k)
        s[k] += s[k + 8];
    for (int k = 0; k < 4; ++k)
        s[k] += s[k + 4];
    for (int k = 0; k < 2; ++k)
        s[k] += s[k + 2];
    return s[0] + s[1];
}

float Dot(const float* a, const float* b, int32_t n)
{
    float s[kPartialSums] = {};
    int32_t j = 0;
    // Whole rounds of 16 products: product j + k goes into partial sum k.
    for (; j + kPartialSums <= n; j += kPartialSums)
        for (int k = 0; k < kPartialSums; ++k)
        {
            const float product = a[j + k] * b[j + k];
            s[k] += product;
        }
    for (int k = 0; j + k < n; ++k)
    {
        const float product = a[j + k] * b[j + k];
        s[k] += product;
    }
    return Reduce(s);
}

void FirBlock(const float* taps, int32_t n, const float* x, int32_t stride, int32_t count,
              float* out)
{
    for (int32_t i = 0; i < count; ++i)
        out[i] = Dot(taps, x - static_cast<std::ptrdiff_t>(i) * stride, n);
}

// The partial sums of Dot over the odd j alone: the even partial sums stay +0.0.
void FirBlockOddTaps(const float* taps, int32_t n, const float* x, int32_t count, float* out)
{
    for (int32_t i = 0; i < count; ++i)
    {
        const float* window = x - i;
        float s[kPartialSums] = {};
        for (int32_t j = 1; j < n; j += 2)
        {
            const float product = taps[j] * window[j];
            s[j % kPartialSums] += product;
        }
        out[i] = Reduce(s);
    }
}

void DotPair(const float* a, const float* b, const float* x, const float* y, int32_t n, float* out)
{
    out[0] = Dot(a, x, n);
    out[1] = Dot(b, x, n);
    if (y != nullptr)
    {
        out[2] = Dot(a, y, n);
        out[3] = Dot(b, y, n);
    }
}

int32_t Oscillate(double* phase, double increment, double wrap, int32_t n, double* phases, float* s,
                  float* c)
{
    *phase = AdvancePhases(*phase, increment, wrap, n, phases);
    return LibmSinCos(phases, n, s, c);
}

void ShiftApprox(double* phase, double increment, double wrap, int32_t n, double* phases, float* I,
                 float* Q)
{
    *phase = AdvancePhases(*phase, increment, wrap, n, phases);
    for (int32_t i = 0; i < n; ++i)
    {
        float s = 0.0f;
        float c = 0.0f;
        approx::SinCos(phases[i], s, c);
        const float in = I[i];
        const float quad = Q[i];
        I[i] = c * in + quad * s;
        Q[i] = quad * c - in * s;
    }
}

void Mix(const float* I, const float* Q, const float* s, const float* c, int32_t n, float* outI,
         float* outQ)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const float in = I[i];
        const float quad = Q[i];
        outI[i] = c[i] * in + quad * s[i];
        outQ[i] = quad * c[i] - in * s[i];
    }
}

void DotPairTwice(const float* const* a, const float* const* b, const float* const* x,
                  const float* const* y, int32_t n, float* out)
{
    for (int k = 0; k < 2; ++k)
        DotPair(a[k], b[k], x[k], y != nullptr ? y[k] : nullptr, n, out + 4 * k);
}

uint32_t StoreReversed(const float* x, int32_t n, float* top)
{
    uint32_t largest = 0;
    for (int32_t i = 0; i < n; ++i)
    {
        top[-i] = x[i];
        uint32_t bits = 0;
        std::memcpy(&bits, x + i, sizeof bits);
        bits &= 0x7FFFFFFFu;
        largest = bits > largest ? bits : largest;
    }
    return largest;
}

void Deinterleave(const float* iq, int32_t pairs, float* I, float* Q)
{
    for (int32_t k = 0; k < pairs; ++k)
    {
        I[k] = iq[2 * k];
        Q[k] = iq[2 * k + 1];
    }
}

// ---- Stored samples to floats. Every integer here has at most 24 significant bits, so its
// conversion to float is exact and independent of the rounding mode.

void Int8ToFloat(const uint8_t* in, int32_t n, float* out)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = static_cast<float>(static_cast<int8_t>(in[i]));
}

void UInt8ToFloat(const uint8_t* in, int32_t n, float* out)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = static_cast<float>(static_cast<int32_t>(in[i]) - 127);
}

void Int16ToFloat(const uint8_t* in, int32_t n, float* out)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const auto value = static_cast<int16_t>(in[2 * i] | in[2 * i + 1] << 8);
        out[i] = static_cast<float>(value);
    }
}

void UInt16ToFloat(const uint8_t* in, int32_t n, float* out)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const int32_t value = in[2 * i] | in[2 * i + 1] << 8;
        out[i] = static_cast<float>(value - 32767);
    }
}

void Int24ToFloat(const uint8_t* in, int32_t n, float* out)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint8_t* p = in + 3 * i;
        const uint32_t bits = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                              static_cast<uint32_t>(p[2]) << 24;
        // The top byte's sign bit lands in bit 31; the arithmetic shift extends it.
        out[i] = static_cast<float>(static_cast<int32_t>(bits) >> 8);
    }
}

// A 32-bit integer as the nearest float, halves to even, whatever rounding mode the thread has
// set: the exact double is rounded to 24 significant bits on its bit pattern (29 of its 53 bits
// go), after which the narrowing to float is exact.
float Int32ToNearestFloat(int32_t value)
{
    const double exact = value;
    uint64_t bits = 0;
    std::memcpy(&bits, &exact, sizeof bits);
    bits += 0x0FFFFFFFu + ((bits >> 29) & 1u);
    bits &= ~uint64_t{0x1FFFFFFF};
    double rounded = 0.0;
    std::memcpy(&rounded, &bits, sizeof rounded);
    return static_cast<float>(rounded);
}

void Int32ToFloat(const uint8_t* in, int32_t n, float* out)
{
    for (int32_t i = 0; i < n; ++i)
    {
        const uint8_t* p = in + 4 * i;
        const uint32_t bits = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        out[i] = Int32ToNearestFloat(static_cast<int32_t>(bits));
    }
}

// ---- Floats to stored samples.

float LoadFloat(const uint8_t* p)
{
    float value = 0.0f;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// round(x + offset), halves to even, limited to [lo, hi]; NaN counts as 0.0. Only the truncating
// conversion and exact float subtraction are used, so the thread's rounding mode plays no part,
// and no float outside the int64 range is ever converted.
int32_t StoredValue(float x, int32_t offset, int32_t lo, int32_t hi)
{
    if (x != x)
        x = 0.0f;
    if (x >= 2147483648.0f)
        return hi;
    if (x < -2147483648.0f)
        return lo;
    int64_t value = 0;
    if (x >= 8388608.0f || x <= -8388608.0f)
        value = static_cast<int64_t>(x) + offset; // already a whole number
    else
    {
        const auto whole = static_cast<int32_t>(x);           // toward zero
        const float fraction = x - static_cast<float>(whole); // exact, |fraction| < 1
        value = int64_t{whole} + offset;
        const bool odd = (value & 1) != 0;
        if (fraction > 0.5f || (fraction == 0.5f && odd))
            ++value;
        else if (fraction < -0.5f || (fraction == -0.5f && odd))
            --value;
    }
    return static_cast<int32_t>(value < lo ? lo : value > hi ? hi : value);
}

void FloatToInt8(const uint8_t* in, int32_t n, uint8_t* out)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(StoredValue(LoadFloat(in + 4 * i), 0, -128, 127));
}

void FloatToUInt8(const uint8_t* in, int32_t n, uint8_t* out)
{
    for (int32_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(StoredValue(LoadFloat(in + 4 * i), 127, 0, 255));
}

void StoreLittle(uint8_t* p, uint32_t value, int bytes)
{
    for (int b = 0; b < bytes; ++b)
        p[b] = static_cast<uint8_t>(value >> (8 * b));
}

void FloatToInt16(const uint8_t* in, int32_t n, uint8_t* out)
{
    for (int32_t i = 0; i < n; ++i)
        StoreLittle(out + 2 * i,
                    static_cast<uint32_t>(StoredValue(LoadFloat(in + 4 * i), 0, -32768, 32767)), 2);
}

void FloatToUInt16(const uint8_t* in, int32_t n, uint8_t* out)
{
    for (int32_t i = 0; i < n; ++i)
        StoreLittle(out + 2 * i,
                    static_cast<uint32_t>(StoredValue(LoadFloat(in + 4 * i), 32767, 0, 65535)), 2);
}

void FloatToInt24(const uint8_t* in, int32_t n, uint8_t* out)
{
    for (int32_t i = 0; i < n; ++i)
        StoreLittle(out + 3 * i,
                    static_cast<uint32_t>(StoredValue(LoadFloat(in + 4 * i), 0, -8388608, 8388607)),
                    3);
}

void FloatToInt32(const uint8_t* in, int32_t n, uint8_t* out)
{
    for (int32_t i = 0; i < n; ++i)
        StoreLittle(
            out + 4 * i,
            static_cast<uint32_t>(StoredValue(LoadFloat(in + 4 * i), 0, INT32_MIN, INT32_MAX)), 4);
}

} // namespace

KernelTable ScalarKernels()
{
    return KernelTable{
        Isa::Scalar,
        "scalar",
        Dot,
        FirBlock,
        FirBlockOddTaps,
        DotPair,
        DotPairTwice,
        Oscillate,
        ShiftApprox,
        Mix,
        StoreReversed,
        Deinterleave,
        {Int8ToFloat, UInt8ToFloat, Int16ToFloat, UInt16ToFloat, Int24ToFloat, Int32ToFloat},
        {FloatToInt8, FloatToUInt8, FloatToInt16, FloatToUInt16, FloatToInt24, FloatToInt32},
    };
}

} // namespace sigkit::kernels
