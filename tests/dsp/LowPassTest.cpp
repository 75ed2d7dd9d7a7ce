#include "dsp/design/LowPass.h"
#include "dsp/design/Remez.h"
#include "dsp/design/Response.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace {

using namespace sigkit::dsp;

void ExpectSymmetricOdd(const std::vector<double>& taps)
{
    ASSERT_EQ(taps.size() % 2, 1u);
    for (std::size_t i = 0; i < taps.size() / 2; ++i)
        ASSERT_EQ(taps[i], taps[taps.size() - 1 - i]) << i;
}

// Measured in double precision (a DTFT of the taps), not taken from the design's own figures.
void ExpectMeets(const std::vector<double>& taps, const LowPassRequest& request, double gain = 1.0)
{
    const LowPassFigures f = MeasureLowPass(taps, request.passEdge, request.stopEdge, gain);
    EXPECT_GE(f.AttenuationDb(), request.attenuation);
    const double ripple =
        request.passRipple > 0.0
            ? request.passRipple
            : 20.0 * std::log10(1.0 + std::pow(10.0, -request.attenuation / 20.0));
    EXPECT_LE(f.RippleDb(), ripple);
}

TEST(KaiserDesign, FormulasGiveKaisersFigures)
{
    EXPECT_NEAR(KaiserBeta(60.0), 5.65326, 1e-5);
    EXPECT_NEAR(KaiserBeta(40.0), 3.39532, 1e-5);
    EXPECT_EQ(KaiserBeta(20.0), 0.0);
    // (60 - 7.95) / (14.36 · 0.05) + 1 = 73.5: the next odd length.
    EXPECT_EQ(KaiserLength(60.0, 0.05), 75);
    EXPECT_EQ(KaiserLength(60.0, 0.0), 0);
}

TEST(KaiserDesign, MeetsItsRequestMeasured)
{
    const LowPassRequest requests[] = {
        {0.1, 0.15, 60.0, 0.0},
        {0.2, 0.22, 100.0, 0.0},
        {0.45, 0.5, 140.0, 0.0},
        {0.02, 0.025, 120.0, 0.001},
    };
    for (const LowPassRequest& request : requests)
    {
        std::vector<double> taps;
        ASSERT_EQ(DesignKaiser(request, taps), DesignStatus::Ok);
        ExpectSymmetricOdd(taps);
        ExpectMeets(taps, request);
        EXPECT_NEAR(std::accumulate(taps.begin(), taps.end(), 0.0), 1.0, 1e-12);
    }
}

TEST(EquirippleDesign, MeetsItsRequestMeasuredAndIsShorterThanTheWindowDesign)
{
    const LowPassRequest requests[] = {
        {0.1, 0.15, 60.0, 0.1},
        {0.2325, 0.25, 140.0, 0.005}, // the rate changer's base filter at its best quality
        {0.05, 0.06, 100.0, 0.01},
        {0.3, 0.32, 80.0, 0.0},
    };
    for (const LowPassRequest& request : requests)
    {
        std::vector<double> equiripple;
        std::vector<double> kaiser;
        bool wasEquiripple = false;
        ASSERT_EQ(DesignEquiripple(request, equiripple, &wasEquiripple), DesignStatus::Ok);
        ASSERT_EQ(DesignKaiser(request, kaiser), DesignStatus::Ok);
        EXPECT_TRUE(wasEquiripple);
        ExpectSymmetricOdd(equiripple);
        ExpectMeets(equiripple, request);
        EXPECT_LT(equiripple.size(), kaiser.size());
    }
}

TEST(EquirippleDesign, TwoTapsFewerNoLongerMeetTheRequest)
{
    const LowPassRequest request{0.2, 0.23, 100.0, 0.01};
    std::vector<double> taps;
    ASSERT_EQ(DesignEquiripple(request, taps), DesignStatus::Ok);
    // The same weighting (allowed ripple over allowed stop-band gain), two taps shorter.
    const double passDeviation = 1.0 - std::pow(10.0, -request.passRipple / 20.0);
    const double weight = passDeviation / std::pow(10.0, -request.attenuation / 20.0);
    std::vector<double> shorter;
    ASSERT_EQ(DesignRemez(static_cast<int32_t>(taps.size()) - 2,
                          {{0.0, request.passEdge, 1.0, 1.0}, {request.stopEdge, 0.5, 0.0, weight}},
                          shorter),
              RemezResult::Ok);
    const LowPassFigures f = MeasureLowPass(shorter, request.passEdge, request.stopEdge);
    EXPECT_TRUE(f.AttenuationDb() < request.attenuation || f.RippleDb() > request.passRipple);
}

TEST(HalfBandDesign, EveryOtherTapIsZeroAndTheCentreIsAHalf)
{
    for (const double passEdge : {0.02, 0.1, 0.2, 0.23})
        for (const double attenuation : {80.0, 120.0, 140.0})
        {
            std::vector<double> taps;
            ASSERT_EQ(DesignHalfBand(passEdge, attenuation, taps), DesignStatus::Ok);
            const std::size_t n = taps.size();
            ASSERT_EQ(n % 4, 3u) << "length 4m - 1";
            const std::size_t centre = (n - 1) / 2;
            EXPECT_EQ(taps[centre], 0.5);
            for (std::size_t i = 0; i < n; ++i)
            {
                if (i != centre && (i + centre) % 2 == 0)
                {
                    ASSERT_EQ(taps[i], 0.0) << i;
                }
            }
            ExpectSymmetricOdd(taps);
            ExpectMeets(taps, {passEdge, 0.5 - passEdge, attenuation, 0.0});
        }
}

