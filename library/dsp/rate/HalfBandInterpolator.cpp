#include "dsp/rate/HalfBandInterpolator.h"

#include "dsp/rate/RateArithmetic.h"

#include <algorithm>

namespace sigkit::dsp {

bool HalfBandInterpolator::Reset(const std::vector<double>& halfBand, int32_t channelCount,
                                 int32_t block)
{
    const auto n = static_cast<int64_t>(halfBand.size());
    if (n < 3 || n % 4 != 3 || channelCount < 1 || block < 1)
        return false;
    m = static_cast<int32_t>((n + 1) / 4);
    channels = channelCount;
    taps.resize(static_cast<std::size_t>(2 * m));
    for (int32_t i = 0; i < 2 * m; ++i)
        taps[static_cast<std::size_t>(i)] =
            static_cast<float>(2.0 * halfBand[static_cast<std::size_t>(2 * i)]);
    if (!history.Reset(channels, 2 * m, block))
        return false;
    odd.assign(static_cast<std::size_t>(2 * m + 2 * block + 2), 0.0f);
    table = &kernels::Active();
    Clear();
    return true;
}

void HalfBandInterpolator::Clear()
{
    history.Clear();
    written = 0;
    produced = 0;
}

void HalfBandInterpolator::Write(const float* const* in, std::ptrdiff_t stride, int32_t n)
{
    history.Write(in, stride, n);
    written += n;
}

void HalfBandInterpolator::WriteZeros(int32_t n)
{
    history.WriteZeros(n);
    written += n;
}

int32_t HalfBandInterpolator::Read(float* const* out, int32_t limit)
{
    // Output 2q + 1 needs x up to q + m; output 2q needs x[q]. In order, the first one missing is
    // 2(written - m) + 1.
    const int64_t available = 2 * (written - m) + 1 - produced;
    const auto count = static_cast<int32_t>(std::clamp<int64_t>(available, 0, limit));
    if (count > 0)
    {
        const int64_t first = produced;
        const int64_t last = produced + count - 1;
        // The odd outputs among them: 2q + 1 for q = qFirstOdd .. qLastOdd.
        const int64_t qFirstOdd = first / 2;
        const int64_t qLastOdd = FloorDiv(last - 1, 2);
        const auto oddCount = static_cast<int32_t>(std::max<int64_t>(0, qLastOdd - qFirstOdd + 1));
        for (int32_t c = 0; c < channels; ++c)
        {
            if (oddCount > 0)
                table->firBlock(taps.data(), 2 * m, history.At(c, qFirstOdd - m + 1), -1, oddCount,
                                odd.data());
            float* y = out[c];
            for (int64_t j = first; j <= last; ++j)
                y[j - first] = (j % 2 == 0)
                                   ? *history.At(c, j / 2)
                                   : odd[static_cast<std::size_t>((j - 1) / 2 - qFirstOdd)];
        }
        produced += count;
    }
    // The next output needs x from q - m + 1 on (q = ⌊produced/2⌋).
    history.Discard(produced / 2 - m + 1);
    return count;
}

int64_t HalfBandInterpolator::TailEnd(int64_t inputs) const
{
    // Odd outputs reach back to x[q - m + 1], even ones to x[q].
    return inputs <= 0 ? 0 : 2 * (inputs + m - 1);
}

} // namespace sigkit::dsp
