#include "dsp/spectrum/SpectrumPicture.h"

#include "dsp/spectrum/BitmapFont.h"
#include "dsp/spectrum/Decibels.h"
#include "dsp/spectrum/Units.h"
#include "wav/Metadata.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace sigkit {

namespace {

constexpr Rgb kBackground{18, 18, 22};
constexpr Rgb kText{225, 225, 225};
constexpr Rgb kDimText{160, 160, 170};
constexpr Rgb kFrame{110, 110, 120};
constexpr Rgb kGrid{48, 48, 58};
constexpr Rgb kTrace{255, 214, 120};
constexpr Rgb kUnderTrace{58, 40, 72};

// Characters kept free for the labels left of the plots ("12:34:56.7", "-100").
constexpr int32_t kLeftLabelChars = 10;
// Characters right of the colour bar ("-100").
constexpr int32_t kRightLabelChars = 5;

double RoundDown(double v, double step)
{
    return std::floor(v / step) * step;
}

double RoundUp(double v, double step)
{
    return std::ceil(v / step) * step;
}

// The smallest step of the sequence whose labels, laid out on `pixels` for `span`, are `need`
// pixels apart or more.
double ChooseStep(const std::vector<double>& steps, double span, double pixels, double need)
{
    for (double step : steps)
        if (step / span * pixels >= need)
            return step;
    return steps.back();
}

// 1, 2, 5 times the powers of ten from 10^lo to 10^hi.
std::vector<double> OneTwoFive(int lo, int hi)
{
    // Powers of ten by repeated multiplication and division: the same steps on every machine.
    double power = 1.0;
    for (int e = 0; e > lo; --e)
        power /= 10.0;
    std::vector<double> steps;
    for (int e = lo; e <= hi; ++e, power *= 10.0)
        for (double m : {1.0, 2.0, 5.0})
            steps.push_back(m * power);
    return steps;
}

class Painter
{
public:
    Painter(const Spectra& s, const PictureText& t, const PictureLayout& l)
        : spectra(s), text(t), layout(l), image(l.width, l.height, kBackground), k(l.scale)
    {
    }

    RgbImage Paint();

private:
    int32_t TextHeight() const { return font::kGlyphHeight * k; }
    int32_t Width(const std::string& t) const { return font::TextWidth(t, k); }
    void Title();
    void Waterfall();
    void Spectrum();
    void FrequencyAxis();
    void TimeAxis();
    void ColourBar();
    void Frame(int32_t top, int32_t height);
    int32_t LevelY(double db) const;
    std::string FrequencyLabel(double offset, double step) const;

