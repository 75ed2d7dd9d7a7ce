#pragma once

// The workloads the benchmarks run through the stages, named and shaped as the peer benchmarks
// name theirs (W-FC, W-RS, W-AM, W-FM, W-HB), with the multiply-adds each input sample costs as
// the processing is defined (the nominal count, whatever shortcuts the code finds).
#include "stages/FreqConv.h"
#include "stages/ReSampl.h"
#include "stages/SpInv.h"
#include "stages/Stage.h"
#include "stages/demod/AM_Demod.h"
#include "stages/filters/FilterDesign.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sigbench {

enum class Kind
{
    FreqConv, // W-FC: shift, complex low-pass of N taps, one output per input
    ReSampl,  // W-RS: shift, decimate
    Am,       // W-AM: shift, envelope over its mean, real decimation
    Fm,       // W-FM: shift, phase-step discriminator, real decimation
    Hilbert,  // W-HB: real to analytic with the 301-tap Hilbert transformer (SpInv, real input)
};

struct Workload
{
    const char* key; // the peers' name
    Kind kind;
    double Fd;      // Hz, input rate
    double FdOut;   // Hz, output rate (W-RS, W-AM, W-FM)
    double Fn;      // Hz, shifted to 0 Hz
    bool qualities; // run at Low, Medium and High (W-HB has one filter)
};

// The peers' workloads plus the resampling stage's 240k -> 12k (two steps of 4 and 5).
inline const std::vector<Workload>& Workloads()
{
    static const std::vector<Workload> all = {
        {"W-FC", Kind::FreqConv, 240000, 240000, 12000, true},
        {"W-RS_240k>48k", Kind::ReSampl, 240000, 48000, 10000, true},
        {"W-RS_44.1k>8k", Kind::ReSampl, 44100, 8000, 10000, true},
        {"W-RS_2.4M>48k", Kind::ReSampl, 2400000, 48000, 10000, true},
        {"W-RS_240k>12k", Kind::ReSampl, 240000, 12000, 10000, true},
        {"W-AM_240k>12k", Kind::Am, 240000, 12000, 20000, true},
        {"W-FM_240k>12k", Kind::Fm, 240000, 12000, 20000, true},
        {"W-HB", Kind::Hilbert, 240000, 240000, 0, false},
    };
    return all;
}

inline const char* QualityWord(int level)
{
    return level == 0 ? "Low" : level == 1 ? "Medium" : "High";
}

inline bool ComplexInput(const Workload& w)
{
    return w.kind != Kind::Hilbert;
}

inline std::string Number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// The stage of a workload, configured as the processing families configure it, and started.
inline std::unique_ptr<sigkit::Stage> MakeStage(const Workload& w, int quality)
{
    std::unique_ptr<sigkit::Stage> stage;
    switch (w.kind)
    {
    case Kind::FreqConv:
        stage = std::make_unique<sigkit::FreqConv>();
        // Band 0.1 of the rate, as the peers' filters (fc = Fp / Fd).
        stage->SetParam("Fp", Number(w.Fd / 10).c_str());
        break;
    case Kind::ReSampl:
        stage = std::make_unique<sigkit::ReSampl>();
        stage->SetParam("FdOut", Number(w.FdOut).c_str());
        break;
    case Kind::Am:
    case Kind::Fm:
        stage = std::make_unique<sigkit::AM_Demod>();
        stage->SetParam("Mode", w.kind == Kind::Am ? "AM" : "FM");
        stage->SetParam("FdOut", Number(w.FdOut).c_str());
        break;
    case Kind::Hilbert:
        stage = std::make_unique<sigkit::SpInv>();
        stage->SetParam("ModeInp", "Simpl");
        stage->Start();
        return stage;
    }
    stage->SetParam("ModeInp", "Complex");
    stage->SetParam("Fd", Number(w.Fd).c_str());
    stage->SetParam("Fn", Number(w.Fn).c_str());
    stage->SetParam("Kamp", "1");
    stage->SetParam("Quality", QualityWord(quality));
    stage->Start();
    return stage;
}

