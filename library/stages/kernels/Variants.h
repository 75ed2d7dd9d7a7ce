#pragma once

#include "stages/kernels/Kernels.h"

// The variants behind the dispatch table; only Dispatch.cpp and the variant files see these.
namespace sigkit::kernels {

// The portable reference: every other variant gives its bits.
KernelTable ScalarKernels();

#if defined(__x86_64__) || defined(__i386__)
// Needs AVX2.
KernelTable Avx2Kernels();
// Needs AVX-512F and AVX2: the dot products in 16-lane registers, the AVX2 conversions.
KernelTable Avx512Kernels();
#endif

} // namespace sigkit::kernels