    const Spectra& spectra;
    const PictureText& text;
    const PictureLayout& layout;
    RgbImage image;
    int32_t k;
    ColourMap colours;
    LevelRange levels;
    double dbStep = 10.0;
};

RgbImage Painter::Paint()
{
    levels = AutomaticLevels(spectra);
    if (std::isfinite(text.dbLow))
        levels.low = text.dbLow;
    if (std::isfinite(text.dbHigh))
        levels.high = text.dbHigh;
    if (!(levels.high > levels.low))
        levels.high = levels.low + 1.0;
    const double range = levels.high - levels.low;
    dbStep = ChooseStep({1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0}, range, layout.spectrumHeight,
                        2.5 * TextHeight());
    if (range / dbStep < 2.0)
        dbStep = ChooseStep({1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0}, range, layout.spectrumHeight,
                            1.5 * TextHeight());

    Title();
    Waterfall();
    Spectrum();
    FrequencyAxis();
    TimeAxis();
    ColourBar();
    Frame(layout.waterfallTop, layout.waterfallHeight);
    Frame(layout.spectrumTop, layout.spectrumHeight);
    return std::move(image);
}

void Painter::Title()
{
    const int32_t top = 6 * k;
    const double rate = spectra.rate;
    char line[512];
    std::snprintf(line, sizeof line, "%s   %s %s   %s", text.name.c_str(),
                  FormatHzShort(rate).c_str(), spectra.complex ? "I/Q" : "real",
                  FormatDuration(text.durationSeconds).c_str());
    std::string title = line;
    // What does not fit before the colour bar's caption is cut, marked by "...".
    const int32_t room = layout.colourBarLeft - layout.plotLeft;
    const std::size_t fits = static_cast<std::size_t>(std::max(room / (font::kAdvance * k), 4));
    if (title.size() > fits)
        title = title.substr(0, fits - 3) + "...";
    image.Text(layout.plotLeft, top, title, kText, k);

    std::string details;
    if (text.centreHz.has_value())
        details = "centre " + FormatHzShort(*text.centreHz);
    else if (spectra.complex)
        details = "centre unknown: offsets from it";
    else
        details = "frequencies from 0 Hz";
    if (text.startTime.has_value())
    {
        const double shift = text.offsetSeconds * 1e9;
        details += "   start " + FormatUtc(*text.startTime + static_cast<int64_t>(shift), 0);
    }
    else if (text.offsetSeconds > 0.0)
        details += "   from " + FormatDuration(text.offsetSeconds);
    char transform[128];
    std::snprintf(transform, sizeof transform, "   FFT %d (%s bins)", spectra.fftSize,
                  FormatHz(spectra.BinWidthHz(), spectra.BinWidthHz() / 100.0).c_str());
    details += transform;
    if (details.size() > fits)
        details = details.substr(0, fits - 3) + "...";
    image.Text(layout.plotLeft, top + TextHeight() + 3 * k, details, kDimText, k);
}

void Painter::Waterfall()
{
    if (spectra.rows <= 0 || spectra.columns <= 0)
        return;
    const double range = levels.high - levels.low;
    for (int32_t y = 0; y < layout.waterfallHeight; ++y)
    {
        const int32_t row =
            static_cast<int32_t>(static_cast<int64_t>(y) * spectra.rows / layout.waterfallHeight);
        for (int32_t x = 0; x < layout.plotWidth; ++x)
        {
            const int32_t column =
                static_cast<int32_t>(static_cast<int64_t>(x) * spectra.columns / layout.plotWidth);
            const double db = spectra.Cell(row, column);
            image.Set(layout.plotLeft + x, layout.waterfallTop + y,
                      colours.At((db - levels.low) / range));
        }
    }
}

int32_t Painter::LevelY(double db) const
{
    const double t = (levels.high - db) / (levels.high - levels.low);
    const double y = layout.spectrumTop + t * (layout.spectrumHeight - 1);
    return static_cast<int32_t>(std::lround(
        std::clamp(y, static_cast<double>(layout.spectrumTop),
                   static_cast<double>(layout.spectrumTop + layout.spectrumHeight - 1))));
}

void Painter::Spectrum()
{
    const int32_t left = layout.plotLeft;
    const int32_t top = layout.spectrumTop;
    const int32_t bottom = top + layout.spectrumHeight - 1;
    // dB grid and labels.
    for (double db = RoundUp(levels.low, dbStep); db <= levels.high + 1e-9; db += dbStep)
    {
        const int32_t y = LevelY(db);
        image.HorizontalLine(left, left + layout.plotWidth - 1, y, kGrid);
        char label[32];
        std::snprintf(label, sizeof label, "%.0f", db);
        image.Text(left - 6 * k - Width(label), y - TextHeight() / 2, label, kText, k);
        image.HorizontalLine(left - 4 * k, left - 1, y, kFrame);
    }
    image.Text(left - 6 * k - Width("dBFS"), top - TextHeight() - 3 * k, "dBFS", kDimText, k);
    if (spectra.averageDb.empty())
        return;
    std::vector<int32_t> first;
    std::vector<int32_t> last;
    ColumnBins(spectra.rate, spectra.complex, spectra.fftSize, spectra.lowHz, spectra.highHz,
               layout.plotWidth, first, last);
    int32_t previous = -1;
    for (int32_t x = 0; x < layout.plotWidth; ++x)
    {
        float db = kSilenceDb;
        for (int32_t b = first[static_cast<std::size_t>(x)]; b <= last[static_cast<std::size_t>(x)];
             ++b)
            db = std::max(db, spectra.averageDb[static_cast<std::size_t>(b)]);
        const int32_t y = LevelY(db);
        image.VerticalLine(left + x, y + 1, bottom, kUnderTrace);
        image.VerticalLine(left + x, previous < 0 ? y : previous, y, kTrace);
        previous = y;
    }
}

std::string Painter::FrequencyLabel(double offset, double step) const
{
    if (text.centreHz.has_value())
        return FormatHz(*text.centreHz + offset, step);
    if (std::fabs(offset) < step * 1e-6)
        return "0";
    // I/Q: offsets either side of the centre, signed; real samples: frequencies from 0 Hz.
    return FormatHz(offset, step, spectra.complex);
}

void Painter::FrequencyAxis()
{
    const double span = spectra.highHz - spectra.lowHz;
    if (!(span > 0.0))
        return;
    const double base = text.centreHz.value_or(0.0);
    // Ticks at round frequencies (absolute ones when the centre is known); the step is the least
    // whose widest label fits between neighbours with two characters to spare.
    double step = 0.0;
    for (double candidate : OneTwoFive(-3, 12))
    {
        if (candidate / span * layout.plotWidth < 8.0 * k)
            continue;
        const int32_t widest = std::max(Width(FrequencyLabel(spectra.lowHz, candidate)),
                                        Width(FrequencyLabel(spectra.highHz, candidate)));
        if (candidate / span * layout.plotWidth >= widest + 2 * font::kAdvance * k)
        {
            step = candidate;
            break;
        }
    }
    if (step == 0.0)
        return;
    const int32_t labelTop = layout.spectrumTop + layout.spectrumHeight + 6 * k;
    const int32_t wBottom = layout.waterfallTop + layout.waterfallHeight;
    for (double f = RoundUp(base + spectra.lowHz, step); f <= base + spectra.highHz + step * 1e-9;
         f += step)
    {
        const double offset = f - base;
        const double xf = (offset - spectra.lowHz) / span * layout.plotWidth;
        const auto x = layout.plotLeft + static_cast<int32_t>(std::lround(std::min(
                                             xf, static_cast<double>(layout.plotWidth - 1))));
        image.VerticalLine(x, layout.spectrumTop, layout.spectrumTop + layout.spectrumHeight - 1,
                           kGrid);
        image.VerticalLine(x, layout.spectrumTop + layout.spectrumHeight,
                           layout.spectrumTop + layout.spectrumHeight + 3 * k, kFrame);
        image.VerticalLine(x, wBottom, wBottom + 3 * k, kFrame);
        image.VerticalLine(x, layout.waterfallTop - 4 * k, layout.waterfallTop - 1, kFrame);
        const std::string label = FrequencyLabel(offset, step);
        const int32_t w = Width(label);
        const int32_t at = x - w / 2;
        if (at >= 0 && at + w <= layout.width)
            image.Text(at, labelTop, label, kText, k);
    }
    const std::string caption =
        text.centreHz.has_value()
            ? std::string("frequency")
            : std::string(spectra.complex ? "offset from the centre" : "frequency");
    image.Text(layout.plotLeft + layout.plotWidth / 2 - Width(caption) / 2,
               labelTop + TextHeight() + 4 * k, caption, kDimText, k);
}

void Painter::TimeAxis()
{
    const double duration = text.durationSeconds;
    if (!(duration > 0.0) || layout.waterfallHeight <= 0)
        return;
    const std::vector<double> steps = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05,  0.1,   0.2,   0.5,
                                       1,     2,     5,     10,   15,   30,    60,    120,   300,
                                       600,   900,   1800,  3600, 7200, 10800, 21600, 43200, 86400};
    const double step = ChooseStep(steps, duration, layout.waterfallHeight, 4.0 * TextHeight());
    int decimals = 0;
    for (double s = step; s < 0.999 && decimals < 3; s *= 10.0)
        ++decimals;
    // Seconds of the first row: of the day (UTC) when the start is known, else of the recording.
    double origin = text.offsetSeconds;
    if (text.startTime.has_value())
    {
        const int64_t day = int64_t{86400} * kNanosecondsPerSecond;
        const int64_t ns = ((*text.startTime % day) + day) % day;
        origin += static_cast<double>(ns) / 1e9;
    }
    const int32_t left = layout.plotLeft;
    for (double t = RoundUp(origin, step); t <= origin + duration + step * 1e-9; t += step)
    {
        const double yf = (t - origin) / duration * layout.waterfallHeight;
        const int32_t y = layout.waterfallTop +
                          static_cast<int32_t>(std::lround(
                              std::min(yf, static_cast<double>(layout.waterfallHeight - 1))));
        image.HorizontalLine(left - 4 * k, left - 1, y, kFrame);
        char label[64];
        if (text.startTime.has_value())
        {
            // In whole milliseconds, so that a tick never reads as 59.99... or -0.0.
            const int64_t ms = std::llround(std::fmod(t, 86400.0) * 1000.0) % 86400000;
            const int64_t whole = ms / 1000;
            std::snprintf(label, sizeof label, "%02d:%02d:%02d", static_cast<int>(whole / 3600),
                          static_cast<int>(whole / 60 % 60), static_cast<int>(whole % 60));
            if (decimals > 0)
            {
                int fraction = static_cast<int>(ms % 1000);
                for (int d = 3; d > decimals; --d)
                    fraction /= 10;
                std::snprintf(label + 8, sizeof label - 8, ".%0*d", decimals, fraction);
            }
        }
        else if (origin + duration < 60.0)
            std::snprintf(label, sizeof label, "%.*f s", decimals, t);
        else
        {
            const auto whole = static_cast<int64_t>(std::floor(t + 1e-9));
            if (whole >= 3600)
                std::snprintf(label, sizeof label, "%d:%02d:%02d", static_cast<int>(whole / 3600),
                              static_cast<int>(whole / 60 % 60), static_cast<int>(whole % 60));
            else
                std::snprintf(label, sizeof label, "%d:%02d", static_cast<int>(whole / 60),
                              static_cast<int>(whole % 60));
        }
        const int32_t top = std::clamp(y - TextHeight() / 2, layout.waterfallTop,
                                       layout.waterfallTop + layout.waterfallHeight - TextHeight());
        image.Text(left - 6 * k - Width(label), top, label, kText, k);
    }
    image.Text(left - 6 * k - Width(text.startTime ? "UTC" : "time"),
               layout.waterfallTop - TextHeight() - 3 * k, text.startTime ? "UTC" : "time",
               kDimText, k);
}

