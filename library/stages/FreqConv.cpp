#include "stages/FreqConv.h"

#include "Text.h"
#include "stages/filters/ComplexMixer.h"

#include <cmath>

namespace sigkit {

FreqConv::FreqConv() : filter(std::make_unique<DualFir>())
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

void FreqConv::Process(const float* iq, int32_t pairs)
{
    if (!usable || !Reserve(2 * static_cast<std::size_t>(pairs)))
        return;
    for (int32_t n = 0; n < pairs; ++n)
    {
        double s = 0.0;
        double c = 0.0;
        oscillator.Step(Fd, Fn, s, c);
        float I = 0.0f;
        float Q = 0.0f;
        ComplexMixer::Mix(iq[2 * n], iq[2 * n + 1], static_cast<float>(c), static_cast<float>(s), I, Q);
        float yI = 0.0f;
        float yQ = 0.0f;
        filter->Step(I, Q, yI, yQ);
        if (DropWarmup(discard))
            continue;
        Emit(yI * Kamp);
        Emit(yQ * Kamp);
    }
}

} // namespace sigkit
