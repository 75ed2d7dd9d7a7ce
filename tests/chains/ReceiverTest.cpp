#include "../dsp/ToneFit.h"

#include "chains/Receiver.h"
#include "dsp/rate/RateArithmetic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sigkit::chains;
using sigtest::Db;
using sigtest::FitTones;

constexpr double kPi = std::numbers::pi;
constexpr double kTarget = 0.8912509381337456; // -1 dBFS

// ---- Recordings, in double precision: interleaved (I, Q) frames.

using Baseband = std::function<std::complex<double>(double t)>; // the station around its carrier

std::vector<float> Record(double rate, double seconds, double carrier,
                          const std::vector<Baseband>& stations,
                          const std::vector<double>& offsets = {0.0})
{
    const auto count = static_cast<std::size_t>(std::llround(rate * seconds));
    std::vector<float> iq(2 * count);
    for (std::size_t n = 0; n < count; ++n)
    {
        const double t = static_cast<double>(n) / rate;
        std::complex<double> x;
        for (std::size_t s = 0; s < stations.size(); ++s)
        {
            const double offset = s < offsets.size() ? offsets[s] : 0.0;
            const double turns = (carrier + offset) * static_cast<double>(n) / rate;
            x += stations[s](t) * std::polar(1.0, 2.0 * kPi * (turns - std::floor(turns)));
        }
        iq[2 * n] = static_cast<float>(x.real());
        iq[2 * n + 1] = static_cast<float>(x.imag());
    }
    return iq;
}

Baseband Am(double amplitude, double depth, double f)
{
    return [=](double t) { return amplitude * (1.0 + depth * std::cos(2.0 * kPi * f * t)); };
}

// Instantaneous frequency deviation·cos(2πft).
Baseband Fm(double amplitude, double deviation, double f)
{
    return [=](double t) {
        return std::polar(amplitude, deviation / f * std::sin(2.0 * kPi * f * t));
    };
}

Baseband Tone(double amplitude, double f)
{
    return [=](double t) { return std::polar(amplitude, 2.0 * kPi * f * t); };
}

// ---- Running a receiver.

std::unique_ptr<Receiver> Make(const ReceiverSettings& settings)
{
    ReceiverStatus status = ReceiverStatus::Ok;
    auto receiver = Receiver::Create(settings, &status);
    EXPECT_EQ(status, ReceiverStatus::Ok) << ReceiverStatusText(status);
    return receiver;
}

// The whole recording in calls of the given sizes (repeated), then the tail, through the
// interface every chain shares.
std::vector<float> Receive(Chain& receiver, const std::vector<float>& iq,
                           const std::vector<int32_t>& blocks = {4096})
{
    std::vector<float> out, buffer;
    const auto frames = static_cast<int64_t>(iq.size() / 2);
    std::size_t b = 0;
    for (int64_t at = 0; at < frames;)
    {
        const auto n =
            static_cast<int32_t>(std::min<int64_t>(blocks[b++ % blocks.size()], frames - at));
        buffer.assign(static_cast<std::size_t>(receiver.MaxOutput(n)), 0.0f);
        const int32_t got = receiver.Process(iq.data() + 2 * at, n, buffer.data());
        EXPECT_LE(got, receiver.MaxOutput(n));
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
        at += n;
    }
    const int64_t latency = receiver.Latency();
    buffer.assign(static_cast<std::size_t>(receiver.MaxFlush()), 0.0f);
    const int32_t tail = receiver.Flush(buffer.data());
    EXPECT_EQ(tail, latency);
    out.insert(out.end(), buffer.begin(), buffer.begin() + tail);
    return out;
}

struct Tone1k
{
    double level = 0.0;  // amplitude of the fitted tone
    double thdN = 0.0;   // dB, what the fit leaves over the tone
    double delay = 0.0;  // output samples, + late, against a cosine at time 0
    double second = 0.0; // amplitude of a second fitted frequency
};

