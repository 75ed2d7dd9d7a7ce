#pragma once

#include <string>
#include <vector>

namespace sigrun {

// Runs sigrun as the options ask, without the dialogue: help, version, the format report of
// --info, or each input processed in turn with the same settings. Nothing is read from standard
// input and stdout stays empty except for --help, --version and --info. Result: kExitSuccess when
// every input was processed, kExitUsage for unusable options (nothing is created), kExitFailed
// when an input could not be processed (the others still are).
int RunWithOptions(std::vector<std::string> args);

} // namespace sigrun
