// The block paths of the filter engine and the resampler give, bit for bit, what the per-sample
// processing gives (the reference steps of the tests for the filters, the resampler's own steps):
// on blocks of many sizes, across the wrap of the history, with non-finite and huge samples, and
// in other rounding modes.
#include "stages/filters/DualFir.h"
#include "stages/filters/GatedInterpolator.h"
#include "stages/filters/HilbertSplitter.h"
#include "stages/filters/PolyphaseResampler.h"
#include "support/ReferenceSteps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace {

using namespace sigkit;

uint32_t Bits(float x)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// Values over many magnitudes and both signs, so that a change in any sum's order shows.
std::vector<float> Mixed(std::size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-12, 12);
    std::vector<float> values(count);
    for (float& v : values)
        v = std::ldexp(mantissa(random), exponent(random));
    return values;
}

// Every `every`-th value replaced, in turn, by +inf, NaN, -inf and a value near the float limit.
void Spoil(std::vector<float>& values, std::size_t first, std::size_t every)
{
    const float wild[] = {std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(),
                          -std::numeric_limits<float>::infinity(), 3e38f};
    for (std::size_t i = first, k = 0; i < values.size(); i += every, ++k)
        values[i] = wild[k % 4];
}

// Block sizes that cycle through awkward lengths.
std::vector<int32_t> Pieces(std::size_t total, uint32_t seed)
{
    const int32_t sizes[] = {1, 2, 3, 7, 15, 16, 17, 100, 1023, 1024, 1025, 2047, 2048, 2049, 5000};
    std::mt19937 random(seed);
    std::vector<int32_t> pieces;
    std::size_t sum = 0;
    while (sum < total)
    {
        const int32_t size = static_cast<int32_t>(
            std::min<std::size_t>(sizes[random() % std::size(sizes)], total - sum));
        pieces.push_back(size);
        sum += static_cast<std::size_t>(size);
    }
    return pieces;
}

// The same bits, or both NaN: which of two NaN operands an operation passes on is not fixed by
// the arithmetic (compilers order the operands of a sum as they see fit).
void ExpectSameBits(const std::vector<float>& expected, const std::vector<float>& actual,
                    const char* what)
{
    ASSERT_EQ(expected.size(), actual.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        if (std::isnan(expected[i]) && std::isnan(actual[i]))
            continue;
        ASSERT_EQ(Bits(expected[i]), Bits(actual[i])) << what << " at " << i;
    }
}

// ---- DualFir: the frequency converter's filter over whole blocks.

void CompareDualFir(int32_t taps, const std::vector<float>& a, const std::vector<float>& b,
                    uint32_t seed)
{
    auto block = std::make_unique<DualFir>();
    block->DesignLow(240000.0f, 24000.0f, 0.0f, kWindowBlackman, taps);
    const std::vector<float> design(block->Taps(), block->Taps() + taps);
    sigtest::ReferenceFir singleA(design);
    sigtest::ReferenceFir singleB(design);
    std::vector<float> ea(a.size()), eb(a.size()), ya(a.size()), yb(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        ea[i] = singleA.Step(a[i]);
        eb[i] = singleB.Step(b[i]);
    }
    std::size_t at = 0;
    for (int32_t piece : Pieces(a.size(), seed))
    {
        block->StepBlock(a.data() + at, b.data() + at, piece, ya.data() + at, yb.data() + at);
        at += static_cast<std::size_t>(piece);
    }
    ExpectSameBits(ea, ya, "channel I");
    ExpectSameBits(eb, yb, "channel Q");
}

TEST(BlockPaths, DualFirBlocksGiveTheStepsBitsAcrossTheHistoryWrap)
{
    const std::size_t length = kHistoryCapacity + 3000;
    CompareDualFir(101, Mixed(length, 1), Mixed(length, 2), 3);
    CompareDualFir(1001, Mixed(12000, 4), Mixed(12000, 5), 6);
}

TEST(BlockPaths, DualFirBlocksGiveTheStepsBitsWithNonFiniteSamplesAndInOtherRoundingModes)
{
    std::vector<float> a = Mixed(6000, 7);
    std::vector<float> b = Mixed(6000, 8);
    Spoil(a, 500, 1777);
    Spoil(b, 3001, 1313);
    CompareDualFir(301, a, b, 9);
    ASSERT_EQ(std::fesetround(FE_DOWNWARD), 0);
    CompareDualFir(101, a, b, 10);
    std::fesetround(FE_TONEAREST);
}

