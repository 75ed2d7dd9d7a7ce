// A pass on two threads (reading and writing on one, processing on the other) against the same
// pass on one: the same output bytes, the same dialogue counts, the same partial files and lines
// when a write fails or a signal stops it. SIGKIT_THREADS forces either way for each run.
#include "Pipeline.h"
#include "PipelineBatches.h"
#include "PipelineSupport.h"
#include "ProcessingBlock.h"
#include "platform/Threads.h"
#include "support/Process.h"
#include "support/SameBytes.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

using namespace sigtest;
namespace fs = std::filesystem;

namespace {

// Two tones and noise, stored at the given width; I/Q when stereo.
std::string Recording(int channels, uint32_t rate, uint16_t bits, std::size_t frames)
{
    return PipelineRecording(channels, rate, bits, frames, 777, 0.0);
}

// The temporary file a run writes beside folder/output, "" while there is none.
std::string Temporary(const std::string& folder, const std::string& output)
{
    for (const auto& entry : fs::directory_iterator(folder))
    {
        const std::string name = entry.path().filename().string();
        if (name.rfind("." + output + ".", 0) == 0)
            return entry.path().string();
    }
    return "";
}

class PipelineRuns : public ::testing::Test
{
protected:
    // Runs sigrun with the options on one thread and then on two, each into its own output;
    // expects both to succeed. Result: the two outputs.
    std::pair<std::string, std::string> BothWays(const std::vector<std::string>& options,
                                                 const std::string& input)
    {
        std::string outputs[2];
        for (int threads = 1; threads <= 2; ++threads)
        {
            const ThreadsForced forced(threads == 1 ? "1" : "2");
            const std::string output = dir.File("out" + std::to_string(threads) + ".wav");
            std::vector<std::string> args = options;
            args.insert(args.end(), {"-Q", "-o", output, input});
            const ProcessResult r = RunSigrun(args, "");
            EXPECT_EQ(r.status, 0) << threads << " threads: " << r.err;
            EXPECT_EQ(r.err, "") << threads << " threads";
            outputs[threads - 1] = ReadFileBytes(output);
        }
        return {outputs[0], outputs[1]};
    }

    TempDir dir;
};

} // namespace

TEST(PipelineChoice, TheSwitchForcesEitherWayAndOtherwiseTheLengthDecides)
{
    using sigrun::kTwoThreadBytes;
    using sigrun::PumpThreads;
    unsetenv(sigrun::kThreadsVariable);
    const int many = sigrun::platform::UsableProcessors() >= 2 ? 2 : 1;
    EXPECT_EQ(PumpThreads(0), 1);
    EXPECT_EQ(PumpThreads(kTwoThreadBytes - 1), 1);
    EXPECT_EQ(PumpThreads(kTwoThreadBytes), many);
    {
        const ThreadsForced forced("1");
        EXPECT_EQ(PumpThreads(uint64_t{1} << 40), 1);
    }
    {
        const ThreadsForced forced("2");
        EXPECT_EQ(PumpThreads(0), 2);
    }
    for (const char* ignored : {"", "0", "3", "2x", "two"})
    {
        const ThreadsForced forced(ignored);
        EXPECT_EQ(PumpThreads(0), 1) << ignored;
        EXPECT_EQ(PumpThreads(kTwoThreadBytes), many) << ignored;
    }
}

