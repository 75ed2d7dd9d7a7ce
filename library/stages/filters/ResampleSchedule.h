#pragma once

#include <cstddef>
#include <cstdint>

// When the resampler's outputs fall due, and how each is formed: pure functions of the ratio
// R = rateIn / rateOut and the rate accumulator, apart from any sample.
namespace sigkit::schedule {

// Below this ratio an output lies between two neighbouring phases of the bank.
inline constexpr float kPhasePairRatio = 8.0f;
// From kPhasePairRatio to below this ratio an output lies between phase 0 over two neighbouring
// windows; from it on it is phase 0 over one window.
inline constexpr float kNeighbourRatio = 32.0f;
// 2^24: every whole number below it is a float, so that adds of 1 up to it are exact.
inline constexpr float kExactCount = 16777216.0f;

// How one decimated output is formed: the filter (a phase, or phase 0 over N taps from
// kPhasePairRatio on), its length, and its weight against the neighbouring sum (t or frac).
struct OutputPlan
{
    int32_t phase;
    int32_t length;
    float weight;
    bool interpolates;     // false: the output is the first sum alone
    bool neighbourIsPhase; // below kPhasePairRatio: the neighbour is phase + 1; else the window
                           // one older
};

// Phases of the bank per input of delay.
inline constexpr int32_t kPhaseSteps = 8;

// The neighbouring phase below frac and the weight between it and the next: p = (int)(8·frac),
// t = (frac - p/8)·8 in double precision, rounded to float.
inline void PhaseAndWeight(float frac, int32_t& p, float& t)
{
    p = static_cast<int32_t>(static_cast<float>(kPhaseSteps) * frac);
    t = static_cast<float>((static_cast<double>(frac) - p * (1.0 / kPhaseSteps)) *
                           static_cast<double>(kPhaseSteps));
}

// The plan of an output at the fraction frac (how far its instant lies before the newest input,
// in inputs) for a bank of N taps whose phases take part in sums over NT taps.
inline OutputPlan Plan(float R, float frac, int32_t N, int32_t NT)
{
    if (kPhasePairRatio > R)
    {
        int32_t p = 0;
        float t = 0.0f;
        PhaseAndWeight(frac, p, t);
        return {p, NT, t, true, true};
    }
    if (kNeighbourRatio > R)
        return {0, N, frac, true, false};
    return {0, N, 0.0f, false, false};
}

// An output due once input `input` (counted from 0 in the run) is taken, at the fraction frac.
struct Due
{
    int32_t input;
    float frac;
};

// What the accumulator carries from run to run.
struct Accumulator
{
    float acc = 0.0f;  // in inputs
    int32_t last = 0;  // 1 when the last input of the run gave an output, else 0
    bool jumps = true; // false once a jump failed on a fraction: adds one by one from then on
};

// The outputs of `count` inputs at a ratio R >= 1, from the accumulator's state, exactly as one
// add of 1 per input runs it: an output where the sum reaches R, whose fraction, sum - R, is the
// new accumulator. Runs of adds that are exact in float are taken at once. `due` has room for
// MostDue(count, R). Result: the number of outputs.
int32_t Schedule(float R, int32_t count, Accumulator& state, Due* due);
// The most outputs that `count` inputs give at a ratio R >= 1 from any state.
std::size_t MostDue(std::size_t count, float R);

} // namespace sigkit::schedule
