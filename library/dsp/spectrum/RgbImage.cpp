#include "dsp/spectrum/RgbImage.h"

#include "dsp/spectrum/BitmapFont.h"

#include <algorithm>

namespace sigkit {

RgbImage::RgbImage(int32_t w, int32_t h, Rgb background)
    : width(std::max(w, 0)), height(std::max(h, 0))
{
    pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    Fill(0, 0, width, height, background);
}

Rgb RgbImage::At(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return Rgb{};
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
    return Rgb{pixels[at], pixels[at + 1], pixels[at + 2]};
}

void RgbImage::Set(int32_t x, int32_t y, Rgb colour)
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        return;
    const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
    pixels[at] = colour.r;
    pixels[at + 1] = colour.g;
    pixels[at + 2] = colour.b;
}

void RgbImage::Fill(int32_t x, int32_t y, int32_t w, int32_t h, Rgb colour)
{
    const int32_t x0 = std::max(x, 0);
    const int32_t y0 = std::max(y, 0);
    const int32_t x1 = std::min<int64_t>(static_cast<int64_t>(x) + w, width);
    const int32_t y1 = std::min<int64_t>(static_cast<int64_t>(y) + h, height);
    for (int32_t row = y0; row < y1; ++row)
        for (int32_t col = x0; col < x1; ++col)
            Set(col, row, colour);
}

void RgbImage::HorizontalLine(int32_t x0, int32_t x1, int32_t y, Rgb colour)
{
    if (x1 < x0)
        std::swap(x0, x1);
    Fill(x0, y, x1 - x0 + 1, 1, colour);
}

void RgbImage::VerticalLine(int32_t x, int32_t y0, int32_t y1, Rgb colour)
{
    if (y1 < y0)
        std::swap(y0, y1);
    Fill(x, y0, 1, y1 - y0 + 1, colour);
}

void RgbImage::Text(int32_t x, int32_t y, const std::string& text, Rgb colour, int32_t scale)
{
    scale = std::max(scale, 1);
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const uint8_t* rows = font::Glyph(text[i]);
        const int32_t left = x + static_cast<int32_t>(i) * font::kAdvance * scale;
        for (int32_t r = 0; r < font::kGlyphHeight; ++r)
            for (int32_t c = 0; c < font::kGlyphWidth; ++c)
                if ((rows[r] >> (font::kGlyphWidth - 1 - c)) & 1u)
                    Fill(left + c * scale, y + r * scale, scale, scale, colour);
    }
}

} // namespace sigkit
