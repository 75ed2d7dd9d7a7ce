// The kernel variants against the scalar one, bit for bit: dot products, block filters, paired
// sums, the mixer, the history store, the separation of I and Q and the sample conversions.
#include "stages/kernels/Kernels.h"
#include "KernelVariants.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace sigkit::kernels;
using sigtest::Bits;
using sigtest::KernelVariants;
using sigtest::MixedValues;

const KernelTable& Scalar()
{
    return *TableFor(Isa::Scalar);
}

TEST_P(KernelVariants, DotProductGivesTheScalarBitsForLengths1To1100Unaligned)
{
    const std::vector<float> a = MixedValues(1100 + 3, 1);
    const std::vector<float> b = MixedValues(1100 + 3, 2);
    for (int offset = 0; offset < 4; ++offset)
        for (int32_t n = 1; n <= 1100; ++n)
        {
            const float expected = Scalar().dot(a.data() + offset, b.data() + 3 - offset, n);
            const float actual = variant->dot(a.data() + offset, b.data() + 3 - offset, n);
            ASSERT_EQ(Bits(expected), Bits(actual)) << " n=" << n << " offset=" << offset;
        }
}

TEST(Kernels, DotProductIsCloseToTheExactSum)
{
    std::vector<float> a(1001), b(1001);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    double exact = 0.0;
    for (std::size_t j = 0; j < a.size(); ++j)
    {
        a[j] = value(random);
        b[j] = value(random);
        exact += static_cast<double>(a[j]) * b[j];
    }
    // Reference: the double-precision sum; 1001 single-precision roundings of values below 1
    // stay far below 1e-4.
    EXPECT_NEAR(Scalar().dot(a.data(), b.data(), 1001), exact, 1e-4);
}

TEST(Kernels, ComplexAllocationIsAlignedAndZeroedAndRefusesImpossibleSizes)
{
    float* block = AllocateComplex(1001);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 64, 0u);
    for (int i = 0; i < 2002; ++i)
        ASSERT_EQ(block[i], 0.0f);
    FreeComplex(block);
    FreeComplex(nullptr);
    EXPECT_EQ(AllocateComplex(0), nullptr);
    EXPECT_EQ(AllocateComplex(std::numeric_limits<std::size_t>::max() / 4), nullptr);
}

// ---- Block filters and paired dot products: the same sums, several at a time.

TEST_P(KernelVariants, BlockFilterGivesEachOutputTheDotProductBitsForAnyCountStrideAndLength)
{
    const std::vector<float> taps = MixedValues(1010, 21);
    const std::vector<float> samples = MixedValues(8000, 22);
    for (int32_t n : {1, 2, 7, 15, 16, 17, 31, 101, 108, 301, 308, 1001, 1008})
        for (int32_t stride : {1, 2, 5, 20})
            for (int32_t count : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33})
            {
                // The windows reach down to x - (count - 1) * stride.
                const float* x = samples.data() + 33 * 20 + (n % 3);
                std::vector<float> out(count + 1, 7.0f);
                variant->firBlock(taps.data(), n, x, stride, count, out.data());
                for (int32_t i = 0; i < count; ++i)
                    ASSERT_EQ(Bits(out[i]), Bits(Scalar().dot(taps.data(), x - i * stride, n)))
                        << " n=" << n << " stride=" << stride << " i=" << i;
                ASSERT_EQ(out[count], 7.0f) << "written past the last output";
            }
}

// Hilbert-like taps: zero at every even index.
std::vector<float> OddOnlyTaps(int32_t n, uint32_t seed)
{
    std::vector<float> taps = MixedValues(static_cast<std::size_t>(n), seed);
    for (int32_t j = 0; j < n; j += 2)
        taps[static_cast<std::size_t>(j)] = 0.0f;
    return taps;
}

