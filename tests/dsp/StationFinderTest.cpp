// The station finder on generated recordings with known stations: each found once, at its
// frequency within a bin, with its bandwidth within 20 % and its kind; noise alone, and the skirts
// of a strong carrier, found as nothing.
#include "dsp/spectrum/StationFinder.h"
#include "Recordings.h"
#include "dsp/spectrum/Waterfall.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace sigtest;
using sigkit::Spectra;
using sigkit::Station;
using sigkit::StationKind;
using sigkit::StationList;

namespace {

Spectra Analyse(const Recording& r, int32_t fftSize)
{
    sigkit::WaterfallSetup setup{r.rate, true, fftSize, 100, 500};
    setup.frames = r.Frames();
    sigkit::Waterfall waterfall(setup);
    const std::vector<float> x = r.Floats();
    waterfall.Put(x.data(), r.Frames());
    return waterfall.Finish();
}

const Station* Near(const StationList& list, double hz, double tolerance)
{
    for (const Station& s : list.stations)
        if (std::fabs(s.offsetHz - hz) <= tolerance)
            return &s;
    return nullptr;
}

std::string Describe(const StationList& list)
{
    return sigkit::StationsText(list, std::nullopt, "recording");
}

} // namespace

TEST(StationFinder, KnownStationsAreFoundOnceWithFrequencyBandwidthAndKind)
{
    Recording r(4.0);
    r.Am(10000.0, 0.1, 0.6, 1000.0);     // -20 dBFS carrier, sidebands at ±1 kHz
    r.Fm(-12000.0, 0.05, 2500.0, 500.0); // -26 dBFS
    r.Carrier(3000.0, 0.01);             // -40 dBFS
    r.Cw(-3500.0, 0.02, 0.08, 0.08);     // -34 dBFS while keyed
    r.Noise(0.0005, 5);                  // about -93 dBFS per bin
    const Spectra spectra = Analyse(r, 2048);
    const StationList list = sigkit::FindStations(spectra);
    const double bin = spectra.BinWidthHz();
    SCOPED_TRACE(Describe(list));
    ASSERT_EQ(list.stations.size(), 4u);
    EXPECT_NEAR(list.floorDbfs, 10.0 * std::log10(2 * 0.0005 * 0.0005 * spectra.enbwBins / 2048),
                0.5);

    const Station* am = Near(list, 10000.0, bin);
    ASSERT_NE(am, nullptr);
    EXPECT_EQ(am->kind, StationKind::Am);
    EXPECT_NEAR(am->bandwidthHz, 2000.0, 400.0);
    // Carrier and both sidebands: 0.01 · (1 + 0.6² / 2).
    EXPECT_NEAR(am->levelDbfs, 10.0 * std::log10(0.01 * 1.18), 0.5);
    EXPECT_NEAR(am->peakDbfs, -20.0, 1.0);

    const Station* fm = Near(list, -12000.0, bin);
    ASSERT_NE(fm, nullptr);
    EXPECT_EQ(fm->kind, StationKind::Fm);
    const double fmWidth = FmBandwidth(2500.0, 500.0);
    EXPECT_NEAR(fm->bandwidthHz, fmWidth, 0.2 * fmWidth);
    EXPECT_NEAR(fm->levelDbfs, 20.0 * std::log10(0.05), 0.5);

    const Station* carrier = Near(list, 3000.0, bin);
    ASSERT_NE(carrier, nullptr);
    EXPECT_EQ(carrier->kind, StationKind::Carrier);
    EXPECT_NEAR(carrier->levelDbfs, -40.0, 0.5);
    EXPECT_LT(carrier->bandwidthHz, 6 * bin);
    EXPECT_NEAR(carrier->aboveFloorDb, -40.0 - list.floorDbfs, 1.0);

    const Station* cw = Near(list, -3500.0, bin);
    ASSERT_NE(cw, nullptr);
    EXPECT_EQ(cw->kind, StationKind::Cw);
    EXPECT_NEAR(cw->levelDbfs, 20.0 * std::log10(0.02) - 3.0, 1.0); // keyed half the time

    // Strongest first.
    EXPECT_EQ(&list.stations.front(), am);
}

