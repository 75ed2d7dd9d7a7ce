#include "ProcessingModes.h"

#include "platform/Files.h"
#include "platform/Terminal.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sigrun {

namespace {

enum class Prompt
{
    Frequency,
    OutRate,
    Band,
    Amplify,
    Quality,
};

enum class Shape
{
    Block,
    Iq,
    Invert,
};

struct Family
{
    const char* name; // export prefix
    Shape shape;
    const char* suffix;
    int promptCount;
    Prompt prompts[4];
};

// The family table, by menu number 1 to 6.
const Family kFamilies[] = {
    {"iq2real", Shape::Iq, "_iq2r.wav", 1, {Prompt::Quality}},
    {"resampl", Shape::Block, "_resampl.wav", 4,
     {Prompt::Frequency, Prompt::OutRate, Prompt::Amplify, Prompt::Quality}},
    {"lpflt", Shape::Block, "_if.wav", 4,
     {Prompt::Frequency, Prompt::Band, Prompt::Amplify, Prompt::Quality}},
    {"invert", Shape::Invert, "_inv.wav", 0, {}},
    {"am_demod", Shape::Block, "_amdem.wav", 4,
     {Prompt::Frequency, Prompt::OutRate, Prompt::Amplify, Prompt::Quality}},
    {"fm_demod", Shape::Block, "_fmdem.wav", 4,
     {Prompt::Frequency, Prompt::OutRate, Prompt::Amplify, Prompt::Quality}},
};

// Every field the console can fill; each family takes the ones of its record.
struct Answers
{
    int32_t frequency = 0;
    int32_t outRateOrBand = 0;
    float amplify = 0.0f;
    const char* quality = ""; // no recognised answer: an empty text
};

std::string Export(const Family& family, const char* operation)
{
    return std::string(family.name) + operation;
}

// The standard decimal reading (leading blanks and a sign, digits to the first other character,
// 0 without digits), refused when the value does not fit 32 bits.
bool ReadInteger(const char* text, int32_t& value)
{
    errno = 0;
    const long long parsed = std::strtoll(text, nullptr, 10);
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

int AskPrompt(Prompt prompt, RunState& state, Answers& answers)
{
    switch (prompt)
    {
    case Prompt::Frequency:
        Say("Frequency: ");
        break;
    case Prompt::OutRate:
        Say("SampleRateOut: ");
        break;
    case Prompt::Band:
        Say("Band: ");
        break;
    case Prompt::Amplify:
        Say("Amplify: ");
        break;
    case Prompt::Quality:
        Say("Quality:\r\n1 - Low,\r\n2 - Medium,\r\n3 - High (recommended): ");
        break;
    }
    if (!ReadAnswer(state))
        return kExitUsage;
    Say("\n");

    const std::string answer = Quoted(state.answer);
    switch (prompt)
    {
    case Prompt::Frequency:
        if (!ReadInteger(state.answer, answers.frequency))
            return Fail(kExitUsage, "Frequency " + answer +
                                        " is out of range: give whole Hz from -2147483648 to "
                                        "2147483647");
        break;
    case Prompt::OutRate:
        if (!ReadInteger(state.answer, answers.outRateOrBand) || answers.outRateOrBand <= 0)
            return Fail(kExitUsage, "SampleRateOut " + answer +
                                        " is not a sample rate: give whole Hz from 1 to "
                                        "2147483647");
        break;
    case Prompt::Band:
        if (!ReadInteger(state.answer, answers.outRateOrBand) || answers.outRateOrBand < 0)
            return Fail(kExitUsage, "Band " + answer +
                                        " is not a band width: give whole Hz from 0 to "
                                        "2147483647");
        break;
    case Prompt::Amplify:
    {
        // The standard reading of decimal text (0 without a number), then rounded to a float.
        const double value = std::strtod(state.answer, nullptr);
        if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(FLT_MAX))
            return Fail(kExitUsage, "Amplify " + answer +
                                        " is not a finite number: give a gain such as 1 or 0.5");
        answers.amplify = static_cast<float>(value);
        break;
    }
    case Prompt::Quality:
        // Compared as a whole text: a blank before or after the digit matches nothing.
        if (std::strcmp(state.answer, "1") == 0)
            answers.quality = "Low";
        else if (std::strcmp(state.answer, "2") == 0)
            answers.quality = "Medium";
        else if (std::strcmp(state.answer, "3") == 0)
            answers.quality = "High";
        break;
    }
    return kExitSuccess;
}

void PutText(char (&field)[kTextSize], const char* text)
{
    std::snprintf(field, sizeof field, "%s", text);
}

const char* SampleFormatWord(uint16_t bits)
{
    switch (bits)
    {
    case 8:
        return "8 bits  (unsigned)"; // 8-bit WAV samples are unsigned, centred on 128
    case 16:
        return "16 bits (signed)";
    case 24:
        return "24 bits (signed)";
    default:
        return "32 bits (signed)";
    }
}

// Output name: the input name without its last four characters (the extension and its dot), then
// the family's suffix. A name of fewer than four characters is kept whole.
bool MakeOutputName(const Family& family, RunState& state)
{
    const std::size_t length = std::strlen(state.inputName);
    const std::size_t kept = length >= 4 ? length - 4 : length;
    const std::size_t suffix = std::strlen(family.suffix);
    if (kept + suffix >= sizeof state.outputName)
        return false;
    std::memset(state.outputName, 0, sizeof state.outputName);
    std::memcpy(state.outputName, state.inputName, kept);
    std::memcpy(state.outputName + kept, family.suffix, suffix + 1);
    return true;
}

WavDescription OutputDescription(int mode, const RunState& state, const Answers& answers)
{
    const WavDescription& in = state.input;
    WavDescription out{};
    std::memcpy(out.name, state.outputName, sizeof out.name);
    out.formatTag = in.formatTag;
    out.bitsPerSample = in.bitsPerSample;
    switch (mode)
    {
    case 1: // real to I/Q at half the rate, and back at twice the rate
        out.channels = in.channels == 1 ? 2 : 1;
        out.sampleRate = in.channels == 1 ? in.sampleRate / 2 : in.sampleRate * 2;
        break;
    case 2:
    case 5:
    case 6:
        out.channels = mode == 2 ? 2 : 1;
        out.sampleRate = static_cast<uint32_t>(answers.outRateOrBand);
        break;
    default: // 3, 4: I/Q at the input rate
        out.channels = 2;
        out.sampleRate = in.sampleRate;
        break;
    }
    out.blockAlign = static_cast<uint16_t>((out.bitsPerSample / 8) * out.channels);
    out.byteRate = out.blockAlign * out.sampleRate;
    return out;
}

// Shows the progress count now and then on a terminal; a pipe gets every count, buffered.
class Progress
{
public:
    void Show(long long total)
    {
        std::printf("%lld\r", total);
        if (terminal)
        {
            const double now = platform::SteadySeconds();
            if (now - lastFlush >= 0.1)
            {
                std::fflush(stdout);
                lastFlush = now;
            }
        }
    }

private:
    bool terminal = platform::IsOutputTerminal();
    double lastFlush = 0.0;
};

template <typename Params, typename Handle>
struct FamilyCalls
{
    using Init = int32_t (*)(Params, Handle**);
    using Data = int32_t (*)(Handle*, const void*, int32_t, const void**, int32_t*);
    using Free = int32_t (*)(Handle*);
};

// The pass for one record shape: init, output file, loop, free.
template <typename Params, typename Handle>
int RunFamily(int mode, const Family& family, const Params& params, const Answers& answers,
              RunState& state)
{
    using Calls = FamilyCalls<Params, Handle>;
    platform::DynamicLibrary& library = state.library;

    const auto init = library.Lookup<typename Calls::Init>(Export(family, "_init").c_str());
    if (init == nullptr)
        return Fail(kExitFailed, MissingExport(Export(family, "_init").c_str()));
    // Known before anything is built, so that every way out releases what was.
    const auto release = library.Lookup<typename Calls::Free>(Export(family, "_free").c_str());
    if (release == nullptr)
        return Fail(kExitFailed, MissingExport(Export(family, "_free").c_str()));
    const auto writeFree = library.Lookup<WavWriteFreeFn>("wav_write_free");
    if (writeFree == nullptr)
        return Fail(kExitFailed, MissingExport("wav_write_free"));

    Handle* handle = nullptr;
    if (init(params, &handle) != 1 || handle == nullptr)
        return Fail(kExitFailed, "cannot set up " + std::string(family.name) + " processing");
    struct HandleGuard
    {
        typename Calls::Free release;
        Handle*& handle;
        ~HandleGuard()
        {
            if (handle != nullptr)
                release(handle);
        }
    } handleGuard{release, handle};

    const auto writeInit = library.Lookup<WavWriteInitFn>("wav_write_init");
    if (writeInit == nullptr)
        return Fail(kExitFailed, MissingExport("wav_write_init"));
    const WavDescription output = OutputDescription(mode, state, answers);
    WavWriteHandle* writer = nullptr;
    errno = 0;
    if (writeInit(output, &writer) != 1 || writer == nullptr)
    {
        const int error = errno;
        return Fail(kExitFailed, "cannot create " + Quoted(state.outputName) + ": " +
                                     std::strerror(error != 0 ? error : EIO));
    }
    struct WriterGuard
    {
        WavWriteFreeFn release;
        WavWriteHandle*& writer;
        ~WriterGuard()
        {
            if (writer != nullptr)
                release(writer);
        }
    } writerGuard{writeFree, writer};

    const auto data = library.Lookup<typename Calls::Data>(Export(family, "_data").c_str());
    if (data == nullptr)
        return Fail(kExitFailed, MissingExport(Export(family, "_data").c_str()));
    const auto writeData = library.Lookup<WavWriteDataFn>("wav_write_data");
    if (writeData == nullptr)
        return Fail(kExitFailed, MissingExport("wav_write_data"));

    Progress progress;
    long long total = 0;
    const void* inBlock = nullptr;
    int32_t inBytes = 0;
    const void* outBlock = nullptr;
    int32_t outBytes = 0;
    int writeError = 0;
    state.readData(state.reader, &inBlock, &inBytes);
    while (inBytes != 0)
    {
        data(handle, inBlock, inBytes, &outBlock, &outBytes);
        errno = 0;
        if (writeData(writer, outBlock, outBytes) != 1)
        {
            writeError = errno != 0 ? errno : EIO;
            break;
        }
        total += inBytes;
        progress.Show(total);
        state.readData(state.reader, &inBlock, &inBytes);
    }
    std::fflush(stdout);

    // The processing block goes first, then the writing block completes the file's header.
    release(handle);
    handle = nullptr;
    errno = 0;
    const int32_t closed = writeFree(writer);
    const int closeError = errno;
    writer = nullptr;
    if (writeError != 0)
        return Fail(kExitFailed, "cannot write " + Quoted(state.outputName) + ": " +
                                     std::strerror(writeError) +
                                     " (the file keeps what was written before)");
    if (closed != 1)
        return Fail(kExitFailed, "cannot complete " + Quoted(state.outputName) + ": " +
                                     std::strerror(closeError != 0 ? closeError : EIO));
    return kExitSuccess;
}

} // namespace

