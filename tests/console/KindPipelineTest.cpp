// The modes of the sigkit_ interface on two threads (reading and writing on one, decoding and
// processing on the other) against the same runs on one: the same output bytes and summaries, the
// same lines and partial files when a write fails or a signal stops them. And the two-thread pump
// itself, driven directly, when its processing block or its output fails mid-way.
#include "InputFile.h"
#include "LibraryBinding.h"
#include "Pipeline.h"
#include "PipelineSupport.h"
#include "support/Process.h"
#include "support/SameBytes.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace sigtest;
namespace fs = std::filesystem;

namespace {

// A carrier at 21 kHz moved in phase by a 1 kHz tone, a second tone and noise; I/Q when stereo.
std::string Recording(int channels, uint32_t rate, uint16_t bits, std::size_t frames)
{
    return PipelineRecording(channels, rate, bits, frames, 4242, 2.0);
}

// stderr of a run with the time its summaries tell (", 0.80 s,") taken out.
std::string Untimed(std::string err)
{
    for (std::size_t end = err.find(" s,"); end != std::string::npos; end = err.find(" s,", end))
    {
        const std::size_t start = err.rfind(", ", end);
        if (start != std::string::npos && err.find_first_not_of("0123456789.", start + 2) == end)
        {
            err.erase(start + 2, end - start - 2);
            end = start + 2;
        }
        end += 3;
    }
    return err;
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

class KindPipelineRuns : public ::testing::Test
{
protected:
    // Runs sigrun with the options on one thread and then on two, into the same output name;
    // expects both to succeed with the same summary. Result: the two outputs.
    std::pair<std::string, std::string> BothWays(const std::vector<std::string>& options,
                                                 const std::string& input)
    {
        std::string outputs[2];
        std::string summaries[2];
        for (int threads = 1; threads <= 2; ++threads)
        {
            const ThreadsForced forced(threads == 1 ? "1" : "2");
            const std::string output = dir.File("out.wav");
            std::vector<std::string> args = options;
            args.insert(args.end(), {"-o", output, input});
            const ProcessResult r = RunSigrun(args, "");
            EXPECT_EQ(r.status, 0) << threads << " threads: " << r.err;
            outputs[threads - 1] = ReadFileBytes(output);
            summaries[threads - 1] = Untimed(r.err);
            fs::remove(output);
        }
        EXPECT_NE(summaries[0].find("samples out"), std::string::npos) << summaries[0];
        EXPECT_EQ(summaries[0], summaries[1]);
        return {outputs[0], outputs[1]};
    }

    TempDir dir;
};

} // namespace

// Each new mode, and original kinds written in another encoding, on a 16-bit I/Q recording of
// many batches; clipped samples counted alike.
TEST_F(KindPipelineRuns, EveryKindAndEncodingWritesTheSameBytesOnTwoThreads)
{
    const std::string iq = dir.File("iq.wav");
    WriteFileBytes(iq, Recording(2, 240000, 16, 1'500'000));
    const std::vector<std::vector<std::string>> modes = {
        {"-m", "rate", "-r", "48000", "-q", "best"},
        {"-m", "rate", "-r", "44100", "-a", "3", "-q", "low"}, // clips
        {"-m", "channel", "-f", "21k", "-b", "20k", "-e", "f32"},
        {"-m", "am", "-f", "21k", "-e", "u8"},
        {"-m", "fm", "-f", "21k", "-b", "15k"},
        {"-m", "wfm", "-f", "0", "-b", "120k", "-e", "s24"},
        {"-m", "usb", "-f", "20k", "--agc", "off", "-a", "8"},
        {"-m", "cw", "-f", "21k", "-e", "s32"},
        {"-m", "invert", "-e", "f32"},
        {"-m", "convert", "-f", "-30k", "-b", "20k", "-a", "40", "-q", "low", "-e", "u8"},
    };
    for (const auto& mode : modes)
    {
        const auto [one, two] = BothWays(mode, iq);
        EXPECT_GT(one.size(), 10000u) << mode[1];
        EXPECT_TRUE(SameBytes(one, two)) << mode[1] << " " << mode[3];
    }
}

// Real inputs: 24-bit frames that straddle the blocks read, and a rate raised so far that a
// block's output is lent between the threads rather than copied, and written call by call.
TEST_F(KindPipelineRuns, RealInputsOfOtherWidthsAndLargeOutputs)
{
    const std::string real24 = dir.File("real24.wav");
    WriteFileBytes(real24, Recording(1, 96000, 24, 700'000));
    const auto [one, two] = BothWays({"-m", "rate", "-r", "44100", "-e", "f32"}, real24);
    EXPECT_TRUE(SameBytes(one, two)) << "24-bit real";

    const std::string slow = dir.File("slow.wav");
    WriteFileBytes(slow, Recording(1, 8000, 16, 150'000));
    const auto [low, high] = BothWays({"-m", "rate", "-r", "800000", "-q", "low"}, slow);
    EXPECT_GT(low.size(), 20'000'000u);
    EXPECT_TRUE(SameBytes(low, high)) << "rate x100";
}

// An input cut short of its header's length (inside a frame) is processed to its end and warned
// of alike.
TEST_F(KindPipelineRuns, AnInputCutShortGivesTheSameBytesAndWarning)
{
    std::string bytes = Recording(2, 240000, 16, 1'000'000);
    bytes.resize(bytes.size() - 1'000'001);
    const std::string input = dir.File("cut.wav");
    WriteFileBytes(input, bytes);
    for (const auto& mode : {std::vector<std::string>{"-m", "fm", "-f", "21k"},
                             {"-m", "rate", "-r", "100000", "-e", "s16"}})
    {
        const auto [one, two] = BothWays(mode, input);
        EXPECT_GT(one.size(), 10000u) << mode[1];
        EXPECT_TRUE(SameBytes(one, two)) << mode[1];
    }
    const ProcessResult r =
        RunSigrun({"-m", "fm", "-f", "21k", "-o", dir.File("o.wav"), input}, "");
    EXPECT_NE(r.err.find("ends before the length its header declares"), std::string::npos) << r.err;
}

// Standard output is live use, written as it comes whatever SIGKIT_THREADS says: the samples of
// the file run.
TEST_F(KindPipelineRuns, StandardOutputGetsTheSamplesOfTheFileRun)
{
    const std::string input = dir.File("iq.wav");
    WriteFileBytes(input, Recording(2, 240000, 16, 400'000));
    const ThreadsForced forced("2");
    const std::vector<std::string> fm = {"-Q", "-m", "fm", "-f", "21k"};
    std::vector<std::string> toFile = fm;
    toFile.insert(toFile.end(), {"-o", dir.File("fm.wav"), input});
    ASSERT_EQ(RunSigrun(toFile, "").status, 0);
    const WavInfo file = ParseWav(ReadFileBytes(dir.File("fm.wav")));
    ASSERT_TRUE(file.ok);
    std::vector<std::string> toOut = fm;
    toOut.insert(toOut.end(), {"-T", "s16", "-o", "-", input});
    const ProcessResult r = RunSigrun(toOut, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GT(file.data.size(), 10000u);
    EXPECT_TRUE(SameBytes(r.out, file.data));
}

// A write that fails fails at the same call: the same line, the same partial file (what reached
// the disk, with a true header), also where one block's output takes several calls.
TEST_F(KindPipelineRuns, AFailedWriteLeavesTheSamePartialFile)
{
    const std::string input = dir.File("big.wav");
    WriteFileBytes(input, Recording(2, 48000, 16, 400000));
    for (const char* rate : {"96000", "480000"})
    {
        std::string err[2];
        std::string partial[2];
        for (int threads = 1; threads <= 2; ++threads)
        {
            const ThreadsForced forced(threads == 1 ? "1" : "2");
            ProcessOptions options;
            options.fileSizeLimit = 300000;
            const ProcessResult r =
                RunSigrun({"-Q", "-m", "rate", "-r", rate, "-o", dir.File("big_rate.wav"), input},
                          "", options);
            EXPECT_EQ(r.status, 2) << threads << " threads: " << r.err;
            EXPECT_FALSE(FileExists(dir.File("big_rate.wav")));
            err[threads - 1] = r.err;
            partial[threads - 1] = ReadFileBytes(dir.File("big_rate.partial.wav"));
            fs::remove(dir.File("big_rate.partial.wav"));
        }
        EXPECT_EQ(err[0], "sigrun: cannot write '" + dir.File("big_rate.wav") +
                              "': no space left on the device or file too large; it is left as "
                              "it was; what was written is kept in '" +
                              dir.File("big_rate.partial.wav") + "'\n");
        EXPECT_EQ(err[0], err[1]) << rate;
        const WavInfo kept = ParseWav(partial[0]);
        EXPECT_TRUE(kept.ok) << rate;
        EXPECT_GT(kept.data.size(), 200000u) << rate;
        EXPECT_TRUE(SameBytes(partial[0], partial[1])) << rate;
    }
}

// A stop signal during a two-thread run: the output name keeps what it held, the samples written
// are kept with a true header, the line tells their count, and the status is 128 + the signal.
TEST_F(KindPipelineRuns, AStopSignalLeavesThePartialFile)
{
    const std::string input = dir.File("long.wav");
    WriteFileBytes(input, Recording(2, 2000000, 16, 6'000'000));
    const ThreadsForced forced("2");
    for (const int signal : {SIGINT, SIGHUP})
    {
        const std::string output = dir.File("out.wav");
        WriteFileBytes(output, "previous output");
        const auto run =
            StartSigrun({"-Q", "-m", "rate", "-r", "1.5M", "-q", "best", "-o", output, input});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool started = false;
        while (!started && std::chrono::steady_clock::now() < deadline)
        {
            const std::string temporary = Temporary(dir.Path(), "out.wav");
            std::error_code error;
            started = !temporary.empty() && fs::file_size(temporary, error) >= 1'000'000 && !error;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
        EXPECT_LT(frames, 4'500'000u);
        EXPECT_EQ(r.err, std::string("sigrun: interrupted by ") +
                             (signal == SIGINT ? "SIGINT" : "SIGHUP") + ": '" + output +
                             "' left as it was; the " + std::to_string(frames) +
                             " samples written are kept in '" + partial + "'\n");
        EXPECT_EQ(Temporary(dir.Path(), "out.wav"), "");
        fs::remove(partial);
    }
}

namespace {

// Passes each block on as it came, until the block numbered failAt: of that one, half, and the
// failure. Seen by the processing thread only until the pump returns.
class FailingBlock final : public sigrun::ProcessingBlock
{
public:
    explicit FailingBlock(std::size_t failAt) : failAt(failAt) {}
    void Process(const void* in, int32_t inBytes, const void*& out, int32_t& outBytes) override
    {
        EXPECT_EQ(failed, 0) << "a block after the failure";
        const auto* bytes = static_cast<const char*>(in);
        made.assign(bytes, bytes + inBytes);
        if (seen.size() == failAt)
        {
            made.resize(made.size() / 2);
            failed = -5;
        }
        seen.emplace_back(bytes, bytes + inBytes);
        out = made.data();
        outBytes = static_cast<int32_t>(made.size());
    }
    void Release() override {}
    int Failure() const override { return failed; }

    std::vector<std::string> seen;

private:
    std::size_t failAt;
    std::string made;
    int failed = 0;
};

// Keeps what it is given, until the write numbered failAt, which it refuses.
class MemorySink final : public sigrun::BlockSink
{
public:
    explicit MemorySink(std::size_t failAt) : failAt(failAt) {}
    bool Write(const void* block, int32_t bytes, int& error) override
    {
        if (writes++ == failAt)
        {
            error = 77;
            return false;
        }
        kept.append(static_cast<const char*>(block), static_cast<std::size_t>(bytes));
        return true;
    }

    std::string kept;

private:
    std::size_t failAt;
    std::size_t writes = 0;
};

class CountsShown final : public sigrun::PassProgress
{
public:
    void Show(long long bytesIn) override { last = bytesIn; }
    long long last = 0;
};

class DirectPump : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(binding.Load(), 0);
        name = dir.File("in.wav");
        WriteFileBytes(name, Recording(2, 48000, 16, 1'000'000));
    }
    // The two-thread pump over the recording. Result: how it ended.
    sigrun::Pumped Pump(sigrun::ProcessingBlock& block, sigrun::BlockSink& sink,
                        CountsShown& progress)
    {
        sigrun::InputFile input(binding);
        std::string failure;
        EXPECT_TRUE(input.Open(name.c_str(), failure)) << failure;
        const std::optional<sigrun::Pumped> pumped =
            sigrun::PumpTwoThreads(input, block, sink, progress);
        EXPECT_TRUE(pumped.has_value());
        return pumped.value_or(sigrun::Pumped{});
    }

    sigrun::LibraryBinding binding;
    TempDir dir;
    std::string name;
};

} // namespace

// Two threads from the length on, or when forced, and never with a pipe at either end (raw samples
// are read as a stream).
TEST_F(DirectPump, TwoThreadsOnlyForLongFilesAndNeverForPipes)
{
    const std::string raw = dir.File("in.cs16");
    WriteFileBytes(raw, ReadFileBytes(name).substr(44));
    sigrun::InputFile wav(binding);
    sigrun::InputFile stream(binding);
    std::string failure;
    ASSERT_TRUE(wav.Open(name.c_str(), failure)) << failure;
    stream.SetRaw(nullptr, 48000.0);
    ASSERT_TRUE(stream.Open(raw.c_str(), failure)) << failure;
    ASSERT_LT(wav.DeclaredBytes(), sigrun::kTwoThreadBytes);
    unsetenv(sigrun::kThreadsVariable);
    EXPECT_FALSE(sigrun::PumpsOnTwoThreads(wav, "out.wav"));
    {
        const ThreadsForced forced("2");
        EXPECT_TRUE(sigrun::PumpsOnTwoThreads(wav, "out.wav"));
        EXPECT_FALSE(sigrun::PumpsOnTwoThreads(wav, "-"));
        EXPECT_FALSE(sigrun::PumpsOnTwoThreads(stream, "out.wav"));
    }
    const ThreadsForced forced("1");
    EXPECT_FALSE(sigrun::PumpsOnTwoThreads(wav, "out.wav"));
}

// A block the processing fails on ends the pump once the output before the failure is written,
// wherever in a batch it comes; nothing after it is processed or written, nothing waits forever.
TEST_F(DirectPump, AProcessingFailureEndsThePumpAfterTheOutputBeforeIt)
{
    // The blocks read are of 32 KiB, 8 to a batch.
    for (const std::size_t failAt :
         {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{100}})
    {
        FailingBlock block(failAt);
        MemorySink sink(SIZE_MAX);
        CountsShown progress;
        const sigrun::Pumped pumped = Pump(block, sink, progress);
        EXPECT_EQ(pumped.end, sigrun::PumpEnd::ProcessFailed) << failAt;
        EXPECT_EQ(pumped.error, -5) << failAt;
        ASSERT_EQ(block.seen.size(), failAt + 1);
        std::string expected;
        long long before = 0;
        for (std::size_t i = 0; i < failAt; ++i)
        {
            expected += block.seen[i];
            before += static_cast<long long>(block.seen[i].size());
        }
        expected += block.seen[failAt].substr(0, block.seen[failAt].size() / 2);
        EXPECT_TRUE(SameBytes(sink.kept, expected)) << failAt;
        EXPECT_EQ(pumped.bytesIn, before) << failAt;
        EXPECT_EQ(progress.last, before) << failAt;
    }
}

// A write the sink refuses ends the pump with the sink's code, what came before written.
TEST_F(DirectPump, ARefusedWriteEndsThePumpWithTheSinksCode)
{
    for (const std::size_t failAt : {std::size_t{0}, std::size_t{5}, std::size_t{100}})
    {
        FailingBlock block(SIZE_MAX);
        MemorySink sink(failAt);
        CountsShown progress;
        const sigrun::Pumped pumped = Pump(block, sink, progress);
        EXPECT_EQ(pumped.end, sigrun::PumpEnd::WriteFailed) << failAt;
        EXPECT_EQ(pumped.error, 77) << failAt;
        ASSERT_GE(block.seen.size(), failAt + 1);
        std::string expected;
        for (std::size_t i = 0; i < failAt; ++i)
            expected += block.seen[i];
        EXPECT_TRUE(SameBytes(sink.kept, expected)) << failAt;
        EXPECT_EQ(pumped.bytesIn, static_cast<long long>(expected.size())) << failAt;
    }
}
