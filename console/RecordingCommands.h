#pragma once

#include "CommandLine.h"
#include "InputFile.h"
#include "LibraryBinding.h"

#include <string>

namespace sigrun {

// --spectrum and --stations over every input of the command line, in turn: a PNG picture per
// input (NAME_spectrum.png beside it, in the folder of -o, -o or --png itself, "--png -" on
// standard output), or the list of its stations on standard output (text, or JSON with --json:
// one object for one input, an array of them for several). A failing input does not stop the
// others. Result: an exit status (1 when an input cannot give what the options ask, 2 when a file
// cannot be read or written).
int RunRecordings(const CommandLine& line, const LibraryBinding& binding, bool outputIsFolder);

// What --info adds about an open input: ", centre 7.1 MHz, start 2024-01-01 12:00:00 UTC", each
// part where the input tells it; "" when it tells neither.
std::string MetadataText(const LibraryBinding& binding, const InputFile& input);

// The settings for one open input: the frequency of -F made an offset from the input's centre
// (its own, else --centre), and the frequency checked against the band the input holds. False
// with the refusal (a usage error, naming the option, the value and the input).
bool SettingsForInput(const CommandLine& line, const LibraryBinding& binding,
                      const InputFile& input, Settings& settings, std::string& error);

// SettingsForInput for every input before anything is processed; an input that cannot be
// opened is left to its turn. Result: an exit status (kExitUsage after the refusal's line).
int CheckInputFrequencies(const CommandLine& line, const LibraryBinding& binding, InputFile& input);

// How a pass with these settings moves the input's band and time into its output, with the
// centre and start given by the options (recording may be null). The frames the processing
// drops at the start are asked of the library only when there is a start time to move.
sigkit_output_metadata OutputChange(const LibraryBinding& binding, const Settings& settings,
                                    const InputFile& input, const RecordingOptions* recording);

} // namespace sigrun
