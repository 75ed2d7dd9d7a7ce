#include "dsp/demod/DcBlocker.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sigkit::dsp {

DcBlocker::DcBlocker(double corner, double rate)
{
    const double w = 2.0 * std::numbers::pi * corner / rate;
    pole = std::exp(-w);
    warmup = std::max<int64_t>(1, static_cast<int64_t>(std::llround(1.0 / w)));
}

void DcBlocker::Reset()
{
    seen = 0;
    sum = 0.0;
    first = 0.0;
    second = 0.0;
}

void DcBlocker::Process(const float* x, int32_t n, float* audio, float* carrier)
{
    const double step = 1.0 - pole;
    for (int32_t k = 0; k < n; ++k)
    {
        const double v = x[k];
        if (seen < warmup)
        {
            ++seen;
            sum += v;
            first = sum / static_cast<double>(seen);
            second = first;
        }
        else
        {
            first += step * (v - first);
            second += step * (first - second);
        }
        audio[k] = static_cast<float>(v - second);
        carrier[k] = static_cast<float>(second);
    }
}

} // namespace sigkit::dsp
