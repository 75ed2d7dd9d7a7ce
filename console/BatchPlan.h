#pragma once

#include "CommandLine.h"
#include "InputFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigrun {

// What a batch settles before it processes any input: which inputs share an output, and the
// refusals that stop the whole batch. What it keeps from one input to the next is made before
// the first input is processed and holds a few bytes an input, so that nothing the batch keeps
// is placed between the library's blocks of one input and the next (which is what made the
// heap grow with the number of files).
class BatchPlan
{
public:
    BatchPlan(const CommandLine& line, bool outputIsFolder);

    // Refuses the batch, reporting why (result kExitUsage), when an output is another input of
    // the run, or when a value can give no output from an input (each input is opened through
    // input for its rate and closed again; one that cannot be opened is left to its turn).
    // The chain kinds and receivers, and every kind written in another encoding than its
    // input's, are checked by making their processing object through api. Also settles which
    // inputs share an output.
    int Check(InputFile& input, const SigkitCalls& api);

    // The output of input i: the usual name beside it, in the folder of -o, or -o itself. False
    // when the name would not fit.
    bool OutputName(std::size_t i, char (&name)[kTextSize]) const;
    // True when an earlier input of the run has written input i's output.
    bool AlreadyWritten(std::size_t i) const { return written[group[i]] != 0; }
    void MarkWritten(std::size_t i) { written[group[i]] = 1; }

private:
    int CheckOutputs();
    int CheckValues(InputFile& input, const SigkitCalls& api) const;

    const CommandLine& line;
    bool outputIsFolder;
    std::vector<uint32_t> group; // by input: the first input of the run with the same output
    std::vector<char> written;   // by group
};

} // namespace sigrun
