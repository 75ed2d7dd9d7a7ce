#include "CommandLine.h"
#include "CommandLineChecks.h"

#include "Messages.h"
#include "Records.h"

#include "sigkit_api.h"

#include <cstdlib>
#include <cstring>

namespace sigrun {

namespace {

enum class Option
{
    Mode,
    Value, // a value of the mode, read and checked as the dialogue's answers are
    Output,
    Encoding,
    Deemphasis,
    Agc,
    NoClobber,
    Quiet,
    Info,
    Help,
    Version,
    InType,
    InRate,
    OutType,
    Recording, // an option of RecordingOptions, taken by its long name
    Spectrum,
    Stations,
};

struct OptionEntry
{
    char shortName; // '\0': long name only
    const char* longName;
    bool takesValue;
    Option option;
    Value value; // of Option::Value
};

const OptionEntry kOptions[] = {
    {'m', "mode", true, Option::Mode, {}},
    {'f', "frequency", true, Option::Value, Value::Frequency},
    {'r', "rate", true, Option::Value, Value::OutRate},
    {'b', "band", true, Option::Value, Value::Band},
    {'a', "amplify", true, Option::Value, Value::Amplify},
    {'q', "quality", true, Option::Value, Value::Quality},
    {'o', "output", true, Option::Output, {}},
    {'e', "encoding", true, Option::Encoding, {}},
    {'\0', "deemph", true, Option::Deemphasis, {}},
    {'\0', "agc", true, Option::Agc, {}},
    {'n', "no-clobber", false, Option::NoClobber, {}},
    {'Q', "quiet", false, Option::Quiet, {}},
    {'i', "info", false, Option::Info, {}},
    {'h', "help", false, Option::Help, {}},
    {'\0', "version", false, Option::Version, {}},
    {'t', "type", true, Option::InType, {}},
    {'\0', "in-rate", true, Option::InRate, {}},
    {'T', "out-type", true, Option::OutType, {}},
    {'F', "absolute-frequency", true, Option::Recording, {}},
    {'\0', "centre", true, Option::Recording, {}},
    {'\0', "start", true, Option::Recording, {}},
    {'\0', "spectrum", false, Option::Spectrum, {}},
    {'\0', "stations", false, Option::Stations, {}},
    {'\0', "json", false, Option::Recording, {}},
    {'\0', "png", true, Option::Recording, {}},
    {'\0', "size", true, Option::Recording, {}},
    {'\0', "fft", true, Option::Recording, {}},
    {'\0', "db", true, Option::Recording, {}},
    {'\0', "time", true, Option::Recording, {}},
    {'\0', "span", true, Option::Recording, {}},
};

const OptionEntry* FindShort(char name)
{
    for (const OptionEntry& o : kOptions)
        if (o.shortName != '\0' && o.shortName == name)
            return &o;
    return nullptr;
}

const OptionEntry* FindLong(const std::string& name)
{
    for (const OptionEntry& o : kOptions)
        if (name == o.longName)
            return &o;
    return nullptr;
}

std::string Named(const OptionEntry& o)
{
    return std::string("--") + o.longName;
}

class Reader
{
public:
    Reader(const std::vector<std::string>& args, CommandLine& line, std::string& error)
        : args(args), line(line), error(error)
    {
    }

    // Every argument in turn. False at the first one that cannot be taken.
    bool ReadAll();
    Given given;

private:
    bool ReadLong(std::size_t& i);
    bool ReadCluster(std::size_t& i);
    bool Apply(const OptionEntry& o, const char* value);
    bool ApplySetting(const OptionEntry& o, const char* value);
    bool Ended() const { return line.action == Action::Help || line.action == Action::Version; }

    const std::vector<std::string>& args;
    CommandLine& line;
    std::string& error;
};

bool Reader::ReadAll()
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size() && !Ended(); ++i)
    {
        const std::string& arg = args[i];
        if (optionsEnded || !IsOption(arg.c_str()))
            line.inputs.push_back(arg);
        else if (arg == "--")
            optionsEnded = true;
        else if (!(arg.compare(0, 2, "--") == 0 ? ReadLong(i) : ReadCluster(i)))
            return false;
    }
    return true;
}

