#pragma once

#include "ProcessingModes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sigrun {

// True when an argument is an option: it begins with '-' and is more than "-" alone. A command
// line without options is the dialogue's.
bool IsOption(const char* argument);

enum class Action
{
    Process,
    Info,
    Help,
    Version,
};

// What the options ask for.
struct CommandLine
{
    Action action = Action::Process;
    Settings settings;               // quality "High" unless given
    std::vector<std::string> inputs; // in the order given
    std::string output;              // with outputGiven: a file, or a folder for the outputs
    bool outputGiven = false;
    bool noClobber = false;
    bool quiet = false;
};

// Reads the arguments after the program name. False with a one-line reason when they are not
// usable (unknown option, missing or refused value, a value the mode lacks or does not take, no
// input). --help and --version end the reading where they stand.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// A frequency or rate in Hz: an optional sign, decimal digits with an optional fraction, and an
// optional suffix k (thousands) or M (millions): "48000", "48k", "2.4M", "-12.5k". The value must
// come to a whole number of Hz within 32 bits.
bool ParseHertz(const std::string& text, int32_t& hertz);

// A gain: a decimal number as a whole text, finite and within the float range; rounded to a float
// as the dialogue does.
bool ParseGain(const std::string& text, float& gain);

} // namespace sigrun
