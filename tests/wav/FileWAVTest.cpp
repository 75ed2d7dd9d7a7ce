// The WAV file layer: the header it writes, what it reads back, and the files of other writers
// and of no writer at all.
#include "wav/FileWAV.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"
#include "wav/FileWAV_VeryFast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace sigtest;
using sigkit::FileWAV;
using sigkit::FileWAV_VeryFast;

namespace {

std::string Pattern(std::size_t n, unsigned seed = 1)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return bytes;
}

// Reads every sample byte of a file through the streamed variant, in pieces of the given size.
std::string ReadAll(FileWAV& file, int32_t piece = 1200)
{
    std::string out;
    std::vector<char> buffer(static_cast<std::size_t>(piece));
    for (int guard = 0; guard < 10000000; ++guard)
    {
        const int32_t got = file.Read(buffer.data(), piece);
        if (got <= 0)
            break;
        out.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return out;
}

std::string OpenAndReadAll(const std::string& path, int32_t piece = 1200)
{
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_GE(file->Open(path.c_str(), 0), 0);
    std::string data = ReadAll(*file, piece);
    file->Close();
    return data;
}

std::string WriteStreamed(const std::string& path, const std::string& samples, int channels,
                          float rate, uint16_t bits)
{
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_GE(file->Create(path.c_str()), 0);
    file->SetFormatTag(1);
    if (channels == 2)
        file->SetStereo();
    file->SetBitsPerSample(bits);
    file->SetRate(rate);
    for (std::size_t at = 0; at < samples.size(); at += 1000)
    {
        const std::string part = samples.substr(at, 1000);
        EXPECT_EQ(file->Write(part.data(), static_cast<int32_t>(part.size())),
                  static_cast<int32_t>(part.size()));
    }
    EXPECT_EQ(file->Close(), 0);
    return ReadFileBytes(path);
}

} // namespace

// --- the header this layer writes --------------------------------------------------------------

TEST(FileWAVHeader, StreamedFileHasTheFixedLayoutByteForByte)
{
    TempDir dir;
    const std::string samples = Pattern(4800);
    const std::string bytes = WriteStreamed(dir.File("out.wav"), samples, 2, 48000.0f, 16);

    ASSERT_EQ(bytes.size(), 334u + 4800u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(GetU32(bytes, 4), 326u + 4800u);
    EXPECT_EQ(bytes.substr(8, 4), "WAVE");
    EXPECT_EQ(bytes.substr(12, 4), "fmt ");
    EXPECT_EQ(GetU32(bytes, 16), 18u);
    EXPECT_EQ(GetU16(bytes, 20), 1u);      // PCM
    EXPECT_EQ(GetU16(bytes, 22), 2u);      // channels
    EXPECT_EQ(GetU32(bytes, 24), 48000u);  // sample rate
    EXPECT_EQ(GetU32(bytes, 28), 192000u); // byte rate
    EXPECT_EQ(GetU16(bytes, 32), 4u);      // block align
    EXPECT_EQ(GetU16(bytes, 34), 16u);     // bits
    EXPECT_EQ(GetU16(bytes, 36), 0u);      // extra size
    EXPECT_EQ(bytes.substr(38, 4), "fact");
    EXPECT_EQ(GetU32(bytes, 42), 4u);
    EXPECT_EQ(GetU32(bytes, 46), 8000u); // as it stood when the header was first written
    EXPECT_EQ(bytes.substr(50, 4), "freq");
    EXPECT_EQ(GetU32(bytes, 54), 268u); // covers the value and the nested LIST chunk
    float exact = 0;
    const uint32_t exactBits = GetU32(bytes, 58);
    std::memcpy(&exact, &exactBits, 4);
    EXPECT_EQ(exact, 48000.0f);
    EXPECT_EQ(bytes.substr(62, 4), "LIST");
    EXPECT_EQ(GetU32(bytes, 66), 256u);
    EXPECT_EQ(bytes.substr(70, 256), std::string(256, '\0'));
    EXPECT_EQ(bytes.substr(326, 4), "data");
    EXPECT_EQ(GetU32(bytes, 330), 4800u);
    EXPECT_EQ(bytes.substr(334), samples);
}

TEST(FileWAVHeader, EmptyAndOddSizedFilesAreCompleteWithoutPad)
{
    TempDir dir;
    EXPECT_EQ(WriteStreamed(dir.File("empty.wav"), "", 1, 8000.0f, 16).size(), 334u);
    const std::string odd = WriteStreamed(dir.File("odd.wav"), Pattern(33333), 1, 8000.0f, 8);
    ASSERT_EQ(odd.size(), 334u + 33333u);
    EXPECT_EQ(GetU32(odd, 330), 33333u);
    EXPECT_EQ(GetU32(odd, 4), 326u + 33333u);
}

TEST(FileWAVHeader, FormatTagsForceTheirWidthAndRate)
{
    auto file = std::make_unique<FileWAV>(16);
    file->SetBitsPerSample(16);
    file->SetRate(44100.0f);
    file->SetFormatTag(sigkit::kTagAlaw);
    uint32_t rate = 0;
    uint32_t exact = 0;
    file->GetRates(rate, exact);
    uint8_t fmt[40];
    file->GetFormat(fmt, sizeof fmt);
    EXPECT_EQ(rate, 8000u);
    EXPECT_EQ(fmt[14], 8);
    file->SetFormatTag(sigkit::kTagPcm8);
    file->SetRate(22050.0f);
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 22050u);
    file->GetFormat(fmt, sizeof fmt);
    EXPECT_EQ(fmt[14], 8);
}