// Fits f (and `other`) over [from, to) s of an output at `rate`.
Tone1k Measure(const std::vector<float>& out, double rate, double f, double from, double to,
               double other = 0.0)
{
    const auto first = static_cast<std::size_t>(from * rate);
    const auto count = static_cast<std::size_t>((to - from) * rate);
    std::vector<double> freqs = {f};
    if (other > 0.0)
        freqs.push_back(other);
    const auto fit = FitTones(out, 1, first, count, freqs, rate);
    Tone1k r;
    r.level = fit.amplitude[0];
    r.thdN = Db(fit.residualRms * std::sqrt(2.0) / fit.amplitude[0]);
    // amplitude·cos(2πf(k - first)/rate - phase) = amplitude·cos(2πf(k - d)/rate)
    double turns = (fit.phase[0] / (2.0 * kPi)) + f * static_cast<double>(first) / rate;
    turns -= std::round(turns);
    r.delay = turns * rate / f;
    r.second = other > 0.0 ? fit.amplitude[1] : 0.0;
    return r;
}

ReceiverSettings Settings(ReceiverMode mode, double rateIn, double frequency, double rateOut)
{
    ReceiverSettings s;
    s.mode = mode;
    s.rateIn = rateIn;
    s.frequency = frequency;
    s.rateOut = rateOut;
    return s;
}

// ---- AM.

TEST(AmReceiver, ToneHasTheDepthsLevelAlignedAtEveryInputRate)
{
    // 50 % of 1 kHz gives 0.5 of -1 dBFS, from a station at the centre of a 12 kHz recording or
    // off the centre of 240 kHz and 2.4 MHz ones (with the gain control on and off).
    for (const bool agc : {true, false})
        for (const auto& [rate, carrier] :
             std::vector<std::pair<double, double>>{{12000, 0}, {240000, 50000}, {2.4e6, -3e5}})
        {
            ReceiverSettings s = Settings(ReceiverMode::Am, rate, carrier, 12000);
            s.agc = agc;
            auto rx = Make(s);
            const auto out = Receive(*rx, Record(rate, 0.8, carrier, {Am(0.5, 0.5, 1000.0)}));
            // (The carrier level settles within 0.4 s of the recording's start.)
            const Tone1k tone = Measure(out, 12000, 1000.0, 0.4, 0.75);
            EXPECT_NEAR(Db(tone.level / (0.5 * kTarget)), 0.0, 0.01) << rate;
            EXPECT_LT(tone.thdN, -90.0) << rate;
            EXPECT_NEAR(tone.delay, 0.0, 0.01) << rate;
        }
}

TEST(AmReceiver, HundredHertzAsLoudAsOneKilohertz)
{
    auto rx = Make(Settings(ReceiverMode::Am, 240000, 50000, 12000));
    const auto out = Receive(*rx, Record(240000, 0.8, 50000, {Am(0.5, 0.9, 100.0)}));
    const Tone1k tone = Measure(out, 12000, 100.0, 0.3, 0.75);
    EXPECT_NEAR(Db(tone.level / (0.9 * kTarget)), 0.0, 0.05);
    EXPECT_LT(tone.thdN, -60.0);
}

TEST(AmReceiver, GainControlEvensOutTheStationsStrength)
{
    // Without the control the level follows the carrier (scaled for one at half full scale);
    // with it, a station 30 dB weaker sounds the same.
    for (const bool agc : {true, false})
    {
        ReceiverSettings s = Settings(ReceiverMode::Am, 48000, 5000, 12000);
        s.agc = agc;
        auto rx = Make(s);
        const auto out = Receive(*rx, Record(48000, 0.6, 5000, {Am(0.5 / 31.62, 0.5, 1000.0)}));
        const double expected = agc ? 0.5 * kTarget : 0.5 * kTarget / 31.62;
        EXPECT_NEAR(Db(Measure(out, 12000, 1000.0, 0.2, 0.55).level / expected), 0.0, 0.01);
    }
}

TEST(AmReceiver, StrongerNeighbourTenKilohertzAwayIsRejected)
{
    auto rx = Make(Settings(ReceiverMode::Am, 240000, 50000, 12000));
    const auto iq =
        Record(240000, 0.6, 50000, {Am(0.15, 0.5, 1000.0), Am(0.474, 0.5, 1300.0)}, {0.0, 10000.0});
    const Tone1k tone = Measure(Receive(*rx, iq), 12000, 1000.0, 0.2, 0.55, 1300.0);
    EXPECT_GT(Db(tone.level / tone.second), 100.0);
}

// ---- FM.

