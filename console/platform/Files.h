#pragma once

#include <compare>
#include <string>

namespace sigrun::platform {

// Checks that path names an existing regular file that can be opened for reading, without
// blocking on FIFOs or devices. On failure, reason tells why.
bool CheckReadableFile(const char* path, std::string& reason);

// True when both paths name the same existing file (also through links).
bool SameFile(const char* a, const char* b);

// True when path names an existing folder (also through links).
bool IsDirectory(const char* path);

// True when something exists under path, a dangling link included.
bool PathExists(const char* path);

// The size of the file in bytes, or -1 when it cannot be told.
long long FileSize(const char* path);

// What tells one file from another, whatever name it is reached by.
struct FileIdentity
{
    unsigned long long device = 0;
    unsigned long long inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};
// False when the file does not exist.
bool IdentifyFile(const char* path, FileIdentity& identity);

// What names one file, whatever path reaches it: for an existing file, its identity; for a name
// that does not exist (yet), its folder's identity and its own name; where the folder does not
// exist either, the absolute path with "." and ".." steps and repeated slashes taken out.
struct FileKey
{
    FileIdentity identity;
    std::string name; // empty for an existing file
    auto operator<=>(const FileKey&) const = default;
};
FileKey KeyOf(const std::string& path);

// Ignores the signal that a write past the file-size limit raises, so that the write fails with
// an error the program reports instead of ending it.
void IgnoreFileSizeSignal();
// SIGPIPE is ignored: a write to a pipe whose reader went away fails with EPIPE instead.
void IgnoreBrokenPipeSignal();

} // namespace sigrun::platform
