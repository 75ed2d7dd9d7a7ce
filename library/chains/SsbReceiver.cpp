#include "chains/SsbReceiver.h"

#include <cmath>

namespace sigkit::chains {

namespace {

constexpr double kTransition = 0.1;            // of the band, beyond each edge
constexpr double kTarget = 0.8912509381337456; // -1 dBFS
constexpr double kMaxGainDb = 60.0;            // above the gain without the control
constexpr double kSidebandBand = 2400.0;       // Hz
constexpr double kCwBand = 500.0;              // Hz

} // namespace

std::unique_ptr<SsbReceiver> SsbReceiver::Create(const ReceiverSettings& settings,
                                                 ReceiverStatus* status)
{
    ReceiverSettings filled = settings;
    if (filled.mode != ReceiverMode::Lsb && filled.mode != ReceiverMode::Cw)
        filled.mode = ReceiverMode::Usb;
    const bool cw = filled.mode == ReceiverMode::Cw;
    if (filled.band == 0.0)
        filled.band = cw ? kCwBand : kSidebandBand;

    std::unique_ptr<SsbReceiver> receiver(new SsbReceiver());
    ReceiverStatus result = ReceiverStatus::Ok;
    const double half = 0.5 * filled.band;
    if (!(std::isfinite(filled.band) && filled.band > 0.0))
        result = ReceiverStatus::BadBand;
    else if (cw ? !(std::isfinite(filled.beat) && filled.beat > half)
                : !(std::isfinite(filled.lowCut) && filled.lowCut >= 0.0))
        result = ReceiverStatus::BadAudio; // CW: the audio would fold over at 0 Hz
    if (result == ReceiverStatus::Ok)
    {
        ReceiverShape shape;
        const double transition = kTransition * filled.band;
        shape.offset = cw                                 ? 0.0
                       : filled.mode == ReceiverMode::Usb ? filled.lowCut + half
                                                          : -(filled.lowCut + half);
        shape.halfWidth = half;
        shape.stopEdge = half + transition;
        if (std::isfinite(filled.rateIn) && filled.rateIn > 0.0)
            shape.stopEdge = std::min(shape.stopEdge, 0.5 * filled.rateIn);
        // The working rate holds the real audio made from the channel.
        const double top = (cw ? filled.beat : std::fabs(shape.offset)) + half;
        shape.workingRate = dsp::ConvenientRate(filled.rateIn, top, top + transition);
        shape.audioPass = top;
        shape.audioStop = top + transition;
        const double Fw = shape.workingRate;
        int32_t lead = 0;
        if (Fw > 0.0)
        {
            // The detector turns the channel's centre back to its place in the audio.
            const double turn = cw ? filled.beat : shape.offset;
            receiver->detector.emplace(turn, Fw, kPiece);
            if (filled.agc)
            {
                dsp::AgcSettings agc;
                agc.target = kTarget;
                agc.maxGain = kTarget * std::pow(10.0, kMaxGainDb / 20.0);
                receiver->agc.emplace(agc, Fw);
                lead = receiver->agc->Delay();
            }
        }
        receiver->gain = kTarget;
        result = receiver->Build(filled, shape, lead);
        if (result == ReceiverStatus::Ok)
            receiver->level.assign(static_cast<std::size_t>(receiver->WorkingBlock()), 0.0f);
    }
    if (status != nullptr)
        *status = result;
    if (result != ReceiverStatus::Ok)
        receiver.reset();
    return receiver;
}

void SsbReceiver::Demodulate(float* I, float* Q, int32_t n, float* audio)
{
    detector->Process(I, Q, n, audio, level.data());
    if (agc)
        agc->Process(audio, level.data(), n, audio);
    else
        for (int32_t k = 0; k < n; ++k)
            audio[k] = static_cast<float>(gain * static_cast<double>(audio[k]));
}

void SsbReceiver::DemodulateTail(float* audio)
{
    if (agc)
        agc->Flush(audio);
}

void SsbReceiver::ResetDemodulator()
{
    detector->Reset();
    if (agc)
        agc->Reset();
}

void SsbReceiver::UseDemodulatorKernels(const kernels::KernelTable& kernels)
{
    detector->UseKernels(kernels);
}

} // namespace sigkit::chains
