// sigrun's outputs as a user relies on them: a run stopped by a signal, killed, or racing another
// run never leaves a false file under the output name. Runs last over a second (high-quality
// convert of a large generated recording), so that signals land mid-file.
#include "support/Process.h"
#include "support/SameBytes.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace sigtest;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kHeaderBytes = 334; // the header of the library's own files
constexpr std::size_t kFrameBytes = 4;    // 16-bit I/Q

// The convert that every long run here makes: at high quality over a second on the recording;
// runs that go to the end take low quality, three times faster.
std::vector<std::string> Convert(const std::string& gain, const std::string& quality = "high")
{
    return {"-Q", "-m", "convert", "-f", "100k", "-b", "50k", "-a", gain, "-q", quality};
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Names in the folder, dot files included.
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The temporary file that a run writes beside `output`, "" while there is none.
std::string Temporary(const std::string& folder, const std::string& output)
{
    for (const std::string& name : Names(folder))
        if (name.rfind("." + output + ".", 0) == 0)
            return folder + "/" + name;
    return "";
}

// Waits until the run has written `bytes` into its temporary file beside folder/output; false when
// the run ended first.
bool WaitForBytes(const RunningProcess& run, const std::string& folder, const std::string& output,
                  uintmax_t bytes)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline)
    {
        const std::string temporary = Temporary(folder, output);
        std::error_code error;
        if (!temporary.empty() && fs::file_size(temporary, error) >= bytes && !error)
            return true;
        siginfo_t ended{};
        if (waitid(P_PID, static_cast<id_t>(run.Pid()), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            ended.si_pid != 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// A file completed by the library: sizes in the header that match its length. Result: its
// sample frames.
std::size_t TrueHeaderFrames(const std::string& path)
{
    const std::string head = ReadFileHead(path, kHeaderBytes);
    const auto size = static_cast<std::size_t>(fs::file_size(path));
    EXPECT_EQ(head.size(), kHeaderBytes) << path;
    if (head.size() < kHeaderBytes)
        return 0;
    EXPECT_EQ(GetU32(head, 4), size - 8) << path;
    EXPECT_EQ(GetU32(head, kHeaderBytes - 4), size - kHeaderBytes) << path;
    return (size - kHeaderBytes) / kFrameBytes;
}

class OutputSafety : public ::testing::Test
{
protected:
    static void TearDownTestSuite()
    {
        delete shared;
        shared = nullptr;
    }
    // One recording for the tests that need it, made at the first: 16-bit I/Q at 2 MHz, 12 million
    // pseudo-random frames (48 MB).
    static std::string Recording()
    {
        if (shared == nullptr)
        {
            shared = new TempDir;
            std::string samples(12'000'000 * kFrameBytes, '\0');
            uint32_t state = 12345;
            for (std::size_t i = 0; i < samples.size(); i += 2)
            {
                state = state * 1664525u + 1013904223u;
                const auto v =
                    static_cast<int16_t>(static_cast<int32_t>(state >> 16) % 6000 - 3000);
                samples[i] = static_cast<char>(v & 0xFF);
                samples[i + 1] = static_cast<char>((v >> 8) & 0xFF);
            }
            WriteFileBytes(shared->File("rec.wav"), PcmWav(2, 2000000, 16, samples));
        }
        return shared->File("rec.wav");
    }

    // What runs at the gains 1 and 2 (low quality) publish, made once, side by side.
    static const std::string& Reference(const std::string& gain)
    {
        static std::map<std::string, std::string> made;
        if (made.empty())
        {
            const std::string recording = Recording();
            std::vector<std::unique_ptr<RunningProcess>> runs;
            for (const char* g : {"1", "2"})
                runs.push_back(StartSigrun(
                    With(Convert(g, "low"),
                         {"-o", shared->File(std::string("ref") + g + ".wav"), recording})));
            for (const char* g : {"1", "2"})
            {
                const ProcessResult r = runs[static_cast<std::size_t>(g[0] - '1')]->Wait();
                EXPECT_EQ(r.status, 0) << r.err;
                made[g] = ReadFileBytes(shared->File(std::string("ref") + g + ".wav"));
            }
        }
        return made[gain];
    }

    // Runs sigrun, which writes folder/output (holding an earlier output), and stops it mid-file
    // with the signal, and with a second one while it finishes when asked; checks what every
    // stop leaves. Result: the run's stderr.
    std::string StopMidFile(const std::vector<std::string>& args, const std::string& answers,
                            const std::string& folder, const std::string& output, int signal,
                            bool second = false)
    {
        WriteFileBytes(folder + "/" + output, "previous output");
        std::unique_ptr<RunningProcess> run = StartSigrun(args, answers);
        EXPECT_TRUE(WaitForBytes(*run, folder, output, 2'000'000));
        run->Signal(signal);
        if (second)
            run->Signal(signal == SIGTERM ? SIGINT : SIGTERM);
        const ProcessResult r = run->Wait();
        EXPECT_EQ(r.status, 128 + signal) << r.err;
        EXPECT_TRUE(SameBytes(ReadFileBytes(folder + "/" + output), "previous output"));
        EXPECT_EQ(Temporary(folder, output), "");
        return r.err;
    }

    static TempDir* shared;
    TempDir dir;
};

TempDir* OutputSafety::shared = nullptr;

// The one line of a stopped run, and the partial file it names.
void ExpectStopLine(const std::string& err, const char* signalName, const std::string& output,
                    const std::string& partial)
{
    const std::size_t frames = TrueHeaderFrames(partial);
    EXPECT_GT(frames, 0u);
    EXPECT_LT(frames, 12'000'000u);
    EXPECT_EQ(err, std::string("sigrun: interrupted by ") + signalName + ": '" + output +
                       "' left as it was; the " + std::to_string(frames) +
                       " samples written are kept in '" + partial + "'\n");
    const WavInfo parsed = ParseWav(ReadFileBytes(partial));
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.data.size(), frames * kFrameBytes);
}

} // namespace

// --- stop signals
// ----------------------------------------------------------------------------------

TEST_F(OutputSafety, SigtermMidFileKeepsTheOldOutputAndAPartialFile)
{
    const std::string output = dir.File("out.wav");
    const std::string err = StopMidFile(With(Convert("1"), {"-o", output, Recording()}), "",
                                        dir.Path(), "out.wav", SIGTERM);
    ExpectStopLine(err, "SIGTERM", output, dir.File("out.partial.wav"));
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"out.partial.wav", "out.wav"}));
}

