#include "OptionMode.h"

#include "CommandLine.h"
#include "ProcessingModes.h"
#include "RunState.h"
#include "platform/Files.h"
#include "platform/Terminal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#ifndef SIGRUN_VERSION
#define SIGRUN_VERSION "unknown"
#endif

namespace sigrun {

namespace {

const char* const kHelp =
    "Usage: sigrun FILE.wav\n"
    "       sigrun -m MODE [OPTION]... FILE.wav...\n"
    "       sigrun -i FILE.wav...\n"
    "\n"
    "Without options sigrun reports FILE.wav, offers the processing modes and asks\n"
    "the chosen mode's values. With options it asks nothing: each FILE.wav is\n"
    "processed in turn with the same settings into its own output, and a failing\n"
    "file does not stop the others. Progress (on a terminal) and one summary line\n"
    "per file go to stderr; stdout stays empty.\n"
    "\n"
    "Modes:\n"
    "  iq        real to I/Q at half the rate, or back at twice it  NAME_iq2r.wav\n"
    "  resample  shift -f to 0 Hz, low-pass, lower the rate to -r   NAME_resampl.wav\n"
    "  convert   shift -f to 0 Hz and keep a band of -b Hz          NAME_if.wav\n"
    "  invert    spectral inversion                                 NAME_inv.wav\n"
    "  am        AM demodulation of the carrier at -f, audio at -r  NAME_amdem.wav\n"
    "  fm        FM demodulation of the carrier at -f, audio at -r  NAME_fmdem.wav\n"
    "resample, am and fm need -f, -r and -a; convert needs -f, -b and -a; iq and\n"
    "invert need nothing more. -q goes with every mode but invert.\n"
    "\n"
    "Options:\n"
    "  -m, --mode MODE       iq, resample, convert, invert, am or fm\n"
    "  -f, --frequency HZ    frequency moved to 0 Hz, from the recording's centre\n"
    "                        (negative below it)\n"
    "  -r, --rate HZ         output sample rate of resample, am and fm (above 0)\n"
    "  -b, --band HZ         band width kept by convert (0 or more)\n"
    "  -a, --amplify X       gain; samples keep the file's scale (its integer range,\n"
    "                        or full scale 1 for float files)\n"
    "  -q, --quality Q       low, medium or high (default): 101, 301 or 1001 taps\n"
    "  -o, --output PATH     the output file; an existing folder receives the output\n"
    "                        under its usual name. With several inputs PATH must be\n"
    "                        an existing folder.\n"
    "  -n, --no-clobber      never overwrite an existing output: that input fails\n"
    "  -Q, --quiet           no progress and no summary lines\n"
    "  -i, --info            print each file's format and length; process nothing\n"
    "  -h, --help            print this text\n"
    "      --version         print the version\n"
    "HZ is whole Hz and takes the suffixes k and M: 48000, 48k, 2.4M, -12.5k.\n"
    "\n"
    "Inputs are WAV files of integer PCM (8, 16, 24 or 32 bits) or 32-bit float\n"
    "samples, one channel (a real signal) or two (I/Q); outputs keep the input's\n"
    "sample format. Without -o the output goes beside its input: rec.wav gives\n"
    "rec_amdem.wav. The summary counts the output samples at full scale, which\n"
    "the conversion back to integers clipped.\n"
    "\n"
    "Exit status: 0 every file processed, 1 unusable options (nothing done),\n"
    "2 a file could not be processed.\n"
    "\n"
    "Examples:\n"
    "  sigrun -m iq rec.wav\n"
    "  sigrun -m resample -f 100k -r 48k -a 1 rec.wav\n"
    "  sigrun -m convert -f -12k -b 8k -a 1 -q medium rec.wav\n"
    "  sigrun -m invert -o mirrored.wav rec.wav\n"
    "  sigrun -m am -f 10k -r 12k -a 20000 rec.wav\n"
    "  sigrun -m fm -f 0 -r 48k -a 20000 -n -o audio/ *.wav\n"
    "  parallel sigrun -m fm -f 0 -r 48k -a 20000 -o audio/ ::: *.wav\n"
    "  sigrun -i *.wav\n";

// The last characters of a name, for a line that must stay short.
std::string Tail(const std::string& name, std::size_t width)
{
    if (name.size() <= width)
        return name;
    return "..." + name.substr(name.size() - (width - 3));
}

std::string Minutes(double seconds)
{
    const long long whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// A progress line on stderr when it is a terminal: percent, samples per second and time left,
// rewritten a few times a second over itself, and wiped when the pass ends. The percentage is
// taken against the input file's size, which its header adds a little to.
class ProgressOnStderr : public PassProgress
{
public:
    ProgressOnStderr(bool enabled, const std::string& name, long long fileBytes, int frameBytes)
        : enabled(enabled), label(Tail(name, 32)), fileBytes(fileBytes), frameBytes(frameBytes)
    {
        start = platform::SteadySeconds();
        lastShown = start;
    }

    void Show(long long bytesIn) override
    {
        if (!enabled)
            return;
        const double now = platform::SteadySeconds();
        if (now - lastShown < 0.25)
            return;
        lastShown = now;
        const double elapsed = now - start;
        const double bytesPerSecond = static_cast<double>(bytesIn) / elapsed;
        const double samplesPerSecond = bytesPerSecond / frameBytes;
        char text[160];
        if (fileBytes > 0)
        {
            const long long percent = std::min(99LL, bytesIn * 100 / fileBytes);
            const double left = static_cast<double>(std::max(0LL, fileBytes - bytesIn)) /
                                std::max(bytesPerSecond, 1.0);
            std::snprintf(text, sizeof text, "%s  %3lld%%  %.2f M samples/s  %s left",
                          label.c_str(), percent, samplesPerSecond / 1e6, Minutes(left).c_str());
        }
        else
            std::snprintf(text, sizeof text, "%s  %.2f M samples/s", label.c_str(),
                          samplesPerSecond / 1e6);
        std::string line = std::string("\r") + text;
        const std::size_t width = line.size() - 1;
        if (width < shownWidth)
            line.append(shownWidth - width, ' ');
        shownWidth = std::max(shownWidth, width);
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }

    void Clear() override
    {
        if (shownWidth == 0)
            return;
        const std::string blank = "\r" + std::string(shownWidth, ' ') + "\r";
        std::fputs(blank.c_str(), stderr);
        std::fflush(stderr);
        shownWidth = 0;
    }

private:
    bool enabled;
    std::string label;
    long long fileBytes;
    int frameBytes;
    double start = 0.0;
    double lastShown = 0.0;
    std::size_t shownWidth = 0;
};

// Bytes per sample frame as the processing reads them.
int FrameBytes(const WavDescription& d)
{
    return d.channels * ((d.bitsPerSample + 7) / 8);
}

class Batch
{
public:
    explicit Batch(const CommandLine& line) : line(line) {}

    int Run()
    {
        if (line.outputGiven && !CheckOutputFolder())
            return kExitUsage;
        if (!state.library.Load(kLibraryName))
            return Fail(kExitFailed,
                        std::string("cannot load ") + kLibraryName + ": " + state.library.Error());
        readInit = state.library.Lookup<WavReadInitFn>("wav_read_init");
        state.readFree = state.library.Lookup<WavReadFreeFn>("wav_read_free");
        state.readData = state.library.Lookup<WavReadDataFn>("wav_read_data");
        if (readInit == nullptr)
            return Fail(kExitFailed, MissingExport("wav_read_init"));
        if (state.readFree == nullptr)
            return Fail(kExitFailed, MissingExport("wav_read_free"));
        if (state.readData == nullptr)
            return Fail(kExitFailed, MissingExport("wav_read_data"));

        int status = kExitSuccess;
        for (const std::string& input : line.inputs)
        {
            const int one = line.action == Action::Info ? Describe(input) : Process(input);
            if (one != kExitSuccess)
                status = kExitFailed;
            CloseInput();
        }
        std::fflush(stdout);
        return status;
    }

private:
    // -o with several inputs names a folder for all the outputs; a name ending in '/' is a
    // folder in any case.
    bool CheckOutputFolder()
    {
        folder = platform::IsDirectory(line.output.c_str());
        if (folder)
            return true;
        if (line.inputs.size() > 1)
        {
            Fail(kExitUsage, "--output " + Quoted(line.output.c_str()) +
                                 " is not an existing folder, as it must be for several inputs");
            return false;
        }
        if (!line.output.empty() && line.output.back() == '/')
        {
            Fail(kExitUsage,
                 "--output " + Quoted(line.output.c_str()) + " is not an existing folder");
            return false;
        }
        if (line.output.size() >= kTextSize)
        {
            Fail(kExitUsage,
                 "--output name longer than " + std::to_string(kTextSize - 1) + " characters");
            return false;
        }
        return true;
    }

    // Opens the input through the reading block; the description tells its format.
    int OpenInput(const std::string& input)
    {
        std::memset(state.inputName, 0, sizeof state.inputName);
        std::memcpy(state.inputName, input.c_str(), input.size());
        std::string reason;
        if (!platform::CheckReadableFile(state.inputName, reason))
            return Fail(kExitFailed, "cannot read " + Quoted(state.inputName) + ": " + reason);
        std::memset(&state.input, 0, sizeof state.input);
        std::memcpy(state.input.name, state.inputName, sizeof state.input.name);
        state.reader = nullptr;
        if (readInit(&state.input, &state.reader) != 1 || state.reader == nullptr)
        {
            state.reader = nullptr;
            return Fail(kExitFailed, "cannot set up reading of " + Quoted(state.inputName));
        }
        return kExitSuccess;
    }

    void CloseInput()
    {
        if (state.reader != nullptr)
            state.readFree(state.reader);
        state.reader = nullptr;
    }

    int Process(const std::string& input)
    {
        const int opened = OpenInput(input);
        if (opened != kExitSuccess)
            return opened;
        if (const char* why = UnsupportedReason(state.input, true))
            return Fail(kExitFailed, Quoted(state.inputName) + " " + why);

        const Settings& settings = line.settings;
        bool named = false;
        if (!line.outputGiven)
            named = MakeOutputName(settings.mode, state.inputName, nullptr, state.outputName);
        else if (folder)
            named = MakeOutputName(settings.mode, state.inputName, line.output.c_str(),
                                   state.outputName);
        else
        {
            std::memset(state.outputName, 0, sizeof state.outputName);
            std::memcpy(state.outputName, line.output.c_str(), line.output.size());
            named = true;
        }
        if (!named)
            return Fail(kExitFailed, "output name for " + Quoted(state.inputName) +
                                         " would be longer than " + std::to_string(kTextSize - 1) +
                                         " characters");
        const std::string output = state.outputName;
        if (platform::SameFile(state.outputName, state.inputName))
            return Fail(kExitFailed,
                        "output " + Quoted(state.outputName) + " is the input file itself");
        platform::FileIdentity identity;
        if (platform::IdentifyFile(state.outputName, identity) && written.count(identity) != 0)
            return Fail(kExitFailed, "output " + Quoted(state.outputName) +
                                         " was already written by an earlier input of this run");
        if (line.noClobber && platform::PathExists(state.outputName))
            return Fail(kExitFailed,
                        "output " + Quoted(state.outputName) + " exists and --no-clobber keeps it");

        ProgressOnStderr progress(!line.quiet && platform::IsErrorTerminal(), input,
                                  platform::FileSize(state.inputName), FrameBytes(state.input));
        PassCounts counts;
        const double started = platform::SteadySeconds();
        const int status = RunPass(settings, state, progress, &counts);
        const double seconds = platform::SteadySeconds() - started;
        if (status != kExitSuccess)
            return status;
        if (platform::IdentifyFile(output.c_str(), identity))
            written.insert(identity);

        if (!line.quiet)
        {
            std::fprintf(stderr,
                         "sigrun: wrote %s: %lld samples in, %lld samples out, %.2f s, %lld "
                         "samples at full scale (clipped)\n",
                         Quoted(output.c_str()).c_str(), counts.framesIn, counts.framesOut, seconds,
                         counts.clipped);
            std::fflush(stderr);
        }
        return kExitSuccess;
    }

    // One line on stdout: format, channels, rate and length, read through without processing.
    int Describe(const std::string& input)
    {
        const int opened = OpenInput(input);
        if (opened != kExitSuccess)
            return opened;
        const WavDescription& d = state.input;
        if (d.valid == 0)
            return Fail(kExitFailed, Quoted(state.inputName) + " " + UnsupportedReason(d, true));

        long long bytes = 0;
        const void* block = nullptr;
        int32_t count = 0;
        do
        {
            count = 0;
            state.readData(state.reader, &block, &count);
            if (count > 0)
                bytes += count;
        } while (count > 0);

        std::string format;
        if (d.formatTag == 1)
            format = "integer PCM";
        else if (d.formatTag == 3)
            format = "float";
        else
            format = "format tag " + std::to_string(d.formatTag);
        const std::string channels = d.channels == 1   ? "1 channel (real)"
                                     : d.channels == 2 ? "2 channels (I/Q)"
                                                       : std::to_string(d.channels) + " channels";
        int frame = FrameBytes(d);
        if (frame == 0)
            frame = d.blockAlign;
        std::string length = "length unknown";
        if (frame > 0)
        {
            const long long frames = bytes / frame;
            length = std::to_string(frames) + " samples";
            if (d.sampleRate > 0)
            {
                char seconds[64];
                std::snprintf(seconds, sizeof seconds, "%.3f s, ",
                              static_cast<double>(frames) / d.sampleRate);
                length = seconds + length;
            }
        }
        std::printf("%s: %s, %u bits, %s, %u Hz, %s\n", state.inputName, format.c_str(),
                    static_cast<unsigned>(d.bitsPerSample), channels.c_str(),
                    static_cast<unsigned>(d.sampleRate), length.c_str());
        return kExitSuccess;
    }

    const CommandLine& line;
    RunState state;
    WavReadInitFn readInit = nullptr;
    bool folder = false; // the output option names a folder
    std::set<platform::FileIdentity> written;
};

} // namespace

int RunWithOptions(const std::vector<std::string>& args)
{
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(args, line, error))
        return Fail(kExitUsage, error + " (sigrun --help lists the options)");
    switch (line.action)
    {
    case Action::Help:
        std::fputs(kHelp, stdout);
        return kExitSuccess;
    case Action::Version:
        std::fputs("sigrun " SIGRUN_VERSION "\n", stdout);
        return kExitSuccess;
    case Action::Info:
    case Action::Process:
        break;
    }
    Batch batch(line);
    return batch.Run();
}

} // namespace sigrun
