#include "Fft.h"

#include <cassert>
#include <cmath>
#include <numbers>
#include <utility>

namespace sigquality {

std::size_t NextPowerOfTwo(std::size_t n)
{
    std::size_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

void Fft(std::vector<Complex>& x, bool inverse)
{
    const std::size_t N = x.size();
    assert((N & (N - 1)) == 0);
    if (N < 2)
        return;
    // Bit-reversed order first, then log2(N) rounds of butterflies.
    for (std::size_t i = 1, j = 0; i < N; ++i)
    {
        std::size_t bit = N >> 1;
        for (; (j & bit) != 0; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    // Twiddles of the last round; each earlier round uses every (N / length)-th of them.
    const double sign = inverse ? 1.0 : -1.0;
    std::vector<Complex> twiddle(N / 2);
    for (std::size_t k = 0; k < N / 2; ++k)
    {
        const double angle =
            sign * 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(N);
        twiddle[k] = Complex(std::cos(angle), std::sin(angle));
    }
    for (std::size_t length = 2; length <= N; length <<= 1)
    {
        const std::size_t half = length / 2;
        const std::size_t step = N / length;
        for (std::size_t start = 0; start < N; start += length)
            for (std::size_t k = 0; k < half; ++k)
            {
                const Complex t = twiddle[k * step] * x[start + k + half];
                x[start + k + half] = x[start + k] - t;
                x[start + k] += t;
            }
    }
}

} // namespace sigquality
