#pragma once

#include "InputFile.h"
#include "LibraryBinding.h"
#include "Values.h"

namespace sigrun {

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

// Processes the open input into the file outputName as the settings' mode says: creates the
// mode's processing block and the output file, pumps every block of the input through both and
// frees them, the processing block first. Failures are reported on stderr. counts, when given,
// receives what was counted (the clipped samples only then). Result: an exit status
// (kExitSuccess when the output file is complete).
int RunPass(const LibraryBinding& binding, const Settings& settings, InputFile& input,
            const char* outputName, PassProgress& progress, PassCounts* counts);

} // namespace sigrun