// The processing thread starts off the reading thread's processor and may go anywhere after.
TEST(PipelineChoice, AThreadKeepsOffAProcessorUntilReleased)
{
    std::thread([] {
        cpu_set_t before;
        ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
        const int here = sigrun::platform::CurrentProcessor();
        ASSERT_GE(here, 0);
        {
            sigrun::platform::ProcessorAvoided away(here);
            cpu_set_t during;
            ASSERT_EQ(sched_getaffinity(0, sizeof during, &during), 0);
            if (CPU_COUNT(&before) >= 2)
            {
                EXPECT_FALSE(CPU_ISSET(here, &during));
                EXPECT_EQ(CPU_COUNT(&during), CPU_COUNT(&before) - 1);
                EXPECT_NE(sigrun::platform::CurrentProcessor(), here);
            }
            else // the only processor it has is kept
                EXPECT_TRUE(CPU_EQUAL(&during, &before));
            away.Release();
            cpu_set_t after;
            ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
            EXPECT_TRUE(CPU_EQUAL(&after, &before));
            away.Release(); // twice changes nothing
        }
        // A processor it may not run on anyway, or none, changes nothing either.
        for (const int processor : {-1, CPU_SETSIZE, CPU_SETSIZE + 5})
        {
            const sigrun::platform::ProcessorAvoided away(processor);
            cpu_set_t during;
            ASSERT_EQ(sched_getaffinity(0, sizeof during, &during), 0);
            EXPECT_TRUE(CPU_EQUAL(&during, &before)) << processor;
        }
        cpu_set_t end;
        ASSERT_EQ(sched_getaffinity(0, sizeof end, &end), 0);
        EXPECT_TRUE(CPU_EQUAL(&end, &before));
    }).join();
}

// What a second block is given before a batch: the input's last bytes before it, once there are
// that many; none right after a batch that lent a block (its bytes are not in the copy).
TEST(PipelineBatches, EachBatchIsGivenTheBytesBeforeIt)
{
    using namespace sigrun::pipeline;
    constexpr std::size_t kMemory = 6;
    std::vector<unsigned char> tail;
    unsigned char next = 0;
    const auto fill = [&](Batch& batch, std::size_t bytes, bool lent) {
        batch.in.clear();
        batch.pieces.assign(1, Piece{});
        for (std::size_t i = 0; i < bytes; ++i)
            batch.in.push_back(next++);
        batch.pieces[0].inBytes = static_cast<int32_t>(bytes);
        batch.pieces[0].lent = lent ? batch.in.data() : nullptr;
        KeepTail(batch, tail, kMemory);
    };
    const auto before = [](unsigned char first) {
        std::vector<unsigned char> bytes;
        for (unsigned char b = static_cast<unsigned char>(first - kMemory); b != first; ++b)
            bytes.push_back(b);
        return bytes;
    };
    Batch batch;
    fill(batch, 3, false);
    EXPECT_TRUE(batch.prefix.empty());
    fill(batch, 2, false); // 3 before it
    EXPECT_TRUE(batch.prefix.empty());
    fill(batch, 9, false); // 5 before it
    EXPECT_TRUE(batch.prefix.empty());
    fill(batch, 1, false);
    EXPECT_EQ(batch.prefix, before(14));
    fill(batch, 2, false); // short batches: the tail spans several
    EXPECT_EQ(batch.prefix, before(15));
    fill(batch, 4, true);
    EXPECT_EQ(batch.prefix, before(17));
    fill(batch, 5, false);
    EXPECT_TRUE(batch.prefix.empty());
    fill(batch, 1, false);
    EXPECT_TRUE(batch.prefix.empty());
    fill(batch, 7, false);
    EXPECT_EQ(batch.prefix, before(27));
}

// Only inversion of real integer samples is shared between two blocks: on I/Q a half pair is
// kept across blocks, and on float input non-finite samples are met as the blocks are cut.
TEST(PipelineBatches, InversionSharesOnlyRealIntegerInput)
{
    WavDescription input{};
    input.formatTag = 1;
    input.channels = 1;
    for (const uint16_t bits : {8, 16, 24, 32})
    {
        input.bitsPerSample = bits;
        EXPECT_EQ(sigrun::InvertMemoryBytes(input), 1024u * (bits / 8)) << bits;
    }
    input.channels = 2;
    EXPECT_EQ(sigrun::InvertMemoryBytes(input), 0u);
    input.channels = 1;
    input.formatTag = 3;
    EXPECT_EQ(sigrun::InvertMemoryBytes(input), 0u);
}

