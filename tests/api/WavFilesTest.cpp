// The sigkit_ WAV helpers: every encoding round trip, the scale and rounding of the integer
// encodings, publishing only complete files, and refusals of bad files and arguments.
#include "sigkit_api.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

int Write(const std::string& path, int encoding, double rate, int channels,
          const std::vector<float>& samples, uint64_t* clipped = nullptr, uint32_t flags = 0)
{
    sigkit_wav_format shape;
    sigkit_wav_format_init(&shape, encoding, rate, channels);
    shape.flags = flags;
    sigkit_wav_writer* w = nullptr;
    int status = sigkit_wav_create(path.c_str(), &shape, &w);
    if (status != SIGKIT_OK)
        return status;
    status = sigkit_wav_write(w, samples.data(), samples.size() / channels);
    if (clipped != nullptr)
        sigkit_wav_clipped(w, clipped);
    const int closed = sigkit_wav_close(w);
    return status != SIGKIT_OK ? status : closed;
}

std::vector<float> Read(const std::string& path, sigkit_wav_info& info, int* status = nullptr)
{
    info = sigkit_wav_info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    const int opened = sigkit_wav_open(path.c_str(), &info, &r);
    if (status != nullptr)
        *status = opened;
    if (opened != SIGKIT_OK)
        return {};
    std::vector<float> out;
    std::vector<float> block(777 * static_cast<std::size_t>(info.channels));
    std::size_t got = 0;
    do
    {
        EXPECT_EQ(sigkit_wav_read(r, block.data(), 777, &got), SIGKIT_OK);
        out.insert(out.end(), block.begin(), block.begin() + got * info.channels);
    } while (got > 0);
    sigkit_wav_close_reader(r);
    return out;
}

// Names in the folder other than those given.
std::vector<std::string> Others(const sigtest::TempDir& dir, const std::set<std::string>& known)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        if (known.count(entry.path().filename().string()) == 0)
            names.push_back(entry.path().filename().string());
    return names;
}

} // namespace

TEST(ApiWav, EveryEncodingRoundTripsToItsStep)
{
    sigtest::TempDir dir;
    std::vector<float> tone(2 * 10000);
    for (std::size_t n = 0; n < tone.size(); ++n)
        tone[n] = static_cast<float>(0.9 * std::sin(0.01 * static_cast<double>(n)));
    const struct
    {
        int encoding;
        double step; // one integer step at full scale 1.0
    } encodings[] = {
        {SIGKIT_ENCODING_U8, 1.0 / 128},      {SIGKIT_ENCODING_S16, 1.0 / 32768},
        {SIGKIT_ENCODING_S24, 1.0 / 8388608}, {SIGKIT_ENCODING_S32, 1.0 / 2147483648.0},
        {SIGKIT_ENCODING_F32, 0.0},           {SIGKIT_ENCODING_F64, 0.0}};
    for (const auto& e : encodings)
    {
        SCOPED_TRACE(e.encoding);
        const std::string path = dir.File("tone" + std::to_string(e.encoding) + ".wav");
        uint64_t clipped = 99;
        ASSERT_EQ(Write(path, e.encoding, 96000.0, 2, tone, &clipped), SIGKIT_OK);
        EXPECT_EQ(clipped, 0u);
        sigkit_wav_info info;
        const std::vector<float> back = Read(path, info);
        EXPECT_EQ(info.encoding, e.encoding);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.complex_samples, 1);
        EXPECT_EQ(info.frames, 10000u);
        EXPECT_EQ(info.rate, 96000.0);
        EXPECT_EQ(info.metadata, 0u);
        ASSERT_EQ(back.size(), tone.size());
        double worst = 0;
        for (std::size_t n = 0; n < tone.size(); ++n)
            worst = std::max(worst, std::fabs(static_cast<double>(back[n]) - tone[n]));
        // Rounding to the nearest step: at most half a step away; floats come back exactly.
        if (e.step > 0)
            EXPECT_LE(worst, e.step / 2);
        else
            EXPECT_EQ(worst, 0.0);
    }
}

