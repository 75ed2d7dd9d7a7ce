#include "interface/BlockHandle.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace sigkit {

namespace {

// Blocks larger than this go through the chain a slice at a time, so that no stage ever holds
// more than a slice's worth. A multiple of every stored sample size (1, 2, 3 and 4 bytes), so no
// sample is split; a complex pair split between slices is completed by the stage.
constexpr int32_t kSliceBytes = 24 * kPart;
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

std::size_t ProcessingBlock::MostOutputBytes(int32_t inBytes) const
{
    const auto samples =
        static_cast<std::size_t>(std::max(inBytes, 0) / converter->ForwardSampleBytes());
    return stage->MostOutputFloats(samples) *
           static_cast<std::size_t>(converter->ReverseSampleBytes());
}

void ProcessingBlock::PutSlice(const void* in, int32_t inBytes)
{
    converter->Put(0, in, inBytes);
    convBytes = 0;
    converter->Get(0, &convBlock, &convBytes);
    // Float samples pass the converter as the caller's own block, at any address: the stage
    // reads it as it lies.
    stage->Put(0, convBlock, convBytes);
}

bool ProcessingBlock::StageOutput()
{
    stageBytes = 0;
    return stage->Get(0, &stageBlock, &stageBytes) > 0;
}

void ProcessingBlock::ConvertOutput()
{
    converter->Put(1, stageBlock, stageBytes);
    convBytes = 0;
    // Port 0 again: the converter hands out whatever its last Put produced.
    converter->Get(0, &convBlock, &convBytes);
}

bool ProcessingBlock::Gather()
{
    if (convBytes <= 0)
        return true;
    const auto n = static_cast<std::size_t>(convBytes);
    if (gathered.size() + n > kMaxOutputBytes)
        return false;
    try
    {
        gathered.insert(gathered.end(), static_cast<const uint8_t*>(convBlock),
                        static_cast<const uint8_t*>(convBlock) + n);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool ProcessingBlock::DrainStage(bool& held)
{
    // A stage hands a slice's output out over several Gets only when it could not hold it at
    // once. Its output buffer (which the converter may pass on as it is) is reused by its next
    // Get: what was held is gathered first.
    for (bool first = true; first || stage->InputLeft(); first = false)
    {
        if (held && !Gather())
            return false;
        held = false;
        if (!StageOutput())
            break;
        ConvertOutput();
        held = convBytes > 0;
    }
    return true;
}

int32_t ProcessingBlock::HandOut(bool held, const void** out, int32_t* outBytes)
{
    if (held && gathered.empty())
    {
        if (out != nullptr)
            *out = convBlock;
        *outBytes = convBytes;
        return 1;
    }
    if (held && !Gather())
        return 0;
    if (!gathered.empty())
    {
        if (out != nullptr)
            *out = gathered.data();
        *outBytes = static_cast<int32_t>(gathered.size());
    }
    return 1;
}

int32_t ProcessingBlock::Pump(const void* in, int32_t inBytes, const void** out, int32_t* outBytes)
{
    if (outBytes == nullptr)
        return 1;
    *outBytes = 0;
    if (converter == nullptr || stage == nullptr)
        return 1;
    // A prepared block is taken by its byte count alone: its bytes need not be given again.
    Prepared* ahead = nullptr;
    // A block prepared for this call was prepared before it (the caller orders the two), so its
    // flag is seen here.
    if (anyPrepared.load(std::memory_order_acquire))
    {
        std::lock_guard lock(preparedLock);
        if (!preparedBlocks.empty())
            ahead = preparedBlocks.front().get();
    }
    if (ahead != nullptr)
        return PumpPrepared(*ahead, inBytes, out, outBytes);
    if (in == nullptr || inBytes < 0)
        inBytes = 0;
    // Refused whole rather than cut: the caller can hand the block over in smaller pieces.
    if (MostOutputBytes(inBytes) > kMaxOutputBytes)
        return 0;

    // The converter holds one output at a time: it is gathered before the converter runs again,
    // unless it is the call's only output, which is handed out as it is.
    gathered.clear();
    bool held = false;
    const auto* bytes = static_cast<const uint8_t*>(in);
    // 64-bit steps: the step after the last slice of a block near 2 GiB passes what 32 bits hold.
    for (int64_t at = 0; at == 0 || at < inBytes; at += kSliceBytes)
    {
        if (held && !Gather())
            return 0;
        held = false;
        PutSlice(bytes + at, static_cast<int32_t>(std::min<int64_t>(kSliceBytes, inBytes - at)));
        if (!DrainStage(held))
            return 0;
        if (inBytes == 0)
            break;
    }
    return HandOut(held, out, outBytes);
}

int32_t ProcessingBlock::Prepare(const void* in, int32_t inBytes)
{
    if (converter == nullptr || stage == nullptr || !converter->IsRunning() || !stage->CanPrepare())
        return 0;
    if (in == nullptr || inBytes < 0)
        inBytes = 0;
    if (inBytes > kMostPreparedBytes)
        return 0;
    const int32_t samples = inBytes / converter->ForwardSampleBytes();
    const auto room = static_cast<std::size_t>(samples / 2 + 1);
    if (stage->MostOutputFloatsForPairs(room) *
            static_cast<std::size_t>(converter->ReverseSampleBytes()) >
        kMaxOutputBytes)
        return 0;
    // Everything the block needs is had before the stage's front state changes: a block that
    // cannot be prepared leaves it as it was.
    Prepared* block = nullptr;
    try
    {
        std::unique_ptr<Prepared> entry;
        {
            std::lock_guard lock(preparedLock);
            if (!spareBlocks.empty())
            {
                entry = std::move(spareBlocks.back());
                spareBlocks.pop_back();
            }
        }
        if (entry == nullptr)
            entry = std::make_unique<Prepared>();
        prepareScratch.resize(kScratchFloats);
        entry->I.resize(room);
        entry->Q.resize(room); // left unwritten where the back reads I alone
        entry->bytes = inBytes;
        entry->pairs = 0;
        entry->ready = false;
        block = entry.get();
        anyPrepared.store(true, std::memory_order_release);
        std::lock_guard lock(preparedLock);
        preparedBlocks.push_back(std::move(entry));
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
    // A piece at a time through arrays of this thread's own, then into the block's arrays past
    // the cache: the thread that finishes the block reads them on another processor, and writing
    // lines that processor last held would wait for them at every line.
    const int32_t sampleBytes = converter->ForwardSampleBytes();
    const auto* bytes = static_cast<const uint8_t*>(in);
    float* decoded = prepareScratch.data();
    float* pieceI = decoded + 2 * kPart;
    float* pieceQ = pieceI + kPart + 1;
    const bool keepQ = stage->PreparedQNeeded();
    int32_t pairs = 0;
    for (int32_t at = 0; at < samples; at += 2 * kPart)
    {
        const int32_t n = std::min(2 * kPart, samples - at);
        converter->Decode(bytes + static_cast<std::size_t>(at) * sampleBytes, n, decoded);
        const int32_t made = stage->PrepareFloats(decoded, n, pieceI, pieceQ);
        kernels::StreamCopy(pieceI, made, block->I.data() + pairs);
        if (keepQ)
            kernels::StreamCopy(pieceQ, made, block->Q.data() + pairs);
        pairs += made;
    }
    kernels::StreamCopiesDone();
    std::lock_guard lock(preparedLock);
    block->pairs = pairs;
    block->ready = true;
    return 1;
}

int32_t ProcessingBlock::PumpPrepared(Prepared& block, int32_t inBytes, const void** out,
                                      int32_t* outBytes)
{
    {
        std::lock_guard lock(preparedLock);
        if (!block.ready || block.bytes != inBytes)
            return 0; // not the block prepared next
    }
    gathered.clear();
    stage->PutPrepared(block.I.data(), block.Q.data(), block.pairs);
    bool held = false;
    const bool drained = DrainStage(held);
    Recycle();
    if (!drained)
        return 0;
    return HandOut(held, out, outBytes);
}

void ProcessingBlock::Recycle()
{
    std::lock_guard lock(preparedLock);
    if (preparedBlocks.empty())
        return;
    if (spareBlocks.size() < kSpareBlocks)
    {
        try
        {
            spareBlocks.push_back(std::move(preparedBlocks.front()));
        }
        catch (const std::bad_alloc&)
        {
            // Not kept: freed with the queue's entry.
        }
    }
    preparedBlocks.pop_front();
}

} // namespace sigkit
