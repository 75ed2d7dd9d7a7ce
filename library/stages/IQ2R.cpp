#include "stages/IQ2R.h"

#include <utility>

namespace sigkit {

namespace {

constexpr std::size_t kInitialOutput = 153600; // floats
// The resampler's rates: by 2 down for real input, up for complex input (as 2 : 1 behind the
// gate that inserts zeros).
constexpr float kHigh = 2.0f;
constexpr float kLow = 1.0f;
// The most outputs of a part, in either direction.
const std::size_t kPartOutputs = GatedInterpolator::MaxGatedOutputs(kPart, kHigh, kLow);

} // namespace

IQ2R::IQ2R()
    : BlockStage(kInitialOutput), realResampler(std::make_unique<PolyphaseResampler>()),
      interpolator(std::make_unique<GatedInterpolator>()), halfI(kPartOutputs, 0.0f),
      halfQ(kPartOutputs, 0.0f), sines(kPartOutputs, 0.0f), cosines(kPartOutputs, 0.0f),
      phases(kPartOutputs, 0.0)
{
    complexInput = params.complexInput;
}

IQ2R::~IQ2R() = default;

void IQ2R::SetParam(const char* name, const char* value)
{
    params.Set(name, value);
    complexInput = params.complexInput;
}

int32_t IQ2R::Start()
{
    oscillator.Reset();
    const FilterDesignChoice design = QualityToDesign(params.qualityLevel);
    const int32_t N = params.complexInput == 0
                          ? realResampler->DesignBank(kHigh, kLow, 0.0f, design.window, design.taps)
                          : interpolator->DesignBank(kHigh, kLow, 0.0f, design.window, design.taps);
    StartBlocks((N - 1) / 2);
    return N;
}

std::size_t IQ2R::MostOutputs(std::size_t pairs) const
{
    if (complexInput == 0)
        return 2 * PolyphaseResampler::MaxOutputs(pairs, kHigh, kLow);
    return GatedInterpolator::MaxGatedOutputs(pairs, kHigh, kLow);
}

void IQ2R::Process(float* I, float* Q, int32_t pairs)
{
    if (complexInput == 0)
        RealToComplex(I, Q, pairs);
    else
        ComplexToReal(I, Q, pairs);
}

void IQ2R::RealToComplex(float* I, float* Q, int32_t pairs)
{
    // The analytic pairs shifted down by a quarter of the rate and decimated by 2.
    oscillator.Steps(1.0, 0.25, pairs, phases.data(), sines.data(), cosines.data());
    table.mix(I, Q, sines.data(), cosines.data(), pairs, I, Q);
    const int32_t outputs =
        realResampler->ResampleBlock(I, Q, pairs, kHigh, kLow, halfI.data(), halfQ.data());
    const int32_t dropped = DropStartup(outputs);
    EmitPairs(halfI.data() + dropped, halfQ.data() + dropped, outputs - dropped);
}

void IQ2R::ComplexToReal(float* I, float* Q, int32_t pairs)
{
    if (params.revIQ != 0)
        std::swap(I, Q);
    // Interpolation by 2 with zero insertion: the gate passes each pair and one inserted zero,
    // then refuses the second zero, which is not stored.
    const int32_t outputs =
        interpolator->GatedBlock(I, Q, pairs, kHigh, kLow, halfI.data(), halfQ.data());
    const int32_t first = DropStartup(outputs);
    // The oscillator steps once per kept output: up by a quarter of the output rate.
    const int32_t kept = outputs - first;
    oscillator.Steps(1.0, -0.25, kept, phases.data(), sines.data(), cosines.data());
    float* keptI = halfI.data() + first;
    float* keptQ = halfQ.data() + first;
    table.mix(keptI, keptQ, sines.data(), cosines.data(), kept, keptI, keptQ);
    float* out = Claim(static_cast<std::size_t>(kept));
    if (out == nullptr)
        return;
    for (int32_t k = 0; k < kept; ++k)
        out[k] = 2.0f * keptI[k];
}

} // namespace sigkit
