#include "Batch.h"

#include "BatchPlan.h"
#include "InputFile.h"
#include "KindPass.h"
#include "LibraryBinding.h"
#include "Messages.h"
#include "Pass.h"
#include "ProcessingModes.h"
#include "Progress.h"
#include "RecordingCommands.h"
#include "StreamEnds.h"
#include "platform/Files.h"
#include "platform/Signals.h"
#include "platform/Terminal.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace sigrun {

namespace {

// Bytes per sample frame as the processing reads them.
int FrameBytes(const WavDescription& d)
{
    return d.channels * ((d.bitsPerSample + 7) / 8);
}

std::string FormatText(const WavDescription& d)
{
    if (d.formatTag == 1)
        return "integer PCM";
    if (d.formatTag == 3)
        return "float";
    return "format tag " + std::to_string(d.formatTag);
}

std::string ChannelsText(const WavDescription& d)
{
    return d.channels == 1   ? "1 channel (real)"
           : d.channels == 2 ? "2 channels (I/Q)"
                             : std::to_string(d.channels) + " channels";
}

// Seconds and sample frames of `bytes` of stored samples.
std::string LengthText(const WavDescription& d, long long bytes)
{
    int frame = FrameBytes(d);
    if (frame == 0)
        frame = d.blockAlign;
    if (frame <= 0)
        return "length unknown";
    const long long frames = bytes / frame;
    std::string length = std::to_string(frames) + " samples";
    if (d.sampleRate > 0)
    {
        char seconds[64];
        std::snprintf(seconds, sizeof seconds, "%.3f s, ",
                      static_cast<double>(frames) / d.sampleRate);
        length = seconds + length;
    }
    return length;
}

// Bytes without a RIFF header are read as headerless samples of no rate: not a format to report
// or process.
const char* const kNoRateReason = "is not a WAV file with a sample rate (no RIFF/WAVE header, or "
                                  "a rate of 0); raw samples need --type TYPE and --in-rate HZ";

class Batch
{
public:
    explicit Batch(const CommandLine& line) : line(line) {}
    int Run();

private:
    int CheckOutputFolder();
    int Process(BatchPlan& plan, std::size_t i);
    int Describe(const std::string& name);