int RunProcessingPass(int mode, RunState& state)
{
    const Family& family = kFamilies[mode - 1];
    const WavDescription& in = state.input;
    const bool mono = in.channels == 1;

    if (state.library.Find(Export(family, "_init").c_str()) == nullptr)
        return Fail(kExitFailed, MissingExport(Export(family, "_init").c_str()) +
                                     ": this mode is not available");

    // Answers are asked and checked before anything is created.
    Answers answers;
    for (int i = 0; i < family.promptCount; ++i)
    {
        const int status = AskPrompt(family.prompts[i], state, answers);
        if (status != kExitSuccess)
            return status;
    }
    if (!MakeOutputName(family, state))
        return Fail(kExitUsage, "output name for " + Quoted(state.inputName) + " would be longer than " +
                                    std::to_string(kTextSize - 1) + " characters");
    if (platform::SameFile(state.outputName, state.inputName))
        return Fail(kExitUsage, "output " + Quoted(state.outputName) + " is the input file itself");

    const char* format = SampleFormatWord(in.bitsPerSample);
    switch (family.shape)
    {
    case Shape::Iq:
    {
        IqParams params{};
        PutText(params.inputMode, mono ? "Real->Complex" : "Complex->Real");
        PutText(params.sampleFormat, format);
        PutText(params.quality, answers.quality);
        return RunFamily<IqParams, IqHandle>(mode, family, params, answers, state);
    }
    case Shape::Invert:
    {
        InvertParams params{};
        PutText(params.inputMode, mono ? "Real" : "Complex");
        PutText(params.sampleFormat, format);
        return RunFamily<InvertParams, InvertHandle>(mode, family, params, answers, state);
    }
    case Shape::Block:
    default:
    {
        BlockParams params{};
        PutText(params.inputMode, mono ? "Real" : "Complex");
        PutText(params.sampleFormat, format);
        params.sampleRate = static_cast<int32_t>(in.sampleRate);
        params.frequency = answers.frequency;
        params.outRateOrBand = answers.outRateOrBand;
        params.amplify = answers.amplify;
        PutText(params.quality, answers.quality);
        return RunFamily<BlockParams, BlockHandle>(mode, family, params, answers, state);
    }
    }
}

} // namespace sigrun
