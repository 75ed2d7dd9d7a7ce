#include "stages/ReSampl.h"

#include "stages/StageParams.h"

#include <cmath>

namespace sigkit {

ReSampl::ReSampl()
    : first(std::make_unique<PolyphaseResampler>()), second(std::make_unique<PolyphaseResampler>()),
      firstI(kPart, 0.0f), firstQ(kPart, 0.0f), lastI(kPieceOutputs, 0.0f),
      lastQ(kPieceOutputs, 0.0f)
{
    // The steps are designed by Start, from the rates and quality set by then; a stopped stage
    // takes no input, so nothing runs through an undesigned step.
}

void ReSampl::SetParam(const char* name, const char* value)
{
    SetStreamParam(name, value, {{"Fp", &Fp}, {"FdOut", &FdOut}});
}

int32_t ReSampl::Start()
{
    const FilterDesignChoice design = QualityToDesign(quality);
    const float R = Fd / FdOut;
    // Ratios beyond what the steps take, and beyond what the ratio's whole part holds, give no
    // output (and no undefined conversion of the ratio).
    usable = RatesUsable(Fd, FdOut) && R < 2147483648.0f;
    ratio = usable ? static_cast<int32_t>(R) : 0;
    twoSteps = usable && ratio >= kTwoStepRatio;
    if (!usable)
    {
        first->DesignBank(1.0f, 1.0f, 0.0f, design.window, 0);
        StartStream(0);
        return 0;
    }
    int32_t delay = 0;
    if (!twoSteps)
    {
        first->DesignBank(Fd, FdOut, 0.0f, design.window, design.taps);
        delay = (first->TapCount() - 1) / 2;
    }
    else
    {
        const auto M = static_cast<int32_t>(std::sqrt(R));
        Fi = Fd / static_cast<float>(M);
        first->DesignBank(Fd, Fi, 0.0f, design.window, design.taps);
        second->DesignBank(Fi, FdOut, 0.0f, design.window, design.taps);
        delay = (first->TapCount() + second->TapCount() - 2) / 2;
    }
    StartStream(delay);
    outputsPerInput = PolyphaseResampler::MaxOutputs(1, Fd, FdOut);
    return first->TapCount();
}

std::size_t ReSampl::MostOutputs(std::size_t pairs) const
{
    if (!usable)
        return 0;
    if (twoSteps)
        return 2 * PolyphaseResampler::MaxOutputs(PolyphaseResampler::MaxOutputs(pairs, Fd, Fi), Fi,
                                                  FdOut);
    return 2 * PolyphaseResampler::MaxOutputs(pairs, Fd, FdOut);
}

void ReSampl::Deliver(const float* I, const float* Q, int32_t count)
{
    const int32_t dropped = DropStartup(count);
    EmitPairs(I + dropped, Q + dropped, count - dropped, Kamp);
}

void ReSampl::Process(float* I, float* Q, int32_t pairs)
{
    if (!usable)
        return;
    Front(I, Q, pairs);
    Back(I, Q, pairs);
}

void ReSampl::Front(float* I, float* Q, int32_t pairs)
{
    ShiftDown(Fd, Fn, I, Q, pairs);
}

void ReSampl::Back(float* I, float* Q, int32_t pairs)
{
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
    // An output rate above the input rate gives several outputs per input.
    InPieces(pairs, outputsPerInput, [&](int32_t at, int32_t n) {
        const int32_t count =
            first->ResampleBlock(I + at, Q + at, n, Fd, FdOut, lastI.data(), lastQ.data());
        Deliver(lastI.data(), lastQ.data(), count);
    });
}

} // namespace sigkit
