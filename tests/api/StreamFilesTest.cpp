// The sigkit_ stream and raw calls: WAV read from and written to descriptors that cannot seek,
// raw sample types against known bytes, a reader that went away, and hostile streams.
#include "sigkit_api.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace sigtest;

namespace {

// A pipe whose write end is fed from a thread, so that any amount fits.
class FedPipe
{
public:
    explicit FedPipe(std::string bytes)
    {
        // A reader that stops early makes the feeder's write fail rather than end the tests.
        std::signal(SIGPIPE, SIG_IGN);
        EXPECT_EQ(pipe(fds), 0);
        feeder = std::thread([this, bytes = std::move(bytes)] {
            std::size_t at = 0;
            while (at < bytes.size())
            {
                const ssize_t n = write(fds[1], bytes.data() + at, bytes.size() - at);
                if (n <= 0)
                    break;
                at += static_cast<std::size_t>(n);
            }
            close(fds[1]);
        });
    }
    ~FedPipe()
    {
        close(fds[0]);
        feeder.join();
    }
    int ReadEnd() const { return fds[0]; }

private:
    int fds[2]{-1, -1};
    std::thread feeder;
};

// Everything written to a pipe by body, collected from a thread.
std::string Collect(const std::function<void(int)>& body)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::string out;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<std::size_t>(n));
    });
    body(fds[1]);
    close(fds[1]);
    reader.join();
    close(fds[0]);
    return out;
}

std::vector<float> ReadAll(sigkit_wav_reader* r, int channels)
{
    std::vector<float> all;
    std::vector<float> block(256 * channels);
    std::size_t got = 0;
    while (sigkit_wav_read(r, block.data(), 256, &got) == SIGKIT_OK && got > 0)
        all.insert(all.end(), block.begin(), block.begin() + got * channels);
    return all;
}

TEST(StreamFiles, WavWrittenToAPipeDeclaresNoLengthAndReadsBackToTheEnd)
{
    const std::vector<float> samples = {0.5f, -0.5f, 0.25f, -1.0f, 0.0f, 0.75f};
    const std::string bytes = Collect([&](int fd) {
        sigkit_wav_format shape;
        sigkit_wav_format_init(&shape, SIGKIT_ENCODING_S16, 48000, 2);
        sigkit_wav_writer* w = nullptr;
        ASSERT_EQ(sigkit_wav_create_fd(fd, &shape, &w), SIGKIT_OK);
        ASSERT_EQ(sigkit_wav_write(w, samples.data(), 3), SIGKIT_OK);
        EXPECT_EQ(sigkit_wav_close(w), SIGKIT_OK);
    });
    ASSERT_GT(bytes.size(), 12u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(GetU32(bytes, 4), 0xFFFFFFFFu);
    const std::size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    EXPECT_EQ(GetU32(bytes, data + 4), 0xFFFFFFFFu);
    EXPECT_EQ(bytes.size() - data - 8, 12u);
    EXPECT_EQ(GetU16(bytes, data + 8), 0x4000u); // 0.5 as s16

    FedPipe in(bytes);
    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    ASSERT_EQ(sigkit_wav_open_fd(in.ReadEnd(), &info, &r), SIGKIT_OK);
    EXPECT_EQ(info.frames, SIGKIT_FRAMES_UNKNOWN);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.rate, 48000.0);
    EXPECT_EQ(ReadAll(r, 2), samples);
    sigkit_wav_close_reader(r);
}

TEST(StreamFiles, EmptyStreamGetsItsHeaderAtTheClose)
{
    const std::string bytes = Collect([&](int fd) {
        sigkit_wav_format shape;
        sigkit_wav_format_init(&shape, SIGKIT_ENCODING_F32, 8000, 1);
        sigkit_wav_writer* w = nullptr;
        ASSERT_EQ(sigkit_wav_create_fd(fd, &shape, &w), SIGKIT_OK);
        EXPECT_EQ(sigkit_wav_close(w), SIGKIT_OK);
    });
    ASSERT_NE(bytes.find("data"), std::string::npos);
    EXPECT_EQ(bytes.size(), bytes.find("data") + 8);
}

TEST(StreamFiles, DeclaredLengthIsReadThatFarAndNoFurther)
{
    const std::string wav = PcmWav(1, 8000, 16, StoreSamples({1000, -1000, 2000}, 16));
    FedPipe in(wav + std::string(100, '\x11'));
    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    ASSERT_EQ(sigkit_wav_open_fd(in.ReadEnd(), &info, &r), SIGKIT_OK);
    EXPECT_EQ(info.frames, 3u);
    std::vector<int16_t> stored(10);
    std::size_t got = 0, total = 0;
    while (sigkit_wav_read_stored(r, stored.data() + total, 10 - total, &got) == SIGKIT_OK &&
           got > 0)
        total += got;
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(stored[0], 1000);
    EXPECT_EQ(stored[2], 2000);
    sigkit_wav_close_reader(r);
}

