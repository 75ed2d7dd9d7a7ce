#pragma once

#include <string>
#include <vector>

namespace sigtest {

struct ProcessResult
{
    int status = -1;     // exit status; -1 when killed by a signal or timed out
    int signal = 0;      // the signal that ended it, 0 when none
    bool timedOut = false;
    std::string out;     // everything written to stdout
    std::string err;     // everything written to stderr
    long maxRssKb = 0;   // peak resident memory of the process
};

struct ProcessOptions
{
    double timeoutSeconds = 60.0;
    long fileSizeLimit = -1;   // RLIMIT_FSIZE in bytes, -1 for none
    bool ignoreFileSizeSignal = true;
    std::string workingDirectory;
    int runAsUser = -1;        // user (and group) id to run as, -1 to keep the caller's
};

// Runs a program with the given arguments, stdin fed from input (then closed), and collects its
// output. A run past the timeout is killed and reported as timed out.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const ProcessOptions& options = {});

// The sigrun program of this build.
ProcessResult RunSigrun(const std::vector<std::string>& args, const std::string& input,
                        const ProcessOptions& options = {});

} // namespace sigtest
