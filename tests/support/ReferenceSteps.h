#pragma once

// The per-sample processing that the block paths are defined by, kept as the tests' reference:
// one filter step (the scalar dot product over the newest-first window), one Hilbert split, one
// oscillator step (the standard library's sine and cosine) and one mixer step.
#include "stages/filters/FilterDesign.h"
#include "stages/filters/PhaseOscillator.h"
#include "stages/kernels/Kernels.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace sigtest {

// One set of taps over one channel, a sample at a time: y = Σ taps[j]·x[n - j], summed as the
// kernels' dot product, the samples before the first taken as 0.
class ReferenceFir
{
public:
    explicit ReferenceFir(std::vector<float> filterTaps)
        : taps(std::move(filterTaps)), window(taps.size(), 0.0f)
    {
    }

    float Step(float x)
    {
        if (window.empty())
            return 0.0f;
        std::memmove(window.data() + 1, window.data(), (window.size() - 1) * sizeof(float));
        window[0] = x; // newest first
        return Dot(taps.data(), window.data(), static_cast<int32_t>(taps.size()));
    }
    // The sample `age` steps old (0: the newest).
    float Sample(std::size_t age) const { return window[age]; }

    static float Dot(const float* a, const float* b, int32_t n)
    {
        return sigkit::kernels::TableFor(sigkit::kernels::Isa::Scalar)->dot(a, b, n);
    }

private:
    std::vector<float> taps;
    std::vector<float> window;
};

// The N-tap low-pass the frequency converter designs.
inline std::vector<float> LowPassTaps(float rateIn, float rateEdge, sigkit::FilterWindow window,
                                      int32_t N)
{
    std::vector<float> taps(static_cast<std::size_t>(N));
    sigkit::DesignLowPass(rateEdge / rateIn, 0.0f, window, N, taps.data());
    return taps;
}

// The analytic pair of a real sample: (the input 150 samples ago, the Hilbert transformer's sum).
class ReferenceSplitter
{
public:
    std::pair<float, float> Step(float x)
    {
        const float shifted = fir.Step(x);
        return {fir.Sample(sigkit::kHilbertCentre), shifted};
    }

private:
    ReferenceFir fir{
        std::vector<float>(sigkit::HilbertTaps().begin(), sigkit::HilbertTaps().end())};
};

// The oscillator as defined: each step adds 2π·f/fs and wraps at most once by ±2π; the sine and
// cosine are the standard library's, rounded to float.
class ReferenceOscillator
{
public:
    std::pair<float, float> Step(double fs, double f)
    {
        phase = (f * sigkit::kTwoPi) / fs + phase;
        if (phase >= sigkit::kTwoPi)
            phase = phase - sigkit::kTwoPi;
        else if (phase <= -sigkit::kTwoPi)
            phase = phase + sigkit::kTwoPi;
        return {static_cast<float>(std::sin(phase)), static_cast<float>(std::cos(phase))};
    }
    double Phase() const { return phase; }

private:
    double phase = 0.0;
};

// The mixer: I + jQ times the conjugate phasor c - js, in single precision.
inline std::pair<float, float> Mix(float I, float Q, float s, float c)
{
    return {c * I + Q * s, Q * c - I * s};
}

// One oscillator step and the mixer: the pair moved down by f at the rate fs.
inline std::pair<float, float> Shift(ReferenceOscillator& oscillator, double fs, double f, float I,
                                     float Q)
{
    const auto [s, c] = oscillator.Step(fs, f);
    return Mix(I, Q, s, c);
}

} // namespace sigtest
