// The outputs of the six original processing kinds, pinned by their SHA-256: every mode at each
// quality, 8/16/24/32-bit integer and float samples, mono and I/Q, through sigrun's options, its
// dialogue and the exports fed in uneven blocks. A changed hash means changed output bytes.
//
// SIGKIT_GOLDEN_PRINT=1 prints the table of the hashes computed, in the form of kExpected.
#include "sigkit.h"
#include "support/Process.h"
#include "support/Sha256.h"
#include "support/TempDir.h"
#include "support/WavBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "GoldenHashes.inc"

using namespace sigtest;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 48000.0;
constexpr std::size_t kFrames = 9000;

// Stations of a recording centred at 0 Hz: AM at +10 kHz, FM at -12 kHz, a carrier at +3 kHz and
// a little noise, each sample within ±0.45 of full scale.
std::vector<double> IqSignal()
{
    std::vector<double> x(2 * kFrames);
    uint32_t noise = 12345;
    double fmPhase = 0.0;
    for (std::size_t n = 0; n < kFrames; ++n)
    {
        const double t = static_cast<double>(n) / kRate;
        const double am = 0.12 * (1.0 + 0.5 * std::cos(2 * kPi * 1000 * t));
        fmPhase += 2 * kPi * (-12000 + 3000 * std::cos(2 * kPi * 700 * t)) / kRate;
        noise = noise * 1664525u + 1013904223u;
        const double n1 = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
        noise = noise * 1664525u + 1013904223u;
        const double n2 = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
        x[2 * n] = am * std::cos(2 * kPi * 10000 * t) + 0.1 * std::cos(fmPhase) +
                   0.08 * std::cos(2 * kPi * 3000 * t) + n1;
        x[2 * n + 1] = am * std::sin(2 * kPi * 10000 * t) + 0.1 * std::sin(fmPhase) +
                       0.08 * std::sin(2 * kPi * 3000 * t) + n2;
    }
    return x;
}

