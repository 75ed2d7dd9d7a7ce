#pragma once

// Running the peers' programs: one child process at a time, waited for.
#include <string>
#include <vector>

namespace sigquality {

struct ProcessRun
{
    bool started = false;
    int status = -1;    // exit status; -1 when it ended by a signal
    std::string errors; // the end of its standard error, for a note
    double cpuSeconds = 0.0;
};

// Runs argv[0] (searched on PATH when it holds no '/') with its standard output and error going
// to `logPath`, which is read back into `errors` (the last 600 bytes).
ProcessRun RunProgram(const std::vector<std::string>& argv, const std::string& logPath);

// The full path of a program found on PATH, empty when there is none.
std::string FindOnPath(const std::string& name);

// A new private folder under the system's temporary folder, empty on failure.
std::string MakeWorkFolder();

} // namespace sigquality