TEST_P(KernelVariants, OddTapBlockFilterGivesTheFullBlockFilterBitsOnFiniteSamples)
{
    const std::vector<float> samples = MixedValues(2000, 23);
    for (int32_t n : {1, 2, 3, 16, 17, 33, 301})
    {
        const std::vector<float> taps = OddOnlyTaps(n, 24);
        for (int32_t count : {1, 5, 8, 15, 16, 17, 31, 32, 33, 64, 100})
        {
            const float* x = samples.data() + 120;
            std::vector<float> expected(count);
            Scalar().firBlock(taps.data(), n, x, 1, count, expected.data());
            {
                std::vector<float> actual(count + 1, 7.0f);
                variant->firBlockOddTaps(taps.data(), n, x, count, actual.data());
                for (int32_t i = 0; i < count; ++i)
                    ASSERT_EQ(Bits(actual[i]), Bits(expected[i]))
                        << " n=" << n << " count=" << count << " i=" << i;
                ASSERT_EQ(actual[count], 7.0f);
            }
        }
    }
}

TEST_P(KernelVariants, OddTapBlockFilterLeavesOutTheEvenProducts)
{
    // With infinities and NaN at even distances the skipped products would have been NaN: every
    // variant leaves them out alike.
    std::vector<float> samples = MixedValues(1200, 25);
    for (std::size_t i = 0; i < samples.size(); i += 97)
        samples[i] = (i / 97) % 2 == 0 ? std::numeric_limits<float>::infinity()
                                       : std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> taps = OddOnlyTaps(301, 26);
    const float* x = samples.data() + 400;
    std::vector<float> expected(200);
    Scalar().firBlockOddTaps(taps.data(), 301, x, 200, expected.data());
    {
        std::vector<float> actual(200);
        variant->firBlockOddTaps(taps.data(), 301, x, 200, actual.data());
        for (int32_t i = 0; i < 200; ++i)
            ASSERT_EQ(Bits(actual[i]), Bits(expected[i])) << " i=" << i;
    }
}

TEST_P(KernelVariants, PairedDotProductsGiveTheDotProductBitsWithAndWithoutTheSecondWindow)
{
    const std::vector<float> a = MixedValues(1010, 27);
    const std::vector<float> b = MixedValues(1010, 28);
    const std::vector<float> x = MixedValues(1013, 29);
    const std::vector<float> y = MixedValues(1013, 30);
    for (int32_t n = 1; n <= 1008; n += (n < 40 ? 1 : 37))
        for (int offset = 0; offset < 3; ++offset)
        {
            float out[4] = {7.0f, 7.0f, 7.0f, 7.0f};
            variant->dotPair(a.data(), b.data(), x.data() + offset, nullptr, n, out);
            ASSERT_EQ(Bits(out[0]), Bits(Scalar().dot(a.data(), x.data() + offset, n))) << n;
            ASSERT_EQ(Bits(out[1]), Bits(Scalar().dot(b.data(), x.data() + offset, n))) << n;
            ASSERT_EQ(out[2], 7.0f) << "the second window's results are left alone";
            variant->dotPair(a.data(), b.data(), x.data() + offset, y.data() + offset, n, out);
            ASSERT_EQ(Bits(out[0]), Bits(Scalar().dot(a.data(), x.data() + offset, n))) << n;
            ASSERT_EQ(Bits(out[1]), Bits(Scalar().dot(b.data(), x.data() + offset, n))) << n;
            ASSERT_EQ(Bits(out[2]), Bits(Scalar().dot(a.data(), y.data() + offset, n))) << n;
            ASSERT_EQ(Bits(out[3]), Bits(Scalar().dot(b.data(), y.data() + offset, n)))
                << " n=" << n;
        }
}

