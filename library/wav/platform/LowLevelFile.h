#pragma once

#include <cstddef>
#include <cstdint>

// Descriptor-level file access with 64-bit offsets. Every read and write names its offset, so no
// file position is kept between calls. Errors leave errno set for the caller's report.
namespace sigkit::platform {

// Opens an existing regular file for reading only; never blocks (a FIFO or a device is refused
// without waiting). Result: the descriptor, or -1.
int OpenForReading(const char* path);
// Opens an existing regular file for writing, or for reading and writing. Result: descriptor or -1.
int OpenForWriting(const char* path, bool alsoRead);
// Creates the file, or truncates an existing one, for reading and writing. Result: descriptor or
// -1.
int CreateOrTruncate(const char* path);
// Creates a file that must not exist yet. Result: descriptor or -1.
int CreateExclusive(const char* path);
// Closes the descriptor; 0 on success, -1 on failure.
int CloseFile(int fd);

// Reads up to count bytes at offset; stops early only at the end of the file or on an error.
// Result: the bytes read, or -1 when an error came before any byte.
int64_t ReadAt(int fd, void* buffer, std::size_t count, uint64_t offset);

struct WriteResult
{
    std::size_t written; // bytes that reached the file
    bool ok;             // false when the write stopped early (disk full, size limit, I/O error)
};
// Writes count bytes at offset, retrying interrupted and partial writes.
WriteResult WriteAt(int fd, const void* buffer, std::size_t count, uint64_t offset);

// Length of the open file in bytes; 0 when it cannot be told.
uint64_t FileLength(int fd);

// Sequential access to a descriptor that may not seek (a pipe, a terminal, a socket). A
// descriptor in non-blocking mode is waited on (poll) as a blocking one would be: no call spins.
// Reads up to count bytes, waiting for more until count or the end; result as ReadAt.
int64_t ReadNext(int fd, void* buffer, std::size_t count);
// Reads what has arrived, up to count bytes: waits for the first byte only. Result: the bytes
// read, 0 at the end (or for a count of 0), -1 on an error.
int64_t ReadSome(int fd, void* buffer, std::size_t count);
// Writes count bytes in order, retrying interrupted and partial writes. A reader that went away
// fails the write with EPIPE (the caller decides what SIGPIPE does).
WriteResult WriteNext(int fd, const void* buffer, std::size_t count);

// Creates one directory; true when it was created.
bool MakeDirectory(const char* path);

} // namespace sigkit::platform
