#include "dsp/rate/Multistage.h"

#include "dsp/design/LowPass.h"
#include "dsp/rate/RateArithmetic.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace sigkit::dsp {

namespace {

// Input frames taken per piece (fewer when the cascade interpolates, so that no stage's piece
// grows beyond about this).
constexpr int32_t kPiece = 4096;
constexpr int64_t kUnlimited = std::numeric_limits<int64_t>::max();
constexpr double kImageMarginDb = 3.0;

} // namespace

Multistage::~Multistage() = default;

std::unique_ptr<Multistage> Multistage::Create(const MultistageRequest& request, RateStatus* status)
{
    std::unique_ptr<Multistage> cascade(new Multistage());
    const RateStatus result = cascade->Build(request);
    if (status != nullptr)
        *status = result;
    if (result != RateStatus::Ok)
        cascade.reset();
    return cascade;
}

RateStatus Multistage::Build(const MultistageRequest& request)
{
    RateStatus status = PlanCascade(request, plan);
    if (status != RateStatus::Ok)
        return status;
    channels = request.channels;

    // Piece sizes: the first stage takes kPiece inputs or fewer, each later one what the stage
    // before can give for that.
    double growth = 1.0;
    for (const StagePlan& stage : plan.stages)
        growth = std::max(growth, stage.rateOut / request.rateIn);
    blocks.assign(1, std::max<int32_t>(1, static_cast<int32_t>(kPiece / growth)));
    for (const StagePlan& stage : plan.stages)
    {
        const int64_t next =
            FloorDiv(static_cast<Wide>(blocks.back()) * stage.up + stage.down - 1, stage.down) + 2;
        blocks.push_back(static_cast<int32_t>(next));
    }

    double held = 8.0;
    for (std::size_t s = 0; s < plan.stages.size(); ++s)
    {
        StagePlan& stage = plan.stages[s];
        const int32_t block = blocks[s];
        std::vector<double> taps;
        int32_t branches = 1;
        if (!BuildStage(request, stage, block, taps, branches))
            return RateStatus::DesignFailed;
        stage.taps = static_cast<int32_t>(taps.size());
        const double outputsPerInput = stage.rateOut / request.rateIn;
        stage.macsPerInput = stage.kind == StageKind::HalfBandUp
                                 ? 2.0 * stage.macsPerOutput * stage.rateIn / request.rateIn
                                 : stage.macsPerOutput * outputsPerInput;
        // How far ahead of an output's time its window reaches, in this stage's inputs, and so
        // how many outputs of the cascade can wait for later inputs.
        const double ahead = 0.5 * static_cast<double>(taps.size()) / branches + 3.0;
        held += ahead * request.rateOut / stage.rateIn;
    }
    plan.macsPerInput = 0.0;
    for (const StagePlan& stage : plan.stages)
        plan.macsPerInput += stage.macsPerInput;
    maxFlush = static_cast<int32_t>(std::min(std::ceil(held), 1e9));

    widest = blocks.front();
    for (int32_t b : blocks)
        widest = std::max(widest, b);
    scratch.assign(static_cast<std::size_t>(widest) * static_cast<std::size_t>(channels), 0.0f);
    scratchChannels.resize(static_cast<std::size_t>(channels));
    for (int32_t c = 0; c < channels; ++c)
        scratchChannels[static_cast<std::size_t>(c)] =
            scratch.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(widest);
    inChannels.resize(static_cast<std::size_t>(channels));
    outChannels.resize(static_cast<std::size_t>(channels));
    interleavedIn.resize(static_cast<std::size_t>(channels));
    interleavedOut.resize(static_cast<std::size_t>(channels));
    if (channels == 2)
        planar.assign(2 * static_cast<std::size_t>(blocks.front()), 0.0f);
    table = &kernels::Active();
    Reset();
    return RateStatus::Ok;
}

