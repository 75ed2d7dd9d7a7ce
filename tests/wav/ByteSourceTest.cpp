// The byte sources and sinks under the WAV layer: a file read by offset, a memory buffer and a
// stream read in order give the same format and the same sample bytes; a stream that cannot seek
// back gets the header once, declaring a length not known.
#include "wav/ByteSource.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"
#include "wav/ByteSink.h"
#include "wav/FileWAV.h"
#include "wav/FileWAV_VeryFast.h"
#include "wav/LoadWav.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace sigtest;
using sigkit::FileWAV_VeryFast;

namespace {

std::string Pattern(std::size_t n, unsigned seed = 1)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return bytes;
}

// A stream that hands out its bytes in small uneven pieces, as a pipe does.
struct PieceStream
{
    std::string bytes;
    std::size_t at = 0;
    std::size_t calls = 0;
};

int64_t ReadPieces(void* context, void* buffer, std::size_t count)
{
    auto& stream = *static_cast<PieceStream*>(context);
    const std::size_t piece =
        std::min({count, stream.bytes.size() - stream.at, 1 + (stream.calls++ * 7) % 13});
    std::memcpy(buffer, stream.bytes.data() + stream.at, piece);
    stream.at += piece;
    return static_cast<int64_t>(piece);
}

// What a reader learns from a file: its format and its sample bytes.
struct Seen
{
    std::string format;
    uint32_t rate = 0;
    uint32_t exactBits = 0;
    bool headerless = false;
    bool formatFound = false;
    uint64_t declared = 0;
    std::string data;
};

Seen ReadThrough(FileWAV_VeryFast& file)
{
    Seen seen;
    uint8_t format[sigkit::kFmtCapacity]{};
    seen.format.assign(reinterpret_cast<const char*>(format),
                       file.GetFormat(format, sizeof format));
    file.GetRates(seen.rate, seen.exactBits);
    seen.headerless = file.Headerless();
    seen.formatFound = file.FormatFound();
    seen.declared = file.DeclaredSize();
    std::vector<char> buffer(1000);
    for (int32_t n; (n = file.Read(buffer.data(), 777)) > 0;)
        seen.data.append(buffer.data(), static_cast<std::size_t>(n));
    return seen;
}

Seen FromFile(const std::string& bytes)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.wav"), bytes);
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_GE(file->Open(dir.File("in.wav").c_str(), 0), 0);
    return ReadThrough(*file);
}

Seen FromMemory(const std::string& bytes)
{
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_EQ(file->Open(std::make_unique<sigkit::MemorySource>(bytes.data(), bytes.size())), 0);
    return ReadThrough(*file);
}

Seen FromStream(const std::string& bytes)
{
    PieceStream stream{bytes};
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_EQ(file->Open(std::make_unique<sigkit::StreamSource>(ReadPieces, &stream)), 0);
    return ReadThrough(*file);
}

std::string OwnFile(const std::string& samples)
{
    TempDir dir;
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_GE(file->Create(dir.File("own.wav").c_str()), 0);
    file->SetStereo();
    file->SetBitsPerSample(24);
    file->SetRate(44100.0f);
    file->Write(samples.data(), static_cast<int32_t>(samples.size()));
    EXPECT_EQ(file->Close(), 0);
    return ReadFileBytes(dir.File("own.wav"));
}

std::string Ds64(uint64_t dataSize)
{
    std::string body;
    PutU64(body, 0);
    PutU64(body, dataSize);
    PutU64(body, 0);
    PutU32(body, 0);
    return Chunk("ds64", body);
}

std::string Rf64(const std::string& chunks)
{
    std::string file = "RF64";
    PutU32(file, 0xFFFFFFFF);
    return file + "WAVE" + chunks;
}

struct Case
{
    const char* name;
    std::string bytes;
};

