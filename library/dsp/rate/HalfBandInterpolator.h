#pragma once

#include "dsp/rate/ChannelHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigkit::dsp {

// Interpolation by 2 with a half-band low-pass (gain 2), for C channels. Output 2q stands for
// input time q and is x[q] itself (the centre tap times 2 is exactly 1, every other even-distance
// tap 0); output 2q + 1 stands for time q + 1/2 and is Σ_i 2g[i]·x[q - m + 1 + i], i = 0 .. 2m-1,
// one dot product of 2m taps, several outputs at once. The shape of the calls is
// HalfBandDecimator's.
class HalfBandInterpolator
{
public:
    bool Reset(const std::vector<double>& halfBand, int32_t channels, int32_t block);
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
    int64_t MaxOutputs(int64_t inputs) const { return 2 * inputs + 2; }
    int32_t Taps() const { return 4 * m - 1; }
    int32_t MacsPerOutput() const { return m; } // 2m per odd output, none per even one

private:
    std::vector<float> taps; // 2g, 2m taps, oldest sample first
    int32_t m = 0;
    int32_t channels = 0;
    ChannelHistory history;
    std::vector<float> odd; // the odd outputs of one Read, before they are interleaved
    int64_t written = 0;
    int64_t produced = 0;
    const kernels::KernelTable* table = nullptr;
};

} // namespace sigkit::dsp