// ---- HilbertSplitter: the analytic split of real input over whole blocks.

void CompareSplitter(const std::vector<float>& x, uint32_t seed)
{
    sigtest::ReferenceSplitter single;
    auto block = std::make_unique<HilbertSplitter>();
    std::vector<float> ed(x.size()), es(x.size()), d(x.size()), s(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        std::tie(ed[i], es[i]) = single.Step(x[i]);
    std::size_t at = 0;
    for (int32_t piece : Pieces(x.size(), seed))
    {
        block->StepBlock(x.data() + at, nullptr, piece, d.data() + at, s.data() + at);
        at += static_cast<std::size_t>(piece);
    }
    ExpectSameBits(ed, d, "delayed");
    ExpectSameBits(es, s, "shifted");
}

TEST(BlockPaths, HilbertBlocksGiveTheStepsBitsAcrossTheHistoryWrap)
{
    CompareSplitter(Mixed(kHistoryCapacity + 5000, 11), 12);
}

TEST(BlockPaths, HilbertBlocksTakeTheFullSumWhileNonFiniteSamplesAreInTheWindow)
{
    // Skipping the zero taps is exact only for finite samples: 0·inf would be NaN. Blocks with an
    // infinity or NaN in reach of a window take every tap; the outputs show where.
    std::vector<float> x = Mixed(20000, 13);
    Spoil(x, 1000, 2500);
    CompareSplitter(x, 14);
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    CompareSplitter(Mixed(5000, 15), 16);
    std::fesetround(FE_TONEAREST);
}

// ---- PolyphaseResampler: every ratio path over whole blocks.

struct Stream
{
    std::vector<float> I, Q;
};

// The per-sample reference: ResampleStep for every input, again after each 2.
Stream StepAll(PolyphaseResampler& r, const std::vector<float>& I, const std::vector<float>* Q,
               float rateIn, float rateOut)
{
    Stream out;
    for (std::size_t i = 0; i < I.size(); ++i)
    {
        const float q = Q != nullptr ? (*Q)[i] : 0.0f;
        float oI = 0.0f;
        float oQ = 0.0f;
        int32_t result = r.ResampleStep(I[i], q, rateIn, rateOut, oI, oQ);
        while (result != 0)
        {
            out.I.push_back(oI);
            out.Q.push_back(oQ);
            if (result != 2)
                break;
            result = r.ResampleStep(I[i], q, rateIn, rateOut, oI, oQ);
        }
    }
    return out;
}

enum class Parts
{
    Complex, // I and Q in, both out
    RealIn,  // Q null: a real stream
    OnlyI,   // Q null and no Q outputs (the demodulator's use)
};

void CompareResampler(float rateIn, float rateOut, int32_t taps, const std::vector<float>& I,
                      const std::vector<float>& Q, Parts parts, uint32_t seed)
{
    auto single = std::make_unique<PolyphaseResampler>();
    auto block = std::make_unique<PolyphaseResampler>();
    ASSERT_EQ(single->DesignBank(rateIn, rateOut, 0.0f, kWindowBlackman, taps), taps);
    ASSERT_EQ(block->DesignBank(rateIn, rateOut, 0.0f, kWindowBlackman, taps), taps);
    const bool complexIn = parts == Parts::Complex;
    const Stream expected = StepAll(*single, I, complexIn ? &Q : nullptr, rateIn, rateOut);

    std::vector<float> outI, outQ;
    std::size_t at = 0;
    for (int32_t piece : Pieces(I.size(), seed))
    {
        const std::size_t room = PolyphaseResampler::MaxOutputs(piece, rateIn, rateOut);
        std::vector<float> pI(room + 1), pQ(room + 1);
        const int32_t got =
            block->ResampleBlock(I.data() + at, complexIn ? Q.data() + at : nullptr, piece, rateIn,
                                 rateOut, pI.data(), parts == Parts::OnlyI ? nullptr : pQ.data());
        ASSERT_LE(static_cast<std::size_t>(got), room);
        outI.insert(outI.end(), pI.begin(), pI.begin() + got);
        outQ.insert(outQ.end(), pQ.begin(), pQ.begin() + got);
        at += static_cast<std::size_t>(piece);
    }
    SCOPED_TRACE(testing::Message() << "R = " << rateIn / rateOut << ", N = " << taps);
    ExpectSameBits(expected.I, outI, "I");
    if (parts != Parts::OnlyI)
        ExpectSameBits(expected.Q, outQ, "Q");
}

// Ratios of every path: R = 1, the phase pairs below 8 (integral, so that t is 0, and
// fractional), the neighbouring windows from 8 to 32 and the single window beyond, and
// interpolation.
constexpr float kRatios[][2] = {{48000, 48000},  {96000, 48000},  {120000, 48000},  {240000, 48000},
                                {44100, 8000},   {336000, 48000}, {342857, 48000},  {384000, 48000},
                                {480000, 48000}, {240000, 12000}, {1920000, 48000}, {8000, 16000},
                                {8000, 48000}};

TEST(BlockPaths, ResamplerBlocksGiveTheStepsBitsAtEveryRatio)
{
    const std::vector<float> I = Mixed(30000, 21);
    const std::vector<float> Q = Mixed(30000, 22);
    for (const auto& rates : kRatios)
    {
        CompareResampler(rates[0], rates[1], 101, I, Q, Parts::Complex, 23);
        CompareResampler(rates[0], rates[1], 301, I, Q, Parts::RealIn, 24);
        CompareResampler(rates[0], rates[1], 101, I, Q, Parts::OnlyI, 25);
    }
}

TEST(BlockPaths, ResamplerBlocksGiveTheStepsBitsAcrossTheHistoryWrap)
{
    const std::size_t length = kHistoryCapacity + 8000;
    const std::vector<float> I = Mixed(length, 26);
    const std::vector<float> Q = Mixed(length, 27);
    CompareResampler(240000, 48000, 101, I, Q, Parts::Complex, 28);
    CompareResampler(44100, 8000, 101, I, Q, Parts::Complex, 29);
    CompareResampler(240000, 12000, 1001, I, Q, Parts::OnlyI, 30);
}

TEST(BlockPaths, ResamplerBlocksFormBothSumsWhereSamplesAreHugeOrNotFinite)
{
    // A weight of 0 makes an output its first sum only while the neighbouring one is finite: with
    // huge or non-finite samples in reach (B - A overflowing, or inf·0) it is NaN, as per step.
    std::vector<float> I = Mixed(30000, 31);
    std::vector<float> Q = Mixed(30000, 32);
    Spoil(I, 2000, 4111);
    Spoil(Q, 9000, 5333);
    for (const auto& rates : kRatios)
    {
        CompareResampler(rates[0], rates[1], 101, I, Q, Parts::Complex, 33);
        CompareResampler(rates[0], rates[1], 101, I, Q, Parts::OnlyI, 34);
    }
}

TEST(BlockPaths, ResamplerBlocksGiveTheStepsBitsInOtherRoundingModes)
{
    const std::vector<float> I = Mixed(8000, 35);
    const std::vector<float> Q = Mixed(8000, 36);
    for (int mode : {FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO})
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        for (const auto& rates : kRatios)
            CompareResampler(rates[0], rates[1], 101, I, Q, Parts::Complex, 37);
        std::fesetround(FE_TONEAREST);
    }
}