// --name, --name=value or --name value
bool Reader::ReadLong(std::size_t& i)
{
    const std::string& arg = args[i];
    const std::size_t equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionEntry* o = FindLong(name);
    if (o == nullptr)
    {
        error = "unknown option " + Quoted(arg.substr(0, equals));
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
    return Apply(*o, value);
}

// -x, a cluster of flags -nQ, and a value joined to its option: -r48k, -nr 48k.
bool Reader::ReadCluster(std::size_t& i)
{
    const std::string& arg = args[i];
    for (std::size_t at = 1; at < arg.size() && !Ended(); ++at)
    {
        const OptionEntry* o = FindShort(arg[at]);
        if (o == nullptr)
        {
            error = "unknown option " + Quoted(std::string("-") + arg[at]);
            return false;
        }
        if (!o->takesValue)
        {
            if (!Apply(*o, nullptr))
                return false;
            continue;
        }
        if (at + 1 < arg.size())
            return Apply(*o, arg.c_str() + at + 1);
        if (i + 1 >= args.size())
        {
            error = Named(*o) + " needs a value";
            return false;
        }
        return Apply(*o, args[++i].c_str());
    }
    return true;
}

// Takes one of the options that shape the processing: the mode, its values, the encoding,
// de-emphasis and AGC.
bool Reader::ApplySetting(const OptionEntry& o, const char* value)
{
    switch (o.option)
    {
    case Option::Mode:
        line.settings.mode = ModeByWord(value);
        if (line.settings.mode == 0)
        {
            error = "--mode " + Quoted(value) + " is not a mode: give " + ModeWords(", ", " or ");
            return false;
        }
        given.mode = true;
        return true;
    case Option::Value:
        if (!TakeOption(o.value, value, line.settings, error))
            return false;
        given.Has(o.value) = true;
        return true;
    case Option::Encoding:
        line.settings.encoding = EncodingByWord(value);
        if (line.settings.encoding == 0)
        {
            error = "--encoding " + Quoted(value) +
                    " is not an encoding: give u8, s16, s24, s32 or f32";
            return false;
        }
        given.encoding = true;
        return true;
    case Option::Deemphasis:
        if (std::strcmp(value, "0") != 0 && std::strcmp(value, "50") != 0 &&
            std::strcmp(value, "75") != 0)
        {
            error = "--deemph " + Quoted(value) + " is not a de-emphasis: give 0, 50 or 75 (us)";
            return false;
        }
        line.settings.deemphasis = std::atoi(value);
        given.deemphasis = true;
        return true;
    case Option::Agc:
        if (std::strcmp(value, "on") != 0 && std::strcmp(value, "off") != 0)
        {
            error = "--agc " + Quoted(value) + " is neither on nor off";
            return false;
        }
        line.settings.agc = value[1] == 'n';
        given.agc = true;
        return true;
    default:
        break;
    }
    return true;
}

// Takes one option with its value (null for an option without one).
bool Reader::Apply(const OptionEntry& o, const char* value)
{
    switch (o.option)
    {
    case Option::Mode:
    case Option::Value:
    case Option::Encoding:
    case Option::Deemphasis:
    case Option::Agc:
        return ApplySetting(o, value);
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
    case Option::InType:
    case Option::OutType: {
        const RawType* type = RawTypeByName(value);
        if (type == nullptr)
        {
            error =
                Named(o) + " " + Quoted(value) + " is not a sample type: give " + RawTypeNames();
            return false;
        }
        if (o.option == Option::InType)
            line.rawType = type;
        else
            line.settings.outputType = type->type;
        return true;
    }
    case Option::InRate:
        if (!ParseHertz(value, line.inRate) || line.inRate <= 0)
        {
            error = "--in-rate " + Quoted(value) + " is not a rate above 0 Hz";
            return false;
        }
        return true;
    case Option::Recording:
        if (!TakeRecordingOption(o.longName, value, line.recording, error))
            return false;
        if (o.shortName == 'F')
            given.absolute = true;
        return true;
    case Option::Spectrum:
        line.action = Action::Spectrum;
        return true;
    case Option::Stations:
        line.action = Action::Stations;
        return true;
    }
    return true;
}

} // namespace

int EncodingByWord(const char* word)
{
    constexpr struct
    {
        const char* word;
        int encoding;
    } kEncodings[] = {{"u8", SIGKIT_ENCODING_U8},
                      {"s16", SIGKIT_ENCODING_S16},
                      {"s24", SIGKIT_ENCODING_S24},
                      {"s32", SIGKIT_ENCODING_S32},
                      {"f32", SIGKIT_ENCODING_F32}};
    for (const auto& e : kEncodings)
        if (std::strcmp(word, e.word) == 0)
            return e.encoding;
    return 0;
}

bool IsOption(const char* argument)
{
    return argument != nullptr && argument[0] == '-' && argument[1] != '\0';
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error)
{
    line = CommandLine{};
    line.settings.quality = QualityWord(3);
    Reader reader(args, line, error);
    if (!reader.ReadAll())
        return false;
    if (line.action == Action::Help || line.action == Action::Version)
        return true;

    if (line.action != Action::Process && !CheckInfo(line, reader.given, error))
        return false;
    if (!CheckRecordingOptions(line, error))
        return false;
    if (reader.given.absolute && reader.given.Has(Value::Frequency))
    {
        error = "--frequency and --absolute-frequency both give the frequency: give one";
        return false;
    }
    if (reader.given.absolute)
        reader.given.Has(Value::Frequency) = true;
    if (line.action == Action::Process)
    {
        if (!reader.given.mode)
        {
            error = "no mode given: choose one with --mode " + ModeWords("|", "|");
            return false;
        }
        if (!CheckMode(line, reader.given, error))
            return false;
    }
    if (line.inputs.empty())
    {
        error = "no input file given";
        return false;
    }
    return CheckStreams(line, error);
}

} // namespace sigrun
