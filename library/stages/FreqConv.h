#pragma once

#include "stages/StreamStage.h"
#include "stages/filters/DualFir.h"

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
    // Designs the band filter and clears all history, phase and start-up state. Result: the
    // taps, or 0 when the rate is not a positive finite number (the stage then hands out nothing).
    int32_t Start() override;

    float Fd = 44100.0f; // Hz, input and output rate
    float Fn = 1850.0f;  // Hz, moved to 0 Hz
    float Fp = 1800.0f;  // Hz, band kept: the low-pass passes ±Fp/2
    float Fc1 = 3000.0f; // Hz, kept, no effect
    float Fc2 = 5000.0f; // Hz, kept, no effect
    float Kamp = 1.0f;
    int32_t quality = 0;

    int32_t Discard() const { return discard; }

private:
    void Process(float* I, float* Q, int32_t pairs) override;
    float ReportFrequency() const override { return Fn; }
    float ReportRate() const override { return Fd; }

    bool usable = false;
    int32_t discard = 0;
    std::unique_ptr<DualFir> filter;
    std::vector<float> filteredI; // the filter's outputs of a part, kGatherPairs each
    std::vector<float> filteredQ;
};

} // namespace sigkit
