#include "RunState.h"

#include <cstdio>
#include <cstring>

namespace sigrun {

RunState::~RunState()
{
    if (reader != nullptr && readFree != nullptr)
        readFree(reader);
    reader = nullptr;
}

int Fail(int status, const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "sigrun: %s\n", message.c_str());
    std::fflush(stderr);
    return status;
}

void Say(const char* text)
{
    std::fputs(text, stdout);
}

std::string Quoted(const char* name)
{
    return std::string("'") + name + "'";
}

std::string MissingExport(const char* exportName)
{
    return std::string("libsigkit.so has no export ") + Quoted(exportName);
}

bool ReadAnswer(RunState& state)
{
    // Every text is on the console before the program waits for the answer.
    std::fflush(stdout);
    std::memset(state.answer, 0, sizeof state.answer);
    if (std::fgets(state.answer, sizeof state.answer, stdin) == nullptr)
    {
        state.answer[0] = '\0';
        return true;
    }
    std::size_t length = std::strlen(state.answer);
    const bool complete = length > 0 && state.answer[length - 1] == '\n';
    if (!complete && length == sizeof state.answer - 1)
    {
        // The buffer is full: the answer fits only when its line ends right here.
        int next = std::getc(stdin);
        if (next == '\r')
            next = std::getc(stdin);
        if (next != '\n' && next != EOF)
        {
            Fail(kExitUsage, "answer line longer than " +
                                 std::to_string(sizeof state.answer - 1) + " characters");
            return false;
        }
    }
    // The line end is not part of the answer ("\n", or "\r\n" from another platform).
    while (length > 0 && (state.answer[length - 1] == '\n' || state.answer[length - 1] == '\r'))
        state.answer[--length] = '\0';
    return true;
}

} // namespace sigrun
