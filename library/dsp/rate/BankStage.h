#pragma once

#include "dsp/rate/ChannelHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigkit::dsp {

// Rate change by a ratio L/M whose terms are too large for a bank of L branches (up to 2^31 each):
// a bank of P branches (P fractional positions per input sample) with cubic interpolation between
// them. Output k stands for input time t = k·M/L, kept exactly as the whole part ⌊t⌋ and the
// remainder k·M mod L. With u = (remainder·P)/L, branch i = ⌊u⌋ and μ = u - i, the T + 1 taps
// are the prototype's samples at positions i - 1, i, i + 1, i + 2 (plus whole input samples)
// joined by the cubic through them at μ; the bank holds that cubic's four coefficients for every
// tap, so an output is four dot products over one window (two dotPairTwice calls per two
// channels), s0 + μ·(s1 + μ·(s2 + μ·s3)). The shape of the calls is HalfBandDecimator's.
class BankStage
{
public:
    // `prototype`: odd length, gain P, as DesignPrototype gives it for P branches.
    bool Reset(const std::vector<double>& prototype, int32_t P, int64_t L, int64_t M,
               int32_t channels, int32_t block);
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
    int32_t MacsPerOutput() const { return 4 * (T + 1) + 6; }

private:
    std::vector<float> bank; // branch i, coefficient m at (4i + m)·(T + 1), oldest sample first
    int32_t P = 0;
    int64_t L = 1;
    int64_t M = 1;
    int32_t N = 0;
    int32_t T = 0; // even: the window is T + 1 inputs centred on ⌊t⌋
    int32_t channels = 0;
    ChannelHistory history;
    int64_t written = 0;
    int64_t produced = 0;
    int64_t whole = 0;     // ⌊t⌋ of the next output
    int64_t remainder = 0; // its k·M mod L
    const kernels::KernelTable* table = nullptr;
};

} // namespace sigkit::dsp
