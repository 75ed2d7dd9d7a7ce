#pragma once

#include "stages/SpectrumParams.h"
#include "stages/Stage.h"
#include "stages/filters/HilbertSplitter.h"
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
class IQ2R final : public Stage
{
public:
    IQ2R();
    ~IQ2R() override;

    // "ModeInp", "RevIQ" (exchanges I and Q of complex input), "ReSampl" and "Test" (kept, no
    // effect), "Quality".
    void SetParam(const char* name, const char* value) override;
    // Designs the resampler of the current direction; result: its taps.
    int32_t Start() override;
    void Stop() override { stopped = 1; }
    int32_t Put(int32_t port, const void* block, int32_t bytes) override;
    int32_t Get(int32_t port, const void** block, int32_t* bytes) override;

    int32_t Discard() const { return discard; }

private:
    void RealToComplex();
    void ComplexToReal();
    void Keep(float value);
    bool Warm();

    SpectrumParams params;
    int32_t stopped = 1;
    int32_t inputPresent = 0;
    const float* inBlock = nullptr; // the caller's block (aligned to its floats), not copied
    int32_t inCount = 0;
    int32_t inIndex = -1;
    std::unique_ptr<HilbertSplitter> splitter;
    PhaseOscillator oscillator;
    std::unique_ptr<PolyphaseResampler> realResampler;
    std::unique_ptr<PolyphaseResampler> complexResampler;
    int32_t warmDone = 0;
    int32_t warmCount = 0;
    int32_t discard = 0;
    std::size_t outCount = 0;
    std::vector<float> outBuffer; // grows when a block needs more, never shrinks
    // A part of real input on its way: analytic pairs, the oscillator's phases, sines and
    // cosines, the resampler's outputs.
    std::vector<float> partI, partQ, sines, cosines, halfI, halfQ;
    std::vector<double> phases;
    bool overflowed = false;
    int32_t pendingHalf = 0;
    float pendingValue = 0.0f;
};

} // namespace sigkit