TEST(ApiWav, IntegerEncodingsMapFullScaleAndClipAtTheEnds)
{
    sigtest::TempDir dir;
    const std::string path = dir.File("ends.wav");
    const std::vector<float> in = {0.0f, 0.5f, -1.0f, 1.0f, 2.0f, -7.0f, NAN, 1.5f / 32768};
    uint64_t clipped = 0;
    ASSERT_EQ(Write(path, SIGKIT_ENCODING_S16, 8000, 1, in, &clipped), SIGKIT_OK);
    // -1.0 sits at the end of the range, as do 1.0, 2.0 and -7.0 limited to it.
    EXPECT_EQ(clipped, 4u);
    const std::string bytes = sigtest::ReadFileBytes(path);
    const std::size_t data = bytes.size() - 2 * in.size();
    const int16_t expected[] = {0, 16384, -32768, 32767, 32767, -32768, 0, 2};
    for (std::size_t i = 0; i < in.size(); ++i)
        EXPECT_EQ(static_cast<int16_t>(sigtest::GetU16(bytes, data + 2 * i)), expected[i]) << i;

    // Unsigned 8-bit: 0.0 is 128.
    const std::string u8 = dir.File("u8.wav");
    ASSERT_EQ(Write(u8, SIGKIT_ENCODING_U8, 8000, 1, {0.0f, -1.0f, 1.0f, 0.5f}, &clipped),
              SIGKIT_OK);
    const std::string b8 = sigtest::ReadFileBytes(u8);
    EXPECT_EQ(std::string(b8.end() - 4, b8.end()), std::string("\x80\x00\xFF\xC0", 4));
    EXPECT_EQ(clipped, 2u);
    sigkit_wav_info info;
    const std::vector<float> back = Read(u8, info);
    EXPECT_EQ(back, (std::vector<float>{0.0f, -1.0f, 127.0f / 128, 0.5f}));
}

TEST(ApiWav, ReadsFilesOfOtherWriters)
{
    sigtest::TempDir dir;
    // A plain 44-byte-header 24-bit file, mono.
    std::string samples;
    for (int32_t v : {0, 4194304, -8388608, 8388607})
        samples += std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                               static_cast<char>((v >> 16) & 0xFF)};
    const std::string path = dir.File("pcm24.wav");
    sigtest::WriteFileBytes(path, sigtest::PcmWav(1, 44100, 24, samples));
    sigkit_wav_info info;
    const std::vector<float> back = Read(path, info);
    EXPECT_EQ(info.encoding, SIGKIT_ENCODING_S24);
    EXPECT_EQ(info.complex_samples, 0);
    EXPECT_EQ(info.valid_bits, 24);
    EXPECT_EQ(back, (std::vector<float>{0.0f, 0.5f, -1.0f, 8388607.0f / 8388608}));
}

TEST(ApiWav, RefusesWhatItCannotRead)
{
    sigtest::TempDir dir;
    sigkit_wav_info info;
    int status = 0;
    Read(dir.File("missing.wav"), info, &status);
    EXPECT_EQ(status, SIGKIT_E_NOT_FOUND);
    sigtest::WriteFileBytes(dir.File("text.wav"), "hello, this is no wave file at all");
    Read(dir.File("text.wav"), info, &status);
    EXPECT_EQ(status, SIGKIT_E_FORMAT);
    sigtest::WriteFileBytes(dir.File("alaw.wav"), sigtest::PcmWav(1, 8000, 8, "abcd", 6));
    Read(dir.File("alaw.wav"), info, &status);
    EXPECT_EQ(status, SIGKIT_E_FORMAT);
    sigtest::WriteFileBytes(dir.File("rate0.wav"), sigtest::PcmWav(1, 0, 16, "abcd"));
    Read(dir.File("rate0.wav"), info, &status);
    EXPECT_EQ(status, SIGKIT_E_BAD_RATE);
    Read(dir.Path(), info, &status);
    EXPECT_NE(status, SIGKIT_OK);

    sigkit_wav_reader* r = nullptr;
    info.size = 12;
    EXPECT_EQ(sigkit_wav_open(dir.File("x.wav").c_str(), &info, &r), SIGKIT_E_RECORD_SIZE);
    EXPECT_EQ(sigkit_wav_open(nullptr, &info, &r), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_wav_open("x", nullptr, &r), SIGKIT_E_NULL);
    std::size_t got = 5;
    EXPECT_EQ(sigkit_wav_read(nullptr, nullptr, 1, &got), SIGKIT_E_NULL);
    EXPECT_EQ(got, 0u);
    sigkit_wav_close_reader(nullptr);
}

