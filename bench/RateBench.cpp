// The rate changer and the channel decimator in process, as Google Benchmark cases: input frames
// per second through each case at each quality (44.1k -> 48k stereo, 2.4M -> 48k and 240k -> 48k
// complex, 8k -> 48k mono, and the 2.4 MHz channel of 10 kHz to 12 kHz), the multiply-adds per
// input frame and channel the design costs, and the time a design takes. Before the cases it
// prints each design: its stages, their taps and their multiply-adds.
#include "dsp/rate/Multistage.h"
#include "dsp/rate/RateChanger.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace sigkit::dsp;

constexpr int32_t kFrames = 16384; // input frames per call

struct RateCase
{
    const char* key;
    double rateIn;
    double rateOut;
    int32_t channels;
};

const RateCase kCases[] = {
    {"44k1_48k/stereo", 44100.0, 48000.0, 2},   {"2M4_48k/complex", 2400000.0, 48000.0, 2},
    {"240k_48k/complex", 240000.0, 48000.0, 2}, {"8k_48k/mono", 8000.0, 48000.0, 1},
    {"48k_44k1/stereo", 48000.0, 44100.0, 2},   {"44k1_8k/mono", 44100.0, 8000.0, 1},
};

const char* QualityWord(Quality q)
{
    switch (q)
    {
    case Quality::Low:
        return "low";
    case Quality::Medium:
        return "medium";
    case Quality::High:
        return "high";
    case Quality::Best:
        return "best";
    }
    return "?";
}

// A signal that is not silence (two tones and a little noise), interleaved.
std::vector<float> Signal(int32_t frames, int32_t channels)
{
    std::vector<float> x(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
    uint32_t state = 1;
    for (std::size_t i = 0; i < x.size(); ++i)
    {
        state = state * 1664525u + 1013904223u;
        const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        x[i] = static_cast<float>(0.3 * std::sin(0.0123 * static_cast<double>(i)) +
                                  0.2 * std::sin(0.7 * static_cast<double>(i)) + 1e-3 * noise);
    }
    return x;
}

void PrintPlan(const char* name, const CascadePlan& plan)
{
    std::printf("%s: %.2f multiply-adds per input frame and channel\n", name, plan.macsPerInput);
    for (const StagePlan& s : plan.stages)
        std::printf("  %-14s %10.0f -> %9.0f Hz  %lld/%lld  branches %4d  taps %6d  "
                    "per output %4d  per input %7.2f\n",
                    StageKindName(s.kind), s.rateIn, s.rateOut, static_cast<long long>(s.up),
                    static_cast<long long>(s.down), s.phases, s.taps, s.macsPerOutput,
                    s.macsPerInput);
}

void RateThroughput(benchmark::State& state, const RateCase* c, Quality quality)
{
    std::unique_ptr<RateChanger> rc =
        RateChanger::Create(c->rateIn, c->rateOut, c->channels, quality);
    if (!rc)
    {
        state.SkipWithError("refused");
        return;
    }
    const std::vector<float> x = Signal(kFrames, c->channels);
    std::vector<float> y(static_cast<std::size_t>(rc->MaxOutput(kFrames)) *
                         static_cast<std::size_t>(c->channels));
    for (auto _ : state)
        benchmark::DoNotOptimize(rc->Process(x.data(), kFrames, y.data()));
    const double frames = static_cast<double>(state.iterations()) * kFrames;
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["MAC/s"] = benchmark::Counter(frames * c->channels * rc->Plan().macsPerInput,
                                                 benchmark::Counter::kIsRate);
    state.counters["MAC/frame"] = rc->Plan().macsPerInput;
}

void ChannelThroughput(benchmark::State& state)
{
    MultistageRequest request;
    request.rateIn = 2400000.0;
    request.passEdge = 5000.0;
    request.stopEdge = 6000.0;
    request.rateOut = ConvenientRate(request.rateIn, request.passEdge, request.stopEdge);
    request.attenuation = 100.0;
    request.passRipple = 0.1;
    request.channels = 2;
    std::unique_ptr<Multistage> m = Multistage::Create(request);
    const std::vector<float> x = Signal(kFrames, 2);
    std::vector<float> y(2 * static_cast<std::size_t>(m->MaxOutput(kFrames)));
    for (auto _ : state)
        benchmark::DoNotOptimize(m->ProcessInterleaved(x.data(), kFrames, y.data()));
    const double frames = static_cast<double>(state.iterations()) * kFrames;
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["MAC/frame"] = m->Plan().macsPerInput;
}

void DesignTime(benchmark::State& state, const RateCase* c, Quality quality)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(RateChanger::Create(c->rateIn, c->rateOut, c->channels, quality));
}

void RegisterAll()
{
    for (const RateCase& c : kCases)
    {
        for (const Quality q : {Quality::Low, Quality::Medium, Quality::High, Quality::Best})
        {
            const std::string name = std::string(c.key) + "/" + QualityWord(q);
            benchmark::RegisterBenchmark(("BM_Rate/" + name).c_str(), RateThroughput, &c, q);
        }
        benchmark::RegisterBenchmark(("BM_RateDesign/" + std::string(c.key) + "/best").c_str(),
                                     DesignTime, &c, Quality::Best)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_Channel/2M4_10kHz_12k/complex", ChannelThroughput);
}

void PrintDesigns()
{
    for (const RateCase& c : kCases)
        for (const Quality q : {Quality::High, Quality::Best})
            if (std::unique_ptr<RateChanger> rc =
                    RateChanger::Create(c.rateIn, c.rateOut, c.channels, q))
                PrintPlan((std::string(c.key) + "/" + QualityWord(q)).c_str(), rc->Plan());
}

} // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    PrintDesigns();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