TEST_P(KernelVariants, TwoPairedDotProductsAtOnceGiveEachPairsBits)
{
    const std::vector<float> taps = MixedValues(4 * 1010, 39);
    const std::vector<float> data = MixedValues(4 * 1013, 40);
    const float* a[2] = {taps.data(), taps.data() + 1010};
    const float* b[2] = {taps.data() + 2020, taps.data() + 3030};
    const float* x[2] = {data.data() + 1, data.data() + 1014};
    const float* y[2] = {data.data() + 2027, data.data() + 3040};
    for (int32_t n : {1, 15, 16, 17, 108, 308, 1008})
        for (bool both : {true, false})
        {
            float out[8] = {7, 7, 7, 7, 7, 7, 7, 7};
            variant->dotPairTwice(a, b, x, both ? y : nullptr, n, out);
            for (int k = 0; k < 2; ++k)
            {
                float expected[4] = {7, 7, 7, 7};
                Scalar().dotPair(a[k], b[k], x[k], both ? y[k] : nullptr, n, expected);
                for (int m = 0; m < 4; ++m)
                    ASSERT_EQ(Bits(out[4 * k + m]), Bits(expected[m]))
                        << " n=" << n << " output " << k << " sum " << m;
            }
        }
}

// ---- The mixer: element-wise single precision, the same in every variant.

TEST_P(KernelVariants, MixerGivesTheScalarBitsAlsoInPlace)
{
    const std::vector<float> I = MixedValues(100, 31);
    const std::vector<float> Q = MixedValues(100, 32);
    const std::vector<float> s = MixedValues(100, 33);
    const std::vector<float> c = MixedValues(100, 34);
    for (int32_t n : {0, 1, 7, 8, 9, 15, 16, 17, 100})
    {
        std::vector<float> eI(n), eQ(n);
        Scalar().mix(I.data(), Q.data(), s.data(), c.data(), n, eI.data(), eQ.data());
        for (int32_t i = 0; i < n; ++i)
        {
            ASSERT_EQ(Bits(eI[i]), Bits(c[i] * I[i] + Q[i] * s[i]));
            ASSERT_EQ(Bits(eQ[i]), Bits(Q[i] * c[i] - I[i] * s[i]));
        }
        {
            std::vector<float> aI(I.begin(), I.begin() + n), aQ(Q.begin(), Q.begin() + n);
            variant->mix(aI.data(), aQ.data(), s.data(), c.data(), n, aI.data(), aQ.data());
            for (int32_t i = 0; i < n; ++i)
            {
                ASSERT_EQ(Bits(aI[i]), Bits(eI[i])) << " n=" << n;
                ASSERT_EQ(Bits(aQ[i]), Bits(eQ[i])) << " n=" << n;
            }
        }
    }
}

TEST_P(KernelVariants, ReversedStoreWritesNewestFirstAndFindsTheLargestMagnitude)
{
    std::vector<float> x = MixedValues(70, 38);
    x[33] = -5e30f; // the largest, negative
    for (int32_t n = 0; n <= 70; ++n)
    {
        std::vector<float> history(n + 2, 7.0f);
        const uint32_t largest = variant->storeReversed(x.data(), n, history.data() + n);
        uint32_t expected = 0;
        for (int32_t i = 0; i < n; ++i)
        {
            ASSERT_EQ(Bits(history[n - i]), Bits(x[i])) << " n=" << n;
            expected = std::max(expected, Bits(x[i]) & 0x7FFFFFFFu);
        }
        ASSERT_EQ(history[0], 7.0f); // nothing before the oldest
        ASSERT_EQ(history[n + 1], 7.0f);
        ASSERT_EQ(largest, expected) << " n=" << n;
    }
    // Infinities and NaN lie above every finite magnitude.
    const float special[] = {1.0f, -std::numeric_limits<float>::infinity(), 3e38f,
                             std::numeric_limits<float>::quiet_NaN()};
    {
        float history[4];
        EXPECT_EQ(variant->storeReversed(special, 3, history + 2), 0x7F800000u);
        EXPECT_GT(variant->storeReversed(special, 4, history + 3), 0x7F800000u);
    }
}