TEST(ApiWav, PublishesOnlyCompleteFiles)
{
    sigtest::TempDir dir;
    const std::string path = dir.File("out.wav");
    const std::string partial = dir.File("out.partial.wav");
    sigkit_wav_format shape;
    sigkit_wav_format_init(&shape, SIGKIT_ENCODING_S16, 48000, 1);
    sigkit_wav_writer* w = nullptr;
    ASSERT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_OK);
    const std::vector<float> ones(1000, 0.25f);
    ASSERT_EQ(sigkit_wav_write(w, ones.data(), 1000), SIGKIT_OK);
    // Written under a hidden temporary name beside the output, nothing under the output's.
    const std::vector<std::string> writing = Others(dir, {});
    ASSERT_EQ(writing.size(), 1u);
    EXPECT_EQ(writing[0].rfind(".out.wav.", 0), 0u) << writing[0];
    ASSERT_EQ(sigkit_wav_close(w), SIGKIT_OK);
    EXPECT_EQ(Others(dir, {}), std::vector<std::string>{"out.wav"});

    // Abandoned: the path keeps the complete file, the partial one holds what was written.
    ASSERT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_OK);
    ASSERT_EQ(sigkit_wav_write(w, ones.data(), 300), SIGKIT_OK);
    ASSERT_EQ(sigkit_wav_abandon(w), SIGKIT_OK);
    sigkit_wav_info info;
    EXPECT_EQ(Read(path, info).size(), 1000u);
    EXPECT_EQ(Read(partial, info).size(), 300u);
    EXPECT_EQ(info.frames, 300u);
    EXPECT_TRUE(Others(dir, {"out.wav", "out.partial.wav"}).empty());

    // No replacing: refused at once, and nothing made.
    std::remove(partial.c_str());
    EXPECT_EQ(Write(path, SIGKIT_ENCODING_S16, 48000, 1, ones, nullptr, SIGKIT_WAV_NO_REPLACE),
              SIGKIT_E_EXISTS);
    EXPECT_EQ(Others(dir, {}), std::vector<std::string>{"out.wav"});
    // ... and at the close, when the path appeared meanwhile: the other file stays, and this
    // writer leaves nothing.
    const std::string later = dir.File("later.wav");
    shape.flags = SIGKIT_WAV_NO_REPLACE;
    ASSERT_EQ(sigkit_wav_create(later.c_str(), &shape, &w), SIGKIT_OK);
    ASSERT_EQ(sigkit_wav_write(w, ones.data(), 10), SIGKIT_OK);
    sigtest::WriteFileBytes(later, "someone else's");
    EXPECT_EQ(sigkit_wav_close(w), SIGKIT_E_EXISTS);
    EXPECT_EQ(sigtest::ReadFileBytes(later), "someone else's");
    EXPECT_TRUE(Others(dir, {"out.wav", "later.wav"}).empty());
}

