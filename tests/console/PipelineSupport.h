#pragma once

// What the two-thread pipeline tests of the original modes and of the sigkit_ modes share: forcing
// the number of threads, and a recording long enough to cross many batches.
#include "Pipeline.h"
#include "support/WavBuilder.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace sigtest {

// Sets an environment variable for the runs started while it lives.
class VariableForced
{
public:
    VariableForced(const char* name, const char* value) : name(name) { setenv(name, value, 1); }
    ~VariableForced() { unsetenv(name); }
    VariableForced(const VariableForced&) = delete;
    VariableForced& operator=(const VariableForced&) = delete;

private:
    const char* name;
};

// SIGKIT_THREADS, and how a two-thread pass splits the batches' processing.
class ThreadsForced : public VariableForced
{
public:
    explicit ThreadsForced(const char* value) : VariableForced(sigrun::kThreadsVariable, value) {}
};
class SplitForced : public VariableForced
{
public:
    explicit SplitForced(const char* value) : VariableForced(sigrun::kSplitVariable, value) {}
};

// A carrier at 21 kHz (moved in phase by a 1 kHz tone of the given index), a tone at 3.1 kHz and
// noise from the seed, stored at the given width; I/Q when stereo.
inline std::string PipelineRecording(int channels, uint32_t rate, uint16_t bits, std::size_t frames,
                                     uint32_t seed, double index)
{
    const double full = std::ldexp(1.0, bits - 1) - 1.0;
    std::vector<int32_t> values(frames * static_cast<std::size_t>(channels));
    uint32_t state = seed;
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
        {
            state = state * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.02;
            const double t = static_cast<double>(i) / rate;
            const double phase = 2 * M_PI * 21000 * t + index * std::sin(2 * M_PI * 1000 * t) +
                                 (c == 1 ? -M_PI / 2 : 0.0);
            const double v = 0.4 * std::cos(phase) + 0.2 * std::cos(2 * M_PI * 3100 * t) + noise;
            values[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<int32_t>(std::lrint(v * full));
        }
    return PcmWav(static_cast<uint16_t>(channels), rate, bits, StoreSamples(values, bits));
}

} // namespace sigtest
