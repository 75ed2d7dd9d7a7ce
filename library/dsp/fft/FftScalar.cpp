// The scalar reference of the FFT loops: one butterfly at a time.
#include "dsp/fft/FftLoops.h"
#include "dsp/fft/FftVariants.h"

namespace sigkit::fft {

FftKernels ScalarFftKernels()
{
    return MakeTable<ScalarLanes>(kernels::Isa::Scalar, "scalar");
}

} // namespace sigkit::fft
