#include "StreamEnds.h"

#include "Messages.h"
#include "platform/Signals.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace sigrun {

namespace {

const RawType kRawTypes[] = {
    {SIGKIT_SAMPLE_CU8, "cu8", 1, 8, 2, false},    {SIGKIT_SAMPLE_CS8, "cs8", 1, 8, 2, true},
    {SIGKIT_SAMPLE_CS16, "cs16", 1, 16, 2, false}, {SIGKIT_SAMPLE_CF32, "cf32", 3, 32, 2, false},
    {SIGKIT_SAMPLE_U8, "u8", 1, 8, 1, false},      {SIGKIT_SAMPLE_S16, "s16", 1, 16, 1, false},
    {SIGKIT_SAMPLE_S24, "s24", 1, 24, 1, false},   {SIGKIT_SAMPLE_S32, "s32", 1, 32, 1, false},
    {SIGKIT_SAMPLE_F32, "f32", 3, 32, 1, false},
};

// The types a file name's extension tells; any other headerless file needs --type.
constexpr const char* kExtensionTypes[] = {"cu8", "cs8", "cs16", "cf32"};

std::string Lower(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The library's sample encoding of a WAV format; 0 when it has none.
int EncodingOf(uint16_t tag, uint16_t bits)
{
    if (tag == 3)
        return bits == 32 ? SIGKIT_ENCODING_F32 : 0;
    switch (bits)
    {
    case 8:
        return SIGKIT_ENCODING_U8;
    case 16:
        return SIGKIT_ENCODING_S16;
    case 24:
        return SIGKIT_ENCODING_S24;
    case 32:
        return SIGKIT_ENCODING_S32;
    default:
        return 0;
    }
}

// Signed and unsigned 8-bit samples differ in their top bit alone.
void FlipTopBits(uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] ^= 0x80u;
}

// Stored little-endian samples as floats at full scale 1.0.
void StoredToFloats(const uint8_t* in, std::size_t samples, uint16_t tag, uint16_t bits, float* out)
{
    const std::size_t size = bits / 8;
    for (std::size_t i = 0; i < samples; ++i, in += size)
    {
        if (tag == 3)
        {
            std::memcpy(&out[i], in, sizeof(float));
            continue;
        }
        if (size == 1)
        {
            out[i] = static_cast<float>(static_cast<int>(in[0]) - 128) * 0x1p-7f;
            continue;
        }
        uint32_t word = 0;
        for (std::size_t b = 0; b < size; ++b)
            word |= static_cast<uint32_t>(in[b]) << (8 * (b + 4 - size));
        // The sample sits in the top bits of a 32-bit word: one scale for every width.
        out[i] = static_cast<float>(static_cast<double>(static_cast<int32_t>(word)) * 0x1p-31);
    }
}

// Waits until standard input has bytes (or its end) in short turns, so that a stop signal is
// seen while the input stalls: the library's read would wait in the kernel through it. False
// when a stop signal came first.
bool AwaitInput()
{
    for (;;)
    {
        pollfd entry{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&entry, 1, 100);
        if (ready != 0 && !(ready < 0 && errno == EINTR))
            return true; // readable, ended, or an error the read reports
        if (platform::StopSignal() != 0)
            return false;
    }
}

// The format tag and sample size of a WAV stream's encoding.
void DescribeEncoding(const sigkit_wav_info& info, WavDescription& description)
{
    switch (info.encoding)
    {
    case SIGKIT_ENCODING_F32:
        description.formatTag = 3;
        description.bitsPerSample = 32;
        break;
    case SIGKIT_ENCODING_F64:
        description.formatTag = 3;
        description.bitsPerSample = 64;
        break;
    default:
        description.formatTag = 1;
        description.bitsPerSample = static_cast<uint16_t>(8 * info.encoding); // U8 .. S32
        break;
    }
}

} // namespace

bool IsStandardStream(const std::string& name)
{
    return name == kStandardStream;
}

const RawType* RawTypeByName(const std::string& name)
{
    const std::string lower = Lower(name);
    for (const RawType& t : kRawTypes)
        if (lower == t.name)
            return &t;
    return nullptr;
}

