// sigrun against damaged and hostile WAV files, and against outputs that cannot be written: it
// never crashes or hangs, says clearly what happened, delivers exactly the bytes present, and
// never changes the input.
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace sigtest;

namespace {

std::string Pattern(std::size_t n)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

const std::string kFmt = Chunk("fmt ", FormatBody(1, 2, 8000, 16));
const std::string kSamples = Pattern(5000);

int Lines(const std::string& text)
{
    int n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

struct Hostile
{
    std::string name;
    std::string bytes;
    // The stored sample bytes really present, or -1 when the format is not processed.
    long present;
    // A header that declares more: "X of Y samples" of the warning about it.
    std::string shortBy = "";
};

std::vector<Hostile> Cases()
{
    std::vector<Hostile> cases;
    auto add = [&](const std::string& name, const std::string& bytes, long present,
                   const std::string& shortBy = "") {
        cases.push_back({name, bytes, present, shortBy});
    };
    const std::string whole = PcmWav(2, 8000, 16, kSamples);
    add("empty", "", -1);
    add("four-bytes", "RIFF", -1);
    add("riff-only", RiffFile(""), 0); // no format chunk: the default format, no data
    for (std::size_t cut : {20u, 30u, 43u, 100u})
        add("cut-at-" + std::to_string(cut), whole.substr(0, cut),
            cut < 36 ? -1 : static_cast<long>(cut > 44 ? cut - 44 : 0),
            cut > 44 ? std::to_string((cut - 44) / 4) + " of 1250 samples" : "");
    for (uint32_t size : {0u, 14u})
        add("fmt-" + std::to_string(size),
            RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, 16).substr(0, size)) +
                     Chunk("data", kSamples)),
            -1);
    for (uint32_t size : {40u, 1024u})
    {
        std::string body = FormatBody(1, 2, 8000, 16);
        body.resize(size, '\0');
        add("fmt-" + std::to_string(size), RiffFile(Chunk("fmt ", body) + Chunk("data", kSamples)),
            5000);
    }
    add("fmt-ffffffff",
        RiffFile(ChunkDeclared("fmt ", 0xFFFFFFFF, FormatBody(1, 2, 8000, 16)) +
                 Chunk("data", kSamples)),
        0);
    add("oversize-fact-freq-list",
        RiffFile(kFmt + Chunk("fact", std::string(2000, 'f')) +
                 Chunk("freq", std::string(200, 'q')) + Chunk("LIST", std::string(70000, 'l')) +
                 Chunk("data", kSamples)),
        5000);
    add("size-that-wraps",
        RiffFile(kFmt + ChunkDeclared("wrap", 0xFFFFFFF4, "") + Chunk("data", kSamples)), 0);
    add("data-2GiB", RiffFile(kFmt + ChunkDeclared("data", 0x80000000u, kSamples)), 5000,
        "1250 of 536870912 samples");
    add("data-fffffff8", RiffFile(kFmt + ChunkDeclared("data", 0xFFFFFFF8u, kSamples)), 5000,
        "1250 of 1073741822 samples");
    std::string many = kFmt;
    for (int i = 0; i < 100000; ++i)
        many += ChunkDeclared("none", 0, "");
    add("hundred-thousand-chunks", RiffFile(many + Chunk("data", kSamples)), 5000);
    add("odd-padded", RiffFile(Chunk("odd ", "xyz") + kFmt + Chunk("data", kSamples)), 5000);
    add("odd-unpadded", RiffFile(ChunkDeclared("odd ", 3, "xyz") + kFmt + Chunk("data", kSamples)),
        5000);
    std::string rifx = whole;
    rifx[3] = 'X';
    add("rifx", rifx, -1);
    add("avi",
        "RIFF\x10\x00\x00\x00"
        "AVI LIST" +
            kSamples,
        -1);
    for (uint16_t channels : {0, 65535})
        add("channels-" + std::to_string(channels),
            RiffFile(Chunk("fmt ", FormatBody(1, channels, 8000, 16)) + Chunk("data", kSamples)),
            -1);
    for (uint16_t bits : {0, 65535})
        add("bits-" + std::to_string(bits),
            RiffFile(Chunk("fmt ", FormatBody(1, 2, 8000, bits)) + Chunk("data", kSamples)), -1);
    for (uint32_t rate : {0u, 0xFFFFFFFFu})
        add("rate-" + std::to_string(rate),
            RiffFile(Chunk("fmt ", FormatBody(1, 2, rate, 16)) + Chunk("data", kSamples)), -1);
    return cases;
}

} // namespace

