#include "WavFloat.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace sigquality {

namespace {

void PutU16(std::vector<std::uint8_t>& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v & 0xff));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xff));
}

void PutU32(std::vector<std::uint8_t>& b, std::uint32_t v)
{
    PutU16(b, v & 0xffff);
    PutU16(b, v >> 16);
}

void PutTag(std::vector<std::uint8_t>& b, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(tag[i]));
}

std::uint32_t GetU16(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
}

std::uint32_t GetU32(const std::uint8_t* p)
{
    return GetU16(p) | (GetU16(p + 2) << 16);
}

bool TagIs(const std::uint8_t* p, const char* tag)
{
    return std::memcmp(p, tag, 4) == 0;
}

} // namespace

bool WriteFloatWav(const std::string& path, const Signal& s, std::string& error)
{
    const std::uint64_t dataBytes = 4ull * s.samples.size();
    if (dataBytes > 0xffffffffull - 64)
    {
        error = "signal too long for a WAV file";
        return false;
    }
    const auto channels = static_cast<std::uint32_t>(s.channels);
    const auto rate = static_cast<std::uint32_t>(s.rate + 0.5);
    std::vector<std::uint8_t> header;
    PutTag(header, "RIFF");
    PutU32(header, static_cast<std::uint32_t>(4 + 8 + 16 + 8 + dataBytes));
    PutTag(header, "WAVE");
    PutTag(header, "fmt ");
    PutU32(header, 16);
    PutU16(header, 3); // IEEE float
    PutU16(header, channels);
    PutU32(header, rate);
    PutU32(header, rate * 4 * channels);
    PutU16(header, 4 * channels);
    PutU16(header, 32);
    PutTag(header, "data");
    PutU32(header, static_cast<std::uint32_t>(dataBytes));
    std::vector<std::uint8_t> body;
    body.reserve(dataBytes);
    for (float v : s.samples)
    {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        PutU32(body, bits);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header.data()),
              static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(body.data()),
              static_cast<std::streamsize>(body.size()));
    if (!out)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadWav(const std::string& path, bool complexPair, Signal& s, std::string& error)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff length = in ? static_cast<std::streamoff>(in.tellg()) : 0;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<std::streamoff>(0, length)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (bytes.size() < 12 || !TagIs(bytes.data(), "RIFF") || !TagIs(bytes.data() + 8, "WAVE"))
    {
        error = "not a WAV file: " + path;
        return false;
    }
    std::uint32_t format = 0, channels = 0, rate = 0, bits = 0;
    const std::uint8_t* data = nullptr;
    std::size_t dataSize = 0;
    std::size_t at = 12;
    while (at + 8 <= bytes.size())
    {
        const std::uint8_t* chunk = bytes.data() + at;
        const std::size_t size = GetU32(chunk + 4);
        const std::size_t available = std::min(size, bytes.size() - at - 8);
        if (TagIs(chunk, "fmt ") && available >= 16)
        {
            format = GetU16(chunk + 8);
            channels = GetU16(chunk + 10);
            rate = GetU32(chunk + 12);
            bits = GetU16(chunk + 22);
            // The extensible format names its own format in the first bytes of its subformat.
            if (format == 0xfffe && available >= 26)
                format = GetU16(chunk + 32);
        }
        else if (TagIs(chunk, "data"))
        {
            data = chunk + 8;
            dataSize = available;
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (data == nullptr || channels == 0 ||
        !((format == 3 && bits == 32) || (format == 1 && bits == 16)))
    {
        error = "unsupported WAV format in " + path;
        return false;
    }
    s.rate = rate;
    s.channels = static_cast<int>(channels);
    s.complex = complexPair && channels == 2;
    const std::size_t width = bits / 8;
    const std::size_t count = dataSize / width / channels * channels;
    s.samples.resize(count);
    for (std::size_t i = 0; i < count; ++i)
    {
        const std::uint8_t* p = data + i * width;
        if (format == 3)
        {
            const std::uint32_t u = GetU32(p);
            float v = 0.0f;
            std::memcpy(&v, &u, 4);
            s.samples[i] = v;
        }
        else
        {
            const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(GetU16(p)));
            s.samples[i] = static_cast<float>(v) / 32768.0f;
        }
    }
    return true;
}

} // namespace sigquality
