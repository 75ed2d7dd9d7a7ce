#include "CommandLineChecks.h"

#include "Messages.h"
#include "Records.h"

#include "sigkit_api.h"

namespace sigrun {

namespace {

const char* ActionOption(Action action)
{
    return action == Action::Spectrum   ? "--spectrum"
           : action == Action::Stations ? "--stations"
                                        : "--info";
}

} // namespace

// Raw samples need their rate, and the rate is only for them; standard input is read once; raw
// output goes to standard output only.
bool CheckStreams(const CommandLine& line, std::string& error)
{
    const std::string* rawInput = nullptr;
    int standardInputs = 0;
    for (const std::string& input : line.inputs)
    {
        if (rawInput == nullptr && (line.rawType != nullptr || RawTypeOfPath(input) != nullptr))
            rawInput = &input;
        standardInputs += IsStandardStream(input) ? 1 : 0;
    }
    if (standardInputs > 1)
    {
        error = "standard input (-) can be read only once";
        return false;
    }
    if (rawInput != nullptr && line.inRate == 0)
    {
        error = line.rawType != nullptr
                    ? "--type " + std::string(line.rawType->name) + " needs --in-rate HZ"
                    : Quoted(*rawInput) + " holds raw samples: give their rate with --in-rate HZ";
        return false;
    }
    if (rawInput == nullptr && line.inRate != 0 && !line.inputs.empty())
    {
        error = "--in-rate is the rate of raw samples: give --type TYPE (or name a .cu8, .cs8, "
                ".cs16 or .cf32 file)";
        return false;
    }
    if (line.settings.outputType != 0 && !(line.outputGiven && IsStandardStream(line.output)))
    {
        error = "--out-type writes raw samples to standard output: it needs --output -";
        return false;
    }
    return true;
}

// --info, --spectrum and --stations process nothing, so nothing that shapes a processing goes
// with them; --output goes with --spectrum alone (the picture's name).
bool CheckInfo(const CommandLine& line, Given& given, std::string& error)
{
    const char* other = given.mode         ? "--mode"
                        : given.absolute   ? "--absolute-frequency"
                        : given.encoding   ? "--encoding"
                        : given.deemphasis ? "--deemph"
                        : given.agc        ? "--agc"
                                           : nullptr;
    for (Value value : kModeValues)
        if (other == nullptr && given.Has(value))
            other = OptionName(value);
    if (other == nullptr)
        other = line.outputGiven && line.action != Action::Spectrum ? "--output"
                : line.noClobber                                    ? "--no-clobber"
                : line.settings.outputType != 0                     ? "--out-type"
                                                                    : nullptr;
    if (other != nullptr)
    {
        error = std::string(other) + " does not go with " + ActionOption(line.action) +
                ", which processes nothing";
        return false;
    }
    return true;
}

// The picture's options go with --spectrum, --fft, --time and --span with it and --stations,
// --json with --stations.
bool CheckRecordingOptions(const CommandLine& line, std::string& error)
{
    const RecordingOptions& r = line.recording;
    if (!r.spectrumOption.empty() && line.action != Action::Spectrum)
    {
        error = r.spectrumOption + " goes with --spectrum only";
        return false;
    }
    if (!r.analysisOption.empty() && line.action != Action::Spectrum &&
        line.action != Action::Stations)
    {
        error = r.analysisOption + " goes with --spectrum and --stations only";
        return false;
    }
    if (r.json && line.action != Action::Stations)
    {
        error = "--json goes with --stations only";
        return false;
    }
    if (r.pngGiven && line.outputGiven)
    {
        error = "--png and --output both name the picture: give one";
        return false;
    }
    return true;
}

// The values that a mode lacks, or that it does not take. The original kinds lack none but the
// quality (high unless given); the chain kinds and receivers have defaults for more.
bool CheckMode(CommandLine& line, Given& given, std::string& error)
{
    const int mode = line.settings.mode;
    const std::string word = ModeWord(mode);
    std::vector<const char*> missing;
    for (Value value : kModeValues)
    {
        const bool takes = ModeTakes(mode, value);
        if (given.Has(value) && !takes)
        {
            error = std::string(OptionName(value)) + " does not apply to mode " + word;
            return false;
        }
        if (!given.Has(value) && ModeNeeds(mode, value))
            missing.push_back(OptionName(value));
    }
    if (!missing.empty())
    {
        error = "mode " + word + " needs ";
        for (std::size_t i = 0; i < missing.size(); ++i)
        {
            if (i > 0)
                error += i + 1 == missing.size() ? " and " : ", ";
            error += missing[i];
        }
        return false;
    }
    const int kind = Mode(mode).kind;
    const bool fm = kind == SIGKIT_KIND_FM || kind == SIGKIT_KIND_WFM;
    const bool agc = kind == SIGKIT_KIND_AM || kind == SIGKIT_KIND_USB || kind == SIGKIT_KIND_LSB ||
                     kind == SIGKIT_KIND_CW;
    const char* stray = given.deemphasis && !fm ? "--deemph"
                        : given.agc && !agc     ? "--agc"
                                                : nullptr;
    if (stray != nullptr)
    {
        error = std::string(stray) + " does not apply to mode " + word;
        return false;
    }
    if (line.settings.qualityLevel > 3 && !IsChainMode(mode))
    {
        error = "--quality best does not apply to mode " + word + ": give low, medium or high";
        return false;
    }
    // The gain of the chain kinds and receivers is an extra factor, 1 unless given.
    if (IsChainMode(mode) && !given.Has(Value::Amplify))
        line.settings.amplify = 1.0f;
    return true;
}

} // namespace sigrun
