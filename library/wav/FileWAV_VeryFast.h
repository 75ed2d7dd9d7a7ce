#pragma once

#include "wav/FileWAV.h"
#include "wav/OutputNames.h"

#include <memory>
#include <vector>

namespace sigkit {

// A WAV file whose sample data streams through a fixed window (the data record's body) instead of
// living in memory: constant memory whatever the file's length.
//
// Writing: Create writes the whole header at once, declaring a length not known yet, under a
// temporary name beside the output (see OutputNames); the format setters keep the header current.
// Close completes the header (data size, RIFF size) and publishes the file under its name. A run
// that fails or is abandoned leaves the output name as it was and keeps what was written, with a
// true header, as NAME.partial.wav.
class FileWAV_VeryFast : public FileWAV
{
public:
    explicit FileWAV_VeryFast(int32_t count);
    // A file made by Create and still open is given up as Abandon gives it up.
    ~FileWAV_VeryFast() override;

    int32_t Create(const char* path) override;
    // Writes into a sink. One that cannot seek gets the header once, before the first sample
    // bytes, declaring a length not known; nothing is published. Result 0, or -1.
    int32_t Create(std::unique_ptr<ByteSink> bytes);
    using FileWAV::Open;
    int32_t Open(const char* path, int32_t mode) override;
    int32_t Flush() override;
    int32_t Load() override;
    // Completes the file and publishes it; when anything failed (the publication included), what
    // was written is kept as the partial file instead and the result is -1.
    int32_t Close() override;
    uint64_t Seek(int64_t offset, int32_t whence) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Read(void* buffer, int32_t count) override;

    void SetFormatTag(uint16_t tag) override;
    using FileWAV::SetRate;
    void SetRate(float rate, uint32_t whole) override;
    void SetFormat(const uint8_t* source) override;

    // Parses the chunks of the opened file and loads the first window.
    int32_t ReadHeader();
    // When open for writing: writes the record's body at its offset in the file.
    int32_t RewriteChunk(const ChunkRecord& record);
    // When open for writing: patches the data size and the RIFF size.
    int32_t Finalize();

    // Publishes only when nothing holds the output name yet: Close fails with EEXIST otherwise,
    // and removes what was written instead of keeping it (this mode writes the output or
    // nothing).
    void SetNoReplace(bool on) { noReplace = on; }
    // Gives up a file open for writing: what was written is completed with a true header and
    // kept as the partial file; the output name is not touched. Result 0, or -1 when the partial
    // file could not be made (PartialPath then names where the bytes are, if anywhere).
    int32_t Abandon();
    // Gives up a file open for writing and removes what was written; the output name is not
    // touched.
    void Discard();
    // Where a run that did not complete left its bytes ("" when nowhere), and the sample frames
    // they hold.
    const char* PartialPath() const { return names.Kept(); }
    uint64_t PartialFrames() const { return partialFrames; }
    // The name the file is written under until it is published ("" when none).
    const char* WritingPath() const { return names.Written(); }

    // Data beyond what a 32-bit RIFF header can declare turns a file made by Create into RF64 when
    // it is completed (its "ds64" chunk first, the other chunks behind it, the samples where they
    // were). Tests lower the threshold to see the change without writing gigabytes.
    void SetRf64Threshold(uint64_t bytes) { rf64Threshold = bytes; }
    bool IsRf64() const { return rf64; }

protected:
    void StartReading() override;

private:
    void ResetWindow();
    bool StartWriting();
    bool EmitPendingHeader();
    // Ends the writing: completes the header and releases the sink. Result: the close result.
    int EndWriting();
    // Keeps what was written as the partial file; false when that failed.
    bool KeepPartial();
    uint64_t DeclaredData() const;
    bool Rf64Possible() const;
    bool WriteRf64Header(uint64_t declared);
    // Writes the stop time of the auxi chunk from the length written.
    void FinishAuxi();

    uint32_t WindowSize() const { return static_cast<uint32_t>(data.body.size()); }

    uint64_t windowStart = 0; // data position of the window's first byte
    uint32_t windowPos = 0;   // position inside the window
    uint32_t windowFill = 0;  // valid bytes in the window
    uint64_t writtenEnd = 0;  // end of the sample bytes that have reached the file
    bool createdHere = false; // the header was written by Create, in the standard layout
    bool rf64 = false;
    uint64_t rf64Threshold = 0; // 0: the 32-bit limit of the records
    bool noReplace = false;
    uint64_t partialFrames = 0;
    OutputNames names;
    std::vector<uint8_t> pendingHeader; // a sink that cannot seek: the header not yet written
};

} // namespace sigkit
