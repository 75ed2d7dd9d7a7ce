#pragma once

#include "sigkit_api.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sigkit::api {

// The shape of a stream: complex I/Q pairs or real frames of `channels` floats, at `rate` Hz.
struct Layout
{
    bool complex = true;
    int32_t channels = 1;
    double rate = 0.0; // Hz

    // Floats in one frame.
    std::size_t FrameFloats() const { return complex ? 2u : static_cast<std::size_t>(channels); }
};

// What every processing kind offers behind a sigkit_processor. The boundary checks (null
// pointers, state, capacity against MaxOutput, sizes that overflow) are made before these run;
// a kind only checks what is its own. Results are sigkit_status values.
class Processor
{
public:
    virtual ~Processor() = default;

    virtual Layout Input() const = 0;
    virtual Layout Output() const = 0;
    // The most output frames one Process of `inFrames` makes (with 0: the most Flush makes);
    // false when that count cannot be represented.
    virtual bool MaxOutput(std::size_t inFrames, std::size_t& outFrames) const = 0;
    // Takes every input frame; writes at most `capacity` frames (the caller made sure that
    // MaxOutput fits) and sets `made`.
    virtual int Process(const float* in, std::size_t frames, float* out, std::size_t capacity,
                        std::size_t& made) = 0;
    // Writes what the filters hold (at most MaxOutput(0) frames).
    virtual int Flush(float* out, std::size_t capacity, std::size_t& made) = 0;
    // Back to the state right after creation.
    virtual int Reset() = 0;
    // Output frames of delay (see sigkit_latency).
    virtual double Latency() const = 0;
};

// Builds a kind's processor from a configuration that the common checks have passed (size,
// kind, input rate, channels, gain, quality). Result: a sigkit_status.
using Factory = int (*)(const sigkit_config& config, std::unique_ptr<Processor>& made);

} // namespace sigkit::api