TEST(FileWAVHeader, RatesOutsideTheFieldAreLimitedNotUndefined)
{
    auto file = std::make_unique<FileWAV>(16);
    uint32_t rate = 1;
    uint32_t exact = 0;
    file->SetRate(-5.0f);
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 0u);
    file->SetRate(1e20f);
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 0xFFFFFFFFu);
    file->SetRate(std::nanf(""));
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 0u);
    file->SetRate(11025.7f);
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 11025u);
}

// --- reading back -------------------------------------------------------------------------------

TEST(FileWAVRead, OwnFileReadsBackWithItsFormatAndExactBytes)
{
    TempDir dir;
    const std::string samples = Pattern(100001, 3);
    WriteStreamed(dir.File("own.wav"), samples, 2, 11025.0f, 24);

    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Open(dir.File("own.wav").c_str(), 0), 0);
    uint32_t rate = 0;
    uint32_t exact = 0;
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 11025u);
    float exactRate = 0;
    std::memcpy(&exactRate, &exact, 4);
    EXPECT_EQ(exactRate, 11025.0f);
    EXPECT_EQ(file->FormatSize(), 18u);
    EXPECT_EQ(file->DataSize(), samples.size());
    EXPECT_EQ(ReadAll(*file, 777), samples);
    EXPECT_EQ(file->Close(), 0);
}

TEST(FileWAVRead, PlainPcmFileWithSixteenByteFormat)
{
    TempDir dir;
    const std::string samples = Pattern(5000);
    WriteFileBytes(dir.File("plain.wav"), PcmWav(2, 48000, 16, samples));
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Open(dir.File("plain.wav").c_str(), 0), 0);
    EXPECT_EQ(file->FormatSize(), 16u);
    uint32_t rate = 0;
    uint32_t exact = 1;
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(exact, 0u); // no freq chunk: its initial value
    EXPECT_EQ(ReadAll(*file), samples);
}

TEST(FileWAVRead, ChunkAfterDataIsNotDelivered)
{
    TempDir dir;
    const std::string samples = Pattern(3000);
    WriteFileBytes(dir.File("x.wav"),
                   RiffFile(Chunk("fmt ", FormatBody(1, 1, 8000, 16)) + Chunk("data", samples) +
                            Chunk("LIST", std::string(40, 'x')) + Chunk("junk", "abc")));
    EXPECT_EQ(OpenAndReadAll(dir.File("x.wav")), samples);
}

