#include "stages/filters/PolyphaseResampler.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace sigkit {

namespace {

constexpr float kBankPi = 3.1415927f; // the interpolation's pi, single precision

} // namespace

PolyphaseResampler::PolyphaseResampler()
    : history(2 * static_cast<std::size_t>(kHistoryCapacity), 0.0f), table(kernels::Active())
{
    for (auto& phase : bank)
        phase.assign(kHistoryCapacity, 0.0f);
    scratch = kernels::AllocateComplex(kHistoryCapacity);
    if (scratch == nullptr)
        throw std::bad_alloc();
}

PolyphaseResampler::~PolyphaseResampler()
{
    kernels::FreeComplex(scratch);
}

bool PolyphaseResampler::UsableRatio(float R)
{
    return std::isfinite(R) && R > 0.0f && R * kMaxUpRatio >= 1.0f;
}

int32_t PolyphaseResampler::DesignBank(float rateIn, float rateOut, float beta,
                                       FilterWindow window, int32_t length)
{
    for (auto& phase : bank)
        std::fill(phase.begin(), phase.end(), 0.0f);
    std::fill(history.begin(), history.end(), 0.0f);
    std::fill(scratch, scratch + 2 * static_cast<std::size_t>(kHistoryCapacity), 0.0f);
    state = 0;
    w = 0;
    acc = 0.0f;
    A[0] = A[1] = B[0] = B[1] = 0.0f;
    // A phase filter of N + 8 coefficients must fit the history.
    const bool valid = length >= 1 && length % 2 == 1 && length + 8 <= kHistoryCapacity;
    N = valid ? length : 0;
    NT = valid ? length + 7 : 0;
    designed = valid ? 1 : 0;
    if (!valid)
        return 0;

    // The prototype passes |f| < rateOut / 2. Interpolating (rateOut above rateIn), the bank runs
    // at the input rate, whose band ends at rateIn / 2: the prototype then keeps 0.9 of it, so
    // that the phases interpolate a band-limited filter of unit gain and the images stay out.
    float fc = rateOut / rateIn;
    if (!(fc <= 1.0f))
        fc = kInterpolationEdge;
    float* h = bank[kPrototype].data();
    DesignLowPass(fc, beta, window, N, h);

    // c_p[j] = Σ_k sinc(((k - j + 4) + p/8) · π) · h[k], j = 0 .. N+7, summed in single precision
    // in the order k = 0, 1, 2, ... The sinc depends on k - j alone, so its values are taken
    // once per phase: n = k - j + 4 runs from -(N + 3) to N + 3.
    const int32_t lowest = -(N + 3);
    std::vector<float> sincs(static_cast<std::size_t>(2 * N + 7));
    std::vector<float> sums(static_cast<std::size_t>(N + 8));
    for (int32_t p = 0; p < kPhases; ++p)
    {
        const float offset = static_cast<float>(p) / 8.0f;
        for (int32_t n = lowest; n <= N + 3; ++n)
        {
            const float position = p == 0 ? static_cast<float>(n) : static_cast<float>(n) + offset;
            sincs[static_cast<std::size_t>(n - lowest)] = Sinc(position * kBankPi);
        }
        std::fill(sums.begin(), sums.end(), 0.0f);
        // k outside, j inside: every sum still takes its terms in the order k = 0, 1, 2, ...
        for (int32_t k = 0; k < N; ++k)
        {
            const float hk = h[k];
            const float* s = sincs.data() + (k + 4 - lowest);
            for (int32_t j = 0; j < N + 8; ++j)
            {
                const float product = s[-j] * hk;
                sums[static_cast<std::size_t>(j)] = sums[static_cast<std::size_t>(j)] + product;
            }
        }
        std::copy(sums.begin(), sums.end(), bank[static_cast<std::size_t>(p)].begin());
    }
    return N;
}

void PolyphaseResampler::Store(float I, float Q)
{
    history[2 * static_cast<std::size_t>(w)] = I;
    history[2 * static_cast<std::size_t>(w) + 1] = Q;
}

void PolyphaseResampler::Sum(const float* taps, int32_t from, int32_t length, float& sumI,
                             float& sumQ)
{
    const float* window = HistoryWindow(history.data(), from, length, scratch, 2);
    float iq[2];
    table.dotComplex(taps, window, length, iq);
    sumI = iq[0];
    sumQ = iq[1];
}

void PolyphaseResampler::Interpolate(int32_t p, float t, float& outI, float& outQ)
{
    Sum(bank[static_cast<std::size_t>(p)].data(), w, NT, A[0], A[1]);
    Sum(bank[static_cast<std::size_t>(p + 1)].data(), w, NT, B[0], B[1]);
    outI = A[0] + (B[0] - A[0]) * t;
    outQ = A[1] + (B[1] - A[1]) * t;
}

int32_t PolyphaseResampler::ResampleStep(float I, float Q, float rateIn, float rateOut,
                                         float& outI, float& outQ)
{
    const float R = rateIn / rateOut;
    if (designed == 0 || !UsableRatio(R))
        return 0;

    if (!(1.0f > R))
    {
        // Decimating: one output every R inputs.
        Store(I, Q);
        acc = acc + 1.0f;
        if (acc < R)
        {
            w = NextWritePosition(w);
            state = 0;
            return 0;
        }
        const float frac = acc - R; // how far the output instant lies before the newest input
        acc = frac;
        if (8.0f > R)
        {
            const auto p = static_cast<int32_t>(8.0f * frac);
            const auto t = static_cast<float>((static_cast<double>(frac) - p * 0.125) * 8.0);
            Interpolate(p, t, outI, outQ);
        }
        else
        {
            // Phase 0 over N taps; between two neighbouring windows while R < 32.
            Sum(bank[0].data(), w, N, A[0], A[1]);
            if (32.0f > R)
            {
                const int32_t older = w == kHistoryCapacity - 1 ? 0 : w + 1;
                Sum(bank[0].data(), older, N, B[0], B[1]);
                outI = A[0] + (B[0] - A[0]) * frac;
                outQ = A[1] + (B[1] - A[1]) * frac;
            }
            else
            {
                outI = A[0];
                outQ = A[1];
            }
        }
        w = NextWritePosition(w);
        state = 1;
        return 1;
    }

    // Interpolating: one or more outputs per input. After a 2 the same input serves again.
    if (state != 2)
    {
        Store(I, Q);
        acc = acc + 1.0f;
    }
    if (acc < R)
    {
        state = 0;
        w = NextWritePosition(w);
        return 0;
    }
    const float frac = std::min(1.0f, acc - R);
    acc = frac;
    const auto p = static_cast<int32_t>(8.0f * frac);
    const auto t = static_cast<float>((static_cast<double>(frac) - p * 0.125) * 8.0);
    Interpolate(p, t, outI, outQ); // p = 8 comes only with t = 0: the phase-8 sum
    if (acc >= R)
    {
        state = 2;
        return 2;
    }
    state = 1;
    w = NextWritePosition(w);
    return 1;
}

int32_t PolyphaseResampler::GatedFilterStep(float I, float Q, float rateIn, float rateOut,
                                            float& outI, float& outQ)
{
    outI = 0.0f;
    outQ = 0.0f;
    const float R = rateIn / rateOut;
    if (designed == 0 || !UsableRatio(R))
        return 0;
    if (R > acc)
    {
        Store(I, Q);
        acc = acc + 1.0f;
        Sum(bank[kPrototype].data(), w, N, outI, outQ);
        w = NextWritePosition(w);
        return 1;
    }
    acc = acc - R;
    return 0;
}

} // namespace sigkit
