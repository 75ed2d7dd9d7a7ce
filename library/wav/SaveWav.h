#pragma once

#include "stages/Stage.h"
#include "wav/FileWAV_VeryFast.h"

#include <cstdint>
#include <memory>

namespace sigkit {

// The writing block: creates one WAV file, gives it a format from its parameters and appends
// every block of sample bytes handed to it on port 0, unchanged.
//
// Ports of Put: 0 sample bytes (the file is created by the first one after Start), 1 name part,
// 2 extension, 3 directory part. Port 0 of Get hands out the created file's path once.
class SaveWav : public Stage
{
public:
    static constexpr std::size_t kPathKeySize = 80;
    static constexpr std::size_t kNameSize = 256;
    static constexpr std::size_t kExtensionSize = 40;
    static constexpr std::size_t kDirectorySize = 512;

    SaveWav();
    // Closes a file still open, completing its header.
    ~SaveWav() override;

    void SetParam(const char* name, const char* value) override;
    int32_t Start() override;
    // Completes, closes and publishes the file; Failed() then tells whether everything reached it
    // (when not, PartialPath() names where what was written is kept).
    void Stop() override;
    int32_t Put(int32_t port, const void* block, int32_t bytes) override;
    int32_t Get(int32_t port, const void** block, int32_t* bytes) override;

    // Format given to the file, stored directly by the writing family.
    void SetBits(uint16_t value) { bits = value; }
    void SetRateHz(float value)
    {
        rate = value;
        wholeRate = false;
    }
    // A whole rate goes into the header exactly (the freq chunk keeps its float).
    void SetRateHz(uint32_t value)
    {
        rate = static_cast<float>(value);
        rateHz = value;
        wholeRate = true;
    }
    // The metadata the file carries in an auxi chunk (none when it holds nothing); given before
    // the first sample block, which creates the file. False once the file is made.
    bool SetMetadata(const Metadata& metadata) { return file->SetMetadata(metadata); }
    // Publishes the file only when nothing holds its name yet.
    void SetNoReplace(bool on) { file->SetNoReplace(on); }
    // Gives up the file being written: the output name keeps what it held, and what was written
    // is kept with a true header as the partial file. Result: true when that file was made.
    bool Abandon();
    // Where the bytes of a run that did not complete are ("" when nowhere), and their frames.
    const char* PartialPath() const { return file->PartialPath(); }
    uint64_t PartialFrames() const { return file->PartialFrames(); }

    bool IsOpen() const { return fileOpen != 0; }
    // True when the file could not be created, a write did not fully reach the file, or
    // completing, closing or publishing it failed.
    bool Failed() const { return createFailed || closeFailed || file->WriteFailed(); }
    // errno of the first failure, 0 when none.
    int LastError() const;
    const char* OutputPath() const { return outputPath; }
    const FileWAV_VeryFast& File() const { return *file; }

private:
    bool CreateFile();
    void StoreText(char* field, std::size_t size, const char* text);

    int32_t saveMode = 0;    // 0 "Direct", 1 "Channel", 2 "Randomize"
    int32_t channelMode = 0; // 0 "Simplex" (one channel), 1 "Duplex" (two)
    uint16_t bits = 2;
    std::unique_ptr<FileWAV_VeryFast> file;
    char pathKey[kPathKeySize] = "Path";
    int32_t nameReady = 0;
    char namePart[kNameSize]{};
    char fullName[kPathCapacity]{};
    char extension[kExtensionSize] = ".wav";
    char directoryPart[kDirectorySize]{};
    char outputPath[kPathCapacity]{};
    int32_t nameKind = 0; // 0 "DataTime", 1 "NameExt"
    int32_t fileOpen = 0;
    float rate = 8000.0f; // Hz
    uint32_t rateHz = 8000;
    bool wholeRate = false; // rateHz is the exact rate for the header
    int32_t wavMode = 1;    // format tag
    bool textRefused = false;
    bool createFailed = false;
    bool closeFailed = false;
    int createError = 0;
};

} // namespace sigkit
