#include "dsp/demod/Envelope.h"

#include <cmath>

namespace sigkit::dsp {

void Envelope(const float* I, const float* Q, int32_t n, float* out)
{
    for (int32_t k = 0; k < n; ++k)
    {
        const double i = I[k];
        const double q = Q[k];
        out[k] = static_cast<float>(std::sqrt(i * i + q * q));
    }
}

} // namespace sigkit::dsp
