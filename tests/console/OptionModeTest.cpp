// sigrun driven by options as a process: the same output as the dialogue, batches, usage errors,
// the summary and clipping count, --info, float files, progress on a terminal, help and manual.
#include "support/Process.h"
#include "support/Signals.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace sigtest;

namespace {

constexpr double kPi = 3.14159265358979323846;

int Lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::set<std::string> Listing(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// An AM station at 4 kHz and a weaker FM one at -5 kHz, I/Q, in integer steps below half scale.
std::vector<int32_t> StationsIq(std::size_t pairs, double rate, double scale)
{
    std::vector<int32_t> x(2 * pairs);
    double fmPhase = 0;
    for (std::size_t n = 0; n < pairs; ++n)
    {
        const double t = static_cast<double>(n) / rate;
        const double envelope = 6000.0 * (1.0 + 0.5 * std::cos(2 * kPi * 800 * t));
        fmPhase += 2 * kPi * (-5000 + 1500 * std::cos(2 * kPi * 600 * t)) / rate;
        const double i = envelope * std::cos(2 * kPi * 4000 * t) + 3000 * std::cos(fmPhase);
        const double q = envelope * std::sin(2 * kPi * 4000 * t) + 3000 * std::sin(fmPhase);
        x[2 * n] = static_cast<int32_t>(std::lrint(i * scale));
        x[2 * n + 1] = static_cast<int32_t>(std::lrint(q * scale));
    }
    return x;
}

std::vector<int32_t> RealSignal(std::size_t count, double rate)
{
    std::vector<int32_t> x(count);
    for (std::size_t n = 0; n < count; ++n)
        x[n] = static_cast<int32_t>(
            std::lrint(9000.0 * std::cos(2 * kPi * 7000 * static_cast<double>(n) / rate) +
                       3000.0 * std::cos(2 * kPi * 15000 * static_cast<double>(n) / rate)));
    return x;
}

// 32-bit float samples, stored little-endian.
std::string StoreFloats(const std::vector<float>& values)
{
    std::string out;
    for (float v : values)
    {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        PutU32(out, bits);
    }
    return out;
}

std::vector<float> FloatValues(const WavInfo& wav)
{
    std::vector<float> values(wav.data.size() / 4);
    std::memcpy(values.data(), wav.data.data(), values.size() * 4);
    return values;
}

// An extensible format chunk whose sub-format is the given tag.
std::string ExtensibleFormat(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    std::string body = FormatBody(0xFFFE, channels, rate, bits);
    PutU16(body, 22);
    PutU16(body, bits);
    PutU32(body, channels == 1 ? 4 : 3);
    PutU16(body, subTag);
    body += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return body;
}

struct TerminalRun
{
    int status = -1;
    double seconds = 0;
    std::string screen; // what reached the terminal on stderr
};

// Runs sigrun with stderr on a pseudo-terminal (stdin and stdout on /dev/null).
TerminalRun RunWithStderrOnTerminal(const std::vector<std::string>& args)
{
    TerminalRun run;
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return run;
    timespec t0{};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    const pid_t pid = fork();
    if (pid == 0)
    {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(slave, 2);
        close(master);
        close(slave);
        close(null);
        std::vector<char*> argv{const_cast<char*>(SIGRUN_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SIGRUN_PATH, argv.data());
        _exit(127);
    }
    close(slave);
    char buffer[4096];
    for (;;)
    {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 120000) <= 0)
        {
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // the terminal closes (EIO) when the program has ended
        run.screen.append(buffer, static_cast<std::size_t>(got));
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    timespec t1{};
    clock_gettime(CLOCK_MONOTONIC, &t1);
    run.seconds = static_cast<double>(t1.tv_sec - t0.tv_sec) +
                  static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-9;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class Options : public ::testing::Test
{
protected:
    std::string Wav(const std::string& name, uint16_t channels, uint32_t rate, uint16_t bits,
                    const std::vector<int32_t>& samples)
    {
        const std::string path = dir.File(name);
        WriteFileBytes(path, PcmWav(channels, rate, bits, StoreSamples(samples, bits)));
        return path;
    }

    std::string FloatWav(const std::string& name, uint16_t channels, uint32_t rate,
                         const std::vector<float>& samples)
    {
        const std::string path = dir.File(name);
        WriteFileBytes(path, PcmWav(channels, rate, 32, StoreFloats(samples), 3));
        return path;
    }

    // Runs sigrun with options; every option run keeps stdout empty.
    ProcessResult Sigrun(const std::vector<std::string>& args, int status = 0)
    {
        const ProcessResult r = RunSigrun(args, "");
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    TempDir dir;
};

} // namespace

TEST_F(Options, EveryModeWritesTheDialoguesBytes)
{
    const std::string stereo = Wav("iq.wav", 2, 48000, 16, StationsIq(12000, 48000, 1.0));
    const std::string mono = Wav("real.wav", 1, 48000, 16, RealSignal(24000, 48000));
    struct Case
    {
        std::string input;
        std::string answers;
        std::vector<std::string> options;
        std::string output;
    } cases[] = {
        {mono, "1\n2\n", {"-m", "iq", "-q", "medium"}, "real_iq2r.wav"},
        {stereo, "1\n3\n", {"--mode", "iq"}, "iq_iq2r.wav"},
        {stereo,
         "2\n5000\n8000\n1.5\n1\n",
         {"-m", "resample", "-f", "5k", "-r", "8k", "-a", "1.5", "-q", "low"},
         "iq_resampl.wav"},
        {stereo,
         "3\n-3000\n2000\n2\n3\n",
         {"-m", "convert", "-f", "-3k", "-b", "2000", "-a", "2"},
         "iq_if.wav"},
        {stereo, "4\n", {"-m", "invert"}, "iq_inv.wav"},
        {stereo,
         "5\n4000\n12000\n10000\n2\n",
         {"--mode=am", "--frequency", "4k", "--rate=12k", "-a", "1e4", "-q", "medium"},
         "iq_amdem.wav"},
        {stereo,
         "6\n-5000\n12000\n20000\n3\n",
         {"-m", "fm", "-f", "-5000", "-r", "0.012M", "-a", "20000", "-q", "high"},
         "iq_fmdem.wav"},
        {mono,
         "5\n0\n8000\n0.25\n1\n",
         {"-m", "am", "-f", "0", "-r", "8k", "-a", ".25", "-q", "low"},
         "real_amdem.wav"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.answers);
        const ProcessResult dialogue = RunSigrun({c.input}, c.answers);
        ASSERT_EQ(dialogue.status, 0) << dialogue.err;
        const std::string expected = ReadFileBytes(dir.File(c.output));
        std::filesystem::remove(dir.File(c.output));

        std::vector<std::string> args = c.options;
        args.push_back("-Q");
        args.push_back(c.input);
        const ProcessResult r = Sigrun(args);
        EXPECT_EQ(r.err, "");
        const std::string got = ReadFileBytes(dir.File(c.output));
        EXPECT_GT(got.size(), 334u + 1000u);
        EXPECT_TRUE(got == expected) << c.output << ": " << got.size() << " vs " << expected.size();
        std::filesystem::remove(dir.File(c.output));
    }
}

TEST_F(Options, EveryWidthWritesTheDialoguesBytes)
{
    // 8-bit samples are unsigned; the options must take them as the dialogue does.
    for (auto [bits, scale] : {std::pair{8, 1.0 / 256}, {24, 256.0}, {32, 65536.0}})
    {
        SCOPED_TRACE(bits);
        const std::string input =
            Wav("w.wav", 2, 48000, static_cast<uint16_t>(bits), StationsIq(6000, 48000, scale));
        for (const auto& [answers, options, output] :
             {std::tuple<std::string, std::vector<std::string>, std::string>{
                  "5\n4000\n12000\n20000\n3\n",
                  {"-m", "am", "-f", "4k", "-r", "12k", "-a", "20000"},
                  "w_amdem.wav"},
              {"3\n4000\n3000\n3\n2\n",
               {"-m", "convert", "-f", "4k", "-b", "3k", "-a", "3", "-q", "medium"},
               "w_if.wav"}})
        {
            ASSERT_EQ(RunSigrun({input}, answers).status, 0);
            const std::string expected = ReadFileBytes(dir.File(output));
            std::vector<std::string> args = options;
            args.push_back(input);
            Sigrun(args);
            EXPECT_TRUE(ReadFileBytes(dir.File(output)) == expected) << output;
        }
    }
}

TEST_F(Options, UsageErrorsExitOneWithOneLineAndCreateNothing)
{
    const std::string in = Wav("in.wav", 2, 48000, 16, std::vector<int32_t>(2000, 100));
    Wav("second.wav", 2, 48000, 16, std::vector<int32_t>(2000, 100));
    const std::set<std::string> before = Listing(dir.Path());
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", in},
        {"-m", "am", "-f", "0", "-r", "8k", "-a"},
        {"-m", "am", "-f", "0", "--rate", "0", "-a", "1", in},
        {"-m", "iq", "--quality", "ultra", in},
        {"-m", "invert"},
        {"-f", "0", in},
        {"-m", "fm", "-f", "0", "-r", "8k", in},
        {"-m", "am", "-f", "12.5", "-r", "8k", "-a", "1", in},
        {"-m", "resample", "-f", "0", "-r", "3G", "-a", "1", in},
        {"-m", "invert", "-o", dir.File("one.wav"), in, dir.File("second.wav")},
        {"-m", "invert", "-o", dir.File("nofolder/"), in},
        {"-i", "-m", "am", in},
    };
    for (const auto& args : cases)
    {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const ProcessResult r = Sigrun(args, 1);
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind("sigrun: ", 0), 0u) << r.err;
        EXPECT_EQ(Listing(dir.Path()), before);
    }
}

TEST_F(Options, AFailingInputLeavesTheOthersProcessed)
{
    const std::vector<int32_t> samples(4000, 200);
    const std::string a = Wav("a.wav", 2, 48000, 16, samples);
    const std::string c = Wav("c.wav", 1, 48000, 24, samples);
    const std::string three = Wav("three.wav", 3, 48000, 16, std::vector<int32_t>(3000, 1));
    WriteFileBytes(dir.File("double.wav"),
                   PcmWav(1, 48000, 64, std::string(800, '\0'), 3)); // 64-bit float
    WriteFileBytes(dir.File("text.wav"), "not a WAV file at all");
    const ProcessResult r = Sigrun({"-m", "invert", a, dir.File("missing.wav"), three,
                                    dir.File("double.wav"), dir.File("text.wav"), c},
                                   2);
    EXPECT_TRUE(ParseWav(ReadFileBytes(dir.File("a_inv.wav"))).ok);
    EXPECT_TRUE(ParseWav(ReadFileBytes(dir.File("c_inv.wav"))).ok);
    for (const char* failed : {"missing", "three", "double", "text"})
    {
        EXPECT_NE(r.err.find(dir.File(failed) + ".wav"), std::string::npos) << failed;
        EXPECT_FALSE(FileExists(dir.File(failed) + "_inv.wav")) << failed;
    }
    EXPECT_EQ(Lines(r.err), 4 + 2) << r.err; // four failures, two summaries
}

TEST_F(Options, NoClobberKeepsAnExistingOutput)
{
    const std::string in = Wav("in.wav", 2, 48000, 16, std::vector<int32_t>(2000, 100));
    WriteFileBytes(dir.File("in_inv.wav"), "keep me");
    ProcessResult r = Sigrun({"-n", "-m", "invert", in}, 2);
    EXPECT_EQ(ReadFileBytes(dir.File("in_inv.wav")), "keep me");
    EXPECT_EQ(Lines(r.err), 1);
    EXPECT_NE(r.err.find("in_inv.wav"), std::string::npos) << r.err;

    // A dangling link is kept as well: the output would go where it points.
    std::filesystem::create_symlink(dir.File("elsewhere.wav"), dir.File("link.wav"));
    Sigrun({"-n", "-m", "invert", "-o", dir.File("link.wav"), in}, 2);
    EXPECT_FALSE(FileExists(dir.File("elsewhere.wav")));

    // Without -n the output is replaced.
    Sigrun({"-Q", "-m", "invert", in});
    EXPECT_TRUE(ParseWav(ReadFileBytes(dir.File("in_inv.wav"))).ok);
}

TEST_F(Options, OutputNamesAFileOrAFolder)
{
    const std::vector<int32_t> samples(2000, 100);
    const std::string a = Wav("a.wav", 2, 48000, 16, samples);
    const std::string b = Wav("b.wav", 2, 48000, 16, samples);
    std::filesystem::create_directory(dir.File("out"));

    Sigrun({"-Q", "-m", "invert", "-o", dir.File("chosen.wav"), a});
    EXPECT_TRUE(ParseWav(ReadFileBytes(dir.File("chosen.wav"))).ok);
    EXPECT_FALSE(FileExists(dir.File("a_inv.wav")));

    Sigrun({"-Q", "-m", "invert", "-o", dir.File("out"), a, b});
    EXPECT_TRUE(FileExists(dir.File("out/a_inv.wav")));
    EXPECT_TRUE(FileExists(dir.File("out/b_inv.wav")));

    // The output is never the input, whatever it is called.
    const std::string original = ReadFileBytes(a);
    ProcessResult r = Sigrun({"-m", "invert", "-o", dir.Path() + "/./a.wav", a}, 2);
    EXPECT_NE(r.err.find("input file itself"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(a), original);

    // Two inputs of one name in different folders would write one output: the second is refused
    // and the first one's output stays.
    std::filesystem::create_directory(dir.File("other"));
    const std::string sameName = Wav("other/a.wav", 2, 48000, 16, std::vector<int32_t>(2000, -7));
    std::filesystem::remove(dir.File("out/a_inv.wav"));
    r = Sigrun({"-Q", "-m", "invert", "-o", dir.File("out"), a, sameName}, 2);
    EXPECT_NE(r.err.find("already written"), std::string::npos) << r.err;
    Sigrun({"-Q", "-m", "invert", "-o", dir.File("first.wav"), a});
    EXPECT_EQ(ReadFileBytes(dir.File("out/a_inv.wav")), ReadFileBytes(dir.File("first.wav")));
}

TEST_F(Options, SummaryLineCountsFramesAndQuietSilencesIt)
{
    const std::string in = Wav("in.wav", 2, 48000, 16, std::vector<int32_t>(5000, 100));
    ProcessResult r = Sigrun({"-m", "invert", in});
    // "sigrun: wrote 'NAME': 2500 samples in, 2500 samples out, S.SS s, 0 samples at full ..."
    const std::string head =
        "sigrun: wrote '" + dir.File("in_inv.wav") + "': 2500 samples in, 2500 samples out, ";
    const std::string tail = " s, 0 samples at full scale (clipped)\n";
    ASSERT_GT(r.err.size(), head.size() + tail.size()) << r.err;
    EXPECT_EQ(r.err.substr(0, head.size()), head);
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    const std::string seconds = r.err.substr(head.size(), r.err.size() - head.size() - tail.size());
    EXPECT_EQ(seconds.find_first_not_of("0123456789."), std::string::npos) << seconds;
    EXPECT_EQ(seconds.size() - seconds.find('.'), 3u) << seconds; // two decimals

    const std::string mono = Wav("mono.wav", 1, 44100, 16, std::vector<int32_t>(4410, 0));
    r = Sigrun({"-m", "iq", "-q", "low", mono});
    const WavInfo iq = ParseWav(ReadFileBytes(dir.File("mono_iq2r.wav")));
    ASSERT_TRUE(iq.ok);
    const std::string frames = std::to_string(iq.data.size() / 4); // I/Q pairs of 16 bits
    EXPECT_NE(r.err.find("4410 samples in, " + frames + " samples out"), std::string::npos)
        << r.err;

    r = Sigrun({"-Q", "-m", "invert", in});
    EXPECT_EQ(r.err, "");
    // Not a terminal: no progress line, however long the file.
    const std::string big = Wav("big.wav", 2, 48000, 16, std::vector<int32_t>(2000000, 5));
    r = Sigrun({"-m", "invert", big});
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_EQ(Lines(r.err), 1);
}

TEST_F(Options, ClippedSamplesAreCountedInEveryIntegerWidth)
{
    // A tone at half scale amplified four times: most of it lands on the ends of the range.
    for (auto [bits, scale] : {std::pair{8, 1.0 / 256}, {16, 1.0}, {24, 256.0}, {32, 65536.0}})
    {
        SCOPED_TRACE(bits);
        std::vector<int32_t> samples;
        // Long enough that the fast filter's wait for whole hops leaves most of it.
        for (float v : ComplexTone(12000, 3000, 48000, 16000.0 * scale))
            samples.push_back(static_cast<int32_t>(std::lrint(v)));
        const std::string in = Wav("c.wav", 2, 48000, static_cast<uint16_t>(bits), samples);
        const ProcessResult r = Sigrun({"-m", "convert", "-f", "0", "-b", "20k", "-a", "4", in});
        const WavInfo out = ParseWav(ReadFileBytes(dir.File("c_if.wav")));
        ASSERT_TRUE(out.ok);
        const double low = bits == 8 ? -128.0 : -std::ldexp(1.0, bits - 1);
        const double high = bits == 8 ? 127.0 : std::ldexp(1.0, bits - 1) - 1;
        long long atEnds = 0;
        for (double v : SampleValues(out))
            atEnds += v == low || v == high;
        EXPECT_GT(atEnds, 4000);
        EXPECT_LT(atEnds, 24000);
        EXPECT_NE(r.err.find(", " + std::to_string(atEnds) + " samples at full scale (clipped)"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(Options, InfoTellsFormatAndLengthWithoutProcessing)
{
    const std::string a = Wav("a.wav", 2, 48000, 16, std::vector<int32_t>(9600, 1));
    const std::string b = FloatWav("b.wav", 1, 8000, std::vector<float>(2000, 0.5f));
    const std::string c = Wav("c.wav", 1, 11025, 8, std::vector<int32_t>(11025 * 2 + 1, 0));
    const std::string d = Wav("d.wav", 3, 1000, 24, std::vector<int32_t>(3 * 1500, 0));
    const std::set<std::string> before = Listing(dir.Path());
    ProcessResult r = RunSigrun({"--info", a, b, dir.File("missing.wav"), c, d}, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out,
              a + ": integer PCM, 16 bits, 2 channels (I/Q), 48000 Hz, 0.100 s, 4800 samples\n" +
                  b + ": float, 32 bits, 1 channel (real), 8000 Hz, 0.250 s, 2000 samples\n" + c +
                  ": integer PCM, 8 bits, 1 channel (real), 11025 Hz, 2.000 s, 22051 samples\n" +
                  d + ": integer PCM, 24 bits, 3 channels, 1000 Hz, 1.500 s, 1500 samples\n");
    EXPECT_EQ(Lines(r.err), 1);
    EXPECT_NE(r.err.find("missing.wav"), std::string::npos);
    EXPECT_EQ(Listing(dir.Path()), before);

    r = RunSigrun({"-i", a}, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(Options, FloatFilesGiveTheSignalOfSixteenBitOnes)
{
    // The same samples as 16-bit integers and as floats of full scale 1: the processing is the
    // same up to a power of two, so each float output is the integer one before its rounding.
    const std::vector<int32_t> iq = StationsIq(12000, 48000, 1.0);
    const std::vector<int32_t> real = RealSignal(24000, 48000);
    auto floats = [](const std::vector<int32_t>& v) {
        std::vector<float> f;
        for (int32_t x : v)
            f.push_back(static_cast<float>(x) / 32768.0f);
        return f;
    };
    const std::string iq16 = Wav("iq16.wav", 2, 48000, 16, iq);
    const std::string real16 = Wav("re16.wav", 1, 48000, 16, real);
    const std::string iqF = FloatWav("iqF.wav", 2, 48000, floats(iq));
    const std::string realF = FloatWav("reF.wav", 1, 48000, floats(real));
    struct Case
    {
        std::vector<std::string> options;
        bool realInput;
        bool scaleFree; // demodulated: the output does not follow the input's scale
    } cases[] = {
        {{"-m", "iq"}, true, false},
        {{"-m", "iq", "-q", "low"}, false, false},
        {{"-m", "resample", "-f", "4k", "-r", "8k", "-a", "1"}, false, false},
        {{"-m", "convert", "-f", "-5k", "-b", "4k", "-a", "2"}, false, false},
        {{"-m", "invert"}, false, false},
        {{"-m", "am", "-f", "4k", "-r", "12k", "-a", "10000"}, false, true},
        {{"-m", "fm", "-f", "-5k", "-r", "12k", "-a", "20000"}, false, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.options[1]);
        std::vector<std::string> args = c.options;
        args.push_back("-Q");
        args.push_back("-o");
        args.push_back(dir.File("int.wav"));
        args.push_back(c.realInput ? real16 : iq16);
        Sigrun(args);
        args.back() = c.realInput ? realF : iqF;
        args[args.size() - 2] = dir.File("float.wav");
        Sigrun(args);

        const WavInfo ints = ParseWav(ReadFileBytes(dir.File("int.wav")));
        const WavInfo floatsOut = ParseWav(ReadFileBytes(dir.File("float.wav")));
        ASSERT_TRUE(ints.ok && floatsOut.ok);
        EXPECT_EQ(floatsOut.tag, 3);
        EXPECT_EQ(floatsOut.bits, 32);
        EXPECT_EQ(floatsOut.channels, ints.channels);
        EXPECT_EQ(floatsOut.rate, ints.rate);
        EXPECT_EQ(floatsOut.blockAlign, 4 * ints.channels);
        const std::vector<double> expected = SampleValues(ints);
        const std::vector<float> got = FloatValues(floatsOut);
        ASSERT_EQ(got.size(), expected.size());
        const double scale = c.scaleFree ? 1.0 : 32768.0;
        double worst = 0;
        double peak = 0;
        for (std::size_t i = 0; i < got.size(); ++i)
        {
            worst = std::max(worst, std::fabs(got[i] * scale - expected[i]));
            peak = std::max(peak, std::fabs(expected[i]));
        }
        EXPECT_LE(worst, 1.0); // the integer output's rounding
        EXPECT_GT(peak, 1000.0);
    }

    // The extensible float format is float all the same.
    const std::string body = StoreFloats(floats(iq));
    WriteFileBytes(dir.File("ext.wav"), RiffFile(Chunk("fmt ", ExtensibleFormat(3, 2, 48000, 32)) +
                                                 Chunk("data", body)));
    Sigrun({"-Q", "-m", "invert", "-o", dir.File("ext_out.wav"), dir.File("ext.wav")});
    Sigrun({"-Q", "-m", "invert", "-o", dir.File("plain_out.wav"), iqF});
    EXPECT_EQ(ReadFileBytes(dir.File("ext_out.wav")), ReadFileBytes(dir.File("plain_out.wav")));

    // Floats beyond 1 are not clipped, and the summary counts none.
    const ProcessResult loud = Sigrun(
        {"-m", "convert", "-f", "0", "-b", "20k", "-a", "100", "-o", dir.File("loud.wav"), iqF});
    EXPECT_NE(loud.err.find(", 0 samples at full scale"), std::string::npos) << loud.err;
}

TEST_F(Options, ProgressShowsOnATerminalAndIsWipedAtTheEnd)
{
    const std::string in = Wav("long.wav", 2, 2400000, 16, std::vector<int32_t>(2 * 2400000, 0));
    const TerminalRun run = RunWithStderrOnTerminal({"-m", "iq", in});
    ASSERT_EQ(run.status, 0) << run.screen;
    // The summary comes last, on a line of its own after the progress was blanked out.
    const std::size_t summary = run.screen.find("sigrun: wrote ");
    ASSERT_NE(summary, std::string::npos) << run.screen;
    const std::string progress = run.screen.substr(0, summary);
    if (run.seconds > 0.5) // the line shows after a quarter of a second
    {
        EXPECT_NE(progress.find("%  "), std::string::npos) << progress;
        EXPECT_NE(progress.find(" M samples/s  "), std::string::npos) << progress;
        EXPECT_NE(progress.find(" left"), std::string::npos) << progress;
    }
    if (!progress.empty())
    {
        ASSERT_EQ(progress.back(), '\r');
        const std::size_t wipe = progress.rfind('\r', progress.size() - 2);
        ASSERT_NE(wipe, std::string::npos);
        EXPECT_EQ(progress.find_first_not_of(' ', wipe + 1), progress.size() - 1) << progress;
    }
    EXPECT_EQ(run.screen.find('\n'), run.screen.size() - 1); // one line end: the summary's

    const TerminalRun quiet = RunWithStderrOnTerminal({"-Q", "-m", "iq", "-q", "low", in});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.screen, "");
}

TEST_F(Options, NothingIsReadFromStandardInput)
{
    // Answers on stdin are not taken as a dialogue's; the run ends on its own.
    const std::string in = Wav("in.wav", 2, 48000, 16, std::vector<int32_t>(2000, 100));
    ProcessOptions options;
    options.timeoutSeconds = 20;
    const ProcessResult r = RunSigrun({"-Q", "-m", "invert", in}, "7\n1\n", options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(FileExists(dir.File("in_inv.wav")));
}

TEST_F(Options, MissingLibraryFailsBeforeAnyFile)
{
    const std::string in = Wav("in.wav", 2, 48000, 16, std::vector<int32_t>(2000, 100));
    std::filesystem::create_directories(dir.File("bin"));
    std::filesystem::copy_file(SIGRUN_PATH, dir.File("bin/sigrun"));
    const ProcessResult r = RunProcess(dir.File("bin/sigrun"), {"-m", "invert", in}, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Lines(r.err), 1);
    EXPECT_NE(r.err.find("libsigkit.so"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(dir.File("in_inv.wav")));
}

TEST(OptionTexts, HelpAndManualShowEveryOptionAndAnExamplePerMode)
{
    const ProcessResult help = RunSigrun({"--help"}, "");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    const std::string manual = ReadFileBytes(SIGRUN_MANUAL_PATH);
    ASSERT_FALSE(manual.empty());
    for (const char* option : {"mode", "frequency", "rate", "band", "amplify", "quality", "output",
                               "no-clobber", "quiet", "info", "help", "version"})
    {
        EXPECT_NE(help.out.find(std::string("--") + option), std::string::npos) << option;
        std::string roff; // roff writes each minus as "\-"
        for (char ch : std::string("--") + option)
            roff += ch == '-' ? std::string("\\-") : std::string(1, ch);
        EXPECT_NE(manual.find(roff), std::string::npos) << option;
    }
    for (const char* mode : {"iq", "resample", "convert", "invert", "am", "fm"})
    {
        EXPECT_NE(help.out.find(std::string("  sigrun -m ") + mode + " "), std::string::npos)
            << mode;
        EXPECT_NE(manual.find(std::string("sigrun \\-m ") + mode + " "), std::string::npos) << mode;
    }
    EXPECT_NE(help.out.find("parallel sigrun"), std::string::npos);
    std::size_t lineStart = 0;
    for (std::size_t end; (end = help.out.find('\n', lineStart)) != std::string::npos;
         lineStart = end + 1)
        EXPECT_LE(end - lineStart, 79u) << help.out.substr(lineStart, end - lineStart);
    EXPECT_NE(manual.find("parallel sigrun"), std::string::npos);

    const ProcessResult version = RunSigrun({"--version"}, "");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("sigrun ", 0), 0u) << version.out;
    EXPECT_EQ(version.out.find_first_not_of("0123456789.", 7), version.out.size() - 1)
        << version.out;
    EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '.'), 2) << version.out;
}

TEST(OptionTexts, InstallPutsTheManualPage)
{
    TempDir prefix;
    const ProcessResult r =
        RunProcess(CMAKE_COMMAND, {"--install", PROJECT_BINARY_DIR, "--prefix", prefix.Path()}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(prefix.File("share/man/man1/sigrun.1")),
              ReadFileBytes(SIGRUN_MANUAL_PATH));
    EXPECT_TRUE(FileExists(prefix.File("bin/sigrun")));
}

TEST_F(Options, BatchThroughGnuParallel)
{
    std::string parallel;
    for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
        if (access((std::string(folder) + "parallel").c_str(), X_OK) == 0)
            parallel = std::string(folder) + "parallel";
    if (parallel.empty())
        GTEST_SKIP() << "GNU parallel is not installed";
    std::vector<std::string> inputs;
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        inputs.push_back(Wav(name, 2, 48000, 16, StationsIq(4800, 48000, 1.0)));
    std::vector<std::string> args = {"--will-cite", SIGRUN_PATH, "-Q",  "-m", "fm",    "-f",
                                     "-5k",         "-r",        "12k", "-a", "20000", ":::"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const ProcessResult r = RunProcess(parallel, args, "");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string one = ReadFileBytes(dir.File("a_fmdem.wav"));
    EXPECT_GT(one.size(), 334u);
    EXPECT_EQ(ReadFileBytes(dir.File("b_fmdem.wav")), one);
    EXPECT_EQ(ReadFileBytes(dir.File("c_fmdem.wav")), one);
}
