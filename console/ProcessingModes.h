#pragma once

#include "RunState.h"

#include <cstdint>

namespace sigrun {

// The values a mode takes, in the order the dialogue asks them.
enum class Prompt
{
    Frequency,
    OutRate,
    Band,
    Amplify,
    Quality,
};

// The settings of one processing pass, from the dialogue's answers or from the options.
struct Settings
{
    int mode = 0;              // 1 to 6, numbered as in the menu
    int32_t frequency = 0;     // Hz
    int32_t outRateOrBand = 0; // Hz: output rate (modes 2, 5, 6) or band width (mode 3)
    float amplify = 0.0f;
    const char* quality = ""; // "Low", "Medium" or "High"; empty when none was recognised
};

// Shows how far a pass got; told the running total of input bytes after every block.
class PassProgress
{
public:
    virtual ~PassProgress() = default;
    virtual void Show(long long bytesIn) = 0;
    // Takes the progress off the screen (before a message or a summary).
    virtual void Clear() {}
};

// What a finished pass counted.
struct PassCounts
{
    long long bytesIn = 0;
    long long bytesOut = 0; // written to the output file
    long long framesIn = 0; // sample frames (one sample of each channel)
    long long framesOut = 0;
    long long clipped = 0; // output samples (each channel's) at the ends of the integer range
};

// The mode word of the options ("iq", "resample", "convert", "invert", "am", "fm") for a mode,
// and the mode for a word (0 when the word names none).
const char* ModeWord(int mode);
int ModeByWord(const char* word);
// True when the mode takes the value (asks the prompt in the dialogue).
bool ModeTakes(int mode, Prompt prompt);

// Why the described input cannot be processed, or nullptr when it can: integer PCM of 8, 16, 24
// or 32 bits (and, when floatAccepted, 32-bit float), 1 or 2 channels, a rate within 32 bits.
const char* UnsupportedReason(const WavDescription& input, bool floatAccepted);

// Output name: the input's file name without its last four characters (the extension and its
// dot), then the mode's suffix, in folder when one is given (else beside the input). A file name
// of fewer than four characters is kept whole. False when the name would not fit.
bool MakeOutputName(int mode, const char* inputName, const char* folder,
                    char (&outputName)[kTextSize]);

// Runs the processing pass of menu mode 1 to 6 for the dialogue: asks the mode's parameters, then
// processes state.input into the output named by the name rule, showing the running byte count.
// Result: an exit status (kExitSuccess when the output file is complete).
int RunProcessingPass(int mode, RunState& state);

// Processes the open input of state (state.reader, state.input) into state.outputName with the
// settings: creates the family's processing block and the output file, pumps every block through
// and frees both. Failures are reported on stderr. counts, when given, receives what was counted
// (the clipped samples only then). Result: an exit status.
int RunPass(const Settings& settings, RunState& state, PassProgress& progress, PassCounts* counts);

} // namespace sigrun
