// sigrun: reports a WAV file's format, offers the processing modes, and runs the chosen one; with
// options, processes files as the options say, without asking.
#include "CommandLine.h"
#include "OptionMode.h"
#include "ProcessingModes.h"
#include "RunState.h"
#include "platform/Files.h"
#include "platform/Terminal.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace sigrun {

namespace {

// The standard decimal reading of an answer: leading blanks and a sign, digits up to the first
// other character, 0 without digits; values beyond the range are kept at its ends.
long ParseMenuAnswer(const char* text)
{
    return std::strtol(text, nullptr, 10);
}

const char* ResolutionText(uint16_t bits)
{
    switch (bits)
    {
    case 8:
        return "8-bit";
    case 16:
        return "16-bit";
    case 24:
        return "32-bit (24-bit Packed Int)";
    default:
        return "32-bit (32-bit Packed Int)";
    }
}

void FinalPause()
{
    std::fflush(stdout);
    platform::PauseForKey();
}

int Run(int argc, char** argv)
{
    RunState state;

    // The last argument names the input.
    for (int i = 1; i < argc; ++i)
    {
        if (std::strlen(argv[i]) >= sizeof state.inputName)
            return Fail(kExitUsage, "input name longer than " +
                                        std::to_string(sizeof state.inputName - 1) + " characters");
        std::memset(state.inputName, 0, sizeof state.inputName);
        std::strcpy(state.inputName, argv[i]);
    }
    if (state.inputName[0] == '\0')
        return Fail(kExitUsage, "no input file given (usage: sigrun FILE.wav)");

    std::string reason;
    if (!platform::CheckReadableFile(state.inputName, reason))
        return Fail(kExitFailed, "cannot read " + Quoted(state.inputName) + ": " + reason);

    if (!state.library.Load(kLibraryName))
        return Fail(kExitFailed,
                    std::string("cannot load ") + kLibraryName + ": " + state.library.Error());
    const auto readInit = state.library.Lookup<WavReadInitFn>("wav_read_init");
    if (readInit == nullptr)
        return Fail(kExitFailed, MissingExport("wav_read_init"));
    // Known before the reading block exists, so that every way out releases it.
    state.readFree = state.library.Lookup<WavReadFreeFn>("wav_read_free");
    if (state.readFree == nullptr)
        return Fail(kExitFailed, MissingExport("wav_read_free"));

    std::memset(&state.input, 0, sizeof state.input);
    std::memcpy(state.input.name, state.inputName, sizeof state.input.name);
    state.reader = nullptr;
    if (readInit(&state.input, &state.reader) != 1)
        return Fail(kExitFailed, "cannot set up reading of " + Quoted(state.inputName));

    if (const char* why = UnsupportedReason(state.input, false))
    {
        Say("Current format of file is not supported\n\n");
        const int status = Fail(kExitFailed, Quoted(state.inputName) + " " + why);
        FinalPause();
        return status;
    }

    std::printf("File: %s\r\n", state.inputName);
    std::printf("Channels: %s\r\n", state.input.channels == 1 ? "mono" : "stereo");
    std::printf("Resolution: %s\r\n", ResolutionText(state.input.bitsPerSample));
    std::printf("SampleRate: %d\r\n\n", static_cast<int>(state.input.sampleRate));

    Say("Select Mode:\r\n");
    Say("1 - IQ <--> Real,\r\n");
    Say("2 - ReSampling (only downsampling now !!!),\r\n");
    Say("3 - Frequency Converting,\r\n");
    Say("4 - Spectral Inversion,\r\n");
    Say("5 - AM demodulation,\r\n");
    Say("6 - FM demodulation,\r\n");
    Say("7 - Exit: ");
    if (!ReadAnswer(state))
        return kExitUsage;
    const long choice = ParseMenuAnswer(state.answer);
    Say("\n");

    state.readData = state.library.Lookup<WavReadDataFn>("wav_read_data");
    if (state.readData == nullptr)
        return Fail(kExitFailed, MissingExport("wav_read_data"));

    if (choice < 1 || choice > 7)
        return Fail(kExitUsage,
                    "menu answer " + Quoted(state.answer) + " is not a mode from 1 to 7");
    if (choice != 7)
    {
        const int status = RunProcessingPass(static_cast<int>(choice), state);
        if (status != kExitSuccess)
            return status;
    }

    // Final release: the reading block, then the library, then the pause.
    state.readFree(state.reader);
    state.reader = nullptr;
    state.library.Unload();
    FinalPause();
    return kExitSuccess;
}

} // namespace

} // namespace sigrun

int main(int argc, char** argv)
{
    sigrun::platform::IgnoreFileSizeSignal();
    bool options = false;
    for (int i = 1; i < argc; ++i)
        options = options || sigrun::IsOption(argv[i]);
    const int status = options
                           ? sigrun::RunWithOptions(std::vector<std::string>(argv + 1, argv + argc))
                           : sigrun::Run(argc, argv);
    std::fflush(stdout);
    return status;
}
