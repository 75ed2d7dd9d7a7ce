#pragma once

// A radix-2 fast Fourier transform in double precision, for the measurements only (spectra of
// residuals, cross-correlation). Its twiddle factors are each computed from their own angle, so
// its error stays near the rounding of one product per stage.
#include "Signal.h"

#include <cstddef>
#include <vector>

namespace sigquality {

// The smallest power of two that is at least n (1 for n = 0).
std::size_t NextPowerOfTwo(std::size_t n);

// In place: X[k] = sum over n of x[n] e^(-j 2 pi k n / N) (forward), or with e^(+j ...) and no
// scaling (inverse). The length must be a power of two.
void Fft(std::vector<Complex>& x, bool inverse = false);

} // namespace sigquality
