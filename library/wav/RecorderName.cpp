#include "wav/RecorderName.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

namespace sigkit {

namespace {

// Frequencies beyond this are no recording's centre.
constexpr double kMaxCentreHz = 1e12;

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

bool Alnum(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// The file name without its folder and its extension.
std::string BaseName(const char* path)
{
    std::string name = path != nullptr ? path : "";
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot + 1 < name.size())
    {
        bool letters = true;
        for (std::size_t i = dot + 1; i < name.size(); ++i)
            letters = letters && std::isalpha(static_cast<unsigned char>(name[i])) != 0;
        if (letters)
            name.erase(dot);
    }
    return name;
}

// Reads `count` digits at `at` as a number; false when they are not all digits.
bool Digits(const std::string& s, std::size_t at, std::size_t count, int32_t& value)
{
    if (at + count > s.size())
        return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        if (!Digit(s[at + i]))
            return false;
        value = value * 10 + (s[at + i] - '0');
    }
    return true;
}

// A frequency with its unit starting at `at`: digits, at most one decimal point (or comma),
// an optional space, then Hz, kHz, MHz or GHz, and no letter behind.
bool FrequencyAt(const std::string& s, std::size_t at, double& hz)
{
    std::size_t i = at;
    double whole = 0.0;
    double fraction = 0.0;
    double scale = 1.0;
    bool point = false;
    std::size_t digits = 0;
    for (; i < s.size(); ++i)
    {
        const char c = s[i];
        if (Digit(c))
        {
            ++digits;
            if (point)
            {
                scale /= 10.0;
                fraction += (c - '0') * scale;
            }
            else
                whole = whole * 10.0 + (c - '0');
        }
        else if ((c == '.' || c == ',') && !point && i + 1 < s.size() && Digit(s[i + 1]))
            point = true;
        else
            break;
    }
    if (digits == 0 || digits > 15)
        return false;
    if (i < s.size() && s[i] == ' ')
        ++i;
    double unit = 0.0;
    std::size_t unitLength = 0;
    const auto unitIs = [&](const char* word) {
        const std::size_t n = std::strlen(word);
        if (i + n > s.size())
            return false;
        for (std::size_t k = 0; k < n; ++k)
            if (Lower(s[i + k]) != word[k])
                return false;
        unitLength = n;
        return true;
    };
    if (unitIs("ghz"))
        unit = 1e9;
    else if (unitIs("mhz"))
        unit = 1e6;
    else if (unitIs("khz"))
        unit = 1e3;
    else if (unitIs("hz"))
        unit = 1.0;
    else
        return false;
    const std::size_t end = i + unitLength;
    if (end < s.size() && std::isalpha(static_cast<unsigned char>(s[end])))
        return false;
    hz = (whole + fraction) * unit;
    // Whole hertz: the names round, and a value like 14.074 MHz is meant exactly.
    hz = std::nearbyint(hz);
    return hz > 0.0 && hz < kMaxCentreHz;
}

// A date: YYYYMMDD or YYYY-MM-DD. Result: its length, 0 when none.
std::size_t DateAt(const std::string& s, std::size_t at, CivilTime& t)
{
    if (Digits(s, at, 4, t.year) && Digits(s, at + 4, 2, t.month) && Digits(s, at + 6, 2, t.day))
        return 8;
    if (Digits(s, at, 4, t.year) && at + 4 < s.size() && s[at + 4] == '-' &&
        Digits(s, at + 5, 2, t.month) && at + 7 < s.size() && s[at + 7] == '-' &&
        Digits(s, at + 8, 2, t.day))
        return 10;
    return 0;
}

// A time of day: HHMMSS or HH?MM?SS with one of "-", ".", ":" as ?, then an optional fraction of
// a second (after the undotted forms) and an optional Z. Result: its length, 0 when none.
std::size_t TimeAt(const std::string& s, std::size_t at, CivilTime& t, bool& utc)
{
    std::size_t n = 0;
    bool dotted = false;
    if (Digits(s, at, 2, t.hour) && Digits(s, at + 2, 2, t.minute) &&
        Digits(s, at + 4, 2, t.second))
        n = 6;
    else if (Digits(s, at, 2, t.hour) && at + 2 < s.size() &&
             std::strchr("-.:", s[at + 2]) != nullptr && s[at + 2] != '\0' &&
             Digits(s, at + 3, 2, t.minute) && at + 5 < s.size() && s[at + 5] == s[at + 2] &&
             Digits(s, at + 6, 2, t.second))
    {
        n = 8;
        dotted = s[at + 2] == '.';
    }
    else
        return 0;
    t.nanosecond = 0;
    if (!dotted && at + n + 1 < s.size() && s[at + n] == '.' && Digit(s[at + n + 1]))
    {
        std::size_t i = at + n + 1;
        int32_t scale = 100000000;
        for (; i < s.size() && Digit(s[i]); ++i)
        {
            t.nanosecond += (s[i] - '0') * scale;
            scale /= 10;
        }
        n = i - at;
    }
    utc = at + n < s.size() && (s[at + n] == 'Z' || s[at + n] == 'z');
    if (utc)
        ++n;
    return n;
}

bool TimeFromName(const std::string& s, UtcNanoseconds& instant, bool& utc)
{
    for (std::size_t at = 0; at < s.size(); ++at)
    {
        if (!Digit(s[at]) || (at > 0 && Digit(s[at - 1])))
            continue;
        CivilTime t;
        const std::size_t date = DateAt(s, at, t);
        if (date == 0)
            continue;
        const std::size_t sep = at + date;
        if (sep >= s.size() || std::strchr("_- Tt", s[sep]) == nullptr)
            continue;
        const std::size_t time = TimeAt(s, sep + 1, t, utc);
        if (time == 0)
            continue;
        const std::size_t end = sep + 1 + time;
        if (end < s.size() && Digit(s[end]))
            continue;
        const std::optional<UtcNanoseconds> made = ToUtc(t);
        if (!made.has_value() || t.year < 1980)
            continue;
        instant = *made;
        return true;
    }
    return false;
}

bool CentreFromName(const std::string& s, double& hz)
{
    for (std::size_t at = 0; at < s.size(); ++at)
    {
        if (!Digit(s[at]) || (at > 0 && (Alnum(s[at - 1]) || s[at - 1] == '.')))
            continue;
        if (FrequencyAt(s, at, hz))
            return true;
    }
    return false;
}

// True when a word of the name (between "_", "-", " " or the ends) is "AF".
bool AudioName(const std::string& s)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i)
    {
        if (i == s.size() || s[i] == '_' || s[i] == '-' || s[i] == ' ')
        {
            if (i - start == 2 && Lower(s[start]) == 'a' && Lower(s[start + 1]) == 'f')
                return true;
            start = i + 1;
        }
    }
    return false;
}

} // namespace

Metadata MetadataFromName(const char* path)
{
    Metadata m;
    const std::string name = BaseName(path);
    double hz = 0.0;
    if (!AudioName(name) && CentreFromName(name, hz))
    {
        m.centreHz = hz;
        m.centreFrom = MetadataSource::FileName;
    }
    UtcNanoseconds start = 0;
    bool utc = false;
    if (TimeFromName(name, start, utc))
    {
        m.startTime = start;
        m.startFrom = MetadataSource::FileName;
        m.startZoneAssumed = !utc;
    }
    return m;
}

Metadata CombineWithName(const Metadata& fromAuxi, const char* path)
{
    Metadata m = fromAuxi;
    if (m.centreHz.has_value() && m.startTime.has_value())
        return m;
    const Metadata named = MetadataFromName(path);
    if (!m.centreHz.has_value() && named.centreHz.has_value())
    {
        m.centreHz = named.centreHz;
        m.centreFrom = named.centreFrom;
    }
    if (!m.startTime.has_value() && named.startTime.has_value())
    {
        m.startTime = named.startTime;
        m.startFrom = named.startFrom;
        m.startZoneAssumed = named.startZoneAssumed;
    }
    return m;
}

} // namespace sigkit