// Designs the stage's filter and makes the stage that runs it (taking `block` inputs at a time),
// its cost noted in the plan. False when the filter cannot be designed or the stage not made.
bool Multistage::BuildStage(const MultistageRequest& request, StagePlan& stage, int32_t block,
                            std::vector<double>& taps, int32_t& branches)
{
    DesignStatus design = DesignStatus::Ok;
    bool ready = false;
    switch (stage.kind)
    {
    case StageKind::HalfBandDown: {
        design = DesignHalfBand(request.stopEdge / stage.rateIn, request.attenuation, taps);
        HalfBandDecimator half;
        ready = design == DesignStatus::Ok && half.Reset(taps, channels, block);
        stage.macsPerOutput = half.MacsPerOutput();
        stages.emplace_back(std::move(half));
        break;
    }
    case StageKind::HalfBandUp: {
        design = DesignHalfBand(request.stopEdge / stage.rateOut, request.attenuation, taps);
        HalfBandInterpolator half;
        ready = design == DesignStatus::Ok && half.Reset(taps, channels, block);
        stage.macsPerOutput = half.MacsPerOutput();
        stages.emplace_back(std::move(half));
        break;
    }
    case StageKind::Rational:
    case StageKind::Bank: {
        // With more than one branch a tone's images (at multiples of the input rate) all fold
        // into the output band, several of them from the base filter's equiripple stop band:
        // a few dB more keeps their sum below the request's attenuation.
        const double margin = stage.up > 1 ? kImageMarginDb : 0.0;
        const LowPassRequest branch{
            request.passEdge / stage.rateIn, request.stopEdge / stage.rateIn,
            std::min(kMaxAttenuation, request.attenuation + margin), request.passRipple};
        branches = stage.phases;
        design = DesignPrototype(branch, branches, taps);
        if (design != DesignStatus::Ok)
            break;
        if (stage.kind == StageKind::Rational)
        {
            PolyphaseStage poly;
            ready = poly.Reset(taps, static_cast<int32_t>(stage.up),
                               static_cast<int32_t>(stage.down), channels, block);
            stage.macsPerOutput = poly.MacsPerOutput();
            stages.emplace_back(std::move(poly));
        }
        else
        {
            BankStage bank;
            ready = bank.Reset(taps, branches, stage.up, stage.down, channels, block);
            stage.macsPerOutput = bank.MacsPerOutput();
            stages.emplace_back(std::move(bank));
        }
        break;
    }
    }
    return ready;
}

void Multistage::Reset()
{
    for (Stage& stage : stages)
        std::visit([](auto& s) { s.Clear(); }, stage);
    framesIn = 0;
    framesOut = 0;
    flushed = false;
}

void Multistage::UseKernels(const kernels::KernelTable& kernels)
{
    table = &kernels;
    for (Stage& stage : stages)
        std::visit([&](auto& s) { s.UseKernels(kernels); }, stage);
}

int32_t Multistage::MaxOutput(int32_t frames) const
{
    const int64_t most =
        FloorDiv(static_cast<Wide>(std::max(frames, 0)) * plan.up + plan.down - 1, plan.down) + 1 +
        maxFlush;
    return static_cast<int32_t>(std::min<int64_t>(most, std::numeric_limits<int32_t>::max()));
}

int32_t Multistage::Drain(std::size_t s, int64_t limit, float* const* out, std::ptrdiff_t outStride,
                          int64_t at)
{
    const std::size_t last = stages.size() - 1;
    for (std::size_t t = s; t < last; ++t)
    {
        int64_t most = t == s ? limit : kUnlimited;
        most = std::min<int64_t>(most, blocks[t + 1]);
        most = std::min<int64_t>(
            most, std::visit([](const auto& next) { return next.Room(); }, stages[t + 1]));
        const int32_t n = std::visit(
            [&](auto& stage) {
                return stage.Read(scratchChannels.data(), static_cast<int32_t>(most));
            },
            stages[t]);
        std::visit([&](auto& next) { next.Write(scratchChannels.data(), 1, n); }, stages[t + 1]);
    }
    // The last stage: into out directly when its channels are arrays, through scratch when they
    // are interleaved.
    int64_t remaining = std::min(s == last ? limit : kUnlimited, finalTarget - framesOut);
    int32_t written = 0;
    while (remaining > 0)
    {
        int32_t n = 0;
        if (outStride == 1)
        {
            for (int32_t c = 0; c < channels; ++c)
                outChannels[static_cast<std::size_t>(c)] = out[c] + at + written;
            const auto most = static_cast<int32_t>(std::min<int64_t>(remaining, kPiece * 64));
            n = std::visit([&](auto& stage) { return stage.Read(outChannels.data(), most); },
                           stages[last]);
        }
        else
        {
            const auto most = static_cast<int32_t>(std::min<int64_t>(remaining, widest));
            n = std::visit([&](auto& stage) { return stage.Read(scratchChannels.data(), most); },
                           stages[last]);
            for (int32_t c = 0; c < channels; ++c)
            {
                const float* from = scratchChannels[static_cast<std::size_t>(c)];
                float* to = out[c] + (at + written) * outStride;
                for (int32_t i = 0; i < n; ++i)
                    to[static_cast<std::ptrdiff_t>(i) * outStride] = from[i];
            }
        }
        written += n;
        remaining -= n;
        if (n == 0)
            break;
    }
    framesOut += written;
    return written;
}

