#include "KindPass.h"

#include "FrameDecoder.h"
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

#include <unistd.h>

namespace sigrun {

namespace {

// Input frames handed to the processing object per call, at most, and the output frames one call
// may make (unless a single input frame makes more): bound the buffers.
constexpr std::size_t kMostFramesPerCall = std::size_t{1} << 15;

// The path where the library keeps what was written when an output is not published.
std::string PartialName(const std::string& outputName)
{
    std::string name = outputName;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".wav") == 0)
        name.resize(name.size() - 4);
    return name + ".partial.wav";
}

// The centre frequency and start time an output carries (SIGKIT_META_ bits of the two).
struct OutputMetadata
{
    uint32_t bits = 0;
    double centre = 0.0; // Hz
    double start = 0.0;  // seconds since 1970-01-01 00:00 UTC
};

// The processing object and the output file of one pass; both are given up when the pass ends
// early.
class KindRun
{
public:
    explicit KindRun(const SigkitCalls& api) : api(api) {}
    ~KindRun()
    {
        api.destroy(processor);
        if (writer != nullptr)
            api.wavAbandon(writer);
    }
    KindRun(const KindRun&) = delete;
    KindRun& operator=(const KindRun&) = delete;

    // Makes the processing object and creates the output. Result: an exit status.
    int Start(const Settings& settings, const InputFile& input, const char* outputName,
              bool noReplace, const OutputMetadata& metadata);
    // Processes frames and writes what comes out; with in null, the flush. Result: an exit
    // status, the failure reported.
    int Feed(const float* in, std::size_t frames);
    // Completes and publishes the output. Result: an exit status.
    int Complete(bool noReplace);
    // Gives the output up, what was written kept as the partial file; the text for a message.
    std::string Abandon();
    // A failed write's exit status and its line: a reader of standard output that went away
    // ends the run as the signal would have.
    int WriteFailed(int status);

    long long framesOut = 0;
    uint64_t clipped = 0;

private:
    // Standard output: a WAV stream with no length declared, or raw samples of -T's type.
    int StartStream(const Settings& settings, const sigkit_wav_format& format, double rate,
                    int channels);

    const SigkitCalls& api;
    std::string name;   // the output's
    std::string quoted; // the output's, for messages
    sigkit_processor* processor = nullptr;
    sigkit_wav_writer* writer = nullptr;
    std::size_t floatsIn = 1;  // per input frame
    std::size_t floatsOut = 1; // per output frame
    std::vector<float> out;
};

int KindRun::Start(const Settings& settings, const InputFile& file, const char* outputName,
                   bool noReplace, const OutputMetadata& metadata)
{
    const WavDescription& input = file.Description();
    name = outputName;
    quoted = Quoted(name);
    floatsIn = input.channels;
    const sigkit_config config = KindConfig(api, settings, input);
    int s = api.create(&config, &processor);
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot process " + Quoted(file.Name()) + ": " + api.Text(s));
    int complexOut = 0;
    int channels = 1;
    double rate = 0.0;
    api.outputLayout(processor, &complexOut, &channels, &rate);
    const int fileChannels = complexOut != 0 ? 2 : channels;
    floatsOut = static_cast<std::size_t>(fileChannels);
    sigkit_wav_format format{};
    api.formatInit(&format, OutputEncoding(settings, input), rate, fileChannels);
    if (noReplace)
        format.flags |= SIGKIT_WAV_NO_REPLACE;
    if (IsStandardStream(name))
        return StartStream(settings, format, rate, fileChannels);
    format.metadata = metadata.bits & (SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME);
    format.centre_frequency = metadata.centre;
    format.start_time = metadata.start;
    s = api.wavCreate(outputName, &format, &writer);
    if (s == SIGKIT_E_EXISTS && noReplace)
        return Fail(kExitFailed, "output " + quoted + " exists and --no-clobber keeps it");
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot create " + quoted + ": " + api.Text(s));
    return kExitSuccess;
}

