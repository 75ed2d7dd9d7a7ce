#pragma once

#include "dsp/rate/CascadePlan.h"
#include "dsp/rate/Multistage.h"

#include <cstdint>
#include <memory>

namespace sigkit::dsp {

// Quality presets of the rate changer: the stop band (aliases and images included) lies
// 80 / 100 / 120 / 140 dB down. At every preset the band is the same: the stop band starts at
// half the lower of the two rates, the gain is 3 dB down no lower than 0.95 of it, and the pass
// band ripples by at most 0.004 dB either way (0.008 dB from its lowest to its highest) up to 0.93
// (Low, Medium) or 0.935 (High, Best) of it.
enum class Quality : int32_t
{
    Low,
    Medium,
    High,
    Best,
};

struct QualityRecipe
{
    double attenuation;  // dB
    double passFraction; // pass-band edge over half the lower rate
    double passRipple;   // dB
};
QualityRecipe RecipeFor(Quality quality);

// Changes the sample rate of interleaved frames of C channels of floats by any ratio, up or down:
// C = 1 for mono, 2 for stereo or for I/Q (real taps treat I and Q alike, so I/Q stays I/Q), any
// other count a file has. Built on Multistage (half-bands, then an exact rational stage when the
// ratio's terms allow, an interpolated bank otherwise), with its guarantees: output frame k
// stands for time k/rateOut of the input, Flush gives the tail so N input frames give
// round(N·rateOut/rateIn) output frames, any split into calls gives the same bits, and memory
// does not grow with the signal. Equal rates pass the frames through unchanged.
class RateChanger
{
public:
    // Nothing (and the reason in `status`) for rates, ratios or channel counts it refuses.
    static std::unique_ptr<RateChanger> Create(double rateIn, double rateOut, int32_t channels,
                                               Quality quality, RateStatus* status = nullptr);

    // `frames` interleaved frames in; out with room for MaxOutput(frames) frames. Result: the
    // output frames written.
    int32_t Process(const float* in, int32_t frames, float* out)
    {
        return cascade->ProcessInterleaved(in, frames, out);
    }
    // The tail; out with room for MaxFlush() frames. Then Reset before a new signal.
    int32_t Flush(float* out) { return cascade->FlushInterleaved(out); }
    void Reset() { cascade->Reset(); }
    void UseKernels(const kernels::KernelTable& kernels) { cascade->UseKernels(kernels); }

    int32_t MaxOutput(int32_t frames) const { return cascade->MaxOutput(frames); }
    int32_t MaxFlush() const { return cascade->MaxFlush(); }
    int32_t Channels() const { return cascade->Channels(); }
    const CascadePlan& Plan() const { return cascade->Plan(); }
    const MultistageRequest& Request() const { return request; }

private:
    RateChanger() = default;

    MultistageRequest request;
    std::unique_ptr<Multistage> cascade;
};

} // namespace sigkit::dsp
