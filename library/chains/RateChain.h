#pragma once

#include "chains/Chain.h"
#include "dsp/rate/RateChanger.h"

#include <memory>

namespace sigkit::chains {

struct RateRequest
{
    Layout input;                              // real frames of any channel count, or I/Q
    double rateOut = 0.0;                      // Hz
    dsp::Quality quality = dsp::Quality::High; // stop band 80 / 100 / 120 / 140 dB down
    float gain = 1.0f;                         // every output sample is multiplied by it
};

// The rate kind: a sample rate changed by any ratio, up or down, with no shift. Real frames stay
// real with their channel count, I/Q pairs stay I/Q (the real taps treat I and Q alike). The
// work is the rate changer's (half-bands, then an exact rational stage or an interpolated
// bank), its quality preset chosen by the request; the gain is applied to its outputs (none for
// a gain of 1, so that equal rates give the input's bits).
class RateChain final : public Chain
{
public:
    static std::unique_ptr<RateChain> Create(const RateRequest& request,
                                             ChainStatus* status = nullptr);

    Layout Input() const override { return request.input; }
    Layout Output() const override;
    int32_t MaxOutput(int32_t frames) const override;
    int32_t Process(const float* in, int32_t frames, float* out) override;
    int32_t MaxFlush() const override { return changer->MaxFlush(); }
    int32_t Flush(float* out) override;
    void Reset() override;
    int64_t Latency() const override;

    const RateRequest& Request() const { return request; }
    // The stages as designed (kinds, rates, taps, multiply-adds).
    const dsp::CascadePlan& Plan() const { return changer->Plan(); }

private:
    RateChain() = default;
    void Scale(float* out, int32_t frames) const;

    RateRequest request;
    std::unique_ptr<dsp::RateChanger> changer;
    int64_t framesIn = 0;
    int64_t framesOut = 0;
    bool flushed = false;
};

} // namespace sigkit::chains
