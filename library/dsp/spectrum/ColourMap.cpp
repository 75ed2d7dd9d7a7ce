#include "dsp/spectrum/ColourMap.h"

#include <cmath>

namespace sigkit {

namespace {

// sRGB of the control points, at L* 4, 14, 26, 38, 50, 62, 74, 86, 97 and hues turning from
// 285° to 100° (CIE LCh), each with the most chroma the sRGB gamut holds up to a planned amount.
constexpr int32_t kPoints = 9;
constexpr uint8_t kControl[kPoints][3] = {
    {1, 13, 41},    {0, 30, 94},    {89, 32, 129},   {171, 3, 119},   {225, 42, 91},
    {253, 100, 68}, {255, 159, 81}, {255, 208, 125}, {255, 247, 209},
};

} // namespace

ColourMap::ColourMap()
{
    for (int32_t i = 0; i < 256; ++i)
    {
        // Position among the control points, in whole 255ths: exact integer arithmetic.
        const int32_t scaled = i * (kPoints - 1);
        const int32_t segment = scaled / 255 < kPoints - 1 ? scaled / 255 : kPoints - 2;
        const int32_t within = scaled - segment * 255; // 0 .. 255
        const uint8_t* a = kControl[segment];
        const uint8_t* b = kControl[segment + 1];
        uint8_t out[3];
        for (int k = 0; k < 3; ++k)
            out[k] = static_cast<uint8_t>((a[k] * (255 - within) + b[k] * within + 127) / 255);
        table[static_cast<std::size_t>(i)] = Rgb{out[0], out[1], out[2]};
    }
}

Rgb ColourMap::At(double t) const
{
    if (!(t > 0.0))
        return table[0];
    if (t >= 1.0)
        return table[255];
    return table[static_cast<std::size_t>(std::lround(t * 255.0))];
}

} // namespace sigkit
