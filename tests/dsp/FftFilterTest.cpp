#include "dsp/filters/FftFilter.h"
#include "dsp/filters/StreamFftFilter.h"
#include "stages/filters/BlockFilter.h"
#include "stages/filters/FilterDesign.h"

#include "Spectra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace sigkit;
using sigtest::Complex;
using sigtest::FirstDifference;
using sigtest::RandomComplex;

constexpr double kTwoPi = 6.283185307179586;

struct Taps
{
    std::vector<float> re, im; // im empty: real taps
};

// A windowed-sinc low-pass passing a fifth of the band (N odd), as the stages design them.
Taps LowPass(int32_t N)
{
    Taps taps{std::vector<float>(N), {}};
    DesignLowPass(0.2f, 0.0f, kWindowNuttall, N, taps.re.data());
    return taps;
}

// Random taps of any length: no symmetry, no structure to hide a wrong index.
Taps RandomTaps(int32_t N, uint32_t seed)
{
    return Taps{sigtest::RandomReal(N, seed, 0.05f), {}};
}

// The low-pass moved to +0.15 of the rate: complex taps.
Taps ShiftedLowPass(int32_t N)
{
    Taps low = LowPass(N);
    Taps taps{std::vector<float>(N), std::vector<float>(N)};
    for (int32_t j = 0; j < N; ++j)
    {
        const double angle = kTwoPi * 0.15 * j;
        taps.re[j] = static_cast<float>(low.re[j] * std::cos(angle));
        taps.im[j] = static_cast<float>(low.re[j] * std::sin(angle));
    }
    return taps;
}

std::unique_ptr<FftFilter> MakeFilter(const Taps& taps, const FftFilterOptions& options = {})
{
    const auto N = static_cast<int32_t>(taps.re.size());
    if (taps.im.empty())
        return std::make_unique<FftFilter>(taps.re.data(), N, options);
    return std::make_unique<FftFilter>(taps.re.data(), taps.im.data(), N, options);
}

// y[t] = Σ taps[j]·x[t - j] in double precision, from zeros before the first sample.
void DirectConvolution(const Taps& taps, const Complex& x, std::vector<double>& yr,
                       std::vector<double>& yi, int32_t step = 1)
{
    const auto n = static_cast<int64_t>(x.re.size());
    const auto N = static_cast<int64_t>(taps.re.size());
    yr.assign(n, 0.0);
    yi.assign(n, 0.0);
    for (int64_t t = 0; t < n; t += step)
    {
        double sr = 0.0;
        double si = 0.0;
        for (int64_t j = 0; j < N && j <= t; ++j)
        {
            const double hr = taps.re[j];
            const double hi = taps.im.empty() ? 0.0 : taps.im[j];
            sr += hr * x.re[t - j] - hi * x.im[t - j];
            si += hr * x.im[t - j] + hi * x.re[t - j];
        }
        yr[t] = sr;
        yi[t] = si;
    }
}

// Block sizes of every kind: single samples, short odd runs, a few hops' worth.
std::vector<int32_t> RandomBlocks(int32_t total, uint32_t seed, int32_t longest = 20000)
{
    std::mt19937 random(seed);
    std::vector<int32_t> blocks;
    for (int32_t done = 0; done < total;)
    {
        int32_t size = 1;
        switch (random() % 4)
        {
        case 0:
            size = 1;
            break;
        case 1:
            size = 2 + static_cast<int32_t>(random() % 63);
            break;
        case 2:
            size = 65 + static_cast<int32_t>(random() % 3000);
            break;
        default:
            size = 1 + static_cast<int32_t>(random() % longest);
            break;
        }
        size = std::min(size, total - done);
        blocks.push_back(size);
        done += size;
    }
    return blocks;
}

