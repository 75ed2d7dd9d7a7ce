#pragma once

#include "chains/Chain.h"
#include "dsp/filters/FftFilter.h"
#include "dsp/rate/Multistage.h"
#include "dsp/rate/RateChanger.h"
#include "stages/filters/PhaseOscillator.h"

#include <memory>
#include <vector>

namespace sigkit::chains {

struct ChannelRequest
{
    Layout input;           // I/Q pairs, or one real channel (see ChannelChain)
    double frequency = 0.0; // Hz from the recording's centre: the channel's centre
    double band = 0.0;      // Hz: the width kept, half of it either side of the centre
    double rateOut = 0.0;   // Hz; 0: the lowest convenient rate that holds the band
    dsp::Quality quality = dsp::Quality::High; // stop band 80 / 100 / 120 / 140 dB down
    float gain = 1.0f;                         // every output sample is multiplied by it
};

// What the band filter must do, in Hz at the input: the band flat to within `passRipple`, and
// everything from `stopEdge` on (the band's edge plus a transition of a tenth of the band),
// aliases included, `attenuation` down.
struct ChannelDesign
{
    double passEdge = 0.0;    // Hz: band / 2
    double stopEdge = 0.0;    // Hz: band / 2 + band / 10
    double attenuation = 0.0; // dB: the quality preset's
    double passRipple = 0.0;  // dB, either way: 0.01 (a tenth of the 0.1 dB asked of a channel,
                              // for about 1 % more multiply-adds)
};
ChannelDesign DesignFor(const ChannelRequest& request);

// The channel kind: one channel cut out of a recording. The channel's centre is moved to 0 Hz by
// the exact oscillator of the original frequency conversion (double-precision phase, the standard
// library's sine and cosine rounded to float; input frame n is turned by -2π·f·n/rate), the band
// is kept by designed filters and the rate brought down to the request's, and I/Q pairs come out.
//
// The band filter and the rate change are done one of two ways, whichever the design's estimate
// of multiply-adds per input finds cheaper:
// - a multistage cascade from the input rate to the output rate whose filters are the band
//   filter (half-band decimators, then one polyphase stage);
// - a long band filter at the input rate by fast convolution (overlap-save), fed whole hops only
//   (so that any split of the input gives the same bits), then, when the rate changes, a
//   cascade whose pass band is the band and whose stop band starts at half the output rate
//   (the fast filter takes 0.008 dB of the ripple, the cascade 0.002 dB). It wins when the rate
//   stays high (the channel kept at the input rate) and the transition is narrow.
//
// Real input (one channel) is taken as the analytic signal whose positive frequencies it has:
// it is doubled and given a zero Q, so that the band filter itself removes the mirror image at
// -f. That needs the mirror, moved to -2f (folded into the rate), to lie in the stop band:
// requests with `frequency` closer than (passEdge + stopEdge) / 2 to 0 or to half the input rate
// are refused. A real cosine of amplitude A at f + d gives A·e^(j2πd·t).
//
// Refused: I/Q with other than 2 channels or real with more than 1; rates not finite, not
// above 0, above the limits; a band not above 0 or whose stop edge lies beyond half the input
// rate (wider than 1/1.2 of it); a frequency beyond ±rate/2; an output rate above the input
// rate or below twice the stop edge; a gain not finite.
class ChannelChain final : public Chain
{
public:
    static std::unique_ptr<ChannelChain> Create(const ChannelRequest& request,
                                                ChainStatus* status = nullptr);
    ~ChannelChain() override;

    Layout Input() const override { return request.input; }
    Layout Output() const override { return {rateOut, 2, true}; }
    int32_t MaxOutput(int32_t frames) const override;
    int32_t Process(const float* in, int32_t frames, float* out) override;
    int32_t MaxFlush() const override { return maxFlush; }
    int32_t Flush(float* out) override;
    void Reset() override;
    int64_t Latency() const override;

    const ChannelRequest& Request() const { return request; }
    const ChannelDesign& Design() const { return design; }
    // The fast band filter's taps (0: the cascade alone filters the band), transform size and hop.
    int32_t FftTaps() const { return fft ? fft->TapCount() : 0; }
    int32_t FftSize() const { return fft ? fft->TransformSize() : 0; }
    // The cascade's stages (none when the rate stays the input's).
    const dsp::CascadePlan* Plan() const { return cascade ? &cascade->Plan() : nullptr; }
    // Estimated real multiply-adds per input frame (I and Q together) of the chosen structure.
    double CostPerInput() const { return cost; }

    // Input frames converted per piece.
    static constexpr int32_t kPiece = 4096;

private:
    ChannelChain() = default;
    ChainStatus Build();
    void Allocate();
    // Frames of the input into I and Q (real input doubled, Q zero), turned by the oscillator.
    void Load(const float* in, int32_t frames);
    // Filtered samples at the input rate, aligned, on to the cascade (or out). Result: frames
    // written at out (interleaved).
    int32_t Deliver(const float* I, const float* Q, int32_t frames, float* out);
    // The hop buffer through the fast filter (its first `fill` samples), on to Deliver.
    int32_t RunHop(float* out);
    // Samples into the hop buffer, hop by hop.
    int32_t Fill(const float* I, const float* Q, int32_t frames, float* out);
    int32_t Interleave(const float* I, const float* Q, int32_t frames, float* out) const;

    ChannelRequest request;
    ChannelDesign design;
    double rateOut = 0.0;
    int64_t up = 1; // rateOut / rate = up / down
    int64_t down = 1;
    double cost = 0.0;
    int32_t maxFlush = 0;

    PhaseOscillator oscillator;
    std::unique_ptr<FftFilter> fft;
    std::unique_ptr<dsp::Multistage> cascade;
    std::vector<double> phases; // kPiece each: the oscillator's steps
    std::vector<float> sines, cosines;
    std::vector<float> pieceI, pieceQ;       // kPiece each
    std::vector<float> hopI, hopQ;           // the fast filter's hop being filled
    std::vector<float> filteredI, filteredQ; // its outputs of one hop
    std::vector<float> cascadeI, cascadeQ;   // the cascade's outputs of one call
    int32_t fill = 0;                        // samples in the hop buffer
    int64_t dropped = 0; // fast-filter outputs dropped so far (its delay), up to Delay()
    int64_t framesIn = 0;
    int64_t framesOut = 0;
    bool flushed = false;
};

} // namespace sigkit::chains
