// The new kinds in process, as Google Benchmark cases: input frames per second through the rate
// kind (44.1k -> 48k stereo, 2.4M -> 48k I/Q) and the channel kind (a 10 kHz band 200 kHz off
// the centre of 2.4 MHz, to 12 kHz through the cascade; the same band kept at 2.4 MHz by the fast
// filter), each at the qualities worth comparing, and the time a design takes. Before the cases
// it prints each chain's structure and its estimated multiply-adds per input frame.
#include "chains/ChannelChain.h"
#include "chains/RateChain.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace sigkit::chains;
using sigkit::dsp::Quality;

constexpr int32_t kFrames = 16384; // input frames per call

const char* QualityWord(Quality q)
{
    constexpr const char* words[] = {"low", "medium", "high", "best"};
    return words[static_cast<int>(q)];
}

// Two tones and a little noise in every channel, interleaved.
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

struct RateCase
{
    const char* key;
    double rateIn;
    double rateOut;
    int32_t channels;
    bool complex;
};

const RateCase kRates[] = {
    {"44k1_48k/stereo", 44100.0, 48000.0, 2, false},
    {"2M4_48k/iq", 2400000.0, 48000.0, 2, true},
};

struct ChannelCase
{
    const char* key;
    double rateOut; // Hz; 0: the convenient rate
};

// The band of the channel: 10 kHz, 200 kHz off the centre of a 2.4 MHz recording.
const ChannelCase kChannels[] = {
    {"2M4_10k_to_12k", 0.0},
    {"2M4_10k_kept", 2400000.0},
};

RateRequest RateFor(const RateCase& c, Quality q)
{
    RateRequest r;
    r.input = {c.rateIn, c.channels, c.complex};
    r.rateOut = c.rateOut;
    r.quality = q;
    return r;
}

ChannelRequest ChannelFor(const ChannelCase& c, Quality q)
{
    ChannelRequest r;
    r.input = {2400000.0, 2, true};
    r.frequency = 200000.0;
    r.band = 10000.0;
    r.rateOut = c.rateOut;
    r.quality = q;
    return r;
}

void Throughput(benchmark::State& state, Chain* chain)
{
    if (chain == nullptr)
    {
        state.SkipWithError("refused");
        return;
    }
    const int32_t channels = chain->Input().channels;
    const std::vector<float> x = Signal(kFrames, channels);
    std::vector<float> y(static_cast<std::size_t>(chain->MaxOutput(kFrames)) *
                         static_cast<std::size_t>(chain->Output().channels));
    for (auto _ : state)
        benchmark::DoNotOptimize(chain->Process(x.data(), kFrames, y.data()));
    const double frames = static_cast<double>(state.iterations()) * kFrames;
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

// The chains live as long as the program: a design at the best quality takes a good part of a
// second, made once before the timing.
std::vector<std::unique_ptr<Chain>>& Made()
{
    static std::vector<std::unique_ptr<Chain>> chains;
    return chains;
}

void RegisterAll()
{
    for (const RateCase& c : kRates)
        for (const Quality q : {Quality::Medium, Quality::High, Quality::Best})
        {
            Made().push_back(RateChain::Create(RateFor(c, q)));
            const std::string name = std::string("BM_RateChain/") + c.key + "/" + QualityWord(q);
            benchmark::RegisterBenchmark(name.c_str(), Throughput, Made().back().get());
        }
    for (const ChannelCase& c : kChannels)
        for (const Quality q : {Quality::Medium, Quality::High, Quality::Best})
        {
            Made().push_back(ChannelChain::Create(ChannelFor(c, q)));
            const std::string name = std::string("BM_ChannelChain/") + c.key + "/" + QualityWord(q);
            benchmark::RegisterBenchmark(name.c_str(), Throughput, Made().back().get());
        }
    benchmark::RegisterBenchmark("BM_ChannelDesign/2M4_10k_to_12k/best", [](benchmark::State& s) {
        for (auto _ : s)
            benchmark::DoNotOptimize(ChannelChain::Create(ChannelFor(kChannels[0], Quality::Best)));
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_ChannelDesign/2M4_10k_kept/high", [](benchmark::State& s) {
        for (auto _ : s)
            benchmark::DoNotOptimize(ChannelChain::Create(ChannelFor(kChannels[1], Quality::High)));
    })->Unit(benchmark::kMillisecond);
}

void PrintStructures()
{
    for (const ChannelCase& c : kChannels)
        for (const Quality q : {Quality::Medium, Quality::High, Quality::Best})
        {
            const auto chain = ChannelChain::Create(ChannelFor(c, q));
            if (!chain)
                continue;
            std::printf("channel %s/%s: to %.0f Hz, %.1f multiply-adds per input frame", c.key,
                        QualityWord(q), chain->Output().rate, chain->CostPerInput());
            if (chain->FftTaps() > 0)
                std::printf(", fast filter of %d taps over %d points", chain->FftTaps(),
                            chain->FftSize());
            if (const sigkit::dsp::CascadePlan* plan = chain->Plan())
                for (const sigkit::dsp::StagePlan& s : plan->stages)
                    std::printf(", %s %.0f->%.0f (%d taps)", sigkit::dsp::StageKindName(s.kind),
                                s.rateIn, s.rateOut, s.taps);
            std::printf("\n");
        }
}

} // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    PrintStructures();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
