// The spectrum picture, checked by its pixels: tones in their columns (negative frequencies left of
// the middle), the averaged spectrum's trace at the tone's level, labels where they belong and
// readable, nothing drawn at the picture's edge, and a colour map that rises in lightness.
#include "dsp/spectrum/SpectrumPicture.h"
#include "Recordings.h"
#include "dsp/spectrum/BitmapFont.h"
#include "dsp/spectrum/Units.h"
#include "wav/Metadata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace sigtest;
using sigkit::PictureLayout;
using sigkit::PictureText;
using sigkit::Rgb;
using sigkit::RgbImage;
using sigkit::Spectra;

namespace {

constexpr Rgb kBackground{18, 18, 22};

Spectra Analyse(const Recording& r, const PictureLayout& layout)
{
    sigkit::WaterfallSetup setup{r.rate, true, 2048, layout.waterfallHeight, layout.plotWidth};
    setup.frames = r.Frames();
    sigkit::Waterfall waterfall(setup);
    const std::vector<float> x = r.Floats();
    waterfall.Put(x.data(), r.Frames());
    return waterfall.Finish();
}

int Brightness(Rgb c)
{
    return c.r + c.g + c.b;
}

int32_t BrightestX(const RgbImage& image, const PictureLayout& layout, int32_t y)
{
    int32_t best = layout.plotLeft;
    for (int32_t x = layout.plotLeft; x < layout.plotLeft + layout.plotWidth; ++x)
        if (Brightness(image.At(x, y)) > Brightness(image.At(best, y)))
            best = x;
    return best;
}

// The x at which an offset lies in the plot.
int32_t ColumnOf(const Spectra& s, const PictureLayout& layout, double hz)
{
    return layout.plotLeft +
           static_cast<int32_t>((hz - s.lowHz) / (s.highHz - s.lowHz) * layout.plotWidth);
}

// Where a text drawn in the text colour appears in a band of rows (and, when given, columns): its
// left edge, or -1.
int32_t FindText(const RgbImage& image, const std::string& text, int32_t top, int32_t bottom,
                 int32_t scale, int32_t left = 0, int32_t right = -1, Rgb ink = Rgb{225, 225, 225})
{
    RgbImage stamp(sigkit::font::TextWidth(text, scale), sigkit::font::kGlyphHeight * scale, Rgb{});
    stamp.Text(0, 0, text, ink, scale);
    for (int32_t y = top; y + stamp.height <= bottom; ++y)
        for (int32_t x = left; x + stamp.width <= (right < 0 ? image.width : right); ++x)
        {
            bool same = true;
            for (int32_t v = 0; v < stamp.height && same; ++v)
                for (int32_t u = 0; u < stamp.width && same; ++u)
                    same = (stamp.At(u, v) == ink) == (image.At(x + u, y + v) == ink);
            if (same)
                return x;
        }
    return -1;
}

} // namespace

TEST(SpectrumPicture, LayoutLeavesRoomForLabelsAtEverySize)
{
    for (auto [w, h] : {std::pair{1200, 800}, std::pair{480, 320}, std::pair{2400, 1500},
                        std::pair{100, 100}, std::pair{99999, 99999}})
    {
        const PictureLayout l = sigkit::LayOutPicture(w, h);
        SCOPED_TRACE(std::to_string(l.width) + "x" + std::to_string(l.height));
        EXPECT_GE(l.width, sigkit::kMinPictureWidth);
        EXPECT_LE(l.height, sigkit::kMaxPictureSide);
        EXPECT_GT(l.plotWidth, l.width / 2);
        EXPECT_GT(l.waterfallHeight, l.spectrumHeight);
        EXPECT_GT(l.spectrumHeight, 40);
        EXPECT_GT(l.spectrumTop, l.waterfallTop + l.waterfallHeight);
        // The colour bar and its labels, the frequency labels and caption, inside the picture.
        EXPECT_LE(l.colourBarLeft + 10 * l.scale + 4 * l.scale + 5 * 6 * l.scale, l.width);
        EXPECT_LE(l.spectrumTop + l.spectrumHeight + 2 * (7 + 6) * l.scale, l.height);
        EXPECT_EQ(l.scale, l.width >= 1800 ? 2 : 1);
    }
}

