#pragma once

#include "stages/filters/ComplexHistory.h"
#include "stages/filters/FilterDesign.h"
#include "stages/filters/PolyphaseBank.h"
#include "stages/filters/ResampleSchedule.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigkit {

// Changes the rate of a complex (I, Q) stream by any ratio R = rateIn / rateOut. The bank
// (PolyphaseBank) holds the prototype low-pass in nine fractionally delayed phases; each output
// lies between input instants and is interpolated linearly between two neighbouring phases
// (ResampleSchedule.h says which and when). Every output is delayed by the prototype's
// (N - 1) / 2 samples plus the bank's 4.
class PolyphaseResampler
{
public:
    static constexpr int32_t kPhases = PolyphaseBank::kPhases;
    static constexpr int32_t kPrototype = PolyphaseBank::kPrototype;
    // Interpolation by more than this (R below its inverse) gives no output: each input would
    // yield more outputs than a block can carry.
    static constexpr float kMaxUpRatio = 4096.0f;

    PolyphaseResampler();

    // Designs the prototype and the nine phases and clears the history, the accumulator and the
    // state. Result: N, or 0 when N is not an odd length that fits the history (then every step
    // gives no output).
    int32_t DesignBank(float rateIn, float rateOut, float beta, FilterWindow window, int32_t N);

    // One input sample. Result: 0 no output, 1 one output, 2 one output and another due for the
    // same input: call again (the I and Q of that call are not stored). Rates whose ratio is not
    // a positive finite number, or interpolate by more than kMaxUpRatio, give no output.
    int32_t ResampleStep(float I, float Q, float rateIn, float rateOut, float& outI, float& outQ);

    // n inputs at once: every output that ResampleStep gives for them, in order, calling again
    // after a result of 2, with the same values. Q may be null for a real stream (its Q is 0);
    // outQ may be null when the Q outputs are not wanted, and then no Q sum is formed. The
    // outputs must have room for MaxOutputs(n, rateIn, rateOut). Result: the number of outputs.
    int32_t ResampleBlock(const float* I, const float* Q, int32_t n, float rateIn, float rateOut,
                          float* outI, float* outQ);
    // The most outputs that ResampleBlock gives for n inputs at these rates, from any state.
    static std::size_t MaxOutputs(std::size_t n, float rateIn, float rateOut);

    bool IsDesigned() const { return N != 0; }
    int32_t TapCount() const { return N; }
    // Phase p (0..8) of N + 8 coefficients, or the prototype for p = kPrototype.
    const float* Phase(int32_t p) const { return bank.Phase(p); }
    // True for ratios the steps accept.
    static bool UsableRatio(float R);

private:
    using OutputPlan = schedule::OutputPlan;
    // An output due at history position `position`, and how it is formed.
    struct Due
    {
        int32_t position;
        OutputPlan plan;
    };
    // True when the output of this plan is its first sum alone: a plan without a neighbour, or
    // one whose neighbour has weight 0 where skipNeighbour vouches that A + (B - A)·0 is A.
    static bool FirstAlone(const OutputPlan& plan, bool skipNeighbour)
    {
        return !plan.interpolates || (skipNeighbour && plan.weight == 0.0f);
    }
    // True when every sample's magnitude is within the bank's tame limit (and none is infinite
    // or NaN).
    bool Tame(const float* x, int32_t n) const;

    void Store(float I, float Q);
    // Interpolating, one input's outputs (ResampleStep below R = 1).
    int32_t InterpolateStep(float I, float Q, float R, float& outI, float& outQ);
    // Decimating: a chunk of inputs stored, scheduled and formed. Result: its outputs.
    int32_t DecimateChunk(const float* I, const float* Q, int32_t count, float R,
                          schedule::Accumulator& accumulator, float* outI, float* outQ);
    // The outputs due in one stored chunk, in order.
    void Outputs(const Due* due, int32_t count, bool skipNeighbour, float* outI, float* outQ);
    // One output of a plan that needs both sums (or any plan, without a shortcut).
    void FullOutput(const OutputPlan& plan, int32_t position, float* outI, float* outQ);
    // The first sum alone (ResampleStep's output of such a plan).
    void FirstOutput(const OutputPlan& plan, int32_t position, float* outI, float* outQ);
    // Two outputs between phases whose windows lie in the history as they are.
    void TwoOutputs(const Due* pair, float* outI, float* outQ);
    // Outputs that are each the first sum alone, with one filter and windows `stride` apart.
    void FirstSums(const OutputPlan& plan, const Due* due, int32_t count, int32_t stride,
                   float* outI, float* outQ);
    // The end of a run of first sums of one filter from due[k] on, and the stride of its windows.
    int32_t FirstSumRun(const Due* list, int32_t k, int32_t count, bool skipNeighbour,
                        int32_t& stride) const;

    PolyphaseBank bank;
    ComplexHistory history;
    float acc = 0.0f;                     // rate accumulator, in input samples
    int32_t N = 0;                        // prototype taps
    int32_t NT = 0;                       // taps of a phase filter taking part in the sums: N + 7
    int32_t state = 0;                    // result of the last ResampleStep
    int32_t tameRun = 0;                  // newest consecutive samples within the bank's tame limit
    std::vector<schedule::Due> scheduled; // the outputs of one chunk
    std::vector<Due> due;
    const kernels::KernelTable& table;
};

} // namespace sigkit