TEST(FileWAVRead, HeaderlessFileDeliversFromOffsetTwelveAtRateZero)
{
    TempDir dir;
    const std::string bytes = "NOTARIFFFILE" + Pattern(999);
    WriteFileBytes(dir.File("raw.bin"), bytes);
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Open(dir.File("raw.bin").c_str(), 0), 0);
    EXPECT_TRUE(file->Headerless());
    uint32_t rate = 1;
    uint32_t exact = 1;
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 0u);
    EXPECT_EQ(exact, 0u);
    EXPECT_EQ(ReadAll(*file), bytes.substr(12));

    WriteFileBytes(dir.File("tiny.bin"), "RIFF");
    EXPECT_EQ(OpenAndReadAll(dir.File("tiny.bin")), "");
    WriteFileBytes(dir.File("empty.bin"), "");
    EXPECT_EQ(OpenAndReadAll(dir.File("empty.bin")), "");
}

TEST(FileWAVRead, DataDeclaredBeyondTheEndDeliversWhatIsPresent)
{
    TempDir dir;
    const std::string samples = Pattern(2500);
    WriteFileBytes(dir.File("cut.wav"), RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
                                                 ChunkDeclared("data", 0x80000000u, samples)));
    EXPECT_EQ(OpenAndReadAll(dir.File("cut.wav")), samples);
    WriteFileBytes(dir.File("cut2.wav"), RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
                                                  ChunkDeclared("data", 0xFFFFFFF8u, samples)));
    EXPECT_EQ(OpenAndReadAll(dir.File("cut2.wav")), samples);
}

TEST(FileWAVRead, UnknownSizesMeanToTheEndOfTheFile)
{
    TempDir dir;
    const std::string samples = Pattern(70000);
    const std::string fmt = Chunk("fmt ", FormatBody(1, 2, 8000, 16));
    // A recorder that was cut off: sizes never written.
    WriteFileBytes(dir.File("ff.wav"),
                   RiffFile(fmt + ChunkDeclared("data", 0xFFFFFFFFu, samples), 0xFFFFFFFF));
    EXPECT_EQ(OpenAndReadAll(dir.File("ff.wav")), samples);
    WriteFileBytes(dir.File("zero.wav"), RiffFile(fmt + ChunkDeclared("data", 0, samples), 0));
    EXPECT_EQ(OpenAndReadAll(dir.File("zero.wav")), samples);
    // A finished file with an empty data chunk and other bytes behind it stays empty.
    WriteFileBytes(dir.File("done.wav"),
                   RiffFile(fmt + ChunkDeclared("data", 0, "") + Chunk("junk", samples)));
    EXPECT_EQ(OpenAndReadAll(dir.File("done.wav")), "");
}

TEST(FileWAVRead, OddChunksWithAndWithoutPadByte)
{
    TempDir dir;
    const std::string samples = Pattern(1000);
    const std::string fmt = Chunk("fmt ", FormatBody(1, 1, 8000, 16));
    // Chunk() pads odd bodies, as standard writers do.
    WriteFileBytes(dir.File("padded.wav"),
                   RiffFile(Chunk("odd ", "abcde") + fmt + Chunk("data", samples)));
    EXPECT_EQ(OpenAndReadAll(dir.File("padded.wav")), samples);
    // Some writers leave the pad out.
    WriteFileBytes(dir.File("unpadded.wav"),
                   RiffFile(ChunkDeclared("odd ", 5, "abcde") + fmt + Chunk("data", samples)));
    EXPECT_EQ(OpenAndReadAll(dir.File("unpadded.wav")), samples);
}

