#pragma once

#include "wav/FileWAV_VeryFast.h"

#include <array>
#include <cstdint>
#include <memory>

namespace sigkit {

// The reading block: opens one WAV file and hands out its stored sample bytes, exactly as they
// are in the data chunk, in blocks of a fixed size.
//
// Ports of Put: 0 name part, 1 extension part, 2 directory part (texts); 3 requests the next
// block while the file is open. Ports of Get: 0 the next block, 1 the end notice once the data
// is exhausted.
class LoadWav
{
public:
    static constexpr int32_t kMinBlock = 1;
    static constexpr int32_t kMaxBlock = 10000;
    static constexpr std::size_t kExtensionSize = 40;
    static constexpr std::size_t kDirectorySize = 512;
    static constexpr std::size_t kBufferSize = 40000;

    LoadWav();
    // Closes a file that is still open (a block freed before the end of its data).
    ~LoadWav();
    LoadWav(const LoadWav&) = delete;
    LoadWav& operator=(const LoadWav&) = delete;

    // "SizeBlock" (decimal, limited to 1..10000), "Mode" ("SimName" or "FullName").
    int32_t SetParam(const char* name, const char* value);
    // Result: count when the file was opened (or a read was requested on port 3), else 0.
    int32_t Put(int32_t port, const void* data, int32_t count);
    // Sets *count to 0 first; result: the count handed out.
    int32_t Get(int32_t port, const void** block, int32_t* count);

    // Opens the bytes of a source (a memory buffer, a stream read in order) as the file; result
    // as Put's, with count 1.
    int32_t Open(std::unique_ptr<ByteSource> source);

    const FileWAV_VeryFast& File() const { return *file; }
    // True once a file was opened; its counts below stay after the end closes it.
    bool Opened() const { return opened; }
    // Data bytes the file's header declares (a header that declares none: the bytes present when
    // it was opened, or for a stream the bytes delivered), and the bytes handed out so far.
    uint64_t DeclaredBytes() const;
    uint64_t DeliveredBytes() const { return delivered; }
    bool IsOpen() const { return fileOpen != 0; }
    int32_t BlockSize() const { return blockSize; }
    // errno of the last failed opening, 0 when none failed.
    int OpenError() const { return openError; }

private:
    bool StoreText(char* field, std::size_t size, const void* text, int32_t count);
    int32_t OpenFile(int32_t count);
    // Takes over a file just opened (result: what opening it gave).
    int32_t Opening(int32_t result, int32_t count);

    std::array<uint8_t, 16> endNotice{};
    std::unique_ptr<FileWAV_VeryFast> file;
    int32_t blockSize = 1000;
    int32_t nameGiven = 0;
    int32_t extensionGiven = 0;
    int32_t directoryGiven = 0;
    int32_t readRequested = 0;
    int32_t endReached = 0;
    int32_t fileOpen = 0;
    int32_t nameMode =
        0; // 0 "SimName": directory/name+extension; 1 "FullName": the name is the path
    int openError = 0;
    bool opened = false;
    uint64_t declared = 0;
    uint64_t delivered = 0;
    char namePart[kPathCapacity]{};
    char extensionPart[kExtensionSize]{};
    char directoryPart[kDirectorySize]{};
    char path[kPathCapacity]{};
    std::array<uint8_t, kBufferSize> buffer{};
};

} // namespace sigkit
