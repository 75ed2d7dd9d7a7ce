#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where the WAV layer's bytes come from. The header scan and the streamed read ask for bytes by
// offset; a source that cannot seek serves offsets in rising order only.
namespace sigkit {

// A length that is not known (a stream), or a size that means "to the end".
inline constexpr uint64_t kUnknownLength = UINT64_MAX;

class ByteSource
{
public:
    virtual ~ByteSource() = default;

    // Reads up to count bytes at offset; fewer only at the end or on an error. Result: the bytes
    // read, or -1 when an error came before any byte (errno tells why).
    virtual int64_t ReadAt(void* buffer, std::size_t count, uint64_t offset) = 0;
    // Reads up to count bytes at offset as they arrive: a stream returns what it has as soon as
    // it has anything, waiting only for the first byte; a file or memory reads as ReadAt. Result
    // as ReadAt (0 only at the end).
    virtual int64_t ReadAvailable(void* buffer, std::size_t count, uint64_t offset)
    {
        return ReadAt(buffer, count, offset);
    }
    // Length in bytes, kUnknownLength when it cannot be known before the end is reached.
    virtual uint64_t Length() = 0;
    // False for a source that serves offsets in rising order only.
    virtual bool Seekable() const = 0;
};

// A file read by offset through its descriptor, which it closes when owned.
class FileSource final : public ByteSource
{
public:
    FileSource(int descriptor, bool owned);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    int64_t ReadAt(void* buffer, std::size_t count, uint64_t offset) override;
    uint64_t Length() override;
    bool Seekable() const override { return true; }

private:
    int fd;
    bool owned;
};

// Bytes held in memory by the caller, who keeps them alive as long as the source.
class MemorySource final : public ByteSource
{
public:
    MemorySource(const void* bytes, std::size_t size);

    int64_t ReadAt(void* buffer, std::size_t count, uint64_t offset) override;
    uint64_t Length() override { return size; }
    bool Seekable() const override { return true; }

private:
    const uint8_t* bytes;
    std::size_t size;
};

// Reads the next count bytes of a stream into buffer; result: the bytes read (fewer only at the
// end), 0 at the end, -1 on an error.
using StreamRead = int64_t (*)(void* context, void* buffer, std::size_t count);

// A stream read in order and never sought: a pipe, standard input, a caller's callback. Offsets
// ahead of the stream are reached by reading and dropping the bytes between; the last few bytes
// read stay at hand, so that the header scan may look a little ahead and step back. An offset
// further back fails (ESPIPE).
class StreamSource final : public ByteSource
{
public:
    StreamSource(StreamRead read, void* context);
    // A descriptor read in order; the source does not close it.
    explicit StreamSource(int descriptor);

    int64_t ReadAt(void* buffer, std::size_t count, uint64_t offset) override;
    int64_t ReadAvailable(void* buffer, std::size_t count, uint64_t offset) override;
    uint64_t Length() override { return kUnknownLength; }
    bool Seekable() const override { return false; }

    // Bytes taken from the stream so far.
    uint64_t Consumed() const { return consumed; }

private:
    static constexpr std::size_t kKeptBytes = 16;
    // One read of the stream: what has arrived, up to count; 0 at the end, -1 on an error.
    int64_t PullSome(void* buffer, std::size_t count);
    // Reads until count or the end.
    int64_t Pull(void* buffer, std::size_t count);
    // Serves what is still at hand from offset on, or moves the stream to offset. Result: the
    // bytes copied to buffer (0 when none was at hand), or -1 (the offset lies behind what is
    // kept, ESPIPE; or an error) or -2 (the stream ended before offset).
    int64_t Reach(uint8_t* buffer, std::size_t count, uint64_t offset);
    // 1 when the stream stands at offset, 0 when it ended before, -1 on an error.
    int SkipTo(uint64_t offset);
    void Keep(const uint8_t* bytes, std::size_t count);

    StreamRead read = nullptr;
    void* context = nullptr;
    int fd = -1;
    uint64_t consumed = 0; // stream offset of the next byte to read
    bool ended = false;
    std::vector<uint8_t> kept; // the last bytes read, ending at consumed
};

} // namespace sigkit
