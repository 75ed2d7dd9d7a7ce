#include "RecordingOptions.h"

#include "Messages.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sigrun {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2 ? 1 : 0;
}

bool DaysInMonthOk(long long y, unsigned m, unsigned d)
{
    static const unsigned kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1])
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m != 2 || d <= 28 || leap;
}

// Exactly `count` digits at text[at], as a number.
bool Digits(const std::string& text, std::size_t& at, int count, unsigned& value)
{
    value = 0;
    for (int i = 0; i < count; ++i, ++at)
    {
        if (at >= text.size() || text[at] < '0' || text[at] > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
    }
    return true;
}

// "A:B" into its two parts; false without exactly one colon.
bool Pair(const char* value, std::string& first, std::string& second)
{
    const std::string text = value;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos)
        return false;
    first = text.substr(0, colon);
    second = text.substr(colon + 1);
    return true;
}

bool ParseSeconds(const std::string& text, double& seconds)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(seconds) && seconds >= 0.0 &&
           seconds < 1e9;
}

bool ParseWhole(const char* text, long long low, long long high, int32_t& out)
{
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < low || value > high)
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

} // namespace

bool ParseFrequency(const std::string& text, double& hertz)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
        return false;
    // No hexadecimal, infinities or exponents: a plain decimal number.
    for (const char* p = text.c_str(); p < end; ++p)
        if (!(std::isdigit(static_cast<unsigned char>(*p)) || *p == '.' || *p == '-' || *p == '+'))
            return false;
    const std::string suffix = end;
    if (suffix == "k" || suffix == "K")
        value *= 1e3;
    else if (suffix == "M")
        value *= 1e6;
    else if (suffix == "G")
        value *= 1e9;
    else if (!suffix.empty())
        return false;
    if (!std::isfinite(value) || std::fabs(value) > 1e12)
        return false;
    hertz = value;
    return true;
}

bool ParseUtcTime(const std::string& given, double& seconds)
{
    std::string text = given;
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z'))
        text.pop_back();
    std::size_t at = 0;
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(text, at, 4, year))
        return false;
    const bool dashed = at < text.size() && text[at] == '-';
    if (dashed)
        ++at;
    if (!Digits(text, at, 2, month) || (dashed && (at >= text.size() || text[at++] != '-')) ||
        !Digits(text, at, 2, day))
        return false;
    if (at >= text.size() || (text[at] != 'T' && text[at] != ' ' && text[at] != '_'))
        return false;
    ++at;
    const bool colons = dashed;
    if (!Digits(text, at, 2, hour) || (colons && (at >= text.size() || text[at++] != ':')) ||
        !Digits(text, at, 2, minute) || (colons && (at >= text.size() || text[at++] != ':')) ||
        !Digits(text, at, 2, second))
        return false;
    double fraction = 0.0;
    if (at < text.size() && text[at] == '.')
    {
        double scale = 0.1;
        ++at;
        if (at >= text.size())
            return false;
        for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at)
        {
            fraction += scale * (text[at] - '0');
            scale /= 10.0;
        }
    }
    if (at != text.size() || !DaysInMonthOk(year, month, day) || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    const long long days = DaysFromCivil(year, month, day);
    seconds = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second) + fraction;
    return true;
}

std::string UtcText(double seconds)
{
    const double whole = std::floor(seconds);
    auto millis = static_cast<long long>(std::llround((seconds - whole) * 1000.0));
    auto total = static_cast<long long>(whole);
    if (millis >= 1000)
    {
        millis -= 1000;
        ++total;
    }
    const long long days = (total >= 0 ? total : total - 86399) / 86400;
    const long long inDay = total - days * 86400;
    long long y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    char text[96];
    if (millis != 0)
        std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld.%03lld UTC", y, m,
                      d, inDay / 3600, inDay / 60 % 60, inDay % 60, millis);
    else
        std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld UTC", y, m, d,
                      inDay / 3600, inDay / 60 % 60, inDay % 60);
    return text;
}

std::string FrequencyText(double hertz)
{
    const double magnitude = std::fabs(hertz);
    const char* unit = "Hz";
    double scaled = hertz;
    if (magnitude >= 1e9)
    {
        unit = "GHz";
        scaled = hertz / 1e9;
    }
    else if (magnitude >= 1e6)
    {
        unit = "MHz";
        scaled = hertz / 1e6;
    }
    else if (magnitude >= 1e3)
    {
        unit = "kHz";
        scaled = hertz / 1e3;
    }
    // Up to nine decimals (1 Hz of a GHz), without trailing zeros.
    char text[64];
    std::snprintf(text, sizeof text, "%.9f", scaled);
    std::string out = text;
    while (out.back() == '0')
        out.pop_back();
    if (out.back() == '.')
        out.pop_back();
    return out + " " + unit;
}

