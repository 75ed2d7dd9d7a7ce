// sigrun: with options, processes files as the options say, without asking; without them,
// reports a WAV file's format, offers the processing modes and runs the chosen one.
#include "CommandLine.h"
#include "Dialogue.h"
#include "OptionMode.h"
#include "platform/Files.h"
#include "platform/Memory.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    sigrun::platform::IgnoreFileSizeSignal();
    sigrun::platform::KeepFreedBlocksForReuse();
    bool options = false;
    for (int i = 1; i < argc; ++i)
        options = options || sigrun::IsOption(argv[i]);
    const int status = options
                           ? sigrun::RunWithOptions(std::vector<std::string>(argv + 1, argv + argc))
                           : sigrun::RunDialogue(argc, argv);
    std::fflush(stdout);
    return status;
}
