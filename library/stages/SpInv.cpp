#include "stages/SpInv.h"

#include "Text.h"
#include "stages/filters/FilterDesign.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sigkit {

namespace {

constexpr int32_t kPart = 4096; // real samples split at a time

} // namespace

SpInv::SpInv(int32_t outLimitFloats)
    : realIn(kPart, 0.0f), delayed(kPart, 0.0f), shifted(kPart, 0.0f),
      outBuffer(kOutBufferFloats, 0.0f),
      outLimit(std::max(2, std::min(outLimitFloats, kMaxOutFloats) / 2 * 2))
{
}

void SpInv::SetParam(const char* name, const char* value)
{
    params.Set(name, value);
}

int32_t SpInv::Start()
{
    stopped = 0;
    pendingHalf = 0;
    pendingValue = 0.0f;
    splitter.Reset();
    return 1;
}

void SpInv::Stop()
{
    stopped = 1;
}

int32_t SpInv::Put(int32_t /*port*/, const void* block, int32_t bytes)
{
    if (stopped != 0)
        return 0;
    inBlock = static_cast<const unsigned char*>(block);
    inCount = block != nullptr && bytes > 0 ? bytes / 4 : 0;
    inIndex = -1;
    outCount = 0;
    inputPresent = 1;
    return inCount;
}

float SpInv::InputAt(int32_t index) const
{
    float value = 0.0f;
    std::memcpy(&value, inBlock + static_cast<std::size_t>(index) * 4, sizeof value);
    return value;
}

void SpInv::Append(float first, float second)
{
    outBuffer[outCount] = first;
    outBuffer[outCount + 1] = second;
    outCount += 2;
}

void SpInv::ProcessComplex(int32_t limit)
{
    while (inIndex + 1 < inCount)
    {
        if (pendingHalf == 0 && inIndex + 2 == inCount)
        {
            // The block ends after the first value of a pair: the first float of the next
            // block completes it.
            pendingValue = InputAt(++inIndex);
            pendingHalf = 1;
            return;
        }
        if (outCount + 2 > limit)
            return;
        float a = 0.0f;
        if (pendingHalf != 0)
        {
            a = pendingValue;
            pendingHalf = 0;
        }
        else
            a = InputAt(++inIndex);
        const float b = InputAt(++inIndex);
        if (params.revIQ != 0)
            Append(a, b);
        else
            Append(b, a);
    }
}

void SpInv::ProcessReal(int32_t limit)
{
    while (outCount + 2 <= limit && inIndex + 1 < inCount)
    {
        const int32_t n = std::min({inCount - (inIndex + 1), (limit - outCount) / 2, kPart});
        // The caller's floats may lie at any alignment.
        std::memcpy(realIn.data(), inBlock + static_cast<std::size_t>(inIndex + 1) * 4,
                    static_cast<std::size_t>(n) * 4);
        splitter.StepBlock(realIn.data(), nullptr, n, delayed.data(), shifted.data());
        float* out = outBuffer.data() + outCount;
        for (int32_t i = 0; i < n; ++i)
        {
            out[2 * i] = shifted[static_cast<std::size_t>(i)];
            out[2 * i + 1] = delayed[static_cast<std::size_t>(i)];
        }
        outCount += 2 * n;
        inIndex += n;
    }
}

int32_t SpInv::Get(int32_t port, const void** block, int32_t* bytes)
{
    if (bytes != nullptr)
        *bytes = 0;
    if (port != 0 || inputPresent == 0)
        return 0;

    // Output floats of what remains of the block, within one Get's limit; the buffer grows
    // (once, to exactly that) when it is too small.
    const int64_t remaining = int64_t{inCount} - (inIndex + 1);
    const int64_t pairs = params.complexInput != 0 ? (remaining + pendingHalf) / 2 : remaining;
    const int64_t needed = std::min<int64_t>(2 * pairs, outLimit);
    if (needed > static_cast<int64_t>(outBuffer.size()))
    {
        try
        {
            outBuffer.resize(static_cast<std::size_t>(needed));
        }
        catch (const std::bad_alloc&)
        {
            // Keeps the buffer it has: the block goes out in parts of that size.
        }
    }
    const auto limit = static_cast<int32_t>(std::min<int64_t>(needed, outBuffer.size()) / 2 * 2);

    outCount = 0;
    if (params.complexInput != 0)
        ProcessComplex(limit);
    else
        ProcessReal(limit);

    const int32_t outBytes = outCount * 4;
    if (block != nullptr)
        *block = outBuffer.data();
    if (bytes != nullptr)
        *bytes = outBytes;
    outCount = 0;
    // A block with output left over stays pending for the next Get.
    if (inIndex + 1 >= inCount)
        inputPresent = 0;
    return outBytes;
}

} // namespace sigkit