TEST(FmReceiver, NarrowDeviationGivesMinusOneDbfsCleanly)
{
    ReceiverSettings s = Settings(ReceiverMode::Fm, 48000, 3000, 12000);
    s.band = 25000;
    auto rx = Make(s);
    const auto out = Receive(*rx, Record(48000, 0.5, 3000, {Fm(0.5, 5000, 1000.0)}));
    const Tone1k tone = Measure(out, 12000, 1000.0, 0.1, 0.45);
    // (The phase step's own droop at 1 kHz is -0.006 dB, the filters' ripple 0.011 dB.)
    EXPECT_NEAR(Db(tone.level / kTarget), 0.0, 0.02);
    EXPECT_LT(tone.thdN, -90.0);
    // The phase step is half a working sample (48 kHz) late: 0.125 output samples.
    EXPECT_NEAR(tone.delay, 0.125, 0.01);
}

TEST(FmReceiver, BroadcastAt240kHzWithDeemphasis)
{
    for (const double tau : {50e-6, 75e-6})
    {
        ReceiverSettings s = Settings(ReceiverMode::Wfm, 240000, 0, 48000);
        s.deemphasis = tau;
        auto rx = Make(s);
        const auto out = Receive(*rx, Record(240000, 0.3, 0, {Fm(0.5, 75000, 1000.0)}));
        const Tone1k tone = Measure(out, 48000, 1000.0, 0.05, 0.25);
        const double w = 2.0 * kPi * 1000.0 * tau;
        EXPECT_NEAR(Db(tone.level / (kTarget / std::hypot(1.0, w))), 0.0, 0.01);
        EXPECT_LT(tone.thdN, -90.0);
        // Late by the de-emphasis's own phase and half a 240 kHz sample.
        EXPECT_NEAR(tone.delay, std::atan(w) / (2.0 * kPi * 1000.0) * 48000 + 0.1, 0.02);
    }
}

TEST(FmReceiver, ThirtyEightKilohertzModulationStaysOutOfTheAudio)
{
    // 997 Hz and 38 kHz, 45 % of the deviation each; 38 kHz would land on 10 kHz at 48 kHz.
    auto rx = Make(Settings(ReceiverMode::Wfm, 240000, 0, 48000));
    const Baseband both = [](double t) {
        const double d = 0.45 * 75000.0;
        return std::polar(0.5, d / 997.0 * std::sin(2.0 * kPi * 997.0 * t) +
                                   d / 38000.0 * std::sin(2.0 * kPi * 38000.0 * t));
    };
    const Tone1k tone =
        Measure(Receive(*rx, Record(240000, 0.3, 0, {both})), 48000, 997.0, 0.05, 0.25, 10000.0);
    EXPECT_GT(Db(tone.level / tone.second), 100.0);
}

TEST(FmReceiver, BroadcastStationFromA2400kHzRecordingOfThree)
{
    auto rx = Make(Settings(ReceiverMode::Wfm, 2.4e6, 250000, 48000));
    const auto iq =
        Record(2.4e6, 0.25, 250000,
               {Fm(0.25, 75000, 1000.0), Fm(0.25, 75000, 400.0), Fm(0.25, 75000, 1500.0)},
               {0.0, -600000.0, 400000.0});
    const Tone1k tone = Measure(Receive(*rx, iq), 48000, 1000.0, 0.05, 0.22);
    EXPECT_NEAR(Db(tone.level / (kTarget / std::hypot(1.0, 2.0 * kPi * 1000.0 * 50e-6))), 0.0,
                0.01);
    EXPECT_LT(tone.thdN, -80.0);
}

// ---- SSB and CW.

TEST(SsbReceiver, EachSideGivesItsToneAndRejectsTheOther)
{
    // A tone 1 kHz on the chosen side and one 1.7 kHz on the other, at 48 kHz: the wanted one
    // at 1 kHz with its phase (the carrier at 0 Hz exactly), the other 60 dB down at least.
    for (const ReceiverMode mode : {ReceiverMode::Usb, ReceiverMode::Lsb})
    {
        const double sign = mode == ReceiverMode::Usb ? 1.0 : -1.0;
        auto rx = Make(Settings(mode, 48000, -6000, 12000));
        const auto iq =
            Record(48000, 0.6, -6000, {Tone(0.3, sign * 1000.0), Tone(0.3, -sign * 1700)});
        const Tone1k tone = Measure(Receive(*rx, iq), 12000, 1000.0, 0.2, 0.55, 1700.0);
        EXPECT_NEAR(Db(tone.level / kTarget), 0.0, 0.01);
        EXPECT_GT(Db(tone.level / tone.second), 90.0);
        EXPECT_NEAR(tone.delay, 0.0, 0.01);
    }
}

