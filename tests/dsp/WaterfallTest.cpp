// The streaming waterfall: tones read at their frequency and level (I/Q both sides of 0 Hz, real
// samples 0 .. rate/2), rows in time order for a known length and for a stream, short recordings,
// a zoomed band, and the same bits however the samples arrive.
#include "dsp/spectrum/Waterfall.h"
#include "Recordings.h"
#include "dsp/spectrum/Decibels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

using namespace sigtest;
using sigkit::Spectra;
using sigkit::Waterfall;
using sigkit::WaterfallSetup;

namespace {

Spectra Analyse(const std::vector<float>& samples, WaterfallSetup setup, std::size_t piece = 0)
{
    const std::size_t stride = setup.complex ? 2 : 1;
    const std::size_t frames = samples.size() / stride;
    Waterfall waterfall(setup);
    EXPECT_TRUE(waterfall.Valid());
    if (piece == 0)
        waterfall.Put(samples.data(), frames);
    else
        for (std::size_t at = 0; at < frames; at += piece)
            waterfall.Put(samples.data() + at * stride, std::min(piece, frames - at));
    return waterfall.Finish();
}

int32_t StrongestBin(const Spectra& s)
{
    return static_cast<int32_t>(std::max_element(s.averageDb.begin(), s.averageDb.end()) -
                                s.averageDb.begin());
}

int32_t StrongestColumn(const Spectra& s, int32_t row)
{
    int32_t best = 0;
    for (int32_t c = 1; c < s.columns; ++c)
        if (s.Cell(row, c) > s.Cell(row, best))
            best = c;
    return best;
}

} // namespace

TEST(Decibels, OwnLogarithmMatchesTheLibraryAndInverts)
{
    for (double p = 1e-29; p < 1e30; p *= 1.37)
    {
        EXPECT_NEAR(sigkit::PowerToDb(p), 10.0 * std::log10(p), 2e-5) << p;
        EXPECT_NEAR(sigkit::DbToPower(10.0 * std::log10(p)) / p, 1.0, 1e-13) << p;
    }
    EXPECT_EQ(sigkit::PowerToDb(1.0), 0.0f);
    EXPECT_EQ(sigkit::PowerToDb(0.0), sigkit::kSilenceDb);
    EXPECT_EQ(sigkit::PowerToDb(std::nan("")), sigkit::kSilenceDb);
}

// --- tones -------------------------------------------------------------------------------------

TEST(WaterfallTones, ComplexTonesReadTheirLevelAtTheirBinOnTheirSide)
{
    const double rate = 48000.0;
    const int32_t n = 1024;
    for (double f : {7500.0, -7500.0, -23953.125, 0.0})
    {
        SCOPED_TRACE(f);
        Recording r(0.5, rate);
        r.Carrier(f, 0.5); // 0.5 of full scale: -6.02 dBFS
        WaterfallSetup setup{rate, true, n, 50, 400};
        setup.frames = r.Frames();
        const Spectra s = Analyse(r.Floats(), setup);
        const int32_t peak = StrongestBin(s);
        EXPECT_EQ(s.BinHz(peak), f); // the tones lie on bin centres
        // The window's gain is divided out exactly; the reference is the tone's closed form.
        EXPECT_NEAR(s.averageDb[static_cast<std::size_t>(peak)], 20.0 * std::log10(0.5), 0.01);
        // Negative frequencies to the left of the middle, positive ones to the right.
        EXPECT_EQ(peak < n / 2, f < 0.0);
        EXPECT_NEAR(s.BinHz(s.BinAt(f)), f, 1e-9);
    }
}

TEST(WaterfallTones, RealTonesFromZeroToHalfTheRate)
{
    const double rate = 44100.0;
    const int32_t n = 4096;
    std::vector<float> x(44100);
    const double f = 300 * rate / n; // on bin 300
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.25 * std::cos(kTwoPi * f * i / rate) + 0.125);
    WaterfallSetup setup{rate, false, n, 20, 300};
    const Spectra s = Analyse(x, setup);
    ASSERT_EQ(s.Bins(), n / 2 + 1);
    EXPECT_EQ(s.BinHz(0), 0.0);
    EXPECT_EQ(s.BinHz(n / 2), rate / 2.0);
    EXPECT_EQ(StrongestBin(s), 300);
    EXPECT_NEAR(s.averageDb[300], 20.0 * std::log10(0.25), 0.01);
    EXPECT_NEAR(s.averageDb[0], 20.0 * std::log10(0.125), 0.01); // an offset reads its value
    EXPECT_EQ(s.lowHz, 0.0);
    EXPECT_EQ(s.highHz, rate / 2.0);
}

