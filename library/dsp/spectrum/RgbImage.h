#pragma once

#include "dsp/spectrum/ColourMap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sigkit {

// A picture as 8-bit RGB: rows top first, three bytes a pixel, no padding. Drawing outside the
// picture is cut off, never written.
struct RgbImage
{
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels; // width · height · 3

    RgbImage() = default;
    RgbImage(int32_t w, int32_t h, Rgb background);

    Rgb At(int32_t x, int32_t y) const;
    void Set(int32_t x, int32_t y, Rgb colour);
    // The rectangle x .. x + w - 1, y .. y + h - 1.
    void Fill(int32_t x, int32_t y, int32_t w, int32_t h, Rgb colour);
    void HorizontalLine(int32_t x0, int32_t x1, int32_t y, Rgb colour);
    void VerticalLine(int32_t x, int32_t y0, int32_t y1, Rgb colour);
    // Text in the bitmap font, its top left corner at (x, y), each font pixel scale × scale.
    void Text(int32_t x, int32_t y, const std::string& text, Rgb colour, int32_t scale);
};

} // namespace sigkit
