#include "stages/StreamStage.h"

#include "Text.h"
#include "stages/StageParams.h"
#include "stages/filters/FilterDesign.h"
#include "stages/filters/PolyphaseResampler.h"

#include <algorithm>

namespace sigkit {

namespace {

constexpr std::size_t kInitialOutput = 102400; // floats

} // namespace

const std::size_t StreamStage::kPieceOutputs = std::max<std::size_t>(
    kPart, PolyphaseResampler::MaxOutputs(1, 1.0f, PolyphaseResampler::kMaxUpRatio));

StreamStage::StreamStage()
    : BlockStage(kInitialOutput), phases(kPart, 0.0), sines(kPart, 0.0f), cosines(kPart, 0.0f)
{
}

StreamStage::~StreamStage() = default;

bool StreamStage::SetStreamParam(const char* name, const char* value,
                                 std::initializer_list<NumberParam> numbers)
{
    if (TextIs(name, "ModeInp"))
        complexInput = TextIs(value, "Complex") ? 1 : 0;
    else if (TextIs(name, "Quality"))
        quality = QualityLevel(value);
    else if (TextIs(name, "Fd"))
        Fd = ReadNumber(value);
    else if (TextIs(name, "Fn"))
        Fn = ReadNumber(value);
    else if (TextIs(name, "Kamp"))
        Kamp = ReadNumber(value);
    else
    {
        for (const NumberParam& number : numbers)
            if (TextIs(name, number.name))
            {
                *number.field = ReadNumber(value);
                return true;
            }
        return false;
    }
    return true;
}

void StreamStage::ShiftDown(double fs, double f, float* I, float* Q, int32_t pairs)
{
    oscillator.Steps(fs, f, pairs, phases.data(), sines.data(), cosines.data());
    table.mix(I, Q, sines.data(), cosines.data(), pairs, I, Q);
}

int32_t StreamStage::Get(int32_t port, const void** block, int32_t* bytes)
{
    const int32_t result = BlockStage::Get(port, block, bytes);
    if (port == 0 && bytes != nullptr && HasInput())
        reportReady = 1;
    return result;
}

int32_t StreamStage::GetPort(int32_t port, const void** block, int32_t* bytes)
{
    switch (port)
    {
    case 1:
        if (reportReady == 0)
            return 0;
        report.Update(ReportFrequency(), ReportRate(), WarmDone());
        reportReady = 0;
        if (block != nullptr)
            *block = report.Bytes();
        *bytes = static_cast<int32_t>(StreamInfo::kBytes);
        return *bytes;
    case 2:
        if (block != nullptr)
            *block = OutputData();
        *bytes = static_cast<int32_t>(sizeof(float) * TakeOutput());
        return *bytes;
    default:
        return 0;
    }
}

} // namespace sigkit
