#include "CommandLine.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sigrun {

namespace {

enum class Option
{
    Mode,
    Frequency,
    Rate,
    Band,
    Amplify,
    Quality,
    Output,
    NoClobber,
    Quiet,
    Info,
    Help,
    Version,
};

struct OptionName
{
    char shortName; // '\0': long name only
    const char* longName;
    bool takesValue;
    Option option;
};

const OptionName kOptions[] = {
    {'m', "mode", true, Option::Mode},       {'f', "frequency", true, Option::Frequency},
    {'r', "rate", true, Option::Rate},       {'b', "band", true, Option::Band},
    {'a', "amplify", true, Option::Amplify}, {'q', "quality", true, Option::Quality},
    {'o', "output", true, Option::Output},   {'n', "no-clobber", false, Option::NoClobber},
    {'Q', "quiet", false, Option::Quiet},    {'i', "info", false, Option::Info},
    {'h', "help", false, Option::Help},      {'\0', "version", false, Option::Version},
};

const OptionName* FindShort(char name)
{
    for (const OptionName& o : kOptions)
        if (o.shortName != '\0' && o.shortName == name)
            return &o;
    return nullptr;
}

const OptionName* FindLong(const std::string& name)
{
    for (const OptionName& o : kOptions)
        if (name == o.longName)
            return &o;
    return nullptr;
}

std::string Named(const OptionName& o)
{
    return std::string("--") + o.longName;
}

std::string QuotedText(const std::string& text)
{
    return "'" + text + "'";
}

// The values as they were given; a later one replaces an earlier one.
struct Given
{
    bool mode = false, frequency = false, rateGiven = false, bandGiven = false, amplify = false;
    bool quality = false;
    int32_t rate = 0; // Hz
    int32_t band = 0; // Hz
};

// Takes one option with its value (null for an option without one).
bool Apply(const OptionName& o, const char* value, CommandLine& line, Given& given,
           std::string& error)
{
    Settings& s = line.settings;
    switch (o.option)
    {
    case Option::Mode:
        s.mode = ModeByWord(value);
        if (s.mode == 0)
        {
            error = "--mode " + QuotedText(value) +
                    " is not a mode: give iq, resample, convert, invert, am or fm";
            return false;
        }
        given.mode = true;
        return true;
    case Option::Frequency:
        if (!ParseHertz(value, s.frequency))
        {
            error = "--frequency " + QuotedText(value) +
                    " is not a frequency: give whole Hz within 32 bits, such as 10000, 10k or "
                    "-12.5k";
            return false;
        }
        given.frequency = true;
        return true;
    case Option::Rate: {
        int32_t& rate = given.rate;
        if (!ParseHertz(value, rate) || rate <= 0)
        {
            error = "--rate " + QuotedText(value) +
                    " is not a sample rate: give whole Hz from 1 to 2147483647, such as 48000 or "
                    "48k";
            return false;
        }
        given.rateGiven = true;
        return true;
    }
    case Option::Band: {
        int32_t& band = given.band;
        if (!ParseHertz(value, band) || band < 0)
        {
            error = "--band " + QuotedText(value) +
                    " is not a band width: give whole Hz from 0 to 2147483647, such as 8000 or 8k";
            return false;
        }
        given.bandGiven = true;
        return true;
    }
    case Option::Amplify:
        if (!ParseGain(value, s.amplify))
        {
            error = "--amplify " + QuotedText(value) +
                    " is not a finite number: give a gain such as 1, 0.5 or 20000";
            return false;
        }
        given.amplify = true;
        return true;
    case Option::Quality:
        if (std::strcmp(value, "low") == 0)
            s.quality = "Low";
        else if (std::strcmp(value, "medium") == 0)
            s.quality = "Medium";
        else if (std::strcmp(value, "high") == 0)
            s.quality = "High";
        else
        {
            error =
                "--quality " + QuotedText(value) + " is not a quality: give low, medium or high";
            return false;
        }
        given.quality = true;
        return true;
    case Option::Output:
        if (value[0] == '\0')
        {
            error = "--output needs a file or folder name";
            return false;
        }
        line.output = value;
        line.outputGiven = true;
        return true;
    case Option::NoClobber:
        line.noClobber = true;
        return true;
    case Option::Quiet:
        line.quiet = true;
        return true;
    case Option::Info:
        line.action = Action::Info;
        return true;
    case Option::Help:
        line.action = Action::Help;
        return true;
    case Option::Version:
        line.action = Action::Version;
        return true;
    }
    return true;
}

// The options that a mode lacks, or that it does not take.
bool CheckMode(const CommandLine& line, const Given& given, std::string& error)
{
    const int mode = line.settings.mode;
    const std::string word = ModeWord(mode);
    struct Need
    {
        Prompt prompt;
        bool given;
        const char* name;
    } const needs[] = {
        {Prompt::Frequency, given.frequency, "--frequency"},
        {Prompt::OutRate, given.rateGiven, "--rate"},
        {Prompt::Band, given.bandGiven, "--band"},
        {Prompt::Amplify, given.amplify, "--amplify"},
    };
    std::vector<const char*> missing;
    for (const Need& need : needs)
    {
        const bool takes = ModeTakes(mode, need.prompt);
        if (need.given && !takes)
        {
            error = std::string(need.name) + " does not apply to mode " + word;
            return false;
        }
        if (!need.given && takes)
            missing.push_back(need.name);
    }
    if (given.quality && !ModeTakes(mode, Prompt::Quality))
    {
        error = "--quality does not apply to mode " + word;
        return false;
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
    return true;
}

} // namespace

bool IsOption(const char* argument)
{
    return argument != nullptr && argument[0] == '-' && argument[1] != '\0';
}

bool ParseHertz(const std::string& text, int32_t& hertz)
{
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    // The digits make a whole mantissa; each fraction digit takes a power of ten off the scale.
    unsigned long long mantissa = 0;
    int scale = 0;
    int digits = 0;
    bool fraction = false;
    for (; at < text.size(); ++at)
    {
        const char c = text[at];
        if (c == '.' && !fraction)
        {
            fraction = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        ++digits;
        if (mantissa > (ULLONG_MAX - 9) / 10)
            return false;
        mantissa = mantissa * 10 + static_cast<unsigned long long>(c - '0');
        if (fraction)
            --scale;
    }
    if (digits == 0)
        return false;
    if (at < text.size())
    {
        if (text[at] == 'k' || text[at] == 'K')
            scale += 3;
        else if (text[at] == 'M')
            scale += 6;
        else
            return false;
        if (++at != text.size())
            return false;
    }
    const unsigned long long limit = negative ? 2147483648ULL : 2147483647ULL;
    if (mantissa != 0)
    {
        for (; scale < 0; ++scale)
        {
            if (mantissa % 10 != 0)
                return false; // not a whole number of Hz
            mantissa /= 10;
        }
        for (; scale > 0; --scale)
        {
            if (mantissa > limit / 10)
                return false;
            mantissa *= 10;
        }
    }
    if (mantissa > limit)
        return false;
    const long long value =
        negative ? -static_cast<long long>(mantissa) : static_cast<long long>(mantissa);
    hertz = static_cast<int32_t>(value);
    return true;
}

bool ParseGain(const std::string& text, float& gain)
{
    if (text.empty() || text[0] == ' ' || text[0] == '\t' || text[0] == '\n')
        return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0')
        return false;
    if (!std::isfinite(value) || std::fabs(value) > static_cast<double>(FLT_MAX))
        return false;
    gain = static_cast<float>(value);
    return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error)
{
    line = CommandLine{};
    line.settings.quality = "High";
    Given given;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (optionsEnded || !IsOption(arg.c_str()))
        {
            line.inputs.push_back(arg);
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (arg.compare(0, 2, "--") == 0)
        {
            // --name, --name=value or --name value
            const std::size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const OptionName* o = FindLong(name);
            if (o == nullptr)
            {
                error = "unknown option " + QuotedText(arg.substr(0, equals));
                return false;
            }
            const char* value = nullptr;
            if (equals != std::string::npos)
            {
                if (!o->takesValue)
                {
                    error = Named(*o) + " takes no value";
                    return false;
                }
                value = arg.c_str() + equals + 1;
            }
            else if (o->takesValue)
            {
                if (i + 1 >= args.size())
                {
                    error = Named(*o) + " needs a value";
                    return false;
                }
                value = args[++i].c_str();
            }
            if (!Apply(*o, value, line, given, error))
                return false;
            if (line.action == Action::Help || line.action == Action::Version)
                return true;
            continue;
        }
        // -x, a cluster of flags -nQ, and a value joined to its option: -r48k, -nr 48k.
        for (std::size_t at = 1; at < arg.size(); ++at)
        {
            const OptionName* o = FindShort(arg[at]);
            if (o == nullptr)
            {
                error = "unknown option " + QuotedText(std::string("-") + arg[at]);
                return false;
            }
            const char* value = nullptr;
            if (o->takesValue)
            {
                if (at + 1 < arg.size())
                    value = arg.c_str() + at + 1;
                else if (i + 1 < args.size())
                    value = args[++i].c_str();
                else
                {
                    error = Named(*o) + " needs a value";
                    return false;
                }
            }
            if (!Apply(*o, value, line, given, error))
                return false;
            if (line.action == Action::Help || line.action == Action::Version)
                return true;
            if (o->takesValue)
                break;
        }
    }

    for (const std::string& input : line.inputs)
        if (input.size() >= kTextSize)
        {
            error = "input name longer than " + std::to_string(kTextSize - 1) + " characters";
            return false;
        }
    if (line.action == Action::Info)
    {
        const char* other = given.mode         ? "--mode"
                            : given.frequency  ? "--frequency"
                            : given.rateGiven  ? "--rate"
                            : given.bandGiven  ? "--band"
                            : given.amplify    ? "--amplify"
                            : given.quality    ? "--quality"
                            : line.outputGiven ? "--output"
                            : line.noClobber   ? "--no-clobber"
                                               : nullptr;
        if (other != nullptr)
        {
            error = std::string(other) + " does not go with --info, which processes nothing";
            return false;
        }
        if (line.inputs.empty())
        {
            error = "no input file given";
            return false;
        }
        return true;
    }
    if (!given.mode)
    {
        error = "no mode given: choose one with --mode iq|resample|convert|invert|am|fm";
        return false;
    }
    if (!CheckMode(line, given, error))
        return false;
    line.settings.outRateOrBand =
        ModeTakes(line.settings.mode, Prompt::Band) ? given.band : given.rate;
    if (line.inputs.empty())
    {
        error = "no input file given";
        return false;
    }
    return true;
}

} // namespace sigrun
