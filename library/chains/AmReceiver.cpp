#include "chains/AmReceiver.h"

#include "dsp/demod/Envelope.h"

#include <cmath>

namespace sigkit::chains {

namespace {

constexpr double kDefaultBand = 10000.0;       // Hz
constexpr double kTransition = 0.1;            // of the band, beyond each edge
constexpr double kAudioTransition = 0.25;      // of the audio band, above it
constexpr double kCarrierCorner = 4.0;         // Hz
constexpr double kTarget = 0.8912509381337456; // -1 dBFS for 100 % modulation
constexpr double kNominalCarrier = 0.5;        // without the gain control
constexpr double kMaxGainDb = 60.0;            // above the nominal carrier's gain

} // namespace

std::unique_ptr<AmReceiver> AmReceiver::Create(const ReceiverSettings& settings,
                                               ReceiverStatus* status)
{
    ReceiverSettings filled = settings;
    filled.mode = ReceiverMode::Am;
    if (filled.band == 0.0)
        filled.band = kDefaultBand;
    std::unique_ptr<AmReceiver> receiver(new AmReceiver());
    ReceiverStatus result = ReceiverStatus::Ok;
    if (!(std::isfinite(filled.band) && filled.band > 0.0))
        result = ReceiverStatus::BadBand;
    if (result == ReceiverStatus::Ok)
    {
        ReceiverShape shape;
        shape.halfWidth = 0.5 * filled.band;
        shape.stopEdge = shape.halfWidth + kTransition * filled.band;
        if (std::isfinite(filled.rateIn) && filled.rateIn > 0.0)
            shape.stopEdge = std::min(shape.stopEdge, 0.5 * filled.rateIn);
        shape.workingRate = dsp::ConvenientRate(filled.rateIn, shape.halfWidth, shape.stopEdge);
        shape.audioPass = shape.halfWidth;
        shape.audioStop = shape.halfWidth * (1.0 + kAudioTransition);
        const double Fw = shape.workingRate;
        int32_t lead = 0;
        if (Fw > 0.0)
        {
            receiver->dc.emplace(kCarrierCorner, Fw);
            if (filled.agc)
            {
                dsp::AgcSettings agc;
                agc.target = kTarget;
                agc.maxGain = kTarget / kNominalCarrier * std::pow(10.0, kMaxGainDb / 20.0);
                receiver->agc.emplace(agc, Fw);
                lead = receiver->agc->Delay();
            }
        }
        receiver->gain = kTarget / kNominalCarrier;
        result = receiver->Build(filled, shape, lead);
    }
    if (status != nullptr)
        *status = result;
    if (result != ReceiverStatus::Ok)
        receiver.reset();
    return receiver;
}

void AmReceiver::Demodulate(float* I, float* Q, int32_t n, float* audio)
{
    dsp::Envelope(I, Q, n, audio);
    float* carrier = I;
    dc->Process(audio, n, audio, carrier);
    if (agc)
        agc->Process(audio, carrier, n, audio);
    else
        for (int32_t k = 0; k < n; ++k)
            audio[k] = static_cast<float>(gain * static_cast<double>(audio[k]));
}

void AmReceiver::DemodulateTail(float* audio)
{
    if (agc)
        agc->Flush(audio);
}

void AmReceiver::ResetDemodulator()
{
    dc->Reset();
    if (agc)
        agc->Reset();
}

} // namespace sigkit::chains
