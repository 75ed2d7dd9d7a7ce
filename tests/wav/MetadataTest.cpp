// Recording metadata: the auxi chunk read from bytes laid out by hand, written into outputs and
// read back, damaged and hostile bodies, the recorders' file names, and the metadata that follows
// a shift, a rate change and a dropped start-up.
#include "wav/Metadata.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"
#include "wav/AuxiChunk.h"
#include "wav/FileWAV_VeryFast.h"
#include "wav/RecorderName.h"
#include "wav/SaveWav.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace sigtest;
using sigkit::CivilTime;
using sigkit::FileWAV_VeryFast;
using sigkit::Metadata;
using sigkit::MetadataSource;

namespace {

constexpr int64_t kSecond = 1000000000;
// 2024-01-01 00:00:00 UTC in seconds since 1970 (a Monday).
constexpr int64_t k20240101 = 1704067200;

int64_t At(int year, int month, int day, int hour, int minute, int second, int ns = 0)
{
    return sigkit::ToUtc(CivilTime{year, month, day, hour, minute, second, ns}).value();
}

void PutTime(std::string& out, int year, int month, int dayOfWeek, int day, int hour, int minute,
             int second, int ms)
{
    for (int v : {year, month, dayOfWeek, day, hour, minute, second, ms})
        PutU16(out, static_cast<uint16_t>(v));
}

// An auxi body as the recorders lay it out: 68 bytes of fields and a 96-byte next-file name.
std::string RecorderAuxi()
{
    std::string body;
    PutTime(body, 2024, 3, 5, 15, 13, 45, 30, 250); // Friday 2024-03-15 13:45:30.250
    PutTime(body, 2024, 3, 5, 15, 13, 55, 30, 250);
    PutU32(body, 7100000); // centre
    PutU32(body, 64000);   // A/D
    PutU32(body, 455000);  // IF
    PutU32(body, 48000);   // bandwidth
    PutU32(body, 5);       // IQ offset
    PutU32(body, 7);       // dB offset
    PutU32(body, 32767);   // maximum value
    PutU32(body, 11);      // unused
    PutU32(body, 13);      // unused
    std::string name = "NEXT_FILE.wav";
    name.resize(96, '\0');
    return body + name;
}

std::string IqSamples(std::size_t frames)
{
    std::string s;
    for (std::size_t i = 0; i < frames; ++i)
    {
        PutU16(s, static_cast<uint16_t>(i * 7));
        PutU16(s, static_cast<uint16_t>(i * 13));
    }
    return s;
}

std::string FileWithAuxi(const std::string& auxiChunk, const std::string& samples)
{
    return RiffFile(Chunk("fmt ", FormatBody(1, 2, 48000, 16)) + auxiChunk +
                    Chunk("data", samples));
}

struct ReadBack
{
    Metadata metadata;
    std::string samples;
};

ReadBack ReadFile(const std::string& path)
{
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ReadBack out;
    if (file->Open(path.c_str(), 0) < 0)
        return out;
    out.metadata = file->GetMetadata();
    std::string buffer(4096, '\0');
    for (int32_t got; (got = file->Read(buffer.data(), 4096)) > 0;)
        out.samples.append(buffer.data(), static_cast<std::size_t>(got));
    file->Close();
    return out;
}

std::string WriteWithMetadata(const std::string& path, const Metadata& m,
                              const std::string& samples, float rate = 48000.0f)
{
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    EXPECT_TRUE(file->SetMetadata(m));
    EXPECT_GE(file->Create(path.c_str()), 0);
    EXPECT_FALSE(file->SetMetadata(Metadata{})); // the header is laid out
    file->SetStereo();
    file->SetRate(rate);
    file->Write(samples.data(), static_cast<int32_t>(samples.size()));
    EXPECT_EQ(file->Close(), 0);
    return ReadFileBytes(path);
}

} // namespace

// --- calendar ------------------------------------------------------------------------------------

