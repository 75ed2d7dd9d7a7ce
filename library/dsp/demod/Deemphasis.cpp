#include "dsp/demod/Deemphasis.h"

#include <numbers>

namespace sigkit::dsp {

Deemphasis::Deemphasis(double tau, double rate) : rate(rate)
{
    const double K = 2.0 * rate * tau;
    b = 1.0 / (1.0 + K);
    a = (K - 1.0) / (K + 1.0);
}

void Deemphasis::Reset()
{
    lastIn = 0.0;
    lastOut = 0.0;
}

void Deemphasis::Process(float* x, int32_t n)
{
    double in1 = lastIn;
    double out1 = lastOut;
    for (int32_t k = 0; k < n; ++k)
    {
        const double in = x[k];
        const double out = b * (in + in1) + a * out1;
        x[k] = static_cast<float>(out);
        in1 = in;
        out1 = out;
    }
    lastIn = in1;
    lastOut = out1;
}

std::complex<double> Deemphasis::Response(double f) const
{
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * f / rate);
    return b * (1.0 + z1) / (1.0 - a * z1);
}

} // namespace sigkit::dsp
