#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sigrun {

// The options about what a recording holds and where it lies: the spectrum picture and the
// station list, the absolute frequency, and the centre and start time given for files that
// say nothing of them.
struct RecordingOptions
{
    // --spectrum
    int32_t width = 1200; // pixels
    int32_t height = 800;
    int32_t fftSize = 0; // 0: chosen from the band and the width
    bool levelsGiven = false;
    double dbLow = 0.0;
    double dbHigh = 0.0;
    double startSeconds = 0.0; // --time START:LENGTH
    double lengthSeconds = 0.0;
    double spanCentreHz = 0.0; // --span CENTRE:WIDTH, an offset from the recording's centre
    double spanWidthHz = 0.0;
    std::string png; // --png PATH, "-" for standard output
    bool pngGiven = false;
    // --stations
    bool json = false;
    // -F: the frequency moved to 0 Hz as a radio frequency
    std::optional<double> absoluteHz;
    // --centre, --start: for inputs that do not carry them
    std::optional<double> centreHz;
    std::optional<double> startTime; // seconds since 1970-01-01 00:00 UTC
    // The first of the picture's own options given, and of those that shape the analysis of
    // both the picture and the station list (for the refusals of other actions); "" for none.
    std::string spectrumOption;
    std::string analysisOption;
};

// Options that take a value here: "size", "fft", "db", "time", "span", "png", "centre",
// "start", "absolute-frequency"; flags: "json". False with the refusal (naming the option and
// the text).
bool TakeRecordingOption(const std::string& name, const char* value, RecordingOptions& options,
                         std::string& error);

// A frequency in Hz as a real number, with the suffixes k, M and G: "7.0655M", "-12.5k",
// "1.2G". Finite and within +-1e12.
bool ParseFrequency(const std::string& text, double& hertz);

// A UTC time: "2024-01-01T12:00:00Z", "2024-01-01 12:00:00.5", "20240101_120000" (UTC; a "Z"
// may end any of them), as seconds since 1970-01-01 00:00 UTC.
bool ParseUtcTime(const std::string& text, double& seconds);

// A time for messages and --info: "2024-01-01 12:00:00.250 UTC" (milliseconds only when there are
// any).
std::string UtcText(double seconds);
// A radio frequency for messages and --info: "7.1 MHz", "14.074 MHz", "950 kHz", "1.5 GHz".
std::string FrequencyText(double hertz);

} // namespace sigrun
