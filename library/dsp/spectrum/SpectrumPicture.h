#pragma once

#include "dsp/spectrum/RgbImage.h"
#include "dsp/spectrum/Waterfall.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace sigkit {

// Where the parts of a spectrum picture go, from its size alone, so that the waterfall can be
// given its columns (plotWidth) and rows (waterfallHeight) before the pass over the recording:
//
//   title line (file, rate, kind, duration) and a line of details (centre, start, transform)
//   time labels | waterfall, time going down             | colour scale with dB labels
//   dB labels   | averaged spectrum with a dB grid        |
//               frequency labels (absolute when the centre is known), caption
struct PictureLayout
{
    int32_t width = 0;
    int32_t height = 0;
    int32_t scale = 1; // text: each font pixel scale × scale
    int32_t plotLeft = 0;
    int32_t plotWidth = 0;
    int32_t waterfallTop = 0;
    int32_t waterfallHeight = 0;
    int32_t spectrumTop = 0;
    int32_t spectrumHeight = 0;
    int32_t colourBarLeft = 0;
};

inline constexpr int32_t kMinPictureWidth = 480;
inline constexpr int32_t kMinPictureHeight = 320;
inline constexpr int32_t kMaxPictureSide = 16384;

// Sizes are limited to kMinPicture.. and kMaxPictureSide; text is drawn twice as large from
// 1800 pixels across.
PictureLayout LayOutPicture(int32_t width, int32_t height);

struct PictureText
{
    std::string name;                 // the file, for the title
    std::optional<double> centreHz;   // frequency labels absolute when known
    std::optional<int64_t> startTime; // UTC (ns) of the recording's first sample
    double offsetSeconds = 0.0;       // where the part shown begins in the recording
    double durationSeconds = 0.0;     // the length of the part shown
    double dbLow = std::numeric_limits<double>::quiet_NaN();  // the darkest colour; NaN: automatic
    double dbHigh = std::numeric_limits<double>::quiet_NaN(); // the brightest; NaN: automatic
};

// Levels from the noise floor (a fifth of the band's bins lie below it) and the strongest row:
// the floor 10 dB above the bottom, so that noise shows as a dark texture, the peak just below
// the top; both on 5 dB steps, at least 20 dB apart.
struct LevelRange
{
    double low = -120.0;
    double high = 0.0;
};
LevelRange AutomaticLevels(const Spectra& spectra);

// The picture of a waterfall pass. The waterfall's rows are stretched or thinned to the
// layout's height, its columns to the plot width (best when they are equal).
RgbImage DrawSpectrumPicture(const Spectra& spectra, const PictureText& text,
                             const PictureLayout& layout);

} // namespace sigkit
