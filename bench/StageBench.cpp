// The stages at "Low", "Medium" and "High" on the workloads of the speed table, as Google
// Benchmark cases: input samples per second through each stage from memory (complex 240 kHz for
// ReSampl to 48 kHz and to 12 kHz, FreqConv, and AM and FM to 12 kHz, plus the other peer
// workloads), and the time Start takes to design the filters.
#include "Workloads.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace sigbench;

void StageThroughput(benchmark::State& state, const Workload* w, int quality)
{
    const bool complexInput = ComplexInput(*w);
    const std::vector<float> input =
        complexInput ? ComplexSignal(64 * kBlockSamples) : RealSignal(64 * kBlockSamples);
    std::unique_ptr<sigkit::Stage> stage = MakeStage(*w, quality);
    std::size_t next = 0;
    Stream(*stage, input, complexInput, next, 64); // past the start-up
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(Stream(*stage, input, complexInput, next, 1));
        ++next;
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kBlockSamples, benchmark::Counter::kIsRate);
    state.counters["MAC/s"] = benchmark::Counter(static_cast<double>(state.iterations()) *
                                                     kBlockSamples * MacsPerInput(*w, quality),
                                                 benchmark::Counter::kIsRate);
}

void StartTime(benchmark::State& state, const Workload* w, int quality)
{
    std::unique_ptr<sigkit::Stage> stage = MakeStage(*w, quality);
    for (auto _ : state)
        benchmark::DoNotOptimize(stage->Start());
}

void RegisterAll()
{
    for (const Workload& w : Workloads())
        for (int q = 0; q < (w.qualities ? 3 : 1); ++q)
        {
            const std::string suffix =
                std::string(w.key) + "/" + (w.qualities ? QualityWord(q) : "301");
            benchmark::RegisterBenchmark(("BM_Stage/" + suffix).c_str(), StageThroughput, &w, q);
            if (w.kind != Kind::Hilbert)
                benchmark::RegisterBenchmark(("BM_Start/" + suffix).c_str(), StartTime, &w, q)
                    ->Unit(benchmark::kMillisecond);
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
