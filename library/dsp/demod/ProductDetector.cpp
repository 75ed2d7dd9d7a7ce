#include "dsp/demod/ProductDetector.h"

#include "dsp/demod/Envelope.h"

#include <algorithm>
#include <numbers>

namespace sigkit::dsp {

namespace {

constexpr double kTurn = 2.0 * std::numbers::pi;

} // namespace

ProductDetector::ProductDetector(double offset, double rate, int32_t block)
    : increment(-kTurn * offset / rate), block(std::max<int32_t>(1, block)),
      phases(static_cast<std::size_t>(this->block)), sines(phases.size()), cosines(phases.size()),
      spare(phases.size()), table(&kernels::Active())
{
    Reset();
}

void ProductDetector::Reset()
{
    // The oscillator steps before it gives a phase: one step back gives 0 for the first sample.
    phase = -increment;
}

void ProductDetector::Process(const float* I, const float* Q, int32_t n, float* audio, float* level)
{
    Envelope(I, Q, n, level);
    for (int32_t at = 0; at < n; at += block)
    {
        const int32_t m = std::min(block, n - at);
        table->oscillate(&phase, increment, kTurn, m, phases.data(), sines.data(), cosines.data());
        // The mix kernel multiplies by the conjugate of the phasor of phase -θ, that is by e^(jθ):
        // its first output is I·cos θ - Q·sin θ.
        table->mix(I + at, Q + at, sines.data(), cosines.data(), m, audio + at, spare.data());
    }
}

} // namespace sigkit::dsp
