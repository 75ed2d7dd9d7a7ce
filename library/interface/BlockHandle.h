#pragma once

#include "sigkit.h"
#include "stages/AudioConvert.h"
#include "stages/BlockStage.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace sigkit {

// What every processing handle holds: the converter between stored samples and floats, one
// processing stage, the blocks they last handed out, and the scratch text in which the
// configuration builds each parameter value.
struct ProcessingBlock
{
    const char* modeText = nullptr; // the record's texts: used only while init runs
    const char* formatText = nullptr;
    std::unique_ptr<AudioConvert> converter;
    std::unique_ptr<BlockStage> stage;
    const void* convBlock = nullptr;
    int32_t convBytes = 0;
    const void* stageBlock = nullptr;
    int32_t stageBytes = 0;
    char valueText[SIGKIT_TEXT_SIZE] = "";
    // Output gathered when a call's output comes in several pieces (a large input block is
    // pumped in slices).
    std::vector<uint8_t> gathered;

    ProcessingBlock();
    virtual ~ProcessingBlock();
    ProcessingBlock(const ProcessingBlock&) = delete;
    ProcessingBlock& operator=(const ProcessingBlock&) = delete;

    // Stored samples in, stored samples out, through converter and stage. Result: 1, or 0 (no
    // output, nothing processed) for a block whose output could pass what one call can count,
    // 2^31 - 1 bytes, and 0 (no output) when its pieces could not be gathered.
    int32_t Pump(const void* in, int32_t inBytes, const void** out, int32_t* outBytes);
    // The most output bytes a call with `inBytes` bytes can give.
    std::size_t MostOutputBytes(int32_t inBytes) const;

    // The front of the next block's processing (its samples decoded, into pairs, the stage's
    // front), ahead of the Pump that finishes it; Prepare and Pump may run at the same time on
    // two threads. Pump takes the oldest prepared block in place of the block it is given, which
    // must have the prepared block's byte count (the bytes are not read again). Result: 1; 0,
    // nothing done, when the stage has no front, the input is not complex, the block is larger
    // than kMostPreparedBytes, its output could pass what one call counts, or there is no memory.
    int32_t Prepare(const void* in, int32_t inBytes);
    static constexpr int32_t kMostPreparedBytes = SIGKIT_PREPARE_BYTES;

private:
    // A block that Prepare has done the front of.
    struct Prepared
    {
        std::vector<float> I; // the front's pairs
        std::vector<float> Q;
        int32_t bytes = 0;
        int32_t pairs = 0;
        bool ready = false; // the front is done
    };
    // Spent prepared blocks kept for reuse at most.
    static constexpr std::size_t kSpareBlocks = 16;
    // Blocks prepared, oldest first, and finished ones kept for reuse; under preparedLock.
    std::mutex preparedLock;
    std::deque<std::unique_ptr<Prepared>> preparedBlocks;
    // Set, for good, before the first block is put among the prepared: until then a data call
    // has none to look for and leaves the lock alone (taking it costs a wait for all the stores
    // that call's processing left in flight).
    std::atomic<bool> anyPrepared{false};
    std::vector<std::unique_ptr<Prepared>> spareBlocks;
    // The front thread's decoded samples of a piece and its pairs (Prepare's alone): at most
    // 2 kPart samples, which give at most kPart + 1 pairs.
    static constexpr std::size_t kScratchFloats = 2 * kPart + 2 * (kPart + 1);
    std::vector<float> prepareScratch;
    // Pump's part for a prepared block.
    int32_t PumpPrepared(Prepared& block, int32_t inBytes, const void** out, int32_t* outBytes);
    // Takes the stage's outputs of the block put last (held: an output not yet gathered).
    // False when they could not be gathered.
    bool DrainStage(bool& held);
    // Hands out the call's output: the converter's last output when it is the only one (held),
    // else what was gathered. Result: 1, or 0 when the held output could not be gathered.
    int32_t HandOut(bool held, const void** out, int32_t* outBytes);
    // The oldest prepared block, spent, back among the spare ones.
    void Recycle();
    // A slice of input into the converter and the stage.
    void PutSlice(const void* in, int32_t inBytes);
    // The stage's next output into stageBlock; false when it has none left.
    bool StageOutput();
    // That output converted back into convBlock.
    void ConvertOutput();
    // Appends the converted output to what is gathered; false when it could not be held.
    bool Gather();
};

} // namespace sigkit

// The handles named in the public header.
struct BlockHandle final : sigkit::ProcessingBlock
{
    int32_t sampleRate = 0;
    int32_t frequency = 0;
    int32_t outRateOrBand = 0;
    float amplify = 0.0f;
    const char* qualityText = nullptr;
};

struct IqHandle final : sigkit::ProcessingBlock
{
    const char* qualityText = nullptr;
};

struct InvertHandle final : sigkit::ProcessingBlock
{
};