Complex Filtered(BlockFilter& filter, const Complex& x, const std::vector<int32_t>& blocks)
{
    Complex y{std::vector<float>(x.re.size(), -1.0f), std::vector<float>(x.re.size(), -1.0f)};
    int32_t at = 0;
    for (int32_t block : blocks)
    {
        filter.StepBlock(x.re.data() + at, x.im.data() + at, block, y.re.data() + at,
                         y.im.data() + at);
        at += block;
    }
    return y;
}

Complex Filtered(BlockFilter& filter, const Complex& x)
{
    return Filtered(filter, x, {static_cast<int32_t>(x.re.size())});
}

// Noise over the whole band plus a strong tone in the pass band and one in the stop band.
Complex TestSignal(int32_t n, uint32_t seed)
{
    Complex x = RandomComplex(n, seed, 0.3f);
    for (int32_t t = 0; t < n; ++t)
    {
        const double pass = kTwoPi * 0.031 * t;
        const double stop = kTwoPi * -0.37 * t;
        x.re[t] += static_cast<float>(0.5 * std::cos(pass) + 0.2 * std::cos(stop));
        x.im[t] += static_cast<float>(0.5 * std::sin(pass) + 0.2 * std::sin(stop));
    }
    return x;
}

double ErrorDb(const Taps& taps, const Complex& x, const Complex& y)
{
    std::vector<double> yr, yi;
    DirectConvolution(taps, x, yr, yi);
    return sigtest::ErrorDb(yr, yi, y.re.data(), y.im.data(), x.re.size());
}

// ---- Against direct convolution in double precision.

// The float rounding of two transforms, measured against the exact sum: -135 to -140 dB
// (printed), the required bound -120 dB.
TEST(FftFilter, DesignedLowPassesMatchDirectConvolutionWithin120DbInRandomBlocks)
{
    for (int32_t N : {101, 301, 1001, 4095})
    {
        const Taps taps = LowPass(N);
        auto filter = MakeFilter(taps);
        const int32_t n = std::max(40000, 3 * filter->Hop() + 5000);
        const Complex x = TestSignal(n, static_cast<uint32_t>(N));
        const Complex y = Filtered(*filter, x, RandomBlocks(n, static_cast<uint32_t>(N)));
        const double db = ErrorDb(taps, x, y);
        std::printf("N=%d L=%d hop=%d: error %.1f dB\n", N, filter->TransformSize(), filter->Hop(),
                    db);
        EXPECT_LT(db, -120.0) << N;
    }
}

TEST(FftFilter, EvenLengthsRandomTapsAndComplexTapsMatchDirectConvolutionWithin120Db)
{
    const Taps cases[] = {RandomTaps(100, 1), RandomTaps(4096, 2), RandomTaps(17, 3),
                          ShiftedLowPass(301), ShiftedLowPass(1001)};
    for (const Taps& taps : cases)
    {
        auto filter = MakeFilter(taps);
        const int32_t n = std::max(30000, 2 * filter->Hop() + 3000);
        const Complex x = TestSignal(n, 7);
        const Complex y = Filtered(*filter, x, RandomBlocks(n, 8));
        EXPECT_LT(ErrorDb(taps, x, y), -120.0)
            << taps.re.size() << (taps.im.empty() ? " real" : " complex");
    }
}

TEST(FftFilter, SingleSampleStepsAndOneLongBlockBothMatchDirectConvolution)
{
    for (const Taps& taps : {LowPass(301), ShiftedLowPass(101)})
    {
        const Complex x = TestSignal(100000, 3);
        auto filter = MakeFilter(taps);
        EXPECT_LT(ErrorDb(taps, x, Filtered(*filter, x)), -120.0);
        filter->Reset();
        const Complex head{std::vector<float>(x.re.begin(), x.re.begin() + 5000),
                           std::vector<float>(x.im.begin(), x.im.begin() + 5000)};
        EXPECT_LT(ErrorDb(taps, head, Filtered(*filter, head, std::vector<int32_t>(5000, 1))),
                  -120.0);
    }
}