TEST(SpectrumPicture, TonesLieInTheirColumnsNegativeOnesLeftOfTheMiddle)
{
    const PictureLayout layout = sigkit::LayOutPicture(900, 600);
    Recording r(1.0);
    r.Carrier(9000.0, 0.1); // -20 dBFS
    r.Noise(0.0003, 1);
    const Spectra plus = Analyse(r, layout);
    PictureText text;
    text.name = "tone.wav";
    text.durationSeconds = 1.0;
    const RgbImage image = sigkit::DrawSpectrumPicture(plus, text, layout);
    ASSERT_EQ(image.width, 900);
    ASSERT_EQ(image.pixels.size(), 900u * 600u * 3u);

    const int32_t middle = layout.plotLeft + layout.plotWidth / 2;
    const int32_t expected = ColumnOf(plus, layout, 9000.0);
    for (int32_t y : {layout.waterfallTop, layout.waterfallTop + layout.waterfallHeight / 2,
                      layout.waterfallTop + layout.waterfallHeight - 1})
        EXPECT_NEAR(BrightestX(image, layout, y), expected, 1) << y;
    EXPECT_GT(expected, middle);

    // The trace's highest point is the tone, at its level on the dB scale.
    const sigkit::LevelRange levels = sigkit::AutomaticLevels(plus);
    int32_t top = layout.spectrumTop + layout.spectrumHeight;
    int32_t topX = 0;
    for (int32_t x = layout.plotLeft; x < layout.plotLeft + layout.plotWidth; ++x)
        for (int32_t y = layout.spectrumTop; y < top; ++y)
            if (image.At(x, y) == Rgb{255, 214, 120})
            {
                top = y;
                topX = x;
            }
    EXPECT_NEAR(topX, expected, 1);
    const double db = levels.high - (top - layout.spectrumTop) * (levels.high - levels.low) /
                                        (layout.spectrumHeight - 1);
    EXPECT_NEAR(db, -20.0, 0.5);

    Recording m(1.0);
    m.Carrier(-9000.0, 0.1);
    m.Noise(0.0003, 2);
    const Spectra minus = Analyse(m, layout);
    const RgbImage left = sigkit::DrawSpectrumPicture(minus, text, layout);
    const int32_t y = layout.waterfallTop + layout.waterfallHeight / 2;
    EXPECT_NEAR(BrightestX(left, layout, y), ColumnOf(minus, layout, -9000.0), 1);
    EXPECT_LT(BrightestX(left, layout, y), middle);
    EXPECT_NEAR(middle - BrightestX(left, layout, y), expected - middle, 2); // mirror images
}

TEST(SpectrumPicture, LabelsAreReadableWhereTheyBelongAndNothingTouchesTheEdge)
{
    const PictureLayout layout = sigkit::LayOutPicture(1000, 640);
    Recording r(2.0);
    r.Carrier(5000.0, 0.05);
    r.Noise(0.0005, 3);
    const Spectra s = Analyse(r, layout);
    PictureText text;
    text.name = std::string(300, 'x') + ".wav"; // far too long for the title
    text.centreHz = 7100000.0;
    text.startTime = sigkit::ToUtc(sigkit::CivilTime{2024, 1, 1, 12, 0, 0, 0});
    text.durationSeconds = 2.0;
    const RgbImage image = sigkit::DrawSpectrumPicture(s, text, layout);

    // Absolute frequency labels under the spectrum, each centred on its tick.
    const int32_t labelTop = layout.spectrumTop + layout.spectrumHeight;
    const int32_t at = FindText(image, "7.100 MHz", labelTop, layout.height, 1);
    ASSERT_GE(at, 0);
    const int32_t centreX = ColumnOf(s, layout, 0.0);
    EXPECT_NEAR(at + sigkit::font::TextWidth("7.100 MHz", 1) / 2, centreX, 2);
    EXPECT_GE(FindText(image, "7.110 MHz", labelTop, layout.height, 1), 0);
    // Clock times beside the waterfall.
    EXPECT_GE(FindText(image, "12:00:01", layout.waterfallTop - 4,
                       layout.waterfallTop + layout.waterfallHeight + 4, 1),
              0);
    // The title is cut before the colour bar, with a mark.
    EXPECT_GE(FindText(image, "xxx...", 0, layout.waterfallTop, 1), 0);

    // Nothing clipped: the outermost pixels are all background.
    for (int32_t x = 0; x < image.width; ++x)
        for (int32_t y : {0, 1, image.height - 2, image.height - 1})
            ASSERT_EQ(image.At(x, y), kBackground) << x << "," << y;
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x : {0, 1, image.width - 2, image.width - 1})
            ASSERT_EQ(image.At(x, y), kBackground) << x << "," << y;
}

