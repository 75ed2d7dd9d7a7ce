// The in-memory file variant, and files named by the time in folders made on demand.
#include "support/TempDir.h"
#include "support/WavBuilder.h"
#include "wav/FileWAV.h"
#include "wav/FileWAV_VeryFast.h"
#include "wav/SaveWav.h"
#include "wav/TimeName.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

using namespace sigtest;
using sigkit::FileWAV;

namespace {

sigkit::UtcTime FixedTime()
{
    return {2020, 5, 6, 7, 8, 9};
}

std::string Normalized(std::string path, std::size_t capacity = 80)
{
    std::vector<char> buffer(capacity, '\0');
    std::memcpy(buffer.data(), path.c_str(), std::min(path.size() + 1, capacity));
    EXPECT_EQ(sigkit::NormalizeDirPath(buffer.data(), capacity), 0) << path;
    return buffer.data();
}

std::string ReadWhole(FileWAV& file)
{
    std::string out;
    char buffer[333];
    for (int32_t n; (n = file.Read(buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

} // namespace

TEST(InMemoryFile, DataEndsBehindTheLastWrite)
{
    TempDir dir;
    const std::string path = dir.File("mem.wav");
    auto file = std::make_unique<FileWAV>(16384);
    ASSERT_GE(file->Create(path.c_str()), 0);
    EXPECT_EQ(file->Write("0123456789", 10), 10);
    EXPECT_EQ(file->Seek(2, 0), 2u);
    EXPECT_EQ(file->Write("abcd", 4), 4);
    EXPECT_EQ(file->DataSize(), 6u);
    EXPECT_GE(file->Flush(), 0);
    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 340u);
    EXPECT_EQ(GetU32(bytes, 330), 6u);
    EXPECT_EQ(GetU32(bytes, 4), 332u);
    EXPECT_EQ(bytes.substr(334), "01abcd");
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(ReadFileBytes(path).size(), 340u);
}

TEST(InMemoryFile, WritesTheSameHeaderAsTheStreamedVariant)
{
    TempDir dir;
    const std::string samples(3000, 'q');
    for (int variant = 0; variant < 2; ++variant)
    {
        std::unique_ptr<FileWAV> file = variant == 0
                                            ? std::make_unique<FileWAV>(16384)
                                            : std::make_unique<sigkit::FileWAV_VeryFast>(16384);
        const std::string path = dir.File("v" + std::to_string(variant) + ".wav");
        ASSERT_GE(file->Create(path.c_str()), 0);
        file->SetStereo();
        file->SetBitsPerSample(24);
        file->SetRate(96000.0f);
        file->Write(samples.data(), static_cast<int32_t>(samples.size()));
        EXPECT_EQ(file->Close(), 0);
    }
    const std::string memory = ReadFileBytes(dir.File("v0.wav"));
    const std::string streamed = ReadFileBytes(dir.File("v1.wav"));
    // The fact value differs by design: the streamed header is written before the rate is set.
    EXPECT_EQ(memory.substr(0, 46), streamed.substr(0, 46));
    EXPECT_EQ(memory.substr(50), streamed.substr(50));
    EXPECT_EQ(GetU32(memory, 46), 96000u);
}

TEST(InMemoryFile, ReadsWholeFilesAndHeaderlessData)
{
    TempDir dir;
    const std::string samples(70001, 'z');
    WriteFileBytes(dir.File("a.wav"), PcmWav(2, 44100, 16, samples));
    auto file = std::make_unique<FileWAV>(16384);
    EXPECT_EQ(file->Open(dir.File("a.wav").c_str(), 0), 0);
    EXPECT_EQ(file->DataSize(), samples.size());
    EXPECT_EQ(ReadWhole(*file), samples);
    EXPECT_EQ(file->Close(), 0);

    WriteFileBytes(dir.File("raw"), "0123456789ABhello");
    EXPECT_EQ(file->Open(dir.File("raw").c_str(), 2), 0);
    uint32_t rate = 1;
    uint32_t exact = 1;
    file->GetRates(rate, exact);
    EXPECT_EQ(rate, 0u);
    EXPECT_EQ(ReadWhole(*file), "hello");
    EXPECT_EQ(file->Write("xx", 2), 0); // headerless data cannot be written
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("raw")), "0123456789ABhello");
}

TEST(TimeNames, FourteenDigitsOfUtcTime)
{
    char name[15];
    ASSERT_NE(sigkit::MakeTimeName(name, sizeof name, FixedTime), nullptr);
    EXPECT_STREQ(name, "20200506070809");
    char small[14];
    EXPECT_EQ(sigkit::MakeTimeName(small, sizeof small, FixedTime), nullptr);
}

TEST(TimeNames, DirectoryPathsAreNormalised)
{
    EXPECT_EQ(Normalized("data\\rec"), "data/rec/");
    EXPECT_EQ(Normalized("data//rec///"), "data/rec/");
    EXPECT_EQ(Normalized("a\\\\b\\/c"), "a/b/c/");
    EXPECT_EQ(Normalized("/abs/path"), "/abs/path/");
    EXPECT_EQ(Normalized("C:x"), "C:x/"); // no drive letters here: a colon is a character
    EXPECT_EQ(Normalized(""), "");
    // No room for the trailing slash: refused, never overrun.
    char full[4] = "abc";
    EXPECT_EQ(sigkit::NormalizeDirPath(full, sizeof full), -1);
}

TEST(TimeNames, UniqueFilesNeverReplaceAnExistingOne)
{
    TempDir dir;
    const std::string folder = dir.Path() + "/one/two\\three";
    auto first = std::make_unique<FileWAV>(16384);
    first->SetClock(FixedTime);
    ASSERT_GE(first->CreateUnique(folder.c_str(), ".wav"), 0);
    const std::string firstPath = first->Path();
    EXPECT_EQ(firstPath, dir.Path() + "/one/two/three/20200506070809.wav");
    first->Write("first", 5);
    EXPECT_EQ(first->Close(), 0);

    // The same second, the same folder: every attempt finds the name taken.
    auto second = std::make_unique<FileWAV>(16384);
    second->SetClock(FixedTime);
    EXPECT_EQ(second->CreateUnique(folder.c_str(), ".wav"), -1);
    EXPECT_EQ(second->Write("x", 1), 0);
    const std::string bytes = ReadFileBytes(firstPath);
    EXPECT_EQ(bytes.substr(334), "first");
}

TEST(TimeNames, WorkPathThatDoesNotFitIsRefused)
{
    TempDir dir;
    const std::string folder = dir.Path() + "/" + std::string(70, 'd');
    auto file = std::make_unique<FileWAV>(16384);
    file->SetClock(FixedTime);
    EXPECT_EQ(file->CreateUnique(folder.c_str(), ".wav"), -1);
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(TimeNames, WritingBlockNamesFilesByTimeOrByNameInItsFolder)
{
    TempDir dir;
    auto block = std::make_unique<sigkit::SaveWav>();
    block->SetParam("Path", (dir.Path() + "/ch").c_str());
    block->SetParam("SaveMode", "Channel");
    block->SetParam("GenName", "NameExt");
    block->SetParam("Name", "take1");
    block->Start();
    block->Put(0, "abcd", 4);
    block->Stop();
    EXPECT_FALSE(block->Failed());
    EXPECT_EQ(ReadFileBytes(dir.File("ch/take1.wav")).substr(334), "abcd");

    auto timed = std::make_unique<sigkit::SaveWav>();
    timed->SetParam("SetPrmPath", "Folder");
    timed->SetParam("Folder", dir.Path().c_str());
    timed->SetParam("SaveMode", "Randomize");
    timed->Start();
    timed->Put(0, "xyz", 3);
    const void* name = nullptr;
    int32_t length = 0;
    EXPECT_GT(timed->Get(0, &name, &length), 0);
    const std::string path(static_cast<const char*>(name));
    timed->Stop();
    EXPECT_FALSE(timed->Failed());
    EXPECT_EQ(path.substr(0, dir.Path().size()), dir.Path());
    EXPECT_EQ(path.size(), dir.Path().size() + 7 + 14 + 4); // "/XX/YY/" + time name + ".wav"
    EXPECT_EQ(ReadFileBytes(path).substr(334), "xyz");
}
