#include "interface/Configure.h"

#include "Text.h"
#include "stages/FreqConv.h"
#include "stages/ReSampl.h"
#include "stages/demod/AM_Demod.h"

#include <cmath>

namespace sigkit {

namespace {

struct WordPair
{
    const char* from;
    const char* to;
};

// The stored sample formats and the converter modes they select, into floats and back.
constexpr WordPair kForwardModes[] = {
    {"8 bits  (signed)", "Char2Float"},   {"8 bits  (unsigned)", "UChar2Float"},
    {"16 bits (signed)", "Short2Float"},  {"16 bits (unsigned)", "UShort2Float"},
    {"24 bits (signed)", "24Int2Float"},  {"32 bits (signed)", "32Int2Float"},
    {"32 bits (float)", "32Float2Float"},
};
constexpr WordPair kReverseModes[] = {
    {"8 bits  (signed)", "Float2Char"},   {"8 bits  (unsigned)", "Float2UChar"},
    {"16 bits (signed)", "Float2Short"},  {"16 bits (unsigned)", "Float2UShort"},
    {"24 bits (signed)", "Float2Int24"},  {"32 bits (signed)", "Float2Int32"},
    {"32 bits (float)", "32Float2Float"},
};
constexpr WordPair kInputModes[] = {{"Real", "Simpl"}, {"Complex", "Complex"}};
constexpr WordPair kIqInputModes[] = {{"Real->Complex", "Simpl"}, {"Complex->Real", "Complex"}};
constexpr WordPair kQualities[] = {{"Low", "Low"}, {"Medium", "Medium"}, {"High", "High"}};

// Writes the word that `field` selects into the value text; leaves it as it was when the field
// holds none of the words.
template <std::size_t N, std::size_t M>
void Translate(ProcessingBlock& handle, const char (&field)[N], const WordPair (&words)[M])
{
    for (const WordPair& pair : words)
        if (FieldIs(field, pair.from))
        {
            CopyText(handle.valueText, pair.to);
            return;
        }
}

// Steps shared by every family: converter modes, converter start, input mode, "RevIQ".
template <typename Params, std::size_t M>
void ConfigureCommon(ProcessingBlock& handle, const Params& params, const WordPair (&inputModes)[M])
{
    handle.modeText = params.inputMode;
    handle.formatText = params.sampleFormat;
    Translate(handle, params.sampleFormat, kForwardModes);
    handle.converter->SetParam("ConvertMode", handle.valueText);
    Translate(handle, params.sampleFormat, kReverseModes);
    handle.converter->SetParam("ConvertModeRev", handle.valueText);
    handle.converter->Start();
    Translate(handle, params.inputMode, inputModes);
    handle.stage->SetParam("ModeInp", handle.valueText);
    CopyText(handle.valueText, "Off");
    handle.stage->SetParam("RevIQ", handle.valueText);
}

// The numbers of a record that can produce output: positive rates (the third number a rate, or
// a band that may be 0), a finite gain.
bool NumbersUsable(const BlockParams& params, bool thirdIsBand)
{
    const bool third = thirdIsBand ? params.outRateOrBand >= 0 : params.outRateOrBand > 0;
    return params.sampleRate > 0 && third && std::isfinite(params.amplify);
}

void CopyNumbers(BlockHandle& handle, const BlockParams& params)
{
    handle.sampleRate = params.sampleRate;
    handle.frequency = params.frequency;
    handle.outRateOrBand = params.outRateOrBand;
    handle.amplify = params.amplify;
    handle.qualityText = params.quality;
}

template <std::size_t N> void SetQuality(ProcessingBlock& handle, const char (&quality)[N])
{
    Translate(handle, quality, kQualities);
    handle.stage->SetParam("Quality", handle.valueText);
}

// The four numbers go to the stage as floats: the integers converted to the nearest float, the
// gain copied bit for bit.
template <typename StageType>
void SetNumbers(StageType& stage, const BlockHandle& handle, float StageType::*thirdNumber)
{
    stage.Fd = static_cast<float>(handle.sampleRate);
    stage.Fn = static_cast<float>(handle.frequency);
    stage.*thirdNumber = static_cast<float>(handle.outRateOrBand);
    stage.Kamp = handle.amplify;
}

bool ConfigureDemod(BlockHandle& handle, const BlockParams& params, const char* mode)
{
    CopyNumbers(handle, params);
    ConfigureCommon(handle, params, kInputModes);
    auto& stage = static_cast<AM_Demod&>(*handle.stage);
    stage.SetParam("Mode", mode);
    SetNumbers(stage, handle, &AM_Demod::FdOut);
    SetQuality(handle, params.quality);
    return stage.Start() > 0 && NumbersUsable(params, false);
}

} // namespace

bool ConfigureAmDemod(BlockHandle& handle, const BlockParams& params)
{
    return ConfigureDemod(handle, params, "AM");
}

bool ConfigureFmDemod(BlockHandle& handle, const BlockParams& params)
{
    return ConfigureDemod(handle, params, "FM");
}

bool ConfigureResampl(BlockHandle& handle, const BlockParams& params)
{
    CopyNumbers(handle, params);
    ConfigureCommon(handle, params, kInputModes);
    auto& stage = static_cast<ReSampl&>(*handle.stage);
    SetNumbers(stage, handle, &ReSampl::FdOut);
    SetQuality(handle, params.quality);
    return stage.Start() > 0 && NumbersUsable(params, false);
}

bool ConfigureLpflt(BlockHandle& handle, const BlockParams& params)
{
    CopyNumbers(handle, params);
    ConfigureCommon(handle, params, kInputModes);
    auto& stage = static_cast<FreqConv&>(*handle.stage);
    // The record's third number is the band width here.
    SetNumbers(stage, handle, &FreqConv::Fp);
    SetQuality(handle, params.quality);
    return stage.Start() > 0 && NumbersUsable(params, true);
}

bool ConfigureIq2Real(IqHandle& handle, const IqParams& params)
{
    handle.qualityText = params.quality;
    ConfigureCommon(handle, params, kIqInputModes);
    CopyText(handle.valueText, "Off");
    handle.stage->SetParam("ReSampl", handle.valueText);
    SetQuality(handle, params.quality);
    return handle.stage->Start() > 0;
}

bool ConfigureInvert(InvertHandle& handle, const InvertParams& params)
{
    ConfigureCommon(handle, params, kInputModes);
    CopyText(handle.valueText, "Off");
    handle.stage->SetParam("ReSampl", handle.valueText);
    return handle.stage->Start() > 0;
}

} // namespace sigkit
