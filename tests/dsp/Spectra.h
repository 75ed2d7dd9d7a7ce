#pragma once

// Helpers of the transform and fast-filter tests: random signals, bit comparisons, and the
// double-precision references they are measured against.
#include "dsp/fft/FftKernels.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace sigtest {

struct Complex
{
    std::vector<float> re, im;
};

inline Complex RandomComplex(std::size_t count, uint32_t seed, float scale = 1.0f)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-scale, scale);
    Complex x{std::vector<float>(count), std::vector<float>(count)};
    for (std::size_t i = 0; i < count; ++i)
    {
        x.re[i] = value(random);
        x.im[i] = value(random);
    }
    return x;
}

inline std::vector<float> RandomReal(std::size_t count, uint32_t seed, float scale = 1.0f)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-scale, scale);
    std::vector<float> x(count);
    for (float& v : x)
        v = value(random);
    return x;
}

// Index of the first value whose bits differ, or -1 when all are equal.
inline int64_t FirstDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size())
        return 0;
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        uint32_t x = 0;
        uint32_t y = 0;
        std::memcpy(&x, &a[i], sizeof x);
        std::memcpy(&y, &b[i], sizeof y);
        if (x != y)
            return static_cast<int64_t>(i);
    }
    return -1;
}

// The vector variants this processor runs (the scalar one is the reference).
inline std::vector<const sigkit::fft::FftKernels*> VectorVariants()
{
    std::vector<const sigkit::fft::FftKernels*> variants;
    for (sigkit::kernels::Isa isa : {sigkit::kernels::Isa::Avx2, sigkit::kernels::Isa::Avx512})
        if (const sigkit::fft::FftKernels* table = sigkit::fft::TableFor(isa))
            variants.push_back(table);
    return variants;
}

// Power of the difference over the power of the reference, in dB.
inline double ErrorDb(const std::vector<double>& refRe, const std::vector<double>& refIm,
                      const float* re, const float* im, std::size_t count)
{
    double error = 0.0;
    double power = 0.0;
    for (std::size_t i = 0; i < count; ++i)
    {
        const double dr = static_cast<double>(re[i]) - refRe[i];
        const double di = static_cast<double>(im[i]) - refIm[i];
        error += dr * dr + di * di;
        power += refRe[i] * refRe[i] + refIm[i] * refIm[i];
    }
    return 10.0 * std::log10(error / power);
}

} // namespace sigtest
