// Writes the bundled example recording: three seconds of 16-bit I/Q at 48000 Hz holding an AM
// station 10 kHz above the centre (a 1 kHz tone, 60 % modulation) and an FM station 12 kHz below
// it (a 700 Hz tone, 3 kHz deviation), over a little noise.
//
//   sigkit_make_example OUTPUT.wav
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kRate = 48000;   // Hz
constexpr uint32_t kSeconds = 3;

void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutText(std::vector<uint8_t>& out, const char* text)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(text[i]));
}

// A small deterministic generator, so that every build makes the same file.
double Noise(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
}

int16_t Clip(double v)
{
    const double r = std::nearbyint(v);
    return static_cast<int16_t>(r > 32767.0 ? 32767.0 : (r < -32768.0 ? -32768.0 : r));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: sigkit_make_example OUTPUT.wav\n");
        return 1;
    }
    const uint32_t frames = kRate * kSeconds;
    std::vector<uint8_t> samples;
    samples.reserve(frames * 4);
    uint32_t noise = 12345;
    double fmPhase = 0.0;
    for (uint32_t n = 0; n < frames; ++n)
    {
        const double t = static_cast<double>(n) / kRate;
        // AM: carrier at +10 kHz, envelope 1 + 0.6 cos(2π 1000 t).
        const double envelope = 7000.0 * (1.0 + 0.6 * std::cos(2.0 * kPi * 1000.0 * t));
        const double amPhase = 2.0 * kPi * 10000.0 * t;
        // FM: carrier at -12 kHz, instantaneous frequency swinging ±3 kHz at 700 Hz.
        fmPhase += 2.0 * kPi * (-12000.0 + 3000.0 * std::cos(2.0 * kPi * 700.0 * t)) / kRate;
        const double i = envelope * std::cos(amPhase) + 2500.0 * std::cos(fmPhase) + 300.0 * Noise(noise);
        const double q = envelope * std::sin(amPhase) + 2500.0 * std::sin(fmPhase) + 300.0 * Noise(noise);
        PutU16(samples, static_cast<uint16_t>(Clip(i)));
        PutU16(samples, static_cast<uint16_t>(Clip(q)));
    }

    std::vector<uint8_t> file;
    PutText(file, "RIFF");
    PutU32(file, static_cast<uint32_t>(36 + samples.size()));
    PutText(file, "WAVE");
    PutText(file, "fmt ");
    PutU32(file, 16);
    PutU16(file, 1);         // integer PCM
    PutU16(file, 2);         // I and Q
    PutU32(file, kRate);
    PutU32(file, kRate * 4); // byte rate
    PutU16(file, 4);         // block align
    PutU16(file, 16);        // bits
    PutText(file, "data");
    PutU32(file, static_cast<uint32_t>(samples.size()));
    file.insert(file.end(), samples.begin(), samples.end());

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0)
    {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
