#pragma once

#include "chains/Chain.h"
#include "dsp/rate/CascadePlan.h"
#include "dsp/rate/Multistage.h"
#include "stages/kernels/Kernels.h"

#include <cstdint>
#include <memory>
#include <vector>

// Receivers: mono audio from one station of an I/Q recording. Every kind is the same chain:
//
//   shift     the exact oscillator moves the channel's centre to 0 Hz
//   channel   a designed low-pass and multistage decimation to the working rate, the lowest
//             convenient rate that holds the channel (and, for SSB and CW, the audio made from it)
//   demodulate at the working rate (the kind's own part: FM, AM, SSB/CW), with what belongs to
//             the audio there (de-emphasis, DC removal, automatic gain control)
//   audio     a designed low-pass over the audio band and the rate change to the output rate
//
// Output sample k stands for time k/rateOut of the input: every filter's delay is compensated
// (the look-ahead of the gain control too), and Flush gives the tail, so N input frames give
// exactly round(N·rateOut/rateIn) output frames. Any split of the input into calls gives the
// same output bits, on every processor. All memory is taken by Create.
namespace sigkit::chains {

enum class ReceiverMode : int32_t
{
    Am,  // amplitude modulation: envelope
    Fm,  // narrow-band FM
    Wfm, // broadcast FM, mono
    Usb, // upper sideband
    Lsb, // lower sideband
    Cw,  // Morse: a narrow channel around the carrier and a beat tone
};
// "am", "fm", "wfm", "usb", "lsb", "cw".
const char* ReceiverModeName(ReceiverMode mode);
// The mode of one of those words; false for any other.
bool ReceiverModeFromName(const char* name, ReceiverMode& mode);

// Settings that take the mode's default when left at this value.
inline constexpr double kModeDefault = -1.0;

struct ReceiverSettings
{
    ReceiverMode mode = ReceiverMode::Am;
    double rateIn = 0.0;    // Hz, of the I/Q recording
    double frequency = 0.0; // Hz from the recording's centre (negative below it): the carrier
    double rateOut = 48000.0;
    // Hz. AM, FM, WFM: the channel's width around the carrier (10 k, 12.5 k, 200 k); USB, LSB:
    // the width of the audio band from lowCut up (2.4 k: 300 to 2700 Hz); CW: the filter's width
    // around the carrier (500). 0: the mode's default.
    double band = 0.0;
    double deviation = 0.0;           // Hz, FM: the deviation that gives -1 dBFS (5 k, 75 k)
    double deemphasis = kModeDefault; // s, FM: τ, 0 for none (WFM 50 µs, FM none)
    double audio = 0.0;               // Hz, FM: top of the audio band (3 k, 15 k)
    double lowCut = 300.0;            // Hz, USB, LSB: where the audio band starts
    double beat = 700.0;              // Hz, CW: the tone that a carrier at `frequency` gives
    bool agc = true;                  // AM, USB, LSB, CW: automatic gain control
    bool squelch = true;              // FM, WFM: mute while the channel holds no carrier
};

enum class ReceiverStatus : int32_t
{
    Ok = 0,
    BadMode,          // not one of ReceiverMode
    BadRate,          // a rate not finite, not above 0, beyond the limits, or too far apart
    BadBand,          // a band not above 0, or wider than the input rate allows
    OutsideRecording, // the channel reaches beyond ±rateIn/2 around the recording's centre
    BadDeviation,     // FM: not above 0, or beyond half the working rate
    BadDeemphasis,    // FM: negative (other than kModeDefault), or not finite
    BadAudio,         // FM audio band, SSB low cut or CW beat not finite or out of range
    DesignFailed,     // a filter could not be designed
};
const char* ReceiverStatusText(ReceiverStatus status);
// The status as the chains' common answer: its code and "receiver: " and its text.
ChainStatus ToChainStatus(ReceiverStatus status);

// Where a receiver's filters lie, in Hz.
struct ReceiverShape
{
    double shift = 0.0;       // moved to 0 Hz: the carrier plus `offset`
    double offset = 0.0;      // of the channel's centre from the carrier
    double halfWidth = 0.0;   // the channel passes |f| <= halfWidth around its centre
    double stopEdge = 0.0;    // and stops |f| >= stopEdge (aliases too)
    double workingRate = 0.0; // of the demodulator
    double audioPass = 0.0;   // the audio passes up to here
    double audioStop = 0.0;   // and is stopped from here (aliases too)
};

class Receiver : public Chain
{
public:
    // The kind the mode names; nothing (and the reason in `status`) when refused.
    static std::unique_ptr<Receiver> Create(const ReceiverSettings& settings,
                                            ReceiverStatus* status = nullptr);
    ~Receiver() override;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // In: interleaved (I, Q) frames at rateIn. Out: mono float audio at rateOut, full scale 1.
    Layout Input() const override { return {settings.rateIn, 2, true}; }
    Layout Output() const override { return {settings.rateOut, 1, false}; }

