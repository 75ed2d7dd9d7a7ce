#include "Values.h"

#include "Messages.h"
#include "Records.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sigrun {

namespace {

struct ValueRule
{
    Value value;
    const char* prompt;     // the dialogue's question
    const char* answerName; // the value in the dialogue's messages
    const char* option;     // the long option
    const char* refusal;    // what a refused text is not, and what to give
    const char* optionHint; // examples in the options' spelling
    long long least;        // integer values: the range taken
    long long most;
};

constexpr ValueRule kValues[] = {
    {Value::Frequency, "Frequency: ", "Frequency", "--frequency",
     "is not a frequency: give whole Hz from -2147483648 to 2147483647",
     ", such as 10000, 10k or -12.5k", INT32_MIN, INT32_MAX},
    {Value::OutRate, "SampleRateOut: ", "SampleRateOut", "--rate",
     "is not a sample rate: give whole Hz from 1 to 2147483647", ", such as 48000 or 48k", 1,
     INT32_MAX},
    {Value::Band, "Band: ", "Band", "--band",
     "is not a band width: give whole Hz from 1 to 2147483647", ", such as 8000 or 8k", 1,
     INT32_MAX},
    {Value::Amplify, "Amplify: ", "Amplify", "--amplify",
     "is not a finite number: give a gain such as 1, 0.5 or 20000", "", 0, 0},
    {Value::Quality, "Quality:\r\n1 - Low,\r\n2 - Medium,\r\n3 - High (recommended): ", "Quality",
     "--quality", "is not a quality: give low, medium or high", " (or best for rate and channel)",
     1, 3},
};

const ValueRule& RuleOf(Value value)
{
    for (const ValueRule& rule : kValues)
        if (rule.value == value)
            return rule;
    return kValues[0];
}

// The rule of the integer values, whichever way they were read.
bool StoreHertz(Value value, long long hertz, Settings& settings)
{
    const ValueRule& rule = RuleOf(value);
    if (hertz < rule.least || hertz > rule.most)
        return false;
    int32_t& field = value == Value::Frequency ? settings.frequency : settings.outRateOrBand;
    field = static_cast<int32_t>(hertz);
    if (value == Value::OutRate)
        settings.outRate = field;
    if (value == Value::Band)
        settings.band = field;
    return true;
}

// The rule of the gain: finite and within the float range, then rounded to a float.
bool StoreGain(double gain, Settings& settings)
{
    if (!std::isfinite(gain) || std::fabs(gain) > static_cast<double>(FLT_MAX))
        return false;
    settings.amplify = static_cast<float>(gain);
    return true;
}

// The quality level of an answer: exactly "1", "2" or "3" (a blank before or after the digit
// matches nothing); 0 for any other answer.
int QualityOfAnswer(const char* answer)
{
    for (int level = 1; level <= 3; ++level)
        if (answer[0] == static_cast<char>('0' + level) && answer[1] == '\0')
            return level;
    return 0;
}

int QualityOfOption(const char* text)
{
    constexpr const char* kWords[] = {"low", "medium", "high", "best"};
    for (int level = 1; level <= 4; ++level)
        if (std::strcmp(text, kWords[level - 1]) == 0)
            return level;
    return 0;
}

// The library's resampler interpolates by at most this factor: an output rate above it gives no
// sample.
constexpr int kMostUpsampling = 4096;

// The rate change as the library's stages test it, in float: a positive, finite ratio of input to
// output rate that neither interpolates beyond kMostUpsampling nor reaches 2^31.
bool RatesUsable(uint32_t inputRate, long long outRate)
{
    const float R = static_cast<float>(inputRate) / static_cast<float>(outRate);
    return std::isfinite(R) && R > 0.0f && R * static_cast<float>(kMostUpsampling) >= 1.0f &&
           R < 2147483648.0f;
}

// The highest output rate that RatesUsable takes. The rates are rounded to floats, so the limit
// lies a little above kMostUpsampling times the input rate: by less than the spacing of floats
// there, which is at most 256 below 2^31.
long long MostOutRate(uint32_t inputRate)
{
    long long most =
        std::min<long long>(INT32_MAX, kMostUpsampling * static_cast<long long>(inputRate) + 512);
    while (most > 1 && !RatesUsable(inputRate, most))
        --most;
    return most;
}

// The text a conversion read, from the start of the answer to end, without its leading blanks;
// "0" when it read no number.
std::string TextRead(const char* answer, const char* end)
{
    const std::string read(answer, end);
    const std::size_t first = read.find_first_not_of(" \t");
    return first == std::string::npos ? "0" : read.substr(first);
}

std::string Refusal(const char* name, const char* text, const ValueRule& rule, bool option)
{
    return std::string(name) + " " + Quoted(text) + " " + rule.refusal +
           (option ? rule.optionHint : "");
}

} // namespace

