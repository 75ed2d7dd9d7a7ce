#include "stages/demod/AM_Demod.h"

#include "Text.h"
#include "stages/StageParams.h"
#include "stages/demod/AmEnvelope.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

AM_Demod::AM_Demod()
    : resampler(std::make_unique<PolyphaseResampler>()), demodulated(kPart, 0.0f),
      resampled(kPieceOutputs, 0.0f), demodKernels(demod::ActiveDemod())
{
}

void AM_Demod::SetParam(const char* name, const char* value)
{
    if (TextIs(name, "Mode"))
    {
        if (TextIs(value, "AM"))
            mode = kAm;
        else if (TextIs(value, "FM"))
            mode = kFm;
        else if (TextIs(value, "PM"))
            mode = kPm;
    }
    else if (SetStreamParam(name, value, {{"Fp", &Fp}, {"FdOut", &FdOut}}) && TextIs(name, "Fn"))
        FnWork = Fn;
}

int32_t AM_Demod::Start()
{
    FnWork = Fn;
    envelopeMean = 0.0f;
    const FilterDesignChoice design = QualityToDesign(quality);
    usable = RatesUsable(Fd, FdOut);
    resampler->DesignBank(usable ? Fd : 1.0f, usable ? FdOut : 1.0f, 0.0f, design.window,
                          usable ? design.taps : 0);
    const int32_t N = resampler->TapCount();
    // AM also waits for the envelope mean to settle.
    StartStream(mode == kAm ? demod::AmStartupOutputs(N) : (N - 1) / 2);
    outputsPerInput = usable ? PolyphaseResampler::MaxOutputs(1, Fd, FdOut) : 1;
    return usable ? N : 0;
}

std::size_t AM_Demod::MostOutputs(std::size_t pairs) const
{
    if (!usable || (mode != kAm && mode != kFm))
        return 0;
    return PolyphaseResampler::MaxOutputs(pairs, Fd, FdOut);
}

bool AM_Demod::Demodulate(float* I, float* Q, int32_t pairs, float* y)
{
    if (mode == kAm)
    {
        // The oscillator, the mixer and the envelope in one pass: the running mean is a chain
        // from sample to sample, and the kernel works on the next samples beside it.
        demodKernels.amDemodulate(I, Q, pairs, oscillator.PhaseState(),
                                  PhaseOscillator::Increment(Fd, FnWork), kTwoPi, Kamp,
                                  &envelopeMean, PhaseScratch(), y);
        return true;
    }
    ShiftDown(Fd, FnWork, I, Q, pairs); // "PM": consumed (the oscillator runs), nothing produced
    if (mode != kFm)
        return false;
    // Minus the sine of the phase step from the previous sample: a carrier above the working
    // frequency gives a negative value.
    float previous[2] = {prevI, prevQ};
    demodKernels.fmDiscriminate(I, Q, pairs, Kamp, previous, y);
    prevI = previous[0];
    prevQ = previous[1];
    return true;
}

void AM_Demod::Process(float* I, float* Q, int32_t pairs)
{
    if (!usable)
        return;
    Front(I, Q, pairs);
    Back(I, Q, pairs);
}

void AM_Demod::Front(float* I, float* Q, int32_t pairs)
{
    float* y = demodulated.data();
    if (Demodulate(I, Q, pairs, y))
        std::copy(y, y + pairs, I);
}

void AM_Demod::Back(float* I, float* /*Q*/, int32_t pairs)
{
    if (mode != kAm && mode != kFm)
        return;
    // The input Q of the resampler is 0 and its output Q is not used: only the I sums are formed.
    // An output rate above the input rate gives several outputs per input.
    InPieces(pairs, outputsPerInput, [&](int32_t at, int32_t n) {
        const int32_t count =
            resampler->ResampleBlock(I + at, nullptr, n, Fd, FdOut, resampled.data(), nullptr);
        const int32_t dropped = DropStartup(count);
        float* out = Claim(static_cast<std::size_t>(count - dropped));
        if (out != nullptr)
            std::copy(resampled.begin() + dropped, resampled.begin() + count, out);
    });
}

} // namespace sigkit
