#pragma once

#include "dsp/spectrum/Waterfall.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace sigkit {

enum class StationKind : int32_t
{
    Unknown,
    Carrier, // one steady line
    Cw,      // one line, keyed on and off
    Am,      // a carrier holding most of the power, sidebands alike on both sides
    Fm,      // wide, no dominant carrier, alike on both sides
};

// "carrier", "CW", "AM", "FM", or "" for Unknown.
const char* KindName(StationKind kind);

struct Station
{
    double offsetHz = 0.0; // from the recording's 0 Hz: the carrier, else the band's centre
    double lowHz = 0.0;    // the occupied band (99 % of the station's power), offsets
    double highHz = 0.0;
    double bandwidthHz = 0.0;
    double levelDbfs = 0.0;    // the station's power (the noise under it taken off)
    double peakDbfs = 0.0;     // its strongest bin
    double aboveFloorDb = 0.0; // its strongest bin over the noise floor
    StationKind kind = StationKind::Unknown;
};

struct StationSearch
{
    int32_t maxStations = 20;
    // The band searched, offsets from 0 Hz; NaN: all of it.
    double lowHz = std::numeric_limits<double>::quiet_NaN();
    double highHz = std::numeric_limits<double>::quiet_NaN();
    // How far above the noise floor a bin must stand to count; 0: chosen from the averaging, so
    // that noise alone is found in fewer than one search in a hundred (at least 6 dB).
    double minAboveFloorDb = 0.0;
};

struct StationList
{
    double floorDbfs = 0.0;   // the noise floor, per bin
    double thresholdDb = 0.0; // over the floor: what counted as a signal
    double binHz = 0.0;
    bool complex = true;           // offsets either side of 0 Hz (I/Q), else from 0 Hz up
    std::vector<Station> stations; // the strongest first
};

// The stations of an averaged spectrum. Bins standing above the noise floor by the threshold
// form regions; regions close together, and lines spaced evenly and alike on both sides of their
// middle (the sidebands of a tone), form one station. The kind is guessed where it is clear: one
// line (steady: a carrier, varying over time: CW), a dominant carrier in the middle of sidebands
// alike on both sides (AM), a wide band alike on both sides with no dominant carrier (FM).
StationList FindStations(const Spectra& spectra, const StationSearch& search = {});

// One line per station (frequency: absolute when the centre is known, else the offset; level,
// over the floor, bandwidth, kind), behind a header line that names the file and the floor.
std::string StationsText(const StationList& list, const std::optional<double>& centreHz,
                         const std::string& name);
// The same as a JSON object: {"file", "centre_hz" (null when unknown), "noise_floor_dbfs",
// "bin_hz", "stations": [{"frequency_hz" (null when unknown), "offset_hz", "level_dbfs",
// "peak_dbfs", "above_floor_db", "bandwidth_hz", "low_hz", "high_hz", "kind"}]}.
std::string StationsJson(const StationList& list, const std::optional<double>& centreHz,
                         const std::string& name);

} // namespace sigkit
