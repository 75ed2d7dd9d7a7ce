#pragma once

#include "dsp/rate/ChannelHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigkit::dsp {

// Decimation by 2 with a half-band low-pass, for C channels (I/Q: two). Output k stands for input
// time 2k: y[k] = x[2k]/2 + Σ_i g[i]·x[2k - 2m + 1 + 2i], i = 0 .. 2m-1, where g holds the taps
// at odd distances from the centre of the 4m - 1 designed ones. The odd samples are kept apart
// from the even ones, so each output is one dot product of 2m taps over consecutive memory,
// several outputs at once (the vector kernels' firBlock), and the even sample's half added after.
//
// Every stage of the rate changer has this shape: Write inputs, Read the outputs they make
// available (inputs after the newest one written are not assumed zero: an output waits for its
// whole window), WriteZeros to run out the tail; TailEnd says how many outputs the inputs reach.
class HalfBandDecimator
{
public:
    // `halfBand`: taps as DesignHalfBand gives them (length 4m - 1). `block`: the most inputs
    // written between two Reads. Result: false when the taps are not a half-band or the sizes
    // are out of range.
    bool Reset(const std::vector<double>& halfBand, int32_t channels, int32_t block);
    // Back to the start: nothing written, zeros before the first input.
    void Clear();
    // The vector kernels to run (the processor's choice after Reset; every variant gives the
    // same bits, which tests check by running the others).
    void UseKernels(const kernels::KernelTable& kernels) { table = &kernels; }

    int32_t Room() const;
    void Write(const float* const* in, std::ptrdiff_t stride, int32_t n);
    void WriteZeros(int32_t n);
    // Up to `limit` outputs into out[c][0 ..]; result: how many.
    int32_t Read(float* const* out, int32_t limit);

    int64_t Written() const { return written; }
    int64_t Produced() const { return produced; }
    // Outputs whose window holds any of the first `inputs` inputs.
    int64_t TailEnd(int64_t inputs) const;
    // Most outputs one Read can give after `inputs` more inputs.
    int64_t MaxOutputs(int64_t inputs) const { return inputs / 2 + 2; }
    int32_t Taps() const { return 4 * m - 1; }
    int32_t MacsPerOutput() const { return 2 * m + 1; }

private:
    void Split(const float* const* in, std::ptrdiff_t stride, int32_t n, bool zeros);

    std::vector<float> taps; // g, 2m taps, oldest sample first
    int32_t m = 0;
    int32_t channels = 0;
    ChannelHistory even; // index j holds x[2j]
    ChannelHistory odd;  // index j holds x[2j + 1]
    std::vector<const float*> from;
    int64_t written = 0;
    int64_t produced = 0;
    const kernels::KernelTable* table = nullptr;
};

} // namespace sigkit::dsp
