// sigrun as a process: the report, the menu and every way out of the dialogue.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>

using namespace sigtest;

namespace {

const std::string kMenu = "Select Mode:\r\n"
                          "1 - IQ <--> Real,\r\n"
                          "2 - ReSampling (only downsampling now !!!),\r\n"
                          "3 - Frequency Converting,\r\n"
                          "4 - Spectral Inversion,\r\n"
                          "5 - AM demodulation,\r\n"
                          "6 - FM demodulation,\r\n"
                          "7 - Exit: ";

std::string Report(const std::string& name, const std::string& channels,
                   const std::string& resolution, int rate)
{
    return "File: " + name + "\r\nChannels: " + channels + "\r\nResolution: " + resolution +
           "\r\nSampleRate: " + std::to_string(rate) + "\r\n\n";
}

int Lines(const std::string& text)
{
    int n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

class Dialogue : public ::testing::Test
{
protected:
    std::string Wav(const std::string& name, uint16_t channels, uint32_t rate, uint16_t bits,
                    uint16_t tag = 1)
    {
        const std::string path = dir.File(name);
        WriteFileBytes(path, PcmWav(channels, rate, bits, std::string(48, '\0'), tag));
        return path;
    }

    TempDir dir;
};

} // namespace

TEST_F(Dialogue, ReportAndMenuAreExactForEveryWidth)
{
    struct Case
    {
        uint16_t channels;
        uint16_t bits;
        uint32_t rate;
        const char* channelText;
        const char* resolution;
    } cases[] = {
        {1, 16, 48000, "mono", "16-bit"},
        {2, 16, 96000, "stereo", "16-bit"},
        {1, 8, 8000, "mono", "8-bit"},
        {2, 24, 44100, "stereo", "32-bit (24-bit Packed Int)"},
        {1, 32, 192000, "mono", "32-bit (32-bit Packed Int)"},
    };
    for (const Case& c : cases)
    {
        const std::string path = Wav("in.wav", c.channels, c.rate, c.bits);
        const ProcessResult r = RunSigrun({path}, "7\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, Report(path, c.channelText, c.resolution, static_cast<int>(c.rate)) +
                             kMenu + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(Dialogue, UnsupportedFormatsGetTheMessageAndAFailureStatus)
{
    const std::string cases[] = {
        Wav("float.wav", 2, 48000, 32, 3),
        Wav("three.wav", 3, 48000, 16),
        Wav("twelve.wav", 1, 48000, 12),
        Wav("norate.wav", 1, 0, 16),
    };
    WriteFileBytes(dir.File("raw.bin"), std::string(1000, '\x11')); // headerless: rate 0
    WriteFileBytes(dir.File("short.wav"),
                   RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16).substr(0, 14)) +
                            Chunk("data", "abcd")));
    std::vector<std::string> all(std::begin(cases), std::end(cases));
    all.push_back(dir.File("raw.bin"));
    all.push_back(dir.File("short.wav"));
    for (const std::string& path : all)
    {
        const ProcessResult r = RunSigrun({path}, "7\n");
        EXPECT_EQ(r.out, "Current format of file is not supported\n\n") << path;
        EXPECT_EQ(r.status, 2) << path;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    }
}

TEST_F(Dialogue, AnswersOutsideTheMenuEndWithAStderrLine)
{
    const std::string path = Wav("in.wav", 2, 48000, 16);
    const std::string expected = Report(path, "stereo", "16-bit", 48000) + kMenu + "\n";
    for (const char* answer : {"0\n", "8\n", "-1\n", "\n", "abc\n", ""})
    {
        const ProcessResult r = RunSigrun({path}, answer);
        EXPECT_EQ(r.status, 1) << answer;
        EXPECT_EQ(r.out, expected) << answer;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    }
}

TEST_F(Dialogue, MenuAnswerIsReadAsADecimalNumber)
{
    const std::string path = Wav("in.wav", 2, 48000, 16);
    for (const char* answer : {"   5\n", "5abc\n", "+5\n", "5\r\n"})
    {
        // The AM pass starts with its first prompt; the empty answer to the rate is then refused.
        const ProcessResult r = RunSigrun({path}, answer);
        EXPECT_NE(r.out.find(kMenu + "\nFrequency: \nSampleRateOut: \n"), std::string::npos)
            << answer << r.out;
        EXPECT_EQ(r.status, 1);
    }
    const ProcessResult seven = RunSigrun({path}, "  7 and more\n");
    EXPECT_EQ(seven.status, 0);
}

TEST_F(Dialogue, OnlyTheLastArgumentIsExamined)
{
    const std::string path = Wav("in.wav", 1, 22050, 16);
    const ProcessResult r = RunSigrun({dir.File("never-opened.wav"), path}, "7\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 6 + path.size()), "File: " + path);
}

TEST_F(Dialogue, InputProblemsEndBeforeTheReport)
{
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
    struct Case
    {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 1},
        {{dir.File("missing.wav")}, 2},
        {{dir.Path()}, 2},
        {{dir.File("fifo")}, 2},
        {{std::string(1024, 'n')}, 1},
        {{""}, 1},
    };
    for (const Case& c : cases)
    {
        ProcessOptions options;
        options.timeoutSeconds = 20;
        const ProcessResult r = RunSigrun(c.args, "7\n", options);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(Lines(r.err), 1) << r.err;
    }
}

TEST_F(Dialogue, AnswerLongerThanItsBufferIsRefused)
{
    const std::string path = Wav("in.wav", 1, 22050, 16);
    const ProcessResult r = RunSigrun({path}, std::string(2000, '7') + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("longer than 1023"), std::string::npos) << r.err;
    // 1023 characters fit.
    const ProcessResult fits = RunSigrun({path}, "7" + std::string(1022, ' ') + "\n");
    EXPECT_EQ(fits.status, 0) << fits.err;
}

TEST_F(Dialogue, MissingLibraryIsReported)
{
    const std::string path = Wav("in.wav", 1, 22050, 16);
    std::filesystem::create_directories(dir.File("bin"));
    std::filesystem::copy_file(SIGRUN_PATH, dir.File("bin/sigrun"));
    const ProcessResult r = RunProcess(dir.File("bin/sigrun"), {path}, "7\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("libsigkit.so"), std::string::npos) << r.err;
}
