// Speed of every kernel variant this processor can run: dot products, block filters and paired
// dot products in multiply-adds per second at the three filter lengths, the oscillator (phases,
// sines and cosines) and the conversions in samples per second.
#include "stages/filters/PhaseOscillator.h"
#include "stages/kernels/Kernels.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sigkit::kernels;

std::vector<float> RandomFloats(std::size_t count, float scale)
{
    std::mt19937 random(1);
    std::uniform_real_distribution<float> value(-scale, scale);
    std::vector<float> values(count);
    for (float& v : values)
        v = value(random);
    return values;
}

void DotProduct(benchmark::State& state, const KernelTable* table, int32_t taps)
{
    const std::vector<float> a = RandomFloats(taps, 1.0f);
    const std::vector<float> b = RandomFloats(taps, 1.0f);
    for (auto _ : state)
        benchmark::DoNotOptimize(table->dot(a.data(), b.data(), taps));
    state.counters["MAC/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * taps,
                                                 benchmark::Counter::kIsRate);
}

// A block filter over 1024 consecutive outputs (stride 1), as the frequency converter runs it.
void BlockFilter(benchmark::State& state, const KernelTable* table, int32_t taps)
{
    constexpr int32_t kOutputs = 1024;
    const std::vector<float> a = RandomFloats(taps, 1.0f);
    const std::vector<float> x = RandomFloats(kOutputs + taps, 1.0f);
    std::vector<float> out(kOutputs);
    for (auto _ : state)
    {
        table->firBlock(a.data(), taps, x.data() + kOutputs - 1, 1, kOutputs, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["MAC/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * taps * kOutputs, benchmark::Counter::kIsRate);
}

// The resampler's neighbouring phases over its I and Q windows: four sums of N + 7 taps.
void PairedDots(benchmark::State& state, const KernelTable* table, int32_t taps)
{
    const std::vector<float> a = RandomFloats(taps, 1.0f);
    const std::vector<float> b = RandomFloats(taps, 1.0f);
    const std::vector<float> x = RandomFloats(taps + 1, 1.0f);
    const std::vector<float> y = RandomFloats(taps + 1, 1.0f);
    float out[4];
    for (auto _ : state)
    {
        table->dotPair(a.data(), b.data(), x.data() + 1, y.data() + 1, taps, out);
        benchmark::DoNotOptimize(out);
    }
    state.counters["MAC/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 4 * taps,
                                                 benchmark::Counter::kIsRate);
}

constexpr int32_t kSamples = 4096;

// The converter's own mode words, in StoredFormat order.
constexpr const char* kToFloatNames[kStoredFormatCount] = {
    "Char2Float", "UChar2Float", "Short2Float", "UShort2Float", "24Int2Float", "32Int2Float"};
constexpr const char* kFromFloatNames[kStoredFormatCount] = {
    "Float2Char", "Float2UChar", "Float2Short", "Float2UShort", "Float2Int24", "Float2Int32"};

void ToFloat(benchmark::State& state, const KernelTable* table, int format)
{
    std::vector<uint8_t> in(4 * kSamples);
    std::mt19937 random(2);
    for (uint8_t& b : in)
        b = static_cast<uint8_t>(random());
    std::vector<float> out(kSamples);
    for (auto _ : state)
    {
        table->toFloat[format](in.data(), kSamples, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSamples, benchmark::Counter::kIsRate);
}

void FromFloat(benchmark::State& state, const KernelTable* table, int format)
{
    const std::vector<float> in = RandomFloats(kSamples, 40000.0f);
    std::vector<uint8_t> out(4 * kSamples);
    for (auto _ : state)
    {
        table->fromFloat[format](reinterpret_cast<const uint8_t*>(in.data()), kSamples, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSamples, benchmark::Counter::kIsRate);
}

// The oscillator over a block: its phases one after the other, their sines and cosines.
void OscillatorSteps(benchmark::State& state)
{
    sigkit::PhaseOscillator oscillator;
    std::vector<double> phases(kSamples);
    std::vector<float> s(kSamples), c(kSamples);
    for (auto _ : state)
    {
        oscillator.Steps(240000.0, 12000.0, kSamples, phases.data(), s.data(), c.data());
        benchmark::DoNotOptimize(s.data());
        benchmark::DoNotOptimize(c.data());
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSamples, benchmark::Counter::kIsRate);
}

// The oscillator kernel alone: phases, sines and cosines of a block (12 kHz at 240 kHz).
void Oscillate(benchmark::State& state, const KernelTable* table, double fs, double f)
{
    double phase = 0.0;
    const double increment = (f * 6.2831854820251465) / fs;
    std::vector<double> phases(kSamples);
    std::vector<float> s(kSamples), c(kSamples);
    for (auto _ : state)
    {
        table->oscillate(&phase, increment, 6.2831854820251465, kSamples, phases.data(), s.data(),
                         c.data());
        benchmark::DoNotOptimize(s.data());
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSamples, benchmark::Counter::kIsRate);
}

void RegisterAll()
{
    benchmark::RegisterBenchmark("BM_OscillatorSteps", OscillatorSteps);
    for (Isa isa : {Isa::Scalar, Isa::Avx2, Isa::Avx512})
    {
        const KernelTable* table = TableFor(isa);
        if (table == nullptr)
            continue;
        const std::string name = table->name;
        for (int32_t taps : {101, 301, 1001})
        {
            const std::string size = std::to_string(taps);
            benchmark::RegisterBenchmark(("BM_DotProduct/" + size + "/" + name).c_str(), DotProduct,
                                         table, taps);
            benchmark::RegisterBenchmark(("BM_BlockFilter/" + size + "/" + name).c_str(),
                                         BlockFilter, table, taps);
            benchmark::RegisterBenchmark(
                ("BM_PairedDots/" + std::to_string(taps + 7) + "/" + name).c_str(), PairedDots,
                table, taps + 7);
        }
        // The workloads' shifts: 12 kHz at 240 kHz (a wrap every 20 steps), 10 kHz at 44.1 kHz
        // (every 4.4).
        benchmark::RegisterBenchmark(("BM_Oscillate/240k/" + name).c_str(), Oscillate, table,
                                     240000.0, 12000.0);
        benchmark::RegisterBenchmark(("BM_Oscillate/44.1k/" + name).c_str(), Oscillate, table,
                                     44100.0, 10000.0);
        for (int format = 0; format < kStoredFormatCount; ++format)
        {
            benchmark::RegisterBenchmark(
                ("BM_Convert/" + std::string(kToFloatNames[format]) + "/" + name).c_str(), ToFloat,
                table, format);
            benchmark::RegisterBenchmark(
                ("BM_Convert/" + std::string(kFromFloatNames[format]) + "/" + name).c_str(),
                FromFloat, table, format);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
