#pragma once

#include <array>
#include <cstdint>

// Coefficients of the FIR filters the stages run. Taps are 32-bit floats; index 0 multiplies the
// newest sample. A normalised cut-off fc is twice the highest frequency to pass over the rate the
// filter runs at: a low-pass with fc at rate Fs passes |f| < fc·Fs/2, fc = 1 the whole band.
namespace sigkit {

// Window kinds of the windowed-sinc design; any value outside 1..8 is rectangular.
using FilterWindow = int32_t;
inline constexpr FilterWindow kWindowRectangular = 0;
inline constexpr FilterWindow kWindowTriangular = 1;
inline constexpr FilterWindow kWindowHann = 2;
inline constexpr FilterWindow kWindowHamming = 3;
inline constexpr FilterWindow kWindowBlackman = 4;
inline constexpr FilterWindow kWindowNuttall = 5;
inline constexpr FilterWindow kWindowBlackmanNuttall = 6;
inline constexpr FilterWindow kWindowFlatTop = 7; // peaks at 4.64, used unscaled
inline constexpr FilterWindow kWindowBessel = 8;  // shape parameter beta

// Windowed-sinc low-pass of N taps into out[0..N-1]: out[K] = fc at the centre K = N/2, and
// fc·sinc(π·fc·m)·window at distance m, symmetric. No normalisation: the taps sum to about 1.
// N must be odd and at least 1; otherwise nothing is written and the result is 0 (an even
// length has no centre tap). Result 1 on success.
int32_t DesignLowPass(float fc, float beta, FilterWindow window, int32_t N, float* out);

// The complementary high-pass: a unit impulse minus the low-pass of the same arguments, so the
// taps sum to about 0. Same length rules and results as DesignLowPass.
int32_t DesignHighPass(float fc, float beta, FilterWindow window, int32_t N, float* out);

// The fixed 301-tap Hilbert transformer: antisymmetric about tap 150, zero at even distances,
// about 2/(π·m) at odd distance m, tapered. With tap j on the sample j steps old its magnitude
// response lies within 0.9983..1.0022 from 0.01 to 0.49 of the rate.
inline constexpr int32_t kHilbertTapCount = 301;
inline constexpr int32_t kHilbertCentre = 150;
const std::array<float, kHilbertTapCount>& HilbertTaps();

// Quality levels: 0 "Low" (and every other word), 1 "Medium", 2 "High".
struct FilterDesignChoice
{
    FilterWindow window;
    int32_t taps;
};
int32_t QualityLevel(const char* word);
// Level 1: Blackman, 301 taps; level 2: Nuttall, 1001 taps; anything else: Hamming, 101 taps.
FilterDesignChoice QualityToDesign(int32_t level);
FilterDesignChoice QualityToDesign(const char* word);

// sin(x)/x in single precision, exactly 1 at x == 0.
float Sinc(float x);

} // namespace sigkit
