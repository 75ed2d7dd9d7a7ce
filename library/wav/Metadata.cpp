#include "wav/Metadata.h"

#include <cmath>

namespace sigkit {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (the year taken to start in March, so that
// the leap day ends it).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool LeapYear(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t DaysInMonth(int64_t year, int64_t month)
{
    constexpr int64_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : days[month - 1];
}

// Floor division and its remainder for a positive divisor.
int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

uint32_t WholeHz(double hz)
{
    if (!(hz > 0.0))
        return 0;
    if (hz >= 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<uint32_t>(std::llround(hz));
}

} // namespace

std::optional<UtcNanoseconds> ToUtc(const CivilTime& t)
{
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
        t.minute > 59 || t.second < 0 || t.second > 59 || t.nanosecond < 0 ||
        t.nanosecond >= kNanosecondsPerSecond)
        return std::nullopt;
    const int64_t days = DaysFromCivil(t.year, t.month, t.day);
    const int64_t seconds = days * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
    // Nanoseconds in 64 bits reach from 1677 to 2262.
    int64_t instant = 0;
    if (__builtin_mul_overflow(seconds, kNanosecondsPerSecond, &instant) ||
        __builtin_add_overflow(instant, static_cast<int64_t>(t.nanosecond), &instant))
        return std::nullopt;
    return instant;
}

CivilTime ToCivil(UtcNanoseconds instant)
{
    const int64_t seconds = FloorDiv(instant, kNanosecondsPerSecond);
    int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const int64_t secondOfDay = seconds - days * kSecondsPerDay;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    CivilTime t;
    t.day = static_cast<int32_t>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    t.month = static_cast<int32_t>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    t.year = static_cast<int32_t>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int32_t>(secondOfDay / 3600);
    t.minute = static_cast<int32_t>(secondOfDay / 60 % 60);
    t.second = static_cast<int32_t>(secondOfDay % 60);
    t.nanosecond = static_cast<int32_t>(instant - seconds * kNanosecondsPerSecond);
    return t;
}

int32_t DayOfWeek(UtcNanoseconds instant)
{
    // 1970-01-01 was a Thursday.
    const int64_t days = FloorDiv(FloorDiv(instant, kNanosecondsPerSecond), kSecondsPerDay);
    return static_cast<int32_t>(((days % 7) + 7 + 4) % 7);
}

bool Metadata::Any() const
{
    const AuxiFields none;
    return centreHz.has_value() || startTime.has_value() || stopTime.has_value() ||
           !auxiBody.empty() || fields.adFrequency != none.adFrequency ||
           fields.ifFrequency != none.ifFrequency || fields.bandwidth != none.bandwidth ||
           fields.iqOffset != none.iqOffset || fields.dbOffset != none.dbOffset ||
           fields.maxVal != none.maxVal || fields.unused4 != none.unused4 ||
           fields.unused5 != none.unused5;
}

Metadata ShiftCentre(const Metadata& in, double shiftHz)
{
    Metadata out = in;
    if (out.centreHz.has_value() && std::isfinite(shiftHz))
        out.centreHz = *out.centreHz + shiftHz;
    return out;
}

Metadata AdvanceStart(const Metadata& in, double frames, double rateHz)
{
    Metadata out = in;
    if (!out.startTime.has_value() || !(rateHz > 0.0) || !std::isfinite(frames) ||
        !std::isfinite(rateHz))
        return out;
    const double nanoseconds = std::nearbyint(frames / rateHz * 1e9);
    // Beyond about 290 years the instant would not fit; such a time says nothing anyway.
    if (std::fabs(nanoseconds) > 9.0e18)
        return out;
    int64_t moved = 0;
    if (!__builtin_add_overflow(*out.startTime, static_cast<int64_t>(nanoseconds), &moved))
        out.startTime = moved;
    return out;
}

Metadata ChangeRate(const Metadata& in, double rateIn, double rateOut, bool complexOut,
                    double bandwidthHz)
{
    Metadata out = in;
    // A recording that said nothing still says nothing: outputs get an auxi chunk only when
    // there is metadata to carry.
    if (!in.Any() || !(rateOut > 0.0) || !std::isfinite(rateOut))
        return out;
    const double held = complexOut ? rateOut : rateOut / 2.0;
    double kept =
        bandwidthHz > 0.0 && std::isfinite(bandwidthHz) ? std::fmin(bandwidthHz, held) : held;
    if (in.fields.bandwidth != 0)
        kept = std::fmin(kept, static_cast<double>(in.fields.bandwidth));
    out.fields.bandwidth = WholeHz(kept);
    if (in.fields.adFrequency != 0 && in.fields.adFrequency == WholeHz(rateIn))
        out.fields.adFrequency = WholeHz(rateOut);
    return out;
}

Metadata DeriveOutput(const Metadata& in, const OutputChange& change)
{
    const double rateOut = change.rateOut > 0.0 ? change.rateOut : change.rateIn;
    Metadata out = ShiftCentre(in, change.shiftHz);
    out = AdvanceStart(out, change.droppedFrames, change.rateIn);
    return ChangeRate(out, change.rateIn, rateOut, change.complexOut, change.bandwidthHz);
}

} // namespace sigkit
