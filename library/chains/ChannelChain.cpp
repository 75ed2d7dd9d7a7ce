#include "chains/ChannelChain.h"

#include "dsp/design/LowPass.h"
#include "dsp/rate/RateArithmetic.h"
#include "stages/kernels/Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace sigkit::chains {

namespace {

constexpr double kTransition = 0.1;     // of the band, beyond its edge
constexpr double kPassRipple = 0.01;    // dB either way over the band
constexpr double kCascadeShare = 0.002; // dB of it left to the cascade after the fast filter
constexpr double kRealGain = 2.0;       // real input: a cosine's positive half to full amplitude
constexpr double kInfinite = std::numeric_limits<double>::infinity();

ChainStatus Refusal(ChainCode code, const char* format, double a = 0.0, double b = 0.0,
                    double c = 0.0)
{
    char text[240];
    std::snprintf(text, sizeof text, format, a, b, c);
    return {code, text};
}

// f folded into [-rate/2, rate/2].
double Fold(double f, double rate)
{
    return f - rate * std::round(f / rate);
}

ChainStatus Check(const ChannelRequest& r, const ChannelDesign& d)
{
    const Layout& in = r.input;
    if (in.complex && in.channels != 2)
        return Refusal(ChainCode::BadLayout, "channel: I/Q input has 2 channels, not %.0f",
                       in.channels);
    if (!in.complex && in.channels != 1)
        return Refusal(ChainCode::BadLayout,
                       "channel: takes I/Q or one real channel, not %.0f real channels",
                       in.channels);
    if (!(in.rate > 0.0 && in.rate <= dsp::kMaxRate))
        return Refusal(ChainCode::BadRate,
                       "channel: the input rate %g Hz is not a positive number up to %g Hz",
                       in.rate, dsp::kMaxRate);
    if (!(r.band > 0.0 && std::isfinite(r.band)))
        return Refusal(ChainCode::BadParameter, "channel: the band %g Hz is not a positive number",
                       r.band);
    if (2.0 * d.stopEdge > in.rate)
        return Refusal(ChainCode::BadParameter,
                       "channel: a band of %g Hz with its transition needs %g Hz, more than the "
                       "input rate %g Hz",
                       r.band, 2.0 * d.stopEdge, in.rate);
    if (!(std::fabs(r.frequency) <= 0.5 * in.rate))
        return Refusal(ChainCode::BadFrequency,
                       "channel: the frequency %g Hz lies beyond +-%g Hz (half the input rate)",
                       r.frequency, 0.5 * in.rate);
    if (!in.complex && std::fabs(Fold(2.0 * r.frequency, in.rate)) < d.passEdge + d.stopEdge)
        return Refusal(ChainCode::BadFrequency,
                       "channel: real input: the band at %g Hz must lie %g Hz or more from 0 Hz "
                       "and from half the input rate, or its mirror image stays (use I/Q input)",
                       r.frequency, 0.5 * (d.passEdge + d.stopEdge));
    if (r.rateOut != 0.0)
    {
        if (!(r.rateOut > 0.0 && r.rateOut <= in.rate))
            return Refusal(ChainCode::BadRate,
                           "channel: the output rate %g Hz is not a positive number up to the "
                           "input rate %g Hz",
                           r.rateOut, in.rate);
        if (r.rateOut < 2.0 * d.stopEdge)
            return Refusal(ChainCode::BadRate,
                           "channel: the output rate %g Hz cannot hold the band of %g Hz with its "
                           "transition (%g Hz or more)",
                           r.rateOut, r.band, 2.0 * d.stopEdge);
        if (in.rate / r.rateOut > dsp::kMaxRatio)
            return Refusal(ChainCode::BadRate,
                           "channel: the output rate %g Hz is more than %g times below the input "
                           "rate",
                           r.rateOut, dsp::kMaxRatio);
    }
    const auto quality = static_cast<int32_t>(r.quality);
    if (quality < static_cast<int32_t>(dsp::Quality::Low) ||
        quality > static_cast<int32_t>(dsp::Quality::Best))
        return Refusal(ChainCode::BadParameter,
                       "channel: quality %.0f is not low, medium, high or best", quality);
    if (!std::isfinite(r.gain))
        return Refusal(ChainCode::BadParameter, "channel: the gain is not a finite number");
    return {};
}

ChainStatus FromRateStatus(dsp::RateStatus status)
{
    if (status == dsp::RateStatus::Ok)
        return {};
    const ChainCode code = status == dsp::RateStatus::BadRate || status == dsp::RateStatus::BadRatio
                               ? ChainCode::BadRate
                               : ChainCode::DesignFailed;
    return {code, std::string("channel: ") + dsp::RateStatusText(status)};
}

// Estimated taps of the fast band filter (the equiripple estimate, or Kaiser's beyond the
// equiripple design's reach).
int64_t FastFilterTaps(const dsp::LowPassRequest& wanted)
{
    const int64_t n = dsp::EquirippleLength(wanted);
    if (n <= 8191)
        return n;
    return dsp::KaiserLength(wanted.attenuation + 3.0, wanted.stopEdge - wanted.passEdge);
}

// Real multiply-adds per input frame of a cascade (I and Q), infinite when it cannot be made.
double CascadeCost(const dsp::MultistageRequest& wanted)
{
    dsp::CascadePlan plan;
    if (dsp::PlanCascade(wanted, plan) != dsp::RateStatus::Ok)
        return kInfinite;
    return static_cast<double>(wanted.channels) * plan.macsPerInput;
}

} // namespace