TEST(StreamFiles, HostileStreamsAreRefusedWithTheirReason)
{
    const std::string wav = PcmWav(1, 8000, 16, StoreSamples({1, 2, 3}, 16));
    std::string noData = "RIFF";
    PutU32(noData, 0xFFFFFFFFu);
    noData += "WAVE";
    const std::string zeros = noData + std::string(3u << 20, '\0');
    const struct
    {
        std::string bytes;
        int status;
    } cases[] = {
        {"", SIGKIT_E_TRUNCATED},
        {wav.substr(0, 7), SIGKIT_E_TRUNCATED},
        {wav.substr(0, 30), SIGKIT_E_TRUNCATED},
        {std::string(3u << 20, '\0'), SIGKIT_E_FORMAT},
        {zeros, SIGKIT_E_HEADER_LIMIT},
    };
    for (const auto& c : cases)
    {
        FedPipe in(c.bytes);
        sigkit_wav_info info{};
        info.size = sizeof info;
        sigkit_wav_reader* r = nullptr;
        EXPECT_EQ(sigkit_wav_open_fd(in.ReadEnd(), &info, &r), c.status) << c.bytes.size();
        EXPECT_EQ(r, nullptr);
    }
}

TEST(StreamFiles, ReaderThatWentAwayAnswersPipe)
{
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    sigkit_wav_format shape;
    sigkit_wav_format_init(&shape, SIGKIT_ENCODING_S16, 8000, 1);
    sigkit_wav_writer* w = nullptr;
    ASSERT_EQ(sigkit_wav_create_fd(fds[1], &shape, &w), SIGKIT_OK);
    const std::vector<float> samples(1000, 0.1f);
    EXPECT_EQ(sigkit_wav_write(w, samples.data(), samples.size()), SIGKIT_E_PIPE);
    EXPECT_EQ(sigkit_wav_write(w, samples.data(), samples.size()), SIGKIT_E_PIPE);
    sigkit_wav_abandon(w);
    close(fds[1]);
    std::signal(SIGPIPE, previous);
}

// Known bytes of each type and the floats they stand for.
TEST(RawSamples, TypesMapKnownBytesBothWays)
{
    const struct
    {
        int type;
        std::string bytes;
        std::vector<float> values;
    } cases[] = {
        {SIGKIT_SAMPLE_CU8,
         std::string("\x00\xff\x80\x80", 4),
         {-1.0f, 1.0f, 0.5f / 127.5f, 0.5f / 127.5f}},
        {SIGKIT_SAMPLE_CS8, std::string("\x80\x7f\x00\xc0", 4), {-1.0f, 127.0f / 128, 0.0f, -0.5f}},
        {SIGKIT_SAMPLE_CS16, std::string("\x00\x80\x00\x40", 4), {-1.0f, 0.5f}},
        {SIGKIT_SAMPLE_U8, std::string("\x80\x00", 2), {0.0f, -1.0f}},
        {SIGKIT_SAMPLE_S24, std::string("\x00\x00\x40\xff\xff\xff", 6), {0.5f, -1.0f / 8388608}},
        {SIGKIT_SAMPLE_S32, std::string("\x00\x00\x00\xc0", 4), {-0.5f}},
    };
    for (const auto& c : cases)
    {
        sigkit_raw_format format;
        ASSERT_EQ(sigkit_raw_format_init(&format, c.type, 1000.0, 0), SIGKIT_OK);
        FedPipe in(c.bytes);
        sigkit_wav_info info{};
        info.size = sizeof info;
        sigkit_wav_reader* r = nullptr;
        ASSERT_EQ(sigkit_raw_open_fd(in.ReadEnd(), &format, &info, &r), SIGKIT_OK) << c.type;
        const int channels = info.channels;
        EXPECT_EQ(ReadAll(r, channels), c.values) << sigkit_sample_type_name(c.type);
        sigkit_wav_close_reader(r);

        // And back to the same bytes.
        const std::string written = Collect([&](int fd) {
            sigkit_wav_writer* w = nullptr;
            ASSERT_EQ(sigkit_raw_create_fd(fd, &format, &w), SIGKIT_OK);
            EXPECT_EQ(sigkit_wav_write(w, c.values.data(), c.values.size() / channels), SIGKIT_OK);
            EXPECT_EQ(sigkit_wav_close(w), SIGKIT_OK);
        });
        EXPECT_EQ(written, c.bytes) << sigkit_sample_type_name(c.type);
    }
}

