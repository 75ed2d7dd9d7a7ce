// Prints which tables this process chose, one "what name" line each, for DispatchTest: the
// variant SIGKIT_ISA forces (or "none"), the kernel table, the dispatcher's own choice, the
// transforms' variant and the demodulators' forms.
#include "dsp/fft/FftKernels.h"
#include "stages/demod/DemodKernels.h"
#include "stages/kernels/Kernels.h"

#include <cstdio>

int main()
{
    using namespace sigkit;
    const kernels::KernelTable* forced = kernels::Forced();
    std::printf("forced %s\n", forced != nullptr ? forced->name : "none");
    std::printf("kernels %s\n", kernels::Active().name);
    std::printf("automatic %s\n", kernels::Automatic().name);
    std::printf("fft %s\n", fft::Active().name);
    std::printf("demod %s\n", demod::ActiveDemod().name);
    return 0;
}
