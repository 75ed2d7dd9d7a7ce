// The wav_read and wav_write families through their exported functions.
#include "sigkit.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"
#include "wav/LoadWav.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace sigtest;

namespace {

WavDescription Named(const std::string& path)
{
    WavDescription d{};
    std::snprintf(d.name, sizeof d.name, "%s", path.c_str());
    return d;
}

// A description of 16-bit mono PCM at 8000 Hz for an output.
WavDescription Output(const std::string& path)
{
    WavDescription d = Named(path);
    d.formatTag = 1;
    d.channels = 1;
    d.sampleRate = 8000;
    d.bitsPerSample = 16;
    return d;
}

std::vector<int32_t> BlockSizes(WavReadHandle* handle, std::string* data = nullptr, int extra = 2)
{
    std::vector<int32_t> sizes;
    for (int guard = 0; guard < 1000000; ++guard)
    {
        const void* block = nullptr;
        int32_t bytes = -1;
        EXPECT_EQ(wav_read_data(handle, &block, &bytes), 1);
        sizes.push_back(bytes);
        if (bytes == 0 && --extra < 0)
            break;
        if (bytes > 0 && data != nullptr)
            data->append(static_cast<const char*>(block), static_cast<std::size_t>(bytes));
    }
    return sizes;
}

int OpenDescriptors()
{
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1)
            ++count;
    return count;
}

} // namespace

TEST(WavRead, BlocksOfTwelveHundredBytesThenZeroForEver)
{
    TempDir dir;
    std::string samples(5000, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<char>(i * 7);
    WriteFileBytes(dir.File("in.wav"), PcmWav(2, 48000, 16, samples));

    WavDescription d = Named(dir.File("in.wav"));
    WavReadHandle* handle = nullptr;
    ASSERT_EQ(wav_read_init(&d, &handle), 1);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(d.valid, 1u);
    EXPECT_EQ(d.formatTag, 1);
    EXPECT_EQ(d.channels, 2);
    EXPECT_EQ(d.sampleRate, 48000u);
    EXPECT_EQ(d.byteRate, 192000u);
    EXPECT_EQ(d.blockAlign, 4);
    EXPECT_EQ(d.bitsPerSample, 16);
    std::string data;
    EXPECT_EQ(BlockSizes(handle, &data),
              (std::vector<int32_t>{1200, 1200, 1200, 1200, 200, 0, 0, 0}));
    EXPECT_EQ(data, samples);
    EXPECT_EQ(wav_read_free(handle), 1);
}

TEST(WavRead, MissingFileLeavesTheDescriptionAndDeliversNothing)
{
    TempDir dir;
    WavDescription d = Named(dir.File("missing.wav"));
    d.formatTag = 77; // untouched when the file cannot be opened
    WavReadHandle* handle = nullptr;
    ASSERT_EQ(wav_read_init(&d, &handle), 1);
    EXPECT_EQ(d.valid, 0u);
    EXPECT_EQ(d.formatTag, 77);
    EXPECT_EQ(BlockSizes(handle), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(wav_read_free(handle), 1);
    EXPECT_EQ(wav_read_free(nullptr), -2);
}

TEST(WavRead, NameWithoutTerminatorInItsFieldIsRefused)
{
    TempDir dir;
    WavDescription d{};
    std::memset(d.name, 'a', sizeof d.name);
    WavReadHandle* handle = nullptr;
    ASSERT_EQ(wav_read_init(&d, &handle), 1);
    EXPECT_EQ(d.valid, 0u);
    EXPECT_EQ(wav_read_free(handle), 1);
}

TEST(WavRead, ShortFormatChunkIsNotAReadableFormat)
{
    TempDir dir;
    WriteFileBytes(
        dir.File("f14.wav"),
        RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16).substr(0, 14)) + Chunk("data", "abcd")));
    WavDescription d = Named(dir.File("f14.wav"));
    WavReadHandle* handle = nullptr;
    ASSERT_EQ(wav_read_init(&d, &handle), 1);
    EXPECT_EQ(d.valid, 0u);
    wav_read_free(handle);
}

TEST(WavRead, FreeingBeforeTheEndClosesTheFile)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.wav"), PcmWav(1, 8000, 16, std::string(100000, 'x')));
    const int before = OpenDescriptors();
    WavDescription d = Named(dir.File("in.wav"));
    WavReadHandle* handle = nullptr;
    ASSERT_EQ(wav_read_init(&d, &handle), 1);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    const void* block = nullptr;
    int32_t bytes = 0;
    wav_read_data(handle, &block, &bytes);
    EXPECT_EQ(bytes, 1200);
    wav_read_free(handle);
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(WavRead, ReadOnlyFileOpensAtOnce)
{
    TempDir dir;
    const std::string path = dir.File("ro.wav");
    WriteFileBytes(path, PcmWav(1, 8000, 16, "abcdef"));
    chmod(path.c_str(), 0444);
    WavDescription d = Named(path);
    WavReadHandle* handle = nullptr;
    ASSERT_EQ(wav_read_init(&d, &handle), 1);
    EXPECT_EQ(d.valid, 1u);
    std::string data;
    BlockSizes(handle, &data);
    EXPECT_EQ(data, "abcdef");
    wav_read_free(handle);
}

