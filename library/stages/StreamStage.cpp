#include "stages/StreamStage.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <new>

namespace sigkit {

namespace {

constexpr std::size_t kInitialOutput = 102400; // floats

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
    : splitter(std::make_unique<HilbertSplitter>()), table(kernels::Active()),
      outBuffer(kInitialOutput, 0.0f), workI(kGatherPairs, 0.0f), workQ(kGatherPairs, 0.0f),
      phases(kGatherPairs, 0.0), sines(kGatherPairs, 0.0f), cosines(kGatherPairs, 0.0f)
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
    inBlock = static_cast<const float*>(block);
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

void StreamStage::ShiftDown(double fs, double f, float* I, float* Q, int32_t pairs)
{
    oscillator.Steps(fs, f, pairs, phases.data(), sines.data(), cosines.data());
    table.mix(I, Q, sines.data(), cosines.data(), pairs, I, Q);
}

int32_t StreamStage::Gather()
{
    float* I = workI.data();
    float* Q = workQ.data();
    const float* next = inBlock + (inIndex + 1);
    const int32_t left = inCount - (inIndex + 1);
    if (complexInput == 0)
    {
        // Real input: the analytic pair of every sample.
        const int32_t pairs = std::min(left, kGatherPairs);
        splitter->StepBlock(next, nullptr, pairs, I, Q);
        inIndex += pairs;
        return pairs;
    }
    int32_t pairs = 0;
    int32_t used = 0;
    if (pendingHalf != 0 && left > 0)
    {
        // The first value of this block completes the pair the last one began.
        I[0] = pendingValue;
        Q[0] = next[0];
        pendingHalf = 0;
        pairs = 1;
        used = 1;
    }
    const int32_t whole = std::min((left - used) / 2, kGatherPairs - pairs);
    table.deinterleave(next + used, whole, I + pairs, Q + pairs);
    pairs += whole;
    used += 2 * whole;
    if (left - used == 1 && pairs < kGatherPairs)
    {
        // The pair is completed by the first value of the next block.
        pendingValue = next[used];
        pendingHalf = 1;
        ++used;
    }
    inIndex += used;
    return pairs;
}

int32_t StreamStage::Get(int32_t port, const void** block, int32_t* bytes)
{
    if (bytes == nullptr)
        return 0;
    *bytes = 0;
    switch (port)
    {
    case 0: {
        if (inputPresent == 0)
            return 0;
        overflowed = false;
        while (TakesInput() && inIndex + 1 < inCount)
        {
            const int32_t pairs = Gather();
            if (pairs > 0)
                Process(workI.data(), workQ.data(), pairs);
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
        *bytes =
            static_cast<int32_t>(4 * std::min(outCount, static_cast<std::size_t>(INT32_MAX / 4)));
        outCount = 0;
        return *bytes;
    default:
        return 0;
    }
}

} // namespace sigkit