    const CommandLine& line;
    LibraryBinding binding;
    InputFile input{binding};
    bool folder = false; // the output option names a folder
};

int Batch::Run()
{
    if (line.outputGiven)
    {
        const int usable = CheckOutputFolder();
        if (usable != kExitSuccess)
            return usable;
    }
    const int loaded = binding.Load();
    if (loaded != kExitSuccess)
        return loaded;
    input.SetRaw(line.rawType, line.inRate);
    // A reader of standard output that goes away fails the write (EPIPE), which ends the run
    // where nothing is half done, rather than the signal ending it anywhere.
    if (line.outputGiven && IsStandardStream(line.output))
        platform::IgnoreBrokenPipeSignal();
    for (const auto& [address, name] : {std::pair{binding.readInit != nullptr, "wav_read_init"},
                                        {binding.readFree != nullptr, "wav_read_free"},
                                        {binding.readData != nullptr, "wav_read_data"}})
        if (!address)
            return Missing(name);

    int status = kExitSuccess;
    if (line.action == Action::Info)
    {
        for (const std::string& name : line.inputs)
            if (Describe(name) != kExitSuccess)
                status = kExitFailed;
        input.Close();
        std::fflush(stdout);
        return status;
    }
    if (line.action == Action::Spectrum || line.action == Action::Stations)
        return RunRecordings(line, binding, folder);
    BatchPlan plan(line, folder);
    int usable = plan.Check(input, binding.api);
    if (usable == kExitSuccess)
        usable = CheckInputFrequencies(line, binding, input);
    if (usable != kExitSuccess)
        return usable;
    // From the first output on, a stop signal ends the batch where nothing is half done: the file
    // being processed is the last.
    const platform::StopSignals stopSignals;
    for (std::size_t i = 0; i < line.inputs.size(); ++i)
    {
        if (const int signal = platform::StopSignal(); signal != 0)
            return Fail(kExitSignal + signal, std::string("interrupted by ") +
                                                  platform::SignalName(signal) + " before " +
                                                  Quoted(line.inputs[i]));
        const int processed = Process(plan, i);
        input.Close();
        if (processed >= kExitSignal)
            return processed;
        if (processed != kExitSuccess)
            status = kExitFailed;
    }
    return status;
}

// -o with several inputs names a folder for all the outputs; a name ending in '/' is a folder in
// any case. Result: an exit status.
int Batch::CheckOutputFolder()
{
    folder = !IsStandardStream(line.output) && platform::IsDirectory(line.output.c_str());
    if (folder)
        return kExitSuccess;
    const std::string output = Quoted(line.output);
    if (line.inputs.size() > 1)
        return Fail(kExitUsage, "--output " + output +
                                    " is not an existing folder, as it must be for several "
                                    "inputs");
    if (!line.output.empty() && line.output.back() == '/')
        return Fail(kExitUsage, "--output " + output + " is not an existing folder");
    if (line.output.size() >= kTextSize)
        return Fail(kExitUsage,
                    "--output name longer than " + std::to_string(kTextSize - 1) + " characters");
    return kExitSuccess;
}

int Batch::Process(BatchPlan& plan, std::size_t i)
{
    const std::string& name = line.inputs[i];
    std::string failure;
    if (!input.Open(name.c_str(), failure))
    {
        // Standard input is waited for; a stop signal ends that wait and the batch.
        const int signal = platform::StopSignal();
        return Fail(signal != 0 ? kExitSignal + signal : kExitFailed, failure);
    }
    if (input.Description().valid != 0 && input.Description().sampleRate == 0 && !input.Streamed())
        return Fail(kExitFailed, Quoted(name) + " " + kNoRateReason);
    if (const char* why = UnsupportedReason(input.Description(), true))
        return Fail(kExitFailed, Quoted(name) + " " + why);
    // Standard input is read once: its values are checked here, when its format is known.
    if (IsStandardStream(name))
    {
        const ModeRow& row = Mode(line.settings.mode);
        for (int v = 0; v < row.valueCount; ++v)
            if (const std::string useless = OptionUselessFor(
                    row.values[v], line.settings, name.c_str(), input.Description().sampleRate);
                !useless.empty())
                return Fail(kExitUsage, useless);
    }

    char outputName[kTextSize];
    if (!plan.OutputName(i, outputName))
        return Fail(kExitFailed, "output name for " + Quoted(name) + " would be longer than " +
                                     std::to_string(kTextSize - 1) + " characters");
    const std::string output = Quoted(outputName);
    const bool toStream = IsStandardStream(outputName);
    if (!toStream && platform::SameFile(outputName, input.Name()))
        return Fail(kExitFailed, "output " + output + " is the input file itself");
    if (plan.AlreadyWritten(i))
        return Fail(kExitFailed,
                    "output " + output + " was already written by an earlier input of this run");
    if (!toStream && line.noClobber && platform::PathExists(outputName))
        return Fail(kExitFailed, "output " + output + " exists and --no-clobber keeps it");

    ProgressOnStderr progress(!line.quiet && platform::IsErrorTerminal(), name,
                              platform::FileSize(input.Name()), FrameBytes(input.Description()));
    PassCounts counts;
    const double started = platform::SteadySeconds();
    Settings settings;
    if (!SettingsForInput(line, binding, input, settings, failure))
        return Fail(kExitUsage, failure);
    const int status = UsesKindPass(settings, input.Description())
                           ? RunKindPass(binding, settings, input, outputName, line.noClobber,
                                         progress, &counts, &line.recording)
                           : RunPass(binding, settings, input, outputName, line.noClobber, progress,
                                     &counts, &line.recording);
    const double seconds = platform::SteadySeconds() - started;
    if (status != kExitSuccess)
        return status;
    plan.MarkWritten(i);
    if (!line.quiet)
    {
        std::fprintf(stderr,
                     "sigrun: wrote %s: %lld samples in, %lld samples out, %.2f s, %lld samples "
                     "at full scale (clipped)\n",
                     output.c_str(), counts.framesIn, counts.framesOut, seconds, counts.clipped);
        std::fflush(stderr);
    }
    return kExitSuccess;
}

// One line on stdout: format, channels, rate and length, read through without processing.
int Batch::Describe(const std::string& name)
{
    std::string failure;
    if (!input.Open(name.c_str(), failure))
        return Fail(kExitFailed, failure);
    const WavDescription& d = input.Description();
    if (d.valid == 0)
        return Fail(kExitFailed, Quoted(name) + " " + UnsupportedReason(d, true));
    if (d.sampleRate == 0 && !input.Streamed())
        return Fail(kExitFailed, Quoted(name) + " " + kNoRateReason);
    long long bytes = 0;
    const void* block = nullptr;
    int32_t count = 0;
    while (input.Next(block, count) && count > 0)
        bytes += count;
    if (const std::string failed = input.ReadFailure(); !failed.empty())
        return Fail(kExitFailed, failed);
    std::printf("%s: %s, %u bits, %s, %u Hz, %s%s\n", input.Name(), FormatText(d).c_str(),
                static_cast<unsigned>(d.bitsPerSample), ChannelsText(d).c_str(),
                static_cast<unsigned>(d.sampleRate), LengthText(d, bytes).c_str(),
                MetadataText(binding, input).c_str());
    const std::string early = input.EndedEarly();
    if (!early.empty())
        Warn(early);
    return kExitSuccess;
}

} // namespace

int RunBatch(const CommandLine& line)
{
    Batch batch(line);
    return batch.Run();
}

} // namespace sigrun
