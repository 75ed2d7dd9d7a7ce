// The six processing families. Each handle chains a converter and one stage; init builds and
// configures them, data pumps a block of stored samples through, free destroys them.
#include "sigkit.h"

#include "interface/BlockHandle.h"
#include "interface/Configure.h"
#include "stages/FreqConv.h"
#include "stages/IQ2R.h"
#include "stages/ReSampl.h"
#include "stages/SpInv.h"
#include "stages/demod/AM_Demod.h"

#include <memory>

namespace {

// Builds the handle with its converter and stage and runs the configuration on a copy of the
// record. A handle that cannot be built, or whose record can never produce output, is released
// again; the result is then 0, null handle.
template <typename Handle, typename StageType, typename Params>
int32_t InitHandle(const Params& params, Handle** out, bool (*configure)(Handle&, const Params&))
{
    if (out == nullptr)
        return 0;
    *out = nullptr;
    try
    {
        auto handle = std::make_unique<Handle>();
        handle->converter = std::make_unique<sigkit::AudioConvert>();
        handle->stage = std::make_unique<StageType>();
        const Params copy = params;
        const bool usable = configure(*handle, copy);
        // The record's texts are init's own copy: not kept past this call.
        handle->modeText = nullptr;
        handle->formatText = nullptr;
        if (!usable)
            return 0;
        *out = handle.release();
        return 1;
    }
    catch (...)
    {
        *out = nullptr;
        return 0;
    }
}

template <typename Handle> int32_t FreeHandle(Handle* handle)
{
    if (handle == nullptr)
        return -2;
    if (handle->converter != nullptr)
        handle->converter->Stop();
    if (handle->stage != nullptr)
        handle->stage->Stop();
    delete handle;
    return 1;
}

} // namespace

extern "C" {

SIGKIT_API int32_t am_demod_init(BlockParams params, BlockHandle** handle)
{
    return InitHandle<BlockHandle, sigkit::AM_Demod>(params, handle, sigkit::ConfigureAmDemod);
}

SIGKIT_API int32_t fm_demod_init(BlockParams params, BlockHandle** handle)
{
    return InitHandle<BlockHandle, sigkit::AM_Demod>(params, handle, sigkit::ConfigureFmDemod);
}

SIGKIT_API int32_t resampl_init(BlockParams params, BlockHandle** handle)
{
    return InitHandle<BlockHandle, sigkit::ReSampl>(params, handle, sigkit::ConfigureResampl);
}

SIGKIT_API int32_t lpflt_init(BlockParams params, BlockHandle** handle)
{
    return InitHandle<BlockHandle, sigkit::FreqConv>(params, handle, sigkit::ConfigureLpflt);
}

SIGKIT_API int32_t iq2real_init(IqParams params, IqHandle** handle)
{
    return InitHandle<IqHandle, sigkit::IQ2R>(params, handle, sigkit::ConfigureIq2Real);
}

SIGKIT_API int32_t invert_init(InvertParams params, InvertHandle** handle)
{
    return InitHandle<InvertHandle, sigkit::SpInv>(params, handle, sigkit::ConfigureInvert);
}

// One data function serves the four families of BlockHandle: it calls the stage only through
// the stage operations.
SIGKIT_API int32_t resampl_data(BlockHandle* handle, const void* in, int32_t inBytes,
                                const void** out, int32_t* outBytes)
{
    if (handle == nullptr)
    {
        if (outBytes != nullptr)
            *outBytes = 0;
        return 1;
    }
    return handle->Pump(in, inBytes, out, outBytes);
}

SIGKIT_API int32_t am_demod_data(BlockHandle* handle, const void* in, int32_t inBytes,
                                 const void** out, int32_t* outBytes)
    __attribute__((alias("resampl_data")));
SIGKIT_API int32_t fm_demod_data(BlockHandle* handle, const void* in, int32_t inBytes,
                                 const void** out, int32_t* outBytes)
    __attribute__((alias("resampl_data")));
SIGKIT_API int32_t lpflt_data(BlockHandle* handle, const void* in, int32_t inBytes,
                              const void** out, int32_t* outBytes)
    __attribute__((alias("resampl_data")));

SIGKIT_API int32_t sigkit_block_prepare(BlockHandle* handle, const void* in, int32_t inBytes)
{
    if (handle == nullptr)
        return 0;
    try
    {
        return handle->Prepare(in, inBytes);
    }
    catch (...)
    {
        return 0;
    }
}

SIGKIT_API int32_t iq2real_data(IqHandle* handle, const void* in, int32_t inBytes, const void** out,
                                int32_t* outBytes)
{
    if (handle == nullptr)
    {
        if (outBytes != nullptr)
            *outBytes = 0;
        return 1;
    }
    return handle->Pump(in, inBytes, out, outBytes);
}

SIGKIT_API int32_t invert_data(InvertHandle* handle, const void* in, int32_t inBytes,
                               const void** out, int32_t* outBytes)
{
    if (handle == nullptr)
    {
        if (outBytes != nullptr)
            *outBytes = 0;
        return 1;
    }
    return handle->Pump(in, inBytes, out, outBytes);
}

// The demodulators share one free function; the other families each have their own.
SIGKIT_API int32_t am_demod_free(BlockHandle* handle)
{
    return FreeHandle(handle);
}

SIGKIT_API int32_t fm_demod_free(BlockHandle* handle) __attribute__((alias("am_demod_free")));

SIGKIT_API int32_t resampl_free(BlockHandle* handle)
{
    return FreeHandle(handle);
}

SIGKIT_API int32_t lpflt_free(BlockHandle* handle)
{
    return FreeHandle(handle);
}

SIGKIT_API int32_t iq2real_free(IqHandle* handle)
{
    return FreeHandle(handle);
}

SIGKIT_API int32_t invert_free(InvertHandle* handle)
{
    return FreeHandle(handle);
}

} // extern "C"
