// The whole-file helpers of the sigkit_ API over the WAV file layer: a reader that hands out
// frames as floats at full scale 1.0, and a writer that stores floats in a chosen encoding. The
// writer is the file layer's: a temporary file published under its name once complete, the
// partial file when not. The reading, writing and closing calls serve the readers and writers of
// streams and raw samples (StreamFiles.cpp, RawFiles.cpp) too.
#include "sigkit_api.h"

#include "api/Config.h"
#include "api/WavHandles.h"
#include "stages/kernels/Kernels.h"
#include "wav/ByteOrder.h"
#include "wav/FileWAV_VeryFast.h"
#include "wav/Metadata.h"
#include "wav/RecorderName.h"
#include "wav/platform/FileSystem.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using sigkit::api::Guard;
using sigkit::api::kScratchBytes;
using sigkit::api::kWindowCount;
using sigkit::api::StatusOfErrno;

// True when something (a file, a folder, a link, dangling or not) holds the path.
bool Exists(const char* path)
{
    return sigkit::platform::InspectName(path) != sigkit::platform::NameKind::Missing;
}

// Reads up to count sample bytes (a whole number of frames where count is one) into buffer.
// From a stream: what has arrived, in whole frames, waiting only while nothing has. 0 at the end.
std::size_t ReadBytes(sigkit_wav_reader& reader, uint8_t* buffer, std::size_t count)
{
    if (reader.file != nullptr)
    {
        const int32_t got = reader.file->Read(buffer, static_cast<int32_t>(count));
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    if (reader.rawAt >= reader.rawEnd)
        return 0;
    count = static_cast<std::size_t>(std::min<uint64_t>(count, reader.rawEnd - reader.rawAt));
    std::size_t have = 0;
    while (have < count)
    {
        const int64_t got = reader.raw->ReadAvailable(buffer + have, count - have, reader.rawAt);
        if (got <= 0)
            break; // the end, or an error that ends the data here
        reader.rawAt += static_cast<uint64_t>(got);
        have += static_cast<std::size_t>(got);
        if (reader.stream && have % reader.blockAlign == 0)
            break;
    }
    return have;
}

} // namespace

