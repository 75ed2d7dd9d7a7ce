#pragma once

#include <csignal>

namespace sigrun::platform {

// SIGINT, SIGTERM and SIGHUP: the signals that ask a run to stop. While a StopSignals object
// lives, each of them only notes its number (the first one that came; later ones change nothing)
// and the program stops itself where nothing is half done; when the object goes, the
// dispositions it found come back. A signal ignored when the object comes stays ignored.
class StopSignals
{
public:
    // System calls that a signal interrupts resume where they can (SA_RESTART: a message written
    // to a pipe is not cut short); a wait that must end on a signal waits in short turns and
    // looks at StopSignal() between them.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction saved[3]; // SIGINT, SIGTERM, SIGHUP as they were
};

// The number of the first stop signal caught, 0 when none came.
int StopSignal();
// "SIGINT", "SIGTERM" or "SIGHUP" ("a signal" for others).
const char* SignalName(int signal);

} // namespace sigrun::platform
