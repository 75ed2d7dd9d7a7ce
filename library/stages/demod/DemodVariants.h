#pragma once

#include <cstdint>

// The vector forms of the demodulators' formulas, each compiled for its instruction set; only
// DemodKernels.cpp calls them, and only on a processor that has it.
namespace sigkit::demod {

#if defined(__x86_64__) || defined(__i386__)
int32_t AmDemodulateAvx2(const float* I, const float* Q, int32_t n, double* phase, double increment,
                         double wrap, float kamp, float* mean, double* phases, float* y);
void FmDiscriminateAvx2(const float* I, const float* Q, int32_t n, float kamp, float* prev,
                        float* y);
int32_t AmDemodulateAvx512(const float* I, const float* Q, int32_t n, double* phase,
                           double increment, double wrap, float kamp, float* mean, double* phases,
                           float* y);
void FmDiscriminateAvx512(const float* I, const float* Q, int32_t n, float kamp, float* prev,
                          float* y);
#endif

} // namespace sigkit::demod
