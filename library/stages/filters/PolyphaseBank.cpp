#include "stages/filters/PolyphaseBank.h"

#include "stages/kernels/Kernels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <vector>

namespace sigkit {

namespace {

constexpr float kBankPi = 3.1415927f; // the interpolation's pi, single precision

} // namespace

PolyphaseBank::PolyphaseBank()
{
    // Ten arrays of floats: five of (I, Q) pairs' worth.
    bank = kernels::AllocateComplex(5 * static_cast<std::size_t>(kHistoryCapacity));
    if (bank == nullptr)
        throw std::bad_alloc();
}

PolyphaseBank::~PolyphaseBank()
{
    kernels::FreeComplex(bank);
}

int32_t PolyphaseBank::Design(float rateIn, float rateOut, float beta, FilterWindow window,
                              int32_t length, bool phases)
{
    // Only what was written can be other than zero: the coefficients of the last design (the
    // arrays were zeroed at construction).
    for (int32_t p = 0; p <= kPrototype; ++p)
        std::fill(Array(p), Array(p) + bankExtent, 0.0f);
    bankExtent = 0;
    tameLimit = 0.0f;
    const bool valid = length >= 1 && length % 2 == 1 && length + kPhaseExtra <= kHistoryCapacity;
    N = valid ? length : 0;
    if (!valid)
        return 0;
    bankExtent = N + kPhaseExtra;

    // Interpolating (rateOut above rateIn), the bank runs at the input rate, whose band ends at
    // rateIn / 2: the prototype keeps kInterpolationEdge of it, so that the phases interpolate a
    // band-limited filter of unit gain and the images stay out.
    float fc = rateOut / rateIn;
    if (!(fc <= 1.0f))
        fc = kInterpolationEdge;
    DesignLowPass(fc, beta, window, N, Array(kPrototype));
    if (phases)
        DesignPhases(Array(kPrototype));
    return N;
}

void PolyphaseBank::DesignPhases(const float* h)
{
    // c_p[j] = Σ_k sinc(((k - j + 4) + p/8) · π) · h[k], j = 0 .. N+7, summed in single precision
    // in the order k = 0, 1, 2, ... The sinc depends on k - j alone, so its values are taken
    // once per phase: n = k - j + 4 runs from -(N + 3) to N + 3.
    const int32_t lowest = -(N + kBankDelay - 1);
    std::vector<float> sincs(static_cast<std::size_t>(2 * N + kPhaseExtra - 1));
    std::vector<float> sums(static_cast<std::size_t>(N + kPhaseExtra));
    for (int32_t p = 0; p < kPhases; ++p)
    {
        const float offset = static_cast<float>(p) / static_cast<float>(kPhaseSteps);
        for (int32_t n = lowest; n <= N + kBankDelay - 1; ++n)
        {
            const float position = p == 0 ? static_cast<float>(n) : static_cast<float>(n) + offset;
            sincs[static_cast<std::size_t>(n - lowest)] = Sinc(position * kBankPi);
        }
        std::fill(sums.begin(), sums.end(), 0.0f);
        // k outside, j inside: every sum still takes its terms in the order k = 0, 1, 2, ...
        for (int32_t k = 0; k < N; ++k)
        {
            const float hk = h[k];
            const float* s = sincs.data() + (k + kBankDelay - lowest);
            for (int32_t j = 0; j < N + kPhaseExtra; ++j)
            {
                const float product = s[-j] * hk;
                sums[static_cast<std::size_t>(j)] = sums[static_cast<std::size_t>(j)] + product;
            }
        }
        std::copy(sums.begin(), sums.end(), Array(p));
    }

    // The largest sum of tap magnitudes over the filters the resampler uses (the nine phases over
    // N + 7 taps; phase 0 over N + 1 is within it).
    double largest = 0.0;
    for (int32_t p = 0; p < kPhases; ++p)
    {
        double magnitude = 0.0;
        for (int32_t j = 0; j < N + kPhaseExtra - 1; ++j)
            magnitude += std::fabs(static_cast<double>(Phase(p)[j]));
        largest = std::max(largest, magnitude);
    }
    tameLimit = largest > 0.0 ? static_cast<float>(static_cast<double>(FLT_MAX) / (8.0 * largest))
                              : FLT_MAX;
}

} // namespace sigkit
