// Pictures as PNG files: written through libpng by the console, decoded again through libpng, and
// checked by their pixels: a tone at +f is brightest in the column of +f, a tone at -f left of
// the centre; a failed write leaves no file behind.
#include "PngWriter.h"
#include "dsp/spectrum/SpectrumPicture.h"
#include "dsp/spectrum/Waterfall.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <vector>

using namespace sigtest;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Decoded
{
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
    int Brightness(int32_t x, int32_t y) const
    {
        const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
        return rgb[at] + rgb[at + 1] + rgb[at + 2];
    }
};

Decoded ReadPng(const std::string& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Decoded out;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0)
        return out;
    image.format = PNG_FORMAT_RGB;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) == 0)
    {
        png_image_free(&image);
        out.rgb.clear();
        return out;
    }
    out.width = static_cast<int32_t>(image.width);
    out.height = static_cast<int32_t>(image.height);
    return out;
}

// The picture of one second of a complex tone at f over a little noise, written as PNG.
sigkit::PictureLayout WriteTonePicture(const std::string& path, double f, double& lowHz,
                                       double& highHz)
{
    const double rate = 48000.0;
    const sigkit::PictureLayout layout = sigkit::LayOutPicture(800, 500);
    sigkit::WaterfallSetup setup{rate, true, 1024, layout.waterfallHeight, layout.plotWidth};
    setup.frames = 48000;
    sigkit::Waterfall waterfall(setup);
    std::vector<float> iq(2 * 48000);
    uint32_t noise = 99;
    for (std::size_t n = 0; n < 48000; ++n)
    {
        noise = noise * 1664525u + 1013904223u;
        const float jitter = static_cast<float>(noise >> 8) / 16777216.0f * 0.002f;
        iq[2 * n] = static_cast<float>(0.1 * std::cos(2 * kPi * f * n / rate)) + jitter;
        iq[2 * n + 1] = static_cast<float>(0.1 * std::sin(2 * kPi * f * n / rate)) - jitter;
    }
    waterfall.Put(iq.data(), 48000);
    const sigkit::Spectra spectra = waterfall.Finish();
    lowHz = spectra.lowHz;
    highHz = spectra.highHz;
    sigkit::PictureText text;
    text.name = "tone.wav";
    text.durationSeconds = 1.0;
    const sigkit::RgbImage image = sigkit::DrawSpectrumPicture(spectra, text, layout);
    std::string error;
    EXPECT_TRUE(sigrun::WritePngFile(path, image.width, image.height, image.pixels.data(), error))
        << error;
    return layout;
}

int32_t BrightestColumn(const Decoded& png, const sigkit::PictureLayout& layout, int32_t y)
{
    int32_t best = layout.plotLeft;
    for (int32_t x = layout.plotLeft; x < layout.plotLeft + layout.plotWidth; ++x)
        if (png.Brightness(x, y) > png.Brightness(best, y))
            best = x;
    return best;
}

} // namespace

TEST(PngPicture, ToneAtPlusFIsInItsColumnAndAtMinusFLeftOfTheCentre)
{
    TempDir dir;
    for (double f : {7000.0, -7000.0, 15000.0})
    {
        SCOPED_TRACE(f);
        const std::string path = dir.File("tone.png");
        double low = 0.0;
        double high = 0.0;
        const sigkit::PictureLayout layout = WriteTonePicture(path, f, low, high);
        const Decoded png = ReadPng(path);
        ASSERT_EQ(png.width, 800);
        ASSERT_EQ(png.height, 500);
        EXPECT_FALSE(FileExists(path + ".part"));
        const int32_t column =
            layout.plotLeft + static_cast<int32_t>((f - low) / (high - low) * layout.plotWidth);
        const int32_t centre = layout.plotLeft + layout.plotWidth / 2;
        for (int32_t y = layout.waterfallTop; y < layout.waterfallTop + layout.waterfallHeight;
             y += 37)
        {
            const int32_t x = BrightestColumn(png, layout, y);
            EXPECT_NEAR(x, column, 1) << y;
            EXPECT_EQ(x < centre, f < 0.0) << y;
        }
    }
}

TEST(PngPicture, StreamsAndFailuresAreReported)
{
    TempDir dir;
    const std::vector<uint8_t> rgb(4 * 3 * 3, 200);
    std::string error;
    // Into a folder that does not exist: refused, nothing left behind.
    EXPECT_FALSE(sigrun::WritePngFile(dir.File("none/x.png"), 4, 3, rgb.data(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(sigrun::WritePng(nullptr, 4, 3, rgb.data(), error));
    EXPECT_FALSE(sigrun::WritePng(stdout, 0, 3, rgb.data(), error));

    // To an open stream, as "--png -" writes to standard output.
    const std::string path = dir.File("stream.png");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(sigrun::WritePng(out, 4, 3, rgb.data(), error)) << error;
    std::fclose(out);
    const Decoded png = ReadPng(path);
    ASSERT_EQ(png.width, 4);
    EXPECT_EQ(png.rgb, rgb);
}
