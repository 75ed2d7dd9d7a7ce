// The whole-file helpers of the sigkit_ API over the WAV file layer: a reader that hands out
// frames as floats at full scale 1.0, and a writer that stores floats in a chosen encoding. The
// writer is the file layer's: a temporary file published under its name once complete, the
// partial file when not.
#include "sigkit_api.h"

#include "api/Config.h"
#include "stages/kernels/Kernels.h"
#include "wav/ByteOrder.h"
#include "wav/FileWAV_VeryFast.h"
#include "wav/RecorderName.h"
#include "wav/platform/FileSystem.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using sigkit::kernels::StoredFormat;

// The file layer's window: 2 * this many bytes move per read or write of the disk.
constexpr int32_t kWindowCount = 32768;
// Frames converted at a time go through a scratch of at most this many bytes.
constexpr std::size_t kScratchBytes = 65536;
constexpr int32_t kMaxChannels = 1024;

// The tail shared by the sub-format identifiers of extensible formats (after the 16-bit tag).
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

int StatusOfErrno(int error)
{
    switch (error)
    {
    case ENOENT:
    case ENOTDIR:
        return SIGKIT_E_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return SIGKIT_E_PERMISSION;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return SIGKIT_E_NO_SPACE;
    case ENOMEM:
        return SIGKIT_E_NO_MEMORY;
    case ENAMETOOLONG:
        return SIGKIT_E_INVALID;
    case EEXIST:
        return SIGKIT_E_EXISTS;
    default:
        return SIGKIT_E_IO;
    }
}

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

// Bytes of one sample and the power of two that maps the integer range onto -1.0 .. 1.0.
struct Encoding
{
    uint32_t bytes;
    float toUnit;   // integer step as a float of full scale 1.0: 2^-(bits - 1); 0 for floats
    float fromUnit; // 2^(bits - 1)
    StoredFormat format;
};

bool EncodingOf(int encoding, Encoding& e)
{
    switch (encoding)
    {
    case SIGKIT_ENCODING_U8:
        e = {1, 0x1p-7f, 0x1p7f, StoredFormat::Int8};
        return true;
    case SIGKIT_ENCODING_S16:
        e = {2, 0x1p-15f, 0x1p15f, StoredFormat::Int16};
        return true;
    case SIGKIT_ENCODING_S24:
        e = {3, 0x1p-23f, 0x1p23f, StoredFormat::Int24};
        return true;
    case SIGKIT_ENCODING_S32:
        e = {4, 0x1p-31f, 0x1p31f, StoredFormat::Int32};
        return true;
    case SIGKIT_ENCODING_F32:
        e = {4, 0.0f, 0.0f, StoredFormat::Int32};
        return true;
    case SIGKIT_ENCODING_F64:
        e = {8, 0.0f, 0.0f, StoredFormat::Int32};
        return true;
    default:
        return false;
    }
}

bool IsFloat(int encoding)
{
    return encoding == SIGKIT_ENCODING_F32 || encoding == SIGKIT_ENCODING_F64;
}

// True when something (a file, a folder, a link, dangling or not) holds the path.
bool Exists(const char* path)
{
    return sigkit::platform::InspectName(path) != sigkit::platform::NameKind::Missing;
}

} // namespace

struct sigkit_wav_reader
{
    std::unique_ptr<sigkit::FileWAV_VeryFast> file;
    int encoding = 0;
    Encoding coding{};
    uint32_t channels = 0;
    uint32_t blockAlign = 0;
    std::vector<uint8_t> scratch;
};

struct sigkit_wav_writer
{
    std::unique_ptr<sigkit::FileWAV_VeryFast> file;
    int encoding = 0;
    Encoding coding{};
    uint32_t channels = 0;
    int failure = SIGKIT_OK; // the first failure; every later write answers it
    uint64_t clipped = 0;
    std::vector<float> scaled;
    std::vector<uint8_t> stored;
};

