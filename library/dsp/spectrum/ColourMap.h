#pragma once

#include <array>
#include <cstdint>

namespace sigkit {

struct Rgb
{
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

// The waterfall's colours: from near black through blue, purple, magenta, coral and orange to
// pale yellow. The control points lie at evenly rising CIE L* (4 to 97), so equal steps in dB look
// like equal steps in brightness and the picture reads in grey too; between them the colours are
// interpolated in sRGB. 256 entries, index 0 the weakest.
class ColourMap
{
public:
    ColourMap();
    // t from 0 (weakest) to 1 (strongest); outside that range the ends, NaN the weakest.
    Rgb At(double t) const;
    const Rgb& Entry(int32_t index) const { return table[static_cast<std::size_t>(index)]; }

private:
    std::array<Rgb, 256> table{};
};

} // namespace sigkit
