#pragma once

#include <sched.h>

#include <csignal>

namespace sigrun::platform {

// Processors this process may run on (its affinity), at least 1.
int UsableProcessors();

// The processor the calling thread runs on at the moment; -1 when not known.
int CurrentProcessor();

// Until Release() (or its end), the calling thread keeps off a processor when its affinity
// leaves it another; then its affinity is what it was. A thread just started is often put
// beside the one that started it, and stays there for tens of milliseconds before the
// scheduler spreads them; once it has run elsewhere, its wakeups keep it there.
class ProcessorAvoided
{
public:
    explicit ProcessorAvoided(int processor);
    ~ProcessorAvoided();
    ProcessorAvoided(const ProcessorAvoided&) = delete;
    ProcessorAvoided& operator=(const ProcessorAvoided&) = delete;
    void Release();

private:
    cpu_set_t saved;
    bool avoiding = false;
};

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
