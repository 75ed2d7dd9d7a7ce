// What sigrun holds while it works: descriptors at exit, and memory that does not grow with the
// input. The multi-gigabyte runs are opt-in (SIGKIT_LARGE_TESTS=1): they write gigabytes.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sigtest;

namespace {

bool LargeTestsWanted()
{
    const char* wanted = std::getenv("SIGKIT_LARGE_TESTS");
    return wanted != nullptr && std::string(wanted) == "1";
}

// A stereo 16-bit file whose data chunk holds `bytes` bytes, written sparse: only the header and
// the last byte take disk space; the samples read as zeros.
std::string SparseWav(const TempDir& dir, const std::string& name, uint64_t bytes, bool rf64)
{
    std::string header;
    if (rf64)
    {
        std::string ds64;
        PutU64(ds64, 4 + 36 + 24 + 8 + bytes);
        PutU64(ds64, bytes);
        PutU64(ds64, bytes / 4);
        PutU32(ds64, 0);
        header = "RF64";
        PutU32(header, 0xFFFFFFFF);
        header += "WAVE" + Chunk("ds64", ds64) + Chunk("fmt ", FormatBody(1, 2, 48000, 16));
        header += "data";
        PutU32(header, 0xFFFFFFFF);
    }
    else
        header = RiffFile(Chunk("fmt ", FormatBody(1, 2, 48000, 16)) +
                          ChunkDeclared("data", static_cast<uint32_t>(bytes), ""),
                          static_cast<int64_t>(36 + bytes));
    const std::string path = dir.File(name);
    WriteFileBytes(path, header);
    const int fd = open(path.c_str(), O_WRONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(header.size() + bytes)), 0);
    close(fd);
    return path;
}

// The last progress count sigrun printed.
std::string LastCount(const std::string& out)
{
    const std::size_t end = out.rfind('\r');
    if (end == std::string::npos)
        return "";
    const std::size_t start = out.rfind('\r', end - 1);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

} // namespace

TEST(Resources, NoDescriptorLeftOpenAtExit)
{
#ifdef SIGKIT_SANITIZED
    GTEST_SKIP() << "valgrind does not run sanitized programs";
#endif
    if (access("/usr/bin/valgrind", X_OK) != 0)
        GTEST_SKIP() << "valgrind is not installed";
    TempDir dir;
    const std::string input = dir.File("in.wav");
    WriteFileBytes(input, PcmWav(2, 8000, 16, std::string(4000, '\x01')));
    ProcessOptions options;
    options.timeoutSeconds = 120;
    for (const char* answers : {"4\n", "7\n"})
    {
        const ProcessResult r = RunProcess("/usr/bin/valgrind",
                                           {"--track-fds=yes", "--error-exitcode=99", SIGRUN_PATH, input},
                                           answers, options);
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_NE(r.err.find("FILE DESCRIPTORS:"), std::string::npos) << r.err;
        // Every descriptor open at exit was there when the program started.
        const std::regex opened("Open (file descriptor|AF_UNIX socket) [0-9]+:[^\n]*\n==[0-9]+==    ([^\n]*)");
        for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), opened); it != std::sregex_iterator(); ++it)
            EXPECT_EQ((*it)[2].str(), "<inherited from parent>") << (*it)[0].str();
        // And every allocation was released.
        EXPECT_NE(r.err.find("All heap blocks were freed"), std::string::npos) << r.err;
    }
}

