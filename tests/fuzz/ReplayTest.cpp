// Replays the fuzz seed corpus and every input that once failed through the fuzz harnesses.
#include "Harnesses.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::filesystem::path> Inputs(const std::string& name)
{
    std::vector<std::filesystem::path> files;
    for (const std::string& folder :
         {std::string(SIGKIT_SOURCE_DIR "/fuzz/corpus/") + name,
          std::string(SIGKIT_SOURCE_DIR "/tests/fuzz/regressions/") + name})
    {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    return files;
}

std::string Bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Replay(const std::string& name, void (*harness)(const uint8_t*, std::size_t))
{
    const auto files = Inputs(name);
    ASSERT_FALSE(files.empty());
    for (const auto& file : files)
    {
        SCOPED_TRACE(file.string());
        const std::string bytes = Bytes(file);
        harness(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        // Every prefix too: truncated files are the commonest damage.
        for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 64)
            harness(reinterpret_cast<const uint8_t*>(bytes.data()), cut);
    }
}

} // namespace

TEST(FuzzReplay, WavFileCorpus)
{
    Replay("wav", sigfuzz::WavFile);
}

TEST(FuzzReplay, WavReadExportsCorpus)
{
    Replay("wav", sigfuzz::WavReadExports);
}

TEST(FuzzReplay, SpectrumOfFileCorpus)
{
    Replay("wav", sigfuzz::SpectrumOfFile);
}

TEST(FuzzReplay, ProcessingExportsCorpus)
{
    Replay("processing", sigfuzz::ProcessingExports);
}

TEST(FuzzReplay, ApiProcessingCorpus)
{
    Replay("api", sigfuzz::ApiProcessing);
}

TEST(FuzzReplay, ApiWavReadCorpus)
{
    Replay("wav", sigfuzz::ApiWavRead);
}
