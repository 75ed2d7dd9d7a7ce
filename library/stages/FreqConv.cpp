#include "stages/FreqConv.h"

#include "Text.h"

#include <cmath>

namespace sigkit {

FreqConv::FreqConv()
    : filter(std::make_unique<DualFir>()), filteredI(kGatherPairs, 0.0f),
      filteredQ(kGatherPairs, 0.0f)
{
    const FilterDesignChoice design = QualityToDesign(1);
    filter->DesignLow(Fd, Fp, 0.0f, design.window, design.taps);
}

void FreqConv::SetParam(const char* name, const char* value)
{
    if (TextIs(name, "ModeInp"))
        complexInput = TextIs(value, "Complex") ? 1 : 0;
    else if (TextIs(name, "Fd"))
        Fd = ReadNumber(value);
    else if (TextIs(name, "Fc1"))
        Fc1 = ReadNumber(value);
    else if (TextIs(name, "Fc2"))
        Fc2 = ReadNumber(value);
    else if (TextIs(name, "Fp"))
        Fp = ReadNumber(value);
    else if (TextIs(name, "Fn"))
        Fn = ReadNumber(value);
    else if (TextIs(name, "Kamp"))
        Kamp = ReadNumber(value);
    else if (TextIs(name, "Quality"))
        quality = QualityLevel(value);
}

int32_t FreqConv::Start()
{
    StartStream();
    const FilterDesignChoice design = QualityToDesign(quality);
    usable = std::isfinite(Fd) && Fd > 0.0f && std::isfinite(Fp);
    filter->DesignLow(usable ? Fd : 1.0f, usable ? Fp : 0.0f, 0.0f, design.window, design.taps);
    discard = (filter->TapCount() - 1) / 2;
    return usable ? filter->TapCount() : 0;
}

void FreqConv::Process(float* I, float* Q, int32_t pairs)
{
    if (!usable || !Reserve(2 * static_cast<std::size_t>(pairs)))
        return;
    ShiftDown(Fd, Fn, I, Q, pairs);
    filter->StepBlock(I, Q, pairs, filteredI.data(), filteredQ.data());
    const int32_t first = DropWarmupOf(pairs, discard);
    float* out = Claim(2 * static_cast<std::size_t>(pairs - first));
    if (out == nullptr)
        return;
    for (int32_t n = first; n < pairs; ++n)
    {
        *out++ = filteredI[static_cast<std::size_t>(n)] * Kamp;
        *out++ = filteredQ[static_cast<std::size_t>(n)] * Kamp;
    }
}

} // namespace sigkit
