// Output files through the exports: the output name only ever holds a complete file, a link
// there is replaced and never followed, a run that does not complete leaves a partial file with a
// true header, concurrent writers never mix, and the records that can never work are refused.
#include "sigkit.h"
#include "sigkit_api.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace sigtest;
namespace fs = std::filesystem;

namespace {

WavDescription Output(const std::string& path, uint16_t channels = 1, uint32_t rate = 8000,
                      uint16_t bits = 16, uint16_t tag = 1)
{
    WavDescription d{};
    std::snprintf(d.name, sizeof d.name, "%s", path.c_str());
    d.formatTag = tag;
    d.channels = channels;
    d.sampleRate = rate;
    d.bitsPerSample = bits;
    return d;
}

std::string Pattern(std::size_t n, unsigned seed)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 31 + seed * 101 + (i >> 7)) & 0xFF);
    return bytes;
}

// Writes samples through the exports in blocks of 1200 bytes; the handle stays open.
WavWriteHandle* StartWriting(const std::string& path, const std::string& samples)
{
    WavWriteHandle* handle = nullptr;
    EXPECT_EQ(wav_write_init(Output(path), &handle), 1) << std::strerror(errno);
    for (std::size_t at = 0; handle != nullptr && at < samples.size(); at += 1200)
    {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(1200, samples.size() - at));
        EXPECT_EQ(wav_write_data(handle, samples.data() + at, n), 1);
    }
    return handle;
}

// The names in a folder other than the ones given.
std::vector<std::string> Others(const TempDir& dir, const std::vector<std::string>& known = {})
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
    {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            names.push_back(name);
    }
    return names;
}

std::string Samples(const std::string& path)
{
    return ParseWav(ReadFileBytes(path)).data;
}

// A complete file of this layer: sizes that match the file's length.
void ExpectTrueHeader(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 334u) << path;
    EXPECT_EQ(GetU32(bytes, 4), bytes.size() - 8) << path;
    EXPECT_EQ(GetU32(bytes, 330), bytes.size() - 334) << path;
}

} // namespace

// --- publishing
// -----------------------------------------------------------------------------------

TEST(OutputPublish, NameHoldsThePreviousFileUntilTheNewOneIsComplete)
{
    TempDir dir;
    const std::string path = dir.File("out.wav");
    WriteFileBytes(path, "previous output");
    const std::string samples = Pattern(100000, 1);
    WavWriteHandle* handle = StartWriting(path, samples);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(ReadFileBytes(path), "previous output");

    // The bytes go to one hidden temporary file beside it, whose header says "length unknown".
    const std::vector<std::string> temporary = Others(dir, {"out.wav"});
    ASSERT_EQ(temporary.size(), 1u);
    EXPECT_EQ(temporary[0].rfind(".out.wav.", 0), 0u) << temporary[0];
    const std::string head = ReadFileHead(dir.File(temporary[0]), 334);
    EXPECT_EQ(GetU32(head, 4), 0xFFFFFFFFu);
    EXPECT_EQ(GetU32(head, 330), 0xFFFFFFFFu);

    EXPECT_EQ(wav_write_free(handle), 1);
    EXPECT_EQ(Others(dir), std::vector<std::string>{"out.wav"});
    ExpectTrueHeader(path);
    EXPECT_EQ(Samples(path), samples);
}