// The modes of the sigkit_ interface stop the same way: the old output kept, what was written
// kept with a true header.
TEST_F(OutputSafety, SigintStopsARateChangeTheSameWay)
{
    const std::string output = dir.File("out.wav");
    const std::string err =
        StopMidFile({"-Q", "-m", "rate", "-r", "1.5M", "-o", output, Recording()}, "", dir.Path(),
                    "out.wav", SIGINT);
    ExpectStopLine(err, "SIGINT", output, dir.File("out.partial.wav"));
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"out.partial.wav", "out.wav"}));
}

// A batch stops at the file being processed; a second signal while it finishes changes nothing.
TEST_F(OutputSafety, SigintStopsABatchAtTheInterruptedFile)
{
    const std::string folder = dir.File("audio");
    fs::create_directory(folder);
    fs::create_symlink(Recording(), dir.File("first.wav"));
    fs::create_symlink(Recording(), dir.File("second.wav"));
    const std::string err = StopMidFile(
        With(Convert("1"), {"-o", folder, dir.File("first.wav"), dir.File("second.wav")}), "",
        folder, "first_if.wav", SIGINT, true);
    ExpectStopLine(err, "SIGINT", folder + "/first_if.wav", folder + "/first_if.partial.wav");
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"first_if.partial.wav", "first_if.wav"}));
}