extern "C" {

SIGKIT_PUBLIC int sigkit_wav_open(const char* path, sigkit_wav_info* info,
                                  sigkit_wav_reader** reader)
{
    return Guard([&]() -> int {
        if (reader == nullptr)
            return SIGKIT_E_NULL;
        *reader = nullptr;
        if (path == nullptr || info == nullptr)
            return SIGKIT_E_NULL;
        // The caller's record is checked before anything is opened.
        if (const int checked = sigkit::api::CheckInfoRecord(info); checked != SIGKIT_OK)
            return checked;
        if (path[0] == '\0')
            return SIGKIT_E_NOT_FOUND;
        auto made = std::make_unique<sigkit_wav_reader>();
        made->file = std::make_unique<sigkit::FileWAV_VeryFast>(kWindowCount);
        if (made->file->Open(path, 0) < 0)
            return StatusOfErrno(made->file->LastError());
        sigkit_wav_info found{};
        found.size = sizeof found;
        const int status = sigkit::api::DescribeWav(*made, found);
        if (status != SIGKIT_OK)
            return status;
        // The centre and start time: the auxi chunk's, else those of a recorder's file name.
        const sigkit::Metadata m = sigkit::CombineWithName(made->file->GetMetadata(), path);
        if (m.centreHz.has_value())
        {
            found.metadata |= SIGKIT_META_CENTRE_FREQUENCY;
            found.centre_frequency = *m.centreHz;
        }
        if (m.startTime.has_value())
        {
            found.metadata |= SIGKIT_META_START_TIME;
            found.start_time = static_cast<double>(*m.startTime) / sigkit::kNanosecondsPerSecond;
        }
        return sigkit::api::Deliver(std::move(made), found, info, reader);
    });
}

SIGKIT_PUBLIC int sigkit_wav_read(sigkit_wav_reader* reader, float* out, size_t frames, size_t* got)
{
    return Guard([&]() -> int {
        if (got == nullptr)
            return SIGKIT_E_NULL;
        *got = 0;
        if (reader == nullptr)
            return SIGKIT_E_NULL;
        if (frames == 0)
            return SIGKIT_OK;
        if (out == nullptr)
            return SIGKIT_E_NULL;
        std::size_t floats = 0;
        if (__builtin_mul_overflow(frames, static_cast<std::size_t>(reader->channels), &floats) ||
            floats > SIZE_MAX / sizeof(float))
            return SIGKIT_E_OVERFLOW;
        // F64 samples need 8 bytes of scratch for each float; the scratch holds whole frames.
        const std::size_t roundFrames = kScratchBytes / reader->blockAlign;
        if (roundFrames == 0)
            return SIGKIT_E_FORMAT;
        std::size_t done = 0;
        while (done < frames)
        {
            const std::size_t want = frames - done < roundFrames ? frames - done : roundFrames;
            const std::size_t bytes =
                ReadBytes(*reader, reader->scratch.data(), want * reader->blockAlign);
            const std::size_t whole = bytes / reader->blockAlign;
            if (whole > 0)
                reader->coding.ToFloats(reader->scratch.data(), whole * reader->channels,
                                        out + done * reader->channels);
            done += whole;
            // The end of the data (a trailing part of a frame is not a frame); from a stream,
            // what has arrived.
            if (whole < want || (reader->stream && done > 0))
                break;
        }
        *got = done;
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC void sigkit_wav_close_reader(sigkit_wav_reader* reader)
{
    delete reader;
}

SIGKIT_PUBLIC int sigkit_wav_read_stored(sigkit_wav_reader* reader, void* out, size_t frames,
                                         size_t* got)
{
    return Guard([&]() -> int {
        if (got == nullptr)
            return SIGKIT_E_NULL;
        *got = 0;
        if (reader == nullptr)
            return SIGKIT_E_NULL;
        if (frames == 0)
            return SIGKIT_OK;
        if (out == nullptr)
            return SIGKIT_E_NULL;
        auto* bytes = static_cast<uint8_t*>(out);
        const std::size_t roundFrames = kScratchBytes / reader->blockAlign;
        if (roundFrames == 0)
            return SIGKIT_E_FORMAT;
        std::size_t done = 0;
        while (done < frames)
        {
            const std::size_t want = frames - done < roundFrames ? frames - done : roundFrames;
            // Through the scratch, so that a part of a frame at the end never lands in out.
            const std::size_t read =
                ReadBytes(*reader, reader->scratch.data(), want * reader->blockAlign);
            const std::size_t whole = read / reader->blockAlign;
            std::memcpy(bytes + done * reader->blockAlign, reader->scratch.data(),
                        whole * reader->blockAlign);
            done += whole;
            if (whole < want || (reader->stream && done > 0))
                break;
        }
        *got = done;
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_wav_format_init(sigkit_wav_format* shape, int encoding, double rate,
                                         int channels)
{
    if (shape == nullptr)
        return SIGKIT_E_NULL;
    *shape = sigkit_wav_format{};
    shape->size = sizeof *shape;
    shape->encoding = encoding;
    shape->rate = rate;
    shape->channels = channels;
    return SIGKIT_OK;
}

namespace {

// The centre frequency and start time a writing format asks for, as the file layer keeps them.
int MetadataOf(const sigkit_wav_format& shape, sigkit::Metadata& metadata)
{
    if ((shape.metadata & ~(SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME)) != 0)
        return SIGKIT_E_INVALID;
    if ((shape.metadata & SIGKIT_META_CENTRE_FREQUENCY) != 0)
    {
        // The chunk holds whole hertz below 2^32.
        if (!std::isfinite(shape.centre_frequency) || shape.centre_frequency < 0.0 ||
            shape.centre_frequency >= 4294967295.5)
            return SIGKIT_E_INVALID;
        metadata.centreHz = shape.centre_frequency;
    }
    if ((shape.metadata & SIGKIT_META_START_TIME) != 0)
    {
        if (!std::isfinite(shape.start_time) || std::fabs(shape.start_time) > 9.0e9)
            return SIGKIT_E_INVALID;
        metadata.startTime = static_cast<sigkit::UtcNanoseconds>(
            std::llround(shape.start_time * sigkit::kNanosecondsPerSecond));
    }
    return SIGKIT_OK;
}

} // namespace

SIGKIT_PUBLIC int sigkit_wav_create(const char* path, const sigkit_wav_format* shape,
                                    sigkit_wav_writer** writer)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_E_NULL;
        *writer = nullptr;
        if (path == nullptr || shape == nullptr)
            return SIGKIT_E_NULL;
        sigkit_wav_format full{};
        int status = sigkit::api::ReadRecord(shape, SIGKIT_WAV_FORMAT_SIZE_V1, sizeof full, &full);
        if (status != SIGKIT_OK)
            return status;
        // The metadata asked for goes into an auxi chunk; the rest of the record is checked as
        // every writer checks it.
        sigkit_wav_format checked = full;
        checked.metadata = 0;
        status = sigkit::api::CheckWavFormat(checked, SIGKIT_WAV_NO_REPLACE);
        if (status != SIGKIT_OK)
            return status;
        sigkit::Metadata metadata;
        status = MetadataOf(full, metadata);
        if (status != SIGKIT_OK)
            return status;
        if (path[0] == '\0')
            return SIGKIT_E_NOT_FOUND;
        const bool noReplace = (full.flags & SIGKIT_WAV_NO_REPLACE) != 0;
        // A fast answer; the publication itself is exclusive in this mode.
        if (noReplace && Exists(path))
            return SIGKIT_E_EXISTS;

        auto made = std::make_unique<sigkit_wav_writer>();
        made->file = std::make_unique<sigkit::FileWAV_VeryFast>(kWindowCount);
        sigkit::api::PrepareWriter(*made);
        if (metadata.Any() && !made->file->SetMetadata(metadata))
            return SIGKIT_E_INVALID;
        if (made->file->Create(path) < 0)
            return StatusOfErrno(made->file->LastError());
        made->file->SetNoReplace(noReplace);
        status = sigkit::api::StartWav(*made, full);
        if (status != SIGKIT_OK)
            return status;
        *writer = made.release();
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_wav_write(sigkit_wav_writer* writer, const float* in, size_t frames)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_E_NULL;
        if (writer->failure != SIGKIT_OK)
            return writer->failure;
        if (frames == 0)
            return SIGKIT_OK;
        if (in == nullptr)
            return SIGKIT_E_NULL;
        std::size_t samples = 0;
        if (__builtin_mul_overflow(frames, static_cast<std::size_t>(writer->channels), &samples) ||
            samples > SIZE_MAX / 8)
            return SIGKIT_E_OVERFLOW;
        // Whole frames per round, within the scaled floats' room.
        const std::size_t roundSamples =
            (writer->scaled.size() / writer->channels) * writer->channels;
        const uint32_t sampleBytes = writer->coding.Bytes();
        for (std::size_t at = 0; at < samples; at += roundSamples)
        {
            const std::size_t n = samples - at < roundSamples ? samples - at : roundSamples;
            writer->clipped +=
                writer->coding.FromFloats(in + at, n, writer->scaled.data(), writer->stored.data());
            const std::size_t bytes = n * sampleBytes;
            if (writer->raw != nullptr)
            {
                if (!writer->raw->Write(writer->stored.data(), bytes))
                    return writer->failure = StatusOfErrno(writer->raw->LastError());
                continue;
            }
            const auto count = static_cast<int32_t>(bytes);
            const int32_t taken = writer->file->Write(writer->stored.data(), count);
            if (taken != count || writer->file->WriteFailed())
                return writer->failure = StatusOfErrno(writer->file->LastError());
        }
        // A stream's reader gets the block now, not when the window is full.
        if (writer->stream && writer->file != nullptr &&
            (writer->file->Push() < 0 || writer->file->WriteFailed()))
            return writer->failure = StatusOfErrno(writer->file->LastError());
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_wav_write_stored(sigkit_wav_writer* writer, const void* in, size_t frames)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_E_NULL;
        if (writer->failure != SIGKIT_OK)
            return writer->failure;
        if (frames == 0)
            return SIGKIT_OK;
        if (in == nullptr)
            return SIGKIT_E_NULL;
        const std::size_t frameBytes =
            static_cast<std::size_t>(writer->coding.Bytes()) * writer->channels;
        std::size_t bytes = 0;
        if (__builtin_mul_overflow(frames, frameBytes, &bytes))
            return SIGKIT_E_OVERFLOW;
        const auto* from = static_cast<const uint8_t*>(in);
        if (writer->raw != nullptr)
        {
            if (!writer->raw->Write(from, bytes))
                return writer->failure = StatusOfErrno(writer->raw->LastError());
            return SIGKIT_OK;
        }
        // The file layer takes at most 2^31 - 1 bytes a call: whole frames of at most 1 GiB.
        const std::size_t round = ((std::size_t{1} << 30) / frameBytes) * frameBytes;
        for (std::size_t at = 0; at < bytes; at += round)
        {
            const auto count = static_cast<int32_t>(std::min(round, bytes - at));
            const int32_t taken = writer->file->Write(from + at, count);
            if (taken != count || writer->file->WriteFailed())
                return writer->failure = StatusOfErrno(writer->file->LastError());
        }
        if (writer->stream && (writer->file->Push() < 0 || writer->file->WriteFailed()))
            return writer->failure = StatusOfErrno(writer->file->LastError());
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_wav_clipped(const sigkit_wav_writer* writer, uint64_t* samples)
{
    if (samples == nullptr)
        return SIGKIT_E_NULL;
    *samples = 0;
    if (writer == nullptr)
        return SIGKIT_E_NULL;
    *samples = writer->clipped;
    return SIGKIT_OK;
}

SIGKIT_PUBLIC int sigkit_wav_close(sigkit_wav_writer* writer)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_E_NULL;
        std::unique_ptr<sigkit_wav_writer> owned(writer);
        // Completes and publishes; on a failure the file layer keeps the partial file (or, a
        // name taken in the no-replace mode, nothing).
        if (writer->raw != nullptr)
        {
            if (writer->raw->Close() != 0 && writer->failure == SIGKIT_OK)
                writer->failure = StatusOfErrno(writer->raw->LastError());
        }
        else if (writer->file->Close() != 0 && writer->failure == SIGKIT_OK)
            writer->failure = StatusOfErrno(writer->file->LastError());
        return writer->failure;
    });
}

SIGKIT_PUBLIC int sigkit_wav_abandon(sigkit_wav_writer* writer)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_OK;
        std::unique_ptr<sigkit_wav_writer> owned(writer);
        if (writer->raw != nullptr)
        {
            if (writer->raw->Abandon() != 0 && writer->failure == SIGKIT_OK)
                writer->failure = StatusOfErrno(writer->raw->LastError());
        }
        else if (writer->file->Abandon() != 0 && writer->failure == SIGKIT_OK)
            writer->failure = StatusOfErrno(writer->file->LastError());
        return writer->failure;
    });
}

} // extern "C"