TEST(BlockPaths, ResamplerStepsAndBlocksMayBeMixed)
{
    const std::vector<float> I = Mixed(9000, 38);
    const std::vector<float> Q = Mixed(9000, 39);
    for (const auto& rates : kRatios)
    {
        auto single = std::make_unique<PolyphaseResampler>();
        auto mixed = std::make_unique<PolyphaseResampler>();
        single->DesignBank(rates[0], rates[1], 0.0f, kWindowHamming, 101);
        mixed->DesignBank(rates[0], rates[1], 0.0f, kWindowHamming, 101);
        const Stream expected = StepAll(*single, I, &Q, rates[0], rates[1]);
        Stream got;
        for (std::size_t i = 0; i < I.size(); i += 500)
        {
            const std::vector<float> pieceI(I.begin() + static_cast<std::ptrdiff_t>(i),
                                            I.begin() + static_cast<std::ptrdiff_t>(i + 500));
            const std::vector<float> pieceQ(Q.begin() + static_cast<std::ptrdiff_t>(i),
                                            Q.begin() + static_cast<std::ptrdiff_t>(i + 500));
            if ((i / 500) % 2 == 0)
            {
                const Stream part = StepAll(*mixed, pieceI, &pieceQ, rates[0], rates[1]);
                got.I.insert(got.I.end(), part.I.begin(), part.I.end());
                got.Q.insert(got.Q.end(), part.Q.begin(), part.Q.end());
                continue;
            }
            const std::size_t room = PolyphaseResampler::MaxOutputs(500, rates[0], rates[1]);
            std::vector<float> pI(room), pQ(room);
            const int32_t n = mixed->ResampleBlock(pieceI.data(), pieceQ.data(), 500, rates[0],
                                                   rates[1], pI.data(), pQ.data());
            got.I.insert(got.I.end(), pI.begin(), pI.begin() + n);
            got.Q.insert(got.Q.end(), pQ.begin(), pQ.begin() + n);
        }
        ExpectSameBits(expected.I, got.I, "I");
        ExpectSameBits(expected.Q, got.Q, "Q");
    }
}

