#pragma once

#include "InputFile.h"
#include "Pipeline.h"
#include "SigkitCalls.h"
#include "Values.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sigrun {

// The centre frequency and start time an output carries (SIGKIT_META_ bits of the two).
struct OutputMetadata
{
    uint32_t bits = 0;
    double centre = 0.0; // Hz
    double start = 0.0;  // seconds since 1970-01-01 00:00 UTC
};

// The processing object and the output file of one pass of the sigkit_ interface; both are given
// up when the pass ends early. The pass's progress is taken off the screen before a failure is
// told.
class KindRun
{
public:
    KindRun(const SigkitCalls& api, PassProgress& progress) : api(api), progress(progress) {}
    ~KindRun();
    KindRun(const KindRun&) = delete;
    KindRun& operator=(const KindRun&) = delete;

    // Makes the processing object and creates the output. Result: an exit status.
    int Start(const Settings& settings, const InputFile& input, const char* outputName,
              bool noReplace, const OutputMetadata& metadata);
    // Processes frames and writes what comes out; with in null, the flush. Result: an exit
    // status, the failure reported.
    int Feed(const float* in, std::size_t frames);
    // One call of the processing object on the first of the frames: at most so many that its
    // output stays within bounds, however high the output rate is against the input's (with in
    // null, a call of the flush). Their output follows the first `used` floats of out (grown
    // as needed), used counting it in; in and frames move past them. Result: the library's
    // status.
    int Step(const float*& in, std::size_t& frames, std::vector<float>& out, std::size_t& used);
    // Writes frames of output. Result: the library's status.
    int Write(const float* frames, std::size_t count);
    // Completes and publishes the output. Result: an exit status.
    int Complete(bool noReplace);
    // Gives the output up, what was written kept as the partial file; the text for a message.
    std::string Abandon();
    // A failed write's exit status and its line: a reader of standard output that went away
    // ends the run as the signal would have.
    int WriteFailed(int status);
    // A processing call's refusal: its exit status and line, the output given up.
    int ProcessFailed(int status);

    // Floats per frame of output.
    std::size_t FloatsOut() const { return floatsOut; }
    // The most output bytes that so many input frames can make.
    std::size_t OutputBytes(std::size_t frames) const;

    long long framesOut = 0;
    uint64_t clipped = 0;

private:
    // Standard output: a WAV stream with no length declared, or raw samples of -T's type.
    int StartStream(const Settings& settings, const sigkit_wav_format& format, double rate,
                    int channels);

    const SigkitCalls& api;
    PassProgress& progress;
    std::string name;   // the output's
    std::string quoted; // the output's, for messages
    sigkit_processor* processor = nullptr;
    sigkit_wav_writer* writer = nullptr;
    std::size_t floatsIn = 1;  // per input frame
    std::size_t floatsOut = 1; // per output frame
    std::vector<float> out;
    int failedWrite = SIGKIT_OK; // the library's status of a write that failed
};

// The blocks of the input through the run on two threads, as PumpTwoThreads pumps them: this one
// reads the input and writes the run's output, the other decodes the frames and processes them.
// framesIn: the frames decoded from the blocks written. std::bad_alloc when the processing thread
// ran short of memory (once what came before is written). Nothing, having read nothing, when the
// pass is not for two threads (too short, a pipe at an end, outputs so large against the input
// that a block's would not stay within bounds) or no second thread can be started.
std::optional<Pumped> PumpKindRun(KindRun& run, InputFile& input, const char* outputName,
                                  PassProgress& progress, long long& framesIn);

} // namespace sigrun
