// The two WAV families: wav_read (LoadWav) and wav_write (SaveWav), and their sigkit_ calls.
#include "sigkit.h"
#include "sigkit_api.h"

#include "Text.h"
#include "wav/ByteOrder.h"
#include "wav/LoadWav.h"
#include "wav/Metadata.h"
#include "wav/RecorderName.h"
#include "wav/SaveWav.h"

#include <cerrno>
#include <cmath>
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
    char path[SIGKIT_TEXT_SIZE]{}; // as opened: its file name may tell the centre and start time
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
    if (file.FormatFound() && file.FormatSize() < sigkit::kFmtEssentialBytes)
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

// A description no reader could read: no channels, no rate, or a sample width that is none of
// 8, 16, 24 and 32 bits for PCM and 32 for float (other tags are written as PCM).
bool Writable(const WavDescription& description)
{
    if (description.channels == 0 || description.sampleRate == 0)
        return false;
    const uint16_t bits = description.bitsPerSample;
    if (description.formatTag == sigkit::kTagFloat)
        return bits == 32;
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The name must carry its terminator inside the field; a longer one is refused.
bool NameFits(const WavDescription& description)
{
    return strnlen(description.name, sizeof description.name) < sizeof description.name;
}

int32_t Refuse(int error)
{
    errno = error;
    return 0;
}

// The input's metadata: its auxi chunk, with what that lacks from its file name.
sigkit::Metadata InputMetadata(const WavReadHandle& handle)
{
    return sigkit::CombineWithName(handle.block->File().GetMetadata(), handle.path);
}

bool Finite(double value)
{
    return std::isfinite(value);
}

// Values that move metadata somewhere it cannot be: refused before anything is made.
bool ChangeUsable(const sigkit_output_metadata& c)
{
    const bool centre = (c.metadata & SIGKIT_META_CENTRE_FREQUENCY) != 0;
    const bool start = (c.metadata & SIGKIT_META_START_TIME) != 0;
    if ((c.metadata & ~(SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME)) != 0 ||
        c.reserved != 0)
        return false;
    if (centre && !Finite(c.centre_frequency))
        return false;
    // Start times within what 64 bits of nanoseconds hold (1677 .. 2262).
    if (start && !(std::fabs(c.start_time) < 9.2e9))
        return false;
    return Finite(c.shift) && Finite(c.input_rate) && c.input_rate >= 0.0 &&
           Finite(c.output_rate) && c.output_rate >= 0.0 && Finite(c.band) && c.band >= 0.0 &&
           Finite(c.dropped_frames);
}

// wav_write_init, the output carrying `metadata` (null: none) in an auxi chunk when it holds
// anything.
int32_t CreateWriter(const WavDescription& description, const sigkit::Metadata* metadata,
                     WavWriteHandle** handle)
{
    if (handle == nullptr)
        return Refuse(EINVAL);
    *handle = nullptr;
    if (!NameFits(description))
        return Refuse(ENAMETOOLONG);
    if (!Writable(description))
        return Refuse(EINVAL);
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
        block.SetRateHz(description.sampleRate);
        block.SetParam("FullName", description.name);
        block.SetParam("SaveMode", "Direct");
        if (metadata != nullptr && metadata->Any() && !block.SetMetadata(*metadata))
            return Refuse(EINVAL);
        block.Start();
        block.Put(0, nullptr, 0);
        if (!block.IsOpen())
        {
            // errno tells the caller why the file could not be created.
            const int error = block.LastError();
            made.reset();
            return Refuse(error != 0 ? error : EIO);
        }
        *handle = made.release();
        return 1;
    }
    catch (...)
    {
        *handle = nullptr;
        return Refuse(ENOMEM);
    }
}

} // namespace

