#pragma once

#include "chains/Receiver.h"
#include "dsp/demod/Deemphasis.h"
#include "dsp/demod/FmDiscriminator.h"
#include "dsp/demod/Squelch.h"

#include <memory>
#include <optional>

namespace sigkit::chains {

// FM, narrow (mode Fm: a channel of 12.5 kHz, deviation 5 kHz, audio up to 3 kHz, no
// de-emphasis) and broadcast (mode Wfm: 200 kHz, 75 kHz, 15 kHz, de-emphasis 50 µs), mono.
// The channel's stop band begins a tenth of the band beyond each edge, the audio's a quarter of
// the audio band above it (so broadcast FM's 19 kHz pilot and everything above is stopped). The
// discriminator (FmDiscriminator, the phase step between samples, linear over ±half the working
// rate) is scaled so that the configured deviation gives -1 dBFS; the de-emphasis
// (Deemphasis) runs at the working rate. The phase step stands for the time half a working
// sample before its sample: the audio is that much late (0.1 output samples from 240 kHz to
// 48 kHz).
//
// The discriminator turns noise of any level into audio at full loudness, so the squelch
// (`squelch`, on by default; Squelch) mutes the audio while the channel holds no carrier:
// it opens at a carrier-to-noise ratio of about 4 dB and closes below about 0 dB, judged over
// 0.1 s ahead, fading over 10 ms.
class FmReceiver final : public Receiver
{
public:
    static std::unique_ptr<FmReceiver> Create(const ReceiverSettings& settings,
                                              ReceiverStatus* status = nullptr);

private:
    FmReceiver() = default;
    void Demodulate(float* I, float* Q, int32_t n, float* audio) override;
    void DemodulateTail(float* audio) override;
    void ResetDemodulator() override;

    dsp::FmDiscriminator discriminator;
    std::optional<dsp::Squelch> squelch;
    std::optional<dsp::Deemphasis> deemphasis;
};

} // namespace sigkit::chains
