#pragma once

// The cases of the quality table and how each row of figures is measured: what signal a case
// generates, what it asks a subject to do with it, which figures it takes from the output, and
// the targets set for them.
#include "Subjects.h"

#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace sigquality {

// How a case's signals are made and measured.
enum class Scenario
{
    Rate,       // a probe, a 1 kHz tone and swept tones through a rate change
    Channel,    // a probe, tones across the band and a neighbour on either side
    FmTone,     // one FM station: a probe, 1 kHz and 100 Hz, each at the full deviation
    FmPilot,    // one FM station: 1 kHz and 38 kHz together, each at 45 % of the deviation
    FmStations, // three FM stations in noise, 20 dB of carrier to noise per 200 kHz
    AmTone,     // one AM station: a probe, 1 kHz and 100 Hz, each at the case's depth
    AmAdjacent, // the wanted AM station and one 10 kHz above it, 10 dB stronger
    Sideband,   // a tone 1 kHz on the chosen side of the carrier, one 1.7 kHz on the other
    Cw,         // a carrier (700 Hz beat) and another 600 Hz above it, outside the filter
};

// A target in words, and whether a figure meets it (none: stated in words only).
struct Target
{
    std::string text;
    std::function<bool(double)> met;
};

Target AtMost(double limit);
Target AtLeast(double limit);
Target Within(double centre, double tolerance);
Target InWords(const std::string& text);

struct Case
{
    std::string name;  // as printed, and as --case selects it
    std::string group; // the table it is printed in: "rate", "channel" or "receiver"
    Scenario scenario = Scenario::Rate;
    double inRate = 0.0; // Hz
    Job job;
    double depth = 0.0;     // AM modulation depth
    double neighbour = 0.0; // Hz from the wanted channel or carrier, where the case has one
    std::map<std::string, Target> targets; // by figure key
    bool quick = true;                     // run by --quick too (unless named with --case)
};

struct Figure
{
    double value = std::numeric_limits<double>::quiet_NaN();
    std::string text; // printed instead of the value when set (a bound: "> 0.995")
};

struct Row
{
    std::string caseName;
    std::string subject;
    std::map<std::string, Figure> figures; // by key
    std::string note;                      // skipped, failed, or what the figures assume
};

struct Column
{
    std::string key;
    std::string header; // two words at most: printed over two lines
    int decimals = 1;
};

std::vector<Case> AllCases();
const std::vector<Column>& ColumnsOf(const std::string& group);
// A short legend of the group's figures, printed under its table.
const char* LegendOf(const std::string& group);

// Whether the subject does what the case asks.
bool Takes(const Subject& subject, const Case& c);

struct Settings
{
    bool quick = false; // fewer swept tones, in-band tones and stop-band tones
};

// Generates the case's signals in the subject's form, runs the subject and measures the output.
// A subject that fails gives a row with a note and no figures.
Row MeasureRow(const Case& c, const Subject& subject, const Settings& settings);

} // namespace sigquality