TEST(HostileFiles, NoCrashNoHangAndExactlyTheBytesPresent)
{
    TempDir dir;
    int tried = 0;
    for (const Hostile& c : Cases())
    {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(c.name + ".wav");
        WriteFileBytes(path, c.bytes);
        ProcessOptions options;
        options.timeoutSeconds = 30;
        const ProcessResult r = RunSigrun({path}, "4\n", options);
        ++tried;
        ASSERT_FALSE(r.timedOut);
        ASSERT_EQ(r.signal, 0);
        EXPECT_EQ(ReadFileBytes(path), c.bytes); // the input is never changed
        if (c.present < 0)
        {
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(r.out, "Current format of file is not supported\n\n");
            EXPECT_EQ(Lines(r.err), 1) << r.err;
            EXPECT_FALSE(FileExists(dir.File(c.name + "_inv.wav")));
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.err;
        // An input that ends before its header's length is processed and warned of, once.
        EXPECT_EQ(r.err, c.shortBy.empty() ? ""
                                           : "sigrun: warning: '" + path +
                                                 "' ends before the length its header declares: " +
                                                 c.shortBy + " were there\n");
        const WavInfo out = ParseWav(ReadFileBytes(dir.File(c.name + "_inv.wav")));
        ASSERT_TRUE(out.ok);
        // Inversion of stereo input gives one output pair per whole input pair.
        const std::size_t pairs = static_cast<std::size_t>(c.present) / 4;
        EXPECT_EQ(out.data.size(), pairs * 4);
        if (c.present == 5000)
        {
            for (std::size_t i = 0; i + 4 <= out.data.size(); i += 4)
                ASSERT_EQ(out.data.substr(i, 4), kSamples.substr(i + 2, 2) + kSamples.substr(i, 2))
                    << i;
        }
    }
    EXPECT_EQ(tried, 27);
}

// A link at the output name is replaced by the output, never followed.
TEST(WriteFaults, LinkToAFullDeviceAtTheOutputNameIsReplaced)
{
    TempDir dir;
    const std::string input = dir.File("in.wav");
    const std::string bytes = PcmWav(2, 8000, 16, kSamples);
    WriteFileBytes(input, bytes);
    std::filesystem::create_symlink("/dev/full", dir.File("in_inv.wav"));
    const ProcessResult r = RunSigrun({input}, "4\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::is_symlink(dir.File("in_inv.wav")));
    EXPECT_EQ(ParseWav(ReadFileBytes(dir.File("in_inv.wav"))).data.size(), kSamples.size());
    EXPECT_EQ(ReadFileBytes(input), bytes);
}

TEST(WriteFaults, ReadOnlyOutputFolder)
{
    TempDir dir;
    const std::string folder = dir.File("ro");
    std::filesystem::create_directory(folder);
    const std::string input = folder + "/in.wav";
    const std::string bytes = PcmWav(2, 8000, 16, kSamples);
    WriteFileBytes(input, bytes);
    chmod(folder.c_str(), 0555);
    chmod(dir.Path().c_str(), 0755);
    chmod(input.c_str(), 0644);
    ProcessOptions options;
    // Permissions do not bind the superuser: run as an ordinary user then.
    if (geteuid() == 0)
        options.runAsUser = 65534;
    const ProcessResult r = RunSigrun({input}, "4\n", options);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("cannot create"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(folder + "/in_inv.wav"));
    EXPECT_EQ(ReadFileBytes(input), bytes);
}
