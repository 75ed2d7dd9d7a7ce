#include "ProcessingModes.h"

#include "ClipCounter.h"
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

enum class Shape
{
    Block,
    Iq,
    Invert,
};

struct Family
{
    const char* name; // export prefix
    const char* word; // mode word of the options
    Shape shape;
    const char* suffix;
    int promptCount;
    Prompt prompts[4];
};

// The family table, by menu number 1 to 6.
const Family kFamilies[] = {
    {"iq2real", "iq", Shape::Iq, "_iq2r.wav", 1, {Prompt::Quality}},
    {"resampl",
     "resample",
     Shape::Block,
     "_resampl.wav",
     4,
     {Prompt::Frequency, Prompt::OutRate, Prompt::Amplify, Prompt::Quality}},
    {"lpflt",
     "convert",
     Shape::Block,
     "_if.wav",
     4,
     {Prompt::Frequency, Prompt::Band, Prompt::Amplify, Prompt::Quality}},
    {"invert", "invert", Shape::Invert, "_inv.wav", 0, {}},
    {"am_demod",
     "am",
     Shape::Block,
     "_amdem.wav",
     4,
     {Prompt::Frequency, Prompt::OutRate, Prompt::Amplify, Prompt::Quality}},
    {"fm_demod",
     "fm",
     Shape::Block,
     "_fmdem.wav",
     4,
     {Prompt::Frequency, Prompt::OutRate, Prompt::Amplify, Prompt::Quality}},
};
constexpr int kModeCount = static_cast<int>(sizeof kFamilies / sizeof kFamilies[0]);

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

int AskPrompt(Prompt prompt, RunState& state, Settings& settings)
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
        if (!ReadInteger(state.answer, settings.frequency))
            return Fail(kExitUsage, "Frequency " + answer +
                                        " is out of range: give whole Hz from -2147483648 to "
                                        "2147483647");
        break;
    case Prompt::OutRate:
        if (!ReadInteger(state.answer, settings.outRateOrBand) || settings.outRateOrBand <= 0)
            return Fail(kExitUsage, "SampleRateOut " + answer +
                                        " is not a sample rate: give whole Hz from 1 to "
                                        "2147483647");
        break;
    case Prompt::Band:
        if (!ReadInteger(state.answer, settings.outRateOrBand) || settings.outRateOrBand < 0)
            return Fail(kExitUsage, "Band " + answer +
                                        " is not a band width: give whole Hz from 0 to "
                                        "2147483647");
        break;
    case Prompt::Amplify: {
        // The standard reading of decimal text (0 without a number), then rounded to a float.
        const double value = std::strtod(state.answer, nullptr);
        if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(FLT_MAX))
            return Fail(kExitUsage, "Amplify " + answer +
                                        " is not a finite number: give a gain such as 1 or 0.5");
        settings.amplify = static_cast<float>(value);
        break;
    }
    case Prompt::Quality:
        // Compared as a whole text: a blank before or after the digit matches nothing.
        if (std::strcmp(state.answer, "1") == 0)
            settings.quality = "Low";
        else if (std::strcmp(state.answer, "2") == 0)
            settings.quality = "Medium";
        else if (std::strcmp(state.answer, "3") == 0)
            settings.quality = "High";
        break;
    }
    return kExitSuccess;
}

void PutText(char (&field)[kTextSize], const char* text)
{
    std::snprintf(field, sizeof field, "%s", text);
}