namespace {

// Takes one of the options that shape the analysis and its picture (--size, --fft, --db, --time,
// --span). Null when the value is usable, else what the option takes.
const char* TakeAnalysisOption(const std::string& name, const char* value, const std::string& given,
                               RecordingOptions& options)
{
    if (name == "size")
    {
        const std::size_t x = given.find_first_of("xX");
        int32_t w = 0, h = 0;
        if (x == std::string::npos || !ParseWhole(given.substr(0, x).c_str(), 480, 16384, w) ||
            !ParseWhole(given.substr(x + 1).c_str(), 320, 16384, h))
            return "WIDTHxHEIGHT in pixels, 480x320 to 16384x16384";
        options.width = w;
        options.height = h;
        return nullptr;
    }
    if (name == "fft")
    {
        int32_t n = 0;
        if (!ParseWhole(given.c_str(), 32, 1 << 20, n) || (n & (n - 1)) != 0)
            return "a power of two from 32 to 1048576";
        options.fftSize = n;
        return nullptr;
    }
    if (name == "db")
    {
        std::string low, high;
        char* end = nullptr;
        if (!Pair(value, low, high))
            return "LOW:HIGH in dBFS, as -120:0";
        const double a = std::strtod(low.c_str(), &end);
        const bool lowOk = !low.empty() && *end == '\0';
        const double b = std::strtod(high.c_str(), &end);
        const bool highOk = !high.empty() && *end == '\0';
        if (!lowOk || !highOk || !std::isfinite(a) || !std::isfinite(b) || !(a < b) || a < -400.0 ||
            b > 400.0)
            return "LOW:HIGH in dBFS with LOW below HIGH, as -120:0";
        options.levelsGiven = true;
        options.dbLow = a;
        options.dbHigh = b;
        return nullptr;
    }
    if (name == "time")
    {
        std::string start, length;
        if (!Pair(value, start, length) || !ParseSeconds(start, options.startSeconds) ||
            (!length.empty() && !ParseSeconds(length, options.lengthSeconds)))
            return "START:LENGTH in seconds, as 10:30 (START: to the end)";
        if (length.empty())
            options.lengthSeconds = 0.0;
        else if (!(options.lengthSeconds > 0.0))
            return "a LENGTH above 0 seconds";
        return nullptr;
    }
    if (name == "span")
    {
        std::string centre, width;
        if (!Pair(value, centre, width) || !ParseFrequency(centre, options.spanCentreHz) ||
            !ParseFrequency(width, options.spanWidthHz) || !(options.spanWidthHz > 0.0))
            return "CENTRE:WIDTH in Hz, CENTRE an offset from the recording's centre, "
                   "as -50k:20k";
        return nullptr;
    }
    return nullptr;
}

} // namespace

bool TakeRecordingOption(const std::string& name, const char* value, RecordingOptions& options,
                         std::string& error)
{
    const std::string option = "--" + name;
    const std::string given = value != nullptr ? value : "";
    auto refuse = [&](const char* takes) {
        error = option + " " + Quoted(given) + " is not usable: give " + takes;
        return false;
    };
    // The picture's own options; --fft, --time and --span shape the station list too.
    const bool spectrumOwn = name == "size" || name == "db" || name == "png";
    const bool analysis = name == "fft" || name == "time" || name == "span";
    if (analysis && options.analysisOption.empty())
        options.analysisOption = option;
    if (spectrumOwn && options.spectrumOption.empty())
        options.spectrumOption = option;
    if (name == "json")
    {
        options.json = true;
        return true;
    }
    if (name == "size" || name == "fft" || name == "db" || name == "time" || name == "span")
    {
        const char* takes = TakeAnalysisOption(name, value, given, options);
        return takes == nullptr || refuse(takes);
    }
    if (name == "png")
    {
        if (given.empty())
            return refuse("a file name, or - for standard output");
        options.png = given;
        options.pngGiven = true;
        return true;
    }
    if (name == "centre")
    {
        double hz = 0.0;
        if (!ParseFrequency(given, hz) || !(hz >= 0.0))
            return refuse("a frequency in Hz, 0 or above, as 7.1M");
        options.centreHz = hz;
        return true;
    }
    if (name == "start")
    {
        double seconds = 0.0;
        if (!ParseUtcTime(given, seconds))
            return refuse("a UTC time as 2024-01-01T12:00:00Z");
        options.startTime = seconds;
        return true;
    }
    if (name == "absolute-frequency")
    {
        double hz = 0.0;
        if (!ParseFrequency(given, hz) || !(hz >= 0.0))
            return refuse("a radio frequency in Hz, as 7.0655M");
        options.absoluteHz = hz;
        return true;
    }
    error = "unknown option " + Quoted(option);
    return false;
}

} // namespace sigrun
