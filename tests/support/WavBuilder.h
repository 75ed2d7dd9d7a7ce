#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sigtest {

// Little-endian byte helpers for building and checking file bytes in tests.
void PutU16(std::string& out, uint16_t v);
void PutU32(std::string& out, uint32_t v);
void PutU64(std::string& out, uint64_t v);
uint16_t GetU16(const std::string& bytes, std::size_t at);
uint32_t GetU32(const std::string& bytes, std::size_t at);

// A chunk: id, declared size and body (the declared size may lie about the body).
std::string Chunk(const std::string& id, const std::string& body);
std::string ChunkDeclared(const std::string& id, uint32_t declared, const std::string& body);

// The 16-byte PCM format body.
std::string FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);

// A standard 44-byte-header WAV file holding the given sample bytes.
std::string PcmWav(uint16_t channels, uint32_t rate, uint16_t bits, const std::string& samples,
                   uint16_t tag = 1);

// "RIFF" + size + "WAVE" + chunks, with the RIFF size computed unless given.
std::string RiffFile(const std::string& chunks, int64_t riffSize = -1);

// Samples stored little-endian as the given width: 8 bits unsigned (centre 128), 16, 24 and 32
// bits signed.
std::string StoreSamples(const std::vector<int32_t>& values, uint16_t bits);

// A WAV file as a standard reader sees it: chunk by chunk, skipping what it does not know.
struct WavInfo
{
    bool ok = false;
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    std::string data;
};
WavInfo ParseWav(const std::string& bytes);

// Samples of a parsed file as numbers: 8 bits unsigned (centre 128 taken off), 16, 24, 32 bits
// signed.
std::vector<double> SampleValues(const WavInfo& wav);
// One channel of interleaved samples.
std::vector<float> Channel(const std::vector<double>& samples, int channels, int which);

} // namespace sigtest
