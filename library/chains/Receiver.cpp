#include "chains/Receiver.h"

#include "chains/AmReceiver.h"
#include "chains/FmReceiver.h"
#include "chains/SsbReceiver.h"
#include "dsp/rate/RateArithmetic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>

namespace sigkit::chains {

namespace {

// Every filter of a receiver: the stop band (aliases included) 100 dB down. The audio's pass
// band is flat within ±0.01 dB; the channel's within ±0.001 dB, because an FM signal turns the
// ripple over its spectrum into echoes that distort (±0.01 dB gives 0.035 % THD at 5 kHz
// deviation in a 25 kHz channel).
constexpr double kAttenuation = 100.0;   // dB
constexpr double kChannelRipple = 0.001; // dB
constexpr double kAudioRipple = 0.01;    // dB
// The audio filter's pass edge stays below this fraction of its stop edge when the output rate
// is what limits it (the rate changer's own proportion).
constexpr double kPassFraction = 0.93;
constexpr double kTurn = 2.0 * std::numbers::pi;

const char* const kModeNames[] = {"am", "fm", "wfm", "usb", "lsb", "cw"};

bool RateUsable(double rate)
{
    return std::isfinite(rate) && rate > 0.0 && rate <= dsp::kMaxRate;
}

// One of the receiver's filters, changing the rate from rateIn to rateOut.
ReceiverStatus MakeFilter(double rateIn, double rateOut, double passEdge, double stopEdge,
                          double ripple, int32_t channels, std::unique_ptr<dsp::Multistage>& made)
{
    dsp::MultistageRequest request;
    request.rateIn = rateIn;
    request.rateOut = rateOut;
    request.passEdge = passEdge;
    request.stopEdge = stopEdge;
    request.attenuation = kAttenuation;
    request.passRipple = ripple;
    request.channels = channels;
    dsp::RateStatus rate = dsp::RateStatus::Ok;
    made = dsp::Multistage::Create(request, &rate);
    if (!made)
        return rate == dsp::RateStatus::BadRate || rate == dsp::RateStatus::BadRatio
                   ? ReceiverStatus::BadRate
                   : ReceiverStatus::DesignFailed;
    return ReceiverStatus::Ok;
}

} // namespace

const char* ReceiverModeName(ReceiverMode mode)
{
    const auto i = static_cast<std::size_t>(mode);
    return i < std::size(kModeNames) ? kModeNames[i] : "?";
}

bool ReceiverModeFromName(const char* name, ReceiverMode& mode)
{
    if (name == nullptr)
        return false;
    for (std::size_t i = 0; i < std::size(kModeNames); ++i)
        if (std::strcmp(name, kModeNames[i]) == 0)
        {
            mode = static_cast<ReceiverMode>(i);
            return true;
        }
    return false;
}

const char* ReceiverStatusText(ReceiverStatus status)
{
    switch (status)
    {
    case ReceiverStatus::Ok:
        return "ok";
    case ReceiverStatus::BadMode:
        return "unknown receiver mode";
    case ReceiverStatus::BadRate:
        return "a rate is not a positive finite number within the limits";
    case ReceiverStatus::BadBand:
        return "the band is not above 0 or wider than the input rate allows";
    case ReceiverStatus::OutsideRecording:
        return "the channel reaches beyond the recording (|frequency| above half the input rate "
               "less half the band)";
    case ReceiverStatus::BadDeviation:
        return "the FM deviation is not above 0 or beyond half the working rate";
    case ReceiverStatus::BadDeemphasis:
        return "the de-emphasis time constant is negative or not finite";
    case ReceiverStatus::BadAudio:
        return "the audio band, low cut or beat tone is out of range";
    case ReceiverStatus::DesignFailed:
        return "a filter of the receiver could not be designed";
    }
    return "unknown status";
}

ChainStatus ToChainStatus(ReceiverStatus status)
{
    ChainCode code = ChainCode::BadParameter;
    switch (status)
    {
    case ReceiverStatus::Ok:
        return {};
    case ReceiverStatus::BadRate:
        code = ChainCode::BadRate;
        break;
    case ReceiverStatus::OutsideRecording:
        code = ChainCode::BadFrequency;
        break;
    case ReceiverStatus::DesignFailed:
        code = ChainCode::DesignFailed;
        break;
    default:
        break;
    }
    return {code, std::string("receiver: ") + ReceiverStatusText(status)};
}

std::unique_ptr<Receiver> Receiver::Create(const ReceiverSettings& settings, ReceiverStatus* status)
{
    switch (settings.mode)
    {
    case ReceiverMode::Am:
        return AmReceiver::Create(settings, status);
    case ReceiverMode::Fm:
    case ReceiverMode::Wfm:
        return FmReceiver::Create(settings, status);
    case ReceiverMode::Usb:
    case ReceiverMode::Lsb:
    case ReceiverMode::Cw:
        return SsbReceiver::Create(settings, status);
    }
    if (status != nullptr)
        *status = ReceiverStatus::BadMode;
    return nullptr;
}

Receiver::~Receiver() = default;

ReceiverStatus Receiver::Build(const ReceiverSettings& filled, const ReceiverShape& designed,
                               int32_t demodulatorLead)
{
    settings = filled;
    shape = designed;
    const double R = filled.rateIn;
    if (!RateUsable(R) || !RateUsable(filled.rateOut))
        return ReceiverStatus::BadRate;
    if (!std::isfinite(filled.frequency) || !std::isfinite(designed.offset))
        return ReceiverStatus::OutsideRecording;
    if (!(designed.halfWidth > 0.0) || !(designed.halfWidth < 0.5 * R) ||
        !(designed.workingRate > 0.0))
        return ReceiverStatus::BadBand;
    // The channel, [centre - halfWidth, centre + halfWidth], lies within the recording.
    shape.shift = filled.frequency + designed.offset;
    if (shape.shift - designed.halfWidth < -0.5 * R || shape.shift + designed.halfWidth > 0.5 * R)
        return ReceiverStatus::OutsideRecording;
    const double Fw = designed.workingRate;
    const double Fout = filled.rateOut;
    if (!(Fout / Fw <= dsp::kMaxRatio && Fw / Fout <= dsp::kMaxRatio) ||
        !dsp::RateRatio(R, Fout, up, down))
        return ReceiverStatus::BadRate;

    // The channel: its stop edge within what the working rate holds.
    shape.stopEdge = std::min(designed.stopEdge, 0.5 * Fw);
    if (!(shape.stopEdge > designed.halfWidth))
        return ReceiverStatus::BadBand;
    ReceiverStatus status =
        MakeFilter(R, Fw, designed.halfWidth, shape.stopEdge, kChannelRipple, 2, channel);
    if (status != ReceiverStatus::Ok)
        return status;

    // The audio: its band within what both rates hold.
    shape.audioStop = std::min(designed.audioStop, 0.5 * std::min(Fw, Fout));
    shape.audioPass = std::min(designed.audioPass, kPassFraction * shape.audioStop);
    if (!(shape.audioPass > 0.0))
        return ReceiverStatus::BadAudio;
    status = MakeFilter(Fw, Fout, shape.audioPass, shape.audioStop, kAudioRipple, 1, audio);
    if (status != ReceiverStatus::Ok)
        return status;

    increment = kTurn * shape.shift / R;
    lead = demodulatorLead;
    const int32_t zeros = static_cast<int32_t>(std::ceil(Fw / Fout)) + 2;
    workingBlock = std::max({channel->MaxOutput(kPiece), channel->MaxFlush(), lead, zeros, 1});
    const double ratio = Fout / Fw;
    const double flushIn = static_cast<double>(channel->MaxFlush()) + lead + zeros;
    maxFlush = static_cast<int32_t>(
        std::min(std::ceil(flushIn * ratio) + 2.0 * audio->MaxFlush() + 4.0, 1e9));

    const auto piece = static_cast<std::size_t>(kPiece);
    pieceI.assign(piece, 0.0f);
    pieceQ.assign(piece, 0.0f);
    sines.assign(piece, 0.0f);
    cosines.assign(piece, 0.0f);
    phases.assign(piece, 0.0);
    const auto work = static_cast<std::size_t>(workingBlock);
    workI.assign(work, 0.0f);
    workQ.assign(work, 0.0f);
    workAudio.assign(work, 0.0f);
    table = &kernels::Active();
    framesIn = 0;
    framesOut = 0;
    toDrop = lead;
    audioIn = 0;
    flushed = false;
    phase = -increment;
    return ReceiverStatus::Ok;
}

void Receiver::Reset()
{
    channel->Reset();
    audio->Reset();
    ResetDemodulator();
    // The oscillator steps before it gives a phase: one step back gives 0 for the first sample.
    phase = -increment;
    framesIn = 0;
    framesOut = 0;
    toDrop = lead;
    audioIn = 0;
    flushed = false;
}

void Receiver::UseKernels(const kernels::KernelTable& kernels)
{
    table = &kernels;
    channel->UseKernels(kernels);
    audio->UseKernels(kernels);
    UseDemodulatorKernels(kernels);
}

int32_t Receiver::MaxOutput(int32_t frames) const
{
    const double most =
        std::ceil(static_cast<double>(std::max(frames, 0)) * settings.rateOut / settings.rateIn) +
        2.0 + maxFlush;
    return static_cast<int32_t>(
        std::min(most, static_cast<double>(std::numeric_limits<int32_t>::max())));
}

int64_t Receiver::Latency() const
{
    if (flushed)
        return 0;
    return std::max<int64_t>(0, dsp::RoundedCount(framesIn, up, down) - framesOut);
}

int32_t Receiver::ToOutput(const float* samples, int32_t n, float* out)
{
    const auto skip = static_cast<int32_t>(std::min<int64_t>(n, toDrop));
    toDrop -= skip;
    n -= skip;
    if (n <= 0)
        return 0;
    const float* in[1] = {samples + skip};
    float* to[1] = {out};
    audioIn += n;
    return audio->Process(in, n, to);
}

int32_t Receiver::ChannelToOutput(int32_t n, float* out)
{
    if (n <= 0)
        return 0;
    Demodulate(workI.data(), workQ.data(), n, workAudio.data());
    return ToOutput(workAudio.data(), n, out);
}

int32_t Receiver::Process(const float* in, int32_t frames, float* out)
{
    if (flushed || frames <= 0 || in == nullptr || out == nullptr ||
        MaxOutput(frames) == kRefusedCall)
        return 0;
    int32_t written = 0;
    for (int32_t offset = 0; offset < frames; offset += kPiece)
    {
        const int32_t n = std::min(kPiece, frames - offset);
        float* I = pieceI.data();
        float* Q = pieceQ.data();
        table->deinterleave(in + 2 * static_cast<std::ptrdiff_t>(offset), n, I, Q);
        table->oscillate(&phase, increment, kTurn, n, phases.data(), sines.data(), cosines.data());
        table->mix(I, Q, sines.data(), cosines.data(), n, I, Q);
        const float* channelIn[2] = {I, Q};
        float* channelOut[2] = {workI.data(), workQ.data()};
        const int32_t m = channel->Process(channelIn, n, channelOut);
        written += ChannelToOutput(m, out + written);
    }
    framesIn += frames;
    framesOut += written;
    return written;
}

int32_t Receiver::Flush(float* out)
{
    if (flushed || out == nullptr)
        return 0;
    flushed = true;
    int32_t written = 0;
    float* channelOut[2] = {workI.data(), workQ.data()};
    written += ChannelToOutput(channel->Flush(channelOut), out + written);
    if (lead > 0)
    {
        DemodulateTail(workAudio.data());
        written += ToOutput(workAudio.data(), lead, out + written);
    }
    // The audio stage rounds its own length: silence after the end until it reaches the whole
    // chain's, round(N·rateOut/rateIn), which then cuts it.
    const int64_t wanted = dsp::RoundedCount(framesIn, up, down);
    const dsp::CascadePlan& plan = audio->Plan();
    while (dsp::RoundedCount(audioIn, plan.up, plan.down) < wanted)
    {
        const int64_t need = dsp::MulDivFloor(wanted, plan.down, plan.up) + 1 - audioIn;
        const auto n = static_cast<int32_t>(std::clamp<int64_t>(need, 1, workingBlock));
        std::fill_n(workAudio.begin(), n, 0.0f);
        written += ToOutput(workAudio.data(), n, out + written);
    }
    float* audioOut[1] = {out + written};
    written += audio->Flush(audioOut);
    written = static_cast<int32_t>(std::min<int64_t>(written, wanted - framesOut));
    framesOut += written;
    return std::max(written, 0);
}

} // namespace sigkit::chains