TEST(StationFinder, FrequencyBetweenBinsIsFoundWithinABin)
{
    for (double f : {1234.5, -7777.7, 15003.1})
    {
        Recording r(1.0);
        r.Carrier(f, 0.05);
        r.Noise(0.001, 2);
        const Spectra spectra = Analyse(r, 1024);
        const StationList list = sigkit::FindStations(spectra);
        ASSERT_EQ(list.stations.size(), 1u) << Describe(list);
        // Between the bins by the parabola: well within one bin.
        EXPECT_NEAR(list.stations[0].offsetHz, f, 0.25 * spectra.BinWidthHz());
    }
}

TEST(StationFinder, NoiseAloneGivesNoStationWhateverTheAveraging)
{
    for (uint32_t seed = 1; seed <= 4; ++seed)
        for (double seconds : {0.03, 0.5, 3.0})
            for (int32_t n : {256, 2048, 8192})
            {
                Recording r(seconds);
                r.Noise(0.01, seed);
                const Spectra spectra = Analyse(r, n);
                const StationList list = sigkit::FindStations(spectra);
                EXPECT_TRUE(list.stations.empty())
                    << "seed " << seed << ", " << seconds << " s, " << n << " points:\n"
                    << Describe(list);
            }
}

TEST(StationFinder, StrongCarrierSkirtsAndCloseNeighboursAreNoPhantoms)
{
    Recording r(2.0);
    r.Carrier(-4000.0, 0.9);   // -1 dBFS
    r.Carrier(-3700.0, 0.001); // -60 dBFS, 300 Hz beside it
    r.Carrier(8000.0, 0.002);
    r.Carrier(8700.0, 0.002); // two lines 700 Hz apart are no comb
    r.Noise(0.000002, 9);     // about -140 dBFS per bin
    const Spectra spectra = Analyse(r, 4096);
    const StationList list = sigkit::FindStations(spectra);
    SCOPED_TRACE(Describe(list));
    ASSERT_EQ(list.stations.size(), 4u);
    for (double f : {-4000.0, -3700.0, 8000.0, 8700.0})
    {
        const Station* s = Near(list, f, spectra.BinWidthHz());
        ASSERT_NE(s, nullptr) << f;
        EXPECT_EQ(s->kind, StationKind::Carrier) << f;
    }
}

TEST(StationFinder, SearchBandAndCountAreHonoured)
{
    Recording r(1.0);
    for (int k = 0; k < 8; ++k)
        r.Carrier(-20000.0 + 5000.0 * k, 0.01 * (k + 1));
    r.Noise(0.0005, 4);
    const Spectra spectra = Analyse(r, 2048);
    sigkit::StationSearch search;
    search.lowHz = -12000.0;
    search.highHz = 6000.0;
    EXPECT_EQ(sigkit::FindStations(spectra, search).stations.size(), 4u); // -10k .. +5k
    search = {};
    search.maxStations = 3;
    const StationList three = sigkit::FindStations(spectra, search);
    ASSERT_EQ(three.stations.size(), 3u);
    EXPECT_NEAR(three.stations[0].offsetHz, 15000.0, 30.0); // the strongest
}

TEST(StationFinder, TextAndJsonNameFrequenciesAbsoluteWhenTheCentreIsKnown)
{
    StationList list;
    list.floorDbfs = -90.0;
    list.binHz = 23.4375;
    Station s;
    s.offsetHz = 10000.0;
    s.levelDbfs = -19.3;
    s.aboveFloorDb = 70.0;
    s.bandwidthHz = 2000.0;
    s.kind = StationKind::Am;
    list.stations.push_back(s);

    const std::string text = sigkit::StationsText(list, 7100000.0, "rec.wav");
    EXPECT_NE(text.find("7.11000 MHz"), std::string::npos) << text;
    EXPECT_NE(text.find("AM"), std::string::npos);
    EXPECT_NE(sigkit::StationsText(list, std::nullopt, "rec.wav").find("+10.00 kHz"),
              std::string::npos);

    const std::string json = sigkit::StationsJson(list, 7100000.0, "a\"b\\c\x01\xff.wav");
    EXPECT_NE(json.find("\"file\": \"a\\\"b\\\\c\\u0001\\ufffd.wav\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"frequency_hz\": 7110000.000"), std::string::npos) << json;
    EXPECT_NE(json.find("\"kind\": \"AM\""), std::string::npos);
    EXPECT_NE(sigkit::StationsJson(list, std::nullopt, "x").find("\"frequency_hz\": null"),
              std::string::npos);
}
