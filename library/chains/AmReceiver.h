#pragma once

#include "chains/Receiver.h"
#include "dsp/demod/Agc.h"
#include "dsp/demod/DcBlocker.h"

#include <memory>
#include <optional>

namespace sigkit::chains {

// AM: the channel of `band` Hz around the carrier (10 kHz by default; its stop band begins a
// tenth of the band beyond each edge), its envelope at the working rate, the carrier taken off
// as DC (DcBlocker: two one-pole low-passes of 4 Hz give the carrier level, the audio is what is
// left), the audio band up to half the channel.
//
// The level is the modulation depth: 100 % modulation gives -1 dBFS. With the gain control
// (`agc`) the audio is divided by the carrier level, so a station of any strength sounds the
// same; its attack is a 5 ms look-ahead (the gain has fallen before a louder carrier arrives,
// nothing overshoots), its decay 20 dB per second, its largest gain 60 dB above that of a
// carrier at half full scale, and no sample goes beyond 0.98. Without it the audio is scaled for
// a carrier at half full scale (whose 100 % peaks reach full scale).
class AmReceiver final : public Receiver
{
public:
    static std::unique_ptr<AmReceiver> Create(const ReceiverSettings& settings,
                                              ReceiverStatus* status = nullptr);

private:
    AmReceiver() = default;
    void Demodulate(float* I, float* Q, int32_t n, float* audio) override;
    void DemodulateTail(float* audio) override;
    void ResetDemodulator() override;

    std::optional<dsp::DcBlocker> dc;
    std::optional<dsp::Agc> agc;
    double gain = 1.0; // without the gain control
};

} // namespace sigkit::chains