namespace {

// Reads the opened file's format into the reader and the description. Result: a status.
int Describe(sigkit_wav_reader& reader, sigkit_wav_info& info)
{
    const sigkit::FileWAV& file = *reader.file;
    if (file.Headerless() || !file.FormatFound() || file.FormatSize() < 16)
        return SIGKIT_E_FORMAT;
    uint8_t format[sigkit::kFmtCapacity]{};
    const uint32_t size = file.GetFormat(format, sizeof format);
    uint16_t tag = sigkit::LoadU16(format);
    const uint16_t channels = sigkit::LoadU16(format + 2);
    const uint32_t rate = sigkit::LoadU32(format + 4);
    const uint16_t blockAlign = sigkit::LoadU16(format + 12);
    uint32_t validBits = sigkit::LoadU16(format + 14);
    if (tag == sigkit::kTagExtensible && size >= 40 &&
        std::memcmp(format + 26, kSubFormatTail, sizeof kSubFormatTail) == 0)
    {
        tag = sigkit::LoadU16(format + 24);
        const uint16_t declared = sigkit::LoadU16(format + 18);
        if (declared != 0)
            validBits = declared;
    }
    if (channels == 0 || channels > kMaxChannels || blockAlign == 0 || blockAlign % channels != 0)
        return SIGKIT_E_FORMAT;
    const uint32_t bytes = blockAlign / channels;
    int encoding = 0;
    if (tag == sigkit::kTagPcm && bytes >= 1 && bytes <= 4)
        encoding = static_cast<int>(bytes); // U8, S16, S24, S32 are 1 .. 4
    else if (tag == sigkit::kTagFloat && bytes == 4)
        encoding = SIGKIT_ENCODING_F32;
    else if (tag == sigkit::kTagFloat && bytes == 8)
        encoding = SIGKIT_ENCODING_F64;
    else
        return SIGKIT_E_FORMAT;
    if (rate == 0)
        return SIGKIT_E_BAD_RATE;
    if (validBits == 0 || validBits > 8 * bytes)
        validBits = 8 * bytes;
    // This library's own files keep the exact rate as a float beside the whole one.
    double exact = rate;
    uint32_t wholeRate = 0;
    uint32_t bits = 0;
    file.GetRates(wholeRate, bits);
    float stored = 0.0f;
    std::memcpy(&stored, &bits, sizeof stored);
    if (std::isfinite(stored) && stored >= 1.0f && static_cast<double>(stored) < 4294967296.0 &&
        static_cast<uint32_t>(stored) == rate)
        exact = stored;

    reader.encoding = encoding;
    EncodingOf(encoding, reader.coding);
    reader.channels = channels;
    reader.blockAlign = blockAlign;
    info.encoding = encoding;
    info.rate = exact;
    info.channels = channels;
    info.complex_samples = channels == 2 ? 1 : 0;
    info.frames = file.DataSize() / blockAlign;
    info.valid_bits = static_cast<int32_t>(validBits);
    info.metadata = 0;
    return SIGKIT_OK;
}

// Stored samples of one read round into floats at full scale 1.0.
void ToFloats(const sigkit_wav_reader& reader, uint8_t* bytes, std::size_t samples, float* out)
{
    const sigkit::kernels::KernelTable& table = sigkit::kernels::Active();
    const auto n = static_cast<int32_t>(samples);
    switch (reader.encoding)
    {
    case SIGKIT_ENCODING_F32:
        std::memcpy(out, bytes, samples * sizeof(float));
        return;
    case SIGKIT_ENCODING_F64:
        for (std::size_t i = 0; i < samples; ++i)
        {
            double v = 0.0;
            std::memcpy(&v, bytes + 8 * i, sizeof v);
            out[i] = static_cast<float>(v);
        }
        return;
    case SIGKIT_ENCODING_U8:
        // Unsigned 8-bit samples are centred on 128: flipping the top bit makes them signed.
        for (std::size_t i = 0; i < samples; ++i)
            bytes[i] ^= 0x80u;
        break;
    default:
        break;
    }
    table.toFloat[static_cast<int>(reader.coding.format)](bytes, n, out);
    // A power of two: the scaling is exact.
    for (std::size_t i = 0; i < samples; ++i)
        out[i] *= reader.coding.toUnit;
}

// Floats at full scale 1.0 into stored samples; counts those at either end of the range.
void FromFloats(sigkit_wav_writer& writer, const float* in, std::size_t samples, uint8_t* out)
{
    if (writer.encoding == SIGKIT_ENCODING_F32)
    {
        std::memcpy(out, in, samples * sizeof(float));
        return;
    }
    if (writer.encoding == SIGKIT_ENCODING_F64)
    {
        for (std::size_t i = 0; i < samples; ++i)
        {
            const double v = in[i];
            std::memcpy(out + 8 * i, &v, sizeof v);
        }
        return;
    }
    float* scaled = writer.scaled.data();
    for (std::size_t i = 0; i < samples; ++i)
        scaled[i] = in[i] * writer.coding.fromUnit; // exact; beyond the float range: infinite
    const sigkit::kernels::KernelTable& table = sigkit::kernels::Active();
    table.fromFloat[static_cast<int>(writer.coding.format)](
        reinterpret_cast<const uint8_t*>(scaled), static_cast<int32_t>(samples), out);
    const uint32_t bytes = writer.coding.bytes;
    uint64_t clipped = 0;
    for (std::size_t i = 0; i < samples; ++i)
    {
        const uint8_t* s = out + i * bytes;
        // Little-endian: the top byte 0x7F or 0x80 with every lower byte 0xFF or 0x00.
        const uint8_t top = s[bytes - 1];
        bool atEnd = top == 0x7F || top == 0x80;
        const uint8_t fill = top == 0x7F ? 0xFF : 0x00;
        for (uint32_t b = 0; atEnd && b + 1 < bytes; ++b)
            atEnd = s[b] == fill;
        clipped += atEnd ? 1 : 0;
    }
    writer.clipped += clipped;
    if (writer.encoding == SIGKIT_ENCODING_U8)
        for (std::size_t i = 0; i < samples; ++i)
            out[i] ^= 0x80u;
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
        sigkit_wav_info found{};
        found.size = sizeof found;
        // The caller's record is checked before anything is opened.
        uint32_t size = 0;
        std::memcpy(&size, info, sizeof size);
        if (size < SIGKIT_WAV_INFO_SIZE_V1 || size > 65536)
            return SIGKIT_E_RECORD_SIZE;
        int status = SIGKIT_OK;
        if (path[0] == '\0')
            return SIGKIT_E_NOT_FOUND;
        auto made = std::make_unique<sigkit_wav_reader>();
        made->file = std::make_unique<sigkit::FileWAV_VeryFast>(kWindowCount);
        if (made->file->Open(path, 0) < 0)
            return StatusOfErrno(made->file->LastError());
        status = Describe(*made, found);
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
        made->scratch.resize(kScratchBytes);
        status = sigkit::api::WriteRecord(&found, SIGKIT_WAV_INFO_SIZE_V1, sizeof found, info);
        if (status != SIGKIT_OK)
            return status;
        *reader = made.release();
        return SIGKIT_OK;
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
            const int32_t bytes = reader->file->Read(
                reader->scratch.data(), static_cast<int32_t>(want * reader->blockAlign));
            const std::size_t whole =
                bytes > 0 ? static_cast<std::size_t>(bytes) / reader->blockAlign : 0;
            if (whole > 0)
                ToFloats(*reader, reader->scratch.data(), whole * reader->channels,
                         out + done * reader->channels);
            done += whole;
            if (whole < want)
                break; // the end of the data (a trailing part of a frame is not a frame)
        }
        *got = done;
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC void sigkit_wav_close_reader(sigkit_wav_reader* reader)
{
    delete reader;
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
        int status = sigkit::api::ReadRecord(shape, SIGKIT_WAV_SPEC_SIZE_V1, sizeof full, &full);
        if (status != SIGKIT_OK)
            return status;
        Encoding coding{};
        if (!EncodingOf(full.encoding, coding))
            return SIGKIT_E_FORMAT;
        if (!std::isfinite(full.rate) || full.rate <= 0.0 || full.rate >= 4294967296.0)
            return SIGKIT_E_BAD_RATE;
        if (full.channels < 1 || full.channels > kMaxChannels)
            return SIGKIT_E_CHANNELS;
        if ((full.flags & ~SIGKIT_WAV_NO_REPLACE) != 0 || full.reserved != 0)
            return SIGKIT_E_INVALID;
        if (full.metadata != 0)
            return SIGKIT_E_NOT_AVAILABLE;
        if (path[0] == '\0')
            return SIGKIT_E_NOT_FOUND;
        const bool noReplace = (full.flags & SIGKIT_WAV_NO_REPLACE) != 0;
        // A fast answer; the publication itself is exclusive in this mode.
        if (noReplace && Exists(path))
            return SIGKIT_E_EXISTS;

        auto made = std::make_unique<sigkit_wav_writer>();
        made->encoding = full.encoding;
        made->coding = coding;
        made->channels = static_cast<uint32_t>(full.channels);
        made->scaled.resize(kScratchBytes / sizeof(float));
        made->stored.resize(kScratchBytes * 2);
        made->file = std::make_unique<sigkit::FileWAV_VeryFast>(kWindowCount);
        sigkit::FileWAV_VeryFast& file = *made->file;
        if (file.Create(path) < 0)
            return StatusOfErrno(file.LastError());
        file.SetNoReplace(noReplace);
        // The format record: tag, channels, whole rate, byte rate, block align, bits, no extra.
        const uint32_t blockAlign = coding.bytes * made->channels;
        const auto wholeRate = static_cast<uint32_t>(full.rate);
        uint8_t format[sigkit::kFmtCapacity]{};
        sigkit::StoreU16(format, IsFloat(full.encoding) ? sigkit::kTagFloat : sigkit::kTagPcm);
        sigkit::StoreU16(format + 2, static_cast<uint16_t>(made->channels));
        sigkit::StoreU32(format + 4, wholeRate);
        sigkit::StoreU32(format + 8, wholeRate * blockAlign);
        sigkit::StoreU16(format + 12, static_cast<uint16_t>(blockAlign));
        sigkit::StoreU16(format + 14, static_cast<uint16_t>(8 * coding.bytes));
        file.SetFormat(format);
        // The rate once more as a float: the file layer keeps it exactly beside the whole one.
        file.SetRate(static_cast<float>(full.rate));
        if (file.WriteFailed())
        {
            status = StatusOfErrno(file.LastError());
            // Not a run that stopped: a header that could not be written leaves nothing.
            file.Discard();
            return status;
        }
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
        for (std::size_t at = 0; at < samples; at += roundSamples)
        {
            const std::size_t n = samples - at < roundSamples ? samples - at : roundSamples;
            FromFloats(*writer, in + at, n, writer->stored.data());
            const auto bytes = static_cast<int32_t>(n * writer->coding.bytes);
            const int32_t taken = writer->file->Write(writer->stored.data(), bytes);
            if (taken != bytes || writer->file->WriteFailed())
            {
                writer->failure = StatusOfErrno(writer->file->LastError());
                return writer->failure;
            }
        }
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
        if (writer->file->Close() != 0 && writer->failure == SIGKIT_OK)
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
        if (writer->file->Abandon() != 0 && writer->failure == SIGKIT_OK)
            writer->failure = StatusOfErrno(writer->file->LastError());
        return writer->failure;
    });
}

} // extern "C"
