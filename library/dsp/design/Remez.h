#pragma once

#include <cstdint>
#include <vector>

// The equiripple design of linear-phase FIR filters by Remez exchange (the Parks-McClellan
// algorithm), in double precision. Frequencies are in cycles per sample: 0.5 is half the rate.
namespace sigkit::dsp {

// One band of the design: over [low, high] the amplitude should be `desired`, and an error
// there counts `weight` times.
struct RemezBand
{
    double low = 0.0;
    double high = 0.0;
    double desired = 0.0;
    double weight = 1.0;
};

enum class RemezResult : int32_t
{
    Ok = 0,
    BadBands,      // empty, overlapping, out of [0, 0.5], or a weight not positive and finite
    BadLength,     // fewer than 2 taps or more than kMaxRemezTaps
    NoConvergence, // the exchange did not settle within its iterations
};

// Longest filter the exchange designs (its work grows as the square of the length).
inline constexpr int32_t kMaxRemezTaps = 8191;

// Symmetric taps of the given length (odd: type I; even: type II, whose amplitude is 0 at 0.5,
// so no band may reach 0.5) whose weighted peak error over the bands is the smallest possible.
// `taps` gets the coefficients (tap 0 first; the filter is symmetric, so the order does not
// matter) and `peakError` (when not null) the weighted peak error reached.
// The grid holds 8 points for each degree of freedom, spread over the bands by their widths;
// each extremum found on it is then moved to the error's true peak between its grid neighbours.
// `reference`, when not null, may hold the extremal frequencies (cycles per sample, increasing) of
// a design of the same bands at a nearby length: the exchange then starts from them, spread
// over the number of points this length needs, and settles in a few iterations. It gets this
// design's extremal frequencies.
RemezResult DesignRemez(int32_t length, const std::vector<RemezBand>& bands,
                        std::vector<double>& taps, double* peakError = nullptr,
                        std::vector<double>* reference = nullptr);

} // namespace sigkit::dsp