TEST(WaterfallTones, NoiseReadsItsPowerPerBinAndVariesAsNoiseDoes)
{
    Recording r(2.0);
    const double sigma = 0.01;
    r.Noise(sigma, 7);
    WaterfallSetup setup{r.rate, true, 2048, 100, 500};
    setup.frames = r.Frames();
    const Spectra s = Analyse(r.Floats(), setup);
    std::vector<float> levels = s.averageDb;
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    // Power 2σ² spread evenly over the band; one bin takes ENBW / N of it.
    const double expected = 10.0 * std::log10(2 * sigma * sigma * s.enbwBins / s.fftSize);
    EXPECT_NEAR(levels[levels.size() / 2], expected, 0.2);
    EXPECT_NEAR(s.enbwBins, 2.0044, 0.001);
    // Frame powers of noise are exponential: their spread equals their mean.
    std::vector<float> spread = s.variation;
    std::nth_element(spread.begin(), spread.begin() + spread.size() / 2, spread.end());
    EXPECT_NEAR(spread[spread.size() / 2], 1.0, 0.05);
}

// --- rows in time --------------------------------------------------------------------------------

namespace {

// A tone at +6 kHz for the first 40 % of the recording, then at -9 kHz.
std::vector<float> SwitchingTone(std::size_t frames, double rate)
{
    std::vector<float> x(2 * frames);
    const std::size_t change = frames * 2 / 5;
    for (std::size_t i = 0; i < frames; ++i)
    {
        const double f = i < change ? 6000.0 : -9000.0;
        x[2 * i] = static_cast<float>(0.5 * std::cos(kTwoPi * f * i / rate));
        x[2 * i + 1] = static_cast<float>(0.5 * std::sin(kTwoPi * f * i / rate));
    }
    return x;
}

void ExpectSwitchAt(const Spectra& s, double share, int32_t tolerance)
{
    const int32_t leftColumn =
        static_cast<int32_t>((-9000.0 - s.lowHz) / (s.highHz - s.lowHz) * s.columns);
    const int32_t rightColumn =
        static_cast<int32_t>((6000.0 - s.lowHz) / (s.highHz - s.lowHz) * s.columns);
    const auto expectedSwitch = static_cast<int32_t>(share * s.rows);
    for (int32_t row = 0; row < s.rows; ++row)
    {
        if (std::abs(row - expectedSwitch) <= tolerance)
            continue;
        SCOPED_TRACE(row);
        const int32_t column = StrongestColumn(s, row);
        EXPECT_NEAR(column, row < expectedSwitch ? rightColumn : leftColumn, 1);
    }
}

} // namespace

TEST(WaterfallRows, KnownLengthFillsEveryRowInTimeOrder)
{
    const double rate = 48000.0;
    for (std::size_t frames : {std::size_t{480000}, std::size_t{30000}, std::size_t{5000}})
    {
        SCOPED_TRACE(frames);
        WaterfallSetup setup{rate, true, 1024, 120, 256};
        setup.frames = frames;
        const Spectra s = Analyse(SwitchingTone(frames, rate), setup, 777);
        ASSERT_EQ(s.rows, 120);
        ASSERT_EQ(s.waterfall.size(), 120u * 256u);
        // A transform straddling the change blurs one or two rows (more when rows are shorter
        // than a transform).
        const auto blur = static_cast<int32_t>(2 + 1024 * 120 / frames);
        ExpectSwitchAt(s, 0.4, blur);
    }
}

TEST(WaterfallRows, StreamOfUnknownLengthMergesRowsAndKeepsTimeOrder)
{
    const double rate = 48000.0;
    const std::size_t frames = 48000 * 3;
    WaterfallSetup setup{rate, true, 512, 64, 200};
    const Spectra s = Analyse(SwitchingTone(frames, rate), setup, 1000);
    // Rows of one frame at first, doubled whenever 64 are full; transforms a row apart, at most
    // half-overlapped, then (once rows hold 8 transforms' length) back to back.
    EXPECT_GE(s.rows, 32);
    EXPECT_LE(s.rows, 64);
    EXPECT_EQ(s.framesPerRow, 4096.0);
    EXPECT_GT(s.transforms, (frames - 512) / 512 + 1);
    EXPECT_LT(s.transforms, (frames - 512) / 256 + 64 * 8);
    ExpectSwitchAt(s, 0.4 * frames / (s.framesPerRow * s.rows), 2);
}

