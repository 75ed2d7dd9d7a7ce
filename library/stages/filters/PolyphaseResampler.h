#pragma once

#include "stages/filters/FilterDesign.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <cstdint>
#include <vector>

namespace sigkit {

// Changes the rate of a complex (I, Q) stream by any ratio R = rateIn / rateOut, one input per
// call. A windowed-sinc prototype low-pass (cut-off rateOut / rateIn) is held in nine fractionally
// delayed copies, phases p = 0..8 delayed by 4 + p/8 taps; each output lies between input
// instants and is interpolated linearly between two neighbouring phases. Every output is delayed
// by the prototype's (N - 1) / 2 samples plus the bank's 4.
class PolyphaseResampler
{
public:
    static constexpr int32_t kPhases = 9;    // phase filters c_0 .. c_8
    static constexpr int32_t kPrototype = 9; // bank array holding the prototype h
    // Interpolation by more than this (R below its inverse) gives no output: each input would
    // yield more outputs than a block can carry.
    static constexpr float kMaxUpRatio = 4096.0f;
    // Cut-off of the prototype when interpolating, as a fraction of the input band.
    static constexpr float kInterpolationEdge = 0.9f;

    PolyphaseResampler();
    ~PolyphaseResampler();
    PolyphaseResampler(const PolyphaseResampler&) = delete;
    PolyphaseResampler& operator=(const PolyphaseResampler&) = delete;

    // Designs the prototype and the nine phases and clears the history, the accumulator and the
    // state. Result: N, or 0 when N is not an odd length that fits the history (then every step
    // gives no output).
    int32_t DesignBank(float rateIn, float rateOut, float beta, FilterWindow window, int32_t N);

    // One input sample. Result: 0 no output, 1 one output, 2 one output and another due for the
    // same input: call again (the I and Q of that call are not stored). Rates whose ratio is not
    // a positive finite number, or interpolate by more than kMaxUpRatio, give no output.
    int32_t ResampleStep(float I, float Q, float rateIn, float rateOut, float& outI, float& outQ);

    // n inputs at once: every output that ResampleStep gives for them, in order, calling again
    // after a result of 2 as the stages do, with the same values. Q may be null for a real
    // stream (its Q is 0); outQ may be null when the Q outputs are not wanted, and then no Q sum
    // is formed. The outputs must have room for MaxOutputs(n, rateIn, rateOut). Result: the
    // number of outputs.
    int32_t ResampleBlock(const float* I, const float* Q, int32_t n, float rateIn, float rateOut,
                          float* outI, float* outQ);
    // The most outputs that ResampleBlock gives for n inputs at these rates.
    static std::size_t MaxOutputs(std::size_t n, float rateIn, float rateOut);

    // The prototype alone behind a rate gate: stores and filters while the accumulator is below
    // R, otherwise refuses the input (not stored) and lowers the accumulator by R. With R = 2 the
    // gate gives 1, 1, 0, 1, 1, 0, ... Result: 0 or 1.
    int32_t GatedFilterStep(float I, float Q, float rateIn, float rateOut, float& outI,
                            float& outQ);

    // n inputs through the gate as interpolation by zero insertion feeds it: each input, then
    // zeros (0, 0) until the gate refuses one; the outputs of every stored sample, in order, with
    // GatedFilterStep's values. Q may be null (0). The outputs must have room for
    // MaxGatedOutputs(n, rateIn, rateOut). Result: the number of outputs.
    int32_t GatedBlock(const float* I, const float* Q, int32_t n, float rateIn, float rateOut,
                       float* outI, float* outQ);
    static std::size_t MaxGatedOutputs(std::size_t n, float rateIn, float rateOut);

    bool IsDesigned() const { return designed != 0; }
    int32_t TapCount() const { return N; }
    // Phase p (0..8) of N + 8 coefficients, or the prototype for p = 9.
    const float* Phase(int32_t p) const { return Bank(p); }
    // True for ratios the steps accept.
    static bool UsableRatio(float R);

private:
    // How one decimated output is formed: the filter (a phase, or phase 0 over N taps when R is
    // 8 or more), its length, and its weight against the neighbouring sum (t or frac).
    struct OutputPlan
    {
        int32_t phase;
        int32_t length;
        float weight;
        bool interpolates;     // false: the output is the first sum alone
        bool neighbourIsPhase; // R < 8: the neighbour is phase + 1; else the window one older
    };
    // An output due at history position `position`, and how it is formed.
    struct Due
    {
        int32_t position;
        OutputPlan plan;
        bool formed; // already computed (an output that needs both sums)
    };
    OutputPlan Plan(float R, float frac) const;
    // True when every sample's magnitude is within tameLimit (and none is infinite or NaN).
    bool Tame(const float* x, int32_t n) const;

    void Store(float I, float Q);
    // Σ taps[j] · history[(from + j) mod capacity], j = 0 .. length-1, for I and Q.
    void Sum(const float* taps, int32_t from, int32_t length, float& sumI, float& sumQ);
    // Output between phases p and p + 1 at the fraction t, over NT taps.
    void Interpolate(int32_t p, float t, float& outI, float& outQ);
    // The outputs due in one stored chunk that are not formed yet, in order.
    void Outputs(const Due* due, int32_t count, bool skipNeighbour, float* outI, float* outQ);
    // True when the output of this plan is its first sum alone (see Outputs).
    static bool FirstAlone(const OutputPlan& plan, bool skipNeighbour)
    {
        return !plan.interpolates || (skipNeighbour && plan.weight == 0.0f);
    }
    // One output of a plan that needs both sums (or any plan, without a shortcut).
    void FullOutput(const OutputPlan& plan, int32_t position, float* outI, float* outQ);
    // Two outputs between phases whose windows lie in the history as they are.
    void TwoOutputs(const Due* pair, float* outI, float* outQ);
    // Outputs that are each the first sum alone, with one filter and windows `stride` apart.
    void FirstSums(const OutputPlan& plan, const Due* due, int32_t count, int32_t stride,
                   float* outI, float* outQ);

    int32_t w = 0;
    // Ten arrays of kHistoryCapacity floats in one aligned block: phases 0..8, the prototype.
    float* bank = nullptr;
    int32_t bankExtent = 0; // coefficients of each array that may be other than zero
    float* Bank(int32_t p) const { return bank + static_cast<std::size_t>(p) * kHistoryCapacity; }
    int32_t designed = 0;
    float acc = 0.0f;            // rate accumulator, in input samples
    int32_t N = 0;               // prototype taps
    int32_t NT = 0;              // taps of a phase filter taking part in the sums: N + 7
    std::vector<float> historyI; // kHistoryCapacity each: the I and Q parts of the samples
    std::vector<float> historyQ;
    int32_t state = 0;         // result of the last ResampleStep
    float* scratch = nullptr;  // kHistoryCapacity (I, Q) pairs, aligned: windows that wrap
    float* scratchI = nullptr; // its first half for I, second half for Q
    float* scratchQ = nullptr;
    // Samples at most this large in magnitude keep every sum of the bank below a quarter of the
    // float range, so an output whose neighbouring sum has weight 0 is the first sum exactly.
    float tameLimit = 0.0f;
    int32_t tameRun = 0;  // newest consecutive samples within tameLimit
    std::vector<Due> due; // outputs of one chunk
    const kernels::KernelTable& table;
};

} // namespace sigkit
