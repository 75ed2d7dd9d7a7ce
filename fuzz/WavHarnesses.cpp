#include "Harnesses.h"

#include "sigkit.h"
#include "wav/FileWAV_VeryFast.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace sigfuzz {

namespace {

// The input as a file in memory, reachable by a path like any other file.
class MemoryFile
{
public:
    MemoryFile(const uint8_t* data, std::size_t size)
    {
        fd = memfd_create("fuzz.wav", MFD_CLOEXEC);
        if (fd < 0)
            std::abort();
        std::size_t done = 0;
        while (done < size)
        {
            const ssize_t put = write(fd, data + done, size - done);
            if (put <= 0)
                std::abort();
            done += static_cast<std::size_t>(put);
        }
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~MemoryFile() { close(fd); }

    const std::string& Path() const { return path; }

private:
    int fd = -1;
    std::string path;
};

void Require(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "harness check failed: %s\n", what);
        std::abort();
    }
}

} // namespace

void WavFile(const uint8_t* data, std::size_t size)
{
    MemoryFile file(data, size);
    auto wav = std::make_unique<sigkit::FileWAV_VeryFast>(size > 0 ? 1 + data[0] % 64 : 16384);
    if (wav->Open(file.Path().c_str(), 0) < 0)
        return;
    Require(wav->FormatSize() <= sigkit::kFmtCapacity, "format record within its capacity");
    uint8_t format[sigkit::kFmtCapacity];
    wav->GetFormat(format, sizeof format);
    const uint64_t declared = wav->DataSize();
    Require(declared <= size, "data size within the file");

    std::vector<uint8_t> buffer(10000);
    uint64_t delivered = 0;
    std::size_t piece = 1;
    for (int calls = 0; calls < 1000000; ++calls)
    {
        piece = piece % 9973 + 1 + (delivered % 17);
        const int32_t got =
            wav->Read(buffer.data(), static_cast<int32_t>(std::min(piece, buffer.size())));
        Require(got >= 0 && static_cast<std::size_t>(got) <= piece,
                "read count within the request");
        if (got == 0)
            break;
        delivered += static_cast<uint64_t>(got);
    }
    Require(delivered <= declared, "no more bytes than the data holds");
    wav->Seek(static_cast<int64_t>(size / 3), 0);
    wav->Read(buffer.data(), 100);
    wav->Seek(-1, 2);
    wav->Read(buffer.data(), 100);
    Require(wav->Close() == 0, "closing a file opened for reading succeeds");
}

void WavReadExports(const uint8_t* data, std::size_t size)
{
    MemoryFile file(data, size);
    WavDescription description{};
    std::snprintf(description.name, sizeof description.name, "%s", file.Path().c_str());
    WavReadHandle* handle = nullptr;
    Require(wav_read_init(&description, &handle) == 1 && handle != nullptr, "init succeeds");
    uint64_t delivered = 0;
    int zeros = 0;
    for (int calls = 0; calls < 1000000 && zeros < 3; ++calls)
    {
        const void* block = nullptr;
        int32_t bytes = -1;
        Require(wav_read_data(handle, &block, &bytes) == 1, "data returns 1");
        Require(bytes >= 0 && bytes <= 1200, "blocks of at most 1200 bytes");
        if (bytes == 0)
        {
            ++zeros;
            continue;
        }
        Require(zeros == 0, "nothing after the end");
        volatile uint8_t sink = 0;
        for (int32_t i = 0; i < bytes; ++i)
            sink = sink ^ static_cast<const uint8_t*>(block)[i];
        delivered += static_cast<uint64_t>(bytes);
    }
    Require(delivered <= size, "no more bytes than the file holds");
    Require(description.valid == 0 || delivered + 12 <= size || size < 12, "data behind a header");
    Require(wav_read_free(handle) == 1, "free returns 1");
}

} // namespace sigfuzz
