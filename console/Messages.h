#pragma once

#include "sigkit.h"

#include <cstddef>
#include <string>

namespace sigrun {

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;    // no input named, unusable options, an answer refused
inline constexpr int kExitFailed = 2;   // a file could not be read, processed or written
inline constexpr int kExitSignal = 128; // plus the number of the signal that stopped the run

// Length of every name and answer buffer, terminator included.
inline constexpr std::size_t kTextSize = SIGKIT_TEXT_SIZE;

// Prints one line on stderr, "sigrun: " followed by the message; result: status.
int Fail(int status, const std::string& message);
// Prints one line on stderr, "sigrun: warning: " followed by the message; the run goes on.
void Warn(const std::string& message);
// Prints a console text exactly as given.
void Say(const char* text);
// Quotes a name or a typed text for a message.
std::string Quoted(const std::string& text);

} // namespace sigrun