// The dialogue, stopped while it processes: no closing pause, the same partial file.
TEST_F(OutputSafety, SighupStopsTheDialogue)
{
    const std::string input = dir.File("rec.wav");
    fs::create_symlink(Recording(), input);
    const std::string err =
        StopMidFile({input}, "3\n100000\n50000\n1\n3\n", dir.Path(), "rec_if.wav", SIGHUP);
    ExpectStopLine(err, "SIGHUP", dir.File("rec_if.wav"), dir.File("rec_if.partial.wav"));
}

// A killed run leaves only its temporary file, whose header says "length unknown" from the
// start, so that it reads up to what reached it.
TEST_F(OutputSafety, SigkillLeavesOnlyATemporaryFileThatReads)
{
    const std::string output = dir.File("out.wav");
    WriteFileBytes(output, "previous output");
    std::unique_ptr<RunningProcess> run =
        StartSigrun(With(Convert("1"), {"-o", output, Recording()}));
    ASSERT_TRUE(WaitForBytes(*run, dir.Path(), "out.wav", 2'000'000));
    run->Signal(SIGKILL);
    EXPECT_EQ(run->Wait().signal, SIGKILL);
    EXPECT_TRUE(SameBytes(ReadFileBytes(output), "previous output"));
    const std::string temporary = Temporary(dir.Path(), "out.wav");
    ASSERT_FALSE(temporary.empty());
    EXPECT_EQ(Names(dir.Path()).size(), 2u);
    EXPECT_EQ(GetU32(ReadFileHead(temporary, kHeaderBytes), 4), 0xFFFFFFFFu);

    const std::size_t frames = (fs::file_size(temporary) - kHeaderBytes) / kFrameBytes;
    const ProcessResult info = RunSigrun({"-i", temporary}, "");
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.err, ""); // no length declared, so none is missing
    EXPECT_NE(info.out.find(" " + std::to_string(frames) + " samples\n"), std::string::npos)
        << info.out;
}

// --- concurrent runs
// -------------------------------------------------------------------------------

TEST_F(OutputSafety, ConcurrentWritersOfOneOutputLeaveOneWholeResult)
{
    const std::string& first = Reference("1");
    const std::string& second = Reference("2");
    ASSERT_NE(first, second);
    const std::string output = dir.File("out.wav");
    std::unique_ptr<RunningProcess> a =
        StartSigrun(With(Convert("1", "low"), {"-o", output, Recording()}));
    std::unique_ptr<RunningProcess> b =
        StartSigrun(With(Convert("2", "low"), {"-o", output, Recording()}));
    const ProcessResult ra = a->Wait();
    const ProcessResult rb = b->Wait();
    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 0) << rb.err;
    const std::string published = ReadFileBytes(output);
    EXPECT_TRUE(SameBytes(published, published == first ? first : second));
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.wav"});
}

// Of two -n runs one publishes; the other says so and leaves nothing of its own.
TEST_F(OutputSafety, OfTwoNoClobberRunsOnePublishes)
{
    const std::string output = dir.File("out.wav");
    std::unique_ptr<RunningProcess> a =
        StartSigrun(With(Convert("1", "low"), {"-n", "-o", output, Recording()}));
    std::unique_ptr<RunningProcess> b =
        StartSigrun(With(Convert("2", "low"), {"-n", "-o", output, Recording()}));
    const ProcessResult r[2] = {a->Wait(), b->Wait()};
    ASSERT_EQ(r[0].status + r[1].status, 2) << r[0].err << r[1].err;
    const int loser = r[0].status == 2 ? 0 : 1;
    EXPECT_EQ(r[1 - loser].err, "");
    EXPECT_EQ(r[loser].err, "sigrun: output '" + output +
                                "' was made by another run meanwhile and --no-clobber keeps it; "
                                "nothing of this run is kept\n");
    EXPECT_TRUE(SameBytes(ReadFileBytes(output), Reference(loser == 0 ? "2" : "1")));
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"out.wav"});
}