ChannelDesign DesignFor(const ChannelRequest& request)
{
    ChannelDesign d;
    d.passEdge = 0.5 * request.band;
    d.stopEdge = d.passEdge + kTransition * request.band;
    d.attenuation = dsp::RecipeFor(request.quality).attenuation;
    d.passRipple = kPassRipple;
    return d;
}

ChannelChain::~ChannelChain() = default;

std::unique_ptr<ChannelChain> ChannelChain::Create(const ChannelRequest& request,
                                                   ChainStatus* status)
{
    std::unique_ptr<ChannelChain> chain(new ChannelChain());
    chain->request = request;
    const ChainStatus result = chain->Build();
    if (status != nullptr)
        *status = result;
    if (!result.Ok())
        chain.reset();
    return chain;
}

ChainStatus ChannelChain::Build()
{
    design = DesignFor(request);
    ChainStatus status = Check(request, design);
    if (!status.Ok())
        return status;
    const double rate = request.input.rate;
    rateOut = request.rateOut != 0.0 ? request.rateOut
                                     : dsp::ConvenientRate(rate, design.passEdge, design.stopEdge);
    if (!dsp::RateRatio(rate, rateOut, up, down))
        return Refusal(ChainCode::BadRate, "channel: no ratio of %g Hz to %g Hz", rateOut, rate);

    // The two structures and their estimated costs.
    const dsp::MultistageRequest direct{
        rate, rateOut, design.passEdge, design.stopEdge, design.attenuation, design.passRipple, 2};
    const double directCost = CascadeCost(direct);
    const bool filters = 2.0 * design.stopEdge < rate;
    dsp::LowPassRequest fast{design.passEdge / rate, design.stopEdge / rate, design.attenuation,
                             rateOut < rate ? design.passRipple - kCascadeShare
                                            : design.passRipple};
    dsp::MultistageRequest after = direct;
    after.stopEdge = 0.5 * rateOut;
    after.passRipple = kCascadeShare;
    double fastCost = kInfinite;
    const int64_t fastTaps = filters ? FastFilterTaps(fast) : 0;
    if (filters && fastTaps <= FftFilter::kMaxTaps)
        fastCost = FftFilter::EstimatedCost(static_cast<int32_t>(fastTaps)) +
                   (rateOut < rate ? CascadeCost(after) : 0.0);

    dsp::RateStatus made = dsp::RateStatus::Ok;
    if (fastCost < directCost)
    {
        std::vector<double> taps;
        const dsp::DesignStatus designed = dsp::DesignEquiripple(fast, taps);
        if (designed != dsp::DesignStatus::Ok)
            return {ChainCode::DesignFailed,
                    std::string("channel: ") + dsp::DesignStatusText(designed)};
        const std::vector<float> rounded(taps.begin(), taps.end());
        fft = std::make_unique<FftFilter>(rounded.data(), static_cast<int32_t>(rounded.size()));
        if (!fft->IsValid())
            return {ChainCode::DesignFailed, "channel: the band filter is too long"};
        if (rateOut < rate)
            cascade = dsp::Multistage::Create(after, &made);
        cost = fastCost;
    }
    else
    {
        cascade = dsp::Multistage::Create(direct, &made);
        cost = directCost;
    }
    status = FromRateStatus(made);
    if (!status.Ok())
        return status;

    Allocate();
    Reset();
    return {};
}