TEST(HalfBandDesign, LengthGrowsWithAttenuationAndNarrowerTransition)
{
    std::vector<double> a;
    std::vector<double> b;
    std::vector<double> c;
    ASSERT_EQ(DesignHalfBand(0.2, 100.0, a), DesignStatus::Ok);
    ASSERT_EQ(DesignHalfBand(0.2, 140.0, b), DesignStatus::Ok);
    ASSERT_EQ(DesignHalfBand(0.1, 140.0, c), DesignStatus::Ok);
    EXPECT_LT(a.size(), b.size());
    EXPECT_LT(c.size(), b.size());
}

// A bank's prototype: the pass band has the gain of the number of branches, each branch passes
// 1 at 0 Hz, and the stop band lies as far down as asked (measured over the whole full-rate band).
TEST(PrototypeDesign, MeetsItsRequestAtTheFullRate)
{
    struct Case
    {
        int32_t phases;
        LowPassRequest request; // at the branch rate
    };
    const Case cases[] = {
        {1, {0.4, 0.5, 100.0, 0.01}},
        {3, {0.4675, 0.5, 140.0, 0.005}},
        {16, {0.13, 0.16, 120.0, 0.01}},
        {25, {0.45, 0.5, 140.0, 0.005}},
    };
    for (const Case& c : cases)
    {
        std::vector<double> taps;
        ASSERT_EQ(DesignPrototype(c.request, c.phases, taps), DesignStatus::Ok) << c.phases;
        ExpectSymmetricOdd(taps);
        const double L = c.phases;
        const LowPassRequest full{c.request.passEdge / L, c.request.stopEdge / L,
                                  c.request.attenuation, c.request.passRipple};
        ExpectMeets(taps, full, L);
        for (int32_t p = 0; p < c.phases; ++p)
        {
            double branch = 0.0;
            for (std::size_t i = static_cast<std::size_t>(p); i < taps.size(); i += c.phases)
                branch += taps[i];
            // 0 Hz lies in the pass band: within its ripple.
            EXPECT_NEAR(branch, 1.0, std::pow(10.0, c.request.passRipple / 20.0) - 1.0)
                << c.phases << " branch " << p;
        }
    }
}

TEST(LowPassDesign, RefusesBadRequestsAndLeavesTheTaps)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> taps = {3.0};
    EXPECT_EQ(DesignKaiser({0.2, 0.1, 60.0, 0.0}, taps), DesignStatus::BadEdges);
    EXPECT_EQ(DesignKaiser({0.0, 0.1, 60.0, 0.0}, taps), DesignStatus::BadEdges);
    EXPECT_EQ(DesignKaiser({0.1, 0.6, 60.0, 0.0}, taps), DesignStatus::BadEdges);
    EXPECT_EQ(DesignKaiser({nan, 0.2, 60.0, 0.0}, taps), DesignStatus::BadEdges);
    EXPECT_EQ(DesignEquiripple({0.1, 0.2, nan, 0.0}, taps), DesignStatus::BadAttenuation);
    EXPECT_EQ(DesignEquiripple({0.1, 0.2, 1000.0, 0.0}, taps), DesignStatus::BadAttenuation);
    EXPECT_EQ(DesignEquiripple({0.1, 0.2, 60.0, -1.0}, taps), DesignStatus::BadRipple);
    EXPECT_EQ(DesignEquiripple({0.1, 0.2, 60.0, inf}, taps), DesignStatus::BadRipple);
    EXPECT_EQ(DesignHalfBand(0.25, 60.0, taps), DesignStatus::BadEdges);
    EXPECT_EQ(DesignHalfBand(nan, 60.0, taps), DesignStatus::BadEdges);
    EXPECT_EQ(DesignPrototype({0.1, 0.2, 60.0, 0.0}, 0, taps), DesignStatus::BadPhases);
    // A transition of a millionth of the rate at 200 dB needs far more than the limit.
    EXPECT_EQ(DesignKaiser({0.1, 0.100001, 200.0, 0.0}, taps), DesignStatus::TooLong);
    // A transition so narrow that the length estimates overflow (found by fuzzing a receiver's
    // channel): refused the same way, not converted from infinity.
    for (const LowPassRequest& hair : {LowPassRequest{0.1, std::nextafter(0.1, 1.0), 60.0, 0.0},
                                       LowPassRequest{1e-310, 2e-310, 60.0, 0.0}})
    {
        EXPECT_EQ(DesignEquiripple(hair, taps), DesignStatus::TooLong);
        EXPECT_EQ(DesignKaiser(hair, taps), DesignStatus::TooLong);
        EXPECT_EQ(DesignPrototype(hair, 4, taps), DesignStatus::TooLong);
    }
    EXPECT_EQ(taps, std::vector<double>{3.0});
}

} // namespace
