#include "InputFile.h"

#include "platform/Files.h"

#include <climits>
#include <cstring>

namespace sigrun {

bool InputFile::Readable(const char* name, std::string& failure)
{
    std::string reason;
    if (platform::CheckReadableFile(name, reason))
        return true;
    failure = "cannot read " + Quoted(name) + ": " + reason;
    return false;
}

bool InputFile::Open(const char* path, std::string& failure)
{
    Close();
    const std::size_t length = std::strlen(path);
    if (length >= sizeof name)
    {
        failure = "input name " + Quoted(std::string(path, 40) + "...") + " is longer than " +
                  std::to_string(sizeof name - 1) + " characters";
        return false;
    }
    std::memset(name, 0, sizeof name);
    std::memcpy(name, path, length);
    const RawType* raw = RawTypeFor(name);
    streamed = raw != nullptr || IsStandardStream(name);
    if (!IsStandardStream(name) && !Readable(name, failure))
        return false;
    if (streamed)
    {
        std::memset(&description, 0, sizeof description);
        std::memcpy(description.name, name, sizeof description.name);
        return stream.Open(name, raw, rawRate, description, failure);
    }
    if (binding.readInit == nullptr || binding.readFree == nullptr)
    {
        failure = MissingExport(binding.readInit == nullptr ? "wav_read_init" : "wav_read_free");
        return false;
    }
    // Every field but the name starts at 0, so that a failed reading says `valid` 0.
    std::memset(&description, 0, sizeof description);
    std::memcpy(description.name, name, sizeof description.name);
    if (binding.readInit(&description, &reader) != 1 || reader == nullptr)
    {
        reader = nullptr;
        failure = "cannot set up reading of " + Quoted(name);
        return false;
    }
    return true;
}

const RawType* InputFile::RawTypeFor(const char* path) const
{
    return rawType != nullptr ? rawType : RawTypeOfPath(path);
}

void InputFile::Close()
{
    stream.Close();
    if (reader != nullptr)
        binding.readFree(reader);
    reader = nullptr;
}

bool InputFile::Next(const void*& block, int32_t& bytes)
{
    block = nullptr;
    bytes = 0;
    if (streamed)
        return stream.Next(block, bytes);
    if (reader != nullptr)
        binding.readData(reader, &block, &bytes);
    return bytes != 0;
}

uint64_t InputFile::DeclaredBytes() const
{
    uint64_t declared = 0;
    uint64_t delivered = 0;
    if (reader == nullptr || binding.readLength == nullptr ||
        binding.readLength(reader, &declared, &delivered) != 1)
        return 0;
    return declared;
}

std::string InputFile::EndedEarly() const
{
    uint64_t declared = 0;
    uint64_t delivered = 0;
    if (streamed || reader == nullptr || binding.readLength == nullptr ||
        binding.readLength(reader, &declared, &delivered) != 1)
        return "";
    const uint64_t frame = description.blockAlign > 0 ? description.blockAlign : 1;
    if (delivered / frame >= declared / frame)
        return "";
    return Quoted(name) +
           " ends before the length its header declares: " + std::to_string(delivered / frame) +
           " of " + std::to_string(declared / frame) + " samples were there";
}

const char* UnsupportedReason(const WavDescription& d, bool floatAccepted)
{
    if (d.valid == 0)
        return "is not a WAV file whose format can be read";
    const bool isFloat = d.formatTag == 3 && floatAccepted;
    if (d.formatTag != 1 && !isFloat)
        return floatAccepted ? "is neither integer PCM nor float" : "is not integer PCM";
    if (d.channels != 1 && d.channels != 2)
        return "has a channel count other than 1 or 2";
    if (isFloat && d.bitsPerSample != 32)
        return "has float samples of other than 32 bits";
    if (d.bitsPerSample != 8 && d.bitsPerSample != 16 && d.bitsPerSample != 24 &&
        d.bitsPerSample != 32)
        return "has a sample width other than 8, 16, 24 or 32 bits";
    if (d.sampleRate == 0 || d.sampleRate > static_cast<uint32_t>(INT32_MAX))
        return "has no usable sample rate";
    return nullptr;
}

} // namespace sigrun
