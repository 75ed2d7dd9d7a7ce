#pragma once

#include "chains/Receiver.h"
#include "dsp/demod/Agc.h"
#include "dsp/demod/ProductDetector.h"

#include <memory>
#include <optional>
#include <vector>

namespace sigkit::chains {

// Single sideband and CW. USB keeps [carrier + lowCut, carrier + lowCut + band] (300 to
// 2700 Hz above the carrier by default) and LSB the same below it, each as a channel centred on
// the band (stop band a tenth of the band beyond each edge, so the other side lies 100 dB down
// from lowCut - band/10 on); the product detector (ProductDetector) turns the carrier back to
// 0 Hz and keeps the real part, so a tone 1 kHz above (USB) or below (LSB) the carrier gives
// 1 kHz. CW keeps `band` Hz around the carrier (500 Hz by default) and turns the carrier to the
// beat tone (700 Hz by default): a signal 100 Hz above the carrier sounds at 800 Hz.
//
// The gain control (`agc`, on by default) follows the channel's magnitude: a steady tone comes
// out at -1 dBFS. Attack: a 5 ms look-ahead (no overshoot, no sample beyond 0.98); decay 20 dB
// per second; at most 60 dB above the gain without it. Without it a full-scale tone gives
// -1 dBFS.
class SsbReceiver final : public Receiver
{
public:
    static std::unique_ptr<SsbReceiver> Create(const ReceiverSettings& settings,
                                               ReceiverStatus* status = nullptr);

private:
    SsbReceiver() = default;
    void Demodulate(float* I, float* Q, int32_t n, float* audio) override;
    void DemodulateTail(float* audio) override;
    void ResetDemodulator() override;
    void UseDemodulatorKernels(const kernels::KernelTable& kernels) override;

    std::optional<dsp::ProductDetector> detector;
    std::optional<dsp::Agc> agc;
    std::vector<float> level;
    double gain = 1.0; // without the gain control
};

} // namespace sigkit::chains
