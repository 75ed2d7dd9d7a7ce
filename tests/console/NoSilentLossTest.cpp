// sigrun refuses what would silently give nothing or destroy an input: values that can give no
// output, batches whose outputs are their own inputs; an answer read in part is warned of; one
// input of a batch that cannot be named fails alone; a long batch keeps its memory.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using namespace sigtest;

namespace {

int Lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::set<std::string> Listing(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        names.insert(entry.path().string());
    return names;
}

class NoSilentLoss : public ::testing::Test
{
protected:
    std::string Wav(const std::string& name, uint32_t rate, std::size_t pairs = 1000)
    {
        std::vector<int32_t> samples(2 * pairs);
        for (std::size_t n = 0; n < samples.size(); ++n)
            samples[n] = static_cast<int32_t>((n * 7919) % 2000) - 1000;
        const std::string path = dir.File(name);
        WriteFileBytes(path, PcmWav(2, rate, 16, StoreSamples(samples, 16)));
        return path;
    }

    // Runs sigrun and checks that it was refused with one line and created nothing.
    void ExpectRefused(const std::vector<std::string>& args, const std::string& answers,
                       const std::string& reason)
    {
        const std::set<std::string> before = Listing(dir.Path());
        const ProcessResult r = RunSigrun(args, answers);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_EQ(Listing(dir.Path()), before);
    }

    TempDir dir;
};

} // namespace

TEST_F(NoSilentLoss, OutputRatesBeyondTheResamplersReachAreRefusedEverywhere)
{
    const std::string in = Wav("in.wav", 8000, 100);
    const std::string beyond = "is more than 4096 times the input rate of 8000 Hz";
    for (const char* mode : {"resample", "am-classic", "fm-classic"})
        ExpectRefused({"-m", mode, "-f", "0", "-r", "32768002", "-a", "1", in}, "", beyond);
    for (const char* answers : {"2\n0\n32768002\n", "5\n0\n40000000\n", "6\n0\n2147483647\n"})
        ExpectRefused({in}, answers, beyond);

    // The last rate the library takes still gives its samples.
    const ProcessResult r =
        RunSigrun({"-Q", "-m", "resample", "-f", "0", "-r", "32768001", "-a", "1", in}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(ParseWav(ReadFileBytes(dir.File("in_resampl.wav"))).data.size(), 100u * 4 * 4000);
}

TEST_F(NoSilentLoss, BandsWiderThanTheInputRateOrOfNothingAreRefused)
{
    const std::string in = Wav("in.wav", 48000);
    const std::string wider = "is wider than the input rate of 48000 Hz";
    ExpectRefused({"-m", "convert", "-f", "0", "-b", "96k", "-a", "1", in}, "", wider);
    ExpectRefused({in}, "3\n0\n48001\n", wider);
    ExpectRefused({"-m", "convert", "-f", "0", "-b", "0", "-a", "1", in}, "", "--band '0'");
    ExpectRefused({in}, "3\n0\n0\n", "Band '0'");

    // In a batch, a value that one input cannot use refuses the batch before any is processed.
    const std::string fast = Wav("fast.wav", 192000);
    ExpectRefused({"-m", "convert", "-f", "0", "-b", "96k", "-a", "1", fast, in}, "",
                  "--band 96000 for '" + in + "' " + wider);
    // The whole band of the input is kept.
    EXPECT_EQ(RunSigrun({"-Q", "-m", "convert", "-f", "0", "-b", "48k", "-a", "1", in}, "").status,
              0);
}

TEST_F(NoSilentLoss, AnswersReadInPartAreWarnedOfAndKeepTheirValue)
{
    const std::string in = Wav("in.wav", 48000, 4000);
    const ProcessResult clean = RunSigrun({in}, "2\n1000\n12000\n1.5\n2\n");
    ASSERT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.err, "");
    const std::string expected = ReadFileBytes(dir.File("in_resampl.wav"));

    const ProcessResult partly = RunSigrun({in}, "2abc\n1000Hz\n12000 Hz\n1.5x\n2\n");
    ASSERT_EQ(partly.status, 0) << partly.err;
    EXPECT_EQ(partly.out, clean.out); // stdout stays byte for byte
    EXPECT_EQ(ReadFileBytes(dir.File("in_resampl.wav")), expected);
    EXPECT_EQ(partly.err, "sigrun: warning: menu answer '2abc' read as 2: 'abc' is not part of "
                          "the number\n"
                          "sigrun: warning: Frequency '1000Hz' read as 1000: 'Hz' is not part of "
                          "the number\n"
                          "sigrun: warning: SampleRateOut '12000 Hz' read as 12000: ' Hz' is not "
                          "part of the number\n"
                          "sigrun: warning: Amplify '1.5x' read as 1.5: 'x' is not part of the "
                          "number\n");
}

