#include "PipelineBatches.h"

#include "Pipeline.h"
#include "platform/Threads.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace sigrun::pipeline {

// Appends the bytes to store. False, store unchanged, when that would take it past kCopyLimit
// or no room can be had.
bool Append(std::vector<unsigned char>& store, const void* bytes, int32_t count)
{
    if (count <= 0)
        return true;
    const auto size = static_cast<std::size_t>(count);
    if (size > kCopyLimit - std::min(store.size(), kCopyLimit))
        return false;
    try
    {
        const auto* first = static_cast<const unsigned char*>(bytes);
        store.insert(store.end(), first, first + size);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    return true;
}

// The batch's blocks as one block, its first part done by the calling thread: the other thread
// then makes the batch's output in one call, which is written as the first block's (the others
// have none; progress still goes block by block). A block's trailing part of a sample is not
// carried into the next one, so only blocks of whole samples are joined. False (the batch as it
// was) when they cannot be, or when the processing block does not take the batch.
bool Prepare(ProcessingBlock& block, Batch& batch, int32_t sampleBytes)
{
    if (batch.pieces.empty() || sampleBytes <= 0)
        return false;
    for (const Piece& piece : batch.pieces)
        if (piece.lent != nullptr || piece.inBytes % sampleBytes != 0)
            return false;
    const auto bytes = static_cast<int32_t>(batch.in.size());
    batch.joined = block.Prepare(batch.in.data(), bytes);
    return batch.joined;
}

// Reads blocks into the batch until it is full or the input ends. Result: true when its last
// block is lent (too large to copy).
bool Fill(InputFile& input, Batch& batch, bool& inputEnded)
{
    batch.in.clear();
    batch.pieces.clear();
    batch.joined = false;
    batch.split = Split::Whole;
    batch.byReader = false;
    while (batch.in.size() < kBatchBytes && batch.pieces.size() < kBatchBlocks)
    {
        Piece piece;
        const void* in = nullptr;
        if (!input.Next(in, piece.inBytes))
        {
            inputEnded = true;
            return false;
        }
        piece.inAt = batch.in.size();
        const bool lent = !Append(batch.in, in, piece.inBytes);
        if (lent)
            piece.lent = in;
        batch.pieces.push_back(piece); // within the room made at the start
        if (lent)
            return true;
    }
    return false;
}

Split ChooseSplit(double io, double first, double rest)
{
    const double readerPrepares = std::max(io + first, rest);
    const double workerPrepares = std::max(io + rest, first);
    const double whole = std::max(io, first + rest);
    if (workerPrepares < readerPrepares && workerPrepares <= whole)
        return Split::WorkerPrepares;
    if (whole < readerPrepares)
        return Split::Whole;
    return Split::ReaderPrepares;
}

// The split that kSplitVariable forces, if any: from the start, or ("then-worker", "then-whole")
// in place of the trial's choice.
bool ForcedSplit(Split& split, std::optional<Split>& afterTrial)
{
    const char* word = std::getenv(kSplitVariable);
    if (word == nullptr)
        return false;
    if (std::strcmp(word, "then-worker") == 0)
        afterTrial = Split::WorkerPrepares;
    else if (std::strcmp(word, "then-whole") == 0)
        afterTrial = Split::Whole;
    if (afterTrial)
        return false;
    if (std::strcmp(word, "reader") == 0)
        split = Split::ReaderPrepares;
    else if (std::strcmp(word, "worker") == 0)
        split = Split::WorkerPrepares;
    else if (std::strcmp(word, "whole") == 0)
        split = Split::Whole;
    else
        return false;
    return true;
}

void Drop(ProcessingBlock& block, const std::vector<unsigned char>& bytes)
{
    if (bytes.empty())
        return;
    const void* out = nullptr;
    int32_t outBytes = 0;
    block.Process(bytes.data(), static_cast<int32_t>(bytes.size()), out, outBytes);
}

bool AlternateForced()
{
    const char* word = std::getenv(kSplitVariable);
    return word != nullptr && std::strcmp(word, "alternate") == 0;
}

void KeepTail(Batch& batch, std::vector<unsigned char>& tail, std::size_t memory)
{
    batch.prefix.clear();
    if (tail.size() == memory)
        batch.prefix = tail;
    for (const Piece& piece : batch.pieces)
        if (piece.lent != nullptr)
        {
            tail.clear(); // its bytes are not in the batch's copy: the tail starts again
            return;
        }
    const std::size_t size = batch.in.size();
    if (size >= memory)
        tail.assign(batch.in.end() - static_cast<std::ptrdiff_t>(memory), batch.in.end());
    else
    {
        tail.insert(tail.end(), batch.in.begin(), batch.in.end());
        if (tail.size() > memory)
            tail.erase(tail.begin(), tail.end() - static_cast<std::ptrdiff_t>(memory));
    }
}

namespace {

// Batches written before the reading thread takes any: their seconds settle its share.
constexpr std::size_t kShareAfter = 8;

} // namespace

SharedBatches::SharedBatches(SecondBlock second, int32_t sampleBytes)
    : second(second), sampleBytes(static_cast<uint64_t>(std::max(sampleBytes, 1))),
      alternate(AlternateForced())
{
}

void SharedBatches::Offer(Batch& batch, std::size_t number, bool whole)
{
    const bool startsWhole = offset % sampleBytes == 0;
    bool copied = true;
    for (const Piece& piece : batch.pieces)
    {
        offset += static_cast<uint64_t>(piece.inBytes);
        copied = copied && piece.lent == nullptr;
    }
    KeepTail(batch, tail, second.memoryBytes);
    if (!whole || !startsWhole || offset % sampleBytes != 0 || !copied || batch.prefix.empty())
        return;
    if (alternate ? number % 2 == 1 : static_cast<double>(taken) < Share() * (number + 1))
        Take(batch, number);
}

void SharedBatches::Written(const Batch& batch)
{
    ioSeconds += batch.ioSeconds;
    processSeconds += batch.byReader ? batch.readerSeconds : batch.workerSeconds;
    ++timed;
}

double SharedBatches::Share() const
{
    if (timed < kShareAfter || processSeconds <= 0.0)
        return 0.0;
    return std::clamp((processSeconds - ioSeconds) / (2.0 * processSeconds), 0.0, 0.5);
}

// Block by block into the batch's output copy. Left to the processing thread (which gives its
// own block the input before) when that copy cannot hold the output.
void SharedBatches::Take(Batch& batch, std::size_t number)
{
    const Clock::time_point started = Clock::now();
    ProcessingBlock& other = *second.block;
    if (number != next)
        Drop(other, batch.prefix);
    next = SIZE_MAX;
    batch.out.clear();
    for (Piece& piece : batch.pieces)
    {
        const void* out = nullptr;
        int32_t outBytes = 0;
        other.Process(batch.in.data() + piece.inAt, piece.inBytes, out, outBytes);
        piece.outBytes = std::max(outBytes, 0);
        piece.failed = other.Failure();
        piece.outAt = batch.out.size();
        if (!Append(batch.out, out, piece.outBytes))
            return;
        if (piece.failed != 0)
            break; // the pass ends with this block
    }
    next = number + 1;
    batch.byReader = true;
    batch.readerSeconds = SecondsSince(started);
    ++taken;
}

} // namespace sigrun::pipeline

namespace sigrun {

// How many threads pump a pass (declared in Pipeline.h).
int PumpThreads(uint64_t inputBytes)
{
    if (const char* forced = std::getenv(kThreadsVariable))
    {
        if (std::strcmp(forced, "1") == 0)
            return 1;
        if (std::strcmp(forced, "2") == 0)
            return 2;
    }
    return inputBytes >= kTwoThreadBytes && platform::UsableProcessors() >= 2 ? 2 : 1;
}

bool PumpsOnTwoThreads(const InputFile& input, const char* outputName)
{
    const bool live = input.Streamed() || IsStandardStream(outputName);
    return !live && PumpThreads(input.DeclaredBytes()) == 2;
}

} // namespace sigrun
