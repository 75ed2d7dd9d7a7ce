#pragma once

#include "stages/StreamStage.h"
#include "stages/demod/DemodKernels.h"
#include "stages/filters/PolyphaseResampler.h"

#include <memory>
#include <vector>

namespace sigkit {

// AM and FM demodulation: a real or complex float stream at "Fd" is made analytic (real input),
// the carrier "Fn" is moved to 0 Hz, each complex sample becomes one real value (the envelope
// over its running mean, less 1, for AM; minus the sine of the phase step for FM), scaled by
// "Kamp", and that real signal is resampled to "FdOut". One channel of floats comes out.
class AM_Demod final : public StreamStage
{
public:
    enum Mode : int32_t
    {
        kNone = 0,
        kAm = 1,
        kFm = 2,
        kPm = 3, // accepted; produces nothing
    };

    AM_Demod();

    // "ModeInp", "Fd", "Fp" (kept, no effect), "Fn" (also its working copy), "FdOut", "Kamp",
    // "Quality", and "Mode" ("AM", "FM", "PM"; another word keeps the mode).
    void SetParam(const char* name, const char* value) override;
    // Designs the resampler and clears the splitter, the phase, the envelope mean and the
    // start-up state; the FM discriminator keeps its previous phasor. Result: the resampler's
    // taps, or 0 when the rates give no usable ratio (the stage then hands out nothing).
    int32_t Start() override;

    // Fn is the carrier; Kamp is the gain inside the demodulation formulas.
    int32_t mode = kNone;
    float FdOut = 44100.0f; // Hz, output rate
    float FnWork = 1850.0f; // Hz, the copy the oscillator runs at, taken from Fn by Start
    float Fp = 3400.0f;     // Hz, kept, no effect

    float EnvelopeMean() const { return envelopeMean; }

private:
    bool TakesInput() const override { return mode != kNone; }
    void Process(float* I, float* Q, int32_t pairs) override;
    bool HasFront() const override { return usable && mode != kNone; }
    // The shift and the demodulated values, into I (none in "PM", where only the oscillator
    // runs).
    void Front(float* I, float* Q, int32_t pairs) override;
    // The resampler over the demodulated values and the output.
    void Back(float* I, float* Q, int32_t pairs) override;
    bool BackReadsQ() const override { return false; }
    std::size_t MostOutputs(std::size_t pairs) const override;
    float ReportFrequency() const override { return FnWork; }
    // The demodulated values of a part; false when the mode gives none.
    bool Demodulate(float* I, float* Q, int32_t pairs, float* y);

    float envelopeMean = 0.0f;
    float prevI = 0.0f; // the previous unit phasor of the FM discriminator
    float prevQ = 0.0f;
    bool usable = false;
    std::size_t outputsPerInput = 1;
    std::unique_ptr<PolyphaseResampler> resampler;
    std::vector<float> demodulated; // a part's demodulated values, kPart (the front's)
    std::vector<float> resampled;   // the resampler's outputs for a piece, kPieceOutputs
    const demod::DemodKernels& demodKernels;
};

} // namespace sigkit
