#pragma once

#include "dsp/filters/StreamFftFilter.h"
#include "stages/StreamStage.h"
#include "stages/filters/BlockFilter.h"
#include "stages/filters/DualFir.h"
#include "stages/filters/FilterDesign.h"

#include <memory>
#include <vector>

namespace sigkit {

// Frequency conversion: a real or complex float stream at "Fd" is made analytic (real input),
// "Fn" is moved to 0 Hz, the band of width "Fp" around it is kept by a low-pass with cut-off
// Fp/2 on I and Q, and the result, scaled by "Kamp", is handed out as interleaved I/Q pairs at
// the same rate.
class FreqConv final : public StreamStage
{
public:
    FreqConv();

    // "ModeInp", "Fd", "Fc1", "Fc2" (kept, no effect), "Fp", "Fn", "Kamp", "Quality".
    void SetParam(const char* name, const char* value) override;
    // Chooses and designs the band filter and clears all history, phase and start-up state.
    // Result: the taps, or 0 when the rate is not a positive finite number (the stage then hands
    // out nothing).
    int32_t Start() override;

    float Fp = 1800.0f;  // Hz, band kept: the low-pass passes ±Fp/2
    float Fc1 = 3000.0f; // Hz, kept, no effect
    float Fc2 = 5000.0f; // Hz, kept, no effect

private:
    void Process(float* I, float* Q, int32_t pairs) override;
    bool HasFront() const override { return usable; }
    // The shift to 0 Hz.
    void Front(float* I, float* Q, int32_t pairs) override;
    // The band filter and the output.
    void Back(float* I, float* Q, int32_t pairs) override;
    std::size_t MostOutputs(std::size_t pairs) const override { return usable ? 2 * pairs : 0; }
    float ReportFrequency() const override { return Fn; }
    // The band filter of the design: the direct form (kept from one Start to the next) where it
    // costs less, else fast convolution fed whole hops (StreamFftFilter), whose outputs are the
    // direct form's within its rounding (and the oscillator's fast form's), each later by a fixed
    // delay that the start-up drops cover.
    // The choice is a rule of the tap count alone, the same on every processor. Result: the taps.
    int32_t ChooseBandFilter(const FilterDesignChoice& design);

    bool usable = false;
    BlockFilter* filter = nullptr; // one of the two below
    std::unique_ptr<DualFir> direct;
    std::unique_ptr<StreamFftFilter> fast;
    std::vector<float> filteredI; // the filter's outputs of a part, kPart each
    std::vector<float> filteredQ;
};

} // namespace sigkit
