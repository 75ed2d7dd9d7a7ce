// Raw samples: no header, the type and rate named by the caller. Read from a file or a stream
// through a byte source, written to a published file or a stream through a raw output; the
// readers and writers are those of WavFiles.cpp. Also the names of the sample types and the file
// extensions that stand for them.
#include "sigkit_api.h"

#include "api/Config.h"
#include "api/WavHandles.h"
#include "wav/ByteSink.h"
#include "wav/ByteSource.h"
#include "wav/platform/FileSystem.h"
#include "wav/platform/LowLevelFile.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

using sigkit::api::Guard;
using sigkit::api::StatusOfErrno;

struct TypeName
{
    int type;
    const char* name;
};

constexpr TypeName kTypeNames[] = {
    {SIGKIT_SAMPLE_U8, "u8"},     {SIGKIT_SAMPLE_S16, "s16"}, {SIGKIT_SAMPLE_S24, "s24"},
    {SIGKIT_SAMPLE_S32, "s32"},   {SIGKIT_SAMPLE_F32, "f32"}, {SIGKIT_SAMPLE_F64, "f64"},
    {SIGKIT_SAMPLE_CU8, "cu8"},   {SIGKIT_SAMPLE_CS8, "cs8"}, {SIGKIT_SAMPLE_CS16, "cs16"},
    {SIGKIT_SAMPLE_CF32, "cf32"},
};

// The complex types whose extensions name them.
constexpr int kExtensionTypes[] = {SIGKIT_SAMPLE_CU8, SIGKIT_SAMPLE_CS8, SIGKIT_SAMPLE_CS16,
                                   SIGKIT_SAMPLE_CF32};

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (Lower(*a) != Lower(*b))
            return false;
    return *a == *b;
}

int TypeOfName(const char* name)
{
    for (const TypeName& entry : kTypeNames)
        if (SameName(name, entry.name))
            return entry.type;
    return SIGKIT_E_INVALID;
}

const char* NameOfType(int type)
{
    for (const TypeName& entry : kTypeNames)
        if (entry.type == type)
            return entry.name;
    return nullptr;
}

// Reads the caller's record whole and checks it; channels 0 becomes the type's own. flags:
// those allowed. Result: a status.
int TakeFormat(const sigkit_raw_format* format, uint32_t allowedFlags, bool needRate,
               sigkit_raw_format& full, sigkit::api::SampleCoding& coding)
{
    if (format == nullptr)
        return SIGKIT_E_NULL;
    const int status =
        sigkit::api::ReadRecord(format, SIGKIT_RAW_FORMAT_SIZE_V1, sizeof full, &full);
    if (status != SIGKIT_OK)
        return status;
    if (!coding.Set(full.type))
        return SIGKIT_E_FORMAT;
    if (needRate && (!std::isfinite(full.rate) || full.rate <= 0.0))
        return SIGKIT_E_BAD_RATE;
    if (full.channels == 0)
        full.channels = coding.Complex() ? 2 : 1;
    if (coding.Complex() ? full.channels != 2
                         : (full.channels < 1 || full.channels > sigkit::api::kMaxChannels))
        return SIGKIT_E_CHANNELS;
    if ((full.flags & ~allowedFlags) != 0)
        return SIGKIT_E_INVALID;
    return SIGKIT_OK;
}

// Makes a raw reader over the source (a file read no further than its length now, or a stream
// read to its end) and describes it.
int OpenRaw(std::unique_ptr<sigkit::ByteSource> source, bool stream,
            const sigkit_raw_format& format, const sigkit::api::SampleCoding& coding,
            sigkit_wav_info* info, sigkit_wav_reader** reader)
{
    auto made = std::make_unique<sigkit_wav_reader>();
    made->coding = coding;
    made->channels = static_cast<uint32_t>(format.channels);
    made->blockAlign = coding.Bytes() * made->channels;
    made->stream = stream;
    const uint64_t length = stream ? sigkit::kUnknownLength : source->Length();
    made->rawEnd = length;
    made->raw = std::move(source);
    sigkit_wav_info found{};
    found.size = sizeof found;
    found.encoding = format.type;
    found.rate = format.rate;
    found.channels = format.channels;
    found.complex_samples = coding.Complex() ? 1 : 0;
    found.frames = stream ? SIGKIT_FRAMES_UNKNOWN : length / made->blockAlign;
    found.valid_bits = static_cast<int32_t>(8 * coding.Bytes());
    return sigkit::api::Deliver(std::move(made), found, info, reader);
}

int StartRaw(std::unique_ptr<sigkit::RawOutput> output, bool stream,
             const sigkit_raw_format& format, const sigkit::api::SampleCoding& coding,
             sigkit_wav_writer** writer)
{
    auto made = std::make_unique<sigkit_wav_writer>();
    made->raw = std::move(output);
    made->stream = stream;
    made->coding = coding;
    made->channels = static_cast<uint32_t>(format.channels);
    sigkit::api::PrepareWriter(*made);
    *writer = made.release();
    return SIGKIT_OK;
}

} // namespace

