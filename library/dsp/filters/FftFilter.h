#pragma once

#include "dsp/fft/AlignedFloats.h"
#include "dsp/fft/FftKernels.h"
#include "dsp/fft/FftPlan.h"
#include "stages/filters/BlockFilter.h"
#include "stages/kernels/Kernels.h"

#include <cstdint>

namespace sigkit {

struct FftFilterOptions
{
    // The block size the callers will mostly use, 0 when unknown or long. The hop is then
    // chosen to divide it, so that such blocks never end inside a hop, unless that costs more
    // than a quarter more than the best hop that does not.
    int32_t block = 0;
    // 0: chosen for speed from the tap count (and the block); otherwise a power of two from
    // max(count, FftPlan::kMinSize) to FftPlan::kMaxSize.
    int32_t transformSize = 0;
    // nullptr: the variant the processor runs.
    const fft::FftKernels* variant = nullptr;
};

// The transform size L and the hop (new samples per transform, at most L - N + 1) of a filter.
struct FftFilterShape
{
    int32_t transformSize;
    int32_t hop;
};

// A long FIR filter over complex samples by fast convolution (overlap-save): y[t] =
// Σ_j taps[j]·x[t - j], one output per input, no delay beyond the filter's own, from a history
// of zeros. The input is cut into hops of Hop() samples counted from the first sample (or the
// last Reset); a hop's outputs come from one transform of TransformSize() points holding the
// N - 1 samples before the hop and the hop's own (zeros after them), multiplied by the taps'
// spectrum and transformed back.
//
// Outputs are due when their inputs arrive, so a block that ends inside a hop gives the outputs
// of that hop so far at once: from a transform of the hop as far as it has come (the rest taken
// as zeros), or from the direct sum when that costs less. When the rest of the hop arrives, its
// outputs come from a transform of the whole hop (or directly again, for a few). Outputs of a
// hop that no block ended inside are therefore the same bits however the input was divided;
// the others differ from them only by rounding (far below -120 dB of the signal). Every step
// is the same on every processor: same bits from every variant.
//
// All memory is taken when the filter is made; a step takes none.
class FftFilter final : public BlockFilter
{
public:
    static constexpr int32_t kMaxTaps = 1 << 18;

    // Real taps: taps[j] multiplies the sample j steps old; count from 1 to kMaxTaps, odd or
    // even. With any other count, null taps or a transform size outside the options' rule the
    // filter is not valid: its outputs are zeros.
    FftFilter(const float* taps, int32_t count, const FftFilterOptions& options = {});
    // Complex taps tapsRe[j] + i·tapsIm[j] (a low-pass moved to a band's centre):
    // yI = Σ (tapsRe[j]·I - tapsIm[j]·Q), yQ = Σ (tapsRe[j]·Q + tapsIm[j]·I), same rules.
    FftFilter(const float* tapsRe, const float* tapsIm, int32_t count,
              const FftFilterOptions& options = {});

    void StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ) override;
    // (count - 1) / 2, rounded down for an even count.
    int32_t Delay() const override;
    void Reset() override;

    bool IsValid() const { return N > 0; }
    int32_t TapCount() const { return N; }
    int32_t TransformSize() const { return plan.Size(); }
    // New samples per transform, at most TransformSize() - TapCount() + 1.
    int32_t Hop() const { return hop; }

    // For a caller that gives whole hops and nothing else (never StepBlock): it writes a hop
    // into HopRe(), HopIm() (Hop() each), and TransformHop makes its Hop() outputs at OutputRe(),
    // OutputIm(), the bits StepBlock gives for a whole hop, which stay there until the next
    // TransformHop. The caller's own copies take the place of those StepBlock makes.
    float* HopRe() { return windowRe.data() + (N - 1); }
    float* HopIm() { return windowIm.data() + (N - 1); }
    void TransformHop();
    const float* OutputRe() const { return outRe.data() + (N - 1); }
    const float* OutputIm() const { return outIm.data() + (N - 1); }

    // The shape a filter of count taps (real, or complex) takes with the options' block and
    // transform size; {0, 0} for a count beyond 1..kMaxTaps or a transform size outside the rule.
    static FftFilterShape ChooseShape(int32_t count, const FftFilterOptions& options = {},
                                      bool complexTaps = false);
    // What an output of that shape costs, estimated in multiply-adds of a direct sum (a direct
    // filter of real taps costs 2·count per complex output); 0 where ChooseShape gives {0, 0}.
    static double EstimatedCost(int32_t count, const FftFilterOptions& options = {},
                                bool complexTaps = false);

private:
    FftFilter(const float* tapsRe, const float* tapsIm, bool given, int32_t count,
              const FftFilterOptions& options, FftFilterShape shape);
    void Design(const float* tapsRe, const float* tapsIm, int32_t hopSize);
    // Outputs from .. to - 1 of the current hop into yI, yQ.
    void Emit(int32_t from, int32_t to, float* yI, float* yQ);
    void Transformed(int32_t from, int32_t to, float* yI, float* yQ);
    void Direct(int32_t from, int32_t to, float* yI, float* yQ);
    // The end of a hop: its last N - 1 samples become the history of the next.
    void NextHop();

    int32_t N = 0;            // taps; 0 when not valid
    int32_t hop = 0;          // at most L - N + 1
    bool complexTaps = false; // the imaginary parts are used
    int32_t fill = 0;         // samples of the current hop received
    int32_t given = 0;        // outputs of the current hop given
    int64_t directLimit = 0; // multiply-adds below which the direct sums cost less than a transform
    FftPlan plan;
    const kernels::KernelTable& table;
    fft::AlignedFloats spectrumRe, spectrumIm; // the taps' transform over L
    fft::AlignedFloats reversedRe, reversedIm; // the taps oldest first, for the direct sums
    fft::AlignedFloats windowRe, windowIm;     // N - 1 samples before the hop, then the hop
    fft::AlignedFloats workRe, workIm, outRe, outIm;
};

} // namespace sigkit