extern "C" {

SIGKIT_API int32_t wav_read_init(WavDescription* description, WavReadHandle** handle)
{
    // Set before anything can fail, so that no preset value survives a failure.
    if (description != nullptr)
        description->valid = 0;
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
        std::memcpy((*handle)->path, description->name, sizeof(*handle)->path);
        (*handle)->path[sizeof(*handle)->path - 1] = '\0';
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
    return CreateWriter(description, nullptr, handle);
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
    return sigkit_wav_write_finish(handle, nullptr, 0, nullptr);
}

SIGKIT_PUBLIC int32_t sigkit_wav_write_finish(WavWriteHandle* handle, char* partialPath,
                                              size_t capacity, uint64_t* frames)
{
    if (partialPath != nullptr && capacity > 0)
        partialPath[0] = '\0';
    if (frames != nullptr)
        *frames = 0;
    if (handle == nullptr || handle->block == nullptr)
    {
        delete handle;
        return Refuse(EINVAL);
    }
    sigkit::SaveWav& block = *handle->block;
    block.Stop();
    const bool failed = block.Failed();
    const int error = block.LastError();
    if (frames != nullptr)
        *frames = block.PartialFrames();
    // A path that does not fit leaves "" rather than another name.
    if (failed && partialPath != nullptr)
        sigkit::CopyText(partialPath, capacity, block.PartialPath());
    delete handle;
    return failed ? Refuse(error != 0 ? error : EIO) : 1;
}

SIGKIT_PUBLIC int32_t sigkit_wav_write_no_replace(WavWriteHandle* handle)
{
    if (handle == nullptr || handle->block == nullptr || !handle->block->IsOpen())
        return Refuse(EINVAL);
    handle->block->SetNoReplace(true);
    return 1;
}

SIGKIT_PUBLIC int32_t sigkit_wav_write_abandon(WavWriteHandle* handle, char* partialPath,
                                               size_t capacity, uint64_t* frames)
{
    if (partialPath != nullptr && capacity > 0)
        partialPath[0] = '\0';
    if (frames != nullptr)
        *frames = 0;
    if (handle == nullptr || handle->block == nullptr)
    {
        delete handle;
        return Refuse(EINVAL);
    }
    sigkit::SaveWav& block = *handle->block;
    const bool kept = block.Abandon();
    const int error = block.LastError();
    if (frames != nullptr)
        *frames = block.PartialFrames();
    const bool fits =
        partialPath == nullptr || sigkit::CopyText(partialPath, capacity, block.PartialPath());
    delete handle;
    if (!kept)
        return Refuse(error != 0 ? error : EIO);
    return fits ? 1 : Refuse(ERANGE);
}

SIGKIT_PUBLIC int32_t sigkit_wav_read_length(const WavReadHandle* handle, uint64_t* declaredBytes,
                                             uint64_t* deliveredBytes)
{
    if (declaredBytes != nullptr)
        *declaredBytes = 0;
    if (deliveredBytes != nullptr)
        *deliveredBytes = 0;
    if (handle == nullptr || handle->block == nullptr)
        return Refuse(EINVAL);
    const sigkit::LoadWav& block = *handle->block;
    if (!block.Opened())
        return Refuse(block.OpenError() != 0 ? block.OpenError() : ENOENT);
    if (declaredBytes != nullptr)
        *declaredBytes = block.DeclaredBytes();
    if (deliveredBytes != nullptr)
        *deliveredBytes = block.DeliveredBytes();
    return 1;
}

SIGKIT_PUBLIC int32_t sigkit_wav_read_metadata(const WavReadHandle* handle, uint32_t* metadata,
                                               double* centre_frequency, double* start_time)
{
    if (metadata != nullptr)
        *metadata = 0;
    if (centre_frequency != nullptr)
        *centre_frequency = 0.0;
    if (start_time != nullptr)
        *start_time = 0.0;
    if (handle == nullptr || handle->block == nullptr)
        return Refuse(EINVAL);
    const sigkit::LoadWav& block = *handle->block;
    if (!block.Opened())
        return Refuse(block.OpenError() != 0 ? block.OpenError() : ENOENT);
    try
    {
        const sigkit::Metadata m = InputMetadata(*handle);
        uint32_t bits = 0;
        if (m.centreHz.has_value())
        {
            bits |= SIGKIT_META_CENTRE_FREQUENCY;
            if (centre_frequency != nullptr)
                *centre_frequency = *m.centreHz;
        }
        if (m.startTime.has_value())
        {
            bits |= SIGKIT_META_START_TIME;
            if (start_time != nullptr)
                *start_time = static_cast<double>(*m.startTime) / sigkit::kNanosecondsPerSecond;
        }
        if (metadata != nullptr)
            *metadata = bits;
        return 1;
    }
    catch (...)
    {
        return Refuse(ENOMEM);
    }
}

SIGKIT_PUBLIC int32_t sigkit_wav_write_init_metadata(WavDescription description,
                                                     const WavReadHandle* input,
                                                     const sigkit_output_metadata* change,
                                                     WavWriteHandle** handle)
{
    if (handle == nullptr)
        return Refuse(EINVAL);
    *handle = nullptr;
    sigkit_output_metadata given{};
    if (change != nullptr)
    {
        if (change->size < SIGKIT_OUTPUT_METADATA_SIZE_V1 || change->size > 65536)
            return Refuse(EINVAL);
        std::memcpy(&given, change, sizeof given);
        if (!ChangeUsable(given))
            return Refuse(EINVAL);
    }
    try
    {
        sigkit::Metadata m;
        if (input != nullptr && input->block != nullptr && input->block->Opened())
            m = InputMetadata(*input);
        if (!m.centreHz.has_value() && (given.metadata & SIGKIT_META_CENTRE_FREQUENCY) != 0)
        {
            m.centreHz = given.centre_frequency;
            m.centreFrom = sigkit::MetadataSource::Given;
        }
        if (!m.startTime.has_value() && (given.metadata & SIGKIT_META_START_TIME) != 0)
        {
            m.startTime =
                std::llround(given.start_time * static_cast<double>(sigkit::kNanosecondsPerSecond));
            m.startFrom = sigkit::MetadataSource::Given;
        }
        if (change != nullptr && m.Any())
        {
            sigkit::OutputChange moved;
            moved.shiftHz = given.shift;
            moved.rateIn = given.input_rate;
            moved.rateOut = given.output_rate;
            moved.complexOut = given.complex_output != 0;
            moved.bandwidthHz = given.band;
            moved.droppedFrames = given.dropped_frames;
            m = sigkit::DeriveOutput(m, moved);
        }
        return CreateWriter(description, &m, handle);
    }
    catch (...)
    {
        return Refuse(ENOMEM);
    }
}

} // extern "C"