int KindRun::Feed(const float* in, std::size_t frames)
{
    do
    {
        // As many input frames as keep the output of one call within bounds, however high the
        // output rate is against the input's.
        std::size_t now = std::min(frames, kMostFramesPerCall);
        std::size_t most = 0;
        api.maxOutput(processor, in != nullptr ? now : 0, &most);
        while (in != nullptr && most > kMostFramesPerCall && now > 1)
        {
            now = std::max<std::size_t>(1, now * kMostFramesPerCall / most);
            api.maxOutput(processor, now, &most);
        }
        out.resize(std::max<std::size_t>(most, 1) * floatsOut);
        std::size_t got = 0;
        const int s = in != nullptr ? api.process(processor, in, now, out.data(), most, &got)
                                    : api.flush(processor, out.data(), most, &got);
        if (s != SIGKIT_OK)
            return Fail(kExitFailed, "cannot process into " + quoted + ": " + api.Text(s) +
                                         "; it is left as it was; " + Abandon());
        const int w = got > 0 ? api.wavWrite(writer, out.data(), got) : SIGKIT_OK;
        if (w != SIGKIT_OK)
            return WriteFailed(w);
        framesOut += static_cast<long long>(got);
        if (in != nullptr)
            in += now * floatsIn;
        frames -= now;
    } while (frames > 0);
    return kExitSuccess;
}

int KindRun::Complete(bool noReplace)
{
    api.wavClipped(writer, &clipped);
    api.destroy(processor);
    processor = nullptr;
    sigkit_wav_writer* closing = writer;
    writer = nullptr;
    const int s = api.wavClose(closing);
    if (s == SIGKIT_E_EXISTS && noReplace)
        return Fail(kExitFailed, "output " + quoted +
                                     " was made by another run meanwhile and --no-clobber keeps "
                                     "it; nothing of this run is kept");
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot complete " + quoted + ": " + api.Text(s) +
                                     "; it is left as it was; what was written is kept in " +
                                     Quoted(PartialName(name)));
    return kExitSuccess;
}

int KindRun::StartStream(const Settings& settings, const sigkit_wav_format& format, double rate,
                         int channels)
{
    int s = SIGKIT_OK;
    if (const RawType* raw = RawTypeByNumber(settings.outputType); raw != nullptr)
    {
        if (raw->channels == 2 && channels != 2)
            return Fail(kExitFailed, std::string("--out-type ") + raw->name +
                                         " holds I/Q pairs, but this output is real (1 channel)");
        sigkit_raw_format shape{};
        s = api.rawFormatInit(&shape, raw->type, rate, channels);
        if (s == SIGKIT_OK)
            s = api.rawCreateFd(STDOUT_FILENO, &shape, &writer);
    }
    else
        s = api.wavCreateFd(STDOUT_FILENO, &format, &writer);
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot write to standard output: " + std::string(api.Text(s)));
    return kExitSuccess;
}

int KindRun::WriteFailed(int status)
{
    if (status == SIGKIT_E_PIPE)
    {
        if (writer != nullptr)
            api.wavAbandon(writer);
        writer = nullptr;
        return Fail(kExitSignal + SIGPIPE, "standard output was closed by its reader; stopped");
    }
    return Fail(kExitFailed, "cannot write " + quoted + ": " + api.Text(status) +
                                 "; it is left as it was; " + Abandon());
}

std::string KindRun::Abandon()
{
    if (writer == nullptr)
        return "nothing written could be kept";
    sigkit_wav_writer* leaving = writer;
    writer = nullptr;
    if (api.wavAbandon(leaving) != SIGKIT_OK)
        return "nothing written could be kept";
    return "the " + std::to_string(framesOut) + " samples written are kept in " +
           Quoted(PartialName(name));
}

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

int RunGuarded(const LibraryBinding& binding, const Settings& settings, InputFile& input,
               const char* outputName, bool noReplace, PassProgress& progress, PassCounts* counts,
               const RecordingOptions* recording)
{
    KindRun run(binding.api);
    int status = run.Start(settings, input, outputName, noReplace,
                           MetadataFor(binding, settings, input, recording));
    if (status != kExitSuccess)
        return status;

    FrameDecoder decoder(input.Description());
    std::vector<float> frames;
    long long bytesIn = 0;
    long long framesIn = 0;
    const void* block = nullptr;
    int32_t bytes = 0;
    while (platform::StopSignal() == 0 && input.Next(block, bytes))
    {
        const std::size_t count = decoder.Decode(block, bytes, frames);
        status = run.Feed(frames.data(), count);
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
