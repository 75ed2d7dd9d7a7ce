#pragma once

#include "ProcessingModes.h"
#include "RecordingOptions.h"
#include "StreamEnds.h"
#include "Values.h"

#include <string>
#include <vector>

namespace sigrun {

// True when an argument is an option: it begins with '-' and is more than "-" alone. A command
// line without options is the dialogue's.
bool IsOption(const char* argument);

// The sigkit_encoding of an encoding's word (u8, s16, s24, s32, f32); 0 for any other word.
int EncodingByWord(const char* word);

enum class Action
{
    Process,
    Info,
    Spectrum, // a picture of each input's spectra
    Stations, // each input's list of stations
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
    // Raw samples: the type of every input (-t; nullptr: WAV, or a type the extension names)
    // and their rate (--in-rate, 0 when not given). The output's raw type is in settings.
    const RawType* rawType = nullptr;
    int32_t inRate = 0;
    RecordingOptions recording;
};

// Reads the arguments after the program name. False with a one-line reason when they are not
// usable (unknown option, missing or refused value, a value the mode lacks or does not take, no
// input). --help and --version end the reading where they stand.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

} // namespace sigrun
