#pragma once

#include "stages/BlockStage.h"
#include "stages/SpectrumParams.h"

#include <cstdint>

namespace sigkit {

// Spectral inversion: the output is always interleaved (I, Q) pairs at the input rate.
// Complex input ("ModeInp" "Complex"): each pair (I, Q) leaves as (Q, I), which mirrors the
// spectrum about 0 Hz (Q + jI = j·conj(I + jQ)); "RevIQ" "On" cancels the exchange. Real input
// (any other word): each sample becomes its analytic pair (delayed by 150 samples) with I and Q
// exchanged, the signal's spectrum on the negative-frequency side.
class SpInv final : public BlockStage
{
public:
    static constexpr int32_t kOutBufferFloats = 153600;

    // `outLimitFloats` caps the output of one Get (rounded down to whole pairs, at least one
    // pair); a block with more output is handed out over several Gets.
    explicit SpInv(int32_t outLimitFloats = kMaxOutFloats);

    // "ModeInp", "RevIQ", "ReSampl", "Quality", "Test"; other names are ignored. Only "ModeInp"
    // and "RevIQ" change the processing.
    void SetParam(const char* name, const char* value) override;
    // Runs; clears a pending half pair and the splitter's history. Result: 1.
    int32_t Start() override;

private:
    void Process(float* I, float* Q, int32_t pairs) override;
    std::size_t MostOutputs(std::size_t pairs) const override { return 2 * pairs; }

    SpectrumParams params;
};

} // namespace sigkit