// A real signal: an AM carrier at 10 kHz, tones at 3 and 17 kHz, a little noise.
std::vector<double> RealSignal()
{
    std::vector<double> x(kFrames);
    uint32_t noise = 777;
    for (std::size_t n = 0; n < kFrames; ++n)
    {
        const double t = static_cast<double>(n) / kRate;
        noise = noise * 1664525u + 1013904223u;
        x[n] = 0.15 * (1.0 + 0.5 * std::cos(2 * kPi * 1000 * t)) * std::cos(2 * kPi * 10000 * t) +
               0.1 * std::cos(2 * kPi * 3000 * t) + 0.08 * std::cos(2 * kPi * 17000 * t) +
               (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
    }
    return x;
}

struct Format
{
    const char* key;  // in case names
    const char* word; // sampleFormat word of the records
    int bits;         // 0: float
    bool unsignedStore;
};

// The formats that WAV files hold (8-bit WAV samples are unsigned).
constexpr Format kFileFormats[] = {
    {"u8", "8 bits  (unsigned)", 8, true},  {"s16", "16 bits (signed)", 16, false},
    {"s24", "24 bits (signed)", 24, false}, {"s32", "32 bits (signed)", 32, false},
    {"f32", "32 bits (float)", 0, false},
};

// Every format word of the records.
constexpr Format kRecordFormats[] = {
    {"s8", "8 bits  (signed)", 8, false},   {"u8", "8 bits  (unsigned)", 8, true},
    {"s16", "16 bits (signed)", 16, false}, {"u16", "16 bits (unsigned)", 16, true},
    {"s24", "24 bits (signed)", 24, false}, {"s32", "32 bits (signed)", 32, false},
    {"f32", "32 bits (float)", 0, false},
};

// Samples stored little-endian in a format; integers at full scale 2^(bits-1), floats at 1.
std::string Store(const std::vector<double>& x, const Format& format)
{
    std::string out;
    for (double v : x)
    {
        if (format.bits == 0)
        {
            const float f = static_cast<float>(v);
            uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            PutU32(out, bits);
            continue;
        }
        const double scale = std::ldexp(1.0, format.bits - 1);
        int64_t value = static_cast<int64_t>(std::llround(v * scale));
        if (format.unsignedStore)
            value += format.bits == 8 ? 128 : 32768;
        const uint64_t u = static_cast<uint64_t>(value);
        for (int b = 0; b < format.bits / 8; ++b)
            out.push_back(static_cast<char>((u >> (8 * b)) & 0xff));
    }
    return out;
}

std::string InputFile(const Format& format, int channels)
{
    const std::vector<double> x = channels == 2 ? IqSignal() : RealSignal();
    return PcmWav(static_cast<uint16_t>(channels), static_cast<uint32_t>(kRate),
                  static_cast<uint16_t>(format.bits == 0 ? 32 : format.bits), Store(x, format),
                  format.bits == 0 ? 3 : 1);
}

// A gain that brings a demodulated signal near half scale in the format.
std::string DemodGain(const Format& format)
{
    return format.bits == 0 ? "0.6" : std::to_string(0.6 * std::ldexp(1.0, format.bits - 1));
}

struct Computed
{
    std::map<std::string, std::string> hashes;

    void Check(const std::string& name, const std::string& bytes)
    {
        const std::string hash = Sha256Hex(bytes);
        hashes[name] = hash;
        const auto known = kExpected.find(name);
        if (known == kExpected.end())
            ADD_FAILURE() << "no pinned hash for " << name << ": " << hash;
        else
            EXPECT_EQ(hash, known->second) << name;
    }

    ~Computed()
    {
        if (std::getenv("SIGKIT_GOLDEN_PRINT") == nullptr)
            return;
        for (const auto& [name, hash] : hashes)
            std::printf("    {\"%s\", \"%s\"},\n", name.c_str(), hash.c_str());
    }
};

// ---- sigrun with options -------------------------------------------------------------------

struct OptionCase
{
    const char* name;
    std::vector<std::string> args; // before the quality and the input name
    bool hasQuality;
    bool demod;
};

void RunOptionCases(const OptionCase& mode, const std::vector<std::string>& qualities)
{
    Computed computed;
    TempDir dir;
    for (const Format& format : kFileFormats)
        for (int channels : {1, 2})
        {
            const std::string in = dir.File("in.wav");
            WriteFileBytes(in, InputFile(format, channels));
            for (const std::string& quality : qualities)
            {
                std::vector<std::string> args = mode.args;
                if (mode.demod)
                    args.insert(args.end(), {"-a", DemodGain(format)});
                if (mode.hasQuality)
                    args.insert(args.end(), {"-q", quality});
                args.insert(args.end(), {"-Q", "-o", dir.File("out.wav"), in});
                std::remove(dir.File("out.wav").c_str());
                const ProcessResult run = RunSigrun(args, "");
                ASSERT_EQ(run.status, 0) << run.err;
                EXPECT_EQ(run.out, "");
                const std::string name = std::string("options/") + mode.name + "/" +
                                         (mode.hasQuality ? quality + "/" : "") + format.key +
                                         (channels == 2 ? "/iq" : "/real");
                computed.Check(name, ReadFileBytes(dir.File("out.wav")));
            }
        }
}

const std::vector<std::string> kQualities = {"low", "medium", "high"};

TEST(GoldenOutputs, OptionsIq)
{
    RunOptionCases({"iq", {"-m", "iq"}, true, false}, kQualities);
}

TEST(GoldenOutputs, OptionsResample)
{
    RunOptionCases(
        {"resample", {"-m", "resample", "-f", "10k", "-r", "12k", "-a", "1.5"}, true, false},
        kQualities);
    RunOptionCases(
        {"resample-11025", {"-m", "resample", "-f", "-7k", "-r", "11025", "-a", "1"}, true, false},
        kQualities);
}

TEST(GoldenOutputs, OptionsResampleUp)
{
    RunOptionCases(
        {"resample-up", {"-m", "resample", "-f", "3k", "-r", "96k", "-a", "1"}, true, false},
        kQualities);
}

TEST(GoldenOutputs, OptionsConvert)
{
    RunOptionCases({"convert", {"-m", "convert", "-f", "-12k", "-b", "8k", "-a", "1"}, true, false},
                   kQualities);
}

TEST(GoldenOutputs, OptionsInvert)
{
    RunOptionCases({"invert", {"-m", "invert"}, false, false}, {""});
}

TEST(GoldenOutputs, OptionsAm)
{
    RunOptionCases({"am", {"-m", "am-classic", "-f", "10k", "-r", "12k"}, true, true}, kQualities);
}

TEST(GoldenOutputs, OptionsFm)
{
    RunOptionCases({"fm", {"-m", "fm-classic", "-f", "-12k", "-r", "12k"}, true, true}, kQualities);
}

// ---- the dialogue --------------------------------------------------------------------------

TEST(GoldenOutputs, Dialogue)
{
    struct DialogueCase
    {
        const char* name;
        std::string answers;
        const char* suffix;
    };
    const std::vector<DialogueCase> cases = {
        {"iq", "1\n2\n", "_iq2r.wav"},
        {"resample", "2\n10000\n12000\n1.5\n3\n", "_resampl.wav"},
        {"convert", "3\n-12000\n8000\n1\n1\n", "_if.wav"},
        {"invert", "4\n", "_inv.wav"},
        {"am", "5\n10000\n12000\n20000\n2\n", "_amdem.wav"},
        {"fm", "6\n-12000\n12000\n20000\n3\n", "_fmdem.wav"},
    };
    Computed computed;
    TempDir dir;
    for (const Format& format : {kFileFormats[0], kFileFormats[1]})
        for (int channels : {1, 2})
        {
            const std::string in = dir.File("rec.wav");
            WriteFileBytes(in, InputFile(format, channels));
            for (const DialogueCase& c : cases)
            {
                ProcessOptions options;
                options.workingDirectory = dir.Path();
                const ProcessResult run = RunSigrun({"rec.wav"}, c.answers, options);
                ASSERT_EQ(run.status, 0) << run.err;
                const std::string name = std::string("dialogue/") + c.name + "/" + format.key +
                                         (channels == 2 ? "/iq" : "/real");
                const std::string out = dir.File(std::string("rec") + c.suffix);
                computed.Check(name + "/file", ReadFileBytes(out));
                computed.Check(name + "/stdout", run.out);
                std::remove(out.c_str());
            }
        }
}

// ---- the exports in uneven blocks ----------------------------------------------------------

template <std::size_t N> void Put(char (&field)[N], const char* text)
{
    std::snprintf(field, N, "%s", text);
}

// Blocks of these many samples in turn (whole samples, so a complex pair may be split).
constexpr std::size_t kSamplePieces[] = {1, 3, 997, 5000, 2, 8191, 64};
// Blocks of these many bytes in turn (samples split between blocks).
constexpr std::size_t kBytePieces[] = {7, 1, 4095, 2, 333};

template <typename Handle, typename Data>
std::string Pump(Data data, Handle* handle, const std::string& input,
                 const std::vector<std::size_t>& pieces)
{
    std::string output;
    std::size_t at = 0;
    for (std::size_t k = 0; at < input.size(); ++k)
    {
        const std::size_t size = std::min(pieces[k % pieces.size()], input.size() - at);
        const void* out = nullptr;
        int32_t outBytes = 0;
        EXPECT_EQ(data(handle, input.data() + at, static_cast<int32_t>(size), &out, &outBytes), 1);
        if (outBytes > 0)
            output.append(static_cast<const char*>(out), static_cast<std::size_t>(outBytes));
        at += size;
    }
    return output;
}

std::vector<std::size_t> SamplePieces(const Format& format)
{
    const std::size_t bytes = format.bits == 0 ? 4 : static_cast<std::size_t>(format.bits / 8);
    std::vector<std::size_t> pieces;
    for (std::size_t p : kSamplePieces)
        pieces.push_back(p * bytes);
    return pieces;
}

struct BlockFamily
{
    const char* name;
    int32_t (*init)(BlockParams, BlockHandle**);
    int32_t (*data)(BlockHandle*, const void*, int32_t, const void**, int32_t*);
    int32_t (*release)(BlockHandle*);
    int32_t frequency;
    int32_t third;
    bool demod;
};

const BlockFamily kBlockFamilies[] = {
    {"resampl", resampl_init, resampl_data, resampl_free, 10000, 12000, false},
    {"lpflt", lpflt_init, lpflt_data, lpflt_free, -12000, 8000, false},
    {"am_demod", am_demod_init, am_demod_data, am_demod_free, 10000, 12000, true},
    {"fm_demod", fm_demod_init, fm_demod_data, fm_demod_free, -12000, 12000, true},
};

std::string ExportInput(const Format& format, int channels)
{
    return Store(channels == 2 ? IqSignal() : RealSignal(), format);
}

TEST(GoldenOutputs, BlockExports)
{
    Computed computed;
    for (const BlockFamily& family : kBlockFamilies)
        for (const Format& format : kRecordFormats)
            for (int channels : {1, 2})
            {
                const std::string input = ExportInput(format, channels);
                for (const char* quality : {"Low", "Medium", "High"})
                {
                    BlockParams p{};
                    Put(p.inputMode, channels == 2 ? "Complex" : "Real");
                    Put(p.sampleFormat, format.word);
                    p.sampleRate = static_cast<int32_t>(kRate);
                    p.frequency = family.frequency;
                    p.outRateOrBand = family.third;
                    p.amplify = family.demod ? std::stof(DemodGain(format)) : 1.25f;
                    Put(p.quality, quality);
                    BlockHandle* handle = nullptr;
                    ASSERT_EQ(family.init(p, &handle), 1);
                    const std::string out = Pump(family.data, handle, input, SamplePieces(format));
                    EXPECT_EQ(family.release(handle), 1);
                    computed.Check(std::string("exports/") + family.name + "/" + quality + "/" +
                                       format.key + (channels == 2 ? "/iq" : "/real"),
                                   out);
                }
            }
}

TEST(GoldenOutputs, IqAndInvertExports)
{
    Computed computed;
    for (const Format& format : kRecordFormats)
        for (int channels : {1, 2})
        {
            const std::string input = ExportInput(format, channels);
            for (const char* quality : {"Low", "Medium", "High"})
            {
                IqParams p{};
                Put(p.inputMode, channels == 2 ? "Complex->Real" : "Real->Complex");
                Put(p.sampleFormat, format.word);
                Put(p.quality, quality);
                IqHandle* handle = nullptr;
                ASSERT_EQ(iq2real_init(p, &handle), 1);
                const std::string out = Pump(iq2real_data, handle, input, SamplePieces(format));
                EXPECT_EQ(iq2real_free(handle), 1);
                computed.Check(std::string("exports/iq2real/") + quality + "/" + format.key +
                                   (channels == 2 ? "/iq" : "/real"),
                               out);
            }
            InvertParams p{};
            Put(p.inputMode, channels == 2 ? "Complex" : "Real");
            Put(p.sampleFormat, format.word);
            InvertHandle* handle = nullptr;
            ASSERT_EQ(invert_init(p, &handle), 1);
            const std::string out = Pump(invert_data, handle, input, SamplePieces(format));
            EXPECT_EQ(invert_free(handle), 1);
            computed.Check(std::string("exports/invert/") + format.key +
                               (channels == 2 ? "/iq" : "/real"),
                           out);
        }
}

// Blocks that split samples: what the families make of them is pinned too.
TEST(GoldenOutputs, ExportsInSplitSamples)
{
    Computed computed;
    const Format& format = kRecordFormats[2]; // 16-bit signed
    const std::vector<std::size_t> pieces(std::begin(kBytePieces), std::end(kBytePieces));
    for (int channels : {1, 2})
    {
        const std::string input = ExportInput(format, channels);
        const std::string shape = channels == 2 ? "/iq" : "/real";
        for (const BlockFamily& family : kBlockFamilies)
        {
            BlockParams p{};
            Put(p.inputMode, channels == 2 ? "Complex" : "Real");
            Put(p.sampleFormat, format.word);
            p.sampleRate = static_cast<int32_t>(kRate);
            p.frequency = family.frequency;
            p.outRateOrBand = family.third;
            p.amplify = family.demod ? 20000.0f : 1.0f;
            Put(p.quality, "Medium");
            BlockHandle* handle = nullptr;
            ASSERT_EQ(family.init(p, &handle), 1);
            computed.Check(std::string("split/") + family.name + shape,
                           Pump(family.data, handle, input, pieces));
            EXPECT_EQ(family.release(handle), 1);
        }
        IqParams iq{};
        Put(iq.inputMode, channels == 2 ? "Complex->Real" : "Real->Complex");
        Put(iq.sampleFormat, format.word);
        Put(iq.quality, "Medium");
        IqHandle* iqHandle = nullptr;
        ASSERT_EQ(iq2real_init(iq, &iqHandle), 1);
        computed.Check("split/iq2real" + shape, Pump(iq2real_data, iqHandle, input, pieces));
        EXPECT_EQ(iq2real_free(iqHandle), 1);
        InvertParams inv{};
        Put(inv.inputMode, channels == 2 ? "Complex" : "Real");
        Put(inv.sampleFormat, format.word);
        InvertHandle* invHandle = nullptr;
        ASSERT_EQ(invert_init(inv, &invHandle), 1);
        computed.Check("split/invert" + shape, Pump(invert_data, invHandle, input, pieces));
        EXPECT_EQ(invert_free(invHandle), 1);
    }
}

} // namespace