const char* PromptText(Value value)
{
    return RuleOf(value).prompt;
}

const char* OptionName(Value value)
{
    return RuleOf(value).option;
}

Answer TakeAnswer(Value value, const char* answer, uint32_t inputRate, Settings& settings)
{
    const ValueRule& rule = RuleOf(value);
    Answer result;
    char* end = nullptr;
    switch (value)
    {
    case Value::Quality:
        // Never refused: an answer that is none of the three leaves the record's word empty.
        settings.quality = QualityWord(QualityOfAnswer(answer));
        return {true, "", ""};
    case Value::Amplify: {
        const double gain = std::strtod(answer, &end);
        result.taken = StoreGain(gain, settings);
        if (result.taken)
            result.warning = IgnoredWarning(rule.answerName, answer, TextRead(answer, end), end);
        break;
    }
    default: {
        // A number beyond the range of the conversion comes back at its ends, beyond any value's.
        const long long hertz = std::strtoll(answer, &end, 10);
        result.taken = StoreHertz(value, hertz, settings);
        if (result.taken)
            result.warning = IgnoredWarning(rule.answerName, answer, std::to_string(hertz), end);
        break;
    }
    }
    const std::string useless = result.taken ? UselessFor(value, settings, inputRate) : "";
    if (!result.taken)
        result.refusal = Refusal(rule.answerName, answer, rule, false);
    else if (!useless.empty())
        result = {false, std::string(rule.answerName) + " " + Quoted(answer) + " " + useless, ""};
    return result;
}

std::string IgnoredWarning(const char* name, const char* answer, const std::string& read,
                           const char* end)
{
    if (end == nullptr || end[std::strspn(end, " \t")] == '\0')
        return "";
    return std::string(name) + " " + Quoted(answer) + " read as " + read + ": " + Quoted(end) +
           " is not part of the number";
}

bool TakeOption(Value value, const char* text, Settings& settings, std::string& refusal)
{
    const ValueRule& rule = RuleOf(value);
    bool taken = false;
    switch (value)
    {
    case Value::Quality: {
        const int level = QualityOfOption(text);
        taken = level != 0;
        if (taken)
        {
            // best is the chain kinds' own; the original kinds refuse it once the mode is known.
            settings.quality = QualityWord(level < 4 ? level : 3);
            settings.qualityLevel = level;
        }
        break;
    }
    case Value::Amplify:
        taken = ParseGain(text, settings.amplify);
        break;
    default: {
        int32_t hertz = 0;
        taken = ParseHertz(text, hertz) && StoreHertz(value, hertz, settings);
        break;
    }
    }
    if (!taken)
        refusal = Refusal(rule.option, text, rule, true);
    return taken;
}

std::string UselessFor(Value value, const Settings& settings, uint32_t inputRate)
{
    const std::string input = " the input rate of " + std::to_string(inputRate) + " Hz";
    if (value == Value::OutRate && !RatesUsable(inputRate, settings.outRateOrBand))
    {
        if (settings.outRateOrBand <= static_cast<long long>(inputRate))
            return "is too low for" + input + ": no sample would come out";
        return "is more than " + std::to_string(kMostUpsampling) + " times" + input +
               ", so no sample would come out: give at most " +
               std::to_string(MostOutRate(inputRate));
    }
    if (value == Value::Band && settings.outRateOrBand > static_cast<long long>(inputRate))
        return "is wider than" + input + ", the widest band the input holds: give at most " +
               std::to_string(inputRate);
    return "";
}

bool DependsOnInput(Value value)
{
    return value == Value::OutRate || value == Value::Band;
}

std::string OptionUselessFor(Value value, const Settings& settings, const char* inputName,
                             uint32_t inputRate)
{
    const std::string useless = UselessFor(value, settings, inputRate);
    if (useless.empty())
        return "";
    return std::string(RuleOf(value).option) + " " + std::to_string(settings.outRateOrBand) +
           " for " + Quoted(inputName) + " " + useless;
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
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0')
        return false;
    Settings checked;
    if (!StoreGain(value, checked))
        return false;
    gain = checked.amplify;
    return true;
}

} // namespace sigrun
