// sigrun in a pipeline: standard input and output, raw samples, a reader that goes away, and
// input that is hostile or slow. Pipes are made by /bin/sh, as a user's shell makes them.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace sigtest;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRate = 240000;
constexpr double kTone = 1000.0;
const std::vector<std::string> kFm = {"-Q", "-m",  "fm-classic", "-f", "0",
                                      "-r", "48k", "-a",         "100"};

// I/Q of a carrier at 0 Hz carrying a 1 kHz tone, 5 kHz deviation, as unsigned 8-bit pairs
// centred on 127.5 (a cheap receiver's output).
std::string FmToneCu8(double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    std::string bytes(2 * frames, '\0');
    for (std::size_t n = 0; n < frames; ++n)
    {
        const double t = static_cast<double>(n) / kRate;
        const double phase = 5.0 * std::sin(2.0 * M_PI * kTone * t);
        bytes[2 * n] = static_cast<char>(std::lround(127.5 + 0.9 * 127.5 * std::cos(phase)));
        bytes[2 * n + 1] = static_cast<char>(std::lround(127.5 + 0.9 * 127.5 * std::sin(phase)));
    }
    return bytes;
}

std::string Sh(const std::string& text)
{
    // Single quotes around a path that holds none.
    return "'" + text + "'";
}

ProcessResult RunShell(const std::string& script, const ProcessOptions& options = {})
{
    return RunProcess("/bin/sh", {"-c", script}, "", options);
}

std::string SigrunCommand(const std::vector<std::string>& args)
{
    std::string command = Sh(SIGRUN_PATH);
    for (const std::string& a : args)
        command += " " + Sh(a);
    return command;
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Amplitude of one frequency in samples at 48 kHz.
double Amplitude(const std::vector<double>& x, double hz)
{
    double c = 0.0;
    double s = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n)
    {
        c += x[n] * std::cos(2.0 * M_PI * hz * static_cast<double>(n) / 48000.0);
        s += x[n] * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / 48000.0);
    }
    return 2.0 * std::hypot(c, s) / static_cast<double>(x.size());
}

