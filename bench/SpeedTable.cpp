// One table: the stages on the peers' workloads in process from memory at "Low", "Medium" and
// "High", each on every kernel variant the processor runs and on the dispatcher's own choice;
// the same workloads through `sigrun` as a whole process on generated 16-bit files with the
// process's peak resident memory (also for a 10 MB and a 1 GB input); the time Start takes to
// design the filters; the processor's ceiling measured in the same run, and every figure as a
// share of it; sigrun on one thread and on two, free to use every processor, in wall-clock and
// CPU time. When the peers' benchmark has run (../shared/peers/run.sh), its GNU Radio and SoX
// figures are read from its cache and each row gets its ratio and the target for it.
//
//   sigkit_speed [--rounds N] [--seconds S] [--cpu K] [--in-process-only] [--no-1g]
//                [--peers DIR] [--work DIR] [--only WORKLOAD] [--variants LIST]
//
// A variant is forced as any program forces it, by SIGKIT_ISA: each round runs every variant in a
// process of its own (this program again, with --child), one after the other. Every figure is the
// median over N interleaved rounds (default 5) of one timed run each, in thread CPU time (a whole
// process: its user + system time), on one pinned core.
#include "Workloads.h"

#include "dsp/fft/FftKernels.h"
#include "stages/demod/DemodKernels.h"
#include "stages/kernels/Kernels.h"

#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

using namespace sigbench;

struct Options
{
    int rounds = 5;
    double seconds = 0.15;
    int cpu = -1;
    bool wholeProcess = true;
    bool bigFile = true;
    std::string peers;
    std::string work;
    std::string only; // run only the rows of this workload key
    // "scalar", "avx2", "avx512" (those the processor runs) and "auto" (the dispatcher's choice).
    std::vector<std::string> variants;
    bool child = false; // one round of the in-process rows under this process's SIGKIT_ISA
};

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// ---- The ceiling: multiply-adds per second of one core with its widest vector unit.

#if defined(__x86_64__) || defined(__i386__)
// 16 independent chains of fused multiply-adds, 16 lanes each.
__attribute__((target("avx512f"))) double PeakAvx512(long iterations)
{
    __m512 acc[16];
    for (auto& a : acc)
        a = _mm512_setzero_ps();
    const __m512 x = _mm512_set1_ps(0.999f);
    const __m512 y = _mm512_set1_ps(1e-7f);
    for (long i = 0; i < iterations; ++i)
        for (auto& a : acc)
            a = _mm512_fmadd_ps(a, x, y);
    alignas(64) float lanes[16];
    float sink = 0.0f;
    for (auto& a : acc)
    {
        _mm512_store_ps(lanes, a);
        sink += lanes[0];
    }
    volatile float keep = sink;
    (void)keep;
    return 16.0 * 16.0 * static_cast<double>(iterations);
}

__attribute__((target("avx2,fma"))) double PeakAvx2(long iterations)
{
    __m256 acc[12];
    for (auto& a : acc)
        a = _mm256_setzero_ps();
    const __m256 x = _mm256_set1_ps(0.999f);
    const __m256 y = _mm256_set1_ps(1e-7f);
    for (long i = 0; i < iterations; ++i)
        for (auto& a : acc)
            a = _mm256_fmadd_ps(a, x, y);
    alignas(32) float lanes[8];
    float sink = 0.0f;
    for (auto& a : acc)
    {
        _mm256_store_ps(lanes, a);
        sink += lanes[0];
    }
    volatile float keep = sink;
    (void)keep;
    return 12.0 * 8.0 * static_cast<double>(iterations);
}
#endif

// Separate multiplies and adds in plain code (what any processor without a vector unit does).
double PeakPlain(long iterations)
{
    float acc[8] = {};
    for (long i = 0; i < iterations; ++i)
        for (float& a : acc)
            a = a * 0.999f + 1e-7f;
    volatile float keep = acc[0];
    (void)keep;
    return 8.0 * static_cast<double>(iterations);
}

struct Ceiling
{
    const char* unit = "scalar";
    double macs = 0.0; // per second
};

Ceiling MeasureCeiling(int rounds)
{
    double (*probe)(long) = PeakPlain;
    const char* unit = "scalar";
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
    {
        probe = PeakAvx512;
        unit = "AVX-512 FMA";
    }
    else if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
    {
        probe = PeakAvx2;
        unit = "AVX2 FMA";
    }
#endif
    std::vector<double> rates;
    for (int r = 0; r < rounds; ++r)
    {
        const long iterations = 4000000;
        const double start = ThreadSeconds();
        const double macs = probe(iterations);
        rates.push_back(macs / (ThreadSeconds() - start));
    }
    return {unit, Median(rates)};
}

// ---- In-process rows.

struct Row
{
    std::string section;
    std::string workload;
    int N = 0;
    std::string quality;
    std::string what;
    double macsPerInput = 0.0;
    std::vector<double> figures; // Msps (or ms for design rows) per round
    double rssKiB = 0.0;
    std::string peerKey; // workload key in the peers' table
    std::string variant; // the SIGKIT_ISA word the row ran under, "auto" for none
};

// One workload through sigrun on one thread and on two, on every processor.
struct ThreadRow
{
    std::string workload;
    int N = 0;
    std::string file;
    std::string output; // removed before each run
    std::string answers;
    double frames = 0.0;
    std::vector<double> wall[2]; // seconds per round, one thread and two
    std::vector<double> cpu[2];
};

