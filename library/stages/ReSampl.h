#pragma once

#include "stages/StreamStage.h"
#include "stages/filters/PolyphaseResampler.h"

#include <memory>
#include <vector>

namespace sigkit {

// Resampling: a real or complex float stream at "Fd" is made analytic (real input), shifted down
// by "Fn", low-pass filtered and resampled to "FdOut" in one or two steps, scaled by "Kamp", and
// handed out as interleaved I/Q pairs. Ratios Fd/FdOut of kTwoStepRatio and more use two steps of
// about sqrt(Fd/FdOut) each; an output rate above the input rate interpolates.
class ReSampl final : public StreamStage
{
public:
    static constexpr int32_t kTwoStepRatio = 8;

    ReSampl();

    // "ModeInp" ("Complex" or real), "Fd", "Fp" (kept, no effect), "Fn", "FdOut", "Kamp" (numbers),
    // "Quality" ("Medium", "High", else the lowest).
    void SetParam(const char* name, const char* value) override;
    // Designs the steps and clears all history, phase and start-up state. Result: the taps of
    // the first step, or 0 when the rates give no usable ratio (the stage then hands out nothing).
    int32_t Start() override;

    float FdOut = 44100.0f; // Hz, output rate
    float Fi = 44100.0f;    // Hz, between the two steps
    float Fp = 3400.0f;     // Hz, kept, no effect

    int32_t Ratio() const { return ratio; }
    bool TwoSteps() const { return twoSteps; }

private:
    void Process(float* I, float* Q, int32_t pairs) override;
    bool HasFront() const override { return usable; }
    // The shift to 0 Hz.
    void Front(float* I, float* Q, int32_t pairs) override;
    // The steps of the rate change and the output.
    void Back(float* I, float* Q, int32_t pairs) override;
    std::size_t MostOutputs(std::size_t pairs) const override;
    float ReportFrequency() const override { return Fn; }
    // The outputs of the last step: start-up dropping, gain, interleaving.
    void Deliver(const float* I, const float* Q, int32_t count);

    int32_t ratio = 1;
    bool twoSteps = false;
    bool usable = false;
    std::size_t outputsPerInput = 1;
    std::unique_ptr<PolyphaseResampler> first;
    std::unique_ptr<PolyphaseResampler> second;
    std::vector<float> firstI, firstQ; // outputs of the first of two steps for a part, kPart each
    std::vector<float> lastI, lastQ;   // outputs of the last step for a piece, kPieceOutputs each
};

} // namespace sigkit
