#pragma once

#include "stages/BlockStage.h"
#include "stages/SpectrumParams.h"
#include "stages/filters/GatedInterpolator.h"
#include "stages/filters/PhaseOscillator.h"
#include "stages/filters/PolyphaseResampler.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sigkit {

// Real to complex and back, keeping the whole band. Real to complex ("ModeInp" not "Complex"):
// a real stream at Fs becomes its analytic signal, shifted down by Fs/4 and decimated by 2:
// I/Q pairs at Fs/2. Complex to real: I/Q pairs at Fs are interpolated by 2, shifted up by a
// quarter of the new rate, and the doubled real part is the output at 2·Fs. The first outputs,
// the resampler's filter delay, are dropped.
class IQ2R final : public BlockStage
{
public:
    IQ2R();
    ~IQ2R() override;

    // "ModeInp", "RevIQ" (exchanges I and Q of complex input), "ReSampl" and "Test" (kept, no
    // effect), "Quality".
    void SetParam(const char* name, const char* value) override;
    // Designs the resampler of the current direction; result: its taps.
    int32_t Start() override;

private:
    void Process(float* I, float* Q, int32_t pairs) override;
    std::size_t MostOutputs(std::size_t pairs) const override;
    void RealToComplex(float* I, float* Q, int32_t pairs);
    void ComplexToReal(float* I, float* Q, int32_t pairs);

    SpectrumParams params;
    PhaseOscillator oscillator;
    std::unique_ptr<PolyphaseResampler> realResampler;
    std::unique_ptr<GatedInterpolator> interpolator;
    // A part on its way: the resampler's outputs, the oscillator's phases, sines and cosines.
    std::vector<float> halfI, halfQ, sines, cosines;
    std::vector<double> phases;
};

} // namespace sigkit
