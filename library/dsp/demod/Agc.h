#pragma once

#include <cstdint>
#include <vector>

namespace sigkit::dsp {

struct AgcSettings
{
    // The output level of a signal whose level detector reads 1 at gain 1/target: the gain is
    // target / level, so a sine whose level is its amplitude comes out at `target`.
    double target = 0.8912509381337456; // -1 dBFS
    double maxGain = 1000.0;            // the most gain applied (linear), whatever the level
    double lookAhead = 0.005;           // s: attack, the time over which the gain falls
    double decay = 20.0;                // dB per second: how fast the gain may rise again
    double limit = 0.98;                // no output sample beyond this magnitude
};

// Automatic gain control with look-ahead, so that it neither overshoots nor clicks.
//
// For each sample k it takes the signal s[k] and a level l[k] (the carrier of AM, the magnitude
// of a sideband channel). The level it follows is a peak that rises at once and falls by at most
// `decay` dB per second: p[k] = max(l[k], p[k-1]·r). The gain that sample allows is
// d[k] = min(maxGain, target / p[k], limit / |s[k]|). The gain applied to s[k] is the mean over
// the D + 1 samples j = k - D .. k of min(d[j .. j + D]), D = lookAhead in samples: every term
// is at most d[k], so no output exceeds what its own sample allows (no overshoot at a sudden
// rise, no sample beyond `limit`), and the gain moves from one value to another along a straight
// line over D samples that ends where a louder sample begins (no clicks). The output is the
// input delayed by D samples; Flush gives the last D.
//
// Silence in gives exact zeros out. The state is in double precision; all memory is taken at
// construction.
class Agc
{
public:
    // The look-ahead holds at most this many samples (a shorter one at rates beyond 800 MHz).
    static constexpr int32_t kMaxDelay = 1 << 22;

    Agc(const AgcSettings& settings, double rate);
    void Reset();
    // n samples in, n out (out may be signal): the output is D samples late, and the first D
    // after Reset are the silence before the input.
    void Process(const float* signal, const float* level, int32_t n, float* out);
    // The D samples still held, as if silence followed; out with room for Delay(). Then Reset
    // before a new signal.
    int32_t Flush(float* out);
    int32_t Delay() const { return D; }

private:
    float Step(float s, float level);

    AgcSettings settings;
    int32_t D = 0;
    double decayFactor = 1.0; // r
    double peak = 0.0;        // p
    int64_t index = 0;        // of the next sample
    // The smallest of d over the last D + 1 samples: candidates in order of index, values rising.
    std::vector<double> minValue;
    std::vector<int64_t> minIndex;
    int32_t minHead = 0;
    int32_t minCount = 0;
    // The last D + 1 minima and their sum (summed anew each time the ring turns, so that no
    // rounding accumulates), and the last D + 1 signal samples.
    std::vector<double> box;
    double boxSum = 0.0;
    std::vector<float> delayed;
};

} // namespace sigkit::dsp