// Multiply-adds per input sample as the processing defines them: two real sums of N taps per
// complex output (W-FC); two complex sums of N + 7 taps per output below a ratio of 8, per step
// (W-RS; the 2.4M and 240k -> 12k paths take two steps), two sums of N taps per output from 8 to
// 32 (the demodulators at 20); 301 per real sample (W-HB).
inline double MacsPerInput(const Workload& w, int quality)
{
    const double N = sigkit::QualityToDesign(quality).taps;
    const double R = w.Fd / w.FdOut;
    switch (w.kind)
    {
    case Kind::FreqConv:
        return 2 * N;
    case Kind::ReSampl: {
        if (R < 8)
            return 4 * (N + 7) / R;
        // Two steps: M = trunc(sqrt(R)), then R / M; a step of 8 to 32 takes two sums of N taps.
        const double M = std::trunc(std::sqrt(R));
        const auto stepCost = [&](double ratio) {
            return ratio < 8 ? 4 * (N + 7) : ratio < 32 ? 4 * N : 2 * N;
        };
        return stepCost(M) / M + stepCost(R / M) / R;
    }
    case Kind::Am:
    case Kind::Fm:
        return (R < 8 ? 4 * (N + 7) : R < 32 ? 4 * N : 2 * N) / R;
    case Kind::Hilbert:
        return sigkit::kHilbertTapCount;
    }
    return 0;
}

// The peers' test signals: a few tones and a little noise, |x| about 0.5.
inline std::vector<float> ComplexSignal(std::size_t pairs)
{
    std::vector<float> x(2 * pairs);
    unsigned state = 12345u;
    for (std::size_t i = 0; i < pairs; ++i)
    {
        state = state * 1664525u + 1013904223u;
        const float noise = (static_cast<float>(state >> 8) / 16777216.0f - 0.5f) * 0.02f;
        const auto t = static_cast<double>(i);
        x[2 * i] =
            static_cast<float>(0.3 * std::cos(0.0523 * t) + 0.2 * std::cos(0.3111 * t)) + noise;
        x[2 * i + 1] =
            static_cast<float>(0.3 * std::sin(0.0523 * t) + 0.2 * std::sin(0.3111 * t)) - noise;
    }
    return x;
}

inline std::vector<float> RealSignal(std::size_t samples)
{
    std::vector<float> x(samples);
    unsigned state = 777u;
    for (std::size_t i = 0; i < samples; ++i)
    {
        state = state * 1664525u + 1013904223u;
        const float noise = (static_cast<float>(state >> 8) / 16777216.0f - 0.5f) * 0.02f;
        const auto t = static_cast<double>(i);
        x[i] = static_cast<float>(0.3 * std::sin(0.0523 * t) + 0.2 * std::sin(0.3111 * t)) + noise;
    }
    return x;
}

// Input samples per block handed to a stage (the peers hand 2048 per call).
inline constexpr std::size_t kBlockSamples = 2048;

// Streams the input through the stage in blocks, cycling over it: `blocks` Put/Get pairs from
// block index `from`. Result: the output bytes (kept so the work is not optimised away).
inline long long Stream(sigkit::Stage& stage, const std::vector<float>& input, bool complexInput,
                        std::size_t from, std::size_t blocks)
{
    const std::size_t floats = kBlockSamples * (complexInput ? 2 : 1);
    const std::size_t count = input.size() / floats;
    long long out = 0;
    for (std::size_t b = 0; b < blocks; ++b)
    {
        const float* block = input.data() + ((from + b) % count) * floats;
        stage.Put(0, block, static_cast<int32_t>(4 * floats));
        const void* result = nullptr;
        int32_t bytes = 0;
        stage.Get(0, &result, &bytes);
        out += bytes;
    }
    return out;
}

} // namespace sigbench
