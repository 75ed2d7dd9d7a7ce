#pragma once

#include <cstddef>
#include <vector>

// Tone measurements for the rate tests, in double precision: a least-squares fit of sines of
// known frequencies, whose amplitudes give gains, aliases and images, whose phases give delays,
// and whose residual gives THD+N.
namespace sigtest {

struct ToneFitResult
{
    // Component i is amplitude[i]·cos(2π·f_i·n/rate - phase[i]).
    std::vector<double> amplitude;
    std::vector<double> phase;
    double residualRms = 0.0; // what the fitted tones leave
};

// Fits the frequencies (together, so that near ones do not leak into each other) to
// x[(first + n)·stride], n = 0 .. count-1, with n counted from `first` for the time base.
ToneFitResult FitTones(const std::vector<float>& x, std::size_t stride, std::size_t first,
                       std::size_t count, const std::vector<double>& frequencies, double rate);

// Root mean square of x[(first + n)·stride], n = 0 .. count-1.
double RmsOf(const std::vector<float>& x, std::size_t stride, std::size_t first, std::size_t count);

// amplitude·cos(2π·f·n/rate) for n = 0 .. frames-1, written to every one of `channels`
// interleaved channels.
std::vector<float> Tone(std::size_t frames, double f, double rate, double amplitude,
                        int channels = 1);

double Db(double ratio);

} // namespace sigtest
