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
    // The chain kinds and receivers, which take a band and an output rate together.
    int32_t outRate = 0;  // Hz, as -r gave it; 0 when not given (the kind's default)
    int32_t band = 0;     // Hz, as -b gave it; 0 when not given
    int qualityLevel = 3; // 1 low, 2 medium, 3 high, 4 best (chain kinds only)
    // Options of the chains and receivers, and every kind's output encoding.
    int encoding = 0;       // enum sigkit_encoding of the WAV output; 0: the kind's default
    double deemphasis = -1; // fm, wfm: microseconds; below 0: the kind's default
    bool agc = true;        // am, usb, lsb, cw: automatic gain control
    int outputType = 0;     // raw sample type written to standard output (-T); 0: WAV
};

// The dialogue's question for the value, printed as it stands.
const char* PromptText(Value value);
// The value's long option, "--rate".
const char* OptionName(Value value);

// What became of an answer of the dialogue.
struct Answer
{
    bool taken = false;
    std::string refusal; // not taken: one line naming the value and the text, saying what it takes
    std::string warning; // taken, but the conversion left characters of it unread
};

// Takes an answer of the dialogue: the standard decimal conversions (leading blanks and a sign,
// digits up to the first other character, 0 without a number), the quality as exactly "1", "2"
// or "3" (anything else leaves it empty). A value outside its range, or one that can give no
// output from an input of inputRate Hz (UselessFor), is refused.
Answer TakeAnswer(Value value, const char* answer, uint32_t inputRate, Settings& settings);

// The warning for an answer whose conversion to `read` stopped at `end` before the end of the
// text, leaving more than blanks ("48k" read as 48); empty when nothing was left out.
std::string IgnoredWarning(const char* name, const char* answer, const std::string& read,
                           const char* end);

// Takes the text of an option: frequencies and rates by ParseHertz, the gain by ParseGain, the
// quality as low, medium or high. True with the value stored; false with the refusal.
bool TakeOption(Value value, const char* text, Settings& settings, std::string& refusal);

// Why the value as the settings hold it can give no output from an input of inputRate Hz, or
// empty when it can: an output rate beyond what the library's resampler interpolates to (no
// sample comes out), a band wider than the input rate (the filter would scale the signal by the
// excess instead of keeping a band). The text follows the value's name and its number.
std::string UselessFor(Value value, const Settings& settings, uint32_t inputRate);

// True for the values that UselessFor checks against the input.
bool DependsOnInput(Value value);

// The options' refusal of a value that is useless for one input, naming the option, the value
// and the input; empty when the value is usable.
std::string OptionUselessFor(Value value, const Settings& settings, const char* inputName,
                             uint32_t inputRate);

// A frequency or rate in Hz: an optional sign, decimal digits with an optional fraction, and an
// optional suffix k (thousands) or M (millions): "48000", "48k", "2.4M", "-12.5k". The value must
// come to a whole number of Hz within 32 bits.
bool ParseHertz(const std::string& text, int32_t& hertz);

// A gain: a decimal number as a whole text, finite and within the float range; rounded to a float
// as the dialogue does.
bool ParseGain(const std::string& text, float& gain);

} // namespace sigrun
