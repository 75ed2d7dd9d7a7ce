#pragma once

#include "Pass.h"

#include <cstddef>
#include <string>

namespace sigrun {

// The dialogue's running count of input bytes on stdout, "%lld\r", now and then flushed on a
// terminal; a pipe gets every count, buffered.
class CountOnStdout : public PassProgress
{
public:
    CountOnStdout();
    void Show(long long bytesIn) override;
    void Clear() override;

private:
    bool terminal;
    double lastFlush = 0.0;
};

// A progress line on stderr when enabled (the options enable it on a terminal): percent, samples
// per second and time left, rewritten a few times a second over itself, and wiped when the pass
// ends. The percentage is taken against the input file's size, which its header adds a little to.
class ProgressOnStderr : public PassProgress
{
public:
    ProgressOnStderr(bool enabled, const std::string& name, long long fileBytes, int frameBytes);
    void Show(long long bytesIn) override;
    void Clear() override;

private:
    bool enabled;
    std::string label;
    long long fileBytes;
    int frameBytes;
    double start = 0.0;
    double lastShown = 0.0;
    std::size_t shownWidth = 0;
};

} // namespace sigrun
