#include "wav/AuxiChunk.h"

#include "wav/ByteOrder.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

namespace {

constexpr std::size_t kTimeBytes = 16;
constexpr std::size_t kStartAt = 0;
constexpr std::size_t kStopAt = 16;
constexpr std::size_t kCentreAt = 32;
constexpr std::size_t kFieldsAt = 36; // A/D frequency, then the other 32-bit fields in order
constexpr int64_t kNanosecondsPerMillisecond = 1000000;

bool TextBody(const uint8_t* body, std::size_t size)
{
    return size > 0 && body[0] == '<';
}

std::optional<UtcNanoseconds> ReadTime(const uint8_t* p)
{
    bool allZero = true;
    for (std::size_t i = 0; i < kTimeBytes; ++i)
        allZero = allZero && p[i] == 0;
    if (allZero)
        return std::nullopt;
    CivilTime t;
    t.year = LoadU16(p + 0);
    t.month = LoadU16(p + 2);
    // (p + 4: the day of the week, which the date already says)
    t.day = LoadU16(p + 6);
    t.hour = LoadU16(p + 8);
    t.minute = LoadU16(p + 10);
    t.second = LoadU16(p + 12);
    const uint16_t millisecond = LoadU16(p + 14);
    if (millisecond > 999)
        return std::nullopt;
    t.nanosecond = static_cast<int32_t>(millisecond * kNanosecondsPerMillisecond);
    return ToUtc(t);
}

void WriteTime(uint8_t* p, const std::optional<UtcNanoseconds>& instant)
{
    std::fill(p, p + kTimeBytes, uint8_t{0});
    if (!instant.has_value())
        return;
    // To the nearest millisecond, halves up; the rounded instant gives the day of the week too.
    const int64_t half = kNanosecondsPerMillisecond / 2;
    int64_t rounded = 0;
    if (__builtin_add_overflow(*instant, half, &rounded))
        return;
    rounded -= ((rounded % kNanosecondsPerMillisecond) + kNanosecondsPerMillisecond) %
               kNanosecondsPerMillisecond;
    const CivilTime t = ToCivil(rounded);
    if (!ToUtc(t).has_value() || ToUtc(t).value() != rounded)
        return; // outside the years a record can hold
    StoreU16(p + 0, static_cast<uint16_t>(t.year));
    StoreU16(p + 2, static_cast<uint16_t>(t.month));
    StoreU16(p + 4, static_cast<uint16_t>(DayOfWeek(rounded)));
    StoreU16(p + 6, static_cast<uint16_t>(t.day));
    StoreU16(p + 8, static_cast<uint16_t>(t.hour));
    StoreU16(p + 10, static_cast<uint16_t>(t.minute));
    StoreU16(p + 12, static_cast<uint16_t>(t.second));
    StoreU16(p + 14, static_cast<uint16_t>(t.nanosecond / kNanosecondsPerMillisecond));
}

uint32_t* FieldSlot(AuxiFields& f, std::size_t index)
{
    uint32_t* slots[] = {&f.adFrequency, &f.ifFrequency, &f.bandwidth, &f.iqOffset,
                         &f.dbOffset,    &f.maxVal,      &f.unused4,   &f.unused5};
    return slots[index];
}

constexpr std::size_t kFieldCount = 8;

} // namespace

Metadata ReadAuxi(const uint8_t* body, std::size_t size, uint64_t declaredSize)
{
    Metadata m;
    if (body == nullptr || size == 0 || size != declaredSize || declaredSize > kAuxiCapacity)
        return m;
    m.auxiBody.assign(body, body + size);
    if (TextBody(body, size))
        return m;
    if (size >= kStartAt + kTimeBytes && (m.startTime = ReadTime(body + kStartAt)))
        m.startFrom = MetadataSource::Auxi;
    if (size >= kStopAt + kTimeBytes)
        m.stopTime = ReadTime(body + kStopAt);
    if (size >= kCentreAt + 4)
    {
        const uint32_t centre = LoadU32(body + kCentreAt);
        if (centre != 0)
        {
            m.centreHz = static_cast<double>(centre);
            m.centreFrom = MetadataSource::Auxi;
        }
    }
    for (std::size_t i = 0; i < kFieldCount; ++i)
        if (size >= kFieldsAt + 4 * (i + 1))
            *FieldSlot(m.fields, i) = LoadU32(body + kFieldsAt + 4 * i);
    return m;
}

std::vector<uint8_t> ComposeAuxi(const Metadata& metadata)
{
    if (!metadata.Any())
        return {};
    const std::vector<uint8_t>& kept = metadata.auxiBody;
    std::vector<uint8_t> body;
    if (kept.size() >= kAuxiFieldBytes && !TextBody(kept.data(), kept.size()))
        body = kept;
    else
        body.assign(kAuxiWrittenBytes, 0);
    uint8_t* p = body.data();
    WriteTime(p + kStartAt, metadata.startTime);
    WriteTime(p + kStopAt, metadata.stopTime);
    uint32_t centre = 0;
    if (metadata.centreHz.has_value() && *metadata.centreHz >= 0.5 &&
        *metadata.centreHz < 4294967295.5)
        centre = static_cast<uint32_t>(std::llround(*metadata.centreHz));
    StoreU32(p + kCentreAt, centre);
    AuxiFields fields = metadata.fields;
    for (std::size_t i = 0; i < kFieldCount; ++i)
        StoreU32(p + kFieldsAt + 4 * i, *FieldSlot(fields, i));
    return body;
}

bool SetAuxiStop(uint8_t* body, std::size_t size, double seconds)
{
    if (body == nullptr || size < kAuxiFieldBytes || TextBody(body, size) ||
        !std::isfinite(seconds) || std::fabs(seconds) > 9.0e9)
        return false;
    const std::optional<UtcNanoseconds> start = ReadTime(body + kStartAt);
    if (!start.has_value())
        return false;
    int64_t stop = 0;
    if (__builtin_add_overflow(*start, static_cast<int64_t>(std::nearbyint(seconds * 1e9)), &stop))
        return false;
    WriteTime(body + kStopAt, stop);
    return true;
}

} // namespace sigkit
