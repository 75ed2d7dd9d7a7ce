#include "Signal.h"

namespace sigquality {

std::vector<Complex> ChannelView(const Signal& s, std::size_t first, std::size_t count, int channel)
{
    std::vector<Complex> y(count);
    const std::size_t frames = s.Frames();
    const auto stride = static_cast<std::size_t>(s.channels);
    for (std::size_t n = 0; n < count && first + n < frames; ++n)
    {
        const std::size_t at = (first + n) * stride;
        if (s.complex)
            y[n] = Complex(s.samples[at], s.samples[at + 1]);
        else
            y[n] = Complex(s.samples[at + static_cast<std::size_t>(channel)], 0.0);
    }
    return y;
}

Signal FromComplex(const std::vector<Complex>& x, double rate, bool complexOut)
{
    Signal s;
    s.rate = rate;
    s.channels = complexOut ? 2 : 1;
    s.complex = complexOut;
    s.samples.resize(x.size() * static_cast<std::size_t>(s.channels));
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        if (complexOut)
        {
            s.samples[2 * n] = static_cast<float>(x[n].real());
            s.samples[2 * n + 1] = static_cast<float>(x[n].imag());
        }
        else
            s.samples[n] = static_cast<float>(x[n].real());
    }
    return s;
}

} // namespace sigquality
