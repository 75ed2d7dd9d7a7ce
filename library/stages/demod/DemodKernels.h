#pragma once

#include "stages/kernels/Kernels.h"

#include <cstdint>

// The demodulators' formulas over blocks, in the forms each processor runs best. Every form gives
// the scalar form's bits, as the kernels do; the forms are chosen with the kernel table.
namespace sigkit::demod {

struct DemodKernels
{
    kernels::Isa isa;
    const char* name; // the kernel table's name

    // AM with the oscillator's shift: the oscillator steps as the kernels' `oscillate` does (its
    // phases go to phases[0..n-1]), each sample is mixed as `mix` does with the rounded sine and
    // cosine, m = sqrt(I² + Q²) in single precision, and y[i] is the envelope over its running
    // mean (AmEnvelope.h). *phase and *mean carry from call to call. Result: the elements whose
    // sine and cosine the standard library computed.
    int32_t (*amDemodulate)(const float* I, const float* Q, int32_t n, double* phase,
                            double increment, double wrap, float kamp, float* mean, double* phases,
                            float* y);
    // FM: m = sqrt(I² + Q²) (1 where that is 0), u = I/m, v = Q/m and
    // y[i] = (prevQ·u - prevI·v)·kamp, all in single precision, with (prevI, prevQ) the previous
    // element's (u, v): minus the sine of the phase step. prev holds the last (u, v) of the
    // previous call and gets this call's.
    void (*fmDiscriminate)(const float* I, const float* Q, int32_t n, float kamp, float* prev,
                           float* y);
};

// The forms the stages use, chosen once at first use: those of the variant SIGKIT_ISA forces (see
// kernels::Active), else where the processor has both AVX-512 and AVX2 the faster of the two for
// each formula (measured; see kernels::Automatic), else those of the kernel table's variant.
const DemodKernels& ActiveDemod();
// The forms of one kernel variant, or nullptr when this processor cannot run it.
const DemodKernels* DemodKernelsFor(kernels::Isa isa);

} // namespace sigkit::demod
