#include "stages/FreqConv.h"

#include "stages/StageParams.h"

#include <cmath>
#include <vector>

namespace sigkit {

FreqConv::FreqConv() : filteredI(kPart, 0.0f), filteredQ(kPart, 0.0f)
{
}

void FreqConv::SetParam(const char* name, const char* value)
{
    SetStreamParam(name, value, {{"Fc1", &Fc1}, {"Fc2", &Fc2}, {"Fp", &Fp}});
}

int32_t FreqConv::ChooseBandFilter(const FilterDesignChoice& design)
{
    const int32_t N = design.taps;
    fast.reset();
    if (usable && N % 2 == 1 && N <= FftFilter::kMaxTaps &&
        FftFilter::EstimatedCost(N) < 2.0 * static_cast<double>(N))
    {
        // The taps the direct form designs.
        std::vector<float> taps(static_cast<std::size_t>(N));
        DesignLowPass(Fp / Fd, 0.0f, design.window, N, taps.data());
        fast = std::make_unique<StreamFftFilter>(taps.data(), N);
        if (fast->IsValid())
        {
            filter = fast.get();
            return N;
        }
        fast.reset();
    }
    if (direct == nullptr)
        direct = std::make_unique<DualFir>();
    filter = direct.get();
    return direct->DesignLow(usable ? Fd : 1.0f, usable ? Fp : 0.0f, 0.0f, design.window, N);
}

int32_t FreqConv::Start()
{
    usable = RateUsable(Fd) && std::isfinite(Fp);
    const int32_t taps = ChooseBandFilter(QualityToDesign(quality));
    StartStream(filter->Delay());
    return usable ? taps : 0;
}

void FreqConv::Process(float* I, float* Q, int32_t pairs)
{
    if (!usable)
        return;
    Front(I, Q, pairs);
    Back(I, Q, pairs);
}

void FreqConv::Front(float* I, float* Q, int32_t pairs)
{
    if (fast != nullptr)
        // The fast filter's outputs are held to a bound, not to the direct form's bits: the
        // oscillator's fast form serves them (within 1.5e-7 of the exact sines and cosines).
        table.shiftApprox(oscillator.PhaseState(), PhaseOscillator::Increment(Fd, Fn), kTwoPi,
                          pairs, PhaseScratch(), I, Q);
    else
        ShiftDown(Fd, Fn, I, Q, pairs);
}

void FreqConv::Back(float* I, float* Q, int32_t pairs)
{
    filter->StepBlock(I, Q, pairs, filteredI.data(), filteredQ.data());
    const int32_t first = DropStartup(pairs);
    EmitPairs(filteredI.data() + first, filteredQ.data() + first, pairs - first, Kamp);
}

} // namespace sigkit