// The gate as interpolation by zero insertion drives it, call by call.
Stream GateAll(GatedInterpolator& r, const std::vector<float>& I, const std::vector<float>* Q,
               float rateIn, float rateOut)
{
    Stream out;
    for (std::size_t i = 0; i < I.size(); ++i)
    {
        float oI = 0.0f;
        float oQ = 0.0f;
        int32_t result =
            r.GatedFilterStep(I[i], Q != nullptr ? (*Q)[i] : 0.0f, rateIn, rateOut, oI, oQ);
        while (result != 0)
        {
            out.I.push_back(oI);
            out.Q.push_back(oQ);
            result = r.GatedFilterStep(0.0f, 0.0f, rateIn, rateOut, oI, oQ);
        }
    }
    return out;
}

TEST(BlockPaths, GatedBlocksGiveTheGateStepsBitsAcrossTheHistoryWrap)
{
    const std::vector<float> I = Mixed(60000, 41);
    const std::vector<float> Q = Mixed(60000, 42);
    // R = 2 (the interpolation by 2 of IQ2R), fractional, 1 and below.
    for (const auto& rates : {std::array<float, 2>{2, 1}, {5, 2}, {3, 1}, {1, 1}, {1, 3}})
        for (bool withQ : {true, false})
        {
            SCOPED_TRACE(testing::Message()
                         << "R = " << rates[0] / rates[1] << (withQ ? " I/Q" : " I"));
            auto single = std::make_unique<GatedInterpolator>();
            auto block = std::make_unique<GatedInterpolator>();
            single->DesignBank(rates[0], rates[1], 0.0f, kWindowBlackman, 301);
            block->DesignBank(rates[0], rates[1], 0.0f, kWindowBlackman, 301);
            const Stream expected = GateAll(*single, I, withQ ? &Q : nullptr, rates[0], rates[1]);
            Stream got;
            std::size_t at = 0;
            for (int32_t piece : Pieces(I.size(), 43))
            {
                const std::size_t room =
                    GatedInterpolator::MaxGatedOutputs(piece, rates[0], rates[1]);
                std::vector<float> pI(room), pQ(room);
                const int32_t n =
                    block->GatedBlock(I.data() + at, withQ ? Q.data() + at : nullptr, piece,
                                      rates[0], rates[1], pI.data(), pQ.data());
                ASSERT_LE(static_cast<std::size_t>(n), room);
                got.I.insert(got.I.end(), pI.begin(), pI.begin() + n);
                got.Q.insert(got.Q.end(), pQ.begin(), pQ.begin() + n);
                at += static_cast<std::size_t>(piece);
            }
            ExpectSameBits(expected.I, got.I, "I");
            ExpectSameBits(expected.Q, got.Q, "Q");
        }
}

TEST(BlockPaths, ResamplerBlocksAtUnusableRatiosGiveNothing)
{
    auto r = std::make_unique<PolyphaseResampler>();
    r->DesignBank(48000.0f, 12000.0f, 0.0f, kWindowHamming, 101);
    const std::vector<float> I = Mixed(100, 40);
    std::vector<float> out(100);
    for (float rateOut : {0.0f, -1.0f, std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(), 1e9f})
    {
        EXPECT_EQ(PolyphaseResampler::MaxOutputs(100, 48000.0f, rateOut), 0u) << rateOut;
        EXPECT_EQ(r->ResampleBlock(I.data(), nullptr, 100, 48000.0f, rateOut, out.data(), nullptr),
                  0)
            << rateOut;
    }
}

} // namespace
