#pragma once

#include "wav/FileWAV.h"

namespace sigkit {

// A WAV file whose sample data streams through a fixed window (the data record's body) instead of
// living in memory: constant memory whatever the file's length. The header is written in full at
// Create, kept current by the format setters while the file is open for writing, and completed
// (data size, RIFF size) by Close.
class FileWAV_VeryFast : public FileWAV
{
public:
    explicit FileWAV_VeryFast(int32_t count);

    int32_t Create(const char* path) override;
    int32_t Open(const char* path, int32_t mode) override;
    int32_t Flush() override;
    int32_t Load() override;
    int32_t Close() override;
    uint64_t Seek(int64_t offset, int32_t whence) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Read(void* buffer, int32_t count) override;

    void SetFormatTag(uint16_t tag) override;
    void SetRate(float rate) override;
    void SetFormat(const uint8_t* source) override;
    void SetExactRate(uint32_t bits) override;
    void SetList(const uint8_t* source) override;

    // Parses the chunks of the opened file and loads the first window.
    int32_t ReadHeader();
    // When open for writing: writes the record's body at its offset in the file.
    int32_t RewriteChunk(const ChunkRecord& record);
    // When open for writing: patches the data size and the RIFF size.
    int32_t Finalize();

    uint64_t WindowStart() const { return windowStart; }

    // Data beyond what a 32-bit RIFF header can declare turns a file made by Create into RF64 when
    // it is completed (its "ds64" chunk first, the other chunks behind it, the samples where they
    // were). Tests lower the threshold to see the change without writing gigabytes.
    void SetRf64Threshold(uint64_t bytes) { rf64Threshold = bytes; }
    bool IsRf64() const { return rf64; }

private:
    bool Rf64Possible() const;
    bool WriteRf64Header(uint64_t declared);

    uint32_t WindowSize() const { return static_cast<uint32_t>(data.body.size()); }

    uint64_t windowStart = 0; // data position of the window's first byte
    uint32_t windowPos = 0;   // position inside the window
    uint32_t windowFill = 0;  // valid bytes in the window
    uint64_t writtenEnd = 0;  // end of the sample bytes that have reached the file
    bool createdHere = false; // the header was written by Create, in the standard layout
    bool rf64 = false;
    uint64_t rf64Threshold = 0; // 0: the 32-bit limit of the records
};

} // namespace sigkit
