#pragma once

#include "dsp/fft/FftKernels.h"

// The variants behind the FFT dispatch table; only FftDispatch.cpp and the variant files see these.
namespace sigkit::fft {

// The portable reference: every other variant gives its bits.
FftKernels ScalarFftKernels();

#if defined(__x86_64__) || defined(__i386__)
// Needs AVX2.
FftKernels Avx2FftKernels();
// Needs AVX-512F.
FftKernels Avx512FftKernels();
#endif

} // namespace sigkit::fft