// A WAV stream as a file reader sees it once the sizes it could not know are filled in.
WavInfo ParseStream(std::string bytes)
{
    const std::size_t data = bytes.find("data", 12);
    if (bytes.size() < 12 || data == std::string::npos || bytes.size() < data + 8)
        return {};
    auto put = [&](std::size_t at, std::size_t value) {
        for (int b = 0; b < 4; ++b)
            bytes[at + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
    };
    put(4, bytes.size() - 8);
    put(data + 4, bytes.size() - data - 8);
    return ParseWav(bytes);
}

int Lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

class Streams : public ::testing::Test
{
protected:
    void SetUp() override
    {
        cu8 = FmToneCu8(2.0);
        WriteFileBytes(dir.File("in.cu8"), cu8);
        WriteFileBytes(dir.File("in.wav"), PcmWav(2, kRate, 8, cu8));
        const ProcessResult r =
            RunSigrun(With(kFm, {"-o", dir.File("file.wav"), dir.File("in.wav")}), "");
        ASSERT_EQ(r.status, 0) << r.err;
        fileRun = ParseWav(ReadFileBytes(dir.File("file.wav")));
        ASSERT_TRUE(fileRun.ok);
    }

    TempDir dir;
    std::string cu8;
    WavInfo fileRun;
};

TEST_F(Streams, RawCu8ThroughPipesGivesTheFileRunsAudio)
{
    // A writer process, sigrun reading stdin and writing stdout, a reader process.
    const ProcessResult r =
        RunShell("cat " + Sh(dir.File("in.cu8")) + " | " +
                 SigrunCommand(With(kFm, {"-t", "cu8", "--in-rate", "240k", "-o", "-", "-"})) +
                 " | cat > " + Sh(dir.File("pipe.wav")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string bytes = ReadFileBytes(dir.File("pipe.wav"));
    // The length is not known when the header goes out: both sizes say so.
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(GetU32(bytes, 4), 0xFFFFFFFFu);
    EXPECT_EQ(GetU32(bytes, static_cast<std::size_t>(bytes.find("data", 12)) + 4), 0xFFFFFFFFu);
    const WavInfo piped = ParseStream(bytes);
    ASSERT_TRUE(piped.ok);
    EXPECT_EQ(piped.rate, 48000u);
    EXPECT_EQ(piped.channels, 1u);
    EXPECT_EQ(piped.bits, fileRun.bits);
    EXPECT_TRUE(piped.data == fileRun.data) << piped.data.size() << " vs " << fileRun.data.size();

    // The audio is the tone.
    const std::vector<double> audio = SampleValues(piped);
    ASSERT_GT(audio.size(), 48000u);
    const std::vector<double> settled(audio.begin() + 4800, audio.end());
    EXPECT_GT(Amplitude(settled, kTone), 20.0 * Amplitude(settled, 3500.0));
}

TEST_F(Streams, WavStreamInAndOutAndRawFileByExtensionMatchTheFileRun)
{
    const ProcessResult wav =
        RunShell("cat " + Sh(dir.File("in.wav")) + " | " +
                 SigrunCommand(With(kFm, {"-o", "-", "-"})) + " > " + Sh(dir.File("wav.wav")));
    ASSERT_EQ(wav.status, 0) << wav.err;
    EXPECT_TRUE(ParseStream(ReadFileBytes(dir.File("wav.wav"))).data == fileRun.data);

    // A .cu8 file needs no -t; stdout is a regular file here, still written in order.
    const ProcessResult raw =
        RunShell(SigrunCommand(With(kFm, {"--in-rate", "240k", "-o", "-", dir.File("in.cu8")})) +
                 " > " + Sh(dir.File("ext.wav")));
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_TRUE(ParseStream(ReadFileBytes(dir.File("ext.wav"))).data == fileRun.data);

    // Our own reader takes the unknown-length stream to its end.
    const ProcessResult info =
        RunShell(SigrunCommand({"-i", "-"}) + " < " + Sh(dir.File("ext.wav")));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find(std::to_string(fileRun.data.size()) + " samples"), std::string::npos)
        << info.out;
}

TEST_F(Streams, RawOutputTypesHoldTheSamplesOfTheWavOutput)
{
    const std::vector<double> values = SampleValues(fileRun); // 8-bit, centre taken off
    auto run = [&](const std::string& type) {
        const ProcessResult r =
            RunSigrun(With(kFm, {"-T", type, "-o", "-", dir.File("in.wav")}), "");
        EXPECT_EQ(r.status, 0) << type << ": " << r.err;
        return r.out;
    };
    EXPECT_TRUE(run("u8") == fileRun.data);
    const std::string s16 = run("s16");
    ASSERT_EQ(s16.size(), 2 * values.size());
    const std::string f32 = run("f32");
    ASSERT_EQ(f32.size(), 4 * values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
    {
        EXPECT_EQ(static_cast<int16_t>(GetU16(s16, 2 * i)), values[i] * 256) << i;
        float f = 0.0f;
        std::memcpy(&f, f32.data() + 4 * i, sizeof f);
        EXPECT_EQ(f, static_cast<float>(values[i] / 128.0)) << i;
        if (::testing::Test::HasFailure())
            break;
    }
    // The summary counts what the output holds at the ends of its range: the WAV output's
    // clipped samples where the bytes go out unchanged, none for float.
    auto clipped = [&](const std::string& type) {
        std::vector<std::string> loud = {"-m",  "fm-classic", "-f",    "0",  "-r",
                                         "48k", "-a",         "20000", "-o", "-"};
        if (!type.empty())
            loud.insert(loud.end(), {"-T", type});
        loud.push_back(dir.File("in.wav"));
        const ProcessResult r = RunSigrun(loud, "");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::size_t end = r.err.find(" samples at full scale");
        const std::size_t start = r.err.rfind(", ", end);
        return end == std::string::npos ? std::string("?")
                                        : r.err.substr(start + 2, end - start - 2);
    };
    const std::string wavClipped = clipped("");
    EXPECT_NE(wavClipped, "0");
    EXPECT_EQ(clipped("u8"), wavClipped);
    EXPECT_EQ(clipped("f32"), "0");

    // A complex type cannot hold a real output.
    const ProcessResult refused =
        RunSigrun(With(kFm, {"-T", "cu8", "-o", "-", dir.File("in.wav")}), "");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(Lines(refused.err), 1) << refused.err;
}

TEST_F(Streams, ReceiverWritesToStandardOutputAsToAFileAndStopsWhenItsReaderGoes)
{
    // The FM receiver of the new modes: raw cu8 in through a pipe, WAV out through a pipe, the
    // samples those of the file run; raw s16 out of the same width; a reader that goes away.
    const std::vector<std::string> rx = {"-Q", "-m", "fm", "-f", "0", "-r", "48k"};
    ASSERT_EQ(RunSigrun(With(rx, {"-o", dir.File("rx.wav"), dir.File("in.wav")}), "").status, 0);
    const auto file = ParseWav(ReadFileBytes(dir.File("rx.wav")));
    ASSERT_TRUE(file.ok);
    const ProcessResult piped =
        RunShell("cat " + Sh(dir.File("in.cu8")) + " | " +
                 SigrunCommand(With(rx, {"-t", "cu8", "--in-rate", "240k", "-o", "-", "-"})) +
                 " > " + Sh(dir.File("rx_piped.wav")));
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(ParseStream(ReadFileBytes(dir.File("rx_piped.wav"))).data == file.data);
    const ProcessResult raw = RunSigrun(With(rx, {"-T", "s16", "-o", "-", dir.File("in.wav")}), "");
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_TRUE(raw.out == file.data);
    EXPECT_FALSE(FileExists("-"));

    const ProcessResult gone = RunShell(
        "{ " +
        SigrunCommand(With({"-Q", "-m", "rate", "-r", "2M"}, {"-o", "-", dir.File("in.wav")})) +
        "; echo $? > " + Sh(dir.File("status")) + "; } | head -c 1000 > /dev/null");
    ASSERT_EQ(gone.status, 0) << gone.err;
    EXPECT_EQ(ReadFileBytes(dir.File("status")), "141\n");
    EXPECT_EQ(Lines(gone.err), 1) << gone.err;
}

TEST_F(Streams, ReaderThatGoesAwayEndsTheRunQuietly)
{
    const std::string longer = FmToneCu8(10.0);
    WriteFileBytes(dir.File("long.cu8"), longer);
    const ProcessResult r = RunShell(
        "{ " + SigrunCommand(With(kFm, {"--in-rate", "240k", "-o", "-", dir.File("long.cu8")})) +
        "; echo $? > " + Sh(dir.File("status")) + "; } | head -c 1000 > /dev/null");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(dir.File("status")), "141\n");
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    // Nothing was left on disk beside the inputs.
    for (const auto& entry : fs::directory_iterator(dir.Path()))
    {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "in.cu8" || name == "in.wav" || name == "file.wav" ||
                    name == "long.cu8" || name == "status")
            << name;
    }
}

TEST_F(Streams, LiveInputIsProcessedAsItComesAndAStallCostsNoProcessor)
{
    // One second of input, then nothing for two: the output of that second is out before the
    // input ends, and the wait uses (almost) no processor time.
    const double before = ChildrenCpuSeconds();
    const ProcessResult r = RunShell(
        "(head -c " + std::to_string(2 * kRate) + " " + Sh(dir.File("in.cu8")) + "; sleep 2) | " +
        SigrunCommand(With(kFm, {"-t", "cu8", "--in-rate", "240k", "-o", "-", "-"})) + " > " +
        Sh(dir.File("live.wav")) + " & sleep 1.2; wc -c < " + Sh(dir.File("live.wav")) + " > " +
        Sh(dir.File("early")) + "; wait");
    const double cpu = ChildrenCpuSeconds() - before;
    ASSERT_EQ(r.status, 0) << r.err;
    const long early = std::stol(ReadFileBytes(dir.File("early")));
    const long whole = static_cast<long>(ReadFileBytes(dir.File("live.wav")).size());
    // The second in gives 48000 samples of 8 bits; all but the filters' and a block's delay are
    // out while the input is still open.
    EXPECT_GT(early, whole - 48000 / 10) << whole;
    EXPECT_GT(whole, 40000);
    EXPECT_LT(cpu, 0.5);
}

TEST(StreamInput, StopSignalEndsAWaitOnAStalledInput)
{
    TempDir dir;
    // Stalled before the header, and stalled after a header and some samples.
    const std::string wav = PcmWav(2, kRate, 8, std::string(4000, '\x80'));
    WriteFileBytes(dir.File("head.wav"), wav.substr(0, wav.size() - 100));
    for (const std::string& feed :
         {std::string("sleep 10"), "{ cat " + Sh(dir.File("head.wav")) + "; sleep 10; }"})
    {
        // The feeder writes into a FIFO and is ended once sigrun is, so that the shell waits
        // for sigrun alone.
        const std::string fifo = dir.File("fifo");
        std::filesystem::remove(fifo);
        const ProcessResult r = RunShell(
            "mkfifo " + Sh(fifo) + "; { " + feed + "; } > " + Sh(fifo) + " 2>/dev/null & f=$!; " +
            SigrunCommand(With(kFm, {"-o", dir.File("out.wav"), "-"})) + " < " + Sh(fifo) +
            " & p=$!; sleep 0.5; kill -TERM $p; wait $p; echo $? > " + Sh(dir.File("status")) +
            "; kill $f");
        EXPECT_EQ(ReadFileBytes(dir.File("status")), "143\n") << feed << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_FALSE(FileExists(dir.File("out.wav"))) << feed;
    }
}

TEST(StreamInput, HostileStandardInputIsRefusedInBoundedTime)
{
    TempDir dir;
    const std::string wav = PcmWav(2, kRate, 8, std::string(1000, '\x80'));
    WriteFileBytes(dir.File("cut.wav"), wav.substr(0, 30));
    struct Case
    {
        const char* what;
        std::string feed; // shell producing the bytes
        const char* reason;
    };
    const Case cases[] = {
        {"a header cut short", "cat " + Sh(dir.File("cut.wav")), "ends inside its header"},
        {"nothing at all", "true", "ends inside its header"},
        {"endless zeros", "head -c 50000000 /dev/zero 2>/dev/null", "not a WAV file"},
        {"a RIFF header then zeros",
         "{ printf 'RIFF\\377\\377\\377\\377WAVE'; head -c 50000000 /dev/zero; } 2>/dev/null",
         "within the first 1048576 bytes"},
    };
    for (const Case& c : cases)
        for (const char* action : {"-i", "process"})
        {
            const std::vector<std::string> args =
                std::string(action) == "-i"
                    ? std::vector<std::string>{"-i", "-"}
                    : std::vector<std::string>{"-m", "invert", "-o", dir.File("out.wav"), "-"};
            ProcessOptions options;
            options.timeoutSeconds = 20;
            const ProcessResult r = RunShell(c.feed + " | " + SigrunCommand(args), options);
            EXPECT_FALSE(r.timedOut) << c.what;
            EXPECT_EQ(r.status, 2) << c.what << " " << action;
            EXPECT_EQ(r.out, "") << c.what;
            EXPECT_EQ(Lines(r.err), 1) << c.what << ": " << r.err;
            EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.what << ": " << r.err;
            EXPECT_FALSE(FileExists(dir.File("out.wav"))) << c.what;
        }
}

TEST(StreamInput, InfoOnBytesWithoutAHeaderSaysSo)
{
    TempDir dir;
    WriteFileBytes(dir.File("raw.bin"), std::string(4000, '\x7f'));
    const ProcessResult r = RunSigrun({"-i", dir.File("raw.bin")}, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("not a WAV file"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("0 Hz"), std::string::npos) << r.err;

    const ProcessResult typed =
        RunSigrun({"-i", "-t", "cs16", "--in-rate", "2.4M", dir.File("raw.bin")}, "");
    EXPECT_EQ(typed.status, 0) << typed.err;
    EXPECT_NE(typed.out.find("16 bits, 2 channels (I/Q), 2400000 Hz"), std::string::npos)
        << typed.out;
    EXPECT_NE(typed.out.find("1000 samples"), std::string::npos) << typed.out;
}

TEST(StreamOptions, RawAndStreamOptionsAreCheckedBeforeAnythingRuns)
{
    const struct
    {
        std::vector<std::string> args;
        const char* names;
    } cases[] = {
        {{"-m", "invert", "-t", "cu8", "x.raw"}, "--in-rate"},
        {{"-m", "invert", "x.cs16"}, "--in-rate"},
        {{"-m", "invert", "--in-rate", "48k", "x.wav"}, "--type"},
        {{"-m", "invert", "-t", "cu9", "--in-rate", "48k", "x.raw"}, "cu9"},
        {{"-m", "invert", "-T", "s16", "x.wav"}, "--output -"},
        {{"-m", "invert", "-o", "-", "-", "-"}, "standard input"},
        {{"-m", "invert", "-t", "cu8", "--in-rate", "0", "x.raw"}, "--in-rate"},
        {{"-i", "-T", "s16", "x.wav"}, "--out-type"},
    };
    for (const auto& c : cases)
    {
        const ProcessResult r = RunSigrun(c.args, "");
        EXPECT_EQ(r.status, 1) << c.names;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
    }
}

// Each raw type is read as the WAV of the same bytes (signed 8-bit with its top bit flipped),
// and written back as such.
TEST(RawTypes, EachTypeIsTheWavOfItsBytes)
{
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 4800; ++i)
        bytes.push_back(static_cast<char>((i * 37 + i / 7) & 0xFF));
    const struct
    {
        const char* type;
        uint16_t channels;
        uint16_t bits;
        uint16_t tag;
    } types[] = {{"cu8", 2, 8, 1},  {"cs8", 2, 8, 1},  {"cs16", 2, 16, 1}, {"u8", 1, 8, 1},
                 {"s16", 1, 16, 1}, {"s24", 1, 24, 1}, {"s32", 1, 32, 1}};
    for (const auto& t : types)
    {
        std::string asWav = bytes;
        if (std::string(t.type) == "cs8")
            for (char& b : asWav)
                b = static_cast<char>(b ^ 0x80);
        WriteFileBytes(dir.File("in.raw"), bytes);
        WriteFileBytes(dir.File("in.wav"), PcmWav(t.channels, 48000, t.bits, asWav, t.tag));
        const ProcessResult file =
            RunSigrun({"-Q", "-m", "invert", "-T", t.type, "-o", "-", dir.File("in.wav")}, "");
        const ProcessResult raw = RunSigrun(
            {"-Q", "-m", "invert", "-t", t.type, "--in-rate", "48k", "-T", t.type, "-o", "-", "-"},
            bytes);
        ASSERT_EQ(file.status, 0) << t.type << file.err;
        ASSERT_EQ(raw.status, 0) << t.type << raw.err;
        EXPECT_TRUE(raw.out == file.out) << t.type;
    }
    // Float types against known bytes: I/Q inverted is Q negated or I and Q swapped; either way
    // the values are those given, in float bits.
    std::string cf32;
    const float values[] = {0.5f, -0.25f, 1.0f, 0.0f, -1.0f, 0.125f};
    for (float v : values)
        cf32.append(reinterpret_cast<const char*>(&v), sizeof v);
    const ProcessResult f = RunSigrun(
        {"-Q", "-m", "invert", "-t", "cf32", "--in-rate", "48k", "-T", "cf32", "-o", "-", "-"},
        cf32);
    ASSERT_EQ(f.status, 0) << f.err;
    ASSERT_EQ(f.out.size(), cf32.size());
    std::vector<float> got(6);
    std::memcpy(got.data(), f.out.data(), f.out.size());
    for (std::size_t i = 0; i < 6; i += 2)
    {
        EXPECT_EQ(std::min(std::fabs(got[i]), std::fabs(got[i + 1])),
                  std::min(std::fabs(values[i]), std::fabs(values[i + 1])))
            << i;
        EXPECT_EQ(std::max(std::fabs(got[i]), std::fabs(got[i + 1])),
                  std::max(std::fabs(values[i]), std::fabs(values[i + 1])))
            << i;
    }
}

} // namespace
