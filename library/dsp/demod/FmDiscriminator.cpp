#include "dsp/demod/FmDiscriminator.h"

#include <cmath>
#include <numbers>

namespace sigkit::dsp {

double FmDiscriminator::GainFor(double deviation, double rate, double level)
{
    // A deviation of d Hz turns the phase by 2π·d/rate per sample.
    return level * rate / (2.0 * std::numbers::pi * deviation);
}

void FmDiscriminator::Reset()
{
    lastI = 0.0f;
    lastQ = 0.0f;
}

void FmDiscriminator::Process(const float* I, const float* Q, int32_t n, float* out)
{
    double pi = lastI;
    double pq = lastQ;
    for (int32_t k = 0; k < n; ++k)
    {
        const double i = I[k];
        const double q = Q[k];
        // x[n]·conj(x[n-1]); each product of two floats is exact in double.
        const double re = i * pi + q * pq;
        const double im = q * pi - i * pq;
        out[k] = static_cast<float>(gain * std::atan2(im, re));
        pi = i;
        pq = q;
    }
    if (n > 0)
    {
        lastI = I[n - 1];
        lastQ = Q[n - 1];
    }
}

} // namespace sigkit::dsp