TEST_F(NoSilentLoss, AnOutputThatIsAnotherInputRefusesTheBatch)
{
    const std::string rec = Wav("rec.wav", 48000);
    // Named as an input before it exists: the run would write it, then read it.
    ExpectRefused({"-m", "invert", rec, dir.File("rec_inv.wav")}, "",
                  "output '" + dir.File("rec_inv.wav") + "' of '" + rec + "' is also the input");

    // Existing, by another spelling, by a link, before or after the input it comes from.
    const std::string earlier = Wav("rec_inv.wav", 48000);
    const std::string bytes = ReadFileBytes(earlier);
    std::filesystem::create_directory(dir.File("sub"));
    std::filesystem::create_symlink(earlier, dir.File("link.wav"));
    for (const std::vector<std::string>& inputs : {std::vector<std::string>{rec, earlier},
                                                   {earlier, rec},
                                                   {rec, dir.File("sub/../rec_inv.wav")},
                                                   {rec, dir.Path() + "//./rec_inv.wav"},
                                                   {dir.File("link.wav"), rec}})
    {
        std::vector<std::string> args = {"-m", "invert"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        ExpectRefused(args, "", "of this run, which it would overwrite");
        EXPECT_EQ(ReadFileBytes(earlier), bytes);
    }
    // Through an output folder too.
    std::filesystem::create_directory(dir.File("out"));
    const std::string inOut = Wav("out/rec_inv.wav", 48000);
    ExpectRefused({"-m", "invert", "-o", dir.File("out"), rec, inOut}, "", "is also the input");
}

TEST_F(NoSilentLoss, AnInputNameTooLongFailsThatInputOnly)
{
    const std::string a = Wav("a.wav", 48000);
    const std::string b = Wav("b.wav", 48000);
    std::string deep = dir.Path();
    while (deep.size() < 1100)
        deep += "/.";
    deep += "/a.wav"; // names a.wav, in 1100 characters
    const ProcessResult run = RunSigrun({"-Q", "-m", "invert", a, deep, b}, "");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_NE(run.err.find("is longer than 1023 characters"), std::string::npos) << run.err;
    EXPECT_TRUE(FileExists(dir.File("a_inv.wav")));
    EXPECT_TRUE(FileExists(dir.File("b_inv.wav")));
}

TEST_F(NoSilentLoss, BatchMemoryDoesNotGrowWithTheNumberOfFiles)
{
#ifdef SIGKIT_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocator keeps freed memory in quarantine";
#endif
    // Each file makes the library take and free some megabytes; anything the batch keeps from
    // one file to the next, placed among them, made the heap grow by kilobytes a file.
    // Short names, as a batch run in the recordings' folder has them: the heap's layout depends
    // on the sizes of what is kept, and these made it grow.
    const std::string one = PcmWav(2, 48000, 16, std::string(64, '\x01'));
    std::filesystem::create_directory(dir.File("in"));
    std::filesystem::create_directory(dir.File("out"));
    std::vector<std::string> inputs;
    for (int n = 0; n < 2500; ++n)
    {
        inputs.push_back("in/" + std::to_string(n) + ".wav");
        WriteFileBytes(dir.File(inputs.back()), one);
    }
    auto peak = [&](std::size_t files) {
        std::vector<std::string> args = {SIGRUN_PATH, "-Q", "-m", "resample", "-f",  "0",  "-r",
                                         "12k",       "-a", "1",  "-q",       "low", "-o", "out"};
        args.insert(args.end(), inputs.begin(), inputs.begin() + static_cast<long>(files));
        ProcessOptions options;
        options.timeoutSeconds = 120;
        options.workingDirectory = dir.Path();
        const ProcessResult r = RunProcess(PEAK_RSS_PATH, args, "", options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("peak-rss-kb ", 0), 0u) << r.out;
        return r.out.size() > 12 ? std::stol(r.out.substr(12)) : 0L;
    };
    const long few = peak(250);
    const long many = peak(2500);
    // The names of 2250 more files take about 100 kB; kilobytes kept a file would make megabytes.
    EXPECT_LT(many - few, 512) << few << " kB for 250 files, " << many << " kB for 2500";
}
