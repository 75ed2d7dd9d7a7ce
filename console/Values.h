#pragma once

#include <cstdint>
#include <string>

namespace sigrun {

// The values a mode takes, each read from the dialogue's answers or from the options and checked
// by the same rule either way.
enum class Value
{
    Frequency, // Hz moved to 0 Hz
    OutRate,   // Hz, the output sample rate
    Band,      // Hz, the band width kept
    Amplify,   // the gain
    Quality,   // the filter length
};

// The settings of one processing pass.
struct Settings
{
    int mode = 0;              // the mode's number in the table (1 to 6: as in the menu)
    int32_t frequency = 0;     // Hz
    int32_t outRateOrBand = 0; // Hz: output rate (resample, am, fm) or band width (convert)
    float amplify = 0.0f;
    const char* quality = ""; // "Low", "Medium" or "High"; empty when none was recognised
};

// The dialogue's question for the value, printed as it stands.
const char* PromptText(Value value);
// The value's long option, "--rate".
const char* OptionName(Value value);

// Takes an answer of the dialogue: the standard decimal conversions (leading blanks and a sign,
// digits up to the first other character, 0 without a number), the quality as exactly "1", "2"
// or "3" (anything else leaves it empty). True with the value stored; false with one line that
// names the value and the text and says what it takes.
bool TakeAnswer(Value value, const char* answer, Settings& settings, std::string& refusal);

// Takes the text of an option: frequencies and rates by ParseHertz, the gain by ParseGain, the
// quality as low, medium or high. True with the value stored; false with the refusal.
bool TakeOption(Value value, const char* text, Settings& settings, std::string& refusal);

// A frequency or rate in Hz: an optional sign, decimal digits with an optional fraction, and an
// optional suffix k (thousands) or M (millions): "48000", "48k", "2.4M", "-12.5k". The value must
// come to a whole number of Hz within 32 bits.
bool ParseHertz(const std::string& text, int32_t& hertz);

// A gain: a decimal number as a whole text, finite and within the float range; rounded to a float
// as the dialogue does.
bool ParseGain(const std::string& text, float& gain);

} // namespace sigrun