std::vector<Case> Cases()
{
    const std::string samples = Pattern(70001);
    const std::string fmt = Chunk("fmt ", FormatBody(1, 2, 48000, 16));
    std::string extensible = FormatBody(0xFFFE, 2, 48000, 32);
    extensible.resize(40, '\x01');
    return {
        {"own", OwnFile(samples)},
        {"plain", PcmWav(2, 48000, 16, samples)},
        {"odd-unpadded",
         RiffFile(ChunkDeclared("odd ", 5, "abcde") + fmt + Chunk("data", samples))},
        {"odd-padded", RiffFile(Chunk("odd ", "abcde") + fmt + Chunk("data", samples))},
        {"unknown-sizes", RiffFile(fmt + ChunkDeclared("data", 0xFFFFFFFF, samples), 0xFFFFFFFF)},
        {"unfinished", RiffFile(fmt + ChunkDeclared("data", 0, samples), 0)},
        {"beyond-the-end", RiffFile(fmt + ChunkDeclared("data", 0x80000000u, samples))},
        {"list-after-data", RiffFile(fmt + Chunk("data", samples) + Chunk("LIST", "abcd"))},
        {"extensible", RiffFile(Chunk("fmt ", extensible) + Chunk("data", samples))},
        {"rf64", Rf64(Ds64(5000) + fmt + ChunkDeclared("data", 0xFFFFFFFF, samples))},
        {"rf64-unknown", Rf64(Ds64(UINT64_MAX) + fmt + ChunkDeclared("data", 0xFFFFFFFF, samples))},
        {"rf64-wraps", Rf64(Ds64(0 - uint64_t{68}) + Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
                            ChunkDeclared("data", 0xFFFFFFFF, Pattern(16)))},
        {"fmt-cut-off", RiffFile("").substr(0, 12) + "fmt " + std::string("\x10\0\0\0", 4)},
        {"headerless", "NOTARIFFFILE" + samples},
        {"short", "RIF"},
        {"empty", ""},
    };
}

} // namespace

TEST(ByteSources, MemoryAndStreamGiveTheFormatAndDataOfTheFile)
{
    for (const Case& c : Cases())
    {
        SCOPED_TRACE(c.name);
        const Seen file = FromFile(c.bytes);
        for (const Seen& other : {FromMemory(c.bytes), FromStream(c.bytes)})
        {
            EXPECT_EQ(other.format, file.format);
            EXPECT_EQ(other.rate, file.rate);
            EXPECT_EQ(other.exactBits, file.exactBits);
            EXPECT_EQ(other.headerless, file.headerless);
            EXPECT_EQ(other.formatFound, file.formatFound);
            EXPECT_EQ(other.data, file.data);
        }
        // A stream's length is not known, so a header that declares none says so.
        EXPECT_EQ(FromMemory(c.bytes).declared, file.declared);
        const uint64_t streamDeclared = FromStream(c.bytes).declared;
        EXPECT_TRUE(streamDeclared == file.declared || streamDeclared == sigkit::kUnknownLength);
    }
}

TEST(ByteSources, WorkedExamplesOfWhatIsRead)
{
    const std::string samples = Pattern(70001);
    EXPECT_EQ(FromStream(PcmWav(2, 48000, 16, samples)).data, samples);
    EXPECT_EQ(FromStream("NOTARIFFFILE" + samples).data, samples);
    const std::string rf64 = Rf64(Ds64(5000) + Chunk("fmt ", FormatBody(1, 2, 8000, 16)) +
                                  ChunkDeclared("data", 0xFFFFFFFF, samples));
    EXPECT_EQ(FromStream(rf64).data, samples.substr(0, 5000));
    // A cut-off fmt chunk is found but holds nothing; a RIFF file without one keeps the default.
    const Seen cut = FromFile(RiffFile("").substr(0, 12) + "fmt " + std::string("\x10\0\0\0", 4));
    EXPECT_TRUE(cut.formatFound);
    EXPECT_EQ(cut.format, "");
    EXPECT_FALSE(FromFile(RiffFile("")).formatFound);
}

TEST(ByteSources, StreamSkipsAheadStepsBackALittleAndNeverFurther)
{
    PieceStream stream{Pattern(100)};
    sigkit::StreamSource source(ReadPieces, &stream);
    EXPECT_FALSE(source.Seekable());
    EXPECT_EQ(source.Length(), sigkit::kUnknownLength);
    char bytes[8];
    ASSERT_EQ(source.ReadAt(bytes, 4, 40), 4); // skips 0..39
    EXPECT_EQ(std::string(bytes, 4), Pattern(100).substr(40, 4));
    ASSERT_EQ(source.ReadAt(bytes, 8, 30), 8); // the last bytes read are still at hand
    EXPECT_EQ(std::string(bytes, 8), Pattern(100).substr(30, 8));
    errno = 0;
    EXPECT_EQ(source.ReadAt(bytes, 4, 0), -1);
    EXPECT_EQ(errno, ESPIPE);
    EXPECT_EQ(source.ReadAt(bytes, 8, 96), 4); // the end
    EXPECT_EQ(source.ReadAt(bytes, 8, 200), 0);
    EXPECT_EQ(source.Consumed(), 100u);
}

