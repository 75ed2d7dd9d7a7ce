#include "ProcessingModes.h"

#include "sigkit_api.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace sigrun {

namespace {

// Real to I/Q at half the rate, and I/Q back to real at twice the rate (the remainder of an odd
// rate is dropped).
OutputShape SwapRealAndIq(const WavDescription& input, const Settings&)
{
    if (input.channels == 1)
        return {2, input.sampleRate / 2};
    return {1, input.sampleRate * 2};
}

OutputShape IqAtInputRate(const WavDescription& input, const Settings&)
{
    return {2, input.sampleRate};
}

OutputShape IqAtOutRate(const WavDescription&, const Settings& settings)
{
    return {2, static_cast<uint32_t>(settings.outRateOrBand)};
}

OutputShape RealAtOutRate(const WavDescription&, const Settings& settings)
{
    return {1, static_cast<uint32_t>(settings.outRateOrBand)};
}

constexpr Value kF = Value::Frequency;
constexpr Value kR = Value::OutRate;
constexpr Value kB = Value::Band;
constexpr Value kA = Value::Amplify;
constexpr Value kQ = Value::Quality;

constexpr unsigned Bit(Value value)
{
    return 1u << static_cast<unsigned>(value);
}

// The original kinds take every value they name, the quality excepted (high unless given).
constexpr unsigned kQualityOnly = Bit(kQ);
// The receivers: the carrier; the channel's band, the audio rate and an extra gain have defaults.
constexpr unsigned kReceiverOptional = Bit(kB) | Bit(kR) | Bit(kA);

const ModeRow kModes[] = {
    {1,
     "iq",
     "iq2real",
     StartIqFamily,
     SwapRealAndIq,
     "_iq2r.wav",
     1,
     {kQ},
     SIGKIT_KIND_IQ2R,
     kQualityOnly},
    {2,
     "resample",
     "resampl",
     StartBlockFamily,
     IqAtOutRate,
     "_resampl.wav",
     4,
     {kF, kR, kA, kQ},
     SIGKIT_KIND_RESAMPLE,
     kQualityOnly},
    {3,
     "convert",
     "lpflt",
     StartBlockFamily,
     IqAtInputRate,
     "_if.wav",
     4,
     {kF, kB, kA, kQ},
     SIGKIT_KIND_CONVERT,
     kQualityOnly},
    {4,
     "invert",
     "invert",
     StartInvertFamily,
     IqAtInputRate,
     "_inv.wav",
     0,
     {},
     SIGKIT_KIND_INVERT,
     0},
    {5,
     "am-classic",
     "am_demod",
     StartBlockFamily,
     RealAtOutRate,
     "_amdem.wav",
     4,
     {kF, kR, kA, kQ},
     SIGKIT_KIND_AM_CLASSIC,
     kQualityOnly},
    {6,
     "fm-classic",
     "fm_demod",
     StartBlockFamily,
     RealAtOutRate,
     "_fmdem.wav",
     4,
     {kF, kR, kA, kQ},
     SIGKIT_KIND_FM_CLASSIC,
     kQualityOnly},
    {0,
     "rate",
     nullptr,
     nullptr,
     nullptr,
     "_rate.wav",
     3,
     {kR, kA, kQ},
     SIGKIT_KIND_RATE,
     Bit(kA) | Bit(kQ)},
    {0,
     "channel",
     nullptr,
     nullptr,
     nullptr,
     "_ch.wav",
     5,
     {kF, kB, kR, kA, kQ},
     SIGKIT_KIND_CHANNEL,
     Bit(kR) | Bit(kA) | Bit(kQ)},
    {0,
     "am",
     nullptr,
     nullptr,
     nullptr,
     "_am.wav",
     4,
     {kF, kB, kR, kA},
     SIGKIT_KIND_AM,
     kReceiverOptional},
    {0,
     "fm",
     nullptr,
     nullptr,
     nullptr,
     "_fm.wav",
     4,
     {kF, kB, kR, kA},
     SIGKIT_KIND_FM,
     kReceiverOptional},
    {0,
     "wfm",
     nullptr,
     nullptr,
     nullptr,
     "_wfm.wav",
     4,
     {kF, kB, kR, kA},
     SIGKIT_KIND_WFM,
     kReceiverOptional},
    {0,
     "usb",
     nullptr,
     nullptr,
     nullptr,
     "_usb.wav",
     4,
     {kF, kB, kR, kA},
     SIGKIT_KIND_USB,
     kReceiverOptional},
    {0,
     "lsb",
     nullptr,
     nullptr,
     nullptr,
     "_lsb.wav",
     4,
     {kF, kB, kR, kA},
     SIGKIT_KIND_LSB,
     kReceiverOptional},
    {0,
     "cw",
     nullptr,
     nullptr,
     nullptr,
     "_cw.wav",
     4,
     {kF, kB, kR, kA},
     SIGKIT_KIND_CW,
     kReceiverOptional},
};
constexpr int kModeCount = static_cast<int>(sizeof kModes / sizeof kModes[0]);

bool Known(int mode)
{
    return mode >= 1 && mode <= kModeCount;
}

} // namespace

