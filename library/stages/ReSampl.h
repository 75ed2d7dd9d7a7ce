#pragma once

#include "stages/StreamStage.h"
#include "stages/filters/PolyphaseResampler.h"

#include <memory>
#include <vector>

namespace sigkit {

// Resampling: a real or complex float stream at "Fd" is made analytic (real input), shifted down
// by "Fn", low-pass filtered and resampled to "FdOut" in one or two steps, scaled by "Kamp", and
// handed out as interleaved I/Q pairs. Ratios Fd/FdOut of 8 and more use two steps of about
// sqrt(Fd/FdOut) each; an output rate above the input rate interpolates.
class ReSampl final : public StreamStage
{
public:
    ReSampl();

    // "ModeInp" ("Complex" or real), "Fd", "Fp" (kept, no effect), "Fn", "FdOut", "Kamp" (numbers),
    // "Quality" ("Medium", "High", else the lowest).
    void SetParam(const char* name, const char* value) override;
    // Designs the steps and clears all history, phase and start-up state. Result: the taps of
    // the first step, or 0 when the rates give no usable ratio (the stage then hands out nothing).
    int32_t Start() override;

    // Parameters, also set directly by the configuration.
    float Fd = 44100.0f;    // Hz, input rate
    float FdOut = 44100.0f; // Hz, output rate
    float Fi = 44100.0f;    // Hz, between the two steps
    float Fn = 1850.0f;     // Hz, moved to 0 Hz
    float Fp = 3400.0f;     // Hz, kept, no effect
    float Kamp = 1.0f;      // output gain
    int32_t quality = 0;

    int32_t Ratio() const { return ratio; }
    bool TwoSteps() const { return twoSteps; }
    int32_t Discard() const { return discard; }

private:
    void Process(float* I, float* Q, int32_t pairs) override;
    float ReportFrequency() const override { return Fn; }
    float ReportRate() const override { return Fd; }
    // The outputs of the last step: start-up discarding, gain, interleaving.
    void Deliver(const float* I, const float* Q, int32_t count);

    int32_t ratio = 1;
    bool twoSteps = false;
    bool usable = false;
    int32_t discard = 0;
    std::size_t outputsPerInput = 1;
    std::unique_ptr<PolyphaseResampler> first;
    std::unique_ptr<PolyphaseResampler> second;
    std::vector<float> firstI, firstQ; // outputs of the steps for a part, kGatherPairs each
    std::vector<float> lastI, lastQ;
};

} // namespace sigkit
