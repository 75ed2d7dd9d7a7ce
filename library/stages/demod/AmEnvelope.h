#pragma once

#include <cstdint>

// The AM formula: the envelope of the shifted signal over its running mean, less 1, scaled.
namespace sigkit::demod {

// The running mean follows the envelope m as mean = kMeanNew·m + kMeanKeep·mean, in double
// precision, rounded to float after each sample: a time constant of 1 / kMeanNew samples.
inline constexpr double kMeanNew = 0.01;
inline constexpr double kMeanKeep = 0.99;
// Outputs dropped at the start, beyond the resampler's delay, while the mean settles: five time
// constants of the mean.
inline constexpr int32_t kMeanSettleOutputs = static_cast<int32_t>(5.0 / kMeanNew + 0.5);

// Start-up outputs an AM stage drops with a resampler of `taps` taps: its delay (taps - 1) / 2 and
// the settling of the mean.
inline constexpr int32_t AmStartupOutputs(int32_t taps)
{
    return (taps + 2 * kMeanSettleOutputs - 1) / 2;
}

// The envelope values over their running mean, sample by sample (the chain every vector form
// keeps): mean as above (1 where it comes out 0), y[i] = (float)(((double)(m[i] / mean) - 1)·gain).
// `mean` carries from call to call.
static inline void AmEnvelope(const float* m, int32_t n, double gain, float& mean, float* y)
{
    float average = mean;
    for (int32_t i = 0; i < n; ++i)
    {
        average = static_cast<float>(kMeanNew * m[i] + kMeanKeep * static_cast<double>(average));
        if (average == 0.0f)
            average = 1.0f;
        const float ratio = m[i] / average;
        y[i] = static_cast<float>((static_cast<double>(ratio) - 1.0) * gain);
    }
    mean = average;
}

// Steps [from, to) of the running mean alone, a[k] = kMeanNew·m[k] given: the chain of the vector
// forms. The check for a mean of 0 is left out of the chain, for no step here can give one: in the
// default floating-point environment a mean above 0 stays above 0 (0.99 times the smallest float
// still rounds to it, and a[k] is never negative), and NaN or infinity never becomes 0. Only a
// mean of 0 on entry (a new stream) could give 0 at the first step: callers take that step by
// AmEnvelope, and use this only in the default environment.
static inline __attribute__((always_inline)) void
MeanStepsAfterStart(const double* a, float* out, int32_t from, int32_t to, float& mean)
{
    float average = mean;
    for (int32_t k = from; k < to; ++k)
    {
        average = static_cast<float>(a[k] + kMeanKeep * static_cast<double>(average));
        out[k] = average;
    }
    mean = average;
}

} // namespace sigkit::demod
