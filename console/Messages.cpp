#include "Messages.h"

#include <cstdio>

namespace sigrun {

int Fail(int status, const std::string& message)
{
    // What stdout holds so far comes first on a shared screen.
    std::fflush(stdout);
    std::fprintf(stderr, "sigrun: %s\n", message.c_str());
    std::fflush(stderr);
    return status;
}

void Warn(const std::string& message)
{
    Fail(kExitSuccess, "warning: " + message);
}

void Say(const char* text)
{
    std::fputs(text, stdout);
}

std::string Quoted(const std::string& text)
{
    return "'" + text + "'";
}

} // namespace sigrun