TEST(WavRead, FifoIsRefusedWithoutWaiting)
{
    TempDir dir;
    const std::string path = dir.File("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    WavDescription d = Named(path);
    WavReadHandle* handle = nullptr;
    ASSERT_EQ(wav_read_init(&d, &handle), 1); // would block forever if it waited for a writer
    EXPECT_EQ(d.valid, 0u);
    wav_read_free(handle);
}

TEST(LoadWavBlock, SizeBlockIsLimitedToItsRange)
{
    auto block = std::make_unique<sigkit::LoadWav>();
    block->SetParam("SizeBlock", "0");
    EXPECT_EQ(block->BlockSize(), 1);
    block->SetParam("SizeBlock", "20000");
    EXPECT_EQ(block->BlockSize(), 10000);
    block->SetParam("SizeBlock", "abc");
    EXPECT_EQ(block->BlockSize(), 1);
    block->SetParam("SizeBlock", "99999999999999999999");
    EXPECT_EQ(block->BlockSize(), 10000);
    block->SetParam("SizeBlock", "4096");
    EXPECT_EQ(block->BlockSize(), 4096);
    block->SetParam("sizeblock", "10");
    EXPECT_EQ(block->BlockSize(), 4096);
}

TEST(LoadWavBlock, NamePartsJoinWithSlashAndEndNoticeFollowsTheData)
{
    TempDir dir;
    WriteFileBytes(dir.File("rec.wav"), PcmWav(1, 8000, 16, "0123"));
    auto block = std::make_unique<sigkit::LoadWav>();
    EXPECT_EQ(block->Put(0, "rec", 4), 0);
    EXPECT_EQ(block->Put(1, ".wav", 5), 0);
    EXPECT_EQ(block->Put(2, dir.Path().c_str(), static_cast<int32_t>(dir.Path().size() + 1)),
              static_cast<int32_t>(dir.Path().size() + 1));
    EXPECT_TRUE(block->IsOpen());
    const void* data = nullptr;
    int32_t count = -1;
    EXPECT_EQ(block->Get(1, &data, &count), 0); // no end notice before the end
    EXPECT_EQ(block->Get(0, &data, &count), 4);
    EXPECT_EQ(std::string(static_cast<const char*>(data), 4), "0123");
    EXPECT_EQ(block->Put(3, nullptr, 0), 0);
    EXPECT_EQ(block->Get(0, &data, &count), 0);
    EXPECT_FALSE(block->IsOpen());
    EXPECT_EQ(block->Get(1, &data, &count), 16);
    uint32_t word = 0;
    std::memcpy(&word, data, 4);
    EXPECT_EQ(word, 4u);
    EXPECT_EQ(block->Get(1, &data, &count), 0);
}

TEST(LoadWavBlock, PartsLongerThanTheirFieldsAreRefused)
{
    auto block = std::make_unique<sigkit::LoadWav>();
    const std::string longText(5000, 'n');
    EXPECT_EQ(block->Put(1, longText.c_str(), 5001), 0);
    EXPECT_EQ(block->Put(2, longText.c_str(), 5001), 0);
    block->SetParam("Mode", "FullName");
    EXPECT_EQ(block->Put(0, longText.c_str(), 5001), 0);
    EXPECT_FALSE(block->IsOpen());
}

// --- writing
// ---------------------------------------------------------------------------------------

TEST(WavWrite, FileAtFreeWithItsSizes)
{
    TempDir dir;
    WavDescription d = Named(dir.File("out.wav"));
    d.formatTag = 1;
    d.channels = 2;
    d.sampleRate = 48000;
    d.bitsPerSample = 16;
    WavWriteHandle* handle = nullptr;
    ASSERT_EQ(wav_write_init(d, &handle), 1);
    EXPECT_FALSE(FileExists(dir.File("out.wav"))); // published complete, by free
    const std::string samples(4800, 's');
    EXPECT_EQ(wav_write_data(handle, samples.data(), 2400), 1);
    EXPECT_EQ(wav_write_data(handle, samples.data(), 0), 1);
    EXPECT_EQ(wav_write_data(handle, samples.data(), 2400), 1);
    EXPECT_EQ(wav_write_free(handle), 1);
    const std::string bytes = ReadFileBytes(dir.File("out.wav"));
    ASSERT_EQ(bytes.size(), 5134u);
    EXPECT_EQ(GetU16(bytes, 20), 1u);
    EXPECT_EQ(GetU16(bytes, 22), 2u);
    EXPECT_EQ(GetU32(bytes, 24), 48000u);
    EXPECT_EQ(GetU32(bytes, 28), 192000u);
    EXPECT_EQ(GetU16(bytes, 32), 4u);
    EXPECT_EQ(GetU32(bytes, 46), 8000u);       // fact keeps the value of the first header
    EXPECT_EQ(GetU32(bytes, 58), 0x473B8000u); // 48000.0f
    EXPECT_EQ(GetU32(bytes, 330), 4800u);
    EXPECT_EQ(wav_write_free(nullptr), -2);
}

TEST(WavWrite, DescriptionFieldsShapeTheHeader)
{
    TempDir dir;
    WavDescription d = Named(dir.File("three.wav"));
    d.formatTag = 1;
    d.channels = 3; // anything but 2 gives one channel
    d.sampleRate = 11025;
    d.bitsPerSample = 24;
    WavWriteHandle* handle = nullptr;
    ASSERT_EQ(wav_write_init(d, &handle), 1);
    EXPECT_EQ(wav_write_free(handle), 1);
    const std::string bytes = ReadFileBytes(dir.File("three.wav"));
    EXPECT_EQ(GetU16(bytes, 22), 1u);
    EXPECT_EQ(GetU32(bytes, 24), 11025u);
    EXPECT_EQ(GetU32(bytes, 58), 0x462C4400u); // 11025.0f
    EXPECT_EQ(GetU16(bytes, 32), 3u);
    EXPECT_EQ(GetU16(bytes, 34), 24u);
}

TEST(WavWrite, OutputThatCannotBeCreatedFailsInit)
{
    TempDir dir;
    WavWriteHandle* handle = reinterpret_cast<WavWriteHandle*>(0x1);
    EXPECT_EQ(wav_write_init(Output(dir.File("no/such/folder/out.wav")), &handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(wav_write_init(Output(dir.Path()), &handle), 0); // a folder
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(wav_write_init(Output("/dev/full"), &handle), 0); // a device is never replaced
    EXPECT_EQ(errno, EINVAL);
    WavDescription unterminated = Output("");
    std::memset(unterminated.name, 'x', sizeof unterminated.name);
    EXPECT_EQ(wav_write_init(unterminated, &handle), 0);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(wav_write_init(Output(""), &handle), 0);
    EXPECT_EQ(errno, ENOENT);
}

// A write that passes the file-size limit is reported; the output name keeps what it held and
// the bytes that reached the disk are kept, with a true header, as the partial file. Runs in a
// child process so that the limit stays there.
TEST(WavWrite, SizeLimitIsReportedAndThePartialFileIsTrue)
{
    TempDir dir;
    const std::string path = dir.File("limited.wav");
    WriteFileBytes(path, "previous output");
    const pid_t child = fork();
    if (child == 0)
    {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        WavWriteHandle* handle = nullptr;
        if (wav_write_init(Output(path), &handle) != 1)
            _exit(10);
        std::string block(1200, 'w');
        int failedAt = -1;
        for (int i = 0; i < 200 && failedAt < 0; ++i)
            if (wav_write_data(handle, block.data(), 1200) != 1)
                failedAt = i;
        const int freed = wav_write_free(handle);
        _exit(failedAt > 0 && freed == 0 && errno == EFBIG ? 0 : 11);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(path), "previous output");
    const std::string bytes = ReadFileBytes(dir.File("limited.partial.wav"));
    ASSERT_GT(bytes.size(), 334u);
    EXPECT_LE(bytes.size(), 100000u);
    EXPECT_EQ(GetU32(bytes, 330), bytes.size() - 334);
    EXPECT_EQ(GetU32(bytes, 4), bytes.size() - 8);
}

TEST(WavRead, ExtensibleFormatsAreDescribedByWhatTheyHold)
{
    TempDir dir;
    auto extensible = [&](uint16_t subFormat, uint16_t container, uint16_t valid,
                          bool standardTail) {
        std::string body = FormatBody(0xFFFE, 2, 48000, container);
        PutU16(body, 22);    // extra size
        PutU16(body, valid); // valid bits
        PutU32(body, 3);     // channel mask
        PutU16(body, subFormat);
        body += standardTail
                    ? std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14)
                    : std::string(14, '\x01');
        WriteFileBytes(dir.File("ext.wav"), RiffFile(Chunk("fmt ", body) + Chunk("data", "abcd")));
        WavDescription d = Named(dir.File("ext.wav"));
        WavReadHandle* handle = nullptr;
        EXPECT_EQ(wav_read_init(&d, &handle), 1);
        wav_read_free(handle);
        return d;
    };
    const WavDescription pcm24in32 = extensible(1, 32, 24, true);
    EXPECT_EQ(pcm24in32.valid, 1u);
    EXPECT_EQ(pcm24in32.formatTag, 1);
    EXPECT_EQ(pcm24in32.channels, 2);
    EXPECT_EQ(pcm24in32.bitsPerSample, 32); // read by the container width
    EXPECT_EQ(extensible(3, 32, 32, true).formatTag, 3);
    EXPECT_EQ(extensible(1, 16, 16, false).formatTag, 0xFFFE); // an unknown sub-format
    EXPECT_EQ(extensible(2, 16, 16, true).formatTag, 0xFFFE);  // ADPCM is not processed
}
