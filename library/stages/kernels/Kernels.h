#pragma once

#include <cstddef>
#include <cstdint>

// The hot loops of the library, primitives only: dot products and block filters, the oscillator
// with its sines and cosines, the mixer, history stores and sample conversions. Each exists as a
// portable scalar variant and as vector variants (AVX2, AVX-512); one is chosen once, at first use,
// from what the processor offers. Every variant computes the same operations in the same order, so
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

    // Several outputs of one filter at once, each summed exactly as `dot` sums it:
    // out[i] = Σ taps[j]·x[j - i·stride], j = 0 .. n-1, for i = 0 .. count-1. The windows lie
    // `stride` entries apart and each later output's window starts lower in memory, as in the
    // sample history (newest first). One load of the taps serves several outputs.
    void (*firBlock)(const float* taps, int32_t n, const float* x, int32_t stride, int32_t count,
                     float* out);
    // firBlock with stride 1 for taps that are zero at every even j (the Hilbert transformer):
    // those products are not formed. A partial sum never holds -0.0 (it starts at +0.0 and only
    // an exact cancellation brings it back to zero, which gives +0.0), so adding a zero product
    // never changes it, and the result has firBlock's bits, provided every x in the windows is
    // finite (0·inf is NaN) and the floating-point environment is the default one (round to
    // nearest, no flushing of tiny values). Callers check both.
    void (*firBlockOddTaps)(const float* taps, int32_t n, const float* x, int32_t count,
                            float* out);
    // Two filters over the same window, each summed as `dot`: out[0] = Σ a[j]·x[j],
    // out[1] = Σ b[j]·x[j]; when y is not null also out[2] = Σ a[j]·y[j], out[3] = Σ b[j]·y[j].
    // (Neighbouring phases of the resampler over its I and Q histories share every load.)
    void (*dotPair)(const float* a, const float* b, const float* x, const float* y, int32_t n,
                    float* out);

    // Two dotPair at once, independent of each other (so that the work of one runs beside the
    // other's): out[4k + m] is what dotPair gives as out[m] for (a[k], b[k], x[k], y[k]),
    // k = 0, 1. When y is null only the x sums are formed (out[4k] and out[4k + 1]).
    void (*dotPairTwice)(const float* const* a, const float* const* b, const float* const* x,
                         const float* const* y, int32_t n, float* out);
    // An oscillator over n steps: each step p = increment + p, then p - wrap if p >= wrap, or
    // else p + wrap if p <= -wrap (double precision); phases[i] gets the new phase and
    // s[i] = (float)sin(phases[i]), c[i] = (float)cos(phases[i]) with the standard library's
    // double-precision sin and cos: every variant gives exactly those floats. *phase holds the
    // phase before the first step and gets the last. The vector variants evaluate their own
    // polynomials (see SinCosCheck.h) and hand the few elements whose result lies too close to a
    // float rounding boundary (and phases beyond a few turns, non-finite ones, and any call made
    // in a floating-point environment other than the default) to the standard library; they
    // also overlap the chain of additions with the sines and cosines of the steps before.
    // Result: the number of elements whose sine and cosine the standard library computed.
    int32_t (*oscillate)(double* phase, double increment, double wrap, int32_t n, double* phases,
                         float* s, float* c);
    // The oscillator and the mixer where outputs are held to a bound rather than to exact bits
    // (the frequency converter's fast filter path): the phases as `oscillate` steps them
    // (*phase carried, the phases to phases[0..n-1]), their sines and cosines as
    // SinCosApprox.h computes them (within 1.5e-7 of the true ones), and I, Q multiplied in place
    // as `mix` multiplies. Every variant performs the same operations (in a floating-point
    // environment other than the default one, the scalar variant's own): the same bits on every
    // processor.
    void (*shiftApprox)(double* phase, double increment, double wrap, int32_t n, double* phases,
                        float* I, float* Q);
    // Multiplication by the conjugate phasor, element by element in single precision:
    // outI = c·I + Q·s, outQ = Q·c - I·s. The outputs may be the inputs.
    void (*mix)(const float* I, const float* Q, const float* s, const float* c, int32_t n,
                float* outI, float* outQ);
    // Samples into a history, newest first: top[-i] = x[i], i = 0 .. n-1. Result: the largest
    // magnitude among them as a bit pattern without the sign (the bit patterns of non-negative
    // floats order as their values, and infinities and NaN lie above every finite value), 0 for
    // n < 1.
    uint32_t (*storeReversed)(const float* x, int32_t n, float* top);
    // Interleaved (I, Q) pairs apart: I[k] = iq[2k], Q[k] = iq[2k + 1], k = 0 .. pairs-1.
    void (*deinterleave)(const float* iq, int32_t pairs, float* I, float* Q);

    // Stored samples to floats, indexed by StoredFormat: n samples (n * StoredBytes bytes, any
    // alignment) to n floats. Floats keep the integer scale; the unsigned formats lose their
    // offset. A 32-bit value becomes the nearest float, halves to even, in any rounding mode.
    void (*toFloat[kStoredFormatCount])(const uint8_t* in, int32_t n, float* out);
    // Floats (n of them, any alignment) to stored samples: the offset is added back, the value is
    // rounded to the nearest integer, halves to even, and limited to the format's range; NaN is
    // taken as 0.0. The result does not depend on the thread's rounding mode.
    void (*fromFloat[kStoredFormatCount])(const uint8_t* in, int32_t n, uint8_t* out);
};