TEST(RawSamples, NamesExtensionsAndFiles)
{
    EXPECT_EQ(sigkit_sample_type_from_name("CU8"), SIGKIT_SAMPLE_CU8);
    EXPECT_LT(sigkit_sample_type_from_name("cu9"), 0);
    EXPECT_EQ(sigkit_sample_type_from_path("dir.x/rec.CS16"), SIGKIT_SAMPLE_CS16);
    EXPECT_EQ(sigkit_sample_type_from_path("rec.raw"), 0);
    EXPECT_EQ(sigkit_sample_type_from_path("rec.s16"), 0);

    // A file: whole frames only, the trailing byte is not a frame.
    TempDir dir;
    WriteFileBytes(dir.File("r.cs16"), std::string("\x00\x40\x00\xc0\x01", 5));
    sigkit_raw_format format;
    sigkit_raw_format_init(&format, SIGKIT_SAMPLE_CS16, 2.4e6, 0);
    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    ASSERT_EQ(sigkit_raw_open(dir.File("r.cs16").c_str(), &format, &info, &r), SIGKIT_OK);
    EXPECT_EQ(info.frames, 1u);
    EXPECT_EQ(info.rate, 2.4e6);
    EXPECT_EQ(info.complex_samples, 1);
    EXPECT_EQ(ReadAll(r, 2), (std::vector<float>{0.5f, -0.5f}));
    sigkit_wav_close_reader(r);

    // A rate of 0 and a complex type of one channel are refused.
    sigkit_raw_format_init(&format, SIGKIT_SAMPLE_CS16, 0.0, 0);
    EXPECT_NE(sigkit_raw_open(dir.File("r.cs16").c_str(), &format, &info, &r), SIGKIT_OK);
    sigkit_raw_format_init(&format, SIGKIT_SAMPLE_CS16, 1000.0, 1);
    EXPECT_NE(sigkit_raw_open(dir.File("r.cs16").c_str(), &format, &info, &r), SIGKIT_OK);
}

TEST(RawSamples, FilesArePublishedWholeOrKeptAsPartial)
{
    TempDir dir;
    const std::vector<float> iq = {0.5f, -0.5f, 0.25f, 0.0f};
    sigkit_raw_format format;
    sigkit_raw_format_init(&format, SIGKIT_SAMPLE_CS16, 0.0, 0);
    auto start = [&](const std::string& name, uint32_t flags, int expected) {
        format.flags = flags;
        sigkit_wav_writer* w = nullptr;
        EXPECT_EQ(sigkit_raw_create(dir.File(name).c_str(), &format, &w), expected) << name;
        if (w != nullptr)
        {
            EXPECT_EQ(sigkit_wav_write(w, iq.data(), 2), SIGKIT_OK);
        }
        return w;
    };
    sigkit_wav_writer* done = start("out.cs16", 0, SIGKIT_OK);
    ASSERT_NE(done, nullptr);
    // Nothing under the name until it is complete.
    EXPECT_FALSE(FileExists(dir.File("out.cs16")));
    EXPECT_EQ(sigkit_wav_close(done), SIGKIT_OK);
    EXPECT_EQ(ReadFileBytes(dir.File("out.cs16")),
              std::string("\x00\x40\x00\xc0\x00\x20\x00\x00", 8));

    // Abandoned: the name keeps what it held, the samples are kept beside it.
    sigkit_wav_writer* gone = start("out.cs16", 0, SIGKIT_OK);
    ASSERT_NE(gone, nullptr);
    sigkit_wav_abandon(gone);
    EXPECT_EQ(ReadFileBytes(dir.File("out.cs16")).size(), 8u);
    EXPECT_EQ(ReadFileBytes(dir.File("out.partial.cs16")).size(), 8u);

    // No replacing: an existing name is refused at once.
    EXPECT_EQ(start("out.cs16", SIGKIT_WAV_NO_REPLACE, SIGKIT_E_EXISTS), nullptr);
}

TEST(StreamFiles, SizesNeverFilledInAreReadToTheEnd)
{
    // A writer that never came back: RIFF and data sizes of 0, then samples.
    std::string zeroSizes = "RIFF";
    PutU32(zeroSizes, 0);
    zeroSizes += "WAVE" + Chunk("fmt ", FormatBody(1, 1, 8000, 16));
    zeroSizes += "data";
    PutU32(zeroSizes, 0);
    zeroSizes += StoreSamples({100, 200, 300, 400}, 16);
    FedPipe in(zeroSizes);
    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    ASSERT_EQ(sigkit_wav_open_fd(in.ReadEnd(), &info, &r), SIGKIT_OK);
    EXPECT_EQ(info.frames, SIGKIT_FRAMES_UNKNOWN);
    EXPECT_EQ(ReadAll(r, 1).size(), 4u);
    sigkit_wav_close_reader(r);
}

TEST(StreamFiles, NonBlockingDescriptorIsWaitedOnNotFailed)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK), 0);
    const std::string wav = PcmWav(1, 8000, 16, StoreSamples({1, 2, 3, 4, 5, 6}, 16));
    std::thread slow([&] {
        // The header, a pause, the rest.
        EXPECT_EQ(write(fds[1], wav.data(), 50), 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(write(fds[1], wav.data() + 50, wav.size() - 50),
                  static_cast<ssize_t>(wav.size() - 50));
        close(fds[1]);
    });
    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    ASSERT_EQ(sigkit_wav_open_fd(fds[0], &info, &r), SIGKIT_OK);
    EXPECT_EQ(ReadAll(r, 1).size(), 6u);
    sigkit_wav_close_reader(r);
    slow.join();
    close(fds[0]);
}

} // namespace
