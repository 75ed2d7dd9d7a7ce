#include "dsp/fft/DoubleFft.h"

#include <cmath>
#include <utility>

namespace sigkit::fft {

namespace {

constexpr double kHalfPi = 1.5707963267948966; // π/2 rounded to double

bool PowerOfTwo(int64_t n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

} // namespace

void UnitRoot(int64_t j, int64_t n, double& c, double& s)
{
    j %= n;
    if (j < 0)
        j += n;
    // 4j = quarter·n + r: the angle is quarter quarter-turns plus (π/2)·r/n, and the part within
    // the quarter is taken from whichever end is nearer.
    const int64_t quarter = (4 * j) / n;
    const int64_t r = 4 * j - quarter * n;
    double c0 = 0.0;
    double s0 = 0.0;
    if (2 * r <= n)
    {
        const double angle = kHalfPi * static_cast<double>(r) / static_cast<double>(n);
        c0 = std::cos(angle);
        s0 = std::sin(angle);
    }
    else
    {
        const double angle = kHalfPi * static_cast<double>(n - r) / static_cast<double>(n);
        c0 = std::sin(angle);
        s0 = std::cos(angle);
    }
    switch (quarter)
    {
    case 0:
        c = c0;
        s = s0;
        break;
    case 1:
        c = -s0;
        s = c0;
        break;
    case 2:
        c = -c0;
        s = -s0;
        break;
    default:
        c = s0;
        s = -c0;
        break;
    }
}

void ForwardDouble(double* re, double* im, int32_t n)
{
    if (!PowerOfTwo(n) || n > (1 << 24))
        return;
    // Bit-reversed order, then butterflies of growing span (decimation in time).
    for (int32_t i = 1, j = 0; i < n; ++i)
    {
        int32_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j)
        {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int32_t span = 2; span <= n; span *= 2)
    {
        const int32_t halfSpan = span / 2;
        const int32_t step = n / span; // unit root index step
        for (int32_t k = 0; k < halfSpan; ++k)
        {
            double c = 0.0;
            double s = 0.0;
            UnitRoot(static_cast<int64_t>(k) * step, n, c, s);
            const double wr = c;
            const double wi = -s;
            for (int32_t start = 0; start < n; start += span)
            {
                const int32_t a = start + k;
                const int32_t b = a + halfSpan;
                const double tr = wr * re[b] - wi * im[b];
                const double ti = wr * im[b] + wi * re[b];
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

} // namespace sigkit::fft
