#include "KindPass.h"

#include "FrameDecoder.h"
#include "KindRun.h"
#include "Messages.h"
#include "ProcessingModes.h"
#include "StreamEnds.h"
#include "platform/Signals.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <new>
#include <vector>

namespace sigrun {

namespace {

bool IsReceiverKind(int kind)
{
    return kind >= SIGKIT_KIND_AM && kind <= SIGKIT_KIND_CW;
}

// The receivers' own channel width, for a refusal that their default caused.
const char* DefaultChannel(int kind)
{
    switch (kind)
    {
    case SIGKIT_KIND_AM:
        return "10000";
    case SIGKIT_KIND_FM:
        return "12500";
    case SIGKIT_KIND_WFM:
        return "200000";
    case SIGKIT_KIND_CW:
        return "500";
    default:
        return nullptr;
    }
}

} // namespace

bool UsesKindPass(const Settings& settings, const WavDescription& input)
{
    return IsChainMode(settings.mode) ||
           (settings.encoding != 0 && settings.encoding != EncodingOf(input));
}

int OutputEncoding(const Settings& settings, const WavDescription& input)
{
    if (settings.encoding != 0)
        return settings.encoding;
    if (IsReceiverKind(Mode(settings.mode).kind))
        return SIGKIT_ENCODING_S16;
    return EncodingOf(input);
}

sigkit_config KindConfig(const SigkitCalls& api, const Settings& settings,
                         const WavDescription& input)
{
    const int kind = Mode(settings.mode).kind;
    sigkit_config config{};
    api.configInit(&config, kind);
    config.input_rate = input.sampleRate;
    config.complex_input = input.channels == 2 ? 1 : 0;
    config.channels = 1;
    config.frequency = settings.frequency;
    config.gain = settings.amplify;
    config.quality = std::clamp(settings.qualityLevel, 1, 4) - 1;
    if (IsChainMode(settings.mode))
    {
        config.band = settings.band;
        config.output_rate = settings.outRate;
        config.agc = settings.agc ? 1 : 0;
        if (settings.deemphasis >= 0.0)
            config.deemphasis_us = settings.deemphasis;
        return config;
    }
    // The original kinds: -q low, medium or high, and one value for the rate or the band.
    config.quality = std::min(config.quality, static_cast<int32_t>(SIGKIT_QUALITY_HIGH));
    if (kind == SIGKIT_KIND_CONVERT)
        config.band = settings.outRateOrBand;
    else
        config.output_rate = settings.outRateOrBand;
    if (kind == SIGKIT_KIND_AM_CLASSIC || kind == SIGKIT_KIND_FM_CLASSIC)
        config.gain = settings.amplify / FullScale(input);
    return config;
}

std::string KindRefusal(const SigkitCalls& api, const Settings& settings, const char* inputName,
                        const WavDescription& input)
{
    const std::string word = ModeWord(settings.mode);
    const std::string in = " for " + Quoted(inputName);
    const bool receiver = IsReceiverKind(Mode(settings.mode).kind);
    if (receiver && input.channels != 2)
        return "mode " + word + " takes I/Q recordings (two channels): " + Quoted(inputName) +
               " has one";
    const double half = input.sampleRate / 2.0;
    if (ModeTakes(settings.mode, Value::Frequency) && std::fabs(settings.frequency) > half)
        return "--frequency " + std::to_string(settings.frequency) + in +
               " lies outside the recording, which holds -" + std::to_string(input.sampleRate / 2) +
               " to " + std::to_string(input.sampleRate / 2) + " Hz around its centre";
    sigkit_config config = KindConfig(api, settings, input);
    sigkit_processor* processor = nullptr;
    const int s = api.create(&config, &processor);
    api.destroy(processor);
    if (s == SIGKIT_OK || s == SIGKIT_E_NO_MEMORY)
        return "";
    std::string values = "--mode " + word;
    if (ModeTakes(settings.mode, Value::Frequency))
        values += " --frequency " + std::to_string(settings.frequency);
    if (settings.band != 0 && ModeTakes(settings.mode, Value::Band))
        values += " --band " + std::to_string(settings.band);
    if (settings.outRate != 0 && ModeTakes(settings.mode, Value::OutRate))
        values += " --rate " + std::to_string(settings.outRate);
    std::string refusal = values + in + " (" + std::to_string(input.sampleRate) + " Hz, " +
                          (input.channels == 2 ? "I/Q" : "real") + "): " + api.Text(s);
    const char* channel = DefaultChannel(Mode(settings.mode).kind);
    if (settings.band == 0 && channel != nullptr)
        refusal += std::string(" (the channel of mode ") + word + " is " + channel +
                   " Hz wide unless --band says otherwise)";
    return refusal;
}

namespace {

// What the output of a new mode carries: the frequency at its 0 Hz (the input's centre moved by
// -f; the rate changer moves nothing) and its start (these kinds keep their outputs aligned with
// their inputs). The original modes written in another encoding carry nothing.
OutputMetadata MetadataFor(const LibraryBinding& binding, const Settings& settings,
                           const InputFile& input, const RecordingOptions* recording)
{
    OutputMetadata m;
    if (Mode(settings.mode).kind < SIGKIT_KIND_RATE)
        return m;
    if (binding.readMetadata != nullptr && input.Handle() != nullptr)
        binding.readMetadata(input.Handle(), &m.bits, &m.centre, &m.start);
    if ((m.bits & SIGKIT_META_CENTRE_FREQUENCY) == 0 && recording != nullptr &&
        recording->centreHz.has_value())
    {
        m.bits |= SIGKIT_META_CENTRE_FREQUENCY;
        m.centre = *recording->centreHz;
    }
    if ((m.bits & SIGKIT_META_START_TIME) == 0 && recording != nullptr &&
        recording->startTime.has_value())
    {
        m.bits |= SIGKIT_META_START_TIME;
        m.start = *recording->startTime;
    }
    if (ModeTakes(settings.mode, Value::Frequency))
        m.centre += settings.frequency;
    // The chunk holds whole hertz from 0 below 2^32: a centre beyond them is not written.
    if (!(m.centre >= 0.0 && m.centre < 4294967295.5))
        m.bits &= ~static_cast<uint32_t>(SIGKIT_META_CENTRE_FREQUENCY);
    return m;
}

// Every block of the input decoded and through the run, the running input total shown after
// each; a stop signal ends the loop between blocks. Result: an exit status, the failure reported.
int PumpOneThread(KindRun& run, InputFile& input, PassProgress& progress, long long& bytesIn,
                  long long& framesIn)
{
    FrameDecoder decoder(input.Description());
    std::vector<float> frames;
    const void* block = nullptr;
    int32_t bytes = 0;
    while (platform::StopSignal() == 0 && input.Next(block, bytes))
    {
        const std::size_t count = decoder.Decode(block, bytes, frames);
        const int status = run.Feed(frames.data(), count);
        if (status != kExitSuccess)
        {
            progress.Clear();
            return status;
        }
        bytesIn += bytes;
        framesIn += static_cast<long long>(count);
        progress.Show(bytesIn);
    }
    progress.Clear();
    return kExitSuccess;
}

int RunGuarded(const LibraryBinding& binding, const Settings& settings, InputFile& input,
               const char* outputName, bool noReplace, PassProgress& progress, PassCounts* counts,
               const RecordingOptions* recording)
{
    KindRun run(binding.api, progress);
    int status = run.Start(settings, input, outputName, noReplace,
                           MetadataFor(binding, settings, input, recording));
    if (status != kExitSuccess)
        return status;

    long long bytesIn = 0;
    long long framesIn = 0;
    const std::optional<Pumped> piped = PumpKindRun(run, input, outputName, progress, framesIn);
    if (!piped)
        status = PumpOneThread(run, input, progress, bytesIn, framesIn);
    else if (piped->end == PumpEnd::WriteFailed)
        status = run.WriteFailed(piped->error);
    else if (piped->end == PumpEnd::ProcessFailed)
        status = run.ProcessFailed(piped->error);
    else
        bytesIn = piped->bytesIn;
    if (status != kExitSuccess)
        return status;
    // The original kinds end where their export family ends, without the filters' tail: another
    // encoding changes the samples' form, not how many there are.
    if (platform::StopSignal() == 0 && IsChainMode(settings.mode))
        status = run.Feed(nullptr, 0);
    if (status != kExitSuccess)
        return status;
    if (const int signal = platform::StopSignal(); signal != 0)
        return Fail(kExitSignal + signal,
                    std::string("interrupted by ") + platform::SignalName(signal) + ": " +
                        Quoted(outputName) + " left as it was; " + run.Abandon());
    status = run.Complete(noReplace);
    if (status != kExitSuccess)
        return status;
    if (const int signal = platform::StopSignal(); signal != 0)
        return Fail(kExitSignal + signal, std::string("interrupted by ") +
                                              platform::SignalName(signal) + " once " +
                                              Quoted(outputName) + " was complete");
    const std::string early = input.EndedEarly();
    if (!early.empty())
        Warn(early);
    if (counts != nullptr)
    {
        counts->bytesIn = bytesIn;
        counts->framesIn = framesIn;
        counts->framesOut = run.framesOut;
        counts->clipped = static_cast<long long>(run.clipped);
    }
    return kExitSuccess;
}

} // namespace

int RunKindPass(const LibraryBinding& binding, const Settings& settings, InputFile& input,
                const char* outputName, bool noReplace, PassProgress& progress, PassCounts* counts,
                const RecordingOptions* recording)
{
    if (const char* missing = binding.api.FirstMissing())
        return Missing(missing);
    try
    {
        return RunGuarded(binding, settings, input, outputName, noReplace, progress, counts,
                          recording);
    }
    catch (const std::bad_alloc&)
    {
        // The output was given up on the way out, what was written kept as the partial file.
        progress.Clear();
        return Fail(kExitFailed, "not enough memory to process " + Quoted(input.Name()) + " into " +
                                     Quoted(outputName) + "; it is left as it was");
    }
}

} // namespace sigrun