TEST(FileWAVRead, OversizeKnownChunksAreReadSafelyAndSkipped)
{
    TempDir dir;
    const std::string samples = Pattern(1500);
    std::string bigFmt = FormatBody(1, 2, 44100, 16);
    bigFmt.resize(1024, '\x55');
    std::string chunks = Chunk("fmt ", bigFmt) + Chunk("fact", std::string(300, 'f')) +
                         Chunk("freq", std::string(200, 'q')) +
                         Chunk("LIST", std::string(5000, 'l')) + Chunk("data", samples);
    WriteFileBytes(dir.File("big.wav"), RiffFile(chunks));
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Open(dir.File("big.wav").c_str(), 0), 0);
    EXPECT_EQ(file->FormatSize(), sigkit::kFmtCapacity);
    uint32_t rate = 0;
    uint32_t exact = 0;
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(ReadAll(*file), samples);
}

TEST(FileWAVRead, ShortFormatChunksAreReportedAsShort)
{
    TempDir dir;
    for (uint32_t size : {0u, 14u})
    {
        const std::string body = FormatBody(1, 2, 44100, 16).substr(0, size);
        WriteFileBytes(dir.File("short.wav"),
                       RiffFile(Chunk("fmt ", body) + Chunk("data", "abcd")));
        auto file = std::make_unique<FileWAV_VeryFast>(16384);
        ASSERT_GE(file->Open(dir.File("short.wav").c_str(), 0), 0);
        EXPECT_TRUE(file->FormatFound());
        EXPECT_EQ(file->FormatSize(), size);
        EXPECT_EQ(ReadAll(*file), "abcd");
    }
}

TEST(FileWAVRead, ManyEmptyChunksAndHugeSkipsEndTheScan)
{
    TempDir dir;
    std::string chunks = Chunk("fmt ", FormatBody(1, 1, 8000, 16));
    for (int i = 0; i < 100000; ++i)
        chunks += ChunkDeclared("empt", 0, "");
    chunks += Chunk("data", "0123456789");
    WriteFileBytes(dir.File("many.wav"), RiffFile(chunks));
    EXPECT_EQ(OpenAndReadAll(dir.File("many.wav")), "0123456789");

    // A chunk whose size points far past the end: the scan ends, nothing is found behind it.
    WriteFileBytes(dir.File("skip.wav"),
                   RiffFile(ChunkDeclared("junk", 0xFFFFFFF0u, "xx") + Chunk("data", "abcd")));
    EXPECT_EQ(OpenAndReadAll(dir.File("skip.wav")), "");
}

TEST(FileWAVRead, NonWaveRiffFilesAreHeaderless)
{
    TempDir dir;
    const std::string avi = "RIFF\x10\x00\x00\x00"
                            "AVI LIST" +
                            Pattern(100);
    WriteFileBytes(dir.File("x.avi"), avi);
    EXPECT_EQ(OpenAndReadAll(dir.File("x.avi")), avi.substr(12));
    std::string rifx = PcmWav(1, 8000, 16, "abcd");
    rifx[3] = 'X';
    WriteFileBytes(dir.File("x.rifx"), rifx);
    EXPECT_EQ(OpenAndReadAll(dir.File("x.rifx")), rifx.substr(12));
}

TEST(FileWAVRead, Rf64DataSizeComesFromTheDs64Chunk)
{
    TempDir dir;
    const std::string samples = Pattern(5000);
    std::string ds64;
    PutU64(ds64, 0);                     // RIFF size
    PutU64(ds64, samples.size() - 1000); // data size
    PutU64(ds64, 0);                     // sample count
    PutU32(ds64, 0);                     // table length
    std::string file = "RF64";
    PutU32(file, 0xFFFFFFFF);
    file += "WAVE" + Chunk("ds64", ds64) + Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
            ChunkDeclared("data", 0xFFFFFFFF, samples);
    WriteFileBytes(dir.File("x.rf64"), file);
    EXPECT_EQ(OpenAndReadAll(dir.File("x.rf64")), samples.substr(0, 4000));
}

