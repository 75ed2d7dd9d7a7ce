#include "platform/Signals.h"

#include <csignal>

namespace sigrun::platform {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];

volatile std::sig_atomic_t caught = 0;

extern "C" void NoteStopSignal(int signal)
{
    if (caught == 0)
        caught = signal;
}

} // namespace

StopSignals::StopSignals()
{
    static_assert(sizeof saved / sizeof saved[0] == kStopSignalCount);
    struct sigaction action
    {
    };
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    // One handler runs at a time: the others wait until it has noted its signal.
    for (int signal : kStopSignals)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kStopSignalCount; ++i)
    {
        sigaction(kStopSignals[i], nullptr, &saved[i]);
        // A signal ignored from the start stays ignored (nohup, a job started in the background).
        if (saved[i].sa_handler != SIG_IGN)
            sigaction(kStopSignals[i], &action, nullptr);
    }
}

StopSignals::~StopSignals()
{
    for (int i = 0; i < kStopSignalCount; ++i)
        sigaction(kStopSignals[i], &saved[i], nullptr);
}

int StopSignal()
{
    return caught;
}

const char* SignalName(int signal)
{
    switch (signal)
    {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

} // namespace sigrun::platform