TEST(SsbReceiver, CwCarrierSoundsAtTheBeatTone)
{
    // The carrier at 700 Hz, a signal 100 Hz above it at 800 Hz, another 600 Hz above it
    // (outside the 500 Hz filter) gone.
    ReceiverSettings s = Settings(ReceiverMode::Cw, 48000, 10000, 8000);
    s.agc = false;
    auto rx = Make(s);
    const auto iq =
        Record(48000, 0.6, 10000, {Tone(0.5, 0.0), Tone(0.25, 100.0), Tone(0.5, 600.0)});
    const auto out = Receive(*rx, iq);
    const auto fit = FitTones(out, 1, 1600, 2400, {700.0, 800.0, 1300.0}, 8000);
    EXPECT_NEAR(Db(fit.amplitude[0] / (0.5 * kTarget)), 0.0, 0.02);
    EXPECT_NEAR(Db(fit.amplitude[1] / (0.25 * kTarget)), 0.0, 0.02);
    EXPECT_LT(Db(fit.amplitude[2] / fit.amplitude[0]), -90.0);
}

// ---- What every kind shares.

std::vector<ReceiverSettings> EveryKind()
{
    std::vector<ReceiverSettings> all = {
        Settings(ReceiverMode::Am, 240000, 20000, 48000),
        Settings(ReceiverMode::Fm, 96000, -10000, 44100),
        Settings(ReceiverMode::Wfm, 960000, 150000, 48000),
        Settings(ReceiverMode::Usb, 48000, 7000, 11025),
        Settings(ReceiverMode::Lsb, 48000, 7000, 16000),
        Settings(ReceiverMode::Cw, 48000, -3000, 8000),
    };
    return all;
}

// A recording whose content suits every kind: a carrier with AM and FM tones on it.
std::vector<float> Busy(const ReceiverSettings& s, double seconds)
{
    const Baseband station = [](double t) {
        return std::polar(0.4 * (1.0 + 0.3 * std::cos(2.0 * kPi * 450.0 * t)),
                          2.0 * std::sin(2.0 * kPi * 1100.0 * t));
    };
    return Record(s.rateIn, seconds, s.frequency + 150.0, {station});
}

TEST(Receivers, LengthIsRoundedExactly)
{
    for (const ReceiverSettings& s : EveryKind())
        for (const int64_t frames : {0, 1, 7, 4097, 30011})
        {
            auto rx = Make(s);
            const std::vector<float> iq(static_cast<std::size_t>(2 * frames), 0.01f);
            int64_t up = 1, down = 1;
            ASSERT_TRUE(sigkit::dsp::RateRatio(s.rateIn, s.rateOut, up, down));
            EXPECT_EQ(static_cast<int64_t>(Receive(*rx, iq, {1000}).size()),
                      sigkit::dsp::RoundedCount(frames, up, down))
                << ReceiverModeName(s.mode) << " " << frames;
        }
}

TEST(Receivers, AnySplitGivesTheSameBitsAndResetRepeatsIt)
{
    std::mt19937 random(7);
    for (const ReceiverSettings& s : EveryKind())
    {
        auto rx = Make(s);
        const auto iq = Busy(s, 0.3);
        const std::vector<float> whole = Receive(*rx, iq, {1 << 30});
        std::vector<int32_t> pieces;
        for (int i = 0; i < 50; ++i)
            pieces.push_back(std::uniform_int_distribution<int32_t>(1, 9000)(random));
        rx->Reset();
        EXPECT_EQ(Receive(*rx, iq, pieces), whole) << ReceiverModeName(s.mode);
        rx->Reset();
        EXPECT_EQ(Receive(*rx, iq, {1, 2, 3, 4093}), whole) << ReceiverModeName(s.mode);
    }
}

TEST(Receivers, EveryKernelVariantGivesTheSameBits)
{
    for (const ReceiverSettings& s : EveryKind())
    {
        auto rx = Make(s);
        const auto iq = Busy(s, 0.2);
        rx->UseKernels(*sigkit::kernels::TableFor(sigkit::kernels::Isa::Scalar));
        const std::vector<float> reference = Receive(*rx, iq);
        for (const auto isa : {sigkit::kernels::Isa::Avx2, sigkit::kernels::Isa::Avx512})
            if (const auto* table = sigkit::kernels::TableFor(isa))
            {
                rx->Reset();
                rx->UseKernels(*table);
                EXPECT_EQ(Receive(*rx, iq), reference) << ReceiverModeName(s.mode) << table->name;
            }
    }
}