const RawType* RawTypeOfPath(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return nullptr;
    const std::string extension = Lower(path.substr(dot + 1));
    for (const char* name : kExtensionTypes)
        if (extension == name)
            return RawTypeByName(name);
    return nullptr;
}

const RawType* RawTypeByNumber(int type)
{
    for (const RawType& t : kRawTypes)
        if (t.type == type)
            return &t;
    return nullptr;
}

std::string RawTypeNames()
{
    std::string names;
    for (const RawType& t : kRawTypes)
        names += (names.empty() ? "" : ", ") + std::string(t.name);
    return names;
}

int ErrorOfStatus(int status)
{
    switch (status)
    {
    case SIGKIT_OK:
        return 0;
    case SIGKIT_E_PIPE:
        return EPIPE;
    case SIGKIT_E_NO_SPACE:
        return ENOSPC;
    case SIGKIT_E_PERMISSION:
        return EACCES;
    case SIGKIT_E_NOT_FOUND:
        return ENOENT;
    case SIGKIT_E_NO_MEMORY:
        return ENOMEM;
    case SIGKIT_E_FORMAT:
    case SIGKIT_E_INVALID:
        return EINVAL;
    default:
        return EIO;
    }
}

bool StreamInput::Open(const char* path, const RawType* raw, double rate,
                       WavDescription& description, std::string& failureText)
{
    Close();
    name = path;
    failure.clear();
    const bool standard = IsStandardStream(name);
    const std::string shown = standard ? std::string("standard input") : Quoted(name);
    if (calls.readStored == nullptr || calls.closeReader == nullptr ||
        (raw == nullptr ? calls.openFd == nullptr
         : standard     ? calls.rawOpenFd == nullptr
                        : calls.rawOpen == nullptr))
    {
        failureText = MissingExport(raw == nullptr ? "sigkit_wav_open_fd" : "sigkit_raw_open");
        return false;
    }
    sigkit_wav_info info{};
    info.size = sizeof info;
    if (standard && !AwaitInput())
    {
        failureText = std::string("interrupted by ") +
                      platform::SignalName(platform::StopSignal()) + " while waiting for " + shown;
        return false;
    }
    int status = SIGKIT_OK;
    if (raw != nullptr)
    {
        sigkit_raw_format format{};
        format.size = sizeof format;
        format.type = raw->type;
        format.rate = rate;
        status = standard ? calls.rawOpenFd(STDIN_FILENO, &format, &info, &reader)
                          : calls.rawOpen(path, &format, &info, &reader);
    }
    else
        status = calls.openFd(STDIN_FILENO, &info, &reader);
    if (status != SIGKIT_OK || reader == nullptr)
    {
        reader = nullptr;
        const char* why = calls.strerror != nullptr ? calls.strerror(status) : "cannot be read";
        failureText = "cannot read " + shown + ": " + why;
        return false;
    }

    description.valid = 1;
    description.channels = static_cast<uint16_t>(info.channels);
    if (raw != nullptr)
    {
        description.formatTag = raw->tag;
        description.bitsPerSample = raw->bits;
        signed8 = raw->signed8;
    }
    else
        DescribeEncoding(info, description);
    const double whole = std::nearbyint(info.rate);
    description.sampleRate =
        whole >= 1.0 && whole <= 4294967295.0 ? static_cast<uint32_t>(whole) : 0;
    frameBytes = static_cast<std::size_t>(description.channels) * (description.bitsPerSample / 8);
    description.blockAlign = static_cast<uint16_t>(frameBytes);
    description.byteRate = static_cast<uint32_t>(
        std::min<double>(4294967295.0, static_cast<double>(description.sampleRate) * frameBytes));
    // A block holds what has arrived, never waiting for more: at most a tenth of a second and
    // 64 KiB, so that a stream that is behind catches up in large blocks (cheap) while a live
    // one is processed in the small pieces it comes in.
    const std::size_t cap = frameBytes > 0 ? std::max<std::size_t>(1, 65536 / frameBytes) : 1;
    const auto wanted = static_cast<std::size_t>(std::max(
        1.0, std::floor(static_cast<double>(description.sampleRate) * kStreamBlockSeconds)));
    blockFrames = std::min(cap, wanted);
    buffer.assign(blockFrames * std::max<std::size_t>(frameBytes, 1), 0);
    return true;
}

