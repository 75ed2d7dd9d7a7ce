#pragma once

#include "dsp/rate/ChannelHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigkit::dsp {

// Exact rational rate change by L/M (interpolation by L, low-pass, decimation by M) as a bank of
// L branches, for C channels. With the prototype h of odd length N (gain L) and its centre
// D = (N - 1)/2, output k stands for input time k·M/L:
//     y[k] = Σ_n x[n]·h[k·M + D - n·L]
// which is branch φ = (k·M + D) mod L, T = ⌈N/L⌉ taps, over the T inputs up to
// ⌊(k·M + D)/L⌋. Outputs k and k + L use the same branch over windows M inputs apart, so the
// outputs of one Read are formed branch by branch, several at once (firBlock). L = M = 1 is a
// plain low-pass at one rate. The shape of the calls is HalfBandDecimator's.
class PolyphaseStage
{
public:
    // Result: false for an even or empty prototype, terms below 1, or sizes out of range.
    bool Reset(const std::vector<double>& prototype, int32_t L, int32_t M, int32_t channels,
               int32_t block);
    void Clear();
    // The vector kernels to run (the processor's choice after Reset; every variant gives the
    // same bits, which tests check by running the others).
    void UseKernels(const kernels::KernelTable& kernels) { table = &kernels; }

    int32_t Room() const { return history.Room(); }
    void Write(const float* const* in, std::ptrdiff_t stride, int32_t n);
    void WriteZeros(int32_t n);
    int32_t Read(float* const* out, int32_t limit);

    int64_t Written() const { return written; }
    int64_t Produced() const { return produced; }
    int64_t TailEnd(int64_t inputs) const;
    int64_t MaxOutputs(int64_t inputs) const;
    int32_t Taps() const { return N; }
    int32_t MacsPerOutput() const { return T; }

private:
    // The newest input output k needs.
    int64_t Newest(int64_t k) const;

    std::vector<float> bank; // branch φ at φ·T, T taps each, oldest sample first
    int32_t L = 1;
    int32_t M = 1;
    int32_t N = 0;
    int32_t T = 0;
    int64_t D = 0;
    int32_t channels = 0;
    ChannelHistory history;
    std::vector<float> group; // the outputs of one branch in one Read
    int64_t written = 0;
    int64_t produced = 0;
    const kernels::KernelTable* table = nullptr;
};

} // namespace sigkit::dsp
