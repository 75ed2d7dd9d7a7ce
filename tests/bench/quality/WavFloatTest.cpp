#include "WavFloat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace sigquality {
namespace {

std::string TempPath(const char* name)
{
    return ::testing::TempDir() + "/" + name;
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void Put(std::vector<std::uint8_t>& b, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xff));
}

void PutTag(std::vector<std::uint8_t>& b, const char* tag)
{
    b.insert(b.end(), tag, tag + 4);
}

TEST(WavFloat, FloatFramesComeBackBitForBit)
{
    Signal s;
    s.rate = 44100.0;
    s.channels = 2;
    s.complex = true;
    s.samples = {0.0f, -0.0f, 1e-30f, -1.0f, 0.123456789f, 3.5f};
    std::string error;
    const std::string path = TempPath("float.wav");
    ASSERT_TRUE(WriteFloatWav(path, s, error)) << error;
    Signal back;
    ASSERT_TRUE(ReadWav(path, true, back, error)) << error;
    EXPECT_EQ(back.rate, 44100.0);
    EXPECT_EQ(back.channels, 2);
    EXPECT_TRUE(back.complex);
    ASSERT_EQ(back.samples.size(), s.samples.size());
    for (std::size_t i = 0; i < s.samples.size(); ++i)
        EXPECT_EQ(std::memcmp(&back.samples[i], &s.samples[i], 4), 0) << i;
    // Two channels read as two real signals when not asked for a pair.
    ASSERT_TRUE(ReadWav(path, false, back, error));
    EXPECT_FALSE(back.complex);
    std::remove(path.c_str());
}

TEST(WavFloat, ReadsSixteenBitExtensibleFilesPastOtherChunks)
{
    // An extensible header whose subformat is integer PCM, a LIST chunk of odd size (padded)
    // before the data, and samples -32768, 16384.
    std::vector<std::uint8_t> b;
    PutTag(b, "RIFF");
    Put(b, 4 + 8 + 40 + 8 + 3 + 1 + 8 + 4, 4);
    PutTag(b, "WAVE");
    PutTag(b, "fmt ");
    Put(b, 40, 4);
    Put(b, 0xfffe, 2);
    Put(b, 1, 2);
    Put(b, 8000, 4);
    Put(b, 16000, 4);
    Put(b, 2, 2);
    Put(b, 16, 2);
    Put(b, 22, 2);
    Put(b, 16, 2);
    Put(b, 4, 4);
    Put(b, 1, 2); // subformat: PCM
    for (int i = 0; i < 14; ++i)
        b.push_back(0);
    PutTag(b, "LIST");
    Put(b, 3, 4);
    b.insert(b.end(), {'a', 'b', 'c', 0});
    PutTag(b, "data");
    Put(b, 4, 4);
    Put(b, 0x8000, 2);
    Put(b, 0x4000, 2);
    const std::string path = TempPath("pcm16.wav");
    WriteBytes(path, b);
    Signal s;
    std::string error;
    ASSERT_TRUE(ReadWav(path, false, s, error)) << error;
    EXPECT_EQ(s.rate, 8000.0);
    ASSERT_EQ(s.samples.size(), 2u);
    EXPECT_EQ(s.samples[0], -1.0f);
    EXPECT_EQ(s.samples[1], 0.5f);
    std::remove(path.c_str());
}

TEST(WavFloat, RefusesWhatItCannotRead)
{
    const std::string path = TempPath("bad.wav");
    WriteBytes(path, {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '});
    Signal s;
    std::string error;
    EXPECT_FALSE(ReadWav(path, false, s, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadWav(TempPath("missing.wav"), false, s, error));
    std::remove(path.c_str());
}

} // namespace
} // namespace sigquality
