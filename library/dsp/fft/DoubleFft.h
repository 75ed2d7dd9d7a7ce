#pragma once

#include <cstdint>

// Double-precision helpers the float transforms are built from and checked against: the unit
// roots their twiddles are rounded from, and a plain transform for spectra computed once.
namespace sigkit::fft {

// cos(2π·j/n) and sin(2π·j/n) in double precision, from an angle reduced to at most an eighth of
// a turn: quarter and half turns are exact (0, ±1), and j and j + n give the same values. n >= 1.
void UnitRoot(int64_t j, int64_t n, double& c, double& s);

// In place, X[k] = Σ_j x[j]·e^(-2πi·jk/n) in double precision (radix 2, unit roots as above),
// for n a power of two from 1 to 2^24; any other n leaves the data untouched. Takes no memory.
void ForwardDouble(double* re, double* im, int32_t n);

} // namespace sigkit::fft
