// Speed of the transforms and of the fast-convolution filter, per variant this processor runs:
// complex and real transforms in GFLOP/s of the customary count (5·N·log2 N for N complex
// points, half that for N real ones), and the filter against the direct-form DualFir on the W-FC
// workload (complex 240 kHz input, a low-pass of N = 101, 301, 1001 taps with the band at a tenth
// of the rate) in samples per second, for blocks of the stages' size and for long blocks.
#include "dsp/fft/FftKernels.h"
#include "dsp/fft/FftPlan.h"
#include "dsp/fft/RealFftPlan.h"
#include "dsp/filters/FftFilter.h"
#include "stages/filters/DualFir.h"
#include "stages/filters/FilterDesign.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace sigkit;

std::vector<float> RandomFloats(std::size_t count, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> values(count);
    for (float& v : values)
        v = value(random);
    return values;
}

double Log2(int32_t n)
{
    return std::log2(static_cast<double>(n));
}

void ComplexTransform(benchmark::State& state, const fft::FftKernels* variant, int32_t size)
{
    FftPlan plan(size, variant);
    const std::vector<float> re = RandomFloats(size, 1);
    const std::vector<float> im = RandomFloats(size, 2);
    std::vector<float> outRe(size), outIm(size);
    for (auto _ : state)
    {
        plan.Forward(re.data(), im.data(), outRe.data(), outIm.data());
        benchmark::DoNotOptimize(outRe.data());
        benchmark::ClobberMemory();
    }
    state.counters["GFLOP/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 5.0 * size * Log2(size) / 1e9,
                           benchmark::Counter::kIsRate);
}

void RealTransform(benchmark::State& state, const fft::FftKernels* variant, int32_t size)
{
    RealFftPlan plan(size, variant);
    const std::vector<float> x = RandomFloats(size, 3);
    std::vector<float> re(plan.Bins()), im(plan.Bins());
    for (auto _ : state)
    {
        plan.Forward(x.data(), re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    state.counters["GFLOP/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 2.5 * size * Log2(size) / 1e9,
                           benchmark::Counter::kIsRate);
}

// The W-FC filter as the frequency converter designs it: fc = 0.2 (band 24 kHz at 240 kHz), the
// window of the quality that has this length.
std::unique_ptr<DualFir> DesignWfc(int32_t taps)
{
    const int32_t level = taps == 101 ? 0 : taps == 301 ? 1 : 2;
    const FilterDesignChoice design = QualityToDesign(level);
    auto fir = std::make_unique<DualFir>();
    fir->DesignLow(240000.0f, 24000.0f, 0.0f, design.window, taps);
    return fir;
}

constexpr int32_t kSignalSamples = 1 << 18;

template <class Filter> void RunBlocks(benchmark::State& state, Filter& filter, int32_t block)
{
    const std::vector<float> I = RandomFloats(kSignalSamples, 4);
    const std::vector<float> Q = RandomFloats(kSignalSamples, 5);
    std::vector<float> yI(kSignalSamples), yQ(kSignalSamples);
    int32_t at = 0;
    for (auto _ : state)
    {
        if (at + block > kSignalSamples)
            at = 0;
        filter.StepBlock(I.data() + at, Q.data() + at, block, yI.data() + at, yQ.data() + at);
        benchmark::DoNotOptimize(yI.data());
        at += block;
    }
    state.counters["Msamples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * block / 1e6, benchmark::Counter::kIsRate);
}

// shaped: the filter made knowing the callers' block size (as a stage knows its own).
void FastFilter(benchmark::State& state, const fft::FftKernels* variant, int32_t taps,
                int32_t block, bool shaped)
{
    const std::unique_ptr<DualFir> design = DesignWfc(taps);
    auto filter = std::make_unique<FftFilter>(
        design->Taps(), taps, FftFilterOptions{.block = shaped ? block : 0, .variant = variant});
    state.SetLabel("L=" + std::to_string(filter->TransformSize()) +
                   " hop=" + std::to_string(filter->Hop()));
    RunBlocks(state, *filter, block);
}

// The transform size of the fast filter forced, to check the size the cost model chooses.
void FastFilterSized(benchmark::State& state, int32_t taps, int32_t size, int32_t block)
{
    const std::unique_ptr<DualFir> design = DesignWfc(taps);
    auto filter = std::make_unique<FftFilter>(
        design->Taps(), taps, FftFilterOptions{.block = block, .transformSize = size});
    state.SetLabel("hop=" + std::to_string(filter->Hop()));
    RunBlocks(state, *filter, block);
}

void DirectFilter(benchmark::State& state, int32_t taps, int32_t block)
{
    const std::unique_ptr<DualFir> fir = DesignWfc(taps);
    RunBlocks(state, *fir, block);
}

void RegisterAll()
{
    for (kernels::Isa isa : {kernels::Isa::Scalar, kernels::Isa::Avx2, kernels::Isa::Avx512})
    {
        const fft::FftKernels* variant = fft::TableFor(isa);
        if (variant == nullptr)
            continue;
        const std::string name = variant->name;
        for (int32_t size = FftPlan::kMinSize; size <= FftPlan::kMaxSize; size *= 2)
            benchmark::RegisterBenchmark(("BM_Fft/" + std::to_string(size) + "/" + name).c_str(),
                                         ComplexTransform, variant, size);
        for (int32_t size = RealFftPlan::kMinSize; size <= RealFftPlan::kMaxSize; size *= 4)
            benchmark::RegisterBenchmark(
                ("BM_RealFft/" + std::to_string(size) + "/" + name).c_str(), RealTransform, variant,
                size);
        // Single samples (the direct sums), the stages' blocks (also with the filter shaped for
        // them), long blocks.
        const std::pair<int32_t, bool> blocks[] = {
            {1, false}, {2048, false}, {2048, true}, {1 << 16, false}};
        for (int32_t taps : {101, 301, 1001})
            for (const auto& [block, shaped] : blocks)
                benchmark::RegisterBenchmark(("BM_FftFilter/W-FC/" + std::to_string(taps) + "/" +
                                              name + "/block" + std::to_string(block) +
                                              (shaped ? "/shaped" : ""))
                                                 .c_str(),
                                             FastFilter, variant, taps, block, shaped);
    }
    for (int32_t taps : {101, 301, 1001})
        for (int32_t block : {1, 2048, 1 << 16})
            benchmark::RegisterBenchmark(
                ("BM_DualFir/W-FC/" + std::to_string(taps) + "/block" + std::to_string(block))
                    .c_str(),
                DirectFilter, taps, block);
    for (int32_t block : {2048, 1 << 16})
        for (int32_t taps : {101, 301, 1001, 4095})
            for (int32_t size = 256; size <= (1 << 16); size *= 2)
                if (size >= 2 * taps)
                    benchmark::RegisterBenchmark(("BM_FftFilterSize/" + std::to_string(taps) + "/" +
                                                  std::to_string(size) + "/block" +
                                                  std::to_string(block))
                                                     .c_str(),
                                                 FastFilterSized, taps, size, block);
}

} // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