TEST(SpectrumPicture, RelativeLabelsWithoutACentreAndLevelsFromFloorAndPeak)
{
    const PictureLayout layout = sigkit::LayOutPicture(800, 500);
    Recording r(1.0);
    r.Carrier(-12000.0, 0.2); // -14 dBFS
    r.Noise(0.003, 4);        // about -77.5 dBFS per bin at 2048 points
    const Spectra s = Analyse(r, layout);
    const sigkit::LevelRange levels = sigkit::AutomaticLevels(s);
    EXPECT_EQ(levels.low, -90.0);
    EXPECT_EQ(levels.high, -10.0);

    PictureText text;
    text.durationSeconds = 1.0;
    const RgbImage image = sigkit::DrawSpectrumPicture(s, text, layout);
    const int32_t labelTop = layout.spectrumTop + layout.spectrumHeight;
    EXPECT_GE(FindText(image, "-10 kHz", labelTop, layout.height, 1), 0);
    EXPECT_GE(FindText(image, "+10 kHz", labelTop, layout.height, 1), 0);
    const int32_t zero = ColumnOf(s, layout, 0.0) - sigkit::font::TextWidth("0", 1) / 2;
    EXPECT_EQ(FindText(image, "0", labelTop, labelTop + 20, 1, zero - 1, zero + 7), zero);
    EXPECT_GE(FindText(image, "offset from the centre", labelTop, layout.height, 1, 0, -1,
                       Rgb{160, 160, 170}),
              0);

    // Levels given: the tone at the top of the scale is the brightest colour.
    text.dbLow = -60.0;
    text.dbHigh = -14.0;
    const RgbImage fixed = sigkit::DrawSpectrumPicture(s, text, layout);
    const int32_t x = BrightestX(fixed, layout, layout.waterfallTop + 5);
    EXPECT_EQ(fixed.At(x, layout.waterfallTop + 5), sigkit::ColourMap().Entry(255));
}

TEST(SpectrumPicture, ColourMapRisesInLightnessFromDarkToLight)
{
    const sigkit::ColourMap map;
    const auto linear = [](uint8_t v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    double previous = -1.0;
    for (int32_t i = 0; i < 256; ++i)
    {
        const Rgb c = map.Entry(i);
        const double y = 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
        EXPECT_GE(y, previous - 1e-3) << i; // relative luminance never falls
        previous = y;
    }
    EXPECT_LT(Brightness(map.Entry(0)), 60);
    EXPECT_GT(Brightness(map.Entry(255)), 700);
    EXPECT_EQ(map.At(-1.0), map.Entry(0));
    EXPECT_EQ(map.At(std::nan("")), map.Entry(0));
    EXPECT_EQ(map.At(2.0), map.Entry(255));
}

TEST(SpectrumPicture, GlyphsAreDrawnAsTheirBitsAtAnyScaleAndCutAtTheEdge)
{
    RgbImage image(20, 20, Rgb{});
    const Rgb ink{255, 255, 255};
    image.Text(0, 0, "1", ink, 2);
    const uint8_t* one = sigkit::font::Glyph('1');
    for (int32_t r = 0; r < 7; ++r)
        for (int32_t c = 0; c < 5; ++c)
        {
            const bool on = (one[r] >> (4 - c)) & 1u;
            EXPECT_EQ(image.At(2 * c + 1, 2 * r + 1) == ink, on) << r << "," << c;
        }
    EXPECT_EQ(sigkit::font::Glyph('\x01'), sigkit::font::Glyph('?'));
    EXPECT_EQ(sigkit::font::TextWidth("abc", 1), 17);
    image.Text(-7, 15, "WWW", ink, 3); // mostly outside: cut, never written past the buffer
    image.Fill(-5, -5, 100, 6, ink);   // reaches row 0 only
    EXPECT_EQ(image.At(0, 0), ink);
    EXPECT_EQ(image.pixels.size(), 20u * 20u * 3u);
}

TEST(SpectrumPicture, UnitsReadAsPeopleWriteThem)
{
    EXPECT_EQ(sigkit::FormatHz(7100000.0, 100.0), "7.1000 MHz");
    EXPECT_EQ(sigkit::FormatHz(-12000.0, 1000.0, true), "-12 kHz");
    EXPECT_EQ(sigkit::FormatHz(500.0, 10.0, true), "+500 Hz");
    EXPECT_EQ(sigkit::FormatHzShort(96000.0), "96 kHz");
    EXPECT_EQ(sigkit::FormatHzShort(7065500.0), "7.0655 MHz");
    EXPECT_EQ(sigkit::FormatHzShort(44.1), "44.1 Hz");
    EXPECT_EQ(sigkit::FormatDuration(3.0), "3.0 s");
    EXPECT_EQ(sigkit::FormatDuration(150.0), "2 min 30 s");
    EXPECT_EQ(sigkit::FormatDuration(7500.0), "2 h 05 min");
    EXPECT_EQ(sigkit::FormatUtc(
                  sigkit::ToUtc(sigkit::CivilTime{2024, 2, 29, 23, 59, 59, 250000000}).value(), 3),
              "2024-02-29 23:59:59.250Z");
}