// The longest filters the engine designs: 2^16 taps, a transform of 2^18 or more. Checked on
// every 61st output (the double-precision sums are long).
TEST(FftFilter, FilterOf65536TapsMatchesDirectConvolutionOverTwoHops)
{
    const Taps taps = RandomTaps(1 << 16, 4);
    auto filter = MakeFilter(taps);
    ASSERT_TRUE(filter->IsValid());
    const int32_t n = filter->Hop() + 20000;
    const Complex x = TestSignal(n, 5);
    const Complex y = Filtered(*filter, x, {7, 9000, filter->Hop() - 9007, 1, 19999});
    std::vector<double> yr, yi;
    DirectConvolution(taps, x, yr, yi, 61);
    double error = 0.0;
    double power = 0.0;
    for (int32_t t = 0; t < n; t += 61)
    {
        error += std::pow(y.re[t] - yr[t], 2) + std::pow(y.im[t] - yi[t], 2);
        power += yr[t] * yr[t] + yi[t] * yi[t];
    }
    EXPECT_LT(10.0 * std::log10(error / power), -120.0);
}

// ---- Worked examples.

TEST(FftFilter, UnitImpulseGivesTheTapsInOrderAtTheDirectFormsDelay)
{
    const Taps taps = RandomTaps(301, 6);
    auto filter = MakeFilter(taps);
    EXPECT_EQ(filter->Delay(), 150);
    const int32_t n = 2 * filter->Hop() + 500;
    Complex x{std::vector<float>(n, 0.0f), std::vector<float>(n, 0.0f)};
    const int32_t at = filter->Hop() - 100; // the response runs across a hop boundary
    x.re[at] = 1.0f;
    const Complex y = Filtered(*filter, x, RandomBlocks(n, 9, 3000));
    for (int32_t t = 0; t < n; ++t)
    {
        const int32_t j = t - at;
        const float expected = j >= 0 && j < 301 ? taps.re[j] : 0.0f;
        ASSERT_NEAR(y.re[t], expected, 1e-7f) << t;
        ASSERT_NEAR(y.im[t], 0.0f, 1e-7f) << t;
    }
}

TEST(FftFilter, DelayIsHalfTheLengthRoundedDown)
{
    EXPECT_EQ(MakeFilter(LowPass(101))->Delay(), 50);
    EXPECT_EQ(MakeFilter(RandomTaps(100, 1))->Delay(), 49);
    EXPECT_EQ(MakeFilter(RandomTaps(1, 1))->Delay(), 0);
}

TEST(FftFilter, ShapeFillsTheTransformForLongBlocksAndDividesTheCallersBlockWhereThatPays)
{
    for (int32_t N : {1, 2, 101, 301, 1001, 4095, 4096, 65536, FftFilter::kMaxTaps})
    {
        const FftFilterShape shape = FftFilter::ChooseShape(N);
        const int32_t L = shape.transformSize;
        EXPECT_EQ(L & (L - 1), 0) << N;
        EXPECT_EQ(shape.hop, L - N + 1) << N;
        // Worth a transform: at least as many new samples as taps, up to the largest size.
        EXPECT_GE(shape.hop, std::min(N, FftPlan::kMaxSize - N + 1)) << N;
        for (int32_t block : {1, 2048, 3000, 1 << 16})
        {
            const FftFilterShape fitted = FftFilter::ChooseShape(N, {.block = block});
            EXPECT_TRUE(block % fitted.hop == 0 || fitted.hop == fitted.transformSize - N + 1)
                << N << " " << block;
        }
    }
    // Single samples: direct sums, never a transform per sample (hops of 1).
    for (int32_t N : {2, 101, 1001})
        EXPECT_GT(FftFilter::ChooseShape(N, {.block = 1}).hop, 1) << N;
    // The stages' blocks of 2048 with the original kinds' lengths: hops that divide them.
    for (int32_t N : {101, 301, 1001})
        EXPECT_EQ(2048 % FftFilter::ChooseShape(N, {.block = 2048}).hop, 0) << N;
    // A size given keeps the longest hop.
    const FftFilterShape given = FftFilter::ChooseShape(1001, {.transformSize = 8192});
    EXPECT_EQ(given.transformSize, 8192);
    EXPECT_EQ(given.hop, 8192 - 1000);
    auto filter = MakeFilter(RandomTaps(1001, 2), {.block = 3000, .transformSize = 4096});
    EXPECT_EQ(filter->TransformSize(), 4096);
    EXPECT_EQ(filter->Hop(), 3000);
}