TEST(Receivers, SilenceGivesSilence)
{
    for (const ReceiverSettings& s : EveryKind())
    {
        auto rx = Make(s);
        for (float v : Receive(*rx, std::vector<float>(2 * 50000, 0.0f)))
            ASSERT_EQ(v, 0.0f) << ReceiverModeName(s.mode);
    }
}

TEST(Receivers, NoiseGivesBoundedAudioWithoutNaNOrAStartingThump)
{
    // Noise at 16-bit rounding level and at -20 dBFS. FM stays quiet on both (its squelch), the
    // gain control's kinds on the faint one (at most 60 dB of gain); every kind stays finite, and
    // bounded where the control limits it (0.98 at the working rate; the rate change to the output
    // adds the overshoot of noise through a steep low-pass); the first 50 ms are no louder than the
    // rest.
    for (const double rms : {1.0 / 32768.0, 0.1})
        for (const ReceiverSettings& s : EveryKind())
        {
            std::mt19937 random(11);
            std::normal_distribution<float> gauss(0.0f, static_cast<float>(rms / std::sqrt(2.0)));
            std::vector<float> iq(2 * static_cast<std::size_t>(s.rateIn * 1.0));
            for (float& v : iq)
                v = gauss(random);
            auto rx = Make(s);
            const auto out = Receive(*rx, iq);
            const bool fm = s.mode == ReceiverMode::Fm || s.mode == ReceiverMode::Wfm;
            double start = 0.0, rest = 0.0;
            const auto head = static_cast<std::size_t>(0.05 * s.rateOut);
            for (std::size_t k = 0; k < out.size(); ++k)
            {
                ASSERT_TRUE(std::isfinite(out[k]));
                if (!fm)
                {
                    ASSERT_LT(std::fabs(out[k]), 1.5f) << ReceiverModeName(s.mode);
                }
                (k < head ? start : rest) += static_cast<double>(out[k]) * out[k];
            }
            start /= static_cast<double>(head);
            rest /= static_cast<double>(out.size() - head);
            EXPECT_LE(start, 2.0 * rest) << ReceiverModeName(s.mode) << " " << rms;
            // The squelch mutes FM's noise at any level.
            if (fm || rms < 1e-3)
            {
                EXPECT_LT(rest, 1e-3) << ReceiverModeName(s.mode);
            }
        }
}

TEST(Receivers, AreChainsOfIqInAndMonoAudioOutThatRefuseUnusableCalls)
{
    for (const ReceiverSettings& s : EveryKind())
    {
        const std::unique_ptr<Chain> chain = Make(s);
        const char* name = ReceiverModeName(s.mode);
        EXPECT_EQ(chain->Input().rate, s.rateIn) << name;
        EXPECT_EQ(chain->Input().channels, 2) << name;
        EXPECT_TRUE(chain->Input().complex) << name;
        EXPECT_EQ(chain->Output().rate, s.rateOut) << name;
        EXPECT_EQ(chain->Output().channels, 1) << name;
        EXPECT_FALSE(chain->Output().complex) << name;

        // Calls without buffers or frames take nothing: the run that follows is a fresh one's.
        const auto iq = Busy(s, 0.05);
        const auto frames = static_cast<int32_t>(iq.size() / 2);
        std::vector<float> out(static_cast<std::size_t>(chain->MaxOutput(frames)));
        EXPECT_EQ(chain->Process(nullptr, frames, out.data()), 0) << name;
        EXPECT_EQ(chain->Process(iq.data(), frames, nullptr), 0) << name;
        EXPECT_EQ(chain->Process(iq.data(), 0, out.data()), 0) << name;
        EXPECT_EQ(chain->Flush(nullptr), 0) << name;
        EXPECT_EQ(chain->Latency(), 0) << name;
        const std::vector<float> first = Receive(*chain, iq);
        // After the flush nothing more is taken or given until Reset.
        EXPECT_EQ(chain->Process(iq.data(), frames, out.data()), 0) << name;
        EXPECT_EQ(chain->Flush(out.data()), 0) << name;
        EXPECT_EQ(chain->Latency(), 0) << name;
        chain->Reset();
        EXPECT_EQ(Receive(*chain, iq), first) << name;
    }
}

