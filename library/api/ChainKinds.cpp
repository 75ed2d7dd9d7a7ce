// The new kinds behind the sigkit_ API: rate change, channel cut and the receivers, each object
// one chain of library/chains made from the configuration record. The floats are the chain's
// own, bit for bit; the adapter only cuts calls of any length into calls the chain takes and
// turns the chain's refusals into statuses.
#include "api/Config.h"
#include "api/KindTable.h"
#include "chains/ChannelChain.h"
#include "chains/RateChain.h"
#include "chains/Receiver.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>

namespace sigkit::api {

namespace {

using chains::Chain;
using chains::ChainCode;

// Input frames handed to the chain per call, at most; fewer when one call could make more than
// kMostPerPiece output frames (a large interpolation), so that every bound fits 32 bits.
constexpr int32_t kLargestPiece = 65536;
constexpr int32_t kMostPerPiece = 1 << 26;

// Receivers: the output rate that 0 selects.
constexpr double kReceiverRate = 48000.0; // Hz
// USB and LSB: the audio band that 0 selects, and CW's beat tone.
constexpr double kAudioLow = 300.0;   // Hz
constexpr double kAudioHigh = 2700.0; // Hz
constexpr double kCwPitch = 700.0;    // Hz

int StatusOf(ChainCode code)
{
    switch (code)
    {
    case ChainCode::Ok:
        return SIGKIT_OK;
    case ChainCode::BadLayout:
        return SIGKIT_E_CHANNELS;
    case ChainCode::BadRate:
        return SIGKIT_E_BAD_RATE;
    case ChainCode::BadFrequency:
        return SIGKIT_E_FREQUENCY;
    case ChainCode::BadParameter:
    case ChainCode::DesignFailed: // a request beyond what the designs reach: out of range too
        return SIGKIT_E_INVALID;
    }
    return SIGKIT_E_INTERNAL;
}

Layout ApiLayout(const chains::Layout& layout)
{
    return {layout.complex, layout.complex ? 1 : layout.channels, layout.rate};
}

chains::Layout ChainInput(const sigkit_config& config)
{
    if (config.complex_input != 0)
        return {config.input_rate, 2, true};
    return {config.input_rate, config.channels, false};
}

// The configured gain as the float every output sample is multiplied by.
bool FloatGain(double gain, float& out)
{
    if (!(std::fabs(gain) <= static_cast<double>(FLT_MAX)))
        return false;
    out = static_cast<float>(gain);
    return true;
}

dsp::Quality QualityOf(int32_t quality)
{
    // SIGKIT_QUALITY_LOW .. BEST are Low .. Best in order (CheckCommon has the range).
    return static_cast<dsp::Quality>(quality);
}

class ChainProcessor final : public Processor
{
public:
    // `gain` multiplies the chain's outputs (the receivers have none of their own); 1 leaves them
    // untouched.
    ChainProcessor(std::unique_ptr<Chain> made, float gain) : chain(std::move(made)), gain(gain)
    {
        while (piece > 1 && chain->MaxOutput(piece) > kMostPerPiece)
            piece /= 2;
        pieceMost = chain->MaxOutput(piece);
    }

    Layout Input() const override { return ApiLayout(chain->Input()); }
    Layout Output() const override { return ApiLayout(chain->Output()); }

    // The sum of the pieces' bounds: each piece then finds the room its own bound asks for,
    // whatever the pieces before it made.
    bool MaxOutput(std::size_t inFrames, std::size_t& outFrames) const override
    {
        if (inFrames == 0)
        {
            outFrames = static_cast<std::size_t>(chain->MaxFlush());
            return true;
        }
        const auto size = static_cast<std::size_t>(piece);
        std::size_t most = 0;
        if (__builtin_mul_overflow(inFrames / size, static_cast<std::size_t>(pieceMost), &most))
            return false;
        if (inFrames % size != 0 &&
            __builtin_add_overflow(
                most,
                static_cast<std::size_t>(chain->MaxOutput(static_cast<int32_t>(inFrames % size))),
                &most))
            return false;
        outFrames = most;
        return true;
    }

    int Process(const float* in, std::size_t frames, float* out, std::size_t /*capacity*/,
                std::size_t& made) override
    {
        made = 0;
        const std::size_t inFloats = Input().FrameFloats();
        const std::size_t outFloats = Output().FrameFloats();
        for (std::size_t at = 0; at < frames; at += static_cast<std::size_t>(piece))
        {
            const auto n =
                static_cast<int32_t>(std::min(frames - at, static_cast<std::size_t>(piece)));
            float* to = out + made * outFloats;
            const int32_t got = chain->Process(in + at * inFloats, n, to);
            Scale(to, static_cast<std::size_t>(got) * outFloats);
            made += static_cast<std::size_t>(got);
        }
        return SIGKIT_OK;
    }

    int Flush(float* out, std::size_t /*capacity*/, std::size_t& made) override
    {
        const int32_t got = chain->Flush(out);
        Scale(out, static_cast<std::size_t>(got) * Output().FrameFloats());
        made = static_cast<std::size_t>(got);
        return SIGKIT_OK;
    }

