#include "Dialogue.h"

#include "InputFile.h"
#include "LibraryBinding.h"
#include "Messages.h"
#include "Pass.h"
#include "ProcessingModes.h"
#include "Progress.h"
#include "platform/Files.h"
#include "platform/Signals.h"
#include "platform/Terminal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sigrun {

namespace {

// The menu answer that ends the dialogue without processing.
constexpr long kExitAnswer = 7;

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

// The closing pause; result: status, or the status of a stop signal that ended the pause.
int FinalPause(int status)
{
    std::fflush(stdout);
    platform::PauseForKey();
    return platform::StopSignal() != 0 ? kExitSignal + platform::StopSignal() : status;
}

class Dialogue
{
public:
    int Run(int argc, char** argv);

private:
    int OpenInput(int argc, char** argv);
    void Report() const;
    int ReadMenu(long& choice);
    int RunMode(int mode);
    bool ReadAnswer();

    LibraryBinding binding;
    InputFile input{binding};
    char answer[kTextSize]{};
};

// The last argument names the input; it is checked before the library loads.
int Dialogue::OpenInput(int argc, char** argv)
{
    const char* name = "";
    for (int i = 1; i < argc; ++i)
    {
        if (std::strlen(argv[i]) >= kTextSize)
            return Fail(kExitUsage,
                        "input name longer than " + std::to_string(kTextSize - 1) + " characters");
        name = argv[i];
    }
    if (name[0] == '\0')
        return Fail(kExitUsage, "no input file given (usage: sigrun FILE.wav)");
    std::string failure;
    if (!InputFile::Readable(name, failure))
        return Fail(kExitFailed, failure);
    const int loaded = binding.Load();
    if (loaded != kExitSuccess)
        return loaded;
    if (!input.Open(name, failure))
        return Fail(kExitFailed, failure);
    return kExitSuccess;
}

void Dialogue::Report() const
{
    const WavDescription& d = input.Description();
    std::printf("File: %s\r\n", input.Name());
    std::printf("Channels: %s\r\n", d.channels == 1 ? "mono" : "stereo");
    std::printf("Resolution: %s\r\n", ResolutionText(d.bitsPerSample));
    std::printf("SampleRate: %d\r\n\n", static_cast<int>(d.sampleRate));
}

int Dialogue::ReadMenu(long& choice)
{
    Say("Select Mode:\r\n");
    Say("1 - IQ <--> Real,\r\n");
    Say("2 - ReSampling (only downsampling now !!!),\r\n");
    Say("3 - Frequency Converting,\r\n");
    Say("4 - Spectral Inversion,\r\n");
    Say("5 - AM demodulation,\r\n");
    Say("6 - FM demodulation,\r\n");
    Say("7 - Exit: ");
    if (!ReadAnswer())
        return kExitUsage;
    // The standard decimal reading: leading blanks and a sign, digits up to the first other
    // character, 0 without digits; values beyond the range are kept at its ends.
    char* end = nullptr;
    choice = std::strtol(answer, &end, 10);
    Say("\n");
    // Looked up for every answer, before the answer is examined.
    if (binding.readData == nullptr)
        return Missing("wav_read_data");
    if (choice != kExitAnswer && ModeByMenu(choice) == 0)
        return Fail(kExitUsage, "menu answer " + Quoted(answer) + " is not a mode from 1 to 7");
    const std::string warning = IgnoredWarning("menu answer", answer, std::to_string(choice), end);
    if (!warning.empty())
        Warn(warning);
    return kExitSuccess;
}

int Dialogue::Run(int argc, char** argv)
{
    int status = OpenInput(argc, argv);
    if (status != kExitSuccess)
        return status;
    if (const char* why = UnsupportedReason(input.Description(), false))
    {
        Say("Current format of file is not supported\n\n");
        return FinalPause(Fail(kExitFailed, Quoted(input.Name()) + " " + why));
    }
    Report();
    long choice = 0;
    status = ReadMenu(choice);
    if (status != kExitSuccess)
        return status;
    if (choice != kExitAnswer)
    {
        status = RunMode(ModeByMenu(choice));
        if (status != kExitSuccess)
            return status;
    }
    // Final release: the reading block, then the library, then the pause.
    input.Close();
    binding.Unload();
    return FinalPause(kExitSuccess);
}

// Asks the mode's values, names the output beside the input and runs the pass, showing the
// running byte count.
int Dialogue::RunMode(int mode)
{
    const FamilyExports& family = binding.Family(mode);
    if (family.init == nullptr)
        return Fail(kExitFailed, MissingExport(family.initName) + ": this mode is not available");

    // Answers are asked and checked before anything is created.
    Settings settings;
    settings.mode = mode;
    const ModeRow& row = Mode(mode);
    for (int i = 0; i < row.valueCount; ++i)
    {
        Say(PromptText(row.values[i]));
        if (!ReadAnswer())
            return kExitUsage;
        Say("\n");
        const Answer taken =
            TakeAnswer(row.values[i], answer, input.Description().sampleRate, settings);
        if (!taken.taken)
            return Fail(kExitUsage, taken.refusal);
        if (!taken.warning.empty())
            Warn(taken.warning);
    }
    char outputName[kTextSize]{};
    if (!MakeOutputName(mode, input.Name(), nullptr, outputName))
        return Fail(kExitUsage, "output name for " + Quoted(input.Name()) +
                                    " would be longer than " + std::to_string(kTextSize - 1) +
                                    " characters");
    if (platform::SameFile(outputName, input.Name()))
        return Fail(kExitUsage, "output " + Quoted(outputName) + " is the input file itself");

    CountOnStdout progress;
    // The answers are in: from here a stop signal leaves the output name as it was.
    const platform::StopSignals stopSignals;
    return RunPass(binding, settings, input, outputName, false, progress, nullptr);
}

// Reads one answer line, without its line end; the end of input gives an empty answer. False
// when the line does not fit (the failure is already reported).
bool Dialogue::ReadAnswer()
{
    // Every text is on the console before the program waits for the answer.
    std::fflush(stdout);
    std::memset(answer, 0, sizeof answer);
    if (std::fgets(answer, sizeof answer, stdin) == nullptr)
    {
        answer[0] = '\0';
        return true;
    }
    std::size_t length = std::strlen(answer);
    const bool complete = length > 0 && answer[length - 1] == '\n';
    if (!complete && length == sizeof answer - 1)
    {
        // The buffer is full: the answer fits only when its line ends right here.
        int next = std::getc(stdin);
        if (next == '\r')
            next = std::getc(stdin);
        if (next != '\n' && next != EOF)
        {
            Fail(kExitUsage,
                 "answer line longer than " + std::to_string(sizeof answer - 1) + " characters");
            return false;
        }
    }
    // The line end is not part of the answer ("\n", or "\r\n" from another platform).
    while (length > 0 && (answer[length - 1] == '\n' || answer[length - 1] == '\r'))
        answer[--length] = '\0';
    return true;
}

} // namespace

int RunDialogue(int argc, char** argv)
{
    Dialogue dialogue;
    return dialogue.Run(argc, argv);
}

} // namespace sigrun
