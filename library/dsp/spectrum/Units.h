#pragma once

#include <optional>
#include <string>

// Numbers as people read them on pictures and in lists.
namespace sigkit {

// A frequency in Hz, kHz, MHz or GHz (the largest unit that keeps the number at 1 or more), with
// enough decimals to show `resolutionHz`: FormatHz(7100000, 100) is "7.1000 MHz". A sign on
// positive values when `sign` is set.
std::string FormatHz(double hz, double resolutionHz, bool sign = false);
// The same to the hertz (millihertz below 1 kHz), without trailing zeros: "96 kHz",
// "7.0655 MHz".
std::string FormatHzShort(double hz);
// The unit FormatHz would use for a magnitude, and its size: "kHz", 1000.
const char* HzUnit(double magnitudeHz, double& unitHz);
// Seconds as "2.5 s", "1 min 30 s", "2 h 05 min".
std::string FormatDuration(double seconds);
// A UTC instant as "2024-01-01 12:00:00Z", with `decimals` (0 .. 9) of the second.
std::string FormatUtc(int64_t nanoseconds, int decimals = 0);
// A text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

} // namespace sigkit
