#pragma once

#include "stages/filters/FilterDesign.h"
#include "stages/filters/SampleHistory.h"
#include "stages/kernels/Kernels.h"

#include <array>
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
    static constexpr int32_t kPhases = 9;       // phase filters c_0 .. c_8
    static constexpr int32_t kPrototype = 9;    // bank array holding the prototype h
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

    // The prototype alone behind a rate gate: stores and filters while the accumulator is below
    // R, otherwise refuses the input (not stored) and lowers the accumulator by R. With R = 2 the
    // gate gives 1, 1, 0, 1, 1, 0, ... Result: 0 or 1.
    int32_t GatedFilterStep(float I, float Q, float rateIn, float rateOut, float& outI, float& outQ);

    bool IsDesigned() const { return designed != 0; }
    int32_t TapCount() const { return N; }
    // Phase p (0..8) of N + 8 coefficients, or the prototype for p = 9.
    const float* Phase(int32_t p) const { return bank[static_cast<std::size_t>(p)].data(); }
    // True for ratios the steps accept.
    static bool UsableRatio(float R);

private:
    // Σ taps[j] · history[(from + j) mod capacity], j = 0 .. length-1, for I and Q.
    void Sum(const float* taps, int32_t from, int32_t length, float& sumI, float& sumQ);
    void Store(float I, float Q);
    // Output between phases p and p + 1 at the fraction t, over NT taps.
    void Interpolate(int32_t p, float t, float& outI, float& outQ);

    int32_t w = 0;
    std::array<std::vector<float>, 10> bank; // kHistoryCapacity floats each
    int32_t designed = 0;
    float acc = 0.0f;  // rate accumulator, in input samples
    int32_t N = 0;     // prototype taps
    int32_t NT = 0;    // taps of a phase filter taking part in the sums: N + 7
    std::vector<float> history; // kHistoryCapacity (I, Q) pairs
    float A[2]{};               // the last two complex sums
    float B[2]{};
    int32_t state = 0;          // result of the last ResampleStep
    float* scratch = nullptr;   // kHistoryCapacity (I, Q) pairs, aligned
    const kernels::KernelTable& table;
};

} // namespace sigkit
