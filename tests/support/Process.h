#pragma once

#include <memory>
#include <string>
#include <vector>

namespace sigtest {

struct ProcessResult
{
    int status = -1; // exit status; -1 when killed by a signal or timed out
    int signal = 0;  // the signal that ended it, 0 when none
    bool timedOut = false;
    std::string out;   // everything written to stdout
    std::string err;   // everything written to stderr
    long maxRssKb = 0; // peak resident memory of the process
};

struct ProcessOptions
{
    double timeoutSeconds = 60.0;
    long fileSizeLimit = -1; // RLIMIT_FSIZE in bytes, -1 for none
    bool ignoreFileSizeSignal = true;
    std::string workingDirectory;
    int runAsUser = -1; // user (and group) id to run as, -1 to keep the caller's
};

// A program started at once and left to run beside the test. Its stdin is fed from input (then
// closed): what the pipe takes at once at the start, the rest while Wait collects its output.
class RunningProcess
{
public:
    RunningProcess(const std::string& program, const std::vector<std::string>& args,
                   const std::string& input, const ProcessOptions& options = {});
    // A program not waited for is killed and reaped.
    ~RunningProcess();
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    int Pid() const { return pid; }
    void Signal(int signal) const;
    // Collects stdout and stderr until the program ends, and reaps it. A run past the timeout
    // (counted from the start) is killed and reported as timed out.
    ProcessResult Wait();

private:
    int pid = -1;
    int inFd = -1;
    int outFd = -1;
    int errFd = -1;
    std::string input;
    std::size_t written = 0; // bytes of input already in the pipe
    double deadline = 0;
};

// Runs a program with the given arguments, stdin fed from input (then closed), and collects its
// output. A run past the timeout is killed and reported as timed out.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const ProcessOptions& options = {});

// The sigrun program of this build.
ProcessResult RunSigrun(const std::vector<std::string>& args, const std::string& input,
                        const ProcessOptions& options = {});
std::unique_ptr<RunningProcess> StartSigrun(const std::vector<std::string>& args,
                                            const std::string& input = "",
                                            const ProcessOptions& options = {});

} // namespace sigtest
