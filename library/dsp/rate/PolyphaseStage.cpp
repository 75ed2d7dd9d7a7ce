#include "dsp/rate/PolyphaseStage.h"

#include "dsp/rate/RateArithmetic.h"

#include <algorithm>

namespace sigkit::dsp {

namespace {
constexpr int64_t kMaxBank = int64_t{1} << 24; // coefficients
} // namespace

bool PolyphaseStage::Reset(const std::vector<double>& prototype, int32_t up, int32_t down,
                           int32_t channelCount, int32_t block)
{
    const auto n = static_cast<int64_t>(prototype.size());
    if (n < 1 || n % 2 == 0 || up < 1 || down < 1 || channelCount < 1 || block < 1)
        return false;
    const int64_t branchTaps = (n + up - 1) / up;
    if (branchTaps * up > kMaxBank || n > kMaxBank)
        return false;
    L = up;
    M = down;
    N = static_cast<int32_t>(n);
    T = static_cast<int32_t>(branchTaps);
    D = (n - 1) / 2;
    channels = channelCount;
    // Branch φ, tap i (oldest first) multiplies x[newest - (T - 1 - i)]: h[φ + (T - 1 - i)·L].
    bank.assign(static_cast<std::size_t>(T) * static_cast<std::size_t>(L), 0.0f);
    for (int32_t phi = 0; phi < L; ++phi)
        for (int32_t i = 0; i < T; ++i)
        {
            const int64_t at = phi + static_cast<int64_t>(T - 1 - i) * L;
            if (at < n)
                bank[static_cast<std::size_t>(phi) * static_cast<std::size_t>(T) +
                     static_cast<std::size_t>(i)] =
                    static_cast<float>(prototype[static_cast<std::size_t>(at)]);
        }
    if (!history.Reset(channels, T, block))
        return false;
    group.assign(static_cast<std::size_t>(MaxOutputs(static_cast<int64_t>(T) + 2 * block)) + 1,
                 0.0f);
    table = &kernels::Active();
    Clear();
    return true;
}

void PolyphaseStage::Clear()
{
    history.Clear();
    written = 0;
    produced = 0;
}

void PolyphaseStage::Write(const float* const* in, std::ptrdiff_t stride, int32_t n)
{
    history.Write(in, stride, n);
    written += n;
}

void PolyphaseStage::WriteZeros(int32_t n)
{
    history.WriteZeros(n);
    written += n;
}

int64_t PolyphaseStage::Newest(int64_t k) const
{
    return FloorDiv(static_cast<Wide>(k) * M + D, L);
}

int64_t PolyphaseStage::MaxOutputs(int64_t inputs) const
{
    return FloorDiv(static_cast<Wide>(inputs) * L + M - 1, M) + 2;
}

int32_t PolyphaseStage::Read(float* const* out, int32_t limit)
{
    // Output k is available when k·M + D <= written·L - 1.
    const int64_t last = FloorDiv(static_cast<Wide>(written) * L - 1 - D, M);
    const auto count = static_cast<int32_t>(std::clamp<int64_t>(last + 1 - produced, 0, limit));
    // Outputs produced + r, r + L, r + 2L, ... share a branch; their windows lie M apart.
    const int32_t branches = std::min(count, L);
    for (int32_t r = 0; r < branches; ++r)
    {
        const int64_t k = produced + r;
        const Wide p = static_cast<Wide>(k) * M + D;
        const auto phi = static_cast<int32_t>(p % L);
        const auto newest = static_cast<int64_t>(p / L);
        const int32_t outputs = (count - r + L - 1) / L;
        const float* branch =
            bank.data() + static_cast<std::size_t>(phi) * static_cast<std::size_t>(T);
        for (int32_t c = 0; c < channels; ++c)
        {
            float* y = out[c];
            if (L == 1)
                table->firBlock(branch, T, history.At(c, newest - T + 1), -M, outputs, y);
            else
            {
                table->firBlock(branch, T, history.At(c, newest - T + 1), -M, outputs,
                                group.data());
                for (int32_t i = 0; i < outputs; ++i)
                    y[r + static_cast<std::ptrdiff_t>(i) * L] = group[static_cast<std::size_t>(i)];
            }
        }
    }
    produced += count;
    history.Discard(Newest(produced) - T + 1);
    return count;
}

int64_t PolyphaseStage::TailEnd(int64_t inputs) const
{
    // Output k reaches back to x[⌊(k·M + D)/L⌋ - T + 1].
    if (inputs <= 0)
        return 0;
    return FloorDiv(static_cast<Wide>(inputs + T - 1) * L - D - 1, M) + 1;
}

} // namespace sigkit::dsp
