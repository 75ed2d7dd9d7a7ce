#include "stages/demod/AM_Demod.h"

#include "Text.h"
#include "stages/filters/ComplexMixer.h"

#include <cmath>

namespace sigkit {

AM_Demod::AM_Demod() : resampler(std::make_unique<PolyphaseResampler>())
{
}

void AM_Demod::SetParam(const char* name, const char* value)
{
    if (TextIs(name, "ModeInp"))
        complexInput = TextIs(value, "Complex") ? 1 : 0;
    else if (TextIs(name, "Fd"))
        Fd = ReadNumber(value);
    else if (TextIs(name, "Fp"))
        Fp = ReadNumber(value);
    else if (TextIs(name, "Fn"))
    {
        Fn = ReadNumber(value);
        FnWork = Fn;
    }
    else if (TextIs(name, "FdOut"))
        FdOut = ReadNumber(value);
    else if (TextIs(name, "Mode"))
    {
        if (TextIs(value, "AM"))
            mode = kAm;
        else if (TextIs(value, "FM"))
            mode = kFm;
        else if (TextIs(value, "PM"))
            mode = kPm;
    }
    else if (TextIs(name, "Kamp"))
        Kamp = ReadNumber(value);
    else if (TextIs(name, "Quality"))
        quality = QualityLevel(value);
}

int32_t AM_Demod::Start()
{
    StartStream();
    FnWork = Fn;
    envelopeMean = 0.0f;
    const FilterDesignChoice design = QualityToDesign(quality);
    const float R = Fd / FdOut;
    usable = std::isfinite(Fd) && Fd > 0.0f && std::isfinite(FdOut) && FdOut > 0.0f &&
             PolyphaseResampler::UsableRatio(R);
    resampler->DesignBank(usable ? Fd : 1.0f, usable ? FdOut : 1.0f, 0.0f, design.window,
                          usable ? design.taps : 0);
    const int32_t N = resampler->TapCount();
    // AM also waits for the envelope mean to settle.
    discard = mode == kAm ? (N + 999) / 2 : (N - 1) / 2;
    outputsPerInput = !usable || R >= 1.0f ? 1 : static_cast<std::size_t>(std::ceil(1.0f / R)) + 2;
    return usable ? N : 0;
}

void AM_Demod::Process(const float* iq, int32_t pairs)
{
    if (!usable || !Reserve(outputsPerInput * static_cast<std::size_t>(pairs)))
        return;
    for (int32_t n = 0; n < pairs; ++n)
    {
        double s = 0.0;
        double c = 0.0;
        oscillator.Step(Fd, FnWork, s, c);
        float I = 0.0f;
        float Q = 0.0f;
        ComplexMixer::Mix(iq[2 * n], iq[2 * n + 1], static_cast<float>(c), static_cast<float>(s), I, Q);

        float y = 0.0f;
        if (mode == kAm)
        {
            const float m = std::sqrt(I * I + Q * Q);
            envelopeMean = static_cast<float>(0.01 * m + 0.99 * static_cast<double>(envelopeMean));
            if (envelopeMean == 0.0f)
                envelopeMean = 1.0f;
            const float ratio = m / envelopeMean;
            y = static_cast<float>((static_cast<double>(ratio) - 1.0) * static_cast<double>(Kamp));
        }
        else if (mode == kFm)
        {
            float m = std::sqrt(I * I + Q * Q);
            if (m == 0.0f)
                m = 1.0f;
            const float u = I / m;
            const float v = Q / m;
            // Minus the sine of the phase step from the previous sample: a carrier above the
            // working frequency gives a negative value.
            y = (prevQ * u - prevI * v) * Kamp;
            prevI = u;
            prevQ = v;
        }
        else
            continue; // "PM": consumed, nothing produced

        float outI = 0.0f;
        float outQ = 0.0f;
        int32_t r = resampler->ResampleStep(y, 0.0f, Fd, FdOut, outI, outQ);
        while (r != 0)
        {
            if (!DropWarmup(discard))
                Emit(outI);
            if (r != 2)
                break;
            r = resampler->ResampleStep(y, 0.0f, Fd, FdOut, outI, outQ);
        }
    }
}

} // namespace sigkit