TEST(Receivers, RefusesWhatCannotBeReceived)
{
    const auto refused = [](ReceiverSettings s) {
        ReceiverStatus status = ReceiverStatus::Ok;
        EXPECT_EQ(Receiver::Create(s, &status), nullptr);
        return status;
    };
    const ReceiverSettings am = Settings(ReceiverMode::Am, 240000, 0, 48000);
    for (const double rate : {0.0, -48000.0, std::nan(""), HUGE_VAL})
    {
        ReceiverSettings s = am;
        s.rateIn = rate;
        EXPECT_EQ(refused(s), ReceiverStatus::BadRate) << rate;
        s = am;
        s.rateOut = rate;
        EXPECT_EQ(refused(s), ReceiverStatus::BadRate) << rate;
    }
    for (const double band : {-10000.0, std::nan(""), 240000.0, 300000.0})
    {
        ReceiverSettings s = am;
        s.band = band;
        EXPECT_EQ(refused(s), ReceiverStatus::BadBand) << band;
    }
    // The carrier where half the band would leave the recording: |f| > 120 k - 5 k.
    ReceiverSettings s = am;
    s.frequency = 115001;
    EXPECT_EQ(refused(s), ReceiverStatus::OutsideRecording);
    s.frequency = -115001;
    EXPECT_EQ(refused(s), ReceiverStatus::OutsideRecording);
    s.frequency = -115000;
    EXPECT_NE(Receiver::Create(s), nullptr);
    s = Settings(ReceiverMode::Usb, 48000, 21400, 12000); // 300..2700 Hz above: 24.1 kHz
    EXPECT_EQ(refused(s), ReceiverStatus::OutsideRecording);
    s = Settings(ReceiverMode::Wfm, 240000, 0, 48000);
    s.deviation = -75000;
    EXPECT_EQ(refused(s), ReceiverStatus::BadDeviation);
    s.deviation = 200000; // beyond half the working rate
    EXPECT_EQ(refused(s), ReceiverStatus::BadDeviation);
    s = Settings(ReceiverMode::Wfm, 240000, 0, 48000);
    s.deemphasis = -5e-6;
    EXPECT_EQ(refused(s), ReceiverStatus::BadDeemphasis);
    s = Settings(ReceiverMode::Cw, 48000, 0, 8000);
    s.beat = 200; // below half the 500 Hz band: the audio would fold at 0 Hz
    EXPECT_EQ(refused(s), ReceiverStatus::BadAudio);
    s = am;
    s.mode = static_cast<ReceiverMode>(42);
    EXPECT_EQ(refused(s), ReceiverStatus::BadMode);

    // As the chains' common answer: a channel beyond the recording is a frequency refused.
    const ChainStatus outside = ToChainStatus(ReceiverStatus::OutsideRecording);
    EXPECT_EQ(outside.code, ChainCode::BadFrequency);
    EXPECT_EQ(outside.text,
              std::string("receiver: ") + ReceiverStatusText(ReceiverStatus::OutsideRecording));
    EXPECT_EQ(ToChainStatus(ReceiverStatus::BadRate).code, ChainCode::BadRate);
    EXPECT_EQ(ToChainStatus(ReceiverStatus::BadDeviation).code, ChainCode::BadParameter);
    EXPECT_TRUE(ToChainStatus(ReceiverStatus::Ok).Ok());
}

TEST(Receivers, ModeNamesAndDefaults)
{
    for (const ReceiverSettings& s : EveryKind())
    {
        ReceiverMode mode = ReceiverMode::Am;
        ASSERT_TRUE(ReceiverModeFromName(ReceiverModeName(s.mode), mode));
        EXPECT_EQ(mode, s.mode);
    }
    EXPECT_FALSE(ReceiverModeFromName("am-classic", *std::make_unique<ReceiverMode>()));
    const auto wfm = Make(Settings(ReceiverMode::Wfm, 2.4e6, 0, 48000));
    EXPECT_EQ(wfm->Settings().band, 200000);
    EXPECT_EQ(wfm->Settings().deviation, 75000);
    EXPECT_EQ(wfm->Settings().deemphasis, 50e-6);
    EXPECT_EQ(wfm->Shape().workingRate, 240000);
    const auto usb = Make(Settings(ReceiverMode::Usb, 48000, 0, 48000));
    EXPECT_EQ(usb->Shape().offset, 1500);
    EXPECT_EQ(usb->Shape().halfWidth, 1200);
}

} // namespace
