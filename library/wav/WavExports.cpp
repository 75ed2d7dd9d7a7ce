// The two WAV families: wav_read (LoadWav) and wav_write (SaveWav).
#include "sigkit.h"

#include "Text.h"
#include "wav/ByteOrder.h"
#include "wav/LoadWav.h"
#include "wav/SaveWav.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

struct WavReadHandle
{
    WavDescription* description = nullptr; // the caller's, kept but not used after init
    std::unique_ptr<sigkit::LoadWav> block;
    const void* lastBlock = nullptr;
    int32_t lastBytes = 0;
};

struct WavWriteHandle
{
    std::unique_ptr<sigkit::SaveWav> block;
};

namespace {

using sigkit::LoadU16;
using sigkit::LoadU32;

// The tail shared by the sub-format identifiers of extensible formats (after the 16-bit tag).
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The tag an extensible format stands for: its sub-format when that is integer PCM or float,
// otherwise the extensible tag itself (a format the console does not process).
uint16_t EffectiveTag(const uint8_t* format, uint32_t size)
{
    const uint16_t tag = LoadU16(format);
    if (tag != sigkit::kTagExtensible || size < 40)
        return tag;
    const uint16_t subFormat = LoadU16(format + 24);
    if (std::memcmp(format + 26, kSubFormatTail, sizeof kSubFormatTail) != 0)
        return tag;
    if (subFormat == sigkit::kTagPcm || subFormat == sigkit::kTagFloat)
        return subFormat;
    return tag;
}

// Fills the description's format fields from the opened file; false when the file has no
// readable format (a format chunk too short to hold one). An extensible format is described as
// the integer PCM or float format it holds; samples are read by their container width.
bool DescribeFormat(const sigkit::FileWAV& file, WavDescription& description)
{
    if (file.FormatFound() && file.FormatSize() < 16)
        return false;
    uint8_t format[sigkit::kFmtCapacity]{};
    const uint32_t size = file.GetFormat(format, sizeof format);
    description.formatTag = EffectiveTag(format, size);
    description.channels = LoadU16(format + 2);
    description.sampleRate = LoadU32(format + 4);
    description.byteRate = LoadU32(format + 8);
    description.blockAlign = LoadU16(format + 12);
    description.bitsPerSample = LoadU16(format + 14);
    return true;
}

} // namespace

extern "C" {

SIGKIT_API int32_t wav_read_init(WavDescription* description, WavReadHandle** handle)
{
    if (handle == nullptr)
        return 0;
    try
    {
        auto made = std::make_unique<WavReadHandle>();
        made->description = description;
        made->block = std::make_unique<sigkit::LoadWav>();
        sigkit::LoadWav& block = *made->block;
        block.SetParam("SizeBlock", "1200");
        block.SetParam("Mode", "FullName");
        *handle = made.release();
        if (description == nullptr)
            return 1;
        if (block.Put(0, description->name, sizeof description->name) == 0)
            return 1;
        WavDescription format = *description;
        if (DescribeFormat(block.File(), format))
        {
            format.valid = 1;
            *description = format;
        }
        return 1;
    }
    catch (...)
    {
        *handle = nullptr;
        return 0;
    }
}

SIGKIT_API int32_t wav_read_data(WavReadHandle* handle, const void** block, int32_t* bytes)
{
    if (bytes != nullptr)
        *bytes = 0;
    if (handle == nullptr || handle->block == nullptr)
        return 1;
    handle->block->Put(3, nullptr, 0);
    handle->lastBytes = 0;
    handle->block->Get(0, &handle->lastBlock, &handle->lastBytes);
    if (handle->lastBytes > 0)
    {
        if (block != nullptr)
            *block = handle->lastBlock;
        if (bytes != nullptr)
            *bytes = handle->lastBytes;
    }
    return 1;
}

SIGKIT_API int32_t wav_read_free(WavReadHandle* handle)
{
    if (handle == nullptr)
        return -2;
    delete handle;
    return 1;
}

SIGKIT_API int32_t wav_write_init(WavDescription description, WavWriteHandle** handle)
{
    if (handle == nullptr)
        return 0;
    *handle = nullptr;
    try
    {
        auto made = std::make_unique<WavWriteHandle>();
        made->block = std::make_unique<sigkit::SaveWav>();
        sigkit::SaveWav& block = *made->block;
        if (description.formatTag == sigkit::kTagPcm)
            block.SetParam("SetWavMode", "PCM");
        else if (description.formatTag == sigkit::kTagFloat)
            block.SetParam("SetWavMode", "Float");
        if (description.channels == 1)
            block.SetParam("SetChan", "Simplex");
        else if (description.channels == 2)
            block.SetParam("SetChan", "Duplex");
        block.SetBits(description.bitsPerSample);
        block.SetRateHz(static_cast<float>(description.sampleRate));
        // The name must carry its terminator inside the field; a longer one is refused.
        char name[sizeof description.name + 1];
        std::memcpy(name, description.name, sizeof description.name);
        name[sizeof description.name] = '\0';
        if (strnlen(description.name, sizeof description.name) >= sizeof description.name)
        {
            errno = ENAMETOOLONG;
            return 0;
        }
        block.SetParam("FullName", name);
        block.SetParam("SaveMode", "Direct");
        block.Start();
        block.Put(0, nullptr, 0);
        if (!block.IsOpen())
        {
            // errno tells the caller why the file could not be created.
            const int error = block.LastError();
            made.reset();
            errno = error != 0 ? error : EIO;
            return 0;
        }
        *handle = made.release();
        return 1;
    }
    catch (...)
    {
        *handle = nullptr;
        return 0;
    }
}

SIGKIT_API int32_t wav_write_data(WavWriteHandle* handle, const void* data, int32_t bytes)
{
    if (handle == nullptr || handle->block == nullptr)
        return 0;
    if (bytes <= 0)
        return handle->block->Failed() ? 0 : 1;
    if (data == nullptr)
        return 0;
    handle->block->Put(0, data, bytes);
    if (!handle->block->Failed())
        return 1;
    errno = handle->block->LastError() != 0 ? handle->block->LastError() : EIO;
    return 0;
}

SIGKIT_API int32_t wav_write_free(WavWriteHandle* handle)
{
    if (handle == nullptr)
        return -2;
    int32_t result = 1;
    if (handle->block != nullptr)
    {
        handle->block->Stop();
        if (handle->block->Failed())
            result = 0;
    }
    const int error = result == 0 ? handle->block->LastError() : 0;
    delete handle;
    if (result == 0)
        errno = error != 0 ? error : EIO;
    return result;
}

} // extern "C"
