#pragma once

#include "stages/filters/FilterDesign.h"
#include "stages/filters/ResampleSchedule.h"
#include "stages/filters/SampleHistory.h"

#include <cstdint>

namespace sigkit {

// The filters of the resampler: a windowed-sinc prototype low-pass and its nine fractionally
// delayed copies, phases p = 0..8 delayed by kBankDelay + p/kPhaseSteps taps, each of N + 8
// coefficients (the prototype's N in its own array). Ten arrays of kHistoryCapacity floats in
// one aligned block, all memory taken at construction.
class PolyphaseBank
{
public:
    static constexpr int32_t kPhases = 9;    // phase filters c_0 .. c_8
    static constexpr int32_t kPrototype = 9; // the array holding the prototype h
    static constexpr int32_t kPhaseSteps = schedule::kPhaseSteps;
    static constexpr int32_t kBankDelay = 4; // taps of delay of phase 0 beyond the prototype's
    // Coefficients of a phase beyond the prototype's taps.
    static constexpr int32_t kPhaseExtra = 2 * kBankDelay;
    // Cut-off of the prototype when interpolating, as a fraction of the input band.
    static constexpr float kInterpolationEdge = 0.9f;

    PolyphaseBank();
    ~PolyphaseBank();
    PolyphaseBank(const PolyphaseBank&) = delete;
    PolyphaseBank& operator=(const PolyphaseBank&) = delete;

    // The prototype passes |f| < rateOut / 2 (interpolating, kInterpolationEdge of the input
    // band); with `phases` the nine phases are designed from it too. Result: N, or 0 when N is
    // not an odd length whose phases fit the history (then nothing is held).
    int32_t Design(float rateIn, float rateOut, float beta, FilterWindow window, int32_t N,
                   bool phases);

    // Phase p (0..8) of N + 8 coefficients, or the prototype for p = kPrototype.
    const float* Phase(int32_t p) const
    {
        return bank + static_cast<std::size_t>(p) * kHistoryCapacity;
    }
    int32_t TapCount() const { return N; }
    // Samples at most this large in magnitude keep every sum of the phases over N + 7 taps below
    // an eighth of the float range, roundings included.
    float TameLimit() const { return tameLimit; }

private:
    float* Array(int32_t p) { return bank + static_cast<std::size_t>(p) * kHistoryCapacity; }
    void DesignPhases(const float* h);

    float* bank = nullptr;
    int32_t bankExtent = 0; // coefficients of each array that may be other than zero
    int32_t N = 0;
    float tameLimit = 0.0f;
};

} // namespace sigkit