int32_t Multistage::Run(const float* const* in, std::ptrdiff_t inStride, int32_t frames,
                        float* const* out, std::ptrdiff_t outStride)
{
    // (A call whose output could not be counted in 32 bits does nothing.)
    if (flushed || frames <= 0 || MaxOutput(frames) == std::numeric_limits<int32_t>::max())
        return 0;
    if (stages.empty())
    {
        for (int32_t c = 0; c < channels; ++c)
            for (int32_t i = 0; i < frames; ++i)
                out[c][static_cast<std::ptrdiff_t>(i) * outStride] =
                    in[c][static_cast<std::ptrdiff_t>(i) * inStride];
        framesIn += frames;
        framesOut += frames;
        return frames;
    }
    int32_t written = 0;
    for (int32_t offset = 0; offset < frames; offset += blocks.front())
    {
        const int32_t n = std::min(blocks.front(), frames - offset);
        std::ptrdiff_t stride = inStride;
        if (channels == 2 && inStride == 2 && in[1] == in[0] + 1)
        {
            // Interleaved pairs (I/Q, stereo) apart with the vector kernels, once.
            float* I = planar.data();
            float* Q = I + blocks.front();
            table->deinterleave(in[0] + 2 * static_cast<std::ptrdiff_t>(offset), n, I, Q);
            inChannels[0] = I;
            inChannels[1] = Q;
            stride = 1;
        }
        else
            for (int32_t c = 0; c < channels; ++c)
                inChannels[static_cast<std::size_t>(c)] = in[c] + offset * inStride;
        std::visit([&](auto& first) { first.Write(inChannels.data(), stride, n); }, stages[0]);
        framesIn += n;
        finalTarget = RoundedCount(framesIn, plan.up, plan.down);
        written += Drain(0, kUnlimited, out, outStride, written);
    }
    return written;
}

int32_t Multistage::RunFlush(float* const* out, std::ptrdiff_t outStride)
{
    if (flushed)
        return 0;
    flushed = true;
    if (stages.empty())
        return 0;
    finalTarget = RoundedCount(framesIn, plan.up, plan.down);
    assert(finalTarget - framesOut <= maxFlush);
    int32_t written = 0;
    int64_t real = framesIn;
    const std::size_t last = stages.size() - 1;
    // Stage by stage, each runs out its tail (zeros after its input, until its outputs no longer
    // reach the input), the last one until the output has its full length. That can come before
    // an earlier stage's tail is out: then the flush ends there.
    for (std::size_t s = 0; s <= last && framesOut < finalTarget; ++s)
    {
        Stage& stage = stages[s];
        const int64_t target =
            s == last ? finalTarget
                      : std::visit([&](const auto& st) { return st.TailEnd(real); }, stage);
        for (;;)
        {
            const int64_t produced =
                std::visit([](const auto& st) { return st.Produced(); }, stage);
            if (produced >= target || framesOut >= finalTarget)
                break;
            written += Drain(s, target - produced, out, outStride, written);
            const int64_t now = std::visit([](const auto& st) { return st.Produced(); }, stage);
            if (now >= target || framesOut >= finalTarget)
                break;
            if (now == produced)
            {
                const int32_t room = std::visit([](const auto& st) { return st.Room(); }, stage);
                assert(room > 0);
                if (room <= 0)
                    break;
                std::visit([&](auto& st) { st.WriteZeros(std::min(blocks[s], room)); }, stage);
            }
        }
        real = target;
    }
    return written;
}

int32_t Multistage::Process(const float* const* in, int32_t frames, float* const* out)
{
    return Run(in, 1, frames, out, 1);
}

int32_t Multistage::ProcessInterleaved(const float* in, int32_t frames, float* out)
{
    for (int32_t c = 0; c < channels; ++c)
    {
        interleavedIn[static_cast<std::size_t>(c)] = in + c;
        interleavedOut[static_cast<std::size_t>(c)] = out + c;
    }
    return Run(interleavedIn.data(), channels, frames, interleavedOut.data(), channels);
}

int32_t Multistage::Flush(float* const* out)
{
    return RunFlush(out, 1);
}

int32_t Multistage::FlushInterleaved(float* out)
{
    for (int32_t c = 0; c < channels; ++c)
        interleavedOut[static_cast<std::size_t>(c)] = out + c;
    return RunFlush(interleavedOut.data(), channels);
}

} // namespace sigkit::dsp
