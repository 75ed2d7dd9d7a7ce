#pragma once

#include <string>

namespace sigrun::platform {

// Checks that path names an existing regular file that can be opened for reading, without
// blocking on FIFOs or devices. On failure, reason tells why.
bool CheckReadableFile(const char* path, std::string& reason);

// True when both paths name the same existing file (also through links).
bool SameFile(const char* a, const char* b);

// Ignores the signal that a write past the file-size limit raises, so that the write fails with
// an error the program reports instead of ending it.
void IgnoreFileSizeSignal();

} // namespace sigrun::platform
