#include "stages/ReSampl.h"

#include "Text.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

ReSampl::ReSampl()
    : first(std::make_unique<PolyphaseResampler>()), second(std::make_unique<PolyphaseResampler>()),
      firstI(kGatherPairs, 0.0f), firstQ(kGatherPairs, 0.0f), lastI(kGatherPairs, 0.0f),
      lastQ(kGatherPairs, 0.0f)
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

void ReSampl::Deliver(const float* I, const float* Q, int32_t count)
{
    const int32_t dropped = DropWarmupOf(count, discard);
    float* out = Claim(2 * static_cast<std::size_t>(count - dropped));
    if (out == nullptr)
        return;
    for (int32_t n = dropped; n < count; ++n)
    {
        *out++ = I[n] * Kamp;
        *out++ = Q[n] * Kamp;
    }
}

void ReSampl::Process(float* I, float* Q, int32_t pairs)
{
    if (!usable || !Reserve(2 * outputsPerInput * static_cast<std::size_t>(pairs)))
        return;
    ShiftDown(Fd, Fn, I, Q, pairs);
    if (twoSteps)
    {
        // Both steps decimate: at most one output per input each.
        const int32_t middle =
            first->ResampleBlock(I, Q, pairs, Fd, Fi, firstI.data(), firstQ.data());
        const int32_t count = second->ResampleBlock(firstI.data(), firstQ.data(), middle, Fi, FdOut,
                                                    lastI.data(), lastQ.data());
        Deliver(lastI.data(), lastQ.data(), count);
        return;
    }
    // An output rate above the input rate gives several outputs per input: the part goes
    // through in pieces whose outputs fit the arrays.
    const auto piece = static_cast<int32_t>(
        std::max<std::size_t>(1, static_cast<std::size_t>(kGatherPairs) / outputsPerInput));
    for (int32_t at = 0; at < pairs; at += piece)
    {
        const int32_t n = std::min(piece, pairs - at);
        const int32_t count =
            first->ResampleBlock(I + at, Q + at, n, Fd, FdOut, lastI.data(), lastQ.data());
        Deliver(lastI.data(), lastQ.data(), count);
    }
}

} // namespace sigkit
