#pragma once

#include <cstdint>
#include <limits>
#include <string>

// The shape every new kind takes: a chain of small parts (a shift, designed filters, rate stages,
// a demodulator) from interleaved float frames in to interleaved float frames out, full scale
// 1.0. A rate changer takes real frames of any channel count or I/Q pairs and gives the same at
// another rate; a channel cut takes I/Q and gives I/Q; a receiver takes I/Q and gives real mono
// audio at another rate. The API wraps any of them alike.
namespace sigkit::chains {

// How the frames of one side are laid out.
struct Layout
{
    double rate = 0.0;    // Hz: frames per second
    int32_t channels = 1; // floats per frame
    bool complex = false; // I/Q pairs: channels is 2, I first
};

enum class ChainCode : int32_t
{
    Ok = 0,
    BadLayout,    // an input layout the kind does not take (channel count, real or I/Q)
    BadRate,      // a rate not finite, not above 0, beyond the limits, or a ratio beyond them
    BadFrequency, // a frequency, or the channel around it, beyond what the input holds
    BadParameter, // another value out of its range (band, gain, quality, ...)
    DesignFailed, // a valid request that no filter within the design limits meets
};

// The answer of a kind's Create: the code, and one line saying what was refused and why.
struct ChainStatus
{
    ChainCode code = ChainCode::Ok;
    std::string text = "ok";

    bool Ok() const { return code == ChainCode::Ok; }
};

// Every kind is made by a static Create(request, status) that gives nothing (and the reason in
// `status`: a ChainStatus; the receivers' finer ReceiverStatus turns into one by ToChainStatus)
// for a request it refuses, and guarantees:
// - Output aligned: output frame k stands for time k / Output().rate of the input, every
//   filter's delay compensated (the first outputs are computed over silence before the input).
// - Length: after Flush, N input frames have given round(N · Output().rate / Input().rate)
//   output frames (halves up).
// - Streaming: any split of the input into calls gives the same output bits.
// - Memory is taken by Create; Process and Flush take none, whatever the signal's length.
class Chain
{
public:
    virtual ~Chain() = default;

    virtual Layout Input() const = 0;
    virtual Layout Output() const = 0;

    // The most frames one Process of `frames` input frames writes (what the call's input stands
    // for, and what earlier input held back). INT32_MAX when that bound does not fit 32 bits:
    // Process refuses such a call.
    virtual int32_t MaxOutput(int32_t frames) const = 0;
    // `frames` frames of Input().channels interleaved floats in; `out` with room for
    // MaxOutput(frames) frames of Output().channels floats. Result: the frames written. Nothing
    // is taken or written (result 0) for frames < 1, null buffers, a call MaxOutput refuses, or
    // after Flush until Reset.
    virtual int32_t Process(const float* in, int32_t frames, float* out) = 0;
    // The most frames Flush writes.
    virtual int32_t MaxFlush() const = 0;
    // The end of the signal: the frames held back. Result: the frames written; a second Flush
    // gives nothing.
    virtual int32_t Flush(float* out) = 0;
    // Back to the start of a new signal; the design is kept.
    virtual void Reset() = 0;
    // Output frames held back now: those the input so far stands for (round(N · Fout / Fin)
    // after N input frames) that Process has not given yet, because the filters still wait for
    // later input; Flush would give exactly this many. At most MaxFlush().
    virtual int64_t Latency() const = 0;
};

inline constexpr int32_t kRefusedCall = std::numeric_limits<int32_t>::max();

} // namespace sigkit::chains
