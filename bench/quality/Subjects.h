#pragma once

// The implementations the quality table measures. Each is one function from a float signal
// (real or interleaved I/Q, its channels, its rate) to a float signal at the output rate, told
// what to do by a Job. The original kinds run in this process through their exports; the peers
// (SoX, scipy, GNU Radio) run as processes on float WAV files, and a peer that is not installed
// is listed with the reason its rows are skipped.
#include "Signal.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace sigquality {

enum class Task
{
    Rate,     // change the sample rate; no shift
    Channel,  // shift `frequency` to 0 Hz, keep `band`, decimate to the output rate (I/Q out)
    NarrowFm, // receivers: mono audio at the output rate from the station at `frequency`
    WideFm,
    Am,
    Usb,
    Lsb,
    Cw, // a carrier at `frequency` as a 700 Hz beat tone, `band` Hz kept around it
};

inline const char* TaskName(Task task)
{
    switch (task)
    {
    case Task::Rate:
        return "rate";
    case Task::Channel:
        return "channel";
    case Task::NarrowFm:
        return "nbfm";
    case Task::WideFm:
        return "wfm";
    case Task::Am:
        return "am";
    case Task::Usb:
        return "usb";
    case Task::Lsb:
        return "lsb";
    case Task::Cw:
        return "cw";
    }
    return "?";
}

// What a case asks of a subject.
struct Job
{
    Task task = Task::Rate;
    double outRate = 48000.0; // Hz
    double frequency = 0.0;   // Hz from the recording's centre: channel centre or carrier
    double band = 0.0;        // Hz, channel width (0: the kind's default)
    double deviation = 0.0;   // Hz, FM: the deviation of a full-scale tone
    double deemphasis = 0.0;  // s, FM: de-emphasis time constant, 0 for none
};

// Turns an input into an output; throws std::runtime_error with a short reason on failure.
using SubjectRun = std::function<Signal(const Signal& input, const Job& job)>;

struct Subject
{
    std::string name;
    std::vector<Task> tasks;   // what it does
    bool complexInput = false; // Rate: takes I/Q signals (true) or real ones; others take I/Q
    SubjectRun run;
    std::string unavailable; // not empty: its rows are skipped with this note

    bool Does(Task task) const
    {
        return std::find(tasks.begin(), tasks.end(), task) != tasks.end();
    }
};

// Where the peers' programs and scripts are, and where their files go.
struct PeerSetup
{
    std::string python = "/usr/bin/python3";
    std::string scripts;    // folder of scipy_peer.py and gr_peer.py
    std::string work;       // folder for the exchanged WAV files
    bool keepFiles = false; // leave them there
};

// Every subject: the original kinds first, then the peers (checked for being installed). Defined
// with the program, which links the library's kinds.
std::vector<Subject> AllSubjects(const PeerSetup& setup);

} // namespace sigquality