TEST(FileWAVRead, FilesThatCannotBeOpenedLeaveTheObjectClosed)
{
    TempDir dir;
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_EQ(file->Open(dir.File("missing.wav").c_str(), 0), -1);
    EXPECT_EQ(file->OpenMode(), 0);
    EXPECT_EQ(file->Open(dir.Path().c_str(), 0), -1); // a folder
    char buffer[16];
    EXPECT_EQ(file->Read(buffer, sizeof buffer), 0);
    const std::string longName(2000, 'a');
    EXPECT_EQ(file->Open(longName.c_str(), 0), -1);
}

TEST(FileWAVRead, SeekClampsToTheData)
{
    TempDir dir;
    const std::string samples = Pattern(100000);
    WriteFileBytes(dir.File("s.wav"), PcmWav(1, 8000, 8, samples));
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Open(dir.File("s.wav").c_str(), 0), 0);
    EXPECT_EQ(file->Seek(0, 2), samples.size());
    char byte = 0;
    EXPECT_EQ(file->Read(&byte, 1), 0);
    EXPECT_EQ(file->Seek(-5, 0), 0u);
    EXPECT_EQ(file->Seek(70000, 0), 70000u);
    EXPECT_EQ(ReadAll(*file), samples.substr(70000));
    EXPECT_EQ(file->Seek(10, 0), 10u);
    EXPECT_EQ(file->Seek(5, 1), 15u);
    EXPECT_EQ(file->Seek(5, 9), 15u); // unknown whence keeps the position
    EXPECT_EQ(ReadAll(*file, 4096), samples.substr(15));
}

// --- writing after seeks, and write limits
// --------------------------------------------------------

TEST(FileWAVWrite, SeekBackInsideTheWindowKeepsEveryWrittenByte)
{
    TempDir dir;
    const std::string path = dir.File("seek.wav");
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Create(path.c_str()), 0);
    const std::string first = Pattern(100);
    file->Write(first.data(), 100);
    file->Seek(10, 0);
    file->Write("XXXXX", 5);
    EXPECT_EQ(file->Close(), 0);
    std::string expected = first;
    expected.replace(10, 5, "XXXXX");
    EXPECT_EQ(OpenAndReadAll(path), expected);
}

TEST(FileWAVWrite, SeekAwayFromAWrittenWindowFlushesItFirst)
{
    TempDir dir;
    const std::string path = dir.File("seek2.wav");
    auto file = std::make_unique<FileWAV_VeryFast>(16); // a 32-byte window
    ASSERT_GE(file->Create(path.c_str()), 0);
    const std::string data = Pattern(100);
    file->Write(data.data(), 100); // last window holds bytes 96..99, unwritten
    file->Seek(0, 0);              // leaves that window
    file->Write("AB", 2);
    EXPECT_EQ(file->Close(), 0);
    std::string expected = data;
    expected.replace(0, 2, "AB");
    EXPECT_EQ(OpenAndReadAll(path), expected);
}

