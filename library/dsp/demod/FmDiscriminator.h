#pragma once

#include <cstdint>

namespace sigkit::dsp {

// Frequency demodulation by the phase step between successive complex samples:
// y[n] = gain·arg(x[n]·conj(x[n-1])), in radians per sample before the gain. The step is exact
// over the whole of (-π, π], so the output is linear in the instantaneous frequency up to half
// the rate either way. It stands for the frequency between the two samples, half a sample before
// x[n]. The products are formed in double precision (exact for float inputs) and the arc
// tangent is the standard library's, so every processor gives the same bits.
class FmDiscriminator
{
public:
    // The gain that gives `level` for a frequency deviation of `deviation` Hz at `rate` Hz.
    static double GainFor(double deviation, double rate, double level);

    explicit FmDiscriminator(double gain = 1.0) : gain(gain) {}
    void SetGain(double value) { gain = value; }
    double Gain() const { return gain; }
    // Back to the start: the sample before the first is 0, so the first output is 0.
    void Reset();
    // n samples (I and Q arrays) in, n outputs out; out may not be I or Q.
    void Process(const float* I, const float* Q, int32_t n, float* out);

private:
    double gain = 1.0;
    float lastI = 0.0f; // the newest sample of the call before
    float lastQ = 0.0f;
};

} // namespace sigkit::dsp
