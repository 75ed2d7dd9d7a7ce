#include "stages/BlockStage.h"

#include "stages/filters/HilbertSplitter.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sigkit {

BlockStage::BlockStage(std::size_t initialOutputFloats, int32_t outLimitFloats)
    : splitter(std::make_unique<HilbertSplitter>()), table(kernels::Active()),
      outLimit(std::max(2, std::min(outLimitFloats, kMaxOutFloats) / 2 * 2)),
      outBuffer(initialOutputFloats), workI(kPart, 0.0f), workQ(kPart, 0.0f),
      staging(2 * kPart + 1, 0.0f)
{
}

BlockStage::~BlockStage() = default;

void BlockStage::StartBlocks(int32_t startupOutputs)
{
    stopped = 0;
    pendingHalf = 0;
    pendingValue = 0.0f;
    splitter->Reset();
    discard = startupOutputs;
    warmDone = 0;
    warmCount = 0;
    outCount = 0;
}

int32_t BlockStage::Put(int32_t /*port*/, const void* block, int32_t bytes)
{
    if (stopped != 0)
        return 0;
    inBlock = static_cast<const unsigned char*>(block);
    inAligned = reinterpret_cast<std::uintptr_t>(block) % alignof(float) == 0;
    inCount = (block != nullptr && bytes > 0) ? bytes / 4 : 0;
    inIndex = -1;
    outCount = 0;
    inputPresent = 1;
    prepared = false;
    return inCount;
}

int32_t BlockStage::PutPrepared(float* I, float* Q, int32_t pairs)
{
    if (stopped != 0)
        return 0;
    inBlock = nullptr;
    inCount = 0;
    inIndex = -1;
    outCount = 0;
    inputPresent = 1;
    prepared = true;
    preparedI = I;
    preparedQ = Q;
    preparedPairs = std::max(pairs, 0);
    preparedAt = 0;
    return preparedPairs;
}

int32_t BlockStage::PairUp(const float* floats, int32_t taken, int32_t left, int32_t most, float* I,
                           float* Q, int32_t& used)
{
    int32_t pairs = 0;
    used = 0;
    if (pendingHalf != 0 && taken > 0)
    {
        // The first value completes the pair the last block began.
        I[0] = pendingValue;
        Q[0] = floats[0];
        pendingHalf = 0;
        pairs = 1;
        used = 1;
    }
    const int32_t whole = std::min((taken - used) / 2, most - pairs);
    table.deinterleave(floats + used, whole, I + pairs, Q + pairs);
    pairs += whole;
    used += 2 * whole;
    if (left - used == 1)
    {
        // The pair is completed by the first value of the next block.
        pendingValue = floats[used];
        pendingHalf = 1;
        ++used;
    }
    return pairs;
}

int32_t BlockStage::PrepareFloats(const float* floats, int32_t count, float* I, float* Q)
{
    int32_t used = 0;
    const int32_t pairs = PairUp(floats, count, count, count / 2 + 1, I, Q, used);
    for (int32_t at = 0; at < pairs; at += kPart)
        Front(I + at, Q + at, std::min(kPart, pairs - at));
    return pairs;
}

std::size_t BlockStage::PairsLeft() const
{
    const auto left = static_cast<std::size_t>(inCount - (inIndex + 1));
    return complexInput != 0 ? (left + static_cast<std::size_t>(pendingHalf)) / 2 : left;
}

std::size_t BlockStage::MostOutputFloats(std::size_t floats) const
{
    if (!TakesInput())
        return 0;
    return MostOutputs(complexInput != 0 ? (floats + static_cast<std::size_t>(pendingHalf)) / 2
                                         : floats);
}

const float* BlockStage::Next(int32_t count)
{
    const unsigned char* at = inBlock + static_cast<std::size_t>(inIndex + 1) * sizeof(float);
    if (inAligned)
        return reinterpret_cast<const float*>(at);
    std::memcpy(staging.data(), at, static_cast<std::size_t>(count) * sizeof(float));
    return staging.data();
}

int32_t BlockStage::Gather(int32_t most)
{
    float* I = workI.data();
    float* Q = workQ.data();
    const int32_t left = inCount - (inIndex + 1);
    if (complexInput == 0)
    {
        // Real input: the analytic pair of every sample.
        const int32_t samples = std::min(left, most);
        splitter->StepBlock(Next(samples), nullptr, samples, I, Q);
        inIndex += samples;
        return samples;
    }
    const int32_t taken = std::min(left, 2 * most + 1);
    int32_t used = 0;
    const int32_t pairs = PairUp(Next(taken), taken, left, most, I, Q, used);
    inIndex += used;
    return pairs;
}

void BlockStage::ReserveOutput(std::size_t most)
{
    most = std::min(most, static_cast<std::size_t>(outLimit));
    // Called with no output held (a Get's first step). Where no larger buffer can be had, the
    // block goes out over several Gets through the one it has.
    if (outBuffer.size() < most)
        outBuffer.Replace(most);
}

void BlockStage::TakePrepared()
{
    ReserveOutput(MostOutputs(static_cast<std::size_t>(preparedPairs - preparedAt)));
    const std::size_t room = std::min(outBuffer.size(), static_cast<std::size_t>(outLimit));
    while (preparedAt < preparedPairs)
    {
        int32_t pairs = std::min(kPart, preparedPairs - preparedAt);
        while (pairs > 0 && MostOutputs(static_cast<std::size_t>(pairs)) > room - outCount)
            pairs /= 2;
        if (pairs == 0)
            break; // no room for one more pair: the rest waits for the next Get
        Back(preparedI + preparedAt, preparedQ + preparedAt, pairs);
        preparedAt += pairs;
    }
}

void BlockStage::EmitPairs(const float* first, const float* second, int32_t n, float gain)
{
    float* out = Claim(2 * static_cast<std::size_t>(n));
    if (out == nullptr)
        return;
    for (int32_t k = 0; k < n; ++k)
    {
        *out++ = first[k] * gain;
        *out++ = second[k] * gain;
    }
}

int32_t BlockStage::Get(int32_t port, const void** block, int32_t* bytes)
{
    if (bytes == nullptr)
        return 0;
    *bytes = 0;
    if (port != 0)
        return GetPort(port, block, bytes);
    if (inputPresent == 0)
        return 0;
    outCount = 0;
    if (TakesInput() && prepared)
        TakePrepared();
    else if (TakesInput())
    {
        ReserveOutput(MostOutputs(PairsLeft()));
        const std::size_t room = std::min(outBuffer.size(), static_cast<std::size_t>(outLimit));
        while (inIndex + 1 < inCount)
        {
            // A lone last value of complex input is gathered as the pending half.
            int32_t pairs = static_cast<int32_t>(std::min<std::size_t>(kPart, PairsLeft()));
            while (pairs > 0 && MostOutputs(static_cast<std::size_t>(pairs)) > room - outCount)
                pairs /= 2;
            if (pairs == 0 && PairsLeft() > 0)
                break; // no room for one more pair: the rest waits for the next Get
            const int32_t gathered = Gather(std::max(pairs, 1));
            if (gathered > 0)
                Process(workI.data(), workQ.data(), gathered);
        }
    }
    if (block != nullptr)
        *block = outBuffer.data();
    *bytes = static_cast<int32_t>(sizeof(float) * TakeOutput());
    return *bytes;
}

} // namespace sigkit
