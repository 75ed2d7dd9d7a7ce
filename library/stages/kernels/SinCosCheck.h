#pragma once

#include <cmath>
#include <cstdint>

// What the vector variants share for the oscillator's sine and cosine. A phase x is reduced to
// r = x - k·π/2 (k the nearest integer to x·2/π) with π/2 split into four parts, the first three
// short enough that k times each is exact; sin r and cos r come from the usual minimax polynomials
// on [-π/4, π/4]; the quadrant k mod 4 picks and signs the results. For |x| <= kSinCosLimit this
// stays within a few units in the last place of the double result (2 at most against the
// standard library over the tests' tens of millions of phases).
//
// The float that a caller keeps is the double rounded to nearest. Two doubles that differ by less
// than their distance to the nearest float rounding boundary round to the same float; a result
// within kMarginUlps units of a boundary (or a phase so small that the sine could be below the
// normal float range) is therefore taken from the standard library instead, which makes every float
// equal to the standard library's rounded one as long as both doubles lie within kMarginUlps / 2
// units of the true value - a hundred times the error seen.
namespace sigkit::kernels::sincos {

inline constexpr double kSinCosLimit = 16.0; // |phase| above this goes to the standard library
inline constexpr double kTwoOverPi = 6.36619772367581382433e-01;
// π/2 = kHalfPi1 + kHalfPi2 + kHalfPi3 + kHalfPi4; the first three have 33 significant bits.
inline constexpr double kHalfPi1 = 1.57079632673412561417e+00;
inline constexpr double kHalfPi2 = 6.07710050630396597660e-11;
inline constexpr double kHalfPi3 = 2.02226624871116645580e-21;
inline constexpr double kHalfPi4 = 8.47842766036889956997e-32;
// sin r = r + r³·(kSin[0] + r²·(kSin[1] + ...)), cos r = 1 - r²/2 + r⁴·(kCos[0] + r²·(...)).
inline constexpr double kSin[6] = {-1.66666666666666324348e-01, 8.33333333332248946124e-03,
                                   -1.98412698298579493134e-04, 2.75573137070700676789e-06,
                                   -2.50507602534068634195e-08, 1.58969099521155010221e-10};
inline constexpr double kCos[6] = {4.16666666666666019037e-02, -1.38888888888741095749e-03,
                                   2.48015872894767294178e-05, -2.75573143513906633035e-07,
                                   2.08757232129817482790e-09, -1.13596475577881948265e-11};

// A double rounds to float on its low 29 mantissa bits; a midpoint between two floats has them
// at exactly kMidpoint. With t those bits, (t - kMidpoint + kMarginUlps) mod 2^29 exceeds
// 2·kMarginUlps exactly when t lies more than kMarginUlps from the midpoint.
inline constexpr int64_t kLowBits = (int64_t{1} << 29) - 1;
inline constexpr int64_t kMidpoint = int64_t{1} << 28;
inline constexpr int64_t kMarginUlps = 256;
inline constexpr int64_t kNearStart = kMidpoint - kMarginUlps;
// Phases below this magnitude (but not zero) go to the standard library: then |sin| could fall
// below the normal float range, where the check above does not hold. Above it |sin x| stays far
// from that range (near a multiple of π a double phase keeps a distance of about 1e-17) and
// |cos x| as well.
inline constexpr double kSmallestPhase = 0x1p-100;
// k + kRoundingShift has k's two's complement in its low mantissa bits (|k| < 2^51).
inline constexpr double kRoundingShift = 0x1.8p52;

} // namespace sigkit::kernels::sincos

namespace sigkit::kernels {

// The reference: the standard library's sine and cosine, rounded to float. Result: n.
// (Static, as every helper that files of different instruction sets share: each keeps its own
// copy, compiled for its own instructions.)
static inline int32_t LibmSinCos(const double* phase, int32_t n, float* s, float* c)
{
    for (int32_t i = 0; i < n; ++i)
    {
        s[i] = static_cast<float>(std::sin(phase[i]));
        c[i] = static_cast<float>(std::cos(phase[i]));
    }
    return n > 0 ? n : 0;
}

} // namespace sigkit::kernels