TEST_P(KernelVariants, DeinterleavingSeparatesIAndQAtAnyLength)
{
    const std::vector<float> iq = MixedValues(2 * 70 + 1, 37);
    for (int32_t pairs = 0; pairs <= 70; ++pairs)
    {
        std::vector<float> I(pairs + 1, 7.0f), Q(pairs + 1, 7.0f);
        variant->deinterleave(iq.data() + 1, pairs, I.data(), Q.data());
        for (int32_t k = 0; k < pairs; ++k)
        {
            ASSERT_EQ(Bits(I[k]), Bits(iq[1 + 2 * k])) << " " << pairs;
            ASSERT_EQ(Bits(Q[k]), Bits(iq[2 + 2 * k])) << " " << pairs;
        }
        ASSERT_EQ(I[pairs], 7.0f);
        ASSERT_EQ(Q[pairs], 7.0f);
    }
}

// ---- Sample conversions.

constexpr StoredFormat kFormats[] = {StoredFormat::Int8,  StoredFormat::UInt8,
                                     StoredFormat::Int16, StoredFormat::UInt16,
                                     StoredFormat::Int24, StoredFormat::Int32};

std::vector<uint8_t> RandomBytes(std::size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

// Halves, near-halves, the edges of every range and beyond, and the special values.
std::vector<float> AwkwardFloats(std::size_t count, uint32_t seed)
{
    const float fixed[] = {0.0f,
                           -0.0f,
                           0.5f,
                           -0.5f,
                           1.5f,
                           -1.5f,
                           2.5f,
                           -2.5f,
                           0.49999997f,
                           -0.49999997f,
                           127.5f,
                           -128.5f,
                           128.0f,
                           255.5f,
                           32767.5f,
                           -32768.5f,
                           65535.5f,
                           8388607.5f,
                           -8388608.5f,
                           2147483520.0f,
                           2147483648.0f,
                           -2147483648.0f,
                           -2147483904.0f,
                           1e30f,
                           -1e30f,
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN(),
                           -std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::denorm_min(),
                           -1e-30f};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pick(0, 3);
    std::uniform_int_distribution<int> fixedIndex(0, static_cast<int>(std::size(fixed)) - 1);
    std::uniform_int_distribution<int32_t> whole(-70000, 70000);
    std::uniform_real_distribution<float> wide(-3e9f, 3e9f);
    std::vector<float> values(count);
    for (float& v : values)
        switch (pick(random))
        {
        case 0:
            v = fixed[fixedIndex(random)];
            break;
        case 1:
            v = static_cast<float>(whole(random)) + 0.5f;
            break;
        case 2:
            v = static_cast<float>(whole(random)) * 0.37f;
            break;
        default:
            v = wide(random);
            break;
        }
    return values;
}

TEST_P(KernelVariants, ConversionsToFloatGiveTheScalarBitsAtAnyLengthAndAlignment)
{
    const std::vector<uint8_t> bytes = RandomBytes(4 * 80 + 3, 11);
    for (StoredFormat format : kFormats)
        for (int offset = 0; offset < 4; ++offset)
            for (int32_t n = 0; n <= 80; ++n)
            {
                const auto f = static_cast<int>(format);
                std::vector<float> expected(n + 1, 7.0f), actual(n + 1, 7.0f);
                Scalar().toFloat[f](bytes.data() + offset, n, expected.data());
                variant->toFloat[f](bytes.data() + offset, n, actual.data());
                for (int32_t i = 0; i <= n; ++i) // the entry after the last is untouched
                    ASSERT_EQ(Bits(expected[i]), Bits(actual[i]))
                        << " format " << f << " n=" << n << " i=" << i;
            }
}

TEST_P(KernelVariants, ConversionsFromFloatGiveTheScalarBytesAtAnyLengthAndAlignment)
{
    const std::vector<float> values = AwkwardFloats(83, 12);
    std::vector<uint8_t> bytes(4 * values.size() + 3);
    for (StoredFormat format : kFormats)
        for (int offset = 0; offset < 4; ++offset)
        {
            std::memcpy(bytes.data() + offset, values.data(), 4 * values.size());
            for (int32_t n = 0; n <= 80; ++n)
            {
                const auto f = static_cast<int>(format);
                const std::size_t size = static_cast<std::size_t>(n + 1) * 4;
                std::vector<uint8_t> expected(size, 0xA5), actual(size, 0xA5);
                Scalar().fromFloat[f](bytes.data() + offset, n, expected.data());
                variant->fromFloat[f](bytes.data() + offset, n, actual.data());
                ASSERT_EQ(expected, actual) << " format " << f << " n=" << n;
            }
        }
}

// Independent reference for one stored value: the double x + offset rounded by the hardware in
// the default mode (halves to even), then limited; NaN is taken as 0.0.
int64_t ReferenceStored(float x, StoredFormat format)
{
    const int bits = 8 * StoredBytes(format);
    const bool isUnsigned = format == StoredFormat::UInt8 || format == StoredFormat::UInt16;
    const double lo = isUnsigned ? 0.0 : -std::ldexp(1.0, bits - 1);
    const double hi = isUnsigned ? std::ldexp(1.0, bits) - 1.0 : std::ldexp(1.0, bits - 1) - 1.0;
    const double value =
        std::nearbyint((std::isnan(x) ? 0.0 : static_cast<double>(x)) + StoredOffset(format));
    return static_cast<int64_t>(std::fmin(std::fmax(value, lo), hi));
}

int64_t ReadStored(const uint8_t* p, StoredFormat format)
{
    const int bytes = StoredBytes(format);
    uint64_t bits = 0;
    for (int b = 0; b < bytes; ++b)
        bits |= static_cast<uint64_t>(p[b]) << (8 * b);
    const bool isUnsigned = format == StoredFormat::UInt8 || format == StoredFormat::UInt16;
    if (!isUnsigned && (bits >> (8 * bytes - 1)) != 0)
        return static_cast<int64_t>(bits) - (int64_t{1} << (8 * bytes));
    return static_cast<int64_t>(bits);
}

constexpr int kRoundingModes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};