// Every mode of the options on a 16-bit I/Q recording of many blocks, and the integer widths
// and real inputs the modes take otherwise.
TEST_F(PipelineRuns, EveryModeWritesTheSameBytesOnTwoThreads)
{
    const std::string iq = dir.File("iq.wav");
    WriteFileBytes(iq, Recording(2, 240000, 16, 700000));
    const std::vector<std::vector<std::string>> modes = {
        {"-m", "iq", "-q", "low"},
        {"-m", "resample", "-f", "21k", "-r", "48000", "-a", "2", "-q", "medium"},
        {"-m", "convert", "-f", "-30k", "-b", "20k", "-a", "40", "-q", "low"},
        {"-m", "invert"},
        {"-m", "am-classic", "-f", "21k", "-r", "12000", "-a", "3", "-q", "low"},
        {"-m", "fm-classic", "-f", "21k", "-r", "12000", "-a", "1", "-q", "low"},
    };
    for (const auto& mode : modes)
    {
        const auto [one, two] = BothWays(mode, iq);
        EXPECT_GT(one.size(), 1000u) << mode[1];
        EXPECT_TRUE(SameBytes(one, two)) << mode[1];
    }
    const std::string real24 = dir.File("real24.wav");
    WriteFileBytes(real24, Recording(1, 96000, 24, 500000));
    for (const auto& mode : {std::vector<std::string>{"-m", "iq", "-q", "medium"},
                             {"-m", "resample", "-f", "0", "-r", "44100", "-a", "1"}})
    {
        const auto [one, two] = BothWays(mode, real24);
        EXPECT_TRUE(SameBytes(one, two)) << mode[1] << " of 24-bit real";
    }
}

// The processing split in two, either way round (or not at all), on the widths and kinds of input
// that can be split and those that cannot (blocks not of whole 24-bit samples, real input): the
// bytes of one thread, and the dialogue's counts as well.
TEST_F(PipelineRuns, EverySplitOfTheProcessingWritesTheSameBytes)
{
    struct Input
    {
        const char* name;
        int channels;
        uint16_t bits;
    };
    const Input inputs[] = {
        {"iq16.wav", 2, 16}, {"iq8.wav", 2, 8}, {"iq24.wav", 2, 24}, {"real16.wav", 1, 16}};
    const std::vector<std::vector<std::string>> modes = {
        {"-m", "resample", "-f", "21k", "-r", "48000", "-a", "2", "-q", "medium"},
        {"-m", "convert", "-f", "-30k", "-b", "20k", "-a", "40", "-q", "high"},
        {"-m", "am-classic", "-f", "21k", "-r", "12000", "-a", "3", "-q", "low"},
        {"-m", "fm-classic", "-f", "21k", "-r", "12000", "-a", "1", "-q", "medium"},
    };
    // Every split and mode on 16-bit I/Q; on the other inputs the processing thread preparing
    // (or refused: 24-bit blocks that are not whole samples, real input).
    for (const Input& input : inputs)
    {
        const std::string file = dir.File(input.name);
        WriteFileBytes(file, Recording(input.channels, 240000, input.bits, 400000));
        const bool every = input.bits == 16 && input.channels == 2;
        for (const char* split : {"reader", "worker", "whole"})
        {
            if (!every && std::string(split) != "worker")
                continue;
            const SplitForced forced(split);
            for (std::size_t m = 0; m < modes.size(); m += every ? 1 : 2)
            {
                const auto [one, two] = BothWays(modes[m], file);
                EXPECT_GT(one.size(), 1000u) << modes[m][1];
                EXPECT_TRUE(SameBytes(one, two))
                    << input.name << " " << modes[m][1] << " " << split;
            }
        }
    }
    // Long enough for the first batches' trial: the split changes after it.
    const std::string longer = dir.File("longer.wav");
    WriteFileBytes(longer, Recording(2, 240000, 16, 1500000));
    for (const auto& [split, mode] : {std::pair{"then-worker", modes[2]}, {"then-whole", modes[0]}})
    {
        const SplitForced forced(split);
        const auto [one, two] = BothWays(mode, longer);
        EXPECT_TRUE(SameBytes(one, two)) << mode[1] << " " << split;
    }
    const std::string input = dir.File("rec.wav");
    WriteFileBytes(input, Recording(2, 240000, 16, 300000));
    std::string out[2];
    for (int threads = 1; threads <= 2; ++threads)
    {
        const ThreadsForced forced(threads == 1 ? "1" : "2");
        const SplitForced split("worker");
        const ProcessResult r = RunSigrun({input}, "5\n21000\n12000\n2\n1\n");
        EXPECT_EQ(r.status, 0) << r.err;
        out[threads - 1] = r.out;
    }
    EXPECT_EQ(out[0], out[1]);
}

