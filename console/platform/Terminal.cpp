#include "platform/Terminal.h"

#include "platform/Signals.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
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
    {
        // A stop signal ends the wait (the read fails with EINTR) and the terminal gets its
        // mode back all the same.
        const StopSignals stopSignals(false);
        char key = 0;
        ssize_t got = 0;
        do
            got = read(STDIN_FILENO, &key, 1);
        while (got < 0 && errno == EINTR && StopSignal() == 0);
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