// The environment variable that forces a variant: "scalar", "avx2" or "avx512", exactly.
inline constexpr const char* kIsaVariable = "SIGKIT_ISA";

// The table every stage uses, chosen once, at first use: the variant SIGKIT_ISA names when it
// names one this processor runs; otherwise (unset, another word, a variant the processor lacks)
// the dispatcher's own choice. The library never prints, so a word it cannot take is not
// reported: it is as if the variable were unset.
const KernelTable& Active();
// The dispatcher's own choice, whatever SIGKIT_ISA says: the widest variant the processor has,
// except that where it has both AVX-512 and AVX2 each kernel is taken from the one that runs it
// faster here (known from the processor's family, or else measured once, at first use, in a few
// milliseconds: see Calibration.h). A
// processor whose AVX-512 units are half as wide as its registers runs some kernels as fast or
// faster in AVX2. When every kernel comes from one variant, this is that variant's table;
// otherwise a table of its own (isa Avx512, named after both).
const KernelTable& Automatic();
// The table SIGKIT_ISA forces (read once), or nullptr when it forces none.
const KernelTable* Forced();
// The table a word forces, as Forced reads SIGKIT_ISA: nullptr for a null pointer, another word,
// or a variant this processor cannot run.
const KernelTable* ForcedBy(const char* word);
// "scalar", "avx2", "avx512" into isa; false (isa unchanged) for any other word or null.
bool IsaFromWord(const char* word, Isa& isa);
// The table of one variant, or nullptr when this processor cannot run it (tests compare them).
const KernelTable* TableFor(Isa isa);

// True when the thread's floating-point environment is the default one: rounding to nearest, no
// flushing of tiny values to zero. Exact shortcuts that rely on the properties of that
// environment (skipped zero products) check it once per block.
bool DefaultFloatEnvironment();

// Copies n floats to `to` with stores that go past the cache (the same values): for arrays that
// another processor reads next. StreamCopiesDone orders them before the stores that follow
// (before handing the arrays over).
void StreamCopy(const float* from, int32_t n, float* to);
void StreamCopiesDone();

// Zeroed storage of `bytes` (64-byte alignment) whose untouched pages cost nothing; nullptr on
// failure (or for 0 bytes). Freed by FreeZeroed.
void* AllocateZeroed(std::size_t bytes);
void FreeZeroed(void* block);
// Aligned storage of n (I, Q) float pairs (64-byte alignment), zeroed; nullptr on failure.
float* AllocateComplex(std::size_t pairs);
void FreeComplex(float* block);

} // namespace sigkit::kernels
