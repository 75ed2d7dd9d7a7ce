#pragma once

#include "InputFile.h"
#include "LibraryBinding.h"
#include "RecordingOptions.h"
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
// frees them, the processing block first; the output is published under its name only when
// complete (with noReplace, only where nothing holds the name by then).
//
// A stop signal (platform::StopSignal, looked at between blocks), a write that fails or a
// publication that fails leaves the output name as it was; what was written is kept as the
// partial file, which the one stderr line about it names with its samples. An input that ended
// before its header's length is warned of. counts, when given, receives what was counted (the
// clipped samples only then). Result: an exit status (kExitSuccess when the output is published,
// kExitSignal + n after stop signal n).
//
// The output carries the input's centre frequency and start time (else those of recording, when
// given), moved by the mode's shift, rate change and dropped start-up.
int RunPass(const LibraryBinding& binding, const Settings& settings, InputFile& input,
            const char* outputName, bool noReplace, PassProgress& progress, PassCounts* counts,
            const RecordingOptions* recording = nullptr);

} // namespace sigrun
