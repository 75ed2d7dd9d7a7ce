#pragma once

#include "RunState.h"

namespace sigrun {

// Runs the processing pass of menu mode 1 to 6: asks the mode's parameters, creates the family's
// processing block and the output file, pumps every block of samples through, and frees both.
// Result: an exit status (kExitSuccess when the output file is complete).
int RunProcessingPass(int mode, RunState& state);

} // namespace sigrun