// ---- Properties.

TEST(FftFilter, ResetRepeatsTheFirstRunBitForBit)
{
    for (const Taps& taps : {LowPass(101), ShiftedLowPass(301)})
    {
        auto filter = MakeFilter(taps);
        const int32_t n = 3 * filter->Hop() + 777;
        const Complex x = TestSignal(n, 10);
        const std::vector<int32_t> blocks = RandomBlocks(n, 11, 3000);
        const Complex first = Filtered(*filter, x, blocks);
        filter->Reset();
        const Complex second = Filtered(*filter, x, blocks);
        EXPECT_EQ(FirstDifference(first.re, second.re), -1);
        EXPECT_EQ(FirstDifference(first.im, second.im), -1);
    }
}

TEST(FftFilter, PiecesOfWholeHopsGiveTheBitsOfOneBlock)
{
    const Taps taps = LowPass(301);
    auto filter = MakeFilter(taps);
    const int32_t hop = filter->Hop();
    const int32_t n = 9 * hop;
    const Complex x = TestSignal(n, 12);
    const Complex whole = Filtered(*filter, x);
    filter->Reset();
    const Complex pieces = Filtered(*filter, x, {hop, 3 * hop, hop, 2 * hop, 2 * hop});
    EXPECT_EQ(FirstDifference(whole.re, pieces.re), -1);
    EXPECT_EQ(FirstDifference(whole.im, pieces.im), -1);
}

TEST(FftFilter, BlocksOfTheSizeTheFilterWasShapedForGiveTheBitsOfOneBlock)
{
    for (const Taps& taps : {LowPass(1001), ShiftedLowPass(301)})
    {
        auto filter = MakeFilter(taps, {.block = 2048});
        const int32_t n = 40 * 2048;
        const Complex x = TestSignal(n, 19);
        const Complex whole = Filtered(*filter, x);
        filter->Reset();
        const Complex pieces = Filtered(*filter, x, std::vector<int32_t>(40, 2048));
        EXPECT_EQ(FirstDifference(whole.re, pieces.re), -1);
        EXPECT_EQ(FirstDifference(whole.im, pieces.im), -1);
        EXPECT_LT(ErrorDb(taps, x, pieces), -120.0);
    }
}

// A block that ends inside a hop changes the bits of that hop's outputs only (within rounding,
// checked above); every other hop keeps the bits of one block.
TEST(FftFilter, RandomPiecesKeepTheBitsOfOneBlockInEveryHopNoPieceEndsInside)
{
    const Taps taps = LowPass(101);
    auto filter = MakeFilter(taps);
    const int32_t hop = filter->Hop();
    const int32_t n = 60 * hop;
    const Complex x = TestSignal(n, 13);
    const Complex whole = Filtered(*filter, x);
    filter->Reset();
    std::vector<int32_t> blocks = RandomBlocks(n, 14, 4 * hop);
    const Complex pieces = Filtered(*filter, x, blocks);
    std::vector<bool> cut(n / hop + 1, false);
    int32_t end = 0;
    for (int32_t block : blocks)
    {
        end += block;
        if (end % hop != 0)
            cut[end / hop] = true;
    }
    int32_t kept = 0;
    for (int32_t h = 0; h < n / hop; ++h)
    {
        if (cut[h])
            continue;
        ++kept;
        const auto from = whole.re.begin() + static_cast<std::ptrdiff_t>(h) * hop;
        const auto fromQ = whole.im.begin() + static_cast<std::ptrdiff_t>(h) * hop;
        const auto at = pieces.re.begin() + static_cast<std::ptrdiff_t>(h) * hop;
        const auto atQ = pieces.im.begin() + static_cast<std::ptrdiff_t>(h) * hop;
        ASSERT_TRUE(std::equal(from, from + hop, at)) << "hop " << h;
        ASSERT_TRUE(std::equal(fromQ, fromQ + hop, atQ)) << "hop " << h;
    }
    EXPECT_GT(kept, 10); // the blocks leave enough hops whole for the check to mean something
}