bool IsChainMode(int mode)
{
    return Known(mode) && kModes[mode - 1].family == nullptr;
}

bool IsReceiverMode(int mode)
{
    return IsChainMode(mode) && kModes[mode - 1].kind >= SIGKIT_KIND_AM;
}

int ModeCount()
{
    return kModeCount;
}

const ModeRow& Mode(int mode)
{
    return kModes[Known(mode) ? mode - 1 : 0];
}

int ModeByMenu(long answer)
{
    for (int mode = 1; mode <= kModeCount; ++mode)
        if (kModes[mode - 1].menu != 0 && kModes[mode - 1].menu == answer)
            return mode;
    return 0;
}

int ModeByWord(const char* word)
{
    for (int mode = 1; mode <= kModeCount; ++mode)
        if (std::strcmp(word, kModes[mode - 1].word) == 0)
            return mode;
    return 0;
}

const char* ModeWord(int mode)
{
    return Known(mode) ? kModes[mode - 1].word : "";
}

std::string ModeWords(const char* separator, const char* lastSeparator)
{
    std::string words;
    for (int mode = 1; mode <= kModeCount; ++mode)
    {
        if (mode > 1)
            words += mode == kModeCount ? lastSeparator : separator;
        words += kModes[mode - 1].word;
    }
    return words;
}

bool ModeTakes(int mode, Value value)
{
    if (!Known(mode))
        return false;
    const ModeRow& row = kModes[mode - 1];
    for (int i = 0; i < row.valueCount; ++i)
        if (row.values[i] == value)
            return true;
    return false;
}

bool ModeNeeds(int mode, Value value)
{
    return ModeTakes(mode, value) && (kModes[mode - 1].optional & Bit(value)) == 0;
}

WavDescription OutputDescription(int mode, const Settings& settings, const WavDescription& input,
                                 const char* outputName)
{
    WavDescription out{};
    const std::size_t length = std::min(std::strlen(outputName), sizeof out.name - 1);
    std::memcpy(out.name, outputName, length);
    out.formatTag = input.formatTag;
    out.bitsPerSample = input.bitsPerSample;
    const OutputShape shape = Mode(mode).output(input, settings);
    out.channels = shape.channels;
    out.sampleRate = shape.sampleRate;
    out.blockAlign = static_cast<uint16_t>((out.bitsPerSample / 8) * out.channels);
    out.byteRate = out.blockAlign * out.sampleRate;
    return out;
}

bool MakeOutputName(int mode, const char* inputName, const char* folder,
                    char (&outputName)[kTextSize])
{
    const std::size_t length = std::strlen(inputName);
    const char* slash = std::strrchr(inputName, '/');
    const std::size_t fileStart =
        slash != nullptr ? static_cast<std::size_t>(slash - inputName) + 1 : 0;
    // Only the file's own name loses characters, never the folder it is in.
    const std::size_t fileLength = length - fileStart;
    const std::size_t kept = fileLength >= 4 ? length - 4 : length;

    std::string name;
    if (folder != nullptr)
    {
        name = folder;
        if (!name.empty() && name.back() != '/')
            name += '/';
        name.append(inputName + fileStart, kept - fileStart);
    }
    else
        name.assign(inputName, kept);
    name += Mode(mode).suffix;
    if (name.size() >= sizeof outputName)
        return false;
    std::memset(outputName, 0, sizeof outputName);
    std::memcpy(outputName, name.c_str(), name.size() + 1);
    return true;
}

} // namespace sigrun
