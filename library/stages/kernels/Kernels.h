#pragma once

#include <cstddef>
#include <cstdint>

// The hot loops of the library: dot products and sample conversions. Each exists as a portable
// scalar variant and as vector variants (AVX2, AVX-512); one is chosen once, at first use, from
// what the processor offers. Every variant computes the same operations in the same order, so
// the results are bit-identical on every processor:
//
//   a sum of L products keeps 16 partial sums, product j going into partial sum j mod 16 (one
//   separate multiply and add per product, never fused); the partial sums are then reduced as
//   s[k] += s[k + 8] (k < 8), s[k] += s[k + 4] (k < 4), s[k] += s[k + 2] (k < 2), s[0] + s[1].
//
// A complex dot product (real taps, interleaved I/Q samples) sums I and Q each in exactly that
// order, so its I result equals the real dot product of the taps with the I samples alone.
namespace sigkit::kernels {

// Stored sample formats of the conversion kernels. The unsigned ones lose their offset on the way
// into floats and get the same offset back on the way out, so a round trip keeps every value.
enum class StoredFormat : int32_t
{
    Int8,   // signed 8-bit
    UInt8,  // unsigned 8-bit, re-centred by 127
    Int16,  // signed 16-bit, little-endian
    UInt16, // unsigned 16-bit, little-endian, re-centred by 32767
    Int24,  // signed 24-bit, 3 bytes little-endian
    Int32,  // signed 32-bit, little-endian
};
inline constexpr int32_t kStoredFormatCount = 6;

// Bytes of one stored sample.
inline constexpr int32_t StoredBytes(StoredFormat format)
{
    constexpr int32_t bytes[kStoredFormatCount] = {1, 1, 2, 2, 3, 4};
    return bytes[static_cast<int32_t>(format)];
}

// The value subtracted on the way into floats and added back on the way out.
inline constexpr int32_t StoredOffset(StoredFormat format)
{
    return format == StoredFormat::UInt8 ? 127 : format == StoredFormat::UInt16 ? 32767 : 0;
}

enum class Isa
{
    Scalar,
    Avx2,
    Avx512,
};

struct KernelTable
{
    Isa isa;
    const char* name; // "scalar", "avx2", "avx512"

    // Σ a[j]·b[j], j = 0 .. n-1; 0 for n < 1.
    float (*dot)(const float* a, const float* b, int32_t n);
    // iq[0] = Σ taps[j]·x[2j], iq[1] = Σ taps[j]·x[2j+1], j = 0 .. n-1.
    void (*dotComplex)(const float* taps, const float* x, int32_t n, float* iq);

    // Stored samples to floats, indexed by StoredFormat: n samples (n * StoredBytes bytes, any
    // alignment) to n floats. Floats keep the integer scale; the unsigned formats lose their
    // offset. A 32-bit value becomes the nearest float, halves to even, in any rounding mode.
    void (*toFloat[kStoredFormatCount])(const uint8_t* in, int32_t n, float* out);
    // Floats (n of them, any alignment) to stored samples: the offset is added back, the value is
    // rounded to the nearest integer, halves to even, and limited to the format's range; NaN is
    // taken as 0.0. The result does not depend on the thread's rounding mode.
    void (*fromFloat[kStoredFormatCount])(const uint8_t* in, int32_t n, uint8_t* out);
};

// The table chosen for this processor (chosen once).
const KernelTable& Active();
// The table of one variant, or nullptr when this processor cannot run it (tests compare them).
const KernelTable* TableFor(Isa isa);

// Checked entry points with the status the filter code expects: 0 on success, -8 for a null
// pointer, -6 for a length below 1 (out untouched).
int32_t DotProduct(const float* a, const float* b, int32_t n, float* out);
int32_t DotProductComplex(const float* taps, const float* x, int32_t n, float* outIQ);

// Aligned storage of n (I, Q) float pairs (64-byte alignment), zeroed; nullptr on failure.
float* AllocateComplex(std::size_t pairs);
void FreeComplex(float* block);

} // namespace sigkit::kernels