TEST(ByteSources, PipeReadInOrderDeliversTheWholeFile)
{
    const std::string samples = Pattern(300001, 5);
    const std::string bytes = PcmWav(1, 8000, 8, samples);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        for (std::size_t at = 0; at < bytes.size(); at += 4093)
        {
            const std::size_t n = std::min<std::size_t>(4093, bytes.size() - at);
            if (write(ends[1], bytes.data() + at, n) != static_cast<ssize_t>(n))
                break;
        }
        close(ends[1]);
    });
    auto block = std::make_unique<sigkit::LoadWav>();
    block->SetParam("SizeBlock", "1200");
    EXPECT_EQ(block->Open(std::make_unique<sigkit::StreamSource>(ends[0])), 1);
    std::string data;
    const void* piece = nullptr;
    int32_t count = 0;
    while (block->Put(3, nullptr, 0), block->Get(0, &piece, &count) > 0)
        data.append(static_cast<const char*>(piece), static_cast<std::size_t>(count));
    writer.join();
    close(ends[0]);
    EXPECT_EQ(data, samples);
    EXPECT_EQ(block->DeliveredBytes(), samples.size());
    EXPECT_EQ(block->DeclaredBytes(), samples.size());
}

TEST(ByteSources, InMemoryVariantReadsAStreamOfNoDeclaredLengthWhole)
{
    const std::string samples = Pattern(300000, 2);
    PieceStream stream{RiffFile(Chunk("fmt ", FormatBody(1, 1, 8000, 16)) +
                                    ChunkDeclared("data", 0xFFFFFFFF, samples),
                                0xFFFFFFFF)};
    auto file = std::make_unique<sigkit::FileWAV>(16384);
    ASSERT_EQ(file->Open(std::make_unique<sigkit::StreamSource>(ReadPieces, &stream)), 0);
    EXPECT_EQ(file->DataSize(), samples.size());
    std::string data(samples.size() + 10, '\0');
    EXPECT_EQ(file->Read(data.data(), static_cast<int32_t>(data.size())),
              static_cast<int32_t>(samples.size()));
    data.resize(samples.size());
    EXPECT_EQ(data, samples);
}

// --- sinks
// ----------------------------------------------------------------------------------------

namespace {

sigkit::WriteResult Collect(void* context, const void* buffer, std::size_t count)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(buffer), count);
    return {count, true};
}

void Format(FileWAV_VeryFast& file)
{
    file.SetFormatTag(1);
    file.SetStereo();
    file.SetBitsPerSample(16);
    file.SetRate(48000.0f);
}

} // namespace

TEST(ByteSinks, StreamGetsTheFileHeaderOnceDeclaringNoLength)
{
    const std::string samples = Pattern(100001, 3);
    TempDir dir;
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Create(dir.File("file.wav").c_str()), 0);
    Format(*file);
    file->Write(samples.data(), static_cast<int32_t>(samples.size()));
    ASSERT_EQ(file->Close(), 0);
    const std::string written = ReadFileBytes(dir.File("file.wav"));

    std::string streamed;
    auto stream = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_EQ(stream->Create(std::make_unique<sigkit::StreamSink>(Collect, &streamed)), 0);
    Format(*stream);
    EXPECT_EQ(streamed, ""); // the header waits for the format and the first samples
    for (std::size_t at = 0; at < samples.size(); at += 1200)
    {
        const std::size_t n = std::min<std::size_t>(1200, samples.size() - at);
        stream->Write(samples.data() + at, static_cast<int32_t>(n));
    }
    ASSERT_EQ(stream->Close(), 0);

    ASSERT_EQ(streamed.size(), written.size());
    EXPECT_EQ(GetU32(streamed, 4), 0xFFFFFFFFu);
    EXPECT_EQ(GetU32(streamed, 330), 0xFFFFFFFFu);
    std::string expected = written;
    expected.replace(4, 4, streamed.substr(4, 4));
    expected.replace(330, 4, streamed.substr(330, 4));
    EXPECT_EQ(streamed, expected);
    EXPECT_EQ(FromMemory(streamed).data, samples); // read to the end
}

TEST(ByteSinks, StreamRefusesToGoBack)
{
    std::string streamed;
    sigkit::StreamSink sink(Collect, &streamed);
    EXPECT_TRUE(sink.WriteAt("abcd", 4, 0).ok);
    errno = 0;
    EXPECT_FALSE(sink.WriteAt("x", 1, 1).ok);
    EXPECT_EQ(errno, ESPIPE);
    EXPECT_EQ(sink.Written(), 4u);

    // A header change after samples went out cannot reach the stream: the writing fails.
    auto file = std::make_unique<FileWAV_VeryFast>(16); // a 32-byte window
    std::string out;
    ASSERT_EQ(file->Create(std::make_unique<sigkit::StreamSink>(Collect, &out)), 0);
    file->Write(Pattern(100).data(), 100);
    file->SetRate(8000.0f);
    EXPECT_TRUE(file->WriteFailed());
    EXPECT_EQ(file->Close(), -1);
}