// Inversion of a real signal, some batches taken by the reading thread on a block of its own
// (every other one, forced, or the measured share on a longer input), each block first given the
// input before a batch that follows one the other block took: the bytes of one block given all.
TEST_F(PipelineRuns, InversionOnTwoBlocksWritesTheSameBytes)
{
    for (const uint16_t bits : {8, 16, 24, 32})
    {
        const std::string file = dir.File("real" + std::to_string(bits) + ".wav");
        WriteFileBytes(file, Recording(1, 240000, bits, 500000));
        const SplitForced forced("alternate");
        const auto [one, two] = BothWays({"-m", "invert"}, file);
        EXPECT_GT(one.size(), 1000000u);
        EXPECT_TRUE(SameBytes(one, two)) << bits << "-bit";
    }
    const std::string longer = dir.File("longer.wav");
    WriteFileBytes(longer, Recording(1, 240000, 16, 2000000));
    const auto [one, two] = BothWays({"-m", "invert"}, longer);
    EXPECT_TRUE(SameBytes(one, two)) << "the measured share";
}

// Blocks whose output is too large to copy are lent from one thread to the other.
TEST_F(PipelineRuns, OutputsLargerThanABatchHoldsAreWrittenInOrder)
{
    const std::string input = dir.File("slow.wav");
    WriteFileBytes(input, Recording(1, 8000, 16, 20000));
    for (const char* rate : {"1000000", "2000000"})
    {
        const auto [one, two] =
            BothWays({"-m", "resample", "-f", "0", "-r", rate, "-a", "1", "-q", "low"}, input);
        EXPECT_GT(one.size(), 4'000'000u) << rate;
        EXPECT_TRUE(SameBytes(one, two)) << rate;
    }
}

// The dialogue prints the running count after every block to a pipe: the same counts.
TEST_F(PipelineRuns, TheDialoguePrintsTheSameCounts)
{
    const std::string input = dir.File("rec.wav");
    WriteFileBytes(input, Recording(2, 240000, 16, 300000));
    std::string out[2];
    std::string written[2];
    for (int threads = 1; threads <= 2; ++threads)
    {
        const ThreadsForced forced(threads == 1 ? "1" : "2");
        const ProcessResult r = RunSigrun({input}, "5\n21000\n12000\n2\n1\n");
        EXPECT_EQ(r.status, 0) << r.err;
        out[threads - 1] = r.out;
        written[threads - 1] = ReadFileBytes(dir.File("rec_amdem.wav"));
    }
    EXPECT_NE(out[0].find("\r1200000\r"), std::string::npos);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_TRUE(SameBytes(written[0], written[1]));
}

