#pragma once

#include "InputFile.h"
#include "Pass.h"
#include "ProcessingBlock.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace sigrun {

// How the blocks of a pass stopped flowing.
enum class PumpEnd
{
    Drained,       // the input has no more samples
    WriteFailed,   // the output took a block only in part
    Stopped,       // a stop signal came
    ProcessFailed, // the processing block could not process a block
};

struct Pumped
{
    PumpEnd end = PumpEnd::Drained;
    int error = 0; // a failed write's code (the sink's own), or the processing block's failure
    long long bytesIn = 0;
    long long bytesOut = 0;
};

// Where the outputs of a pump go: one block's output at a time, in the order of the input.
class BlockSink
{
public:
    virtual ~BlockSink() = default;
    // Appends one block's output (a count of 0 writes nothing). False when it cannot be written,
    // the reason in error, a code of the sink's own.
    virtual bool Write(const void* block, int32_t bytes, int& error) = 0;
};

// Forces the number of threads that pump a pass: "1" or "2" (anything else leaves the choice
// to PumpThreads). Meant for tests and measurements: the output bytes are the same either way.
inline constexpr const char* kThreadsVariable = "SIGKIT_THREADS";

// Forces how a pass on two threads splits a batch's processing, where the processing block can
// split it: "reader" (the reading thread does the first part), "worker" (the processing thread
// does it and the reading thread the rest), "whole" (no split). Otherwise the first batches are
// timed and the split whose busier thread has the least to do is kept ("then-worker" and
// "then-whole" keep that one instead). "alternate" has the reading thread take every other batch
// on a second block where there is one (see SecondBlock), instead of those that keep both
// threads busy. For tests and measurements: the output bytes are the same every way.
inline constexpr const char* kSplitVariable = "SIGKIT_SPLIT";

// Inputs shorter than this (some 35 s of 16-bit I/Q at 240 kHz, a few tenths of a second of
// work for the lighter modes) stay on one thread: handing blocks between threads has its own cost,
// which only a long pass wins back.
inline constexpr uint64_t kTwoThreadBytes = 32u << 20;

// The threads for a pass over an input of so many stored sample bytes: 2 from kTwoThreadBytes
// on, when the process may run on two processors, otherwise 1; kThreadsVariable overrides both.
int PumpThreads(uint64_t inputBytes);

// True when a pass from the input into the output is to be pumped on two threads: PumpThreads
// says 2 for the input's declared length, and no pipe is at either end. A pipe is live use: every
// block goes on as soon as it is processed, which the second thread's batches would hold back.
bool PumpsOnTwoThreads(const InputFile& input, const char* outputName);

// A second processing block of the same processing, for one whose output for a block depends on
// the block and on no more than the `memoryBytes` of input before it (whole samples). Which
// block took a batch does not show in the output: a block given a batch whose predecessor the
// other block took is first given those bytes, their output dropped.
struct SecondBlock
{
    ProcessingBlock* block = nullptr;
    std::size_t memoryBytes = 0;
};

// Pumps as the one-thread pump does, on two threads: this one reads the input and hands each
// block's output to the sink (showing progress after each block written, as the one-thread pump
// does), a second one runs the processing block. They hand each other blocks through a few
// reused buffers, in order, so the output bytes are those of one thread. Where the processing
// block can split its work (ProcessingBlock::Prepare), a batch of blocks is processed as one: its
// first part (decoding, oscillator and mixer, demodulator) on one thread, the rest on the other,
// which way round measured on the first batches (see kSplitVariable). A stop signal is looked
// at between blocks written; a stop or a failed write ends the pass with what was written. A
// block the processing block fails on (its Failure() not 0) ends it once the output made before
// the failure is written, the block itself not counted in. Nothing, having read nothing, when no
// second thread can be started.
//
// With a second block (see SecondBlock) the reading thread also processes whole batches itself
// on it, while the processing thread has others waiting.
std::optional<Pumped> PumpTwoThreads(InputFile& input, ProcessingBlock& block, BlockSink& output,
                                     PassProgress& progress, SecondBlock second = {});

} // namespace sigrun