    int Reset() override
    {
        chain->Reset();
        return SIGKIT_OK;
    }

    // Every chain aligns its output (frame k stands for input time k / output rate): no delay.
    double Latency() const override { return 0.0; }

private:
    void Scale(float* samples, std::size_t count) const
    {
        if (gain == 1.0f)
            return;
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = samples[i] * gain;
    }

    std::unique_ptr<Chain> chain;
    float gain = 1.0f;
    int32_t piece = kLargestPiece;
    int32_t pieceMost = 0;
};

// The chain made, or the status of its refusal.
int Adopt(std::unique_ptr<Chain> chain, const chains::ChainStatus& status, float gain,
          std::unique_ptr<Processor>& made)
{
    if (chain == nullptr)
        return status.Ok() ? SIGKIT_E_INTERNAL : StatusOf(status.code);
    made = std::make_unique<ChainProcessor>(std::move(chain), gain);
    return SIGKIT_OK;
}

int MakeRate(const sigkit_config& config, float gain, std::unique_ptr<Processor>& made)
{
    chains::RateRequest request;
    request.input = ChainInput(config);
    request.rateOut = config.output_rate == 0.0 ? config.input_rate : config.output_rate;
    request.quality = QualityOf(config.quality);
    request.gain = gain;
    chains::ChainStatus status;
    auto chain = chains::RateChain::Create(request, &status);
    return Adopt(std::move(chain), status, 1.0f, made);
}

int MakeChannel(const sigkit_config& config, float gain, std::unique_ptr<Processor>& made)
{
    chains::ChannelRequest request;
    request.input = ChainInput(config);
    request.frequency = config.frequency;
    request.band = config.band;
    request.rateOut = config.output_rate;
    request.quality = QualityOf(config.quality);
    request.gain = gain;
    chains::ChainStatus status;
    auto chain = chains::ChannelChain::Create(request, &status);
    return Adopt(std::move(chain), status, 1.0f, made);
}

chains::ReceiverMode ModeOf(int32_t kind)
{
    switch (kind)
    {
    case SIGKIT_KIND_FM:
        return chains::ReceiverMode::Fm;
    case SIGKIT_KIND_WFM:
        return chains::ReceiverMode::Wfm;
    case SIGKIT_KIND_USB:
        return chains::ReceiverMode::Usb;
    case SIGKIT_KIND_LSB:
        return chains::ReceiverMode::Lsb;
    case SIGKIT_KIND_CW:
        return chains::ReceiverMode::Cw;
    default:
        return chains::ReceiverMode::Am;
    }
}

int MakeReceiver(const sigkit_config& config, float gain, std::unique_ptr<Processor>& made)
{
    if (config.complex_input == 0)
        return SIGKIT_E_CHANNELS; // receivers take I/Q recordings
    chains::ReceiverSettings settings;
    settings.mode = ModeOf(config.kind);
    settings.rateIn = config.input_rate;
    settings.frequency = config.frequency;
    settings.rateOut = config.output_rate == 0.0 ? kReceiverRate : config.output_rate;
    settings.band = config.band;
    settings.deviation = config.deviation;
    settings.deemphasis = config.deemphasis_us * 1e-6;
    settings.agc = config.agc != 0;
    settings.beat = config.cw_pitch == 0.0 ? kCwPitch : config.cw_pitch;
    if (settings.mode == chains::ReceiverMode::Usb || settings.mode == chains::ReceiverMode::Lsb)
    {
        // The audio band from audio_low to audio_high; a band given instead sets its width.
        const double low = config.audio_low == 0.0 ? kAudioLow : config.audio_low;
        const double high = config.audio_high == 0.0 ? kAudioHigh : config.audio_high;
        if (config.band == 0.0 && !(high > low))
            return SIGKIT_E_INVALID;
        settings.lowCut = low;
        settings.band = config.band != 0.0 ? config.band : high - low;
    }
    chains::ReceiverStatus status = chains::ReceiverStatus::Ok;
    std::unique_ptr<Chain> chain = chains::Receiver::Create(settings, &status);
    return Adopt(std::move(chain), chains::ToChainStatus(status), gain, made);
}

} // namespace

int MakeChainKind(const sigkit_config& config, std::unique_ptr<Processor>& made)
{
    float gain = 1.0f;
    if (!FloatGain(config.gain, gain))
        return SIGKIT_E_INVALID;
    switch (config.kind)
    {
    case SIGKIT_KIND_RATE:
        return MakeRate(config, gain, made);
    case SIGKIT_KIND_CHANNEL:
        return MakeChannel(config, gain, made);
    case SIGKIT_KIND_AM:
    case SIGKIT_KIND_FM:
    case SIGKIT_KIND_WFM:
    case SIGKIT_KIND_USB:
    case SIGKIT_KIND_LSB:
    case SIGKIT_KIND_CW:
        return MakeReceiver(config, gain, made);
    default:
        return SIGKIT_E_UNKNOWN_KIND;
    }
}

} // namespace sigkit::api
