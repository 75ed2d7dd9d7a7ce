#include "Records.h"

#include <cstdio>

namespace sigrun {

namespace {

constexpr const char* kQualityWords[] = {"Low", "Medium", "High"};

// Input modes: a one-channel file is a real signal, a two-channel one I/Q.
constexpr const char* kRealWord = "Real";
constexpr const char* kComplexWord = "Complex";
// The iq2real family names the direction instead.
constexpr const char* kRealToComplexWord = "Real->Complex";
constexpr const char* kComplexToRealWord = "Complex->Real";

template <std::size_t N> void PutText(char (&field)[N], const char* text)
{
    std::snprintf(field, N, "%s", text);
}

bool IsMono(const WavDescription& input)
{
    return input.channels == 1;
}

const char* SampleFormatWord(const WavDescription& input)
{
    if (input.formatTag == 3)
        return "32 bits (float)";
    switch (input.bitsPerSample)
    {
    case 8:
        return "8 bits  (unsigned)";
    case 16:
        return "16 bits (signed)";
    case 24:
        return "24 bits (signed)";
    default:
        return "32 bits (signed)";
    }
}

} // namespace

const char* QualityWord(int level)
{
    return level >= 1 && level <= 3 ? kQualityWords[level - 1] : "";
}

BlockParams MakeBlockParams(const Settings& settings, const WavDescription& input)
{
    BlockParams params{};
    PutText(params.inputMode, IsMono(input) ? kRealWord : kComplexWord);
    PutText(params.sampleFormat, SampleFormatWord(input));
    params.sampleRate = static_cast<int32_t>(input.sampleRate);
    params.frequency = settings.frequency;
    params.outRateOrBand = settings.outRateOrBand;
    params.amplify = settings.amplify;
    PutText(params.quality, settings.quality);
    return params;
}

IqParams MakeIqParams(const Settings& settings, const WavDescription& input)
{
    IqParams params{};
    PutText(params.inputMode, IsMono(input) ? kRealToComplexWord : kComplexToRealWord);
    PutText(params.sampleFormat, SampleFormatWord(input));
    PutText(params.quality, settings.quality);
    return params;
}

InvertParams MakeInvertParams(const Settings&, const WavDescription& input)
{
    InvertParams params{};
    PutText(params.inputMode, IsMono(input) ? kRealWord : kComplexWord);
    PutText(params.sampleFormat, SampleFormatWord(input));
    return params;
}

} // namespace sigrun
