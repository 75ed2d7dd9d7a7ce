// The receivers in process, as Google Benchmark cases: input frames per second of CPU time from
// a generated recording in memory to the audio, in calls of 16384 frames (each run of the whole
// recording flushed and reset). The main case is broadcast FM from 2.4 MHz to 48 kHz audio,
// three stations 200 kHz wide in noise (the recording bench/gr_wfm_speed.py gives GNU Radio's
// receiver); AM from 2.4 MHz and USB from 48 kHz beside it. Before the cases it prints each
// receiver's design time and stages: working rate, channel and audio cascades, multiply-adds per
// input frame.
#include "chains/Receiver.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace {

using namespace sigkit::chains;

constexpr int32_t kFrames = 16384; // input frames per call
constexpr double kSeconds = 1.0;   // of recording
constexpr double kTurn = 2.0 * std::numbers::pi;

struct ReceiverCase
{
    const char* key;
    ReceiverMode mode;
    double rateIn;
    double carrier;
    double rateOut;
};

const ReceiverCase kCases[] = {
    {"wfm_2M4_48k", ReceiverMode::Wfm, 2400000.0, 250000.0, 48000.0},
    {"am_2M4_12k", ReceiverMode::Am, 2400000.0, 300000.0, 12000.0},
    {"usb_48k_12k", ReceiverMode::Usb, 48000.0, -6000.0, 12000.0},
};

// Three FM stations (75 kHz deviation, amplitude 0.25 each, at the carrier, 600 kHz below and
// 400 kHz above it, with tones of 1 kHz, 400 Hz and 1.5 kHz) in complex Gaussian noise 20 dB
// below one carrier in 200 kHz: the recording of gr_wfm_speed.py. Interleaved (I, Q).
std::vector<float> Recording(const ReceiverCase& c)
{
    const auto frames = static_cast<std::size_t>(c.rateIn * kSeconds);
    std::vector<float> iq(2 * frames);
    const double offsets[3] = {0.0, -600000.0, 400000.0};
    const double tones[3] = {1000.0, 400.0, 1500.0};
    const double noise = std::sqrt(0.25 * 0.25 / 100.0 * c.rateIn / 200000.0 / 2.0);
    std::mt19937 random(1);
    std::normal_distribution<double> gauss(0.0, noise);
    for (std::size_t n = 0; n < frames; ++n)
    {
        const double t = static_cast<double>(n) / c.rateIn;
        double i = gauss(random);
        double q = gauss(random);
        for (int s = 0; s < 3; ++s)
        {
            const double f = c.carrier + offsets[s];
            if (std::fabs(f) >= 0.5 * c.rateIn)
                continue;
            const double phase =
                kTurn * f * t + 75000.0 / tones[s] * std::sin(kTurn * tones[s] * t);
            i += 0.25 * std::cos(phase);
            q += 0.25 * std::sin(phase);
        }
        iq[2 * n] = static_cast<float>(i);
        iq[2 * n + 1] = static_cast<float>(q);
    }
    return iq;
}

std::unique_ptr<Receiver> Make(const ReceiverCase& c)
{
    ReceiverSettings s;
    s.mode = c.mode;
    s.rateIn = c.rateIn;
    s.frequency = c.carrier;
    s.rateOut = c.rateOut;
    return Receiver::Create(s);
}

void BM_Receiver(benchmark::State& state, const ReceiverCase& c)
{
    const std::vector<float> iq = Recording(c);
    const auto rx = Make(c);
    if (!rx)
    {
        state.SkipWithError("refused");
        return;
    }
    std::vector<float> out(
        static_cast<std::size_t>(std::max(rx->MaxOutput(kFrames), rx->MaxFlush())));
    const auto frames = static_cast<int64_t>(iq.size() / 2);
    for (auto _ : state)
    {
        for (int64_t at = 0; at < frames; at += kFrames)
        {
            const auto n = static_cast<int32_t>(std::min<int64_t>(kFrames, frames - at));
            benchmark::DoNotOptimize(rx->Process(iq.data() + 2 * at, n, out.data()));
        }
        benchmark::DoNotOptimize(rx->Flush(out.data()));
        rx->Reset();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["xRealtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
}

void PrintDesigns()
{
    for (const ReceiverCase& c : kCases)
    {
        const auto begin = std::chrono::steady_clock::now();
        const auto rx = Make(c);
        const std::chrono::duration<double, std::milli> design =
            std::chrono::steady_clock::now() - begin;
        if (!rx)
            continue;
        const auto stages = [](const sigkit::dsp::CascadePlan& plan) {
            std::string text;
            for (const auto& s : plan.stages)
                text += std::string(text.empty() ? "" : ", ") + sigkit::dsp::StageKindName(s.kind) +
                        " " + std::to_string(s.taps);
            return text.empty() ? std::string("none") : text;
        };
        std::printf("%s: designed in %.0f ms; working rate %.0f Hz; channel [%s] %.1f MAC/frame; "
                    "audio [%s] %.2f MAC/frame\n",
                    c.key, design.count(), rx->Shape().workingRate,
                    stages(rx->ChannelPlan()).c_str(), rx->ChannelPlan().macsPerInput,
                    stages(rx->AudioPlan()).c_str(),
                    rx->AudioPlan().macsPerInput * rx->Shape().workingRate / c.rateIn);
    }
}

} // namespace

int main(int argc, char** argv)
{
    PrintDesigns();
    for (const ReceiverCase& c : kCases)
        benchmark::RegisterBenchmark((std::string("BM_Receiver/") + c.key).c_str(), BM_Receiver, c)
            ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