TEST(MetadataCalendar, KnownInstantsBothWays)
{
    EXPECT_EQ(At(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(At(2024, 1, 1, 12, 0, 0), (k20240101 + 12 * 3600) * kSecond);
    EXPECT_EQ(At(2024, 3, 1, 0, 0, 0) - At(2024, 2, 28, 0, 0, 0), 2 * 86400 * kSecond); // leap
    EXPECT_EQ(At(2100, 3, 1, 0, 0, 0) - At(2100, 2, 28, 0, 0, 0), 86400 * kSecond);     // no leap
    EXPECT_FALSE(sigkit::ToUtc(CivilTime{2023, 2, 29, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(sigkit::ToUtc(CivilTime{2024, 13, 1, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(sigkit::ToUtc(CivilTime{2024, 1, 1, 24, 0, 0, 0}).has_value());

    const int64_t t = At(1969, 12, 31, 23, 59, 59, 999999999); // before the epoch
    EXPECT_EQ(t, -1);
    const CivilTime back = sigkit::ToCivil(t);
    EXPECT_EQ(back.year, 1969);
    EXPECT_EQ(back.second, 59);
    EXPECT_EQ(back.nanosecond, 999999999);
    EXPECT_EQ(sigkit::DayOfWeek(k20240101 * kSecond), 1); // Monday
    EXPECT_EQ(sigkit::DayOfWeek(t), 3);                   // Wednesday
    EXPECT_FALSE(sigkit::ToUtc(CivilTime{2263, 1, 1, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(sigkit::ToUtc(CivilTime{1677, 1, 1, 0, 0, 0, 0}).has_value());
    for (int64_t day = -106000; day < 106000; day += 97)
    {
        const CivilTime c = sigkit::ToCivil(day * 86400 * kSecond + 12345);
        EXPECT_EQ(sigkit::ToUtc(c).value(), day * 86400 * kSecond + 12345);
    }
}

// --- the auxi chunk read ------------------------------------------------------------------------

TEST(AuxiRead, BytesLaidOutByHandGiveEveryField)
{
    TempDir dir;
    const std::string samples = IqSamples(1000);
    WriteFileBytes(dir.File("rec.wav"), FileWithAuxi(Chunk("auxi", RecorderAuxi()), samples));
    const ReadBack got = ReadFile(dir.File("rec.wav"));

    const Metadata& m = got.metadata;
    ASSERT_TRUE(m.centreHz.has_value());
    EXPECT_EQ(*m.centreHz, 7100000.0);
    EXPECT_EQ(m.centreFrom, MetadataSource::Auxi);
    ASSERT_TRUE(m.startTime.has_value());
    EXPECT_EQ(*m.startTime, At(2024, 3, 15, 13, 45, 30, 250000000));
    EXPECT_EQ(m.startFrom, MetadataSource::Auxi);
    EXPECT_EQ(m.stopTime.value(), At(2024, 3, 15, 13, 55, 30, 250000000));
    EXPECT_EQ(m.fields.adFrequency, 64000u);
    EXPECT_EQ(m.fields.ifFrequency, 455000u);
    EXPECT_EQ(m.fields.bandwidth, 48000u);
    EXPECT_EQ(m.fields.iqOffset, 5u);
    EXPECT_EQ(m.fields.dbOffset, 7u);
    EXPECT_EQ(m.fields.maxVal, 32767u);
    EXPECT_EQ(m.fields.unused4, 11u);
    EXPECT_EQ(m.fields.unused5, 13u);
    EXPECT_EQ(std::string(m.auxiBody.begin(), m.auxiBody.end()), RecorderAuxi());
    EXPECT_EQ(got.samples, samples);
}

TEST(AuxiRead, ShortOddAndDamagedBodiesGiveWhatTheyHoldWhole)
{
    TempDir dir;
    const std::string samples = IqSamples(300);
    const std::string full = RecorderAuxi();
    struct Case
    {
        std::size_t length;
        bool start, stop, centre;
    } cases[] = {{0, false, false, false}, {15, false, false, false}, {16, true, false, false},
                 {33, true, true, false},  {35, true, true, false},   {36, true, true, true},
                 {37, true, true, true},   {67, true, true, true},    {68, true, true, true}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.length);
        // Odd bodies with and without their pad byte.
        for (bool pad : {true, false})
        {
            const std::string body = full.substr(0, c.length);
            std::string chunk = ChunkDeclared("auxi", static_cast<uint32_t>(body.size()), body);
            if (pad && body.size() % 2 != 0)
                chunk.push_back('\0');
            WriteFileBytes(dir.File("short.wav"), FileWithAuxi(chunk, samples));
            const ReadBack got = ReadFile(dir.File("short.wav"));
            EXPECT_EQ(got.metadata.startTime.has_value(), c.start);
            EXPECT_EQ(got.metadata.stopTime.has_value(), c.stop);
            EXPECT_EQ(got.metadata.centreHz.has_value(), c.centre);
            EXPECT_EQ(got.metadata.fields.unused5, c.length >= 68 ? 13u : 0u);
            EXPECT_EQ(got.samples, samples);
        }
    }
}

TEST(AuxiRead, HostileBodiesGiveNothingFalseAndNeverCostTheData)
{
    TempDir dir;
    const std::string samples = IqSamples(500);
    // Invalid dates and times, a millisecond of 1000: not known.
    std::string badTimes;
    PutTime(badTimes, 2024, 2, 0, 30, 10, 0, 0, 0);
    PutTime(badTimes, 2024, 1, 0, 1, 10, 0, 0, 1000);
    PutU32(badTimes, 0); // centre 0: not known
    WriteFileBytes(dir.File("bad.wav"), FileWithAuxi(Chunk("auxi", badTimes), samples));
    ReadBack got = ReadFile(dir.File("bad.wav"));
    EXPECT_FALSE(got.metadata.startTime.has_value());
    EXPECT_FALSE(got.metadata.stopTime.has_value());
    EXPECT_FALSE(got.metadata.centreHz.has_value());
    EXPECT_EQ(got.samples, samples);

    // A size far beyond the file, in front of the data: the scan ends there, the file has no data.
    WriteFileBytes(dir.File("huge.wav"),
                   FileWithAuxi(ChunkDeclared("auxi", 0xFFFFFFF0u, RecorderAuxi()), samples));
    got = ReadFile(dir.File("huge.wav"));
    EXPECT_FALSE(got.metadata.Any()); // not whole: damaged, nothing taken from it
    EXPECT_TRUE(got.samples.empty());

    // The same behind the data: the data is whole.
    WriteFileBytes(dir.File("after.wav"),
                   RiffFile(Chunk("fmt ", FormatBody(1, 2, 48000, 16)) + Chunk("data", samples) +
                            ChunkDeclared("auxi", 0x7FFFFFFFu, std::string(3000, '\xA5'))));
    got = ReadFile(dir.File("after.wav"));
    EXPECT_EQ(got.samples, samples);
    EXPECT_FALSE(got.metadata.Any());

    // A text body is kept and not read as fields.
    const std::string xml = "<SDR><Radio CenterFrequency=\"7100000\"/></SDR>";
    WriteFileBytes(dir.File("xml.wav"), FileWithAuxi(Chunk("auxi", xml), samples));
    got = ReadFile(dir.File("xml.wav"));
    EXPECT_FALSE(got.metadata.centreHz.has_value());
    EXPECT_FALSE(got.metadata.startTime.has_value());
    EXPECT_EQ(std::string(got.metadata.auxiBody.begin(), got.metadata.auxiBody.end()), xml);
    EXPECT_EQ(got.samples, samples);

    // A second file read by the same object does not inherit the first one's metadata.
    WriteFileBytes(dir.File("plain.wav"), PcmWav(2, 48000, 16, samples));
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_GE(file->Open(dir.File("xml.wav").c_str(), 0), 0);
    EXPECT_TRUE(file->HasAuxi());
    file->Close();
    ASSERT_GE(file->Open(dir.File("plain.wav").c_str(), 0), 0);
    EXPECT_FALSE(file->HasAuxi());
    EXPECT_FALSE(file->GetMetadata().Any());
}

// --- written and read back -----------------------------------------------------------------------

TEST(AuxiWrite, RoundTripKeepsEveryFieldAndEveryByteNotInterpreted)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.wav"), FileWithAuxi(Chunk("auxi", RecorderAuxi()), IqSamples(10)));
    const Metadata in = ReadFile(dir.File("in.wav")).metadata;

    const std::string samples = IqSamples(4800); // 0.1 s at 48000 Hz
    const std::string bytes = WriteWithMetadata(dir.File("out.wav"), in, samples);
    const ReadBack out = ReadFile(dir.File("out.wav"));
    EXPECT_EQ(out.samples, samples);
    const Metadata& m = out.metadata;
    EXPECT_EQ(m.centreHz, in.centreHz);
    EXPECT_EQ(m.startTime, in.startTime);
    // The stop time is the output's own: its start plus its length.
    EXPECT_EQ(m.stopTime.value(), *in.startTime + kSecond / 10);
    EXPECT_EQ(m.fields.adFrequency, 64000u);
    EXPECT_EQ(m.fields.ifFrequency, 455000u);
    EXPECT_EQ(m.fields.bandwidth, 48000u);
    EXPECT_EQ(m.fields.maxVal, 32767u);
    EXPECT_EQ(m.fields.unused5, 13u);
    ASSERT_EQ(m.auxiBody.size(), 164u);
    EXPECT_EQ(std::string(m.auxiBody.begin() + 68, m.auxiBody.end()), RecorderAuxi().substr(68));

    // Our chunks where they always are, the auxi chunk behind them, then the data; a standard
    // reader finds the same format and data.
    EXPECT_EQ(bytes.substr(62, 4), "LIST");
    EXPECT_EQ(GetU32(bytes, 54), 268u);
    EXPECT_EQ(bytes.substr(326, 4), "auxi");
    EXPECT_EQ(GetU32(bytes, 330), 164u);
    EXPECT_EQ(bytes.substr(498, 4), "data");
    EXPECT_EQ(GetU32(bytes, 502), samples.size());
    EXPECT_EQ(GetU32(bytes, 4), bytes.size() - 8);
    const WavInfo info = ParseWav(bytes);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.rate, 48000u);
    EXPECT_EQ(info.data, samples);
}

TEST(AuxiWrite, NoMetadataKeepsTheFixedLayoutAndAFreshBodyIsTheRecordersLength)
{
    TempDir dir;
    const std::string samples = IqSamples(100);
    EXPECT_EQ(WriteWithMetadata(dir.File("none.wav"), Metadata{}, samples).size(),
              334u + samples.size());

    Metadata m;
    m.centreHz = 14074000.4; // whole hertz in the chunk
    m.startTime = At(2024, 1, 1, 12, 0, 0, 123456789);
    const std::string bytes = WriteWithMetadata(dir.File("fresh.wav"), m, samples);
    ASSERT_EQ(bytes.size(), 334u + 8u + 164u + samples.size());
    const Metadata back = ReadFile(dir.File("fresh.wav")).metadata;
    EXPECT_EQ(back.centreHz.value(), 14074000.0);
    EXPECT_EQ(back.startTime.value(), At(2024, 1, 1, 12, 0, 0, 123000000)); // to the millisecond
    EXPECT_EQ(GetU16(bytes, 334 + 4), 1u);                                  // Monday
}

TEST(AuxiWrite, OddBodyIsPaddedAndAnInMemoryFileCarriesItToo)
{
    TempDir dir;
    Metadata m;
    std::string body = RecorderAuxi().substr(0, 68) + "xyz"; // 71 bytes: odd
    m.auxiBody.assign(body.begin(), body.end());
    m.centreHz = 3500000.0;
    auto file = std::make_unique<sigkit::FileWAV>(16);
    ASSERT_TRUE(file->SetMetadata(m));
    ASSERT_GE(file->Create(dir.File("mem.wav").c_str()), 0);
    file->Write("abcd", 4);
    EXPECT_EQ(file->Close(), 0);
    const std::string bytes = ReadFileBytes(dir.File("mem.wav"));
    ASSERT_EQ(bytes.size(), 334u + 8u + 72u + 4u);
    EXPECT_EQ(GetU32(bytes, 330), 71u);
    EXPECT_EQ(bytes[334 + 71], '\0');
    EXPECT_EQ(bytes.substr(334 + 72, 4), "data");
    const ReadBack got = ReadFile(dir.File("mem.wav"));
    EXPECT_EQ(got.samples, "abcd");
    EXPECT_EQ(got.metadata.centreHz.value(), 3500000.0);
    EXPECT_EQ(std::string(got.metadata.auxiBody.end() - 3, got.metadata.auxiBody.end()), "xyz");
}

TEST(AuxiWrite, LargeOutputBecomesRf64AndKeepsItsAuxiChunk)
{
    TempDir dir;
    Metadata m;
    m.centreHz = 7100000.0;
    m.startTime = k20240101 * kSecond;
    const std::string samples = IqSamples(1250);
    auto file = std::make_unique<FileWAV_VeryFast>(16384);
    ASSERT_TRUE(file->SetMetadata(m));
    file->SetRf64Threshold(1000);
    ASSERT_GE(file->Create(dir.File("big.wav").c_str()), 0);
    file->SetStereo();
    file->SetRate(48000.0f);
    file->Write(samples.data(), static_cast<int32_t>(samples.size()));
    EXPECT_EQ(file->Close(), 0);
    ASSERT_TRUE(file->IsRf64());
    const std::string bytes = ReadFileBytes(dir.File("big.wav"));
    EXPECT_EQ(bytes.substr(0, 4), "RF64");
    EXPECT_EQ(GetU32(bytes, 20), bytes.size() - 8); // 64-bit RIFF size, low word
    EXPECT_EQ(bytes.substr(326, 4), "auxi");
    EXPECT_EQ(bytes.substr(498, 4), "data");
    const ReadBack got = ReadFile(dir.File("big.wav"));
    EXPECT_EQ(got.samples, samples);
    EXPECT_EQ(got.metadata.centreHz.value(), 7100000.0);
    // 1250 frames at 48000 Hz: 26.04 ms, to the millisecond.
    EXPECT_EQ(got.metadata.stopTime.value(), m.startTime.value() + 26 * kSecond / 1000);
}

TEST(AuxiWrite, TheWritingBlockCarriesMetadataGivenBeforeItsFirstBlock)
{
    TempDir dir;
    sigkit::SaveWav save;
    save.SetParam("FullName", dir.File("saved.wav").c_str());
    save.SetParam("SetChan", "Duplex");
    save.SetRateHz(uint32_t{96000});
    Metadata m;
    m.centreHz = 145500000.0;
    ASSERT_TRUE(save.SetMetadata(m));
    save.Start();
    const std::string samples = IqSamples(96);
    save.Put(0, samples.data(), static_cast<int32_t>(samples.size()));
    EXPECT_FALSE(save.SetMetadata(Metadata{}));
    save.Stop();
    ASSERT_FALSE(save.Failed());
    const ReadBack got = ReadFile(dir.File("saved.wav"));
    EXPECT_EQ(got.samples, samples);
    EXPECT_EQ(got.metadata.centreHz.value(), 145500000.0);
}

// --- file names ---------------------------------------------------------------------------------

TEST(RecorderName, CommonFormsGiveCentreAndStart)
{
    const int64_t noon = At(2024, 1, 1, 12, 0, 0);
    struct Case
    {
        const char* name;
        double centre; // 0: none
        int64_t start; // 0: none
        bool zoneAssumed;
    } cases[] = {
        {"/rec/NAME_20240101_120000Z_7100kHz_IQ.wav", 7100000, noon, false},
        {"SDR_20240101_120000Z_7100000Hz_IQ.wav", 7100000, noon, false},
        {"x/y/REC_2024-01-01_12-00-00Z_14.074MHz.wav", 14074000, noon, false},
        {"rec_20240101T120000.250Z_7.1 MHz.wav", 7100000, noon + kSecond / 4, false},
        {"band_1.296GHz_20240101-12.00.00.wav", 1296000000, noon, true},
        {"C:\\recordings\\A_20240101_120000_7100KHZ.WAV", 7100000, noon, true},
        {"NAME_20240101_120000Z_7100kHz_AF.wav", 0, noon, false}, // audio: no centre
        {"just_a_name.wav", 0, 0, false},
        {"7100kHzx_20241301_120000Z.wav", 0, 0, false}, // no word, no month 13
        {"take12_20240101_1200.wav", 0, 0, false},      // no seconds: not a time
        {"abc7100kHz.wav", 0, 0, false},                // not a word of its own
        {"2024010112000099_7100kHz.wav", 7100000, 0, false},
        {"NAME_20240101_120000Z_0Hz.wav", 0, noon, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Metadata m = sigkit::MetadataFromName(c.name);
        EXPECT_EQ(m.centreHz.value_or(0.0), c.centre);
        EXPECT_EQ(m.centreFrom, c.centre != 0 ? MetadataSource::FileName : MetadataSource::None);
        EXPECT_EQ(m.startTime.value_or(0), c.start);
        EXPECT_EQ(m.startZoneAssumed, c.zoneAssumed);
    }
}

TEST(RecorderName, AuxiComesFirstAndTheNameFillsWhatItLacks)
{
    Metadata auxi;
    auxi.centreHz = 10000000.0;
    auxi.centreFrom = MetadataSource::Auxi;
    const Metadata m = sigkit::CombineWithName(auxi, "R_20240101_120000Z_7100kHz.wav");
    EXPECT_EQ(m.centreHz.value(), 10000000.0);
    EXPECT_EQ(m.centreFrom, MetadataSource::Auxi);
    EXPECT_EQ(m.startTime.value(), At(2024, 1, 1, 12, 0, 0));
    EXPECT_EQ(m.startFrom, MetadataSource::FileName);
}

// --- metadata that follows the processing
// -----------------------------------------------------------

TEST(MetadataFollows, ShiftRateAndDroppedStartUp)
{
    Metadata in;
    in.centreHz = 7100000.0;
    in.startTime = At(2024, 1, 1, 12, 0, 0);
    in.fields.adFrequency = 192000;
    in.fields.bandwidth = 150000;

    // The channel at +12.5 kHz goes to 0 Hz, 192 kHz becomes 48 kHz, 1000 frames of start-up
    // dropped at the input rate.
    sigkit::OutputChange change;
    change.shiftHz = 12500.0;
    change.rateIn = 192000.0;
    change.rateOut = 48000.0;
    change.droppedFrames = 1000.0;
    const Metadata out = sigkit::DeriveOutput(in, change);
    EXPECT_EQ(out.centreHz.value(), 7112500.0);
    EXPECT_EQ(out.startTime.value(), *in.startTime + 5208333); // 1000 / 192000 s, to the ns
    EXPECT_EQ(out.fields.adFrequency, 48000u);
    EXPECT_EQ(out.fields.bandwidth, 48000u);

    // A negative shift, real output: the band held is half the rate; a narrower filter wins.
    EXPECT_EQ(sigkit::ShiftCentre(in, -3000.25).centreHz.value(), 7096999.75);
    EXPECT_EQ(sigkit::ChangeRate(in, 192000.0, 24000.0, false).fields.bandwidth, 12000u);
    EXPECT_EQ(sigkit::ChangeRate(in, 192000.0, 48000.0, true, 9000.0).fields.bandwidth, 9000u);
    // An A/D rate that was not the input's rate is the hardware's and stays.
    Metadata hardware = in;
    hardware.fields.adFrequency = 64000000;
    EXPECT_EQ(sigkit::ChangeRate(hardware, 192000.0, 48000.0, true).fields.adFrequency, 64000000u);

    // Nothing known stays nothing: no auxi chunk for outputs of recordings without one.
    const Metadata none = sigkit::DeriveOutput(Metadata{}, change);
    EXPECT_FALSE(none.Any());
    EXPECT_TRUE(sigkit::ComposeAuxi(none).empty());
}

TEST(MetadataFollows, DerivedOutputSurvivesItsOwnFile)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.wav"), FileWithAuxi(Chunk("auxi", RecorderAuxi()), IqSamples(10)));
    const Metadata in = ReadFile(dir.File("in.wav")).metadata;
    sigkit::OutputChange change;
    change.shiftHz = -12000.0;
    change.rateIn = 48000.0;
    change.rateOut = 12000.0;
    change.droppedFrames = 480.0; // 10 ms
    const Metadata derived = sigkit::DeriveOutput(in, change);
    WriteWithMetadata(dir.File("out.wav"), derived, IqSamples(1200), 12000.0f);
    const Metadata back = ReadFile(dir.File("out.wav")).metadata;
    EXPECT_EQ(back.centreHz.value(), 7088000.0);
    EXPECT_EQ(back.startTime.value(), *in.startTime + kSecond / 100);
    EXPECT_EQ(back.stopTime.value(), *in.startTime + kSecond / 100 + kSecond / 10);
    EXPECT_EQ(back.fields.bandwidth, 12000u);
    EXPECT_EQ(back.fields.ifFrequency, 455000u);
}
