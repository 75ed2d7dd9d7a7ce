#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// What a recording says about itself beyond its sample format: the radio frequency at its 0 Hz
// (the centre of an I/Q recording), when its first sample was taken, and the rest of what its
// recorder stored. Read from the "auxi" chunk that SDR recorders write, or from the common forms
// of their file names; carried into outputs, moved as the processing moves the band and the time.
namespace sigkit {

// A UTC instant: nanoseconds since 1970-01-01 00:00:00 UTC (no leap seconds), so that a start time
// advanced by a few samples keeps its sub-millisecond part.
using UtcNanoseconds = int64_t;
inline constexpr int64_t kNanosecondsPerSecond = 1000000000;

// A calendar date and time of day, UTC.
struct CivilTime
{
    int32_t year = 1970;
    int32_t month = 1; // 1 .. 12
    int32_t day = 1;   // 1 .. 31
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t nanosecond = 0; // 0 .. 999999999
};

// Proleptic Gregorian calendar both ways. A field out of its range, or a time outside what 64 bits
// of nanoseconds hold (1677 .. 2262), gives no instant.
std::optional<UtcNanoseconds> ToUtc(const CivilTime& time);
CivilTime ToCivil(UtcNanoseconds instant);
// 0 Sunday .. 6 Saturday, as the recorders' time record counts.
int32_t DayOfWeek(UtcNanoseconds instant);

enum class MetadataSource : int32_t
{
    None,
    Auxi,     // the file's auxi chunk
    FileName, // the recorder's file name
    Given,    // set by the caller (a command-line option)
};

// The fields of the recorders' auxi chunk that this system does not interpret, as the file holds
// them (Hz where they are frequencies).
struct AuxiFields
{
    uint32_t adFrequency = 0; // the A/D converter's rate before any decimation in the recorder
    uint32_t ifFrequency = 0; // the IF of an external down-converter
    uint32_t bandwidth = 0;   // the band worth displaying, below the rate
    uint32_t iqOffset = 0;
    uint32_t dbOffset = 0;
    uint32_t maxVal = 0;
    uint32_t unused4 = 0;
    uint32_t unused5 = 0;
};

struct Metadata
{
    std::optional<double> centreHz;          // the radio frequency at 0 Hz of the recording
    std::optional<UtcNanoseconds> startTime; // the first sample
    std::optional<UtcNanoseconds> stopTime;  // the end, as the recorder stored it
    MetadataSource centreFrom = MetadataSource::None;
    MetadataSource startFrom = MetadataSource::None;
    // A file name's time without a "Z": taken as UTC, though the recorder may have meant its
    // local time.
    bool startZoneAssumed = false;
    AuxiFields fields;
    // The auxi body as the file held it (bytes past the known fields included), so that an
    // output keeps every byte this system does not interpret; empty when there was none, or when
    // it was too long to keep whole.
    std::vector<uint8_t> auxiBody;

    // True when there is anything to carry into an output.
    bool Any() const;
};

// --- metadata that follows the processing --------------------------------------------------------

// The frequency that lay at offset shiftHz in the input lies at 0 Hz in the output (a frequency
// shift, a channel selection): the centre moves by the shift.
Metadata ShiftCentre(const Metadata& in, double shiftHz);
// frames input samples were dropped before the output's first one (a start-up discarded, a time
// span): the start time moves by frames / rate.
Metadata AdvanceStart(const Metadata& in, double frames, double rateHz);
// The output holds rateOut samples a second and keeps bandwidthHz of the input's band (0: all that
// the output rate holds: rateOut for I/Q, rateOut / 2 for real samples). The recorders' bandwidth
// field becomes the narrower of what the input kept and what the output holds; the A/D field,
// where it named the input's rate, names the output's.
Metadata ChangeRate(const Metadata& in, double rateIn, double rateOut, bool complexOut,
                    double bandwidthHz = 0.0);

// Everything one processing run does to the band and the time.
struct OutputChange
{
    double shiftHz = 0.0;       // the input offset at 0 Hz in the output
    double rateIn = 0.0;        // Hz
    double rateOut = 0.0;       // Hz; 0: as rateIn
    bool complexOut = true;     // the output holds I/Q pairs
    double bandwidthHz = 0.0;   // the band kept; 0: what the output rate holds
    double droppedFrames = 0.0; // input frames before the output's first sample
};
Metadata DeriveOutput(const Metadata& in, const OutputChange& change);

} // namespace sigkit
