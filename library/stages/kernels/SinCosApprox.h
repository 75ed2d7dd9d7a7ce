#pragma once

#include <cmath>
#include <cstdint>

// The sine and cosine of the oscillator's fast form (KernelTable::shiftApprox), where outputs are
// held to a bound rather than to exact bits. A phase p is reduced in double precision to
// r = (p - k·kHalfPiHigh) - k·kHalfPiLow, k the nearest integer to p·2/π (halves to even), and r
// is rounded to float; the sine and cosine of r come from single-precision Taylor polynomials on
// [-π/4, π/4] (the first terms left out are below 1.8e-9 and 1.2e-10 there), each operation
// rounded once, and the quadrant k mod 4 places and signs them. The results lie within 1.5e-7 of
// the true sine and cosine. Every variant performs exactly these operations.
namespace sigkit::kernels::approx {

inline constexpr double kTwoOverPi = 6.36619772367581382433e-01;
// π/2 = kHalfPiHigh + kHalfPiLow (+ 3.5e-27); kHalfPiHigh has 33 significant bits, so k times it is
// exact for |k| < 2^20.
inline constexpr double kHalfPiHigh = 1.57079632673412561417e+00;
inline constexpr double kHalfPiLow = 6.077100506506192e-11;
// Phases of this magnitude or more (never reached from a phase within the wrap) count as 0.
inline constexpr double kPhaseLimit = 0x1p20;
// sin r = r + (r·z)·(kSin[0] + z·(kSin[1] + z·(kSin[2] + z·kSin[3]))), z = r·r;
// cos r = (1 - 0.5·z) + (z·z)·(kCos[0] + z·(kCos[1] + z·(kCos[2] + z·kCos[3]))).
inline constexpr float kSin[4] = {-1.0f / 6.0f, 1.0f / 120.0f, -1.0f / 5040.0f, 1.0f / 362880.0f};
inline constexpr float kCos[4] = {1.0f / 24.0f, -1.0f / 720.0f, 1.0f / 40320.0f,
                                  -1.0f / 3628800.0f};

// The scalar form, which the vector variants follow operation by operation (in the default
// floating-point environment; the variants call this one in any other).
inline void SinCos(double p, float& s, float& c)
{
    if (!(std::fabs(p) < kPhaseLimit))
        p = 0.0;
    const double k = std::nearbyint(p * kTwoOverPi);
    const auto r = static_cast<float>((p - k * kHalfPiHigh) - k * kHalfPiLow);
    const float z = r * r;
    float ps = kSin[2] + z * kSin[3];
    ps = kSin[1] + z * ps;
    ps = kSin[0] + z * ps;
    const float sinR = r + (r * z) * ps;
    float pc = kCos[2] + z * kCos[3];
    pc = kCos[1] + z * pc;
    pc = kCos[0] + z * pc;
    const float cosR = (1.0f - 0.5f * z) + (z * z) * pc;
    const auto q = static_cast<uint32_t>(static_cast<int32_t>(k));
    // sin p = (sinR, cosR, -sinR, -cosR)[q mod 4], cos p = (cosR, -sinR, -cosR, sinR)[q mod 4].
    const float sinAbs = (q & 1u) != 0 ? cosR : sinR;
    const float cosAbs = (q & 1u) != 0 ? sinR : cosR;
    s = (q & 2u) != 0 ? -sinAbs : sinAbs;
    c = ((q + 1u) & 2u) != 0 ? -cosAbs : cosAbs;
}

} // namespace sigkit::kernels::approx
