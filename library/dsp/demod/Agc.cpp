#include "dsp/demod/Agc.h"

#include <algorithm>
#include <cmath>

namespace sigkit::dsp {

Agc::Agc(const AgcSettings& settings, double rate) : settings(settings)
{
    D = static_cast<int32_t>(
        std::clamp(std::round(settings.lookAhead * rate), 0.0, static_cast<double>(kMaxDelay)));
    decayFactor = std::pow(10.0, -settings.decay / (20.0 * rate));
    const auto size = static_cast<std::size_t>(D) + 1;
    minValue.assign(size, 0.0);
    minIndex.assign(size, 0);
    box.assign(size, 0.0);
    delayed.assign(size, 0.0f);
    Reset();
}

void Agc::Reset()
{
    peak = 0.0;
    index = 0;
    minHead = 0;
    minCount = 0;
    // The silence before the input allows the largest gain everywhere.
    std::fill(box.begin(), box.end(), settings.maxGain);
    boxSum = settings.maxGain * static_cast<double>(box.size());
    std::fill(delayed.begin(), delayed.end(), 0.0f);
}

float Agc::Step(float s, float level)
{
    const auto size = static_cast<int32_t>(box.size()); // D + 1
    peak = std::max(static_cast<double>(level), peak * decayFactor);
    double allowed = settings.maxGain;
    if (peak > 0.0)
        allowed = std::min(allowed, settings.target / peak);
    const double magnitude = std::fabs(static_cast<double>(s));
    if (magnitude > 0.0)
        allowed = std::min(allowed, settings.limit / magnitude);

    // The window [index - D, index]: drop what left it, then every candidate not below this one.
    while (minCount > 0 && minIndex[static_cast<std::size_t>(minHead)] < index - D)
    {
        minHead = minHead + 1 == size ? 0 : minHead + 1;
        --minCount;
    }
    while (minCount > 0)
    {
        const int32_t back = (minHead + minCount - 1) % size;
        if (minValue[static_cast<std::size_t>(back)] < allowed)
            break;
        --minCount;
    }
    const int32_t at = (minHead + minCount) % size;
    minValue[static_cast<std::size_t>(at)] = allowed;
    minIndex[static_cast<std::size_t>(at)] = index;
    ++minCount;
    const double lowest = minValue[static_cast<std::size_t>(minHead)]; // for sample index - D

    const auto slot = static_cast<std::size_t>(index % size);
    boxSum = boxSum - box[slot] + lowest;
    box[slot] = lowest;
    if (slot + 1 == box.size())
    {
        boxSum = 0.0;
        for (double v : box)
            boxSum += v;
    }
    const double gain = boxSum / static_cast<double>(size);

    delayed[slot] = s;
    const float old = delayed[static_cast<std::size_t>((index + 1) % size)]; // sample index - D
    ++index;
    return static_cast<float>(gain * static_cast<double>(old));
}

void Agc::Process(const float* signal, const float* level, int32_t n, float* out)
{
    for (int32_t k = 0; k < n; ++k)
        out[k] = Step(signal[k], level[k]);
}

int32_t Agc::Flush(float* out)
{
    for (int32_t k = 0; k < D; ++k)
        out[k] = Step(0.0f, 0.0f);
    return D;
}

} // namespace sigkit::dsp
