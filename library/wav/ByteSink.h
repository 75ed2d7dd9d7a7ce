#pragma once

#include "wav/platform/LowLevelFile.h"

#include <cstddef>
#include <cstdint>

// Where the WAV layer's written bytes go. A sink that can seek takes bytes at any offset (the
// header is completed at the end); one that cannot takes them in order only.
namespace sigkit {

using platform::WriteResult;

class ByteSink
{
public:
    virtual ~ByteSink() = default;

    // Writes count bytes at offset. A sink that cannot seek takes only the offset that follows
    // the bytes it has (ESPIPE otherwise).
    virtual WriteResult WriteAt(const void* buffer, std::size_t count, uint64_t offset) = 0;
    virtual bool Seekable() const = 0;
    // Ends the writing; 0, or -1 when the last bytes could not be delivered (errno tells why).
    // Closing twice does nothing the second time.
    virtual int Close() = 0;
};

// A file written by offset through its descriptor, which it owns.
class FileSink final : public ByteSink
{
public:
    explicit FileSink(int descriptor);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    WriteResult WriteAt(const void* buffer, std::size_t count, uint64_t offset) override;
    bool Seekable() const override { return true; }
    int Close() override;

private:
    int fd;
};

// Writes count bytes to a stream in order; result as platform::WriteResult.
using StreamWrite = WriteResult (*)(void* context, const void* buffer, std::size_t count);

// A stream written in order that cannot seek back: a pipe, standard output, a caller's callback.
class StreamSink final : public ByteSink
{
public:
    StreamSink(StreamWrite write, void* context);
    // A descriptor written in order; the sink does not close it.
    explicit StreamSink(int descriptor);

    WriteResult WriteAt(const void* buffer, std::size_t count, uint64_t offset) override;
    bool Seekable() const override { return false; }
    int Close() override { return 0; }

    // Bytes delivered so far.
    uint64_t Written() const { return written; }

private:
    StreamWrite write = nullptr;
    void* context = nullptr;
    int fd = -1;
    uint64_t written = 0;
};

} // namespace sigkit
