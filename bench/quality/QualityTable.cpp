// The quality table: rate changes, a channel cut and receivers, measured on generated signals
// with our own measurement code, for the kinds of this library and for the peers installed on
// the machine (SoX, scipy, GNU Radio), from the same signals.
//
//   sigkit_quality [--quick] [--case NAME] [--subject NAME] [--json FILE] [--list]
//                  [--work DIR] [--keep] [--python PATH] [--scripts DIR]
//
// --quick sweeps fewer tones and leaves out AM at 30 and 90 %; --case and --subject keep the cases
// or subjects whose name is NAME or contains it (repeatable); --json writes every figure also as
// JSON; --list prints the cases and subjects; --work keeps the exchanged WAV files in DIR (with
// --keep, they stay there).
//
// Adding a row for a new kind
// ---------------------------
// A subject is one function from a float signal to a float signal (Subjects.h):
//
//     struct Subject {
//         std::string name;               // as printed
//         std::vector<Task> tasks;        // Rate, Channel, NarrowFm, WideFm, Am, Usb, Lsb
//         bool complexInput;              // Rate: I/Q signals in (true) or real ones
//         SubjectRun run;                 // Signal (const Signal& input, const Job& job)
//         std::string unavailable;        // not empty: skipped with this note
//     };
//
// `input` holds interleaved float frames at input.rate (input.complex: two channels, I first);
// `job` says what to do: job.outRate (Hz), job.frequency (Hz from the recording's centre: the
// channel or carrier), job.band (Hz), job.deviation (Hz of a full-scale FM tone),
// job.deemphasis (s). Return the output with its rate set (Signal::rate; I/Q: channels 2 and
// complex true); throw std::runtime_error for a failure, which becomes the row's note. For a
// new rate changer at its best quality, append to AllSubjects() in Subjects.cpp:
//
//     Subject s;
//     s.name = "rate best";
//     s.tasks = {Task::Rate};
//     s.complexInput = false; // real audio, like the peers
//     s.run = [](const Signal& in, const Job& job) { return RunMyRate(in, job.outRate, "best"); };
//     all.push_back(s);
//
// and it gets a row in every rate case. A receiver takes the tasks it demodulates ({Task::Am}),
// gets I/Q in and gives mono audio out at job.outRate. Cases are listed in AllCases() in
// Cases.cpp: name, group, scenario (how the signal is made and measured), input rate, the job,
// and the targets by figure key; a new case of an existing scenario is one entry there.
#include "Cases.h"
#include "Report.h"
#include "Subjects.h"
#include "platform/Process.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace sigquality;

struct Options
{
    Settings settings;
    std::vector<std::string> cases;
    std::vector<std::string> subjects;
    std::string json;
    bool list = false;
    PeerSetup setup;
};

bool Selected(const std::string& name, const std::vector<std::string>& wanted)
{
    if (wanted.empty())
        return true;
    for (const std::string& w : wanted)
        if (name == w)
            return true;
    for (const std::string& w : wanted)
        if (name.find(w) != std::string::npos)
            return true;
    return false;
}

int Usage(const char* why)
{
    std::fprintf(stderr,
                 "sigkit_quality: %s\nusage: sigkit_quality [--quick] [--case NAME] "
                 "[--subject NAME] [--json FILE] [--list] [--work DIR] [--keep] [--python PATH] "
                 "[--scripts DIR]\n",
                 why);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    options.setup.scripts = SIGKIT_QUALITY_SCRIPTS;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h")
        {
            std::printf("usage: sigkit_quality [--quick] [--case NAME] [--subject NAME] "
                        "[--json FILE] [--list] [--work DIR] [--keep] [--python PATH] "
                        "[--scripts DIR]\n");
            return 0;
        }
        if (a == "--quick")
            options.settings.quick = true;
        else if (a == "--list")
            options.list = true;
        else if (a == "--keep")
            options.setup.keepFiles = true;
        else if (a == "--case" && hasValue)
            options.cases.push_back(argv[++i]);
        else if (a == "--subject" && hasValue)
            options.subjects.push_back(argv[++i]);
        else if (a == "--json" && hasValue)
            options.json = argv[++i];
        else if (a == "--work" && hasValue)
            options.setup.work = argv[++i];
        else if (a == "--python" && hasValue)
            options.setup.python = argv[++i];
        else if (a == "--scripts" && hasValue)
            options.setup.scripts = argv[++i];
        else
            return Usage(("unknown or incomplete option " + a).c_str());
    }
    std::vector<Case> cases;
    for (const Case& c : AllCases())
        if (Selected(c.name, options.cases) &&
            (c.quick || !options.settings.quick || !options.cases.empty()))
            cases.push_back(c);
    if (cases.empty())
        return Usage("no case matches");

    const bool ownFolder = options.setup.work.empty();
    if (ownFolder)
        options.setup.work = MakeWorkFolder();
    if (options.setup.work.empty() || !std::filesystem::is_directory(options.setup.work))
        return Usage("no work folder");

    std::vector<Subject> subjects;
    for (Subject& s : AllSubjects(options.setup))
        if (Selected(s.name, options.subjects))
            subjects.push_back(std::move(s));

    if (options.list)
    {
        for (const Case& c : cases)
            std::printf("case     %s\n", c.name.c_str());
        for (const Subject& s : subjects)
            std::printf("subject  %-28s %s\n", s.name.c_str(),
                        s.unavailable.empty() ? "" : ("(" + s.unavailable + ")").c_str());
    }
    else
    {
        std::vector<Row> rows;
        for (const Case& c : cases)
            for (const Subject& s : subjects)
            {
                if (!Takes(s, c))
                    continue;
                const auto start = std::chrono::steady_clock::now();
                std::fprintf(stderr, "%-24s %-28s", c.name.c_str(), s.name.c_str());
                rows.push_back(MeasureRow(c, s, options.settings));
                const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
                std::fprintf(stderr, " %6.1f s %s\n", took.count(), rows.back().note.c_str());
            }
        std::printf("Quality table%s: figures measured on generated signals%s\n",
                    options.settings.quick ? " (quick)" : "", " by the table's own tone fits");
        for (const char* group : {"rate", "channel", "receiver"})
        {
            bool any = false;
            for (const Case& c : cases)
                any = any || c.group == group;
            if (any)
                PrintGroup(stdout, group, cases, rows);
        }
        if (!options.json.empty())
        {
            std::string error;
            if (!WriteJson(options.json, cases, rows, options.settings, error))
                std::fprintf(stderr, "sigkit_quality: %s\n", error.c_str());
        }
    }
    if (options.setup.keepFiles)
        std::fprintf(stderr, "sigkit_quality: files kept in %s\n", options.setup.work.c_str());
    else if (ownFolder)
    {
        std::error_code ignored;
        std::filesystem::remove(options.setup.work, ignored);
    }
    return 0;
}
