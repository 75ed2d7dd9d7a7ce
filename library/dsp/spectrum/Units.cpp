#include "dsp/spectrum/Units.h"

#include "wav/Metadata.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace sigkit {

const char* HzUnit(double magnitudeHz, double& unitHz)
{
    const double m = std::fabs(magnitudeHz);
    if (m >= 1e9)
    {
        unitHz = 1e9;
        return "GHz";
    }
    if (m >= 1e6)
    {
        unitHz = 1e6;
        return "MHz";
    }
    if (m >= 1e3)
    {
        unitHz = 1e3;
        return "kHz";
    }
    unitHz = 1.0;
    return "Hz";
}

std::string FormatHz(double hz, double resolutionHz, bool sign)
{
    if (!std::isfinite(hz))
        return "?";
    double unit = 1.0;
    const char* name = HzUnit(hz, unit);
    int decimals = 0;
    for (double step = unit; decimals < 9 && step > resolutionHz * 1.0000001; step /= 10.0)
        ++decimals;
    char text[64];
    const double value = hz / unit;
    std::snprintf(text, sizeof text, sign ? "%+.*f %s" : "%.*f %s", decimals, value, name);
    return text;
}

std::string FormatHzShort(double hz)
{
    std::string text = FormatHz(hz, std::fabs(hz) >= 1000.0 ? 1.0 : 0.001);
    const std::size_t space = text.find(' ');
    const std::size_t point = text.find('.');
    if (space == std::string::npos || point == std::string::npos || point > space)
        return text;
    std::size_t end = space;
    while (end > point + 1 && text[end - 1] == '0')
        --end;
    if (end == point + 1)
        --end;
    return text.substr(0, end) + text.substr(space);
}

std::string FormatDuration(double seconds)
{
    char text[64];
    if (!std::isfinite(seconds) || seconds < 0.0)
        return "?";
    if (seconds < 1.0)
        std::snprintf(text, sizeof text, "%.3f s", seconds);
    else if (seconds < 60.0)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else if (seconds < 3600.0)
    {
        const auto whole = static_cast<int64_t>(std::floor(seconds));
        std::snprintf(text, sizeof text, "%d min %02d s", static_cast<int>(whole / 60),
                      static_cast<int>(whole % 60));
    }
    else
    {
        const auto minutes = static_cast<int64_t>(std::floor(seconds / 60.0));
        std::snprintf(text, sizeof text, "%lld h %02d min", static_cast<long long>(minutes / 60),
                      static_cast<int>(minutes % 60));
    }
    return text;
}

std::string FormatUtc(int64_t nanoseconds, int decimals)
{
    const CivilTime t = ToCivil(nanoseconds);
    char text[80];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month,
                          t.day, t.hour, t.minute, t.second);
    if (decimals > 0 && n > 0)
    {
        if (decimals > 9)
            decimals = 9;
        int fraction = t.nanosecond;
        for (int d = 9; d > decimals; --d)
            fraction /= 10;
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%0*d", decimals,
                           fraction);
    }
    if (n > 0 && static_cast<std::size_t>(n) + 1 < sizeof text)
    {
        text[n] = 'Z';
        text[n + 1] = '\0';
    }
    return text;
}

namespace {

// The length of the UTF-8 sequence at `at`, 0 when the bytes there are none.
std::size_t Utf8Length(const std::string& s, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(s[at]);
    std::size_t n = 0;
    uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        n = 2;
        value = lead & 0x1Fu;
    }
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        n = 3;
        value = lead & 0x0Fu;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        n = 4;
        value = lead & 0x07u;
    }
    else
        return 0;
    if (at + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
    {
        const auto b = static_cast<unsigned char>(s[at + k]);
        if ((b & 0xC0u) != 0x80u)
            return 0;
        value = (value << 6) | (b & 0x3Fu);
    }
    const bool overlong = (n == 3 && value < 0x800) || (n == 4 && value < 0x10000);
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return overlong || surrogate || value > 0x10FFFF ? 0 : n;
}

} // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80)
        {
            // Bytes that are no UTF-8 (a name in another encoding) become U+FFFD.
            const std::size_t n = Utf8Length(text, i);
            if (n == 0)
                out += "\\ufffd";
            else
            {
                out.append(text, i, n);
                i += n - 1;
            }
        }
        else if (c == '"' || c == '\\')
        {
            out += '\\';
            out += c;
        }
        else if (u < 0x20)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        }
        else
            out += c;
    }
    return out + "\"";
}

} // namespace sigkit
