#pragma once

#include "ClipCounter.h"
#include "InputFile.h"
#include "OutputFile.h"
#include "Pass.h"
#include "ProcessingBlock.h"

#include <cstdint>
#include <optional>

namespace sigrun {

// How the blocks of a pass stopped flowing.
enum class PumpEnd
{
    Drained,     // the input has no more samples
    WriteFailed, // the output took a block only in part
    Stopped,     // a stop signal came
};

struct Pumped
{
    PumpEnd end = PumpEnd::Drained;
    int error = 0; // errno of a failed write
    long long bytesIn = 0;
    long long bytesOut = 0;
};

// Forces the number of threads that pump a pass: "1" or "2" (anything else leaves the choice
// to PumpThreads). Meant for tests and measurements: the output bytes are the same either way.
inline constexpr const char* kThreadsVariable = "SIGKIT_THREADS";

// Inputs shorter than this (some 35 s of 16-bit I/Q at 240 kHz, a few tenths of a second of
// work for the lighter modes) stay on one thread: handing blocks between threads has its own cost,
// which only a long pass wins back.
inline constexpr uint64_t kTwoThreadBytes = 32u << 20;

// The threads for a pass over an input of so many stored sample bytes: 2 from kTwoThreadBytes
// on, when the process may run on two processors, otherwise 1; kThreadsVariable overrides both.
int PumpThreads(uint64_t inputBytes);

// Pumps as the one-thread pump does, on two threads: this one reads the input and writes the
// output (counting clips and showing progress after each block written, as the one-thread pump
// does), a second one runs the processing block. They hand each other blocks through a few
// reused buffers, in order, so the output bytes are those of one thread. A stop signal is looked
// at between blocks written; a stop or a failed write ends the pass with what was written.
// Nothing, having read nothing, when no second thread can be started.
std::optional<Pumped> PumpTwoThreads(InputFile& input, ProcessingBlock& block, OutputFile& output,
                                     PassProgress& progress, ClipCounter* clips);

} // namespace sigrun
