#include "dsp/rate/HalfBandDecimator.h"

#include "dsp/rate/RateArithmetic.h"

#include <algorithm>

namespace sigkit::dsp {

bool HalfBandDecimator::Reset(const std::vector<double>& halfBand, int32_t channelCount,
                              int32_t block)
{
    const auto n = static_cast<int64_t>(halfBand.size());
    if (n < 3 || n % 4 != 3 || channelCount < 1 || block < 2)
        return false;
    m = static_cast<int32_t>((n + 1) / 4);
    channels = channelCount;
    // The taps at odd distances from the centre sit at even indices 2i of the designed ones.
    taps.resize(static_cast<std::size_t>(2 * m));
    for (int32_t i = 0; i < 2 * m; ++i)
        taps[static_cast<std::size_t>(i)] =
            static_cast<float>(halfBand[static_cast<std::size_t>(2 * i)]);
    // Each history holds at most the window (odd) or the lookahead (even) once every available
    // output is read.
    const int32_t half = block / 2 + 1;
    if (!even.Reset(channels, m + 2, half) || !odd.Reset(channels, 2 * m + 2, half))
        return false;
    from.assign(static_cast<std::size_t>(channels), nullptr);
    table = &kernels::Active();
    Clear();
    return true;
}

void HalfBandDecimator::Clear()
{
    even.Clear();
    odd.Clear();
    written = 0;
    produced = 0;
}

int32_t HalfBandDecimator::Room() const
{
    return 2 * std::min(even.Room(), odd.Room()) - 1;
}

void HalfBandDecimator::Split(const float* const* in, std::ptrdiff_t stride, int32_t n, bool zeros)
{
    // Input i is x[written + i]: the even ones go to `even`, the odd ones to `odd`.
    if (zeros || stride != 1)
    {
        for (int parity = 0; parity < 2; ++parity)
        {
            const auto first = static_cast<int32_t>((parity - written % 2 + 2) % 2);
            const int32_t count = first < n ? (n - first + 1) / 2 : 0;
            ChannelHistory& to = parity == 0 ? even : odd;
            if (zeros)
                to.WriteZeros(count);
            else
            {
                for (int32_t c = 0; c < channels; ++c)
                    from[static_cast<std::size_t>(c)] = in[c] + first * stride;
                to.Write(from.data(), 2 * stride, count);
            }
        }
        written += n;
        return;
    }
    // Consecutive samples: an odd one first when the count so far is odd, then (even, odd) pairs
    // apart with the vector kernels, then an even one when one is left.
    const int32_t lead = written % 2 == 1 && n > 0 ? 1 : 0;
    const int32_t pairs = (n - lead) / 2;
    const int32_t trail = n - lead - 2 * pairs;
    for (int32_t c = 0; c < channels; ++c)
    {
        const float* x = in[c];
        float* toOdd = odd.Tail(c);
        float* toEven = even.Tail(c);
        if (lead != 0)
            *toOdd++ = x[0];
        table->deinterleave(x + lead, pairs, toEven, toOdd);
        if (trail != 0)
            toEven[pairs] = x[n - 1];
    }
    odd.Commit(lead + pairs);
    even.Commit(pairs + trail);
    written += n;
}

void HalfBandDecimator::Write(const float* const* in, std::ptrdiff_t stride, int32_t n)
{
    Split(in, stride, n, false);
}

void HalfBandDecimator::WriteZeros(int32_t n)
{
    Split(nullptr, 0, n, true);
}

int32_t HalfBandDecimator::Read(float* const* out, int32_t limit)
{
    // Output k needs x up to 2k + 2m - 1.
    const int64_t available = FloorDiv(written - 2 * m, 2) + 1 - produced;
    const auto count = static_cast<int32_t>(std::clamp<int64_t>(available, 0, limit));
    if (count > 0)
    {
        for (int32_t c = 0; c < channels; ++c)
        {
            float* y = out[c];
            // Windows of odd samples k - m .. k + m - 1, one sample apart per output.
            table->firBlock(taps.data(), 2 * m, odd.At(c, produced - m), -1, count, y);
            const float* centre = even.At(c, produced);
            for (int32_t i = 0; i < count; ++i)
                y[i] = y[i] + 0.5f * centre[i];
        }
        produced += count;
    }
    odd.Discard(produced - m);
    even.Discard(produced);
    return count;
}

int64_t HalfBandDecimator::TailEnd(int64_t inputs) const
{
    // Output k reaches back to x[2k - 2m + 1].
    return inputs <= 0 ? 0 : FloorDiv(inputs + 2 * m - 2, 2) + 1;
}

} // namespace sigkit::dsp
