#pragma once

// The one parameterised suite of the kernel variants: every test runs for each variant (scalar,
// AVX2, AVX-512) and compares it with the scalar variant bit for bit, or the scalar variant with
// the definition. A variant this processor cannot run is skipped.
#include "stages/demod/DemodKernels.h"
#include "stages/kernels/Kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace sigtest {

class KernelVariants : public testing::TestWithParam<sigkit::kernels::Isa>
{
protected:
    void SetUp() override
    {
        variant = sigkit::kernels::TableFor(GetParam());
        demod = sigkit::demod::DemodKernelsFor(GetParam());
        if (variant == nullptr || demod == nullptr)
            GTEST_SKIP() << "this processor cannot run the variant";
    }

    static const sigkit::kernels::KernelTable& Scalar()
    {
        return *sigkit::kernels::TableFor(sigkit::kernels::Isa::Scalar);
    }
    static const sigkit::demod::DemodKernels& ScalarDemod()
    {
        return *sigkit::demod::DemodKernelsFor(sigkit::kernels::Isa::Scalar);
    }
    bool IsScalar() const { return GetParam() == sigkit::kernels::Isa::Scalar; }

    const sigkit::kernels::KernelTable* variant = nullptr;
    const sigkit::demod::DemodKernels* demod = nullptr;
};

inline std::string VariantName(const testing::TestParamInfo<sigkit::kernels::Isa>& info)
{
    switch (info.param)
    {
    case sigkit::kernels::Isa::Scalar:
        return "Scalar";
    case sigkit::kernels::Isa::Avx2:
        return "Avx2";
    case sigkit::kernels::Isa::Avx512:
        return "Avx512";
    }
    return "Unknown";
}

inline uint32_t Bits(float x)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// Values over many magnitudes and both signs, so that any change in the order of a sum shows in
// the last bits.
inline std::vector<float> MixedValues(std::size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-20, 20);
    std::vector<float> values(count);
    for (float& v : values)
        v = std::ldexp(mantissa(random), exponent(random));
    return values;
}

} // namespace sigtest
