#pragma once

#include "stages/Stage.h"
#include "stages/filters/BlockFilter.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace sigkit {

// The block handling of every processing stage. Put records the caller's block (no copy; any
// alignment). Get on port 0 takes it a part at a time (kPart samples or pairs) as complex
// samples - real input through the Hilbert splitter, complex input as I/Q pairs with an unpaired
// last value carried into the next block - and hands each part to the stage's Process, which
// claims room for its output. Start-up outputs are dropped with DropStartup.
//
// Output: before the first part the buffer grows, once, to the most output the rest of the block
// can give (never shrinking), at most one Get's limit. A part is processed only while its most
// output fits; what does not fit (a buffer that could not grow, an output beyond the limit) waits
// for the next Get, nothing dropped.
class BlockStage : public Stage
{
public:
    // The largest output one Get hands out: the most whole pairs whose bytes fit a count.
    static constexpr int32_t kMaxOutFloats = std::numeric_limits<int32_t>::max() / 8 * 2;

    ~BlockStage() override;

    void Stop() override { stopped = 1; }
    // Result: the whole floats of the block (bytes / 4; a negative count or a null block as 0),
    // 0 when stopped.
    int32_t Put(int32_t port, const void* block, int32_t bytes) override;
    // Port 0 processes as above; the other ports are the stage's own (GetPort).
    int32_t Get(int32_t port, const void** block, int32_t* bytes) override;

    bool IsStopped() const { return stopped != 0; }
    bool IsComplexInput() const { return complexInput != 0; }
    int32_t WarmDone() const { return warmDone; }
    // The start-up outputs dropped after Start.
    int32_t Discard() const { return discard; }
    std::size_t OutCapacity() const { return outBuffer.size(); }
    // True while the put block has input that a Get on port 0 would still take.
    bool InputLeft() const
    {
        return inputPresent != 0 && TakesInput() &&
               (prepared ? preparedAt < preparedPairs : inIndex + 1 < inCount);
    }
    // The most floats that the Gets of a block of `floats` floats can hand out, from the stage's
    // state now (a pending half pair included).
    std::size_t MostOutputFloats(std::size_t floats) const;

    // A block's processing split in two, for a caller that runs the parts on two threads (see
    // ProcessingBlock::Prepare): the front of block k + 1 may run while the Gets of block k run.
    // True when the stage has such a front and takes complex input.
    bool CanPrepare() const
    {
        return stopped == 0 && complexInput != 0 && TakesInput() && HasFront();
    }
    // The front for the next `count` floats of the input (the blocks in input order): their pairs
    // into I and Q (a pending half pair completed first, a lone last value kept for the next
    // block, as Put's blocks are taken), then the stage's front over them. Touches only the
    // front's state. Result: the pairs, at most count / 2 + 1.
    int32_t PrepareFloats(const float* floats, int32_t count, float* I, float* Q);
    // Prepared pairs as the block that the next Gets on port 0 take instead of a Put block, each
    // part through the stage's back alone. The arrays stay the caller's, and are overwritten.
    int32_t PutPrepared(float* I, float* Q, int32_t pairs);
    // False when the back reads the prepared I alone.
    bool PreparedQNeeded() const { return BackReadsQ(); }
    // The most output floats that `pairs` prepared pairs can give.
    std::size_t MostOutputFloatsForPairs(std::size_t pairs) const
    {
        return TakesInput() ? MostOutputs(pairs) : 0;
    }

protected:
    // `outLimitFloats` caps the output of one Get (whole pairs, at least one pair).
    BlockStage(std::size_t initialOutputFloats, int32_t outLimitFloats = kMaxOutFloats);