TEST(WaterfallRows, RecordingShorterThanATransformStillGivesAPicture)
{
    Recording r(0.002); // 96 frames
    r.Carrier(12000.0, 0.5);
    WaterfallSetup setup{r.rate, true, 256, 40, 64};
    setup.frames = r.Frames();
    const Spectra s = Analyse(r.Floats(), setup);
    EXPECT_EQ(s.transforms, 1u);
    ASSERT_EQ(s.rows, 40);
    for (int32_t row = 0; row < s.rows; ++row)
        EXPECT_EQ(StrongestColumn(s, row), 48); // 12 kHz of -24 .. 24 kHz in 64 columns
    EXPECT_EQ(s.BinHz(StrongestBin(s)), 12000.0);

    // Nothing at all: no rows, silence.
    Waterfall empty(setup);
    const Spectra none = empty.Finish();
    EXPECT_EQ(none.rows, 0);
    EXPECT_EQ(none.averageDb[10], sigkit::kSilenceDb);
}

// --- columns ------------------------------------------------------------------------------------

TEST(WaterfallColumns, ZoomedBandPutsToneInItsColumnAndNarrowLinesKeepTheirLevel)
{
    Recording r(1.0);
    r.Carrier(-5000.0, 0.1);
    r.Carrier(5296.875, 0.1); // on bin 452 of 4096 at 48 kHz
    r.Noise(0.0005, 3);
    // 4 kHz wide around 5 kHz, 100 columns of 40 Hz (a bin is 11.7 Hz).
    WaterfallSetup setup{r.rate, true, 4096, 10, 100};
    setup.frames = r.Frames();
    setup.lowHz = 3000.0;
    setup.highHz = 7000.0;
    const Spectra s = Analyse(r.Floats(), setup);
    EXPECT_EQ(s.lowHz, 3000.0);
    EXPECT_EQ(StrongestColumn(s, 5), 57); // (5296.875 - 3000) / 40
    EXPECT_NEAR(s.Cell(5, 57), -20.0, 0.5);

    // Columns narrower than bins: the bin under each column's centre.
    WaterfallSetup narrow{r.rate, true, 256, 10, 400};
    narrow.lowHz = 5000.0;
    narrow.highHz = 5600.0; // 1.5 Hz columns, 187.5 Hz bins
    narrow.frames = r.Frames();
    const Spectra z = Analyse(r.Floats(), narrow);
    const int32_t peak = StrongestColumn(z, 3);
    const double peakHz = 5000.0 + (peak + 0.5) * 1.5;
    EXPECT_NEAR(peakHz, 5250.0, 187.5 / 2 + 1.5); // the bin centre nearest the tone
    // A band beyond the recording is cut to it; an empty one is refused.
    WaterfallSetup beyond{r.rate, true, 256, 10, 10};
    beyond.lowHz = 20000.0;
    beyond.highHz = 90000.0;
    Waterfall cut(beyond);
    EXPECT_EQ(cut.Setup().highHz, 24000.0);
    beyond.lowHz = 30000.0;
    EXPECT_FALSE(Waterfall(beyond).Valid());
}

// --- streaming ----------------------------------------------------------------------------------

TEST(WaterfallStreaming, PiecesOfAnySizeGiveTheSameBits)
{
    Recording r(0.7);
    r.Am(3000.0, 0.2, 0.5, 400.0);
    r.Noise(0.001, 11);
    const std::vector<float> x = r.Floats();
    for (bool known : {true, false})
    {
        WaterfallSetup setup{r.rate, true, 512, 30, 128};
        if (known)
            setup.frames = r.Frames();
        const Spectra whole = Analyse(x, setup);
        for (std::size_t piece : {std::size_t{1}, std::size_t{511}, std::size_t{4097}})
        {
            const Spectra pieces = Analyse(x, setup, piece);
            ASSERT_EQ(pieces.waterfall.size(), whole.waterfall.size());
            EXPECT_EQ(std::memcmp(pieces.waterfall.data(), whole.waterfall.data(),
                                  whole.waterfall.size() * sizeof(float)),
                      0);
            EXPECT_EQ(pieces.averageDb, whole.averageDb);
            EXPECT_EQ(pieces.variation, whole.variation);
        }
    }
}

TEST(WaterfallStreaming, SetupsThatCannotBeServedAreRefused)
{
    const float x[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    for (WaterfallSetup bad :
         {WaterfallSetup{0.0, true, 1024, 10, 10}, WaterfallSetup{48000.0, true, 1000, 10, 10},
          WaterfallSetup{48000.0, true, 16, 10, 10}, WaterfallSetup{48000.0, true, 1024, 1, 10},
          WaterfallSetup{48000.0, true, 1024, 10, 0},
          WaterfallSetup{48000.0, true, 1 << 21, 10, 10},
          WaterfallSetup{std::nan(""), true, 1024, 10, 10}})
    {
        Waterfall w(bad);
        EXPECT_FALSE(w.Valid());
        w.Put(x, 2);
        EXPECT_EQ(w.Finish().rows, 0);
    }
}