TEST(FileWAVWrite, LargeOutputBecomesRf64WithTheSameHeaderLength)
{
    TempDir dir;
    const std::string path = dir.File("big.wav");
    const std::string samples = Pattern(5000);
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    file->SetRf64Threshold(1000);
    ASSERT_GE(file->Create(path.c_str()), 0);
    file->SetStereo();
    file->SetRate(48000.0f);
    file->Write(samples.data(), static_cast<int32_t>(samples.size()));
    EXPECT_EQ(file->Close(), 0);
    EXPECT_TRUE(file->IsRf64());

    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 334u + samples.size());
    EXPECT_EQ(bytes.substr(0, 4), "RF64");
    EXPECT_EQ(GetU32(bytes, 4), 0xFFFFFFFFu);
    EXPECT_EQ(bytes.substr(12, 4), "ds64");
    EXPECT_EQ(GetU32(bytes, 20), 326u + 5000u); // 64-bit RIFF size, low word
    EXPECT_EQ(GetU32(bytes, 24), 0u);
    EXPECT_EQ(GetU32(bytes, 28), 5000u); // 64-bit data size, low word
    EXPECT_EQ(GetU32(bytes, 36), 1250u); // frames of 4 bytes
    EXPECT_EQ(bytes.substr(48, 4), "fmt ");
    EXPECT_EQ(bytes.substr(326, 4), "data");
    EXPECT_EQ(GetU32(bytes, 330), 0xFFFFFFFFu);
    EXPECT_EQ(bytes.substr(334), samples);
    EXPECT_EQ(OpenAndReadAll(path), samples);

    // Below the threshold the file keeps the standard header.
    auto small = std::make_unique<FileWAV_VeryFast>(16384);
    small->SetRf64Threshold(10000);
    ASSERT_GE(small->Create(dir.File("small.wav").c_str()), 0);
    small->Write(samples.data(), static_cast<int32_t>(samples.size()));
    EXPECT_EQ(small->Close(), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("small.wav")).substr(0, 4), "RIFF");
}

// --- scan positions that wrap, and files given up
// -------------------------------------------------

TEST(FileWAVRead, SizesThatWrapThePositionEndTheScanAtOnce)
{
    TempDir dir;
    const std::string samples = Pattern(16);
    auto rf64 = [&](uint64_t ds64Data) {
        std::string ds64;
        PutU64(ds64, 0);
        PutU64(ds64, ds64Data);
        PutU64(ds64, 0);
        PutU32(ds64, 0);
        std::string file = "RF64";
        PutU32(file, 0xFFFFFFFF);
        return file + "WAVE" + Chunk("ds64", ds64) + Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
               ChunkDeclared("data", 0xFFFFFFFF, samples);
    };
    // 80 + (2^64 - 68) wraps to 12, the first chunk: once the scan went round for ever.
    WriteFileBytes(dir.File("wrap.wav"), rf64(0 - uint64_t{68}));
    ASSERT_EQ(ReadFileBytes(dir.File("wrap.wav")).size(), 96u);
    EXPECT_EQ(OpenAndReadAll(dir.File("wrap.wav")), samples);
    // All ones in ds64 is "not known": the data runs to the end.
    WriteFileBytes(dir.File("ones.wav"), rf64(UINT64_MAX));
    EXPECT_EQ(OpenAndReadAll(dir.File("ones.wav")), samples);
}

TEST(FileWAVWrite, FileGivenUpIsKeptAsPartialWithATrueHeader)
{
    TempDir dir;
    const std::string path = dir.File("take.wav");
    const std::string samples = Pattern(50000);
    {
        auto file = std::make_unique<FileWAV_VeryFast>(16384);
        ASSERT_GE(file->Create(path.c_str()), 0);
        file->SetStereo();
        file->Write(samples.data(), static_cast<int32_t>(samples.size()));
        EXPECT_EQ(file->Abandon(), 0);
        EXPECT_EQ(std::string(file->PartialPath()), dir.File("take.partial.wav"));
        EXPECT_EQ(file->PartialFrames(), samples.size() / 4);
        EXPECT_EQ(file->Abandon(), -1); // nothing open any more
    }
    {
        // Destroyed while writing: given up the same way, never published.
        auto file = std::make_unique<FileWAV_VeryFast>(16384);
        ASSERT_GE(file->Create(path.c_str()), 0);
        file->Write(samples.data(), 1000);
    }
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(OpenAndReadAll(dir.File("take.partial.wav")), samples.substr(0, 1000));
    const std::string bytes = ReadFileBytes(dir.File("take.partial.wav"));
    EXPECT_EQ(GetU32(bytes, 330), 1000u);
    EXPECT_EQ(GetU32(bytes, 4), bytes.size() - 8);
}
