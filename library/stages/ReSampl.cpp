#include "stages/ReSampl.h"

#include "Text.h"
#include "stages/filters/ComplexMixer.h"

#include <cmath>

namespace sigkit {

ReSampl::ReSampl()
    : first(std::make_unique<PolyphaseResampler>()), second(std::make_unique<PolyphaseResampler>())
{
    // The steps are designed by Start, from the rates and quality set by then; a stopped stage
    // takes no input, so nothing runs through an undesigned step.
}

void ReSampl::SetParam(const char* name, const char* value)
{
    if (TextIs(name, "ModeInp"))
        complexInput = TextIs(value, "Complex") ? 1 : 0;
    else if (TextIs(name, "Fd"))
        Fd = ReadNumber(value);
    else if (TextIs(name, "Fp"))
        Fp = ReadNumber(value);
    else if (TextIs(name, "Fn"))
        Fn = ReadNumber(value);
    else if (TextIs(name, "FdOut"))
        FdOut = ReadNumber(value);
    else if (TextIs(name, "Kamp"))
        Kamp = ReadNumber(value);
    else if (TextIs(name, "Quality"))
        quality = QualityLevel(value);
}

int32_t ReSampl::Start()
{
    StartStream();
    const FilterDesignChoice design = QualityToDesign(quality);
    const float R = Fd / FdOut;
    // Rates that are zero, negative or not finite, and ratios beyond what the steps take, give
    // no output (and no undefined conversion of the ratio).
    usable = std::isfinite(Fd) && Fd > 0.0f && std::isfinite(FdOut) && FdOut > 0.0f &&
             PolyphaseResampler::UsableRatio(R) && R < 2147483648.0f;
    ratio = usable ? static_cast<int32_t>(R) : 0;
    twoSteps = usable && ratio >= 8;
    if (!usable)
    {
        first->DesignBank(1.0f, 1.0f, 0.0f, design.window, 0);
        discard = 0;
        return 0;
    }
    if (!twoSteps)
    {
        first->DesignBank(Fd, FdOut, 0.0f, design.window, design.taps);
        discard = (first->TapCount() - 1) / 2;
    }
    else
    {
        const auto M = static_cast<int32_t>(std::sqrt(R));
        Fi = Fd / static_cast<float>(M);
        first->DesignBank(Fd, Fi, 0.0f, design.window, design.taps);
        second->DesignBank(Fi, FdOut, 0.0f, design.window, design.taps);
        discard = (first->TapCount() + second->TapCount() - 2) / 2;
    }
    // An output rate above the input rate gives up to ceil(FdOut / Fd) outputs per input.
    outputsPerInput = R >= 1.0f ? 1 : static_cast<std::size_t>(std::ceil(1.0f / R)) + 2;
    return first->TapCount();
}

void ReSampl::Deliver(float I, float Q)
{
    if (DropWarmup(discard))
        return;
    Emit(I * Kamp);
    Emit(Q * Kamp);
}

void ReSampl::Process(const float* iq, int32_t pairs)
{
    if (!usable || !Reserve(2 * outputsPerInput * static_cast<std::size_t>(pairs)))
        return;
    for (int32_t n = 0; n < pairs; ++n)
    {
        double s = 0.0;
        double c = 0.0;
        oscillator.Step(Fd, Fn, s, c);
        float I = 0.0f;
        float Q = 0.0f;
        ComplexMixer::Mix(iq[2 * n], iq[2 * n + 1], static_cast<float>(c), static_cast<float>(s), I, Q);

        float oI = 0.0f;
        float oQ = 0.0f;
        if (!twoSteps)
        {
            int32_t r = first->ResampleStep(I, Q, Fd, FdOut, oI, oQ);
            while (r != 0)
            {
                Deliver(oI, oQ);
                if (r != 2)
                    break;
                // Another output is due for this same input.
                r = first->ResampleStep(I, Q, Fd, FdOut, oI, oQ);
            }
        }
        else if (first->ResampleStep(I, Q, Fd, Fi, oI, oQ) != 0)
        {
            float tI = 0.0f;
            float tQ = 0.0f;
            if (second->ResampleStep(oI, oQ, Fi, FdOut, tI, tQ) != 0)
                Deliver(tI, tQ);
        }
    }
}

} // namespace sigkit
