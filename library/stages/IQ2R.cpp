#include "stages/IQ2R.h"

#include "Text.h"
#include "stages/kernels/Kernels.h"

#include <algorithm>
#include <new>

namespace sigkit {

namespace {

constexpr std::size_t kInitialOutput = 153600; // floats
constexpr int32_t kPart = 4096;                // real samples processed together

} // namespace

IQ2R::IQ2R()
    : splitter(std::make_unique<HilbertSplitter>()),
      realResampler(std::make_unique<PolyphaseResampler>()),
      complexResampler(std::make_unique<PolyphaseResampler>()), outBuffer(kInitialOutput, 0.0f),
      partI(kPart, 0.0f), partQ(kPart, 0.0f), sines(kPart, 0.0f), cosines(kPart, 0.0f),
      halfI(kPart, 0.0f), halfQ(kPart, 0.0f), phases(kPart, 0.0)
{
}

IQ2R::~IQ2R() = default;

void IQ2R::SetParam(const char* name, const char* value)
{
    params.Set(name, value);
}

int32_t IQ2R::Start()
{
    stopped = 0;
    pendingHalf = 0;
    splitter->Reset();
    oscillator.Reset();
    const FilterDesignChoice design = QualityToDesign(params.qualityLevel);
    PolyphaseResampler& used = params.complexInput == 0 ? *realResampler : *complexResampler;
    const int32_t N = used.DesignBank(2.0f, 1.0f, 0.0f, design.window, design.taps);
    discard = (N - 1) / 2;
    warmDone = 0;
    warmCount = 0;
    pendingValue = 0.0f;
    outCount = 0;
    return N;
}

int32_t IQ2R::Put(int32_t /*port*/, const void* block, int32_t bytes)
{
    if (stopped != 0)
        return 0;
    inBlock = static_cast<const float*>(block);
    inCount = (block != nullptr && bytes > 0) ? bytes / 4 : 0;
    inIndex = -1;
    outCount = 0;
    inputPresent = 1;
    return inCount;
}

// Start-up discarding: true when this output goes out.
bool IQ2R::Warm()
{
    if (warmDone != 0)
        return true;
    if (++warmCount <= discard)
        return false;
    warmCount = 0;
    warmDone = 1;
    return true;
}

void IQ2R::Keep(float value)
{
    if (outCount < outBuffer.size())
        outBuffer[outCount++] = value;
    else
        overflowed = true;
}

void IQ2R::RealToComplex()
{
    const kernels::KernelTable& table = kernels::Active();
    while (inIndex + 1 < inCount)
    {
        // The analytic pairs of a part, shifted down by a quarter of the rate and decimated by 2.
        const int32_t n = std::min(inCount - (inIndex + 1), kPart);
        splitter->StepBlock(inBlock + inIndex + 1, nullptr, n, partI.data(), partQ.data());
        oscillator.Steps(1.0, 0.25, n, phases.data(), sines.data(), cosines.data());
        table.mix(partI.data(), partQ.data(), sines.data(), cosines.data(), n, partI.data(),
                  partQ.data());
        const int32_t outputs = realResampler->ResampleBlock(partI.data(), partQ.data(), n, 2.0f,
                                                             1.0f, halfI.data(), halfQ.data());
        for (int32_t k = 0; k < outputs; ++k)
            if (Warm())
            {
                Keep(halfI[static_cast<std::size_t>(k)]);
                Keep(halfQ[static_cast<std::size_t>(k)]);
            }
        inIndex += n;
    }
    inIndex = inCount;
}

void IQ2R::ComplexToReal()
{
    const kernels::KernelTable& table = kernels::Active();
    // Pairs per part: at R = 2 the gate gives at most ceil(R) + 1 = 3 outputs per pair (two, in
    // fact, from an accumulator at 0), which the part arrays hold.
    constexpr int32_t kPairs = kPart / 3;
    while (inIndex + 1 < inCount)
    {
        int32_t pairs = 0;
        while (pairs < kPairs && ++inIndex < inCount)
        {
            float a = 0.0f;
            float b = 0.0f;
            if (pendingHalf != 0)
            {
                a = pendingValue;
                b = inBlock[inIndex];
                pendingHalf = 0;
            }
            else
            {
                a = inBlock[inIndex];
                if (++inIndex >= inCount)
                {
                    // The pair is completed by the first value of the next block.
                    pendingValue = a;
                    pendingHalf = 1;
                    break;
                }
                b = inBlock[inIndex];
            }
            partI[static_cast<std::size_t>(pairs)] = params.revIQ != 0 ? b : a;
            partQ[static_cast<std::size_t>(pairs)] = params.revIQ != 0 ? a : b;
            ++pairs;
        }
        // Interpolation by 2 with zero insertion: the gate passes each pair and one inserted
        // zero, then refuses the second zero, which is not stored.
        const int32_t outputs = complexResampler->GatedBlock(
            partI.data(), partQ.data(), pairs, 2.0f, 1.0f, halfI.data(), halfQ.data());
        int32_t first = 0;
        while (first < outputs && !Warm())
            ++first;
        // The oscillator steps once per kept output: up by a quarter of the output rate.
        const int32_t kept = outputs - first;
        oscillator.Steps(1.0, -0.25, kept, phases.data(), sines.data(), cosines.data());
        float* I = halfI.data() + first;
        float* Q = halfQ.data() + first;
        table.mix(I, Q, sines.data(), cosines.data(), kept, I, Q);
        for (int32_t k = 0; k < kept; ++k)
            Keep(2.0f * I[k]);
    }
    inIndex = inCount;
}

int32_t IQ2R::Get(int32_t port, const void** block, int32_t* bytes)
{
    if (bytes == nullptr)
        return 0;
    *bytes = 0;
    if (port != 0 || inputPresent == 0)
        return 0;
    overflowed = false;
    // Every input gives at most one output value (plus one from a pending half pair).
    const std::size_t needed = static_cast<std::size_t>(std::max(inCount, 0)) + 4;
    if (outBuffer.size() < needed)
    {
        try
        {
            outBuffer.resize(needed);
        }
        catch (const std::bad_alloc&)
        {
            overflowed = true;
        }
    }
    if (!overflowed)
    {
        if (params.complexInput == 0)
            RealToComplex();
        else
            ComplexToReal();
    }
    inIndex = inCount;
    if (overflowed)
        outCount = 0;
    if (block != nullptr)
        *block = outBuffer.data();
    *bytes = static_cast<int32_t>(4 * outCount);
    outCount = 0;
    inputPresent = 0;
    return *bytes;
}

} // namespace sigkit
