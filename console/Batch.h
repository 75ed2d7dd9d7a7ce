#pragma once

#include "CommandLine.h"

namespace sigrun {

// Runs the inputs of the options in turn, each into its own output (or, for --info, reports
// each one's format and length on stdout). A failing input is reported and the others still run.
// Result: kExitSuccess when every input was done, kExitUsage when the options cannot be used
// with these inputs (nothing is created), kExitFailed when an input could not be done.
int RunBatch(const CommandLine& line);

} // namespace sigrun
