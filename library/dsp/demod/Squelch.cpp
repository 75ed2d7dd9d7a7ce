#include "dsp/demod/Squelch.h"

#include <algorithm>
#include <cmath>

namespace sigkit::dsp {

Squelch::Squelch(const SquelchSettings& settings, double rate) : settings(settings)
{
    const double samples =
        std::clamp(std::round(settings.window * rate), 1.0, static_cast<double>(kMaxDelay));
    D = static_cast<int32_t>(samples);
    pole = std::exp(-1.0 / samples);
    warmup = D;
    rampStep = 1.0 / std::max(1.0, settings.ramp * rate);
    delayed.assign(static_cast<std::size_t>(D) + 1, 0.0f);
    Reset();
}

void Squelch::Reset()
{
    seen = 0;
    meanPower = 0.0;
    meanSquare = 0.0;
    open = false;
    gain = 0.0;
    index = 0;
    std::fill(delayed.begin(), delayed.end(), 0.0f);
}

float Squelch::Step(double power, float audio, bool update)
{
    if (update && power > 0.0)
    {
        const double square = power * power;
        if (seen < warmup)
        {
            ++seen;
            const double share = 1.0 / static_cast<double>(seen);
            meanPower += share * (power - meanPower);
            meanSquare += share * (square - meanSquare);
        }
        else
        {
            meanPower = power + pole * (meanPower - power);
            meanSquare = square + pole * (meanSquare - square);
        }
        const double ratio = meanSquare / (meanPower * meanPower);
        if (open && ratio > settings.close)
            open = false;
        else if (!open && ratio < settings.open)
            open = true;
    }
    gain = open ? std::min(1.0, gain + rampStep) : std::max(0.0, gain - rampStep);
    const auto size = static_cast<int64_t>(delayed.size());
    delayed[static_cast<std::size_t>(index % size)] = audio;
    const float old = delayed[static_cast<std::size_t>((index + 1) % size)];
    ++index;
    return static_cast<float>(gain * static_cast<double>(old));
}

void Squelch::Process(const float* I, const float* Q, const float* audio, int32_t n, float* out)
{
    for (int32_t k = 0; k < n; ++k)
    {
        const double i = I[k];
        const double q = Q[k];
        out[k] = Step(i * i + q * q, audio[k], true);
    }
}

int32_t Squelch::Flush(float* out)
{
    for (int32_t k = 0; k < D; ++k)
        out[k] = Step(0.0, 0.0f, false);
    return D;
}

} // namespace sigkit::dsp
