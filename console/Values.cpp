#include "Values.h"

#include "Messages.h"
#include "Records.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sigrun {

namespace {

struct ValueSpec
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

constexpr ValueSpec kValues[] = {
    {Value::Frequency, "Frequency: ", "Frequency", "--frequency",
     "is not a frequency: give whole Hz from -2147483648 to 2147483647",
     ", such as 10000, 10k or -12.5k", INT32_MIN, INT32_MAX},
    {Value::OutRate, "SampleRateOut: ", "SampleRateOut", "--rate",
     "is not a sample rate: give whole Hz from 1 to 2147483647", ", such as 48000 or 48k", 1,
     INT32_MAX},
    {Value::Band, "Band: ", "Band", "--band",
     "is not a band width: give whole Hz from 0 to 2147483647", ", such as 8000 or 8k", 0,
     INT32_MAX},
    {Value::Amplify, "Amplify: ", "Amplify", "--amplify",
     "is not a finite number: give a gain such as 1, 0.5 or 20000", "", 0, 0},
    {Value::Quality, "Quality:\r\n1 - Low,\r\n2 - Medium,\r\n3 - High (recommended): ", "Quality",
     "--quality", "is not a quality: give low, medium or high", "", 1, 3},
};

const ValueSpec& Spec(Value value)
{
    for (const ValueSpec& spec : kValues)
        if (spec.value == value)
            return spec;
    return kValues[0];
}

// The rule of the integer values, whichever way they were read.
bool StoreHertz(Value value, long long hertz, Settings& settings)
{
    const ValueSpec& spec = Spec(value);
    if (hertz < spec.least || hertz > spec.most)
        return false;
    int32_t& field = value == Value::Frequency ? settings.frequency : settings.outRateOrBand;
    field = static_cast<int32_t>(hertz);
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
    constexpr const char* kWords[] = {"low", "medium", "high"};
    for (int level = 1; level <= 3; ++level)
        if (std::strcmp(text, kWords[level - 1]) == 0)
            return level;
    return 0;
}

std::string Refusal(const char* name, const char* text, const ValueSpec& spec, bool option)
{
    return std::string(name) + " " + Quoted(text) + " " + spec.refusal +
           (option ? spec.optionHint : "");
}

} // namespace

const char* PromptText(Value value)
{
    return Spec(value).prompt;
}

const char* OptionName(Value value)
{
    return Spec(value).option;
}

bool TakeAnswer(Value value, const char* answer, Settings& settings, std::string& refusal)
{
    const ValueSpec& spec = Spec(value);
    bool taken = true;
    switch (value)
    {
    case Value::Quality:
        // Never refused: an answer that is none of the three leaves the record's word empty.
        settings.quality = QualityWord(QualityOfAnswer(answer));
        break;
    case Value::Amplify:
        taken = StoreGain(std::strtod(answer, nullptr), settings);
        break;
    default:
        // A number beyond the range of the conversion comes back at its ends, beyond any value's.
        taken = StoreHertz(value, std::strtoll(answer, nullptr, 10), settings);
        break;
    }
    if (!taken)
        refusal = Refusal(spec.answerName, answer, spec, false);
    return taken;
}

bool TakeOption(Value value, const char* text, Settings& settings, std::string& refusal)
{
    const ValueSpec& spec = Spec(value);
    bool taken = false;
    switch (value)
    {
    case Value::Quality: {
        const int level = QualityOfOption(text);
        taken = level != 0;
        if (taken)
            settings.quality = QualityWord(level);
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
        refusal = Refusal(spec.option, text, spec, true);
    return taken;
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
