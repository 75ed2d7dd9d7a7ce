#pragma once

#include "platform/DynamicLibrary.h"
#include "sigkit.h"

#include <cstdint>
#include <string>

namespace sigrun {

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;  // no input named, an answer refused
inline constexpr int kExitFailed = 2; // a file could not be read, processed or written

inline constexpr std::size_t kTextSize = SIGKIT_TEXT_SIZE;

// The library, bound by its file name at run time.
inline constexpr const char* kLibraryName = "libsigkit.so";

// What the frame knows of one run; the processing pass works on it.
struct RunState
{
    char inputName[kTextSize]{};
    char outputName[kTextSize]{};
    char answer[kTextSize]{};
    platform::DynamicLibrary library;
    WavReadHandle* reader = nullptr;
    WavReadFreeFn readFree = nullptr;
    WavDescription input{};
    WavReadDataFn readData = nullptr;

    RunState() = default;
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;
    // Releases the reading block before the library goes.
    ~RunState();
};

// Prints one line on stderr, "sigrun: " followed by the message; result: status.
int Fail(int status, const std::string& message);
// Reads one answer line into state.answer, without its line end; the end of input gives an empty
// answer. False when the line does not fit (the failure is already reported).
bool ReadAnswer(RunState& state);
// Prints a console text exactly as given.
void Say(const char* text);
// Quotes a name for a message.
std::string Quoted(const char* name);
// The message for an export the library does not have.
std::string MissingExport(const char* exportName);

} // namespace sigrun