// The working buffers of the structure built, and the most a flush gives.
void ChannelChain::Allocate()
{
    const auto piece = static_cast<std::size_t>(kPiece);
    phases.assign(piece, 0.0);
    sines.assign(piece, 0.0f);
    cosines.assign(piece, 0.0f);
    pieceI.assign(piece, 0.0f);
    pieceQ.assign(piece, 0.0f);
    int32_t widest = kPiece;
    if (fft)
    {
        const auto hop = static_cast<std::size_t>(fft->Hop());
        hopI.assign(hop, 0.0f);
        hopQ.assign(hop, 0.0f);
        filteredI.assign(hop, 0.0f);
        filteredQ.assign(hop, 0.0f);
        widest = std::max(widest, fft->Hop());
    }
    if (cascade)
    {
        const auto most =
            static_cast<std::size_t>(std::max(cascade->MaxOutput(widest), cascade->MaxFlush()));
        cascadeI.assign(most, 0.0f);
        cascadeQ.assign(most, 0.0f);
    }
    // The flush gives what the hop buffer and the fast filter's delay hold, through the cascade,
    // and the cascade's own tail.
    const int64_t held = fft ? int64_t{fft->Hop()} + fft->Delay() : 0;
    int64_t most = held;
    if (cascade)
        most = (held > 0 ? cascade->MaxOutput(static_cast<int32_t>(held)) : 0) +
               int64_t{cascade->MaxFlush()};
    maxFlush = static_cast<int32_t>(std::min<int64_t>(most, kRefusedCall - 1));
}

void ChannelChain::Reset()
{
    oscillator.Reset();
    // The first step adds the increment to its negation: input frame 0 is turned by exactly 0.
    *oscillator.PhaseState() = -PhaseOscillator::Increment(request.input.rate, request.frequency);
    if (fft)
        fft->Reset();
    if (cascade)
        cascade->Reset();
    fill = 0;
    dropped = 0;
    framesIn = 0;
    framesOut = 0;
    flushed = false;
}

int32_t ChannelChain::MaxOutput(int32_t frames) const
{
    const int64_t in = std::max(frames, 0);
    if (!fft)
        return cascade->MaxOutput(frames);
    // What the hop buffer holds comes out with this call's input.
    const int64_t filtered = in + fft->Hop();
    if (filtered >= kRefusedCall)
        return kRefusedCall;
    return cascade ? cascade->MaxOutput(static_cast<int32_t>(filtered))
                   : static_cast<int32_t>(filtered);
}

void ChannelChain::Load(const float* in, int32_t frames)
{
    const kernels::KernelTable& table = kernels::Active();
    float* I = pieceI.data();
    float* Q = pieceQ.data();
    if (request.input.complex)
        table.deinterleave(in, frames, I, Q);
    else
    {
        for (int32_t i = 0; i < frames; ++i)
            I[i] = static_cast<float>(kRealGain) * in[i];
        std::fill(Q, Q + frames, 0.0f);
    }
    // At 0 Hz the turn is by 0 (as the oscillator would give, but for the signs of zeros).
    if (request.frequency == 0.0)
        return;
    oscillator.Steps(request.input.rate, request.frequency, frames, phases.data(), sines.data(),
                     cosines.data());
    table.mix(I, Q, sines.data(), cosines.data(), frames, I, Q);
}