TEST(OutputPublish, TemporaryFileHasThePermissionsOfANormalCreate)
{
    TempDir dir;
    const mode_t previous = umask(027);
    WavWriteHandle* handle = StartWriting(dir.File("out.wav"), "abcd");
    umask(previous);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(wav_write_free(handle), 1);
    struct stat info
    {
    };
    ASSERT_EQ(stat(dir.File("out.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(OutputPublish, LinkAtTheOutputNameIsReplacedNeverFollowed)
{
    TempDir dir;
    WriteFileBytes(dir.File("target.wav"), "the link's target");
    fs::create_symlink(dir.File("target.wav"), dir.File("out.wav"));
    fs::create_symlink(dir.File("nowhere/missing.wav"), dir.File("dangling.wav"));
    for (const char* name : {"out.wav", "dangling.wav"})
    {
        SCOPED_TRACE(name);
        WavWriteHandle* handle = StartWriting(dir.File(name), "samples!");
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(wav_write_free(handle), 1);
        EXPECT_FALSE(fs::is_symlink(dir.File(name)));
        EXPECT_EQ(Samples(dir.File(name)), "samples!");
    }
    EXPECT_EQ(ReadFileBytes(dir.File("target.wav")), "the link's target");
    EXPECT_FALSE(fs::exists(dir.File("nowhere")));
}

TEST(OutputPublish, FoldersAndDevicesAreNeverReplaced)
{
    TempDir dir;
    fs::create_directory(dir.File("folder.wav"));
    WavWriteHandle* handle = nullptr;
    EXPECT_EQ(wav_write_init(Output(dir.File("folder.wav")), &handle), 0);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(wav_write_init(Output("/dev/null"), &handle), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(Others(dir), std::vector<std::string>{"folder.wav"}); // no temporary left
}

TEST(OutputPublish, NoReplaceKeepsAnExistingNameAndLeavesNothingOfItsOwn)
{
    TempDir dir;
    const std::string path = dir.File("out.wav");
    WriteFileBytes(path, "previous output");
    const std::string samples = Pattern(5000, 2);
    WavWriteHandle* handle = StartWriting(path, samples);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(sigkit_wav_write_no_replace(handle), 1);
    errno = 0;
    EXPECT_EQ(wav_write_free(handle), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFileBytes(path), "previous output");
    // The mode writes the output or nothing: no partial file, no temporary.
    EXPECT_EQ(Others(dir), std::vector<std::string>{"out.wav"});

    // A dangling link holds the name too; a free name is published.
    fs::create_symlink(dir.File("missing"), dir.File("link.wav"));
    handle = StartWriting(dir.File("link.wav"), "x");
    ASSERT_EQ(sigkit_wav_write_no_replace(handle), 1);
    EXPECT_EQ(wav_write_free(handle), 0);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.wav")));
    handle = StartWriting(dir.File("new.wav"), samples);
    ASSERT_EQ(sigkit_wav_write_no_replace(handle), 1);
    EXPECT_EQ(wav_write_free(handle), 1);
    EXPECT_EQ(Samples(dir.File("new.wav")), samples);
    EXPECT_EQ(sigkit_wav_write_no_replace(nullptr), 0);
    EXPECT_EQ(errno, EINVAL);
}

// --- runs that do not complete
// --------------------------------------------------------------------

TEST(OutputAbandon, PartialFileBesideTheUntouchedOutput)
{
    TempDir dir;
    const std::string path = dir.File("rec_amdem.wav");
    WriteFileBytes(path, "previous output");
    const std::string samples = Pattern(100002, 3); // 50001 frames of 2 bytes
    WavWriteHandle* handle = StartWriting(path, samples);
    ASSERT_NE(handle, nullptr);
    char partial[1024];
    uint64_t frames = 0;
    EXPECT_EQ(sigkit_wav_write_abandon(handle, partial, sizeof partial, &frames), 1);
    EXPECT_EQ(std::string(partial), dir.File("rec_amdem.partial.wav"));
    EXPECT_EQ(frames, 50001u);
    EXPECT_EQ(ReadFileBytes(path), "previous output");
    ExpectTrueHeader(partial);
    EXPECT_EQ(Samples(partial), samples);
    EXPECT_EQ(Others(dir, {"rec_amdem.wav", "rec_amdem.partial.wav"}).size(), 0u);

    // A later partial file replaces the earlier one; the pointers may be null.
    handle = StartWriting(path, "ab");
    EXPECT_EQ(sigkit_wav_write_abandon(handle, nullptr, 0, nullptr), 1);
    EXPECT_EQ(Samples(dir.File("rec_amdem.partial.wav")), "ab");
    // A name without ".wav" gets the suffix added.
    handle = StartWriting(dir.File("raw.out"), "cd");
    EXPECT_EQ(sigkit_wav_write_abandon(handle, nullptr, 0, nullptr), 1);
    EXPECT_EQ(Samples(dir.File("raw.out.partial.wav")), "cd");
}

TEST(OutputAbandon, PathThatDoesNotFitIsReportedButTheFileIsKept)
{
    TempDir dir;
    WavWriteHandle* handle = StartWriting(dir.File("out.wav"), "abcd");
    char small[8];
    uint64_t frames = 0;
    errno = 0;
    EXPECT_EQ(sigkit_wav_write_abandon(handle, small, sizeof small, &frames), 0);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(frames, 2u);
    EXPECT_EQ(Samples(dir.File("out.partial.wav")), "abcd");
    EXPECT_EQ(sigkit_wav_write_abandon(nullptr, small, sizeof small, &frames), 0);
    EXPECT_EQ(errno, EINVAL);
}

// After a write fails, abandoning the output, or finishing it, tells where its bytes are and how
// many frames they hold. Runs in a child process so that the file-size limit stays there.
TEST(OutputAbandon, WriteFaultThenAbandonOrFinishTellsThePartialFile)
{
    for (const bool finish : {false, true})
    {
        SCOPED_TRACE(finish ? "finish" : "abandon");
        TempDir dir;
        const std::string path = dir.File("limited.wav");
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        if (child == 0)
        {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{100000, 100000};
            setrlimit(RLIMIT_FSIZE, &limit);
            WavWriteHandle* handle = nullptr;
            if (wav_write_init(Output(path), &handle) != 1)
                _exit(10);
            const std::string block(1200, 'w');
            bool failed = false;
            for (int i = 0; i < 200 && !failed; ++i)
                failed = wav_write_data(handle, block.data(), 1200) != 1;
            char partial[1024];
            uint64_t frames = 0;
            const int result =
                finish ? sigkit_wav_write_finish(handle, partial, sizeof partial, &frames)
                       : sigkit_wav_write_abandon(handle, partial, sizeof partial, &frames);
            const std::string line = std::to_string(frames) + " " + partial;
            if (!failed || result != (finish ? 0 : 1) ||
                write(report[1], line.c_str(), line.size()) < 0)
                _exit(11);
            _exit(0);
        }
        close(report[1]);
        char line[2048] = {};
        const ssize_t n = read(report[0], line, sizeof line - 1);
        close(report[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), 0);
        ASSERT_GT(n, 0);
        const std::string text(line);
        const std::string partial = text.substr(text.find(' ') + 1);
        EXPECT_EQ(partial, dir.File("limited.partial.wav"));
        EXPECT_FALSE(fs::exists(path));
        ExpectTrueHeader(partial);
        EXPECT_EQ(std::stoull(text) * 2, Samples(partial).size());
        EXPECT_GT(Samples(partial).size(), 0u);
    }
}

TEST(OutputFinish, TellsTheFramesPublishedOrThatNothingWasKept)
{
    TempDir dir;
    const std::string path = dir.File("out.wav");
    char partial[1024] = "untouched";
    uint64_t frames = 0;
    WavWriteHandle* handle = StartWriting(path, Pattern(3000, 5));
    EXPECT_EQ(sigkit_wav_write_finish(handle, partial, sizeof partial, &frames), 1);
    EXPECT_EQ(frames, 1500u);
    EXPECT_EQ(std::string(partial), "");
    EXPECT_EQ(Samples(path), Pattern(3000, 5));

    // The name taken in the no-replace mode: nothing kept, nothing to name.
    handle = StartWriting(path, Pattern(800, 6));
    ASSERT_EQ(sigkit_wav_write_no_replace(handle), 1);
    errno = 0;
    EXPECT_EQ(sigkit_wav_write_finish(handle, partial, sizeof partial, &frames), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(std::string(partial), "");
    EXPECT_EQ(Samples(path), Pattern(3000, 5));
    EXPECT_EQ(Others(dir), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(sigkit_wav_write_finish(nullptr, partial, sizeof partial, &frames), 0);
    EXPECT_EQ(errno, EINVAL);
}

// A process killed while it writes leaves only the temporary file, which every reader reads up
// to the bytes that reached it.
TEST(OutputAbandon, KilledWriterLeavesAReadableTemporaryFile)
{
    TempDir dir;
    const std::string path = dir.File("out.wav");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0)
    {
        WavWriteHandle* handle = StartWriting(path, Pattern(100000, 4));
        const char done = handle != nullptr ? 'y' : 'n';
        if (write(ready[1], &done, 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    char done = 0;
    ASSERT_EQ(read(ready[0], &done, 1), 1);
    close(ready[0]);
    close(ready[1]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_EQ(done, 'y');

    EXPECT_FALSE(fs::exists(path));
    const std::vector<std::string> left = Others(dir);
    ASSERT_EQ(left.size(), 1u);
    WavDescription d{};
    std::snprintf(d.name, sizeof d.name, "%s", dir.File(left[0]).c_str());
    WavReadHandle* reader = nullptr;
    ASSERT_EQ(wav_read_init(&d, &reader), 1);
    EXPECT_EQ(d.valid, 1u);
    EXPECT_EQ(d.sampleRate, 8000u);
    std::string data;
    const void* block = nullptr;
    int32_t bytes = 0;
    while (wav_read_data(reader, &block, &bytes), bytes > 0)
        data.append(static_cast<const char*>(block), static_cast<std::size_t>(bytes));
    wav_read_free(reader);
    // Whole windows of 32768 bytes reached the file; the rest was still in memory.
    EXPECT_EQ(data, Pattern(100000, 4).substr(0, 3 * 32768));
}

// --- concurrent writers
// ---------------------------------------------------------------------------

TEST(OutputConcurrency, TwoWritersOfOneNameEachPublishAWholeFile)
{
    TempDir dir;
    const std::string path = dir.File("out.wav");
    const std::string first = Pattern(300000, 5);
    const std::string second = Pattern(200000, 6);
    for (int round = 0; round < 5; ++round)
    {
        std::atomic<int> results{0};
        auto run = [&](const std::string& samples) {
            WavWriteHandle* handle = StartWriting(path, samples);
            results += wav_write_free(handle);
        };
        std::thread a(run, first);
        std::thread b(run, second);
        a.join();
        b.join();
        EXPECT_EQ(results, 2);
        const std::string published = Samples(path);
        EXPECT_TRUE(published == first || published == second) << published.size();
        ExpectTrueHeader(path);
        EXPECT_EQ(Others(dir), std::vector<std::string>{"out.wav"});
    }
}

TEST(OutputConcurrency, OfTwoNoReplaceWritersOneFailsWithExists)
{
    for (int round = 0; round < 5; ++round)
    {
        TempDir dir;
        const std::string path = dir.File("out.wav");
        const std::string samples[2] = {Pattern(100000, 7), Pattern(150000, 8)};
        // Both publish in separate processes at once.
        pid_t children[2];
        for (int i = 0; i < 2; ++i)
        {
            children[i] = fork();
            if (children[i] == 0)
            {
                WavWriteHandle* handle = StartWriting(path, samples[i]);
                if (handle == nullptr || sigkit_wav_write_no_replace(handle) != 1)
                    _exit(10);
                errno = 0;
                const int freed = wav_write_free(handle);
                _exit(freed == 1 ? 0 : errno == EEXIST ? 1 : 11);
            }
        }
        int outcome[2] = {-1, -1};
        for (int i = 0; i < 2; ++i)
        {
            int status = 0;
            waitpid(children[i], &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            outcome[i] = WEXITSTATUS(status);
        }
        ASSERT_EQ(outcome[0] + outcome[1], 1) << outcome[0] << " " << outcome[1];
        const int winner = outcome[0] == 0 ? 0 : 1;
        EXPECT_EQ(Samples(path), samples[winner]);
        ExpectTrueHeader(path);
        // The loser leaves nothing behind.
        EXPECT_EQ(Others(dir), std::vector<std::string>{"out.wav"});
    }
}

// --- records that can never work
// ------------------------------------------------------------------

TEST(OutputRecords, DescriptionsNoReaderCouldReadAreRefused)
{
    TempDir dir;
    const std::string path = dir.File("out.wav");
    const WavDescription refused[] = {
        Output(path, 0),               // no channels
        Output(path, 1, 0),            // rate 0
        Output(path, 1, 8000, 0),      // no sample width
        Output(path, 1, 8000, 13),     // 13 bits
        Output(path, 2, 8000, 64),     // 64 bits
        Output(path, 1, 8000, 16, 3),  // float of 16 bits
        Output(path, 1, 8000, 24, 3),  // float of 24 bits
        Output(path, 1, 8000, 12, 99), // another tag is written as PCM
    };
    for (const WavDescription& d : refused)
    {
        WavWriteHandle* handle = reinterpret_cast<WavWriteHandle*>(0x1);
        errno = 0;
        EXPECT_EQ(wav_write_init(d, &handle), 0) << d.channels << " " << d.bitsPerSample;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_TRUE(Others(dir).empty());
    for (uint16_t bits : {8, 16, 24, 32})
    {
        WavWriteHandle* handle = nullptr;
        EXPECT_EQ(wav_write_init(Output(path, 2, 8000, bits), &handle), 1) << bits;
        EXPECT_EQ(wav_write_free(handle), 1);
    }
    WavWriteHandle* handle = nullptr;
    EXPECT_EQ(wav_write_init(Output(path, 1, 8000, 32, 3), &handle), 1);
    EXPECT_EQ(wav_write_free(handle), 1);
}

TEST(OutputRecords, HeaderRateIsTheExactInteger)
{
    TempDir dir;
    for (uint32_t rate : {16777217u, 44100u, 0xFFFFFFFFu})
    {
        WavWriteHandle* handle = nullptr;
        ASSERT_EQ(wav_write_init(Output(dir.File("r.wav"), 1, rate), &handle), 1);
        ASSERT_EQ(wav_write_free(handle), 1);
        const std::string bytes = ReadFileBytes(dir.File("r.wav"));
        EXPECT_EQ(GetU32(bytes, 24), rate);
        const float exact = static_cast<float>(rate); // the freq chunk keeps the float
        uint32_t exactBits = 0;
        std::memcpy(&exactBits, &exact, 4);
        EXPECT_EQ(GetU32(bytes, 58), exactBits);
    }
}

// --- reading: failures and lengths
// ----------------------------------------------------------------

namespace {

WavReadHandle* OpenReader(const std::string& path, WavDescription& d)
{
    d = WavDescription{};
    std::snprintf(d.name, sizeof d.name, "%s", path.c_str());
    d.valid = 1; // preset: every failure must clear it
    WavReadHandle* handle = nullptr;
    EXPECT_EQ(wav_read_init(&d, &handle), 1);
    return handle;
}

uint64_t ReadToTheEnd(WavReadHandle* handle)
{
    uint64_t total = 0;
    const void* block = nullptr;
    int32_t bytes = 0;
    while (wav_read_data(handle, &block, &bytes), bytes > 0)
        total += static_cast<uint64_t>(bytes);
    return total;
}

} // namespace

TEST(InputRecords, EveryFailureClearsValid)
{
    TempDir dir;
    WriteFileBytes(dir.File("cut.wav"), PcmWav(2, 8000, 16, "abcd").substr(0, 20));
    WriteFileBytes(dir.File("short.wav"),
                   RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16).substr(0, 14))));
    for (const char* name : {"missing.wav", "cut.wav", "short.wav"})
    {
        WavDescription d;
        WavReadHandle* handle = OpenReader(dir.File(name), d);
        EXPECT_EQ(d.valid, 0u) << name;
        wav_read_free(handle);
    }
    WavDescription d{};
    d.valid = 1;
    EXPECT_EQ(wav_read_init(&d, nullptr), 0);
    EXPECT_EQ(d.valid, 0u);
}

TEST(InputRecords, LengthTellsAnInputThatEndedEarly)
{
    TempDir dir;
    const std::string samples = Pattern(2500, 9);
    WriteFileBytes(dir.File("whole.wav"), PcmWav(2, 8000, 16, samples));
    WriteFileBytes(dir.File("cut.wav"), RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
                                                 ChunkDeclared("data", 0x80000000u, samples)));
    WriteFileBytes(dir.File("unknown.wav"), RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
                                                         ChunkDeclared("data", 0xFFFFFFFF, samples),
                                                     0xFFFFFFFF));
    const struct
    {
        const char* name;
        uint64_t declared;
    } cases[] = {{"whole.wav", 2500}, {"cut.wav", 0x80000000u}, {"unknown.wav", 2500}};
    for (const auto& c : cases)
    {
        WavDescription d;
        WavReadHandle* handle = OpenReader(dir.File(c.name), d);
        uint64_t declared = 0;
        uint64_t delivered = 1;
        EXPECT_EQ(sigkit_wav_read_length(handle, &declared, &delivered), 1);
        EXPECT_EQ(declared, c.declared) << c.name;
        EXPECT_EQ(delivered, 0u);
        EXPECT_EQ(ReadToTheEnd(handle), 2500u);
        EXPECT_EQ(sigkit_wav_read_length(handle, &declared, &delivered), 1);
        EXPECT_EQ(delivered, 2500u) << c.name;
        EXPECT_EQ(sigkit_wav_read_length(handle, nullptr, nullptr), 1);
        wav_read_free(handle);
    }

    WavDescription d;
    WavReadHandle* handle = OpenReader(dir.File("missing.wav"), d);
    errno = 0;
    EXPECT_EQ(sigkit_wav_read_length(handle, nullptr, nullptr), 0);
    EXPECT_EQ(errno, ENOENT);
    wav_read_free(handle);
    EXPECT_EQ(sigkit_wav_read_length(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(errno, EINVAL);
}

TEST(InputRecords, FileTruncatedWhileReadIsToldByItsLength)
{
    TempDir dir;
    const std::string path = dir.File("shrinking.wav");
    const std::string samples = Pattern(200000, 10);
    WriteFileBytes(path, PcmWav(1, 8000, 16, samples));
    WavDescription d;
    WavReadHandle* handle = OpenReader(path, d);
    const void* block = nullptr;
    int32_t bytes = 0;
    wav_read_data(handle, &block, &bytes);
    ASSERT_EQ(bytes, 1200);
    ASSERT_EQ(truncate(path.c_str(), 44 + 50000), 0);
    const uint64_t rest = ReadToTheEnd(handle);
    uint64_t declared = 0;
    uint64_t delivered = 0;
    EXPECT_EQ(sigkit_wav_read_length(handle, &declared, &delivered), 1);
    EXPECT_EQ(declared, samples.size());
    EXPECT_EQ(delivered, 1200 + rest);
    EXPECT_LT(delivered, declared);
    wav_read_free(handle);
}
