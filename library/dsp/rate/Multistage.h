#pragma once

#include "dsp/rate/BankStage.h"
#include "dsp/rate/CascadePlan.h"
#include "dsp/rate/HalfBandDecimator.h"
#include "dsp/rate/HalfBandInterpolator.h"
#include "dsp/rate/PolyphaseStage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

namespace sigkit::dsp {

// Multistage decimation, interpolation or any rate change of C channels of floats (I/Q: two),
// designed from a MultistageRequest: the stages PlanCascade chooses, each designed equiripple (the
// half-bands and the polyphase prototype meet the request's attenuation; the prototype takes the
// ripple).
//
// Output ALIGNED: output sample k stands for time k/rateOut of the input, every stage's delay
// compensated; the first outputs are computed over the silence before the input. Flush gives the
// tail, so N input frames give exactly round(N·rateOut/rateIn) output frames (halves up).
// Streaming: any split of the input into calls gives the same output bits. Memory is taken at
// construction and does not grow with the signal.
class Multistage
{
public:
    // Nothing (and the reason in `status`) when the request is refused or cannot be designed.
    static std::unique_ptr<Multistage> Create(const MultistageRequest& request,
                                              RateStatus* status = nullptr);
    ~Multistage();
    Multistage(const Multistage&) = delete;
    Multistage& operator=(const Multistage&) = delete;

    // One array per channel: in[c][0 .. frames-1]; out[c] with room for MaxOutput(frames).
    // Result: the output frames written (nothing after Flush, or when MaxOutput(frames) does
    // not fit in 32 bits).
    int32_t Process(const float* const* in, int32_t frames, float* const* out);
    // Interleaved frames of Channels() floats; out with room for MaxOutput(frames) frames.
    int32_t ProcessInterleaved(const float* in, int32_t frames, float* out);
    // The tail after the last input: out[c] (or interleaved out) with room for MaxFlush().
    // After it the total output is round(N·rateOut/rateIn); a second Flush gives nothing.
    int32_t Flush(float* const* out);
    int32_t FlushInterleaved(float* out);
    // Back to the start of a new signal (the design is kept).
    void Reset();
    // Runs every stage on these vector kernels (Create chooses the processor's; all variants
    // give the same bits).
    void UseKernels(const kernels::KernelTable& kernels);

    int32_t MaxOutput(int32_t frames) const;
    int32_t MaxFlush() const { return maxFlush; }
    int32_t Channels() const { return channels; }
    // The stages as designed: kinds, rates, taps, multiply-adds.
    const CascadePlan& Plan() const { return plan; }
    int64_t FramesIn() const { return framesIn; }
    int64_t FramesOut() const { return framesOut; }

private:
    using Stage = std::variant<HalfBandDecimator, PolyphaseStage, BankStage, HalfBandInterpolator>;

    Multistage() = default;
    RateStatus Build(const MultistageRequest& request);
    bool BuildStage(const MultistageRequest& request, StagePlan& stage, int32_t block,
                    std::vector<double>& taps, int32_t& branches);
    int32_t Run(const float* const* in, std::ptrdiff_t inStride, int32_t frames, float* const* out,
                std::ptrdiff_t outStride);
    int32_t RunFlush(float* const* out, std::ptrdiff_t outStride);
    // Moves what stage s and those after it can give down the cascade; stage s gives at most
    // `limit`, the last one writes to out (frame `at` on, stride `outStride`). Result: frames
    // written to out.
    int32_t Drain(std::size_t s, int64_t limit, float* const* out, std::ptrdiff_t outStride,
                  int64_t at);

    CascadePlan plan;
    std::vector<Stage> stages;
    std::vector<int32_t> blocks; // most inputs stage s takes per piece
    int32_t channels = 0;
    int32_t maxFlush = 0;
    bool flushed = false;
    std::vector<float> scratch; // one piece of a stage's output, channel after channel
    std::vector<float*> scratchChannels;
    int32_t widest = 0; // frames per channel in scratch
    std::vector<const float*> inChannels;
    std::vector<float*> outChannels;
    std::vector<const float*> interleavedIn; // channel c of interleaved frames: base + c
    std::vector<float*> interleavedOut;
    int64_t finalTarget = 0;   // the last stage gives no output beyond this count
    std::vector<float> planar; // one piece of interleaved (I, Q) or stereo input, apart
    const kernels::KernelTable* table = nullptr;
    int64_t framesIn = 0;
    int64_t framesOut = 0;
};

} // namespace sigkit::dsp