TEST(ApiWav, LinkAtThePathIsReplacedNotFollowed)
{
    sigtest::TempDir dir;
    const std::string target = dir.File("target.wav");
    sigtest::WriteFileBytes(target, "the link's target");
    const std::string path = dir.File("link.wav");
    std::filesystem::create_symlink(target, path);
    ASSERT_EQ(Write(path, SIGKIT_ENCODING_F32, 8000, 1, {0.5f, -0.5f}), SIGKIT_OK);
    EXPECT_EQ(sigtest::ReadFileBytes(target), "the link's target");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    sigkit_wav_info info;
    EXPECT_EQ(Read(path, info), (std::vector<float>{0.5f, -0.5f}));
}

TEST(ApiWav, RefusesBadFormatsAndPaths)
{
    sigtest::TempDir dir;
    const std::vector<float> one(2, 0.0f);
    const std::string path = dir.File("bad.wav");
    EXPECT_EQ(Write(path, 0, 8000, 1, one), SIGKIT_E_FORMAT);
    EXPECT_EQ(Write(path, 7, 8000, 1, one), SIGKIT_E_FORMAT);
    EXPECT_EQ(Write(path, SIGKIT_ENCODING_S16, 0, 1, one), SIGKIT_E_BAD_RATE);
    EXPECT_EQ(Write(path, SIGKIT_ENCODING_S16, NAN, 1, one), SIGKIT_E_BAD_RATE);
    EXPECT_EQ(Write(path, SIGKIT_ENCODING_S16, 5e9, 1, one), SIGKIT_E_BAD_RATE);
    EXPECT_EQ(Write(path, SIGKIT_ENCODING_S16, 8000, 0, one), SIGKIT_E_CHANNELS);
    EXPECT_EQ(Write(path, SIGKIT_ENCODING_S16, 8000, 1, one, nullptr, 0x80), SIGKIT_E_INVALID);
    EXPECT_EQ(Write(dir.File("no/such/folder.wav"), SIGKIT_ENCODING_S16, 8000, 1, one),
              SIGKIT_E_NOT_FOUND);
    EXPECT_FALSE(sigtest::FileExists(path));

    sigkit_wav_format shape;
    sigkit_wav_format_init(&shape, SIGKIT_ENCODING_F32, 8000, 1);
    sigkit_wav_writer* w = nullptr;
    // Metadata the auxi chunk cannot hold, or bits of no field.
    shape.metadata = SIGKIT_META_CENTRE_FREQUENCY;
    for (const double centre : {-1.0, 4294967296.0, std::nan("")})
    {
        shape.centre_frequency = centre;
        EXPECT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_E_INVALID) << centre;
    }
    shape.centre_frequency = 7.1e6;
    shape.metadata = SIGKIT_META_START_TIME;
    shape.start_time = 1e12;
    EXPECT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_E_INVALID);
    shape.metadata = 0x40;
    EXPECT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_E_INVALID);
    EXPECT_EQ(w, nullptr);
    EXPECT_FALSE(sigtest::FileExists(path));
    // What it can hold comes back from the reader.
    shape.metadata = SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME;
    shape.start_time = 1704110400.25;
    ASSERT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_OK);
    ASSERT_EQ(sigkit_wav_write(w, one.data(), 1), SIGKIT_OK);
    ASSERT_EQ(sigkit_wav_close(w), SIGKIT_OK);
    w = nullptr;
    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    ASSERT_EQ(sigkit_wav_open(path.c_str(), &info, &r), SIGKIT_OK);
    sigkit_wav_close_reader(r);
    EXPECT_EQ(info.metadata, SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME);
    EXPECT_EQ(info.centre_frequency, 7.1e6);
    EXPECT_NEAR(info.start_time, 1704110400.25, 0.0006); // the chunk keeps milliseconds
    std::remove(path.c_str());
    shape.metadata = 0;
    shape.size = 20;
    EXPECT_EQ(sigkit_wav_create(path.c_str(), &shape, &w), SIGKIT_E_RECORD_SIZE);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(sigkit_wav_create(nullptr, &shape, &w), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_wav_write(nullptr, one.data(), 1), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_wav_close(nullptr), SIGKIT_E_NULL);
    EXPECT_EQ(sigkit_wav_abandon(nullptr), SIGKIT_OK);
}