    int32_t MaxOutput(int32_t frames) const override;
    int32_t Process(const float* in, int32_t frames, float* out) override;
    int32_t MaxFlush() const override { return maxFlush; }
    // The tail after the last input: the output then holds round(N·rateOut/rateIn) frames.
    int32_t Flush(float* out) override;
    void Reset() override;
    int64_t Latency() const override;
    // The vector kernels to run (Create chooses the processor's; every variant gives the same
    // bits).
    void UseKernels(const kernels::KernelTable& kernels);

    // The settings with the mode's defaults in place.
    const ReceiverSettings& Settings() const { return settings; }
    const ReceiverShape& Shape() const { return shape; }
    const dsp::CascadePlan& ChannelPlan() const { return channel->Plan(); }
    const dsp::CascadePlan& AudioPlan() const { return audio->Plan(); }

protected:
    // Input frames taken per piece.
    static constexpr int32_t kPiece = 4096;

    Receiver() = default;
    // Checks what every kind shares (rates, the channel within the recording) and designs the
    // shift, the channel and the audio; `lead` is the demodulator's delay in working samples.
    ReceiverStatus Build(const ReceiverSettings& filled, const ReceiverShape& designed,
                         int32_t lead);
    // Most working samples one Demodulate call gets.
    int32_t WorkingBlock() const { return workingBlock; }

    // The kind's part at the working rate: n channel samples (I and Q arrays, which it may
    // overwrite) in, n audio samples out, `lead` samples late.
    virtual void Demodulate(float* I, float* Q, int32_t n, float* audio) = 0;
    // The `lead` audio samples still held after the last channel sample.
    virtual void DemodulateTail(float* /*audio*/) {}
    virtual void ResetDemodulator() = 0;
    virtual void UseDemodulatorKernels(const kernels::KernelTable& /*kernels*/) {}

private:
    // Audio at the working rate to the output: the first `lead` after Reset dropped.
    int32_t ToOutput(const float* samples, int32_t n, float* out);
    int32_t ChannelToOutput(int32_t n, float* out);

    ReceiverSettings settings;
    ReceiverShape shape;
    std::unique_ptr<dsp::Multistage> channel;
    std::unique_ptr<dsp::Multistage> audio;
    int64_t up = 1; // rateOut / rateIn = up / down
    int64_t down = 1;
    double increment = 0.0; // radians per input sample of the shift
    double phase = 0.0;
    int32_t lead = 0;
    int32_t workingBlock = 0;
    int32_t maxFlush = 0;
    std::vector<float> pieceI, pieceQ, sines, cosines;
    std::vector<double> phases;
    std::vector<float> workI, workQ, workAudio;
    const kernels::KernelTable* table = nullptr;
    int64_t framesIn = 0;
    int64_t framesOut = 0;
    int64_t toDrop = 0;
    int64_t audioIn = 0; // working samples given to the audio stage
    bool flushed = false;
};

} // namespace sigkit::chains