int32_t ChannelChain::Interleave(const float* I, const float* Q, int32_t frames, float* out) const
{
    const float gain = request.gain;
    if (gain == 1.0f)
        for (int32_t k = 0; k < frames; ++k)
        {
            out[2 * k] = I[k];
            out[2 * k + 1] = Q[k];
        }
    else
        for (int32_t k = 0; k < frames; ++k)
        {
            out[2 * k] = I[k] * gain;
            out[2 * k + 1] = Q[k] * gain;
        }
    return frames;
}

int32_t ChannelChain::Deliver(const float* I, const float* Q, int32_t frames, float* out)
{
    if (frames <= 0)
        return 0;
    if (!cascade)
        return Interleave(I, Q, frames, out);
    const float* in[2] = {I, Q};
    float* const filtered[2] = {cascadeI.data(), cascadeQ.data()};
    const int32_t made = cascade->Process(in, frames, filtered);
    return Interleave(cascadeI.data(), cascadeQ.data(), made, out);
}

int32_t ChannelChain::RunHop(float* out)
{
    const int32_t n = fill;
    fill = 0;
    fft->StepBlock(hopI.data(), hopQ.data(), n, filteredI.data(), filteredQ.data());
    // The fast filter's first Delay() outputs stand for times before the input.
    const auto skip = static_cast<int32_t>(std::min<int64_t>(fft->Delay() - dropped, n));
    dropped += skip;
    return Deliver(filteredI.data() + skip, filteredQ.data() + skip, n - skip, out);
}

int32_t ChannelChain::Fill(const float* I, const float* Q, int32_t frames, float* out)
{
    int32_t written = 0;
    for (int32_t done = 0; done < frames;)
    {
        const int32_t n = std::min(frames - done, fft->Hop() - fill);
        if (I != nullptr)
        {
            std::memcpy(hopI.data() + fill, I + done, sizeof(float) * static_cast<std::size_t>(n));
            std::memcpy(hopQ.data() + fill, Q + done, sizeof(float) * static_cast<std::size_t>(n));
        }
        else
        {
            std::fill(hopI.data() + fill, hopI.data() + fill + n, 0.0f);
            std::fill(hopQ.data() + fill, hopQ.data() + fill + n, 0.0f);
        }
        fill += n;
        done += n;
        if (fill == fft->Hop())
            written += RunHop(out + 2 * static_cast<std::ptrdiff_t>(written));
    }
    return written;
}

int32_t ChannelChain::Process(const float* in, int32_t frames, float* out)
{
    if (flushed || frames < 1 || in == nullptr || out == nullptr ||
        MaxOutput(frames) == kRefusedCall)
        return 0;
    const int32_t channels = request.input.channels;
    int32_t written = 0;
    for (int32_t at = 0; at < frames; at += kPiece)
    {
        const int32_t n = std::min(kPiece, frames - at);
        Load(in + static_cast<std::ptrdiff_t>(at) * channels, n);
        float* to = out + 2 * static_cast<std::ptrdiff_t>(written);
        written += fft ? Fill(pieceI.data(), pieceQ.data(), n, to)
                       : Deliver(pieceI.data(), pieceQ.data(), n, to);
    }
    framesIn += frames;
    framesOut += written;
    return written;
}

int32_t ChannelChain::Flush(float* out)
{
    if (flushed || out == nullptr)
        return 0;
    flushed = true;
    int32_t written = 0;
    if (fft)
    {
        // Zeros after the input for the outputs the fast filter's delay holds back, then the
        // last hop as far as it has come.
        written += Fill(nullptr, nullptr, fft->Delay(), out);
        if (fill > 0)
            written += RunHop(out + 2 * static_cast<std::ptrdiff_t>(written));
    }
    if (cascade)
    {
        float* const tail[2] = {cascadeI.data(), cascadeQ.data()};
        const int32_t made = cascade->Flush(tail);
        written += Interleave(cascadeI.data(), cascadeQ.data(), made,
                              out + 2 * static_cast<std::ptrdiff_t>(written));
    }
    framesOut += written;
    return written;
}

int64_t ChannelChain::Latency() const
{
    if (flushed)
        return 0;
    return dsp::RoundedCount(framesIn, up, down) - framesOut;
}

} // namespace sigkit::chains