// Under valgrind the processor offers no AVX-512, so the program runs other kernel variants (and
// must not touch an instruction it lacks); the output file must still be the same to the bit.
TEST(Resources, OutputIsTheSameWithOtherKernelVariants)
{
#ifdef SIGKIT_SANITIZED
    GTEST_SKIP() << "valgrind does not run sanitized programs";
#endif
    if (access("/usr/bin/valgrind", X_OK) != 0)
        GTEST_SKIP() << "valgrind is not installed";
    TempDir dir;
    std::vector<int32_t> samples;
    for (int n = 0; n < 12000; ++n)
    {
        const double envelope = 8000.0 * (1.0 + 0.5 * std::sin(n * 0.13));
        samples.push_back(static_cast<int32_t>(envelope * std::cos(n * 0.9)));
        samples.push_back(static_cast<int32_t>(envelope * std::sin(n * 0.9)));
    }
    const std::string input = dir.File("in.wav");
    WriteFileBytes(input, PcmWav(2, 48000, 16, StoreSamples(samples, 16)));
    ProcessOptions options;
    options.timeoutSeconds = 300;
    for (const std::string answers : {"5\n6875\n12000\n20000\n2\n", "3\n-3000\n8000\n1\n3\n",
                                      "6\n6875\n11025\n9000\n1\n"})
    {
        SCOPED_TRACE(answers);
        const std::string output = dir.File(answers[0] == '5' ? "in_amdem.wav"
                                            : answers[0] == '3' ? "in_if.wav" : "in_fmdem.wav");
        ASSERT_EQ(RunSigrun({input}, answers).status, 0);
        const std::string native = ReadFileBytes(output);
        const ProcessResult r = RunProcess("/usr/bin/valgrind", {"--error-exitcode=99", SIGRUN_PATH, input},
                                           answers, options);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_GT(native.size(), 1000u);
        EXPECT_TRUE(ReadFileBytes(output) == native);
    }
}

TEST(Resources, MemoryStaysFlatPastTwoGigabytes)
{
    if (!LargeTestsWanted())
        GTEST_SKIP() << "set SIGKIT_LARGE_TESTS=1 to process a 2.25 GiB input";
    TempDir dir;
    const std::string small = SparseWav(dir, "small.wav", 1 << 20, false);
    const uint64_t large = 0x90000000ull; // 2.25 GiB
    const std::string big = SparseWav(dir, "big.wav", large, false);
    ProcessOptions options;
    options.timeoutSeconds = 1200;
    // On one thread and on two (whose buffers cost the same for any length).
    for (const char* threads : {"1", "2"})
    {
        setenv("SIGKIT_THREADS", threads, 1);
        const ProcessResult tiny = RunSigrun({small}, "2\n0\n12000\n1\n1\n", options);
        const ProcessResult r = RunSigrun({big}, "2\n0\n12000\n1\n1\n", options);
        unsetenv("SIGKIT_THREADS");
        ASSERT_EQ(tiny.status, 0) << tiny.err;
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(LastCount(r.out), std::to_string(large));
        EXPECT_LE(r.maxRssKb, tiny.maxRssKb * 11 / 10)
            << threads << " thread(s), small " << tiny.maxRssKb << " kB";
        std::printf(
            "peak resident memory, %s thread(s): 1 MiB input %ld kB, 2.25 GiB input %ld kB\n",
            threads, tiny.maxRssKb, r.maxRssKb);
        const WavInfo head = ParseWav(ReadFileHead(dir.File("big_resampl.wav"), 334));
        EXPECT_EQ(head.rate, 12000u);
    }
}

TEST(Resources, OutputPastFourGigabytesIsRf64)
{
    if (!LargeTestsWanted())
        GTEST_SKIP() << "set SIGKIT_LARGE_TESTS=1 to write a 4.5 GiB output";
    TempDir dir;
    const uint64_t large = 0x120000000ull; // 4.5 GiB of samples, past any 32-bit size
    const std::string big = SparseWav(dir, "huge.wav", large, true);
    ProcessOptions options;
    options.timeoutSeconds = 1800;
    const ProcessResult r = RunSigrun({big}, "4\n", options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LastCount(r.out), std::to_string(large));
    const std::string out = dir.File("huge_inv.wav");
    const std::string header = ReadFileHead(out, 334);
    ASSERT_EQ(header.substr(0, 4), "RF64");
    EXPECT_EQ(header.substr(12, 4), "ds64");
    EXPECT_EQ(GetU32(header, 28) | (static_cast<uint64_t>(GetU32(header, 32)) << 32), large);
    if (access("/usr/bin/soxi", X_OK) == 0)
    {
        const ProcessResult soxi = RunProcess("/usr/bin/soxi", {"-s", out}, "");
        EXPECT_EQ(soxi.out, std::to_string(large / 4) + "\n") << soxi.err;
    }
}