    // Turns the complex samples of a part (pairs of them, I and Q apart; the stage may overwrite
    // both arrays) into output floats with Claim.
    virtual void Process(float* I, float* Q, int32_t pairs) = 0;
    // The most output floats that `pairs` more pairs (real input: samples) can give from the
    // stage's state now; Process never claims more.
    virtual std::size_t MostOutputs(std::size_t pairs) const = 0;
    // False while the stage takes no input at all (the block stays unread).
    virtual bool TakesInput() const { return true; }
    // The split of Process for prepared blocks, in stages whose Process is Front, then Back, on
    // the same pairs. Front: the work that depends on the input and the front's own state alone
    // (the oscillator and mixer, the demodulator), in place, the demodulators' real values left
    // in I; at most kPart pairs. Back: the rest, which claims the output; at most kPart pairs.
    virtual bool HasFront() const { return false; }
    // False when Back reads I alone (the demodulators): Q need not be kept between the two.
    virtual bool BackReadsQ() const { return true; }
    virtual void Front(float* /*I*/, float* /*Q*/, int32_t /*pairs*/) {}
    virtual void Back(float* /*I*/, float* /*Q*/, int32_t /*pairs*/) {}
    // Ports other than 0; *bytes is 0 on entry. Result: the byte count.
    virtual int32_t GetPort(int32_t /*port*/, const void** /*block*/, int32_t* /*bytes*/)
    {
        return 0;
    }

    // What Start clears for every stage: the stopped flag, a pending half pair, the splitter's
    // history, the output and the start-up state, which drops the first `startupOutputs` outputs.
    void StartBlocks(int32_t startupOutputs);
    // How many of the next `count` outputs are start-up outputs to drop.
    int32_t DropStartup(int32_t count)
    {
        if (warmDone != 0)
            return 0;
        const int32_t remaining = discard - warmCount;
        if (count <= remaining)
        {
            warmCount += count;
            return count;
        }
        warmCount = 0;
        warmDone = 1;
        return remaining;
    }
    // The next `floats` output values to be written (room that MostOutputs promised).
    float* Claim(std::size_t floats)
    {
        if (outBuffer.size() - outCount < floats)
            return nullptr; // more than MostOutputs promised: never happens
        float* at = outBuffer.data() + outCount;
        outCount += floats;
        return at;
    }
    // Interleaves n pairs into claimed output: first[k], second[k], each times gain.
    void EmitPairs(const float* first, const float* second, int32_t n, float gain = 1.0f);
    bool HasInput() const { return inputPresent != 0; }
    const float* OutputData() const { return outBuffer.data(); }
    std::size_t TakeOutput()
    {
        const std::size_t count = outCount;
        outCount = 0;
        return count;
    }

    int32_t complexInput = 0;
    std::unique_ptr<BlockFilter> splitter; // real input into analytic pairs
    const kernels::KernelTable& table;

private:
    // Pairs that the rest of the block gives (real input: samples).
    std::size_t PairsLeft() const;
    // Grows the output buffer towards `most` floats (kept as it is when it cannot grow).
    void ReserveOutput(std::size_t most);
    // The Get of a prepared block: its parts through Back while their output fits.
    void TakePrepared();
    // The next part of the put block as complex pairs (at most `most`), in workI and workQ.
    // Result: pairs.
    int32_t Gather(int32_t most);
    // Pairs from the `taken` floats at `floats` (`left` floats remain in the block from there),
    // at most `most`: a pending half pair completed first, then whole pairs, and a lone last value
    // of the block kept as the pending half. Result: the pairs; `used`: the floats taken.
    int32_t PairUp(const float* floats, int32_t taken, int32_t left, int32_t most, float* I,
                   float* Q, int32_t& used);
    // The next `count` floats of the block at float alignment.
    const float* Next(int32_t count);

    int32_t stopped = 1;
    int32_t inputPresent = 0;
    const unsigned char* inBlock = nullptr; // the caller's, not copied
    bool inAligned = true;
    int32_t inCount = 0;  // floats in it
    int32_t inIndex = -1; // the last float taken
    int32_t pendingHalf = 0;
    float pendingValue = 0.0f;
    int32_t discard = 0;
    int32_t warmCount = 0;
    int32_t warmDone = 0;
    int32_t outLimit;
    std::size_t outCount = 0;
    ZeroedFloats outBuffer;          // written before it is read: grows without keeping its values
    std::vector<float> workI, workQ; // a part's pairs, kPart each
    std::vector<float> staging;      // a part of a block that lies off float alignment
    // The prepared block put last (PutPrepared), and the pairs of it taken.
    bool prepared = false;
    float* preparedI = nullptr;
    float* preparedQ = nullptr;
    int32_t preparedPairs = 0;
    int32_t preparedAt = 0;
};

} // namespace sigkit
