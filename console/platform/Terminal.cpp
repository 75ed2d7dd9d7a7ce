#include "platform/Terminal.h"

#include "platform/Signals.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sigrun::platform {

namespace {

bool IsInputTerminal()
{
    return isatty(STDIN_FILENO) == 1;
}

} // namespace

bool IsOutputTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

bool IsErrorTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void PauseForKey()
{
    if (!IsInputTerminal())
        return;
    // Caught from before the terminal leaves its mode until it is back in it: a stop signal ends
    // the wait, and the terminal is restored all the same.
    const StopSignals stopSignals;
    std::fputs("Press any key to continue . . . ", stdout);
    std::fflush(stdout);
    termios saved{};
    const bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (raw)
    {
        termios keyMode = saved;
        keyMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        keyMode.c_cc[VMIN] = 1;
        keyMode.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &keyMode);
    }
    // Waits in short turns, so that a signal that came just before a turn is seen at the next.
    while (StopSignal() == 0)
    {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, 200);
        if (ready > 0)
        {
            char key = 0;
            [[maybe_unused]] const ssize_t got = read(STDIN_FILENO, &key, 1);
            break;
        }
        if (ready < 0 && errno != EINTR)
            break;
    }
    if (raw)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fputs("\r\n", stdout);
    std::fflush(stdout);
}

double SteadySeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

} // namespace sigrun::platform