// A write that fails fails at the same block: the same line, the same partial file.
TEST_F(PipelineRuns, AFailedWriteLeavesTheSamePartialFile)
{
    const std::string input = dir.File("big.wav");
    WriteFileBytes(input, Recording(2, 48000, 16, 400000));
    std::string err[2];
    std::string partial[2];
    for (int threads = 1; threads <= 2; ++threads)
    {
        const ThreadsForced forced(threads == 1 ? "1" : "2");
        ProcessOptions options;
        options.fileSizeLimit = 300000;
        const ProcessResult r =
            RunSigrun({"-Q", "-m", "invert", "-o", dir.File("big_inv.wav"), input}, "", options);
        EXPECT_EQ(r.status, 2) << threads << " threads";
        EXPECT_FALSE(FileExists(dir.File("big_inv.wav")));
        err[threads - 1] = r.err;
        partial[threads - 1] = ReadFileBytes(dir.File("big_inv.partial.wav"));
        fs::remove(dir.File("big_inv.partial.wav"));
    }
    EXPECT_NE(err[0].find("': File too large; it is left as it was; the "), std::string::npos)
        << err[0];
    EXPECT_EQ(err[0], err[1]);
    EXPECT_GT(partial[0].size(), 100000u);
    EXPECT_TRUE(SameBytes(partial[0], partial[1]));
}

// An input cut short of its header's length is warned of alike.
TEST_F(PipelineRuns, AnInputCutShortIsWarnedOfAlike)
{
    std::string bytes = Recording(2, 240000, 16, 300000);
    bytes.resize(bytes.size() - 100001);
    const std::string input = dir.File("cut.wav");
    WriteFileBytes(input, bytes);
    std::string err[2];
    for (int threads = 1; threads <= 2; ++threads)
    {
        const ThreadsForced forced(threads == 1 ? "1" : "2");
        const ProcessResult r =
            RunSigrun({"-m", "invert", "-o", dir.File("cut_inv.wav"), input}, "");
        EXPECT_EQ(r.status, 0) << r.err;
        err[threads - 1] = r.err.substr(0, r.err.find("sigrun: wrote"));
    }
    EXPECT_NE(err[0].find("ends before the length its header declares"), std::string::npos)
        << err[0];
    EXPECT_EQ(err[0], err[1]);
}

// A stop signal during a two-thread pass: the output name keeps what it held, the samples
// written are kept with a true header, and the status is 128 + the signal.
TEST_F(PipelineRuns, AStopSignalLeavesThePartialFile)
{
    const std::string input = dir.File("long.wav");
    WriteFileBytes(input, Recording(2, 2000000, 16, 6'000'000));
    const ThreadsForced forced("2");
    for (const int signal : {SIGINT, SIGTERM})
    {
        const std::string output = dir.File("out.wav");
        WriteFileBytes(output, "previous output");
        const auto run = StartSigrun(
            {"-Q", "-m", "convert", "-f", "100k", "-b", "50k", "-a", "1", "-o", output, input});
        // Waits until a few blocks are in the temporary file.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool started = false;
        while (!started && std::chrono::steady_clock::now() < deadline)
        {
            const std::string temporary = Temporary(dir.Path(), "out.wav");
            std::error_code error;
            started = !temporary.empty() && fs::file_size(temporary, error) >= 1'000'000 && !error;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(started);
        run->Signal(signal);
        const ProcessResult r = run->Wait();
        EXPECT_EQ(r.status, 128 + signal) << r.err;
        EXPECT_EQ(ReadFileBytes(output), "previous output");
        const std::string partial = dir.File("out.partial.wav");
        const WavInfo kept = ParseWav(ReadFileBytes(partial));
        ASSERT_TRUE(kept.ok);
        const std::size_t frames = kept.data.size() / 4;
        EXPECT_GT(frames, 0u);
        EXPECT_LT(frames, 6'000'000u);
        EXPECT_EQ(r.err, std::string("sigrun: interrupted by ") +
                             (signal == SIGINT ? "SIGINT" : "SIGTERM") + ": '" + output +
                             "' left as it was; the " + std::to_string(frames) +
                             " samples written are kept in '" + partial + "'\n");
        EXPECT_EQ(Temporary(dir.Path(), "out.wav"), "");
        fs::remove(partial);
    }
}