// The load averages of the machine, as /proc/loadavg gives them.
std::string LoadAverages()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct InProcess
{
    Workload workload;
    int quality;
    std::unique_ptr<sigkit::Stage> stage;
    std::size_t next = 0;
    std::size_t blocks = 16; // per timing check, adjusted to the rate
};

const std::vector<float>& Input(bool complexInput)
{
    // 1 Mi samples, cycled: the same amount of data the peers cycle through.
    static const std::vector<float> complexSignal = ComplexSignal(1u << 20);
    static const std::vector<float> realSignal = RealSignal(1u << 20);
    return complexInput ? complexSignal : realSignal;
}

double TimeInProcess(InProcess& run, double seconds)
{
    const bool complexInput = ComplexInput(run.workload);
    const std::vector<float>& input = Input(complexInput);
    long long blocks = 0;
    long long sink = 0;
    const double start = ThreadSeconds();
    double elapsed = 0.0;
    do
    {
        sink += Stream(*run.stage, input, complexInput, run.next, run.blocks);
        run.next += run.blocks;
        blocks += static_cast<long long>(run.blocks);
        elapsed = ThreadSeconds() - start;
    } while (elapsed < seconds);
    volatile long long keep = sink;
    (void)keep;
    return static_cast<double>(blocks) * kBlockSamples / elapsed / 1e6;
}

// ---- Whole-process rows: sigrun on a generated WAV file.

// 16-bit PCM, interleaved channels: tones and a little noise at about a third of full scale.
bool WriteWav(const std::string& path, uint32_t rate, int channels, uint64_t frames)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const uint64_t dataBytes = frames * static_cast<uint64_t>(channels) * 2;
    const auto put32 = [&](uint32_t v) {
        const unsigned char b[4] = {
            static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        std::fwrite(b, 1, 4, file);
    };
    const auto put16 = [&](uint16_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v),
                                    static_cast<unsigned char>(v >> 8)};
        std::fwrite(b, 1, 2, file);
    };
    std::fwrite("RIFF", 1, 4, file);
    put32(static_cast<uint32_t>(36 + dataBytes));
    std::fwrite("WAVEfmt ", 1, 8, file);
    put32(16);
    put16(1);
    put16(static_cast<uint16_t>(channels));
    put32(rate);
    put32(rate * static_cast<uint32_t>(channels) * 2);
    put16(static_cast<uint16_t>(channels * 2));
    put16(16);
    std::fwrite("data", 1, 4, file);
    put32(static_cast<uint32_t>(dataBytes));
    // One period of a pattern, repeated: the file writes at disk speed.
    const std::size_t period = 1u << 16;
    std::vector<int16_t> pattern(period * static_cast<std::size_t>(channels));
    unsigned state = 99u;
    for (std::size_t i = 0; i < period; ++i)
    {
        const auto t = static_cast<double>(i);
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 200.0;
        const double I = 6000 * std::cos(2 * M_PI * 1024 * t / period) +
                         4000 * std::cos(2 * M_PI * 7168 * t / period);
        const double Q = 6000 * std::sin(2 * M_PI * 1024 * t / period) +
                         4000 * std::sin(2 * M_PI * 7168 * t / period);
        pattern[i * channels] = static_cast<int16_t>(std::lrint(I + noise));
        if (channels == 2)
            pattern[i * channels + 1] = static_cast<int16_t>(std::lrint(Q - noise));
    }
    bool ok = true;
    for (uint64_t done = 0; done < frames && ok;)
    {
        const uint64_t n = std::min<uint64_t>(period, frames - done);
        ok = std::fwrite(pattern.data(), static_cast<std::size_t>(channels) * 2, n, file) == n;
        done += n;
    }
    return std::fclose(file) == 0 && ok;
}

struct ProcessResult
{
    bool ok = false;
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0; // from the fork to the end of the process
    double rssKiB = 0.0;
};

// sigrun is started by a small process forked before this one grows: a child's peak resident
// memory counts the memory it had before exec, which for a child of this process would be the
// benchmark's own.
struct Spawner
{
    int requests = -1;
    int replies = -1;
};
Spawner spawner;

ProcessResult RunSigrunHere(const std::string& file, const std::string& answers,
                            const std::string& variant, const std::string& threads);

// In a child about to run a program: SIGKIT_ISA as the variant says ("auto": unset).
void UseVariant(const std::string& variant)
{
    if (variant == "auto")
        unsetenv(sigkit::kernels::kIsaVariable);
    else
        setenv(sigkit::kernels::kIsaVariable, variant.c_str(), 1);
}

bool ReadAll(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0)
    {
        const ssize_t got = read(fd, bytes, size);
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0)
    {
        const ssize_t put = write(fd, bytes, size);
        if (put <= 0)
            return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

void StartSpawner()
{
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0)
        return;
    const pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0)
    {
        close(toChild[1]);
        close(fromChild[0]);
        for (;;)
        {
            uint32_t sizes[4];
            if (!ReadAll(toChild[0], sizes, sizeof sizes))
                _exit(0);
            std::string file(sizes[0], '\0');
            std::string answers(sizes[1], '\0');
            std::string variant(sizes[2], '\0');
            std::string threads(sizes[3], '\0');
            if (!ReadAll(toChild[0], file.data(), file.size()) ||
                !ReadAll(toChild[0], answers.data(), answers.size()) ||
                !ReadAll(toChild[0], variant.data(), variant.size()) ||
                !ReadAll(toChild[0], threads.data(), threads.size()))
                _exit(0);
            const ProcessResult result = RunSigrunHere(file, answers, variant, threads);
            if (!WriteAll(fromChild[1], &result, sizeof result))
                _exit(0);
        }
    }
    close(toChild[0]);
    close(fromChild[1]);
    spawner.requests = toChild[1];
    spawner.replies = fromChild[0];
}