void StreamInput::Close()
{
    if (reader != nullptr)
        calls.closeReader(reader);
    reader = nullptr;
}

bool StreamInput::Next(const void*& block, int32_t& bytes)
{
    block = nullptr;
    bytes = 0;
    if (reader == nullptr || frameBytes == 0)
        return false;
    if (IsStandardStream(name) && !AwaitInput())
        return false; // the pump sees the signal and stops
    std::size_t got = 0;
    const int status = calls.readStored(reader, buffer.data(), blockFrames, &got);
    if (status != SIGKIT_OK)
    {
        const char* why = calls.strerror != nullptr ? calls.strerror(status) : "read error";
        failure = "cannot read " +
                  (IsStandardStream(name) ? std::string("standard input") : Quoted(name)) + ": " +
                  why;
        return false;
    }
    if (got == 0)
        return false;
    if (signed8)
        FlipTopBits(buffer.data(), got * frameBytes);
    block = buffer.data();
    bytes = static_cast<int32_t>(got * frameBytes);
    return true;
}

bool StreamOutput::Create(const WavDescription& description, const RawType* raw, int& error)
{
    Abandon();
    tag = description.formatTag;
    bits = description.bitsPerSample;
    channels = description.channels;
    const int encoding = EncodingOf(tag, bits);
    if (calls.writeStored == nullptr || calls.close == nullptr || calls.abandon == nullptr ||
        calls.write == nullptr ||
        (raw == nullptr ? calls.createFd == nullptr : calls.rawCreateFd == nullptr))
    {
        error = ENOSYS;
        return false;
    }
    if (encoding == 0 || channels == 0 || (raw != nullptr && raw->channels == 2 && channels != 2))
    {
        error = EINVAL;
        return false;
    }
    int status = SIGKIT_OK;
    if (raw == nullptr)
    {
        sigkit_wav_format shape{};
        shape.size = sizeof shape;
        shape.encoding = encoding;
        shape.rate = description.sampleRate;
        shape.channels = channels;
        status = calls.createFd(STDOUT_FILENO, &shape, &writer);
        convert = false;
    }
    else
    {
        sigkit_raw_format format{};
        format.size = sizeof format;
        format.type = raw->type;
        format.rate = description.sampleRate;
        format.channels = raw->channels == 2 ? 0 : channels;
        status = calls.rawCreateFd(STDOUT_FILENO, &format, &writer);
        // Bytes of the same width and kind go out as they are (signed 8-bit with its top bit
        // flipped); any other type takes the samples through floats, rounded and limited.
        convert = raw->tag != tag || raw->bits != bits;
        flip = raw->signed8;
    }
    if (status != SIGKIT_OK || writer == nullptr)
    {
        writer = nullptr;
        error = ErrorOfStatus(status);
        return false;
    }
    return true;
}

bool StreamOutput::Write(const void* block, int32_t bytes, int& error)
{
    if (writer == nullptr)
    {
        error = EBADF;
        return false;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * (bits / 8);
    if (bytes <= 0 || frameBytes == 0)
        return true;
    const std::size_t frames = static_cast<std::size_t>(bytes) / frameBytes;
    int status = SIGKIT_OK;
    if (convert)
    {
        floats.resize(frames * channels);
        StoredToFloats(static_cast<const uint8_t*>(block), floats.size(), tag, bits, floats.data());
        status = calls.write(writer, floats.data(), frames);
        if (calls.clipped != nullptr)
            calls.clipped(writer, &clipped);
    }
    else if (flip)
    {
        const auto* from = static_cast<const uint8_t*>(block);
        flipped.assign(from, from + frames * frameBytes);
        FlipTopBits(flipped.data(), flipped.size());
        status = calls.writeStored(writer, flipped.data(), frames);
    }
    else
        status = calls.writeStored(writer, block, frames);
    if (status == SIGKIT_OK)
        return true;
    error = ErrorOfStatus(status);
    return false;
}

int StreamOutput::Close()
{
    if (writer == nullptr)
        return 0;
    const int status = calls.close(writer);
    writer = nullptr;
    return ErrorOfStatus(status);
}

void StreamOutput::Abandon()
{
    if (writer != nullptr)
        calls.abandon(writer);
    writer = nullptr;
}

} // namespace sigrun
