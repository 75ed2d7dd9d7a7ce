#include "stages/StreamStage.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <new>

namespace sigkit {

namespace {

constexpr std::size_t kInitialOutput = 102400; // floats
// Larger blocks are turned into complex pairs a part at a time, so that the work array stays
// small whatever the caller hands in.
constexpr int32_t kGatherPairs = 8192;

} // namespace

float ReadNumber(const char* value)
{
    const double parsed = std::strtod(value != nullptr ? value : "", nullptr);
    if (std::isnan(parsed))
        return NAN;
    if (parsed > FLT_MAX)
        return INFINITY;
    if (parsed < -FLT_MAX)
        return -INFINITY;
    return static_cast<float>(parsed);
}

StreamStage::StreamStage()
    : splitter(std::make_unique<HilbertSplitter>()), outBuffer(kInitialOutput, 0.0f),
      work(2 * static_cast<std::size_t>(kGatherPairs), 0.0f)
{
}

StreamStage::~StreamStage() = default;

void StreamStage::StartStream()
{
    stopped = 0;
    pendingHalf = 0;
    pendingValue = 0.0f;
    splitter->Reset();
    oscillator.Reset();
    warmDone = 0;
    warmCount = 0;
    outCount = 0;
}

int32_t StreamStage::Put(int32_t /*port*/, const void* block, int32_t bytes)
{
    if (stopped != 0)
        return 0;
    inBlock = static_cast<const unsigned char*>(block);
    inCount = (block != nullptr && bytes > 0) ? bytes / 4 : 0;
    inIndex = -1;
    outCount = 0;
    inputPresent = 1;
    return inCount;
}

bool StreamStage::Reserve(std::size_t floats)
{
    if (outBuffer.size() - outCount >= floats)
        return true;
    try
    {
        outBuffer.resize(std::max(outBuffer.size() * 2, outCount + floats));
        return true;
    }
    catch (const std::bad_alloc&)
    {
        overflowed = true;
        return false;
    }
}

int32_t StreamStage::Gather()
{
    float* out = work.data();
    int32_t pairs = 0;
    while (pairs < kGatherPairs)
    {
        if (++inIndex >= inCount)
        {
            inIndex = inCount;
            break;
        }
        float I = 0.0f;
        float Q = 0.0f;
        if (complexInput == 0)
            splitter->Step(InputAt(inIndex), I, Q);
        else if (pendingHalf != 0)
        {
            I = pendingValue;
            Q = InputAt(inIndex);
            pendingHalf = 0;
        }
        else
        {
            I = InputAt(inIndex);
            if (++inIndex >= inCount)
            {
                // The pair is completed by the first value of the next block.
                pendingValue = I;
                pendingHalf = 1;
                inIndex = inCount;
                break;
            }
            Q = InputAt(inIndex);
        }
        out[2 * pairs] = I;
        out[2 * pairs + 1] = Q;
        ++pairs;
    }
    return pairs;
}

int32_t StreamStage::Get(int32_t port, const void** block, int32_t* bytes)
{
    if (bytes == nullptr)
        return 0;
    *bytes = 0;
    switch (port)
    {
    case 0:
    {
        if (inputPresent == 0)
            return 0;
        overflowed = false;
        while (TakesInput() && inIndex + 1 < inCount)
        {
            const int32_t pairs = Gather();
            if (pairs > 0)
                Process(work.data(), pairs);
        }
        // A block whose output could not be held yields nothing rather than a part of it.
        if (overflowed)
            outCount = 0;
        const std::size_t maxFloats = static_cast<std::size_t>(INT32_MAX / 4);
        if (outCount > maxFloats)
            outCount = 0;
        if (block != nullptr)
            *block = outBuffer.data();
        *bytes = static_cast<int32_t>(4 * outCount);
        outCount = 0;
        reportReady = 1;
        return *bytes;
    }
    case 1:
        if (reportReady == 0)
            return 0;
        report.Update(ReportFrequency(), ReportRate(), warmDone);
        reportReady = 0;
        if (block != nullptr)
            *block = report.Bytes();
        *bytes = static_cast<int32_t>(StreamInfo::kBytes);
        return *bytes;
    case 2:
        if (block != nullptr)
            *block = outBuffer.data();
        *bytes = static_cast<int32_t>(4 * std::min(outCount, static_cast<std::size_t>(INT32_MAX / 4)));
        outCount = 0;
        return *bytes;
    default:
        return 0;
    }
}

} // namespace sigkit
