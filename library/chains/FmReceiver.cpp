#include "chains/FmReceiver.h"

#include <cmath>

namespace sigkit::chains {

namespace {

constexpr double kTransition = 0.1;            // of the band, beyond each edge
constexpr double kAudioTransition = 0.25;      // of the audio band, above it
constexpr double kTarget = 0.8912509381337456; // -1 dBFS at the configured deviation

struct FmDefaults
{
    double band;       // Hz
    double deviation;  // Hz
    double audio;      // Hz
    double deemphasis; // s
};
constexpr FmDefaults kNarrow{12500.0, 5000.0, 3000.0, 0.0};
constexpr FmDefaults kBroadcast{200000.0, 75000.0, 15000.0, 50e-6};

} // namespace

std::unique_ptr<FmReceiver> FmReceiver::Create(const ReceiverSettings& settings,
                                               ReceiverStatus* status)
{
    ReceiverSettings filled = settings;
    if (filled.mode != ReceiverMode::Wfm)
        filled.mode = ReceiverMode::Fm;
    const FmDefaults& defaults = filled.mode == ReceiverMode::Wfm ? kBroadcast : kNarrow;
    if (filled.band == 0.0)
        filled.band = defaults.band;
    if (filled.deviation == 0.0)
        filled.deviation = defaults.deviation;
    if (filled.audio == 0.0)
        filled.audio = defaults.audio;
    if (filled.deemphasis == kModeDefault)
        filled.deemphasis = defaults.deemphasis;

    std::unique_ptr<FmReceiver> receiver(new FmReceiver());
    ReceiverStatus result = ReceiverStatus::Ok;
    if (!(std::isfinite(filled.band) && filled.band > 0.0))
        result = ReceiverStatus::BadBand;
    else if (!(std::isfinite(filled.audio) && filled.audio > 0.0))
        result = ReceiverStatus::BadAudio;
    else if (!(std::isfinite(filled.deemphasis) && filled.deemphasis >= 0.0))
        result = ReceiverStatus::BadDeemphasis;
    ReceiverShape shape;
    if (result == ReceiverStatus::Ok)
    {
        shape.halfWidth = 0.5 * filled.band;
        shape.stopEdge = shape.halfWidth + kTransition * filled.band;
        if (std::isfinite(filled.rateIn) && filled.rateIn > 0.0)
            shape.stopEdge = std::min(shape.stopEdge, 0.5 * filled.rateIn);
        shape.workingRate = dsp::ConvenientRate(filled.rateIn, shape.halfWidth, shape.stopEdge);
        shape.audioPass = filled.audio;
        shape.audioStop = filled.audio * (1.0 + kAudioTransition);
        int32_t lead = 0;
        if (filled.squelch && shape.workingRate > 0.0)
        {
            receiver->squelch.emplace(dsp::SquelchSettings{}, shape.workingRate);
            lead = receiver->squelch->Delay();
        }
        result = receiver->Build(filled, shape, lead);
    }
    const double Fw = receiver->Shape().workingRate;
    if (result == ReceiverStatus::Ok &&
        !(std::isfinite(filled.deviation) && filled.deviation > 0.0 && filled.deviation < 0.5 * Fw))
        result = ReceiverStatus::BadDeviation;
    if (result == ReceiverStatus::Ok)
    {
        receiver->discriminator.SetGain(
            dsp::FmDiscriminator::GainFor(filled.deviation, Fw, kTarget));
        if (filled.deemphasis > 0.0)
            receiver->deemphasis.emplace(filled.deemphasis, Fw);
    }
    if (status != nullptr)
        *status = result;
    if (result != ReceiverStatus::Ok)
        receiver.reset();
    return receiver;
}

void FmReceiver::Demodulate(float* I, float* Q, int32_t n, float* audio)
{
    discriminator.Process(I, Q, n, audio);
    if (squelch)
        squelch->Process(I, Q, audio, n, audio);
    if (deemphasis)
        deemphasis->Process(audio, n);
}

void FmReceiver::DemodulateTail(float* audio)
{
    if (!squelch)
        return;
    const int32_t n = squelch->Flush(audio);
    if (deemphasis)
        deemphasis->Process(audio, n);
}

void FmReceiver::ResetDemodulator()
{
    discriminator.Reset();
    if (squelch)
        squelch->Reset();
    if (deemphasis)
        deemphasis->Reset();
}

} // namespace sigkit::chains
