#include "api/WavHandles.h"

#include "api/Config.h"
#include "wav/ByteOrder.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace sigkit::api {

namespace {

// The tail shared by the sub-format identifiers of extensible formats (after the 16-bit tag).
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool IsFloat(int encoding)
{
    return encoding == SIGKIT_ENCODING_F32 || encoding == SIGKIT_ENCODING_F64;
}

bool IsEncoding(int encoding)
{
    return encoding >= SIGKIT_ENCODING_U8 && encoding <= SIGKIT_ENCODING_F64;
}

} // namespace

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
    case EPIPE:
    case ECONNRESET:
        return SIGKIT_E_PIPE;
    default:
        return SIGKIT_E_IO;
    }
}

int CheckInfoRecord(const sigkit_wav_info* info)
{
    uint32_t size = 0;
    std::memcpy(&size, info, sizeof size);
    return size < SIGKIT_WAV_INFO_SIZE_V1 || size > 65536 ? SIGKIT_E_RECORD_SIZE : SIGKIT_OK;
}

int DescribeWav(sigkit_wav_reader& reader, sigkit_wav_info& info)
{
    const FileWAV& file = *reader.file;
    if (file.HeaderOverLimit())
        return SIGKIT_E_HEADER_LIMIT;
    if (file.HeaderTruncated())
        return SIGKIT_E_TRUNCATED;
    if (file.Headerless() || !file.FormatFound() || file.FormatSize() < 16)
        return SIGKIT_E_FORMAT;
    uint8_t format[kFmtCapacity]{};
    const uint32_t size = file.GetFormat(format, sizeof format);
    uint16_t tag = LoadU16(format);
    const uint16_t channels = LoadU16(format + 2);
    const uint32_t rate = LoadU32(format + 4);
    const uint16_t blockAlign = LoadU16(format + 12);
    uint32_t validBits = LoadU16(format + 14);
    if (tag == kTagExtensible && size >= 40 &&
        std::memcmp(format + 26, kSubFormatTail, sizeof kSubFormatTail) == 0)
    {
        tag = LoadU16(format + 24);
        const uint16_t declared = LoadU16(format + 18);
        if (declared != 0)
            validBits = declared;
    }
    if (channels == 0 || channels > kMaxChannels || blockAlign == 0 || blockAlign % channels != 0)
        return SIGKIT_E_FORMAT;
    const uint32_t bytes = blockAlign / channels;
    int encoding = 0;
    if (tag == kTagPcm && bytes >= 1 && bytes <= 4)
        encoding = static_cast<int>(bytes); // U8, S16, S24, S32 are 1 .. 4
    else if (tag == kTagFloat && bytes == 4)
        encoding = SIGKIT_ENCODING_F32;
    else if (tag == kTagFloat && bytes == 8)
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

    reader.coding.Set(encoding);
    reader.channels = channels;
    reader.blockAlign = blockAlign;
    info.encoding = encoding;
    info.rate = exact;
    info.channels = channels;
    info.complex_samples = channels == 2 ? 1 : 0;
    // A stream whose header declares no length is read to its end.
    info.frames =
        file.DataSize() == kUnknownLength ? SIGKIT_FRAMES_UNKNOWN : file.DataSize() / blockAlign;
    info.valid_bits = static_cast<int32_t>(validBits);
    info.metadata = 0;
    return SIGKIT_OK;
}

void PrepareWriter(sigkit_wav_writer& writer)
{
    writer.scaled.resize(kScratchBytes / sizeof(float));
    writer.stored.resize(kScratchBytes * 2);
}

int CheckWavFormat(const sigkit_wav_format& shape, uint32_t allowedFlags)
{
    if (!IsEncoding(shape.encoding))
        return SIGKIT_E_FORMAT;
    if (!std::isfinite(shape.rate) || shape.rate <= 0.0 || shape.rate >= 4294967296.0)
        return SIGKIT_E_BAD_RATE;
    if (shape.channels < 1 || shape.channels > kMaxChannels)
        return SIGKIT_E_CHANNELS;
    if ((shape.flags & ~allowedFlags) != 0 || shape.reserved != 0)
        return SIGKIT_E_INVALID;
    if (shape.metadata != 0)
        return SIGKIT_E_NOT_AVAILABLE;
    return SIGKIT_OK;
}

int StartWav(sigkit_wav_writer& writer, const sigkit_wav_format& shape)
{
    writer.coding.Set(shape.encoding);
    writer.channels = static_cast<uint32_t>(shape.channels);
    FileWAV_VeryFast& file = *writer.file;
    // The format record: tag, channels, whole rate, byte rate, block align, bits, no extra.
    const uint32_t blockAlign = writer.coding.Bytes() * writer.channels;
    const auto wholeRate = static_cast<uint32_t>(shape.rate);
    uint8_t format[kFmtCapacity]{};
    StoreU16(format, IsFloat(shape.encoding) ? kTagFloat : kTagPcm);
    StoreU16(format + 2, static_cast<uint16_t>(writer.channels));
    StoreU32(format + 4, wholeRate);
    StoreU32(format + 8, wholeRate * blockAlign);
    StoreU16(format + 12, static_cast<uint16_t>(blockAlign));
    StoreU16(format + 14, static_cast<uint16_t>(8 * writer.coding.Bytes()));
    file.SetFormat(format);
    // The rate once more as a float: the file layer keeps it exactly beside the whole one.
    file.SetRate(static_cast<float>(shape.rate));
    if (file.WriteFailed())
    {
        const int status = StatusOfErrno(file.LastError());
        // Not a run that stopped: a header that could not be written leaves nothing.
        file.Discard();
        return status;
    }
    return SIGKIT_OK;
}

int Deliver(std::unique_ptr<sigkit_wav_reader> made, const sigkit_wav_info& found,
            sigkit_wav_info* info, sigkit_wav_reader** reader)
{
    made->scratch.resize(kScratchBytes);
    const int status = WriteRecord(&found, SIGKIT_WAV_INFO_SIZE_V1, sizeof found, info);
    if (status != SIGKIT_OK)
        return status;
    *reader = made.release();
    return SIGKIT_OK;
}

} // namespace sigkit::api
