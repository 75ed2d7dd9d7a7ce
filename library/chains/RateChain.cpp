#include "chains/RateChain.h"

#include "dsp/rate/RateArithmetic.h"

#include <cmath>
#include <cstdio>

namespace sigkit::chains {

namespace {

ChainStatus Refusal(ChainCode code, const char* format, double a = 0.0, double b = 0.0)
{
    char text[200];
    std::snprintf(text, sizeof text, format, a, b);
    return {code, text};
}

ChainStatus Check(const RateRequest& request)
{
    const Layout& in = request.input;
    if (in.complex && in.channels != 2)
        return Refusal(ChainCode::BadLayout, "rate: I/Q input has 2 channels, not %.0f",
                       in.channels);
    if (in.channels < 1 || in.channels > dsp::kMaxChannels)
        return Refusal(ChainCode::BadLayout, "rate: %.0f channels (1 to %.0f are taken)",
                       in.channels, dsp::kMaxChannels);
    const auto quality = static_cast<int32_t>(request.quality);
    if (quality < static_cast<int32_t>(dsp::Quality::Low) ||
        quality > static_cast<int32_t>(dsp::Quality::Best))
        return Refusal(ChainCode::BadParameter,
                       "rate: quality %.0f is not low, medium, high or best", quality);
    if (!std::isfinite(request.gain))
        return Refusal(ChainCode::BadParameter, "rate: the gain is not a finite number");
    return {};
}

ChainStatus FromRateStatus(dsp::RateStatus status, const RateRequest& request)
{
    char text[200];
    std::snprintf(text, sizeof text, "rate %.10g Hz -> %.10g Hz: %s", request.input.rate,
                  request.rateOut, dsp::RateStatusText(status));
    switch (status)
    {
    case dsp::RateStatus::Ok:
        return {};
    case dsp::RateStatus::BadRate:
    case dsp::RateStatus::BadRatio:
    case dsp::RateStatus::BadBand: // (the band follows from the rates)
        return {ChainCode::BadRate, text};
    case dsp::RateStatus::BadChannels:
        return {ChainCode::BadLayout, text};
    default:
        return {ChainCode::DesignFailed, text};
    }
}

} // namespace

std::unique_ptr<RateChain> RateChain::Create(const RateRequest& request, ChainStatus* status)
{
    ChainStatus result = Check(request);
    std::unique_ptr<RateChain> chain;
    if (result.Ok())
    {
        chain.reset(new RateChain());
        chain->request = request;
        dsp::RateStatus made = dsp::RateStatus::Ok;
        chain->changer = dsp::RateChanger::Create(request.input.rate, request.rateOut,
                                                  request.input.channels, request.quality, &made);
        result = FromRateStatus(made, request);
        if (!chain->changer)
            chain.reset();
    }
    if (status != nullptr)
        *status = result;
    return chain;
}

Layout RateChain::Output() const
{
    Layout out = request.input;
    out.rate = request.rateOut;
    return out;
}

int32_t RateChain::MaxOutput(int32_t frames) const
{
    return changer->MaxOutput(frames);
}

void RateChain::Scale(float* out, int32_t frames) const
{
    if (request.gain == 1.0f)
        return;
    const int64_t floats = static_cast<int64_t>(frames) * request.input.channels;
    for (int64_t i = 0; i < floats; ++i)
        out[i] = out[i] * request.gain;
}

int32_t RateChain::Process(const float* in, int32_t frames, float* out)
{
    if (flushed || frames < 1 || in == nullptr || out == nullptr ||
        MaxOutput(frames) == kRefusedCall)
        return 0;
    const int32_t made = changer->Process(in, frames, out);
    Scale(out, made);
    framesIn += frames;
    framesOut += made;
    return made;
}

int32_t RateChain::Flush(float* out)
{
    if (flushed || out == nullptr)
        return 0;
    flushed = true;
    const int32_t made = changer->Flush(out);
    Scale(out, made);
    framesOut += made;
    return made;
}

void RateChain::Reset()
{
    changer->Reset();
    framesIn = 0;
    framesOut = 0;
    flushed = false;
}

int64_t RateChain::Latency() const
{
    if (flushed)
        return 0;
    const dsp::CascadePlan& plan = changer->Plan();
    return dsp::RoundedCount(framesIn, plan.up, plan.down) - framesOut;
}

} // namespace sigkit::chains