// threads: "" runs sigrun pinned as this process is, with its own choice of threads; "1" or "2"
// force that many (SIGKIT_THREADS) and let it run on every processor.
ProcessResult RunSigrun(const std::string& file, const std::string& answers,
                        const std::string& variant = "auto", const std::string& threads = "")
{
    ProcessResult result;
    if (spawner.requests < 0)
        return RunSigrunHere(file, answers, variant, threads);
    const uint32_t sizes[4] = {
        static_cast<uint32_t>(file.size()), static_cast<uint32_t>(answers.size()),
        static_cast<uint32_t>(variant.size()), static_cast<uint32_t>(threads.size())};
    if (!WriteAll(spawner.requests, sizes, sizeof sizes) ||
        !WriteAll(spawner.requests, file.data(), file.size()) ||
        !WriteAll(spawner.requests, answers.data(), answers.size()) ||
        !WriteAll(spawner.requests, variant.data(), variant.size()) ||
        !WriteAll(spawner.requests, threads.data(), threads.size()) ||
        !ReadAll(spawner.replies, &result, sizeof result))
        return ProcessResult{};
    return result;
}

// Runs sigrun on the file with the answers piped in; its output goes nowhere.
ProcessResult RunSigrunHere(const std::string& file, const std::string& answers,
                            const std::string& variant, const std::string& threads)
{
    ProcessResult result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return result;
    timespec started{};
    clock_gettime(CLOCK_MONOTONIC, &started);
    const pid_t child = fork();
    if (child < 0)
        return result;
    if (child == 0)
    {
        dup2(pipeEnds[0], STDIN_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::FILE* null = std::fopen("/dev/null", "w");
        if (null != nullptr)
        {
            dup2(fileno(null), STDOUT_FILENO);
            dup2(fileno(null), STDERR_FILENO);
        }
        UseVariant(variant);
        if (!threads.empty())
        {
            setenv("SIGKIT_THREADS", threads.c_str(), 1);
            cpu_set_t all;
            CPU_ZERO(&all);
            for (long c = 0; c < sysconf(_SC_NPROCESSORS_ONLN) && c < CPU_SETSIZE; ++c)
                CPU_SET(static_cast<int>(c), &all);
            sched_setaffinity(0, sizeof all, &all);
        }
        execl(SIGRUN_PATH, "sigrun", file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[0]);
    const ssize_t written = write(pipeEnds[1], answers.data(), answers.size());
    close(pipeEnds[1]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return result;
    timespec ended{};
    clock_gettime(CLOCK_MONOTONIC, &ended);
    result.wallSeconds = static_cast<double>(ended.tv_sec - started.tv_sec) +
                         1e-9 * static_cast<double>(ended.tv_nsec - started.tv_nsec);
    result.ok = written == static_cast<ssize_t>(answers.size()) && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    result.rssKiB = static_cast<double>(usage.ru_maxrss);
    return result;
}

// One sigrun run with options; with piped, standard input is fed from inputPath through a pipe
// and standard output drained through another, as in a shell pipeline; otherwise args name the
// files. Result: sigrun's own CPU time.
ProcessResult RunSigrunPiped(const std::vector<std::string>& args, const std::string& inputPath,
                             bool piped)
{
    ProcessResult result;
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return result;
    const pid_t child = fork();
    if (child < 0)
        return result;
    if (child == 0)
    {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1]})
            close(fd);
        std::vector<char*> argv{const_cast<char*>("sigrun")};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SIGRUN_PATH, argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    std::FILE* file = piped ? std::fopen(inputPath.c_str(), "rb") : nullptr;
    if (file == nullptr)
    {
        close(in[1]);
        in[1] = -1;
    }
    std::vector<char> feed(65536);
    std::vector<char> drain(65536);
    std::size_t have = 0;
    std::size_t at = 0;
    bool open = true;
    while (open)
    {
        pollfd ends[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        if (poll(ends, in[1] >= 0 ? 2 : 1, -1) < 0)
            continue;
        if ((ends[0].revents & (POLLIN | POLLHUP)) != 0)
            open = read(out[0], drain.data(), drain.size()) > 0;
        if (in[1] >= 0 && (ends[1].revents & (POLLOUT | POLLERR)) != 0)
        {
            if (at == have)
            {
                have = std::fread(feed.data(), 1, feed.size(), file);
                at = 0;
            }
            const ssize_t put = have > at ? write(in[1], feed.data() + at, have - at) : -1;
            if (put <= 0)
            {
                close(in[1]);
                in[1] = -1;
            }
            else
                at += static_cast<std::size_t>(put);
        }
    }
    if (in[1] >= 0)
        close(in[1]);
    close(out[0]);
    if (file != nullptr)
        std::fclose(file);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return result;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    result.rssKiB = static_cast<double>(usage.ru_maxrss);
    return result;
}

// The menu answer and parameters of a workload for sigrun.
// Where the dialogue writes the output of a workload's file.
std::string OutputOf(const std::string& file, Kind kind)
{
    const std::string stem = file.substr(0, file.size() - 4);
    switch (kind)
    {
    case Kind::FreqConv:
        return stem + "_if.wav";
    case Kind::ReSampl:
        return stem + "_resampl.wav";
    case Kind::Am:
        return stem + "_amdem.wav";
    case Kind::Fm:
        return stem + "_fmdem.wav";
    case Kind::Hilbert:
        return stem + "_inv.wav";
    }
    return "";
}

std::string Answers(const Workload& w, int quality)
{
    const std::string level = std::to_string(quality + 1) + "\n";
    const auto whole = [](double v) { return std::to_string(static_cast<long long>(v)) + "\n"; };
    switch (w.kind)
    {
    case Kind::FreqConv:
        return "3\n" + whole(w.Fn) + whole(w.Fd / 10) + "1\n" + level;
    case Kind::ReSampl:
        return "2\n" + whole(w.Fn) + whole(w.FdOut) + "1\n" + level;
    case Kind::Am:
        return "5\n" + whole(w.Fn) + whole(w.FdOut) + "1\n" + level;
    case Kind::Fm:
        return "6\n" + whole(w.Fn) + whole(w.FdOut) + "1\n" + level;
    case Kind::Hilbert:
        return "4\n";
    }
    return "";
}

// ---- The peers' figures.

struct PeerFigures
{
    std::map<std::string, double> gnuradio; // "workload N" -> Msps, its best row (FFT included)
    std::map<std::string, std::string> gnuradioRow; // "workload N" -> which row that was
    std::map<std::string, double> sox; // workload -> Mframes/s, default rate conversion
};

PeerFigures ReadPeers(const std::string& directory)
{
    PeerFigures peers;
    std::ifstream file(directory + "/rows.median.tsv");
    std::string line;
    while (std::getline(file, line))
    {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        std::string field;
        while (std::getline(stream, field, '\t'))
            fields.push_back(field);
        if (fields.size() < 5 || fields[0] != "ROW")
            continue;
        const std::string& peer = fields[3];
        const double msps = std::atof(fields[4].c_str());
        const std::string key = fields[1] + " " + fields[2];
        if (peer.rfind("gnuradio", 0) == 0 && msps > peers.gnuradio[key])
        {
            peers.gnuradio[key] = msps;
            peers.gnuradioRow[key] = peer.find("fft_filter") != std::string::npos ? "fft" : "fir";
        }
        else if (peer.find("sox") != std::string::npos &&
                 peer.find("-r (rate default") != std::string::npos)
            peers.sox[fields[1]] = msps;
    }
    return peers;
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string CpuName()
{
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line))
        if (line.rfind("model name", 0) == 0)
        {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    return "unknown processor";
}

Options Parse(int argc, char** argv)
{
    Options options;
    const char* cache = std::getenv("PEERS_CACHE");
    const char* tmp = std::getenv("TMPDIR");
    options.peers =
        cache != nullptr ? cache : std::string(tmp != nullptr ? tmp : "/tmp") + "/peers-cache";
    options.work = std::string(tmp != nullptr ? tmp : "/tmp") + "/sigkit-speed";
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--rounds")
            options.rounds = std::max(1, std::atoi(value().c_str()));
        else if (arg == "--seconds")
            options.seconds = std::max(0.01, std::atof(value().c_str()));
        else if (arg == "--cpu")
            options.cpu = std::atoi(value().c_str());
        else if (arg == "--in-process-only")
            options.wholeProcess = false;
        else if (arg == "--no-1g")
            options.bigFile = false;
        else if (arg == "--peers")
            options.peers = value();
        else if (arg == "--work")
            options.work = value();
        else if (arg == "--only")
            options.only = value();
        else if (arg == "--variants")
        {
            std::stringstream list(value());
            std::string word;
            while (std::getline(list, word, ','))
                options.variants.push_back(word);
        }
        else if (arg == "--child")
            options.child = true;
        else
        {
            std::fprintf(stderr,
                         "usage: %s [--rounds N] [--seconds S] [--cpu K] [--in-process-only] "
                         "[--no-1g] [--peers DIR] [--work DIR] [--only WORKLOAD] [--variants "
                         "scalar,avx2,avx512,auto]\n",
                         argv[0]);
            std::exit(2);
        }
    }
    return options;
}

// ---- The in-process rows under each variant.

const char* StageName(const Workload& w)
{
    return w.kind == Kind::FreqConv  ? "FreqConv"
           : w.kind == Kind::ReSampl ? "ReSampl"
           : w.kind == Kind::Hilbert ? "SpInv (real input)"
           : w.kind == Kind::Am      ? "AM_Demod AM"
                                     : "AM_Demod FM";
}

// The in-process rows in their order (the same in every process), their stages started.
std::vector<InProcess> StageRuns(const Options& options)
{
    std::vector<InProcess> runs;
    for (const Workload& w : Workloads())
        for (int q = 0; q < (w.qualities ? 3 : 1); ++q)
            if (options.only.empty() || options.only == w.key)
                runs.push_back({w, q, MakeStage(w, q)});
    return runs;
}

// --child: one timed run of every in-process row after a warm-up, one figure a line, then the
// tables this process chose.
int ChildRound(const Options& options)
{
    std::vector<InProcess> runs = StageRuns(options);
    for (InProcess& run : runs)
    {
        TimeInProcess(run, options.seconds / 4); // past the start-up
        std::printf("%.6f\n", TimeInProcess(run, options.seconds));
    }
    std::printf("tables kernels %s; FFT %s; demodulators %s\n", sigkit::kernels::Active().name,
                sigkit::fft::Active().name, sigkit::demod::ActiveDemod().name);
    return 0;
}

// One round of the in-process rows in a process of their own under the variant. Result: a figure
// per row (none when the process failed); `tables` gets what it chose.
std::vector<double> RunChildRound(const Options& options, const std::string& variant,
                                  std::string& tables)
{
    std::vector<double> figures;
    int ends[2];
    if (pipe(ends) != 0)
        return figures;
    const pid_t child = fork();
    if (child < 0)
        return figures;
    if (child == 0)
    {
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        close(ends[1]);
        UseVariant(variant);
        const std::string seconds = Format("%.4f", options.seconds);
        std::vector<const char*> args = {"sigkit_speed", "--child", "--seconds", seconds.c_str()};
        if (!options.only.empty())
        {
            args.push_back("--only");
            args.push_back(options.only.c_str());
        }
        args.push_back(nullptr);
        execv("/proc/self/exe", const_cast<char* const*>(args.data()));
        _exit(127);
    }
    close(ends[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t got = 0; (got = read(ends[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        if (line.rfind("tables ", 0) == 0)
            tables = line.substr(7);
        else
            figures.push_back(std::atof(line.c_str()));
    }
    return figures;
}

// The variants to run: as asked, else every one the processor runs and the dispatcher's choice.
std::vector<std::string> Variants(const Options& options)
{
    using sigkit::kernels::Isa;
    std::vector<std::string> all;
    for (Isa isa : {Isa::Scalar, Isa::Avx2, Isa::Avx512})
        if (const sigkit::kernels::KernelTable* table = sigkit::kernels::TableFor(isa))
            all.push_back(table->name);
    all.push_back("auto");
    if (options.variants.empty())
        return all;
    std::vector<std::string> chosen;
    for (const std::string& v : options.variants)
        if (std::find(all.begin(), all.end(), v) != all.end())
            chosen.push_back(v);
    return chosen;
}

// The target for a workload's ratio to GNU Radio's best row.
double Target(const std::string& workload)
{
    if (workload.rfind("W-RS", 0) == 0)
        return 1.3;
    if (workload == "W-HB")
        return 2.0;
    return 1.0;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    if (options.child)
        return ChildRound(options);
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    const int cpu = options.cpu >= 0 ? options.cpu : static_cast<int>(std::max(1L, cpus) - 1);
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0)
        std::fprintf(stderr, "cannot pin to core %d: %s\n", cpu, std::strerror(errno));
    if (options.wholeProcess)
        StartSpawner();
    const std::vector<std::string> variants = Variants(options);

    // One row per workload, quality and variant; the rows of a variant in StageRuns' order.
    std::vector<Row> rows;
    std::vector<std::size_t> rowOf; // [variant][stage run] -> row, flattened
    std::size_t stageRuns = 0;
    for (const Workload& w : Workloads())
        for (int q = 0; q < (w.qualities ? 3 : 1); ++q)
        {
            if (!options.only.empty() && options.only != w.key)
                continue;
            ++stageRuns;
            for (const std::string& variant : variants)
            {
                Row row;
                row.section = "stage";
                row.workload = w.key;
                row.N = w.qualities ? sigkit::QualityToDesign(q).taps : sigkit::kHilbertTapCount;
                row.quality = w.qualities ? QualityWord(q) : "-";
                row.what = StageName(w);
                row.macsPerInput = MacsPerInput(w, q);
                row.peerKey = std::string(w.key) + " " + std::to_string(row.N);
                row.variant = variant;
                rows.push_back(row);
            }
        }
    rowOf.resize(variants.size() * stageRuns);
    for (std::size_t k = 0; k < stageRuns; ++k)
        for (std::size_t v = 0; v < variants.size(); ++v)
            rowOf[v * stageRuns + k] = k * variants.size() + v;

    // Rounds: every variant's process once per round, so that foreign load spreads over all.
    std::fprintf(stderr, "in process: %zu rows x %zu variants x %d rounds\n", stageRuns,
                 variants.size(), options.rounds);
    std::vector<double> ceilings;
    std::map<std::string, std::string> tablesOf;
    for (int r = 0; r < options.rounds; ++r)
    {
        ceilings.push_back(MeasureCeiling(1).macs);
        for (std::size_t v = 0; v < variants.size(); ++v)
        {
            std::string tables;
            const std::vector<double> figures = RunChildRound(options, variants[v], tables);
            if (figures.size() != stageRuns)
            {
                std::fprintf(stderr, "the %s round failed\n", variants[v].c_str());
                continue;
            }
            tablesOf[variants[v]] = tables;
            for (std::size_t k = 0; k < stageRuns; ++k)
                rows[rowOf[v * stageRuns + k]].figures.push_back(figures[k]);
        }
    }
    const Ceiling ceiling{MeasureCeiling(1).unit, Median(ceilings)};

    // Design time of Start, per stage and quality.
    for (const char* name : {"W-RS_240k>48k", "W-RS_240k>12k", "W-FC", "W-AM_240k>12k"})
        for (int q = 0; q < 3; ++q)
        {
            const Workload* w = nullptr;
            for (const Workload& candidate : Workloads())
                if (std::strcmp(candidate.key, name) == 0)
                    w = &candidate;
            Row row;
            row.section = "start";
            row.workload = name;
            row.N = sigkit::QualityToDesign(q).taps;
            row.quality = QualityWord(q);
            row.what = w->kind == Kind::FreqConv ? "FreqConv Start"
                       : w->kind == Kind::ReSampl
                           ? (w->FdOut == 12000 ? "ReSampl Start (2 banks)" : "ReSampl Start")
                           : "AM_Demod Start";
            row.variant = "auto";
            std::unique_ptr<sigkit::Stage> stage = MakeStage(*w, q);
            for (int r = 0; r < options.rounds; ++r)
            {
                const double start = ThreadSeconds();
                stage->Start();
                row.figures.push_back((ThreadSeconds() - start) * 1e3);
            }
            rows.push_back(row);
        }

    // Whole process, under each vector variant and the dispatcher's choice.
    std::string bigNote;
    std::string pipeNote;
    std::vector<ThreadRow> threadRows;
    std::string threadLoad;
    if (options.wholeProcess)
    {
        std::vector<std::string> processVariants;
        for (const std::string& v : variants)
            if (v != "scalar" || !options.variants.empty())
                processVariants.push_back(v);
        mkdir(options.work.c_str(), 0755);
        // The files the peers give SoX: 60 s at 240 kHz, 300 s at 44.1 kHz, 6 s at 2.4 MHz.
        const auto framesFor = [](const Workload& w) {
            const double seconds = w.Fd > 1e6 ? 6.0 : w.Fd < 1e5 ? 300.0 : 60.0;
            return static_cast<uint64_t>(w.Fd * seconds);
        };
        std::map<std::string, std::string> files; // rate/channels -> path
        const auto fileFor = [&](const Workload& w) {
            const int channels = ComplexInput(w) ? 2 : 1;
            const std::string path = options.work + "/in_" +
                                     std::to_string(static_cast<long long>(w.Fd)) +
                                     (channels == 2 ? "_iq" : "_real") + ".wav";
            if (files.count(path) == 0)
            {
                if (!WriteWav(path, static_cast<uint32_t>(w.Fd), channels, framesFor(w)))
                    std::fprintf(stderr, "cannot write %s\n", path.c_str());
                files[path] = path;
            }
            return path;
        };
        std::fprintf(stderr, "whole process: sigrun on generated files in %s\n",
                     options.work.c_str());
        std::vector<std::size_t> processRows;
        std::vector<std::pair<std::string, std::string>> commands;
        std::vector<double> frames;
        for (const Workload& w : Workloads())
        {
            if (std::strcmp(w.key, "W-RS_240k>12k") == 0 ||
                (!options.only.empty() && options.only != w.key))
                continue;
            for (int q = 0; q < (w.qualities ? 3 : 1); ++q)
                for (const std::string& variant : processVariants)
                {
                    Row row;
                    row.section = "process";
                    row.workload = w.key;
                    row.N =
                        w.qualities ? sigkit::QualityToDesign(q).taps : sigkit::kHilbertTapCount;
                    row.quality = w.qualities ? QualityWord(q) : "-";
                    row.what = "sigrun, 16-bit " + std::string(ComplexInput(w) ? "stereo" : "mono");
                    row.macsPerInput = MacsPerInput(w, q);
                    row.peerKey = w.key;
                    row.variant = variant;
                    processRows.push_back(rows.size());
                    rows.push_back(row);
                    commands.emplace_back(fileFor(w), Answers(w, q));
                    frames.push_back(static_cast<double>(framesFor(w)));
                }
        }
        for (int r = 0; r < options.rounds; ++r)
            for (std::size_t k = 0; k < processRows.size(); ++k)
            {
                Row& row = rows[processRows[k]];
                const ProcessResult result =
                    RunSigrun(commands[k].first, commands[k].second, row.variant);
                row.figures.push_back(result.ok ? frames[k] / result.cpuSeconds / 1e6 : 0.0);
                row.rssKiB = std::max(row.rssKiB, result.rssKiB);
            }
        // Wall clock on one thread and on two, sigrun free to use every processor: the files of a
        // minute or more (not the 6 s at 2.4 MHz), at Medium, under the dispatcher's variant.
        for (const Workload& w : Workloads())
        {
            if (w.Fd > 1e6 || std::strcmp(w.key, "W-RS_240k>12k") == 0 ||
                (!options.only.empty() && options.only != w.key))
                continue;
            ThreadRow row;
            row.workload = w.key;
            row.N = w.qualities ? sigkit::QualityToDesign(1).taps : sigkit::kHilbertTapCount;
            row.file = fileFor(w);
            row.output = OutputOf(row.file, w.kind);
            row.answers = Answers(w, 1);
            row.frames = static_cast<double>(framesFor(w));
            threadRows.push_back(row);
        }
        // The rows before wrote gigabytes that the system would otherwise write to the disk
        // during these runs, on one of the two processors they compare.
        sync();
        threadLoad = LoadAverages();
        for (int r = 0; r < options.rounds; ++r)
            for (ThreadRow& row : threadRows)
                for (int t = 0; t < 2; ++t)
                {
                    // A run that replaces the output of the one before waits while the system
                    // lets go of that file's pages (some 30 ms for 57.6 MB on this disk), the
                    // same for both: not the work being compared, and a user writing a new
                    // output does not pay it.
                    std::remove(row.output.c_str());
                    const ProcessResult result =
                        RunSigrun(row.file, row.answers, "auto", t == 0 ? "1" : "2");
                    if (!result.ok)
                        continue;
                    row.wall[t].push_back(result.wallSeconds);
                    row.cpu[t].push_back(result.cpuSeconds);
                }
        threadLoad += " before, " + LoadAverages() + " after";

        // The same resampling on a 10 MB and a 1 GB file: the peak resident memory must not grow.
        const Workload* rs = &Workloads()[1];
        const std::string tenMegabytes = options.work + "/in_10m.wav";
        WriteWav(tenMegabytes, 240000, 2, 10u * 1000u * 1000u / 4u);
        const ProcessResult small = RunSigrun(tenMegabytes, Answers(*rs, 1));
        std::remove(tenMegabytes.c_str());
        std::remove((options.work + "/in_10m_resampl.wav").c_str());
        std::string bigFigure = "not run (--no-1g)";
        if (options.bigFile)
        {
            const std::string big = options.work + "/in_1g.wav";
            const uint64_t bigFrames = 1000ull * 1000ull * 1000ull / 4u;
            if (WriteWav(big, 240000, 2, bigFrames))
            {
                const ProcessResult large = RunSigrun(big, Answers(*rs, 1));
                bigFigure = large.ok
                                ? Format("%.1f MiB", large.rssKiB / 1024.0) +
                                      Format(" (%.1f Mframes/s)", static_cast<double>(bigFrames) /
                                                                      large.cpuSeconds / 1e6)
                                : "failed";
            }
            else
                bigFigure = "cannot write the 1 GB file";
            std::remove(big.c_str());
            std::remove((options.work + "/in_1g_resampl.wav").c_str());
        }
        // FM of 20 s of 16-bit I/Q at 240 kHz: file to file, and standard input to standard
        // output through pipes.
        {
            const std::string in = options.work + "/in_pipe.wav";
            const std::string out = options.work + "/in_pipe_fmdem.wav";
            const uint64_t pipeFrames = 240000u * 20u;
            const std::vector<std::string> fm = {"-Q",  "-m", "fm-classic", "-f", "0",      "-r",
                                                 "48k", "-a", "20000",      "-q", "medium", "-o"};
            std::vector<std::string> fileArgs = fm;
            fileArgs.insert(fileArgs.end(), {out, in});
            std::vector<std::string> pipeArgs = fm;
            pipeArgs.insert(pipeArgs.end(), {"-", "-"});
            std::vector<double> fileFigures;
            std::vector<double> pipeFigures;
            if (WriteWav(in, 240000, 2, pipeFrames))
                for (int r = 0; r < options.rounds; ++r)
                {
                    const ProcessResult f = RunSigrunPiped(fileArgs, in, false);
                    const ProcessResult p = RunSigrunPiped(pipeArgs, in, true);
                    fileFigures.push_back(
                        f.ok ? static_cast<double>(pipeFrames) / f.cpuSeconds / 1e6 : 0.0);
                    pipeFigures.push_back(
                        p.ok ? static_cast<double>(pipeFrames) / p.cpuSeconds / 1e6 : 0.0);
                }
            std::remove(in.c_str());
            std::remove(out.c_str());
            const double file = fileFigures.empty() ? 0.0 : Median(fileFigures);
            const double piped = pipeFigures.empty() ? 0.0 : Median(pipeFigures);
            pipeNote =
                "# sigrun fm 240k>48k Medium, 16-bit I/Q: file to file " +
                Format("%.2f Msps", file) + ", pipe to pipe " + Format("%.2f Msps", piped) +
                (piped > 0.0 ? Format(" (the pipe costs %+.1f%% CPU)", 100.0 * (file / piped - 1.0))
                             : std::string(" (failed)"));
        }
        bigNote = "# peak RSS of sigrun resampling 240k>48k at Medium: 10 MB input " +
                  Format("%.1f MiB", small.rssKiB / 1024.0) + ", 1 GB input " + bigFigure;
        for (const auto& file : files)
        {
            std::remove(file.first.c_str());
            std::string output = file.first.substr(0, file.first.size() - 4);
            for (const char* suffix :
                 {"_resampl.wav", "_if.wav", "_amdem.wav", "_fmdem.wav", "_inv.wav"})
                std::remove((output + suffix).c_str());
        }
    }

    // The table.
    const PeerFigures peers = ReadPeers(options.peers);
    const bool havePeers = !peers.gnuradio.empty() || !peers.sox.empty();
    time_t now = time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%MZ", std::gmtime(&now));
    std::printf("# CPU: %s, %ld cores, pinned to core %d; %s\n", CpuName().c_str(), cpus, cpu,
                date);
    for (const auto& [variant, tables] : tablesOf)
        std::printf("# %-6s runs %s\n", variant.c_str(), tables.c_str());
    std::printf("# auto = the dispatcher's choice (SIGKIT_ISA unset), measured afresh in each of "
                "its processes\n");
    std::printf(
        "# ceiling: %s, %.1f GMAC/s (one core, same run); %%ceil = Msps x MAC/smp / ceiling\n",
        ceiling.unit, ceiling.macs / 1e9);
    std::printf(
        "# Msps = input Msamples per thread-CPU second (complex pairs; W-HB real samples; sigrun: "
        "frames\n"
        "#   per CPU second of the whole process), median of %d interleaved rounds; MAC/smp = the\n"
        "#   multiply-adds per input as the processing defines them.\n",
        options.rounds);
    if (havePeers)
        std::printf("# peers from %s: GNU Radio's best row (fir: direct form, fft: its FFT "
                    "filter); SoX default rate for sigrun rows.\n"
                    "# target: the ratio each stage row is to reach (met: +, short: -)\n",
                    options.peers.c_str());
    else
        std::printf(
            "# no peer figures in %s (run ../shared/peers/run.sh first for the ratio columns)\n",
            options.peers.c_str());
    std::printf("%-15s %5s %-7s %-20s %-7s %9s %8s %7s %8s %12s %7s %7s\n", "workload", "N",
                "quality", "run", "variant", "Msps", "MAC/smp", "%ceil", "RSS MiB", "peer", "ratio",
                "target");
    std::string section;
    for (const Row& row : rows)
    {
        if (row.section != section)
        {
            section = row.section;
            std::printf("%s\n", section == "stage" ? "# stages in process, from memory"
                                : section == "start"
                                    ? "# Start: filter design time, ms (median)"
                                    : "# whole process: sigrun on a generated 16-bit WAV file "
                                      "(60 s at 240 kHz, 300 s at 44.1 kHz, 6 s at 2.4 MHz)");
        }
        const double figure = Median(row.figures);
        std::string share = "-";
        std::string rss = "-";
        std::string peer = "-";
        std::string ratio = "-";
        std::string target = "-";
        if (row.section != "start")
        {
            share = Format("%.0f%%", 100.0 * figure * 1e6 * row.macsPerInput / ceiling.macs);
            double reference = 0.0;
            std::string which;
            if (row.section == "stage" && peers.gnuradio.count(row.peerKey) != 0)
            {
                reference = peers.gnuradio.at(row.peerKey);
                which = " " + peers.gnuradioRow.at(row.peerKey);
            }
            if (row.section == "process" && peers.sox.count(row.peerKey) != 0)
                reference = peers.sox.at(row.peerKey);
            if (reference > 0.0)
            {
                peer = Format("%.2f", reference) + which;
                ratio = Format("%.2fx", figure / reference);
                if (row.section == "stage" && row.variant != "scalar")
                {
                    const double goal = Target(row.workload);
                    target = Format(">=%.1f", goal) + (figure / reference >= goal ? "+" : "-");
                }
            }
        }
        if (row.section == "process")
            rss = Format("%.1f", row.rssKiB / 1024.0);
        std::printf("%-15s %5d %-7s %-20s %-7s %9s %8s %7s %8s %12s %7s %7s\n",
                    row.workload.c_str(), row.N, row.quality.c_str(), row.what.c_str(),
                    row.variant.c_str(),
                    Format(row.section == "start" ? "%.3f" : "%.2f", figure).c_str(),
                    row.section == "start" ? "-" : Format("%.1f", row.macsPerInput).c_str(),
                    share.c_str(), rss.c_str(), peer.c_str(), ratio.c_str(), target.c_str());
    }
    if (!bigNote.empty())
        std::printf("%s\n", bigNote.c_str());
    if (!pipeNote.empty())
        std::printf("%s\n", pipeNote.c_str());
    if (!threadRows.empty())
    {
        std::printf(
            "# whole process on every processor (%ld), one thread and two (SIGKIT_THREADS), at\n"
            "#   Medium under the dispatcher's variant: seconds of wall clock and of CPU (user +\n"
            "#   system), median of %d rounds, each into a new output (the last run's removed\n"
            "#   first); Mfr/s = input Mframes per wall second; wall x = one thread's wall time\n"
            "#   over two threads'. Load averages %s: with\n"
            "#   other work on the machine the wall figures are indicative only.\n",
            cpus, options.rounds, threadLoad.c_str());
        std::printf("%-15s %5s %9s %8s %8s %8s %8s %8s %8s %7s\n", "workload", "N", "Mframes",
                    "wall 1", "CPU 1", "Mfr/s 1", "wall 2", "CPU 2", "Mfr/s 2", "wall x");
        for (const ThreadRow& row : threadRows)
        {
            const double wall1 = Median(row.wall[0]);
            const double wall2 = Median(row.wall[1]);
            const auto rate = [&](double wall) {
                return wall > 0.0 ? Format("%.1f", row.frames / wall / 1e6) : std::string("-");
            };
            std::printf("%-15s %5d %9.1f %8.3f %8.3f %8s %8.3f %8.3f %8s %7s\n",
                        row.workload.c_str(), row.N, row.frames / 1e6, wall1, Median(row.cpu[0]),
                        rate(wall1).c_str(), wall2, Median(row.cpu[1]), rate(wall2).c_str(),
                        wall2 > 0.0 ? Format("%.2fx", wall1 / wall2).c_str() : "-");
        }
    }
    return 0;
}