void Painter::ColourBar()
{
    const int32_t x = layout.colourBarLeft;
    const int32_t barWidth = 10 * k;
    const int32_t top = layout.waterfallTop;
    const int32_t height = layout.waterfallHeight;
    if (height < 2)
        return;
    for (int32_t y = 0; y < height; ++y)
        image.Fill(x, top + y, barWidth, 1,
                   colours.At(1.0 - static_cast<double>(y) / (height - 1)));
    const double range = levels.high - levels.low;
    const double step =
        ChooseStep({1.0, 2.0, 5.0, 10.0, 20.0, 50.0, 100.0}, range, height, 2.5 * TextHeight());
    for (double db = RoundUp(levels.low, step); db <= levels.high + 1e-9; db += step)
    {
        const int32_t y =
            top + static_cast<int32_t>(std::lround((levels.high - db) / range * (height - 1)));
        image.HorizontalLine(x + barWidth, x + barWidth + 2 * k, y, kFrame);
        char label[32];
        std::snprintf(label, sizeof label, "%.0f", db);
        const int32_t labelTop = std::clamp(y - TextHeight() / 2, top, top + height - TextHeight());
        image.Text(x + barWidth + 4 * k, labelTop, label, kText, k);
    }
    image.Text(x, top - TextHeight() - 3 * k, "dBFS", kDimText, k);
}