TEST_P(KernelVariants, FloatsBecomeStoredSamplesHalvesToEvenInEveryRoundingMode)
{
    const std::vector<float> values = AwkwardFloats(4000, 13);
    std::vector<int64_t> reference[kStoredFormatCount];
    for (StoredFormat format : kFormats)
        for (float x : values)
            reference[static_cast<int>(format)].push_back(ReferenceStored(x, format));
    std::vector<uint8_t> out(4 * values.size());
    for (int mode : kRoundingModes)
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        for (StoredFormat format : kFormats)
        {
            const auto f = static_cast<int>(format);
            variant->fromFloat[f](reinterpret_cast<const uint8_t*>(values.data()),
                                  static_cast<int32_t>(values.size()), out.data());
            for (std::size_t i = 0; i < values.size(); ++i)
                ASSERT_EQ(ReadStored(out.data() + i * StoredBytes(format), format), reference[f][i])
                    << "mode " << mode << " format " << f << " value " << values[i];
        }
        std::fesetround(FE_TONEAREST);
    }
}

TEST_P(KernelVariants, ThirtyTwoBitIntegersBecomeTheNearestFloatInEveryRoundingMode)
{
    std::vector<int32_t> values = {0,          1,         -1,         16777216,        16777217,
                                   16777219,   -16777217, 2147483647, -2147483647 - 1, 2147483583,
                                   2147483584, 33554434,  33554438,   -33554438};
    std::mt19937 random(14);
    for (int i = 0; i < 4000; ++i)
        values.push_back(static_cast<int32_t>(random()));
    std::vector<float> reference;
    for (int32_t v : values)
        reference.push_back(static_cast<float>(v)); // the hardware's own nearest, halves to even
    std::vector<float> out(values.size());
    for (int mode : kRoundingModes)
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        variant->toFloat[static_cast<int>(StoredFormat::Int32)](
            reinterpret_cast<const uint8_t*>(values.data()), static_cast<int32_t>(values.size()),
            out.data());
        std::fesetround(FE_TONEAREST);
        for (std::size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(Bits(out[i]), Bits(reference[i])) << "mode " << mode << " " << values[i];
    }
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Kernels, KernelVariants,
                         testing::Values(Isa::Scalar, Isa::Avx2, Isa::Avx512),
                         sigtest::VariantName);
