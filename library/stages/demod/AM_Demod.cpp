#include "stages/demod/AM_Demod.h"

#include "Text.h"
#include "stages/demod/AmEnvelope.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

AM_Demod::AM_Demod()
    : resampler(std::make_unique<PolyphaseResampler>()), demodulated(kGatherPairs, 0.0f),
      resampled(kGatherPairs, 0.0f), demodKernels(demod::ActiveDemod())
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
    discard = mode == kAm ? demod::AmStartupOutputs(N) : (N - 1) / 2;
    outputsPerInput = !usable || R >= 1.0f ? 1 : static_cast<std::size_t>(std::ceil(1.0f / R)) + 2;
    return usable ? N : 0;
}

void AM_Demod::Process(float* I, float* Q, int32_t pairs)
{
    if (!usable || !Reserve(outputsPerInput * static_cast<std::size_t>(pairs)))
        return;
    float* y = demodulated.data();
    if (mode == kAm)
    {
        // The oscillator, the mixer and the envelope in one pass: the running mean is a chain
        // from sample to sample, and the kernel works on the next samples beside it.
        demodKernels.amDemodulate(I, Q, pairs, oscillator.PhaseState(),
                                  PhaseOscillator::Increment(Fd, FnWork), kTwoPi, Kamp,
                                  &envelopeMean, PhaseScratch(), y);
    }
    else if (mode == kFm)
    {
        ShiftDown(Fd, FnWork, I, Q, pairs);
        // Minus the sine of the phase step from the previous sample: a carrier above the
        // working frequency gives a negative value.
        float previous[2] = {prevI, prevQ};
        demodKernels.fmDiscriminate(I, Q, pairs, Kamp, previous, y);
        prevI = previous[0];
        prevQ = previous[1];
    }
    else
    {
        ShiftDown(Fd, FnWork, I, Q,
                  pairs); // "PM": consumed (the oscillator runs), nothing produced
        return;
    }

    // The input Q of the resampler is 0 and its output Q is not used: only the I sums are formed.
    // An output rate above the input rate gives several outputs per input: pieces whose outputs
    // fit the array.
    const auto piece = static_cast<int32_t>(
        std::max<std::size_t>(1, static_cast<std::size_t>(kGatherPairs) / outputsPerInput));
    for (int32_t at = 0; at < pairs; at += piece)
    {
        const int32_t n = std::min(piece, pairs - at);
        const int32_t count =
            resampler->ResampleBlock(y + at, nullptr, n, Fd, FdOut, resampled.data(), nullptr);
        const int32_t dropped = DropWarmupOf(count, discard);
        float* out = Claim(static_cast<std::size_t>(count - dropped));
        if (out == nullptr)
            return;
        std::copy(resampled.begin() + dropped, resampled.begin() + count, out);
    }
}

} // namespace sigkit
