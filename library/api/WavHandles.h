#pragma once

// The objects behind the opaque sigkit_wav_reader and sigkit_wav_writer: WAV files and streams
// through the file layer, raw samples through a byte source or a raw output. The exports of
// WavFiles.cpp (paths), StreamFiles.cpp (descriptors) and RawFiles.cpp (raw samples) make them;
// the reading, writing and closing calls are the same for all.
#include "sigkit_api.h"

#include "api/SampleCoding.h"
#include "wav/ByteSource.h"
#include "wav/FileWAV_VeryFast.h"
#include "wav/RawOutput.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

struct sigkit_wav_reader
{
    std::unique_ptr<sigkit::FileWAV_VeryFast> file; // a WAV file or stream; null for raw samples
    std::unique_ptr<sigkit::ByteSource> raw;        // raw samples; null for WAV
    uint64_t rawAt = 0;                             // offset of the next raw byte
    uint64_t rawEnd = 0; // a file's length when opened; kUnknownLength for a stream
    bool stream = false; // hands out what has arrived
    sigkit::api::SampleCoding coding;
    uint32_t channels = 0;
    uint32_t blockAlign = 0;
    std::vector<uint8_t> scratch;
};

struct sigkit_wav_writer
{
    std::unique_ptr<sigkit::FileWAV_VeryFast> file; // WAV; null for raw samples
    std::unique_ptr<sigkit::RawOutput> raw;         // raw samples; null for WAV
    bool stream = false;                            // each write handed on at once
    sigkit::api::SampleCoding coding;
    uint32_t channels = 0;
    int failure = SIGKIT_OK; // the first failure; every later write answers it
    uint64_t clipped = 0;
    std::vector<float> scaled;
    std::vector<uint8_t> stored;
};

namespace sigkit::api {

// The file layer's window: 2 * this many bytes move per read or write of the disk.
inline constexpr int32_t kWindowCount = 32768;
// Frames converted at a time go through a scratch of at most this many bytes.
inline constexpr std::size_t kScratchBytes = 65536;
inline constexpr int32_t kMaxChannels = 1024;

// Runs the body and turns anything thrown into a status.
template <typename Body> int Guard(Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return SIGKIT_E_NO_MEMORY;
    }
    catch (...)
    {
        return SIGKIT_E_INTERNAL;
    }
}

// The status for an errno of the file layer.
int StatusOfErrno(int error);

// Checks the caller's info record (its size) before anything is opened. Result: a status.
int CheckInfoRecord(const sigkit_wav_info* info);

// Describes a WAV file or stream just opened by reader.file into the reader and info (whose
// size is this version's). Result: a status.
int DescribeWav(sigkit_wav_reader& reader, sigkit_wav_info& info);

// Makes the writer's conversion room for its coding and channels.
void PrepareWriter(sigkit_wav_writer& writer);

// Sets up a WAV writer whose file has been created (a path or a sink): the format record and
// the rate. Result: a status; on a failure the file is discarded.
int StartWav(sigkit_wav_writer& writer, const sigkit_wav_format& shape);

// Checks a sigkit_wav_format (already read whole) for writing; flags allowed. Result: a status.
int CheckWavFormat(const sigkit_wav_format& shape, uint32_t allowedFlags);

// Hands the info record to the caller (the size it set) and the reader over. Result: a status.
int Deliver(std::unique_ptr<sigkit_wav_reader> made, const sigkit_wav_info& found,
            sigkit_wav_info* info, sigkit_wav_reader** reader);

} // namespace sigkit::api
