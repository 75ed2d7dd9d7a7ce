#include "dsp/spectrum/Window.h"

#include <cmath>

namespace sigkit {

SpectrumWindow::SpectrumWindow(int32_t size) : w(static_cast<std::size_t>(size > 0 ? size : 0))
{
    constexpr double a0 = 0.35875;
    constexpr double a1 = 0.48829;
    constexpr double a2 = 0.14128;
    constexpr double a3 = 0.01168;
    constexpr double kTwoPi = 6.28318530717958647692;
    for (int32_t j = 0; j < size; ++j)
    {
        const double x = kTwoPi * j / size;
        const auto v = static_cast<float>(a0 - a1 * std::cos(x) + a2 * std::cos(2.0 * x) -
                                          a3 * std::cos(3.0 * x));
        w[static_cast<std::size_t>(j)] = v;
        sum += v;
        sumSquares += static_cast<double>(v) * v;
    }
    enbwBins = sum > 0.0 ? size * sumSquares / (sum * sum) : 0.0;
}

} // namespace sigkit
