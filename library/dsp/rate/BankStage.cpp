#include "dsp/rate/BankStage.h"

#include "dsp/rate/RateArithmetic.h"

#include <algorithm>

namespace sigkit::dsp {

namespace {
constexpr int64_t kMaxBank = int64_t{1} << 24; // coefficients
constexpr int64_t kMaxTerm = int64_t{1} << 31;
} // namespace

bool BankStage::Reset(const std::vector<double>& prototype, int32_t branches, int64_t up,
                      int64_t down, int32_t channelCount, int32_t block)
{
    const auto n = static_cast<int64_t>(prototype.size());
    if (n < 1 || n % 2 == 0 || branches < 2 || up < 1 || down < 1 || up > kMaxTerm ||
        down > kMaxTerm || channelCount < 1 || block < 1)
        return false;
    // T even and P·T + 1 >= n: the prototype, padded with zeros on both sides, then has its
    // centre at T/2 input samples.
    int64_t span = (n - 1 + branches - 1) / branches;
    span += span % 2;
    if (4 * (span + 1) * branches > kMaxBank)
        return false;
    P = branches;
    L = up;
    M = down;
    N = static_cast<int32_t>(n);
    T = static_cast<int32_t>(span);
    channels = channelCount;
    const int64_t padded = static_cast<int64_t>(P) * T + 1;
    const int64_t pad = (padded - n) / 2;
    const auto h = [&](int64_t at) {
        const int64_t i = at - pad;
        return i >= 0 && i < n ? prototype[static_cast<std::size_t>(i)] : 0.0;
    };
    const int32_t width = T + 1;
    bank.assign(static_cast<std::size_t>(4) * static_cast<std::size_t>(P) *
                    static_cast<std::size_t>(width),
                0.0f);
    for (int32_t i = 0; i < P; ++i)
        for (int32_t tap = 0; tap < width; ++tap)
        {
            // Tap `tap` (oldest first) multiplies x[⌊t⌋ + T/2 - j], j = T - tap, whose distance
            // from t is frac - T/2 + j: prototype position frac·P + j·P.
            const int64_t at = i + static_cast<int64_t>(T - tap) * P;
            const double before = h(at - 1);
            const double here = h(at);
            const double next = h(at + 1);
            const double after = h(at + 2);
            const double c[4] = {
                here,
                -before / 3.0 - here / 2.0 + next - after / 6.0,
                (before + next) / 2.0 - here,
                (after - before) / 6.0 + (here - next) / 2.0,
            };
            for (int k = 0; k < 4; ++k)
                bank[(static_cast<std::size_t>(4) * static_cast<std::size_t>(i) +
                      static_cast<std::size_t>(k)) *
                         static_cast<std::size_t>(width) +
                     static_cast<std::size_t>(tap)] = static_cast<float>(c[k]);
        }
    if (!history.Reset(channels, width, block))
        return false;
    table = &kernels::Active();
    Clear();
    return true;
}

void BankStage::Clear()
{
    history.Clear();
    written = 0;
    produced = 0;
    whole = 0;
    remainder = 0;
}

void BankStage::Write(const float* const* in, std::ptrdiff_t stride, int32_t n)
{
    history.Write(in, stride, n);
    written += n;
}

void BankStage::WriteZeros(int32_t n)
{
    history.WriteZeros(n);
    written += n;
}

int64_t BankStage::MaxOutputs(int64_t inputs) const
{
    return FloorDiv(static_cast<Wide>(inputs) * L + M - 1, M) + 2;
}

int32_t BankStage::Read(float* const* out, int32_t limit)
{
    const int32_t width = T + 1;
    const int32_t half = T / 2;
    int32_t count = 0;
    // Output k needs x up to ⌊t⌋ + T/2.
    while (count < limit && whole + half <= written - 1)
    {
        const int64_t u = remainder * P;
        const auto i = static_cast<int32_t>(u / L);
        const float mu = static_cast<float>(static_cast<double>(u % L) / static_cast<double>(L));
        const float* c0 =
            bank.data() + static_cast<std::size_t>(4 * i) * static_cast<std::size_t>(width);
        const float* c1 = c0 + width;
        const float* c2 = c1 + width;
        const float* c3 = c2 + width;
        const float* a[2] = {c0, c2};
        const float* b[2] = {c1, c3};
        for (int32_t c = 0; c < channels; c += 2)
        {
            const float* w = history.At(c, whole - half);
            const float* x[2] = {w, w};
            float s[8];
            if (c + 1 < channels)
            {
                const float* v = history.At(c + 1, whole - half);
                const float* y[2] = {v, v};
                table->dotPairTwice(a, b, x, y, width, s);
                out[c + 1][count] = s[2] + mu * (s[3] + mu * (s[6] + mu * s[7]));
            }
            else
                table->dotPairTwice(a, b, x, nullptr, width, s);
            out[c][count] = s[0] + mu * (s[1] + mu * (s[4] + mu * s[5]));
        }
        ++count;
        // t += M/L, kept exact.
        whole += M / L;
        remainder += M % L;
        if (remainder >= L)
        {
            remainder -= L;
            ++whole;
        }
    }
    produced += count;
    history.Discard(whole - half);
    return count;
}

int64_t BankStage::TailEnd(int64_t inputs) const
{
    // Output k reaches back to x[⌊k·M/L⌋ - T/2]: those with k·M < (inputs + T/2)·L.
    if (inputs <= 0)
        return 0;
    return FloorDiv(static_cast<Wide>(inputs + T / 2) * L - 1, M) + 1;
}

} // namespace sigkit::dsp
