#pragma once

#include <cstdint>
#include <vector>

namespace sigkit::dsp {

struct SquelchSettings
{
    double window = 0.1; // s: time constant of the estimates
    // The ratio r below which the audio opens and above which it closes again: r = 1 for a
    // carrier alone, 2 for noise alone, (ρ² + 4ρ + 2)/(ρ + 1)² at a carrier-to-noise ratio ρ
    // (1.5: about 4 dB; 1.75: 0 dB).
    double open = 1.5;
    double close = 1.75;
    double ramp = 0.01; // s: the audio fades in and out over this time
};

// Mutes FM audio while the channel holds no carrier, whatever its level. An FM carrier has a
// constant envelope, noise a Rayleigh one: the ratio r = mean(|x|⁴) / mean(|x|²)² of the
// channel's samples tells them apart (1 and 2), whatever the modulation and the scale. The
// means run over `window` (the mean of every sample so far while fewer have come, then one-pole
// averages of that time constant); the audio opens when r falls below `open` and closes when it
// rises above `close`, fading over `ramp`. The decision looks `window` ahead: the audio comes out
// that much late (Delay()), so a carrier present from the first sample is heard from the first
// sample. Samples of exactly zero (digital silence) leave the decision as it is.
class Squelch
{
public:
    // The window (and look-ahead) holds at most this many samples (a shorter one at rates beyond
    // 40 MHz).
    static constexpr int32_t kMaxDelay = 1 << 22;

    Squelch(const SquelchSettings& settings, double rate);
    void Reset();
    // n channel samples (I, Q) and their n audio samples in; n audio samples out, Delay() late
    // (out may be audio; the first Delay() after Reset are the silence before the input).
    void Process(const float* I, const float* Q, const float* audio, int32_t n, float* out);
    // The Delay() samples still held, with the decision as it stands; then Reset.
    int32_t Flush(float* out);
    int32_t Delay() const { return D; }
    bool IsOpen() const { return open; }

private:
    float Step(double power, float audio, bool update);

    SquelchSettings settings;
    int32_t D = 0;
    double pole = 0.0;       // one-pole coefficient of the averages
    int64_t warmup = 1;      // samples averaged from the start
    double rampStep = 1.0;   // gain change per sample
    int64_t seen = 0;        // non-zero samples averaged
    double meanPower = 0.0;  // mean of |x|²
    double meanSquare = 0.0; // mean of |x|⁴
    bool open = false;
    double gain = 0.0;
    std::vector<float> delayed; // the last D + 1 audio samples
    int64_t index = 0;
};

} // namespace sigkit::dsp
