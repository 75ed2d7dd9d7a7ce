#include "interface/BlockHandle.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace sigkit {

namespace {

// Blocks larger than this go through the chain a slice at a time, so that no stage ever holds
// more than a slice's worth. A multiple of every stored sample size (1, 2, 3 and 4 bytes), so no
// sample is split; a complex pair split between slices is completed by the stage.
constexpr int32_t kSliceBytes = 12 * 4096;
// The output of one call must be countable in bytes.
constexpr std::size_t kMaxOutputBytes = static_cast<std::size_t>(INT32_MAX);

} // namespace

ProcessingBlock::ProcessingBlock() = default;

ProcessingBlock::~ProcessingBlock()
{
    // The converter goes first, then the stage.
    converter.reset();
    stage.reset();
}

void ProcessingBlock::PumpOnce(const void* in, int32_t inBytes)
{
    converter->Put(0, in, inBytes);
    convBytes = 0;
    converter->Get(0, &convBlock, &convBytes);
    // Float samples pass the converter as the caller's own block, which may sit at any address;
    // the stages read whole floats, so such a block is first copied to float alignment.
    if (convBytes >= static_cast<int32_t>(sizeof(float)) &&
        reinterpret_cast<std::uintptr_t>(convBlock) % alignof(float) != 0)
    {
        const std::size_t floats = static_cast<std::size_t>(convBytes) / sizeof(float);
        try
        {
            if (aligned.size() < floats)
                aligned.resize(floats);
            std::memcpy(aligned.data(), convBlock, floats * sizeof(float));
            convBlock = aligned.data();
        }
        catch (const std::bad_alloc&)
        {
            convBytes = 0;
        }
    }
    stage->Put(0, convBlock, convBytes);
    stageBytes = 0;
    stage->Get(0, &stageBlock, &stageBytes);
    converter->Put(1, stageBlock, stageBytes);
    convBytes = 0;
    // Port 0 again: the converter hands out whatever its last Put produced.
    converter->Get(0, &convBlock, &convBytes);
}

int32_t ProcessingBlock::Pump(const void* in, int32_t inBytes, const void** out, int32_t* outBytes)
{
    if (outBytes == nullptr)
        return 1;
    *outBytes = 0;
    if (converter == nullptr || stage == nullptr)
        return 1;
    if (in == nullptr || inBytes < 0)
        inBytes = 0;

    if (inBytes <= kSliceBytes)
    {
        PumpOnce(in, inBytes);
        if (convBytes > 0)
        {
            if (out != nullptr)
                *out = convBlock;
            *outBytes = convBytes;
        }
        return 1;
    }

    gathered.clear();
    const auto* bytes = static_cast<const uint8_t*>(in);
    for (int32_t at = 0; at < inBytes; at += kSliceBytes)
    {
        PumpOnce(bytes + at, std::min(kSliceBytes, inBytes - at));
        if (convBytes <= 0)
            continue;
        const auto n = static_cast<std::size_t>(convBytes);
        if (gathered.size() + n > kMaxOutputBytes)
            break;
        try
        {
            gathered.insert(gathered.end(), static_cast<const uint8_t*>(convBlock),
                            static_cast<const uint8_t*>(convBlock) + n);
        }
        catch (const std::bad_alloc&)
        {
            break;
        }
    }
    if (!gathered.empty())
    {
        if (out != nullptr)
            *out = gathered.data();
        *outBytes = static_cast<int32_t>(gathered.size());
    }
    return 1;
}

} // namespace sigkit