// ---- Same bits on every processor.

TEST(FftFilter, EveryVariantGivesTheScalarBitsThroughTransformsPartsAndDirectSums)
{
    const fft::FftKernels& scalar = *fft::TableFor(kernels::Isa::Scalar);
    for (const Taps& taps : {LowPass(101), LowPass(1001), ShiftedLowPass(301), RandomTaps(64, 3)})
    {
        auto reference = MakeFilter(taps, {.variant = &scalar});
        const int32_t n = 5 * reference->Hop() + 1234;
        const Complex x = TestSignal(n, 15);
        const std::vector<int32_t> blocks = RandomBlocks(n, 16, 2 * reference->Hop());
        const Complex expected = Filtered(*reference, x, blocks);
        for (const fft::FftKernels* variant : sigtest::VectorVariants())
        {
            const Complex actual = Filtered(*MakeFilter(taps, {.variant = variant}), x, blocks);
            EXPECT_EQ(FirstDifference(expected.re, actual.re), -1)
                << variant->name << " N=" << taps.re.size();
            EXPECT_EQ(FirstDifference(expected.im, actual.im), -1)
                << variant->name << " N=" << taps.re.size();
        }
    }
}

// ---- Bad input.

TEST(FftFilter, InvalidLengthsOrSizesGiveAFilterOfZerosAndNullBlocksAreIgnored)
{
    const std::vector<float> taps(FftFilter::kMaxTaps + 1, 0.5f);
    std::vector<std::unique_ptr<FftFilter>> invalid;
    invalid.push_back(std::make_unique<FftFilter>(taps.data(), 0));
    invalid.push_back(std::make_unique<FftFilter>(taps.data(), -5));
    invalid.push_back(std::make_unique<FftFilter>(taps.data(), FftFilter::kMaxTaps + 1));
    invalid.push_back(std::make_unique<FftFilter>(nullptr, 10));
    invalid.push_back(std::make_unique<FftFilter>(taps.data(), nullptr, 10));
    // Transform sizes: not a power of two, shorter than the taps, beyond the plans' sizes.
    for (int32_t size : {1000, 64, 8, 1 << 21})
        invalid.push_back(
            std::make_unique<FftFilter>(taps.data(), 101, FftFilterOptions{.transformSize = size}));
    const Complex x = TestSignal(100, 1);
    for (const auto& filter : invalid)
    {
        EXPECT_FALSE(filter->IsValid());
        EXPECT_EQ(filter->Delay(), 0);
        const Complex y = Filtered(*filter, x);
        EXPECT_EQ(y.re, std::vector<float>(100, 0.0f));
        EXPECT_EQ(y.im, std::vector<float>(100, 0.0f));
    }
    auto filter = MakeFilter(LowPass(101));
    std::vector<float> y(10, 3.0f);
    filter->StepBlock(nullptr, x.im.data(), 10, y.data(), y.data());
    filter->StepBlock(x.re.data(), x.im.data(), 0, y.data(), y.data());
    filter->StepBlock(x.re.data(), x.im.data(), -1, y.data(), y.data());
    EXPECT_EQ(y, std::vector<float>(10, 3.0f));
}

