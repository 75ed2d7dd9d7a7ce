#pragma once

// The checks of a command line as a whole, made once every option is taken: which options go
// together, and what a mode needs and takes.

#include "CommandLine.h"

#include <string>

namespace sigrun {

// The values of the modes in the order a refusal names them.
inline constexpr Value kModeValues[] = {Value::Frequency, Value::OutRate, Value::Band,
                                        Value::Amplify, Value::Quality};

// What was given; a later value replaces an earlier one.
struct Given
{
    bool mode = false;
    bool encoding = false;
    bool deemphasis = false;
    bool agc = false;
    bool absolute = false; // -F
    bool values[sizeof kModeValues / sizeof kModeValues[0]] = {};

    bool& Has(Value value) { return values[static_cast<int>(value)]; }
};

// Raw samples need their rate, and the rate is only for them; standard input is read once; raw
// output goes to standard output only.
bool CheckStreams(const CommandLine& line, std::string& error);
// --info, --spectrum and --stations process nothing, so nothing that shapes a processing goes
// with them; --output goes with --spectrum alone (the picture's name).
bool CheckInfo(const CommandLine& line, Given& given, std::string& error);
// The picture's options go with --spectrum, --fft, --time and --span with it and --stations,
// --json with --stations.
bool CheckRecordingOptions(const CommandLine& line, std::string& error);
// The values that a mode lacks, or that it does not take. The original kinds lack none but the
// quality (high unless given); the chain kinds and receivers have defaults for more.
bool CheckMode(CommandLine& line, Given& given, std::string& error);

} // namespace sigrun