extern "C" {

SIGKIT_PUBLIC int sigkit_sample_type_from_name(const char* name)
{
    if (name == nullptr)
        return SIGKIT_E_NULL;
    return TypeOfName(name);
}

SIGKIT_PUBLIC int sigkit_sample_type_from_path(const char* path)
{
    if (path == nullptr)
        return SIGKIT_E_NULL;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr || dot == name)
        return 0;
    for (const int type : kExtensionTypes)
        if (SameName(dot + 1, NameOfType(type)))
            return type;
    return 0;
}

SIGKIT_PUBLIC const char* sigkit_sample_type_name(int type)
{
    return NameOfType(type);
}

SIGKIT_PUBLIC int sigkit_sample_type_layout(int type, int* sample_bytes, int* complex_type)
{
    sigkit::api::SampleCoding coding;
    if (!coding.Set(type))
        return SIGKIT_E_INVALID;
    if (sample_bytes != nullptr)
        *sample_bytes = static_cast<int>(coding.Bytes());
    if (complex_type != nullptr)
        *complex_type = coding.Complex() ? 1 : 0;
    return SIGKIT_OK;
}

SIGKIT_PUBLIC int sigkit_raw_format_init(sigkit_raw_format* format, int type, double rate,
                                         int channels)
{
    if (format == nullptr)
        return SIGKIT_E_NULL;
    *format = sigkit_raw_format{};
    format->size = sizeof *format;
    format->type = type;
    format->rate = rate;
    format->channels = channels;
    return SIGKIT_OK;
}

SIGKIT_PUBLIC int sigkit_raw_open(const char* path, const sigkit_raw_format* format,
                                  sigkit_wav_info* info, sigkit_wav_reader** reader)
{
    return Guard([&]() -> int {
        if (reader == nullptr)
            return SIGKIT_E_NULL;
        *reader = nullptr;
        if (path == nullptr || info == nullptr)
            return SIGKIT_E_NULL;
        if (const int checked = sigkit::api::CheckInfoRecord(info); checked != SIGKIT_OK)
            return checked;
        sigkit_raw_format full{};
        sigkit::api::SampleCoding coding;
        const int status = TakeFormat(format, 0, true, full, coding);
        if (status != SIGKIT_OK)
            return status;
        if (path[0] == '\0')
            return SIGKIT_E_NOT_FOUND;
        const int fd = sigkit::platform::OpenForReading(path);
        if (fd < 0)
            return StatusOfErrno(errno);
        return OpenRaw(std::make_unique<sigkit::FileSource>(fd, true), false, full, coding, info,
                       reader);
    });
}

SIGKIT_PUBLIC int sigkit_raw_open_fd(int fd, const sigkit_raw_format* format, sigkit_wav_info* info,
                                     sigkit_wav_reader** reader)
{
    return Guard([&]() -> int {
        if (reader == nullptr)
            return SIGKIT_E_NULL;
        *reader = nullptr;
        if (info == nullptr)
            return SIGKIT_E_NULL;
        if (const int checked = sigkit::api::CheckInfoRecord(info); checked != SIGKIT_OK)
            return checked;
        sigkit_raw_format full{};
        sigkit::api::SampleCoding coding;
        const int status = TakeFormat(format, 0, true, full, coding);
        if (status != SIGKIT_OK)
            return status;
        if (fd < 0)
            return SIGKIT_E_INVALID;
        return OpenRaw(std::make_unique<sigkit::StreamSource>(fd), true, full, coding, info,
                       reader);
    });
}

SIGKIT_PUBLIC int sigkit_raw_create(const char* path, const sigkit_raw_format* format,
                                    sigkit_wav_writer** writer)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_E_NULL;
        *writer = nullptr;
        if (path == nullptr)
            return SIGKIT_E_NULL;
        sigkit_raw_format full{};
        sigkit::api::SampleCoding coding;
        const int status = TakeFormat(format, SIGKIT_WAV_NO_REPLACE, false, full, coding);
        if (status != SIGKIT_OK)
            return status;
        if (path[0] == '\0')
            return SIGKIT_E_NOT_FOUND;
        const bool noReplace = (full.flags & SIGKIT_WAV_NO_REPLACE) != 0;
        // A fast answer; the publication itself is exclusive in this mode.
        if (noReplace && sigkit::platform::InspectName(path) != sigkit::platform::NameKind::Missing)
            return SIGKIT_E_EXISTS;
        auto output = std::make_unique<sigkit::RawOutput>();
        if (output->Create(path, noReplace) != 0)
            return StatusOfErrno(output->LastError());
        return StartRaw(std::move(output), false, full, coding, writer);
    });
}

SIGKIT_PUBLIC int sigkit_raw_create_fd(int fd, const sigkit_raw_format* format,
                                       sigkit_wav_writer** writer)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_E_NULL;
        *writer = nullptr;
        sigkit_raw_format full{};
        sigkit::api::SampleCoding coding;
        const int status = TakeFormat(format, 0, false, full, coding);
        if (status != SIGKIT_OK)
            return status;
        if (fd < 0)
            return SIGKIT_E_INVALID;
        auto output = std::make_unique<sigkit::RawOutput>();
        if (output->Create(std::make_unique<sigkit::StreamSink>(fd)) != 0)
            return StatusOfErrno(output->LastError());
        return StartRaw(std::move(output), true, full, coding, writer);
    });
}

} // extern "C"
