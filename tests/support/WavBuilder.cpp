#include "support/WavBuilder.h"

namespace sigtest {

void PutU16(std::string& out, uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutU64(std::string& out, uint64_t v)
{
    PutU32(out, static_cast<uint32_t>(v));
    PutU32(out, static_cast<uint32_t>(v >> 32));
}

uint16_t GetU16(const std::string& bytes, std::size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(at)) |
                                 (static_cast<uint8_t>(bytes.at(at + 1)) << 8));
}

uint32_t GetU32(const std::string& bytes, std::size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(bytes.at(at + static_cast<std::size_t>(i)));
    return v;
}

std::string ChunkDeclared(const std::string& id, uint32_t declared, const std::string& body)
{
    std::string out = id.substr(0, 4);
    PutU32(out, declared);
    return out + body;
}

std::string Chunk(const std::string& id, const std::string& body)
{
    std::string out = ChunkDeclared(id, static_cast<uint32_t>(body.size()), body);
    if (body.size() % 2 != 0)
        out.push_back('\0');
    return out;
}

std::string FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    std::string body;
    PutU16(body, tag);
    PutU16(body, channels);
    PutU32(body, rate);
    const auto align = static_cast<uint16_t>(channels * (bits / 8));
    PutU32(body, rate * align);
    PutU16(body, align);
    PutU16(body, bits);
    return body;
}

std::string RiffFile(const std::string& chunks, int64_t riffSize)
{
    std::string out = "RIFF";
    PutU32(out, riffSize < 0 ? static_cast<uint32_t>(4 + chunks.size())
                             : static_cast<uint32_t>(riffSize));
    return out + "WAVE" + chunks;
}

std::string PcmWav(uint16_t channels, uint32_t rate, uint16_t bits, const std::string& samples,
                   uint16_t tag)
{
    return RiffFile(Chunk("fmt ", FormatBody(tag, channels, rate, bits)) +
                    ChunkDeclared("data", static_cast<uint32_t>(samples.size()), samples));
}

std::string StoreSamples(const std::vector<int32_t>& values, uint16_t bits)
{
    std::string out;
    out.reserve(values.size() * (bits / 8));
    for (int32_t v : values)
    {
        if (bits == 8)
            out.push_back(static_cast<char>(static_cast<uint8_t>(v + 128)));
        else
            for (int i = 0; i < bits / 8; ++i)
                out.push_back(static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF));
    }
    return out;
}

WavInfo ParseWav(const std::string& bytes)
{
    WavInfo info;
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return info;
    std::size_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= bytes.size())
    {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = GetU32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= bytes.size())
        {
            info.tag = GetU16(bytes, body);
            info.channels = GetU16(bytes, body + 2);
            info.rate = GetU32(bytes, body + 4);
            info.byteRate = GetU32(bytes, body + 8);
            info.blockAlign = GetU16(bytes, body + 12);
            info.bits = GetU16(bytes, body + 14);
            haveFormat = true;
        }
        else if (id == "data")
        {
            info.data = bytes.substr(body, size);
            info.ok = haveFormat && body + size <= bytes.size();
            return info;
        }
        at = body + size + (size % 2);
    }
    return info;
}

std::vector<double> SampleValues(const WavInfo& wav)
{
    std::vector<double> values;
    const std::size_t width = wav.bits / 8;
    if (width == 0)
        return values;
    for (std::size_t at = 0; at + width <= wav.data.size(); at += width)
    {
        int64_t v = 0;
        for (std::size_t i = 0; i < width; ++i)
            v |= static_cast<int64_t>(static_cast<uint8_t>(wav.data[at + i])) << (8 * i);
        if (width == 1)
            v -= 128;
        else if (v & (int64_t{1} << (8 * width - 1)))
            v -= int64_t{1} << (8 * width);
        values.push_back(static_cast<double>(v));
    }
    return values;
}

std::vector<float> Channel(const std::vector<double>& samples, int channels, int which)
{
    std::vector<float> out;
    for (std::size_t i = static_cast<std::size_t>(which); i < samples.size();
         i += static_cast<std::size_t>(channels))
        out.push_back(static_cast<float>(samples[i]));
    return out;
}

} // namespace sigtest
