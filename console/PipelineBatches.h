#pragma once

// The batches in which a two-thread pass hands blocks from one thread to the other, and how their
// processing is split between the threads (see PumpTwoThreads).
#include "InputFile.h"
#include "Pipeline.h"
#include "ProcessingBlock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sigrun::pipeline {

// A batch is handed over once it holds this many input bytes or this many blocks.
constexpr std::size_t kBatchBytes = 256 << 10;
constexpr std::size_t kBatchBlocks = 64;
// Blocks of more bytes, and output beyond this much per batch, are lent instead of copied: their
// owner makes nothing new until the other thread is done with them. Memory stays bounded.
constexpr std::size_t kCopyLimit = 4 << 20;

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Who does what with a batch whose processing the block can split (ProcessingBlock::Prepare).
enum class Split
{
    Whole,          // the processing thread processes it, block by block
    ReaderPrepares, // the reading thread does the first part, the processing thread the rest
    WorkerPrepares, // the processing thread does the first part, the reading thread the rest
};

// One block of the input as a batch holds it, and its output once processed.
struct Piece
{
    std::size_t inAt = 0;       // where its bytes start in the batch's input copy
    const void* lent = nullptr; // the reading block's own bytes, when not copied
    int32_t inBytes = 0;
    std::size_t outAt = 0;     // where its output starts in the batch's output copy
    const void* out = nullptr; // its output, once the writer may take it
    int32_t outBytes = 0;
    int failed = 0; // the processing block's failure on it
};

// Blocks read one after the other, processed in that order and written in that order.
struct Batch
{
    std::vector<unsigned char> in;
    std::vector<Piece> pieces; // room for kBatchBlocks, made at the start
    std::vector<unsigned char> out;
    // The batch prepared as one block (see Prepare): its first piece's output is the whole
    // batch's, the others' none.
    bool joined = false;
    Split split = Split::Whole;
    // The input bytes just before the batch, when a second block may take batches; whether the
    // reading thread processed the batch itself, on that block.
    std::vector<unsigned char> prefix;
    bool byReader = false;
    // Seconds spent on it: the reading thread reading and writing it and on its part of the
    // processing, the processing thread on its part.
    double ioSeconds = 0.0;
    double readerSeconds = 0.0;
    double workerSeconds = 0.0;
};

// Appends the bytes to store. False, store unchanged, when that would take it past kCopyLimit
// or no room can be had.
bool Append(std::vector<unsigned char>& store, const void* bytes, int32_t count);

// The batch's blocks as one block, its first part done by the calling thread: the other thread
// then makes the batch's output in one call, which is written as the first block's (the others
// have none; progress still goes block by block). A block's trailing part of a sample is not
// carried into the next one, so only blocks of whole samples are joined. False (the batch as it
// was) when they cannot be, or when the processing block does not take the batch.
bool Prepare(ProcessingBlock& block, Batch& batch, int32_t sampleBytes);

// Reads blocks into the batch until it is full or the input ends. Result: true when its last
// block is lent (too large to copy).
bool Fill(InputFile& input, Batch& batch, bool& inputEnded);

// The split whose busier thread has the least to do, from the seconds a trial took with the
// reading thread preparing: its reading and writing, its first parts, the other thread's rest.
Split ChooseSplit(double io, double first, double rest);

// The split that kSplitVariable forces, if any: from the start, or ("then-worker", "then-whole")
// in place of the trial's choice.
bool ForcedSplit(Split& split, std::optional<Split>& afterTrial);

// Gives the block the bytes, their output dropped (see SecondBlock).
void Drop(ProcessingBlock& block, const std::vector<unsigned char>& bytes);

// True when kSplitVariable says "alternate": a second block takes every other batch.
bool AlternateForced();

// Keeps the last `memory` bytes of the input read so far (tail) and gives the batch the bytes
// before it (prefix) once that many have been read; the prefix stays empty before.
void KeepTail(Batch& batch, std::vector<unsigned char>& tail, std::size_t memory);

// The reading thread's side of a second block (see SecondBlock): which batches it takes, and its
// processing of them.
class SharedBatches
{
public:
    SharedBatches(SecondBlock second, int32_t sampleBytes);
    bool Active() const { return second.block != nullptr; }
    // Each batch read, in order: processed here, on the second block (its byReader set), when
    // it is this thread's turn, it starts and ends on whole samples, holds all its bytes, comes
    // after enough input to give the block first and is not split otherwise (whole).
    void Offer(Batch& batch, std::size_t number, bool whole);
    // Each batch written, in order (not split otherwise): its seconds.
    void Written(const Batch& batch);
    // The share of the batches this thread takes so that both threads are as busy: it reads and
    // writes each batch (io) and processes its share s of them, the other thread the rest:
    // io + s·process = (1 - s)·process. None until a few batches are timed.
    double Share() const;

private:
    void Take(Batch& batch, std::size_t number);

    SecondBlock second;
    uint64_t sampleBytes;
    bool alternate; // forced: every other batch
    std::vector<unsigned char> tail;
    std::size_t next = SIZE_MAX; // the batch after the last one taken (none yet)
    uint64_t offset = 0;         // input bytes read
    std::size_t taken = 0;
    // Seconds of the batches written: this thread's reading and writing, the processing (on
    // either thread).
    double ioSeconds = 0.0;
    double processSeconds = 0.0;
    std::size_t timed = 0;
};

} // namespace sigrun::pipeline