// --- names and inputs
// ------------------------------------------------------------------------------

TEST_F(OutputSafety, LinkAtTheOutputNameIsReplacedNotFollowed)
{
    const std::string input = dir.File("in.wav");
    WriteFileBytes(input, PcmWav(2, 8000, 16, std::string(4000, '\x11')));
    WriteFileBytes(dir.File("target"), "the link's target");
    fs::create_symlink(dir.File("target"), dir.File("in_inv.wav"));
    fs::create_symlink(dir.File("missing"), dir.File("dangling.wav"));
    for (const char* output : {"in_inv.wav", "dangling.wav"})
    {
        SCOPED_TRACE(output);
        const ProcessResult r =
            RunSigrun({"-Q", "-m", "invert", "-o", dir.File(output), input}, "");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(fs::is_symlink(dir.File(output)));
        EXPECT_EQ(ParseWav(ReadFileBytes(dir.File(output))).data.size(), 4000u);
    }
    EXPECT_EQ(ReadFileBytes(dir.File("target")), "the link's target");
    EXPECT_FALSE(fs::exists(dir.File("missing")));
}

// An input cut off before the run, or truncated while it is read, is processed as far as it
// goes, with one warning that gives both lengths.
TEST_F(OutputSafety, InputShorterThanItsHeaderIsWarnedOf)
{
    const std::string cut = dir.File("cut.wav");
    WriteFileBytes(cut, PcmWav(2, 8000, 16, std::string(4000, '\x22')).substr(0, 44 + 1000));
    ProcessResult r = RunSigrun({"-m", "invert", cut}, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              "sigrun: warning: '" + cut +
                  "' ends before the length its header declares: 250 of 1000 samples were there\n");
    EXPECT_NE(r.err.find("250 samples in, 250 samples out"), std::string::npos) << r.err;

    const std::string shrinking = dir.File("shrinking.wav");
    fs::copy_file(Recording(), shrinking);
    std::unique_ptr<RunningProcess> run =
        StartSigrun(With(Convert("1"), {"-o", dir.File("out.wav"), shrinking}));
    ASSERT_TRUE(WaitForBytes(*run, dir.Path(), "out.wav", 2'000'000));
    fs::resize_file(shrinking, 44 + 6'000'000 * kFrameBytes);
    r = run->Wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "sigrun: warning: '" + shrinking +
                         "' ends before the length its header declares: 6000000 of 12000000 "
                         "samples were there\n");
    TrueHeaderFrames(dir.File("out.wav"));
}

// --- the dialogue's closing pause
// -------------------------------------------------------------------

// On a terminal the dialogue waits for a key at the end; a signal ends the wait, and the
// terminal gets its mode back.
TEST(ClosingPause, EndsOnASignalAndRestoresTheTerminal)
{
    TempDir dir;
    const std::string input = dir.File("in.wav");
    WriteFileBytes(input, PcmWav(2, 8000, 16, std::string(4000, '\x33')));
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    const pid_t pid = fork();
    if (pid == 0)
    {
        setsid();
        dup2(slave, 0);
        dup2(slave, 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(master);
        execl(SIGRUN_PATH, SIGRUN_PATH, input.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_EQ(write(master, "4\n", 2), 2);
    std::string screen;
    char buffer[4096];
    while (screen.find("Press any key") == std::string::npos)
    {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 10000) <= 0)
            break;
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        screen.append(buffer, static_cast<std::size_t>(got));
    }
    ASSERT_NE(screen.find("Press any key"), std::string::npos) << screen;
    // The output is published before the pause.
    EXPECT_EQ(ParseWav(ReadFileBytes(dir.File("in_inv.wav"))).data.size(), 4000u);
    kill(pid, SIGTERM);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 500 && ended == 0; ++i)
    {
        ended = waitpid(pid, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0)
    {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_NE(ended, 0) << "the pause did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
    close(master);
    close(slave);
}