// A NaN or infinity spoils the outputs of the transforms that see it (its hop and the next,
// which holds it in its history), and nothing after.
TEST(FftFilter, NonFiniteSampleSpoilsNoOutputBeyondTheHopAfterIt)
{
    const Taps taps = LowPass(101);
    auto filter = MakeFilter(taps);
    const int32_t hop = filter->Hop();
    const int32_t n = 6 * hop;
    Complex x = TestSignal(n, 17);
    x.re[hop + 5] = std::numeric_limits<float>::quiet_NaN();
    x.im[2 * hop + 40] = std::numeric_limits<float>::infinity();
    const Complex y = Filtered(*filter, x, RandomBlocks(n, 18, hop));
    for (int32_t t = 0; t < hop; ++t)
        ASSERT_TRUE(std::isfinite(y.re[t]) && std::isfinite(y.im[t])) << t;
    for (int32_t t = 4 * hop; t < n; ++t)
        ASSERT_TRUE(std::isfinite(y.re[t]) && std::isfinite(y.im[t])) << t;
}

// ---- StreamFftFilter: whole hops only, behind a fixed delay.

// Its outputs are the FftFilter's over the whole input in one block, hop - 1 samples later (zeros
// before), for any cutting of the input: every hop the inner filter sees is whole.
TEST(StreamFftFilter, AnyBlocksGiveTheOneBlockOutputsOfTheFilterHopMinusOneLater)
{
    for (int32_t N : {101, 301, 1001})
    {
        const Taps taps = LowPass(N);
        StreamFftFilter stream(taps.re.data(), N);
        ASSERT_TRUE(stream.IsValid());
        const int32_t hop = stream.Hop();
        EXPECT_EQ(hop, FftFilter(taps.re.data(), N).Hop());
        EXPECT_EQ(stream.Delay(), (N - 1) / 2 + hop - 1);
        const int32_t n = 5 * hop + 321;
        const Complex x = TestSignal(n, 21);
        auto inner = MakeFilter(taps);
        const Complex direct = Filtered(*inner, x);
        for (uint32_t seed : {22u, 23u})
        {
            stream.Reset();
            const Complex y = Filtered(stream, x, RandomBlocks(n, seed, 3 * hop));
            for (int32_t t = 0; t < hop - 1; ++t)
                ASSERT_TRUE(y.re[t] == 0.0f && y.im[t] == 0.0f) << t;
            // The inner filter's outputs of whole hops (its last hop was cut by the end).
            const int32_t last = std::min(n / hop * hop + hop - 1, n);
            const auto later = [&](const std::vector<float>& v) {
                return std::vector<float>(v.begin() + hop - 1, v.begin() + last);
            };
            const auto earlier = [&](const std::vector<float>& v) {
                return std::vector<float>(v.begin(), v.begin() + last - hop + 1);
            };
            EXPECT_EQ(FirstDifference(later(y.re), earlier(direct.re)), -1);
            EXPECT_EQ(FirstDifference(later(y.im), earlier(direct.im)), -1);
        }
    }
}

TEST(StreamFftFilter, ResetClearsTheGatheredSamplesAndTheWaitingOutputs)
{
    const Taps taps = LowPass(301);
    StreamFftFilter stream(taps.re.data(), 301);
    const int32_t n = 3 * stream.Hop() + 99;
    const Complex x = TestSignal(n, 24);
    const Complex first = Filtered(stream, x, RandomBlocks(n, 25, 2000));
    Filtered(stream, TestSignal(777, 26)); // leaves samples gathered and outputs waiting
    stream.Reset();
    const Complex second = Filtered(stream, x);
    EXPECT_EQ(FirstDifference(first.re, second.re), -1);
    EXPECT_EQ(FirstDifference(first.im, second.im), -1);
}

TEST(StreamFftFilter, InvalidTapsGiveZerosAndNoDelay)
{
    const std::vector<float> taps(10, 0.5f);
    StreamFftFilter none(taps.data(), 0);
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(none.Delay(), 0);
    const Complex x = TestSignal(50, 27);
    const Complex y = Filtered(none, x);
    EXPECT_EQ(y.re, std::vector<float>(50, 0.0f));
    EXPECT_EQ(y.im, std::vector<float>(50, 0.0f));
}

} // namespace
