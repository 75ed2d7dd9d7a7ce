#pragma once

#include <csignal>

namespace sigrun::platform {

// Processors this process may run on (its affinity), at least 1.
int UsableProcessors();

// While the object lives, the calling thread holds SIGINT, SIGTERM and SIGHUP back; threads it
// starts meanwhile inherit that and never take them, so that a stop signal is always noted by
// the thread that looks at StopSignal(). The mask it found comes back when it goes.
class StopSignalsHeld
{
public:
    StopSignalsHeld();
    ~StopSignalsHeld();
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

private:
    sigset_t saved;
};

} // namespace sigrun::platform