void Painter::Frame(int32_t top, int32_t height)
{
    const int32_t left = layout.plotLeft - 1;
    const int32_t right = layout.plotLeft + layout.plotWidth;
    image.HorizontalLine(left, right, top - 1, kFrame);
    image.HorizontalLine(left, right, top + height, kFrame);
    image.VerticalLine(left, top - 1, top + height, kFrame);
    image.VerticalLine(right, top - 1, top + height, kFrame);
}

} // namespace

PictureLayout LayOutPicture(int32_t width, int32_t height)
{
    PictureLayout l;
    l.width = std::clamp(width, kMinPictureWidth, kMaxPictureSide);
    l.height = std::clamp(height, kMinPictureHeight, kMaxPictureSide);
    l.scale = l.width >= 1800 ? 2 : 1;
    const int32_t k = l.scale;
    const int32_t margin = 6 * k;
    const int32_t line = font::kGlyphHeight * k;
    l.plotLeft = margin + kLeftLabelChars * font::kAdvance * k + 6 * k;
    const int32_t right = 8 * k + 10 * k + 4 * k + kRightLabelChars * font::kAdvance * k + margin;
    l.plotWidth = l.width - l.plotLeft - right;
    l.colourBarLeft = l.plotLeft + l.plotWidth + 8 * k;
    l.waterfallTop = margin + 2 * line + 3 * k + 6 * k + line; // two title lines, captions
    const int32_t gap = 6 * k + line;                          // the "dBFS" caption between
    const int32_t bottom = 6 * k + line + 4 * k + line + margin;
    const int32_t plots = l.height - l.waterfallTop - gap - bottom;
    l.waterfallHeight = plots * 2 / 3;
    l.spectrumTop = l.waterfallTop + l.waterfallHeight + gap;
    l.spectrumHeight = plots - l.waterfallHeight;
    return l;
}

LevelRange AutomaticLevels(const Spectra& spectra)
{
    LevelRange range;
    if (spectra.transforms == 0 || spectra.averageDb.empty())
        return range;
    const int32_t lo = spectra.BinAt(spectra.lowHz);
    const int32_t hi = spectra.BinAt(spectra.highHz);
    std::vector<float> shown(spectra.averageDb.begin() + lo, spectra.averageDb.begin() + hi + 1);
    const auto fifth = shown.begin() + static_cast<std::ptrdiff_t>(shown.size() / 5);
    std::nth_element(shown.begin(), fifth, shown.end());
    const double floor = *fifth;
    double peak = floor;
    for (int32_t i = lo; i <= hi; ++i)
        peak = std::max(peak, static_cast<double>(spectra.rowPeakDb[static_cast<std::size_t>(i)]));
    range.low = RoundDown(floor - 10.0, 5.0);
    range.high = std::max(RoundUp(peak + 1.0, 5.0), range.low + 20.0);
    return range;
}

RgbImage DrawSpectrumPicture(const Spectra& spectra, const PictureText& text,
                             const PictureLayout& layout)
{
    return Painter(spectra, text, layout).Paint();
}

} // namespace sigkit
