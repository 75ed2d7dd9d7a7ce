#include "Subjects.h"

#include "Text.h"
#include "WavFloat.h"
#include "chains/ChannelChain.h"
#include "chains/RateChain.h"
#include "chains/Receiver.h"
#include "platform/Process.h"
#include "sigkit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace sigquality {

namespace {

std::string Number(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// ---- The original kinds, in this process through their exports.

using InitFn = int32_t (*)(BlockParams, BlockHandle**);

// Runs a family of BlockHandle over the whole input in blocks of 4096 frames, float samples in
// and out. The original kinds hand out what they have; nothing is flushed at the end.
Signal RunBlockFamily(InitFn init, const BlockParams& params, const Signal& in, double outRate,
                      bool complexOut)
{
    BlockHandle* handle = nullptr;
    if (init(params, &handle) != 1 || handle == nullptr)
        throw std::runtime_error("init refused the settings");
    Signal out;
    out.rate = outRate;
    out.channels = complexOut ? 2 : 1;
    out.complex = complexOut;
    const std::size_t frameFloats = static_cast<std::size_t>(in.channels);
    const std::size_t blockFloats = 4096 * frameFloats;
    for (std::size_t at = 0; at < in.samples.size(); at += blockFloats)
    {
        const std::size_t floats = std::min(blockFloats, in.samples.size() - at);
        const void* block = nullptr;
        int32_t bytes = 0;
        // One data function serves every family of BlockHandle.
        resampl_data(handle, in.samples.data() + at, static_cast<int32_t>(4 * floats), &block,
                     &bytes);
        const auto* floatsOut = static_cast<const float*>(block);
        if (bytes > 0 && floatsOut != nullptr)
            out.samples.insert(out.samples.end(), floatsOut, floatsOut + bytes / 4);
    }
    resampl_free(handle);
    out.samples.resize(out.Frames() * static_cast<std::size_t>(out.channels));
    return out;
}

BlockParams ComplexFloatParams(double rate, double frequency, double third, float amplify,
                               const char* quality)
{
    BlockParams p{};
    sigkit::CopyText(p.inputMode, "Complex");
    sigkit::CopyText(p.sampleFormat, "32 bits (float)");
    sigkit::CopyText(p.quality, quality);
    p.sampleRate = static_cast<int32_t>(std::lround(rate));
    p.frequency = static_cast<int32_t>(std::lround(frequency));
    p.outRateOrBand = static_cast<int32_t>(std::lround(third));
    p.amplify = amplify;
    return p;
}

void RequireComplex(const Signal& in)
{
    if (!in.complex)
        throw std::runtime_error("needs an I/Q input");
}

Subject Resampl(const char* quality)
{
    Subject s;
    s.name = std::string("resampl ") + quality;
    s.tasks = {Task::Rate};
    s.complexInput = true;
    s.run = [quality](const Signal& in, const Job& job) {
        RequireComplex(in);
        // Shift by 0 Hz, low-pass, resample; gain 1.
        return RunBlockFamily(resampl_init,
                              ComplexFloatParams(in.rate, 0.0, job.outRate, 1.0f, quality), in,
                              job.outRate, true);
    };
    return s;
}

Subject Lpflt(const char* quality)
{
    Subject s;
    s.name = std::string("lpflt ") + quality;
    s.tasks = {Task::Channel};
    s.complexInput = true;
    s.run = [quality](const Signal& in, const Job& job) {
        RequireComplex(in);
        // Shift and keep the band; the rate stays the input's.
        return RunBlockFamily(lpflt_init,
                              ComplexFloatParams(in.rate, job.frequency, job.band, 1.0f, quality),
                              in, in.rate, true);
    };
    return s;
}

Subject ClassicDemod(bool am)
{
    Subject s;
    s.name = am ? "am_demod High" : "fm_demod High";
    s.tasks = am ? std::vector<Task>{Task::Am} : std::vector<Task>{Task::NarrowFm, Task::WideFm};
    s.complexInput = true;
    s.run = [am](const Signal& in, const Job& job) {
        RequireComplex(in);
        // AM gives the envelope over its running mean less 1 (gain 1: the modulation depth);
        // FM the phase step per input sample, scaled here so that the job's deviation gives 1.
        const float amplify = am ? 1.0f
                                 : static_cast<float>(in.rate / (2.0 * 3.141592653589793 *
                                                                 std::max(1.0, job.deviation)));
        return RunBlockFamily(
            am ? am_demod_init : fm_demod_init,
            ComplexFloatParams(in.rate, job.frequency, job.outRate, amplify, "High"), in,
            job.outRate, false);
    };
    return s;
}

// ---- The receivers of this library, in process.

// The receiver of the job's task over the whole input in blocks of 4096 frames, then its tail.
Subject ReceiverSubject(const char* name, std::vector<Task> tasks)
{
    Subject s;
    s.name = name;
    s.tasks = std::move(tasks);
    s.complexInput = true;
    s.run = [](const Signal& in, const Job& job) {
        RequireComplex(in);
        using sigkit::chains::ReceiverMode;
        sigkit::chains::ReceiverSettings settings;
        settings.mode = job.task == Task::Am         ? ReceiverMode::Am
                        : job.task == Task::NarrowFm ? ReceiverMode::Fm
                        : job.task == Task::WideFm   ? ReceiverMode::Wfm
                        : job.task == Task::Usb      ? ReceiverMode::Usb
                        : job.task == Task::Lsb      ? ReceiverMode::Lsb
                                                     : ReceiverMode::Cw;
        settings.rateIn = in.rate;
        settings.frequency = job.frequency;
        settings.rateOut = job.outRate;
        settings.band = job.band;
        settings.deviation = job.deviation;
        settings.deemphasis = job.deemphasis;
        sigkit::chains::ReceiverStatus status = sigkit::chains::ReceiverStatus::Ok;
        const auto receiver = sigkit::chains::Receiver::Create(settings, &status);
        if (!receiver)
            throw std::runtime_error(sigkit::chains::ReceiverStatusText(status));
        constexpr int32_t kBlock = 4096;
        Signal out;
        out.rate = job.outRate;
        std::vector<float> buffer(
            static_cast<std::size_t>(std::max(receiver->MaxOutput(kBlock), receiver->MaxFlush())));
        const std::size_t frames = in.Frames();
        for (std::size_t at = 0; at < frames; at += kBlock)
        {
            const auto n = static_cast<int32_t>(std::min<std::size_t>(kBlock, frames - at));
            const int32_t got = receiver->Process(in.samples.data() + 2 * at, n, buffer.data());
            out.samples.insert(out.samples.end(), buffer.begin(), buffer.begin() + got);
        }
        const int32_t tail = receiver->Flush(buffer.data());
        out.samples.insert(out.samples.end(), buffer.begin(), buffer.begin() + tail);
        return out;
    };
    return s;
}

// ---- The new kinds, in this process as chains.

constexpr const char* kQualityWords[] = {"low", "medium", "high", "best"};

// Runs a chain over the whole input in calls of 4096 frames, then flushes it.
Signal RunChain(sigkit::chains::Chain& chain, const Signal& in)
{
    const sigkit::chains::Layout layout = chain.Output();
    Signal out;
    out.rate = layout.rate;
    out.channels = layout.channels;
    out.complex = layout.complex;
    const auto inFloats = static_cast<std::size_t>(chain.Input().channels);
    const auto outFloats = static_cast<std::size_t>(layout.channels);
    constexpr int32_t kBlock = 4096;
    std::vector<float> block(
        static_cast<std::size_t>(std::max(chain.MaxOutput(kBlock), chain.MaxFlush())) * outFloats);
    const std::size_t frames = in.Frames();
    for (std::size_t at = 0; at < frames; at += kBlock)
    {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(kBlock, frames - at));
        const int32_t made = chain.Process(in.samples.data() + at * inFloats, n, block.data());
        out.samples.insert(out.samples.end(), block.begin(),
                           block.begin() + static_cast<std::ptrdiff_t>(made * outFloats));
    }
    const int32_t tail = chain.Flush(block.data());
    out.samples.insert(out.samples.end(), block.begin(),
                       block.begin() + static_cast<std::ptrdiff_t>(tail * outFloats));
    return out;
}

Subject RateKind(sigkit::dsp::Quality quality)
{
    Subject s;
    s.name = std::string("rate ") + kQualityWords[static_cast<int>(quality)];
    s.tasks = {Task::Rate};
    s.complexInput = false; // real audio, like the peers
    s.run = [quality](const Signal& in, const Job& job) {
        sigkit::chains::RateRequest request;
        request.input = {in.rate, in.channels, in.complex};
        request.rateOut = job.outRate;
        request.quality = quality;
        sigkit::chains::ChainStatus status;
        const auto chain = sigkit::chains::RateChain::Create(request, &status);
        if (!chain)
            throw std::runtime_error(status.text);
        return RunChain(*chain, in);
    };
    return s;
}

Subject ChannelKind(sigkit::dsp::Quality quality)
{
    Subject s;
    s.name = std::string("channel ") + kQualityWords[static_cast<int>(quality)];
    s.tasks = {Task::Channel};
    s.complexInput = true;
    s.run = [quality](const Signal& in, const Job& job) {
        sigkit::chains::ChannelRequest request;
        request.input = {in.rate, in.channels, in.complex};
        request.frequency = job.frequency;
        request.band = job.band;
        request.rateOut = job.outRate;
        request.quality = quality;
        sigkit::chains::ChainStatus status;
        const auto chain = sigkit::chains::ChannelChain::Create(request, &status);
        if (!chain)
            throw std::runtime_error(status.text);
        return RunChain(*chain, in);
    };
    return s;
}

// ---- Peers, as processes on float WAV files.

struct FileExchange
{
    PeerSetup setup;
    int counter = 0;
};

// Writes the input, runs the command (IN and OUT stand for the two files), reads the output.
Signal RunOnFiles(FileExchange& files, const std::vector<std::string>& command, const Signal& in,
                  bool complexOut)
{
    const std::string stem = files.setup.work + "/run" + std::to_string(++files.counter);
    const std::string inPath = stem + "_in.wav";
    const std::string outPath = stem + "_out.wav";
    const std::string logPath = stem + ".log";
    std::string error;
    if (!WriteFloatWav(inPath, in, error))
        throw std::runtime_error(error);
    std::vector<std::string> argv;
    for (const std::string& a : command)
        argv.push_back(a == "IN" ? inPath : a == "OUT" ? outPath : a);
    const ProcessRun run = RunProgram(argv, logPath);
    Signal out;
    const bool read = run.started && run.status == 0 && ReadWav(outPath, complexOut, out, error);
    if (!files.setup.keepFiles)
    {
        std::remove(inPath.c_str());
        std::remove(outPath.c_str());
        std::remove(logPath.c_str());
    }
    if (!read)
    {
        std::string why = run.errors.empty() ? error : run.errors;
        std::replace(why.begin(), why.end(), '\n', ' ');
        throw std::runtime_error(argv[0] + " failed: " + why.substr(0, 200));
    }
    return out;
}

bool PythonHas(const PeerSetup& setup, const std::string& script)
{
    const std::string log = setup.work + "/check.log";
    const ProcessRun run = RunProgram({setup.python, setup.scripts + "/" + script, "check"}, log);
    std::remove(log.c_str());
    return run.started && run.status == 0;
}

std::vector<Subject> Peers(const PeerSetup& setup)
{
    auto files = std::make_shared<FileExchange>();
    files->setup = setup;
    std::vector<Subject> peers;

    const std::string sox = FindOnPath("sox");
    for (const bool veryHigh : {false, true})
    {
        Subject s;
        s.name = veryHigh ? "SoX rate -v" : "SoX rate";
        s.tasks = {Task::Rate};
        s.unavailable = sox.empty() ? "sox not found on PATH" : "";
        s.run = [files, sox, veryHigh](const Signal& in, const Job& job) {
            // -D: no dither (none would be added to float output anyway).
            std::vector<std::string> command{sox, "-D", "-q", "IN", "OUT", "rate"};
            if (veryHigh)
                command.push_back("-v");
            command.push_back(Number(job.outRate));
            return RunOnFiles(*files, command, in, in.complex);
        };
        peers.push_back(s);
    }

    const bool scipy = PythonHas(setup, "scipy_peer.py");
    const std::string noScipy = "scipy not importable by " + setup.python;
    {
        Subject s;
        s.name = "scipy resample_poly";
        s.tasks = {Task::Rate};
        s.unavailable = scipy ? "" : noScipy;
        s.run = [files](const Signal& in, const Job& job) {
            return RunOnFiles(*files,
                              {files->setup.python, files->setup.scripts + "/scipy_peer.py", "rate",
                               "IN", "OUT", "fout=" + Number(job.outRate)},
                              in, in.complex);
        };
        peers.push_back(s);
        s.name = "scipy firwin+resample_poly";
        s.tasks = {Task::Channel};
        s.complexInput = true;
        s.run = [files](const Signal& in, const Job& job) {
            return RunOnFiles(*files,
                              {files->setup.python, files->setup.scripts + "/scipy_peer.py",
                               "channel", "IN", "OUT", "fout=" + Number(job.outRate),
                               "freq=" + Number(job.frequency), "band=" + Number(job.band)},
                              in, true);
        };
        peers.push_back(s);
    }

    const bool gnuradio = PythonHas(setup, "gr_peer.py");
    const std::string noGnuradio = "GNU Radio not importable by " + setup.python;
    struct GrMode
    {
        const char* name;
        const char* mode;
        std::vector<Task> tasks;
        bool complexInput;
    };
    const GrMode modes[] = {
        {"GR rational_resampler", "rational", {Task::Rate}, false},
        {"GR pfb_arb_resampler", "pfb", {Task::Rate}, false},
        {"GR xlating FIR+rational", "channel", {Task::Channel}, true},
        {"GR quadrature_demod", "nbfm", {Task::NarrowFm}, true},
        {"GR wfm_rcv", "wfm", {Task::WideFm}, true},
        {"GR am_demod_cf", "am", {Task::Am}, true},
        {"GR SSB chain", "ssb", {Task::Usb, Task::Lsb, Task::Cw}, true},
    };
    for (const GrMode& m : modes)
    {
        Subject s;
        s.name = m.name;
        s.tasks = m.tasks;
        s.complexInput = m.complexInput;
        s.unavailable = gnuradio ? "" : noGnuradio;
        const std::string mode = m.mode;
        s.run = [files, mode](const Signal& in, const Job& job) {
            const std::string which = mode == "ssb" ? (job.task == Task::Usb   ? "usb"
                                                       : job.task == Task::Lsb ? "lsb"
                                                                               : "cw")
                                                    : mode;
            const bool complexOut = which == "channel" || (which == "rational" && in.complex);
            return RunOnFiles(*files,
                              {files->setup.python, files->setup.scripts + "/gr_peer.py", which,
                               "IN", "OUT", "fout=" + Number(job.outRate),
                               "freq=" + Number(job.frequency), "band=" + Number(job.band),
                               "deviation=" + Number(job.deviation),
                               "deemphasis=" + Number(job.deemphasis)},
                              in, complexOut);
        };
        peers.push_back(s);
    }
    return peers;
}

} // namespace

std::vector<Subject> AllSubjects(const PeerSetup& setup)
{
    std::vector<Subject> all;
    for (const char* quality : {"Low", "Medium", "High"})
        all.push_back(Resampl(quality));
    for (const char* quality : {"Low", "Medium", "High"})
        all.push_back(Lpflt(quality));
    all.push_back(ClassicDemod(true));
    all.push_back(ClassicDemod(false));
    all.push_back(ReceiverSubject("AmReceiver", {Task::Am}));
    all.push_back(ReceiverSubject("FmReceiver", {Task::NarrowFm, Task::WideFm}));
    all.push_back(ReceiverSubject("SsbReceiver", {Task::Usb, Task::Lsb, Task::Cw}));
    using sigkit::dsp::Quality;
    for (const Quality q : {Quality::Low, Quality::Medium, Quality::High, Quality::Best})
        all.push_back(RateKind(q));
    for (const Quality q : {Quality::High, Quality::Best})
        all.push_back(ChannelKind(q));
    for (Subject& peer : Peers(setup))
        all.push_back(std::move(peer));
    return all;
}

} // namespace sigquality