const char* SampleFormatWord(const WavDescription& in)
{
    if (in.formatTag == 3)
        return "32 bits (float)";
    switch (in.bitsPerSample)
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

WavDescription OutputDescription(const Settings& settings, const RunState& state)
{
    const WavDescription& in = state.input;
    WavDescription out{};
    std::memcpy(out.name, state.outputName, sizeof out.name);
    out.formatTag = in.formatTag;
    out.bitsPerSample = in.bitsPerSample;
    switch (settings.mode)
    {
    case 1: // real to I/Q at half the rate, and back at twice the rate
        out.channels = in.channels == 1 ? 2 : 1;
        out.sampleRate = in.channels == 1 ? in.sampleRate / 2 : in.sampleRate * 2;
        break;
    case 2:
    case 5:
    case 6:
        out.channels = settings.mode == 2 ? 2 : 1;
        out.sampleRate = static_cast<uint32_t>(settings.outRateOrBand);
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

// The dialogue's running count on stdout, now and then flushed on a terminal; a pipe gets every
// count, buffered.
class CountOnStdout : public PassProgress
{
public:
    void Show(long long total) override
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
    void Clear() override { std::fflush(stdout); }

private:
    bool terminal = platform::IsOutputTerminal();
    double lastFlush = 0.0;
};

template <typename Params, typename Handle> struct FamilyCalls
{
    using Init = int32_t (*)(Params, Handle**);
    using Data = int32_t (*)(Handle*, const void*, int32_t, const void**, int32_t*);
    using Free = int32_t (*)(Handle*);
};

// The pass for one record shape: init, output file, loop, free.
template <typename Params, typename Handle>
int RunFamily(const Settings& settings, const Params& params, RunState& state,
              PassProgress& progress, PassCounts* counts)
{
    using Calls = FamilyCalls<Params, Handle>;
    const Family& family = kFamilies[settings.mode - 1];
    platform::DynamicLibrary& library = state.library;
    const WavDescription& in = state.input;

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
    const WavDescription output = OutputDescription(settings, state);
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

    ClipCounter clips(output.formatTag, output.bitsPerSample);
    long long total = 0;
    long long written = 0;
    const void* inBlock = nullptr;
    int32_t inBytes = 0;
    const void* outBlock = nullptr;
    int32_t outBytes = 0;
    int writeError = 0;
    state.readData(state.reader, &inBlock, &inBytes);
    while (inBytes != 0)
    {
        outBytes = 0;
        data(handle, inBlock, inBytes, &outBlock, &outBytes);
        errno = 0;
        if (writeData(writer, outBlock, outBytes) != 1)
        {
            writeError = errno != 0 ? errno : EIO;
            break;
        }
        if (counts != nullptr && outBytes > 0)
        {
            written += outBytes;
            clips.Count(outBlock, outBytes);
        }
        total += inBytes;
        progress.Show(total);
        state.readData(state.reader, &inBlock, &inBytes);
    }
    progress.Clear();

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
    if (counts != nullptr)
    {
        counts->bytesIn = total;
        counts->bytesOut = written;
        counts->clipped = clips.Clipped();
        const int frameIn = in.channels * (in.bitsPerSample / 8);
        counts->framesIn = frameIn > 0 ? total / frameIn : 0;
        counts->framesOut = output.blockAlign > 0 ? written / output.blockAlign : 0;
    }
    return kExitSuccess;
}

} // namespace

const char* ModeWord(int mode)
{
    return mode >= 1 && mode <= kModeCount ? kFamilies[mode - 1].word : "";
}

int ModeByWord(const char* word)
{
    for (int mode = 1; mode <= kModeCount; ++mode)
        if (std::strcmp(word, kFamilies[mode - 1].word) == 0)
            return mode;
    return 0;
}

bool ModeTakes(int mode, Prompt prompt)
{
    if (mode < 1 || mode > kModeCount)
        return false;
    const Family& family = kFamilies[mode - 1];
    for (int i = 0; i < family.promptCount; ++i)
        if (family.prompts[i] == prompt)
            return true;
    return false;
}

const char* UnsupportedReason(const WavDescription& d, bool floatAccepted)
{
    if (d.valid == 0)
        return "is not a WAV file whose format can be read";
    const bool isFloat = d.formatTag == 3 && floatAccepted;
    if (d.formatTag != 1 && !isFloat)
        return floatAccepted ? "is neither integer PCM nor float" : "is not integer PCM";
    if (d.channels != 1 && d.channels != 2)
        return "has a channel count other than 1 or 2";
    if (isFloat && d.bitsPerSample != 32)
        return "has float samples of other than 32 bits";
    if (d.bitsPerSample != 8 && d.bitsPerSample != 16 && d.bitsPerSample != 24 &&
        d.bitsPerSample != 32)
        return "has a sample width other than 8, 16, 24 or 32 bits";
    if (d.sampleRate == 0 || d.sampleRate > static_cast<uint32_t>(INT32_MAX))
        return "has no usable sample rate";
    return nullptr;
}

bool MakeOutputName(int mode, const char* inputName, const char* folder,
                    char (&outputName)[kTextSize])
{
    const Family& family = kFamilies[mode - 1];
    const std::size_t length = std::strlen(inputName);
    const char* slash = std::strrchr(inputName, '/');
    const std::size_t fileStart =
        slash != nullptr ? static_cast<std::size_t>(slash - inputName) + 1 : 0;
    // Only the file's own name loses characters, never the folder it is in.
    const std::size_t fileLength = length - fileStart;
    const std::size_t kept = fileLength >= 4 ? length - 4 : length;

    std::string name;
    if (folder != nullptr)
    {
        name = folder;
        if (!name.empty() && name.back() != '/')
            name += '/';
        name.append(inputName + fileStart, kept - fileStart);
    }
    else
        name.assign(inputName, kept);
    name += family.suffix;
    if (name.size() >= sizeof outputName)
        return false;
    std::memset(outputName, 0, sizeof outputName);
    std::memcpy(outputName, name.c_str(), name.size() + 1);
    return true;
}

int RunPass(const Settings& settings, RunState& state, PassProgress& progress, PassCounts* counts)
{
    const Family& family = kFamilies[settings.mode - 1];
    const WavDescription& in = state.input;
    const bool mono = in.channels == 1;
    const char* format = SampleFormatWord(in);
    switch (family.shape)
    {
    case Shape::Iq: {
        IqParams params{};
        PutText(params.inputMode, mono ? "Real->Complex" : "Complex->Real");
        PutText(params.sampleFormat, format);
        PutText(params.quality, settings.quality);
        return RunFamily<IqParams, IqHandle>(settings, params, state, progress, counts);
    }
    case Shape::Invert: {
        InvertParams params{};
        PutText(params.inputMode, mono ? "Real" : "Complex");
        PutText(params.sampleFormat, format);
        return RunFamily<InvertParams, InvertHandle>(settings, params, state, progress, counts);
    }
    case Shape::Block:
    default: {
        BlockParams params{};
        PutText(params.inputMode, mono ? "Real" : "Complex");
        PutText(params.sampleFormat, format);
        params.sampleRate = static_cast<int32_t>(in.sampleRate);
        params.frequency = settings.frequency;
        params.outRateOrBand = settings.outRateOrBand;
        params.amplify = settings.amplify;
        PutText(params.quality, settings.quality);
        return RunFamily<BlockParams, BlockHandle>(settings, params, state, progress, counts);
    }
    }
}

int RunProcessingPass(int mode, RunState& state)
{
    const Family& family = kFamilies[mode - 1];
    if (state.library.Find(Export(family, "_init").c_str()) == nullptr)
        return Fail(kExitFailed, MissingExport(Export(family, "_init").c_str()) +
                                     ": this mode is not available");

    // Answers are asked and checked before anything is created.
    Settings settings;
    settings.mode = mode;
    for (int i = 0; i < family.promptCount; ++i)
    {
        const int status = AskPrompt(family.prompts[i], state, settings);
        if (status != kExitSuccess)
            return status;
    }
    if (!MakeOutputName(mode, state.inputName, nullptr, state.outputName))
        return Fail(kExitUsage, "output name for " + Quoted(state.inputName) +
                                    " would be longer than " + std::to_string(kTextSize - 1) +
                                    " characters");
    if (platform::SameFile(state.outputName, state.inputName))
        return Fail(kExitUsage, "output " + Quoted(state.outputName) + " is the input file itself");

    CountOnStdout progress;
    return RunPass(settings, state, progress, nullptr);
}

} // namespace sigrun
