// The sigkit_ API's version, errors and processing objects. Every export begins in C++ here and
// lets nothing thrown out: a failure inside becomes a status.
#include "sigkit_api.h"

#include "api/Config.h"
#include "api/KindTable.h"
#include "api/Processor.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

// The object behind the opaque handle: the kind's processor and where the stream stands.
struct sigkit_processor
{
    std::unique_ptr<sigkit::api::Processor> impl;
    bool flushed = false; // after a flush only reset and destroy are accepted
};

namespace {

using sigkit::api::Processor;

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

// in_frames frames of the layout as a float count; false when that overflows.
bool Floats(std::size_t frames, std::size_t frameFloats, std::size_t& floats)
{
    return !__builtin_mul_overflow(frames, frameFloats, &floats) &&
           floats <= SIZE_MAX / sizeof(float);
}

} // namespace

extern "C" {

SIGKIT_PUBLIC const char* sigkit_version(int* major, int* minor, int* patch)
{
    if (major != nullptr)
        *major = SIGKIT_VERSION_MAJOR;
    if (minor != nullptr)
        *minor = SIGKIT_VERSION_MINOR;
    if (patch != nullptr)
        *patch = SIGKIT_VERSION_PATCH;
    return SIGKIT_VERSION_STRING;
}

SIGKIT_PUBLIC const char* sigkit_strerror(int status)
{
    switch (status)
    {
    case SIGKIT_OK:
        return "success";
    case SIGKIT_E_NULL:
        return "a required pointer is null";
    case SIGKIT_E_INVALID:
        return "invalid argument";
    case SIGKIT_E_RECORD_SIZE:
        return "record size not supported by this library version";
    case SIGKIT_E_UNKNOWN_KIND:
        return "unknown processing kind";
    case SIGKIT_E_BAD_RATE:
        return "sample rate not above 0 and finite, or a rate ratio the kind cannot take";
    case SIGKIT_E_BUFFER_TOO_SMALL:
        return "output buffer smaller than the most this call can produce";
    case SIGKIT_E_NO_MEMORY:
        return "out of memory";
    case SIGKIT_E_IO:
        return "input/output error";
    case SIGKIT_E_FORMAT:
        return "not a WAV file, or a sample encoding that is not supported";
    case SIGKIT_E_EXISTS:
        return "the output file exists and replacing it was not allowed";
    case SIGKIT_E_STATE:
        return "not allowed in the object's state (reset after flush)";
    case SIGKIT_E_OVERFLOW:
        return "a count or size too large";
    case SIGKIT_E_NOT_AVAILABLE:
        return "not available in this library version";
    case SIGKIT_E_FREQUENCY:
        return "frequency outside the band the input holds";
    case SIGKIT_E_CHANNELS:
        return "channel count not supported here";
    case SIGKIT_E_NOT_FOUND:
        return "no such file or directory";
    case SIGKIT_E_PERMISSION:
        return "permission denied";
    case SIGKIT_E_NO_SPACE:
        return "no space left on the device or file too large";
    case SIGKIT_E_INTERNAL:
        return "internal error";
    default:
        return "unknown status";
    }
}

SIGKIT_PUBLIC const char* sigkit_kind_name(int kind)
{
    const sigkit::api::KindRow* row = sigkit::api::FindKind(kind);
    return row != nullptr ? row->name : nullptr;
}

SIGKIT_PUBLIC int sigkit_kind_available(int kind)
{
    const sigkit::api::KindRow* row = sigkit::api::FindKind(kind);
    return row != nullptr && row->make != nullptr ? 1 : 0;
}

SIGKIT_PUBLIC int sigkit_config_init(sigkit_config* config, int kind)
{
    if (config == nullptr)
        return SIGKIT_E_NULL;
    if (sigkit::api::FindKind(kind) == nullptr)
        return SIGKIT_E_UNKNOWN_KIND;
    sigkit::api::DefaultConfig(*config, kind);
    return SIGKIT_OK;
}

SIGKIT_PUBLIC int sigkit_create(const sigkit_config* config, sigkit_processor** processor)
{
    return Guard([&]() -> int {
        if (processor == nullptr)
            return SIGKIT_E_NULL;
        *processor = nullptr;
        if (config == nullptr)
            return SIGKIT_E_NULL;
        // Fields an older record lacks take the defaults of its kind, read first.
        uint32_t size = 0;
        std::memcpy(&size, config, sizeof size);
        if (size < SIGKIT_CONFIG_SIZE_V1)
            return SIGKIT_E_RECORD_SIZE;
        int32_t kind = 0;
        std::memcpy(&kind,
                    reinterpret_cast<const unsigned char*>(config) + offsetof(sigkit_config, kind),
                    sizeof kind);
        const sigkit::api::KindRow* row = sigkit::api::FindKind(kind);
        sigkit_config full{};
        sigkit::api::DefaultConfig(full, row != nullptr ? kind : SIGKIT_KIND_IQ2R);
        int status = sigkit::api::ReadRecord(config, SIGKIT_CONFIG_SIZE_V1, sizeof full, &full);
        if (status != SIGKIT_OK)
            return status;
        if (row == nullptr)
            return SIGKIT_E_UNKNOWN_KIND;
        if (row->make == nullptr)
            return SIGKIT_E_NOT_AVAILABLE;
        status = sigkit::api::CheckCommon(full);
        if (status != SIGKIT_OK)
            return status;
        auto made = std::make_unique<sigkit_processor>();
        status = row->make(full, made->impl);
        if (status != SIGKIT_OK)
            return status;
        if (made->impl == nullptr)
            return SIGKIT_E_INTERNAL;
        *processor = made.release();
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_max_output(const sigkit_processor* processor, size_t in_frames,
                                    size_t* out_frames)
{
    return Guard([&]() -> int {
        if (out_frames == nullptr)
            return SIGKIT_E_NULL;
        *out_frames = 0;
        if (processor == nullptr || processor->impl == nullptr)
            return SIGKIT_E_NULL;
        std::size_t inFloats = 0;
        std::size_t outFloats = 0;
        std::size_t most = 0;
        if (!Floats(in_frames, processor->impl->Input().FrameFloats(), inFloats) ||
            !processor->impl->MaxOutput(in_frames, most) ||
            !Floats(most, processor->impl->Output().FrameFloats(), outFloats))
            return SIGKIT_E_OVERFLOW;
        *out_frames = most;
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_process(sigkit_processor* processor, const float* in, size_t in_frames,
                                 float* out, size_t out_capacity, size_t* out_frames)
{
    return Guard([&]() -> int {
        if (out_frames == nullptr)
            return SIGKIT_E_NULL;
        *out_frames = 0;
        if (processor == nullptr || processor->impl == nullptr)
            return SIGKIT_E_NULL;
        if (processor->flushed)
            return SIGKIT_E_STATE;
        if (in_frames == 0)
            return SIGKIT_OK;
        if (in == nullptr)
            return SIGKIT_E_NULL;
        std::size_t most = 0;
        const int status = sigkit_max_output(processor, in_frames, &most);
        if (status != SIGKIT_OK)
            return status;
        if (out_capacity < most)
            return SIGKIT_E_BUFFER_TOO_SMALL;
        if (out == nullptr && most > 0)
            return SIGKIT_E_NULL;
        std::size_t made = 0;
        const int result = processor->impl->Process(in, in_frames, out, out_capacity, made);
        *out_frames = made;
        return result;
    });
}

SIGKIT_PUBLIC int sigkit_flush(sigkit_processor* processor, float* out, size_t out_capacity,
                               size_t* out_frames)
{
    return Guard([&]() -> int {
        if (out_frames == nullptr)
            return SIGKIT_E_NULL;
        *out_frames = 0;
        if (processor == nullptr || processor->impl == nullptr)
            return SIGKIT_E_NULL;
        if (processor->flushed)
            return SIGKIT_E_STATE;
        std::size_t most = 0;
        const int status = sigkit_max_output(processor, 0, &most);
        if (status != SIGKIT_OK)
            return status;
        if (out_capacity < most)
            return SIGKIT_E_BUFFER_TOO_SMALL;
        if (out == nullptr && most > 0)
            return SIGKIT_E_NULL;
        std::size_t made = 0;
        const int result = processor->impl->Flush(out, out_capacity, made);
        processor->flushed = true;
        *out_frames = made;
        return result;
    });
}

SIGKIT_PUBLIC int sigkit_reset(sigkit_processor* processor)
{
    return Guard([&]() -> int {
        if (processor == nullptr || processor->impl == nullptr)
            return SIGKIT_E_NULL;
        const int status = processor->impl->Reset();
        if (status == SIGKIT_OK)
            processor->flushed = false;
        return status;
    });
}

SIGKIT_PUBLIC int sigkit_latency(const sigkit_processor* processor, double* output_frames)
{
    return Guard([&]() -> int {
        if (output_frames == nullptr)
            return SIGKIT_E_NULL;
        *output_frames = 0.0;
        if (processor == nullptr || processor->impl == nullptr)
            return SIGKIT_E_NULL;
        *output_frames = processor->impl->Latency();
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_output_layout(const sigkit_processor* processor, int* complex_output,
                                       int* channels, double* rate)
{
    return Guard([&]() -> int {
        if (processor == nullptr || processor->impl == nullptr)
            return SIGKIT_E_NULL;
        const sigkit::api::Layout layout = processor->impl->Output();
        if (complex_output != nullptr)
            *complex_output = layout.complex ? 1 : 0;
        if (channels != nullptr)
            *channels = layout.channels;
        if (rate != nullptr)
            *rate = layout.rate;
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC void sigkit_destroy(sigkit_processor* processor)
{
    // Destructors release memory and the exports' handles; none throws.
    delete processor;
}

} // extern "C"
