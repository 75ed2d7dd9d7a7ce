#include "dsp/rate/CascadePlan.h"

#include "dsp/design/LowPass.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace sigkit::dsp {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kMaxTerm = int64_t{1} << 31;
// A half-band's pass edge stays below this fraction of its input rate (0.25 is the limit), so
// its transition keeps some width.
constexpr double kMaxHalfBandEdge = 0.24;

bool WholeHz(double rate)
{
    return rate == std::floor(rate) && rate <= 9007199254740992.0; // 2^53
}

// Best rational approximation p/q of r with both terms up to kMaxTerm, by continued fractions.
bool Approximate(double r, int64_t& up, int64_t& down)
{
    int64_t h1 = 1, h2 = 0, k1 = 0, k2 = 1;
    double x = r;
    bool any = false;
    for (int i = 0; i < 64; ++i)
    {
        const double a = std::floor(x);
        if (a > static_cast<double>(kMaxTerm))
            break;
        const auto ai = static_cast<int64_t>(a);
        const int64_t h = ai * h1 + h2;
        const int64_t k = ai * k1 + k2;
        if (h > kMaxTerm || k > kMaxTerm)
            break;
        h2 = h1;
        h1 = h;
        k2 = k1;
        k1 = k;
        any = h > 0;
        if (std::fabs(r - static_cast<double>(h) / static_cast<double>(k)) <= 1e-15 * r)
            break;
        const double rest = x - a;
        if (rest <= 0.0)
            break;
        x = 1.0 / rest;
    }
    if (!any)
        return false;
    up = h1;
    down = k1;
    return true;
}

// Estimated multiply-adds per output of a half-band at input rate `rate` protecting `band` Hz.
double HalfBandCost(double band, double rate, double attenuation)
{
    const double edge = band / rate;
    const double gain = std::pow(10.0, -attenuation / 20.0);
    const LowPassRequest request{edge, 0.5 - edge, attenuation, 20.0 * std::log10(1.0 + gain)};
    const int64_t n = EquirippleLength(request);
    const double m = std::ceil(static_cast<double>(n + 1) / 4.0);
    return 2.0 * m + 1.0;
}

// Estimated taps per output of a polyphase stage whose branches run at `rate`.
double BranchTaps(const MultistageRequest& request, double rate)
{
    const LowPassRequest branch{request.passEdge / rate, request.stopEdge / rate,
                                request.attenuation, request.passRipple};
    return static_cast<double>(EquirippleLength(branch));
}

StagePlan PolyphasePlan(const MultistageRequest& request, double rateIn, double rateOut, int64_t up,
                        int64_t down)
{
    const int64_t g = std::gcd(up, down);
    StagePlan stage;
    stage.rateIn = rateIn;
    stage.rateOut = rateOut;
    stage.up = up / g;
    stage.down = down / g;
    const double taps = BranchTaps(request, rateIn);
    // A rational bank of L branches needs a prototype of about L·T taps; beyond what a design
    // may hold (with room for the estimate's error), the interpolated bank serves instead.
    const double designable = 0.5 * static_cast<double>(kMaxDesignTaps);
    if (stage.up <= kMaxRationalPhases && taps * static_cast<double>(stage.up) <= designable)
    {
        stage.kind = StageKind::Rational;
        stage.phases = static_cast<int32_t>(stage.up);
        stage.macsPerOutput = static_cast<int32_t>(taps);
    }
    else
    {
        stage.kind = StageKind::Bank;
        stage.phases = BankPhases(request.attenuation);
        stage.macsPerOutput = static_cast<int32_t>(4.0 * (taps + 1.0) + 6.0);
        if (taps * stage.phases > designable)
        {
            // Not designable: a transition too narrow for the rate this stage runs at.
            stage.macsPerInput = std::numeric_limits<double>::infinity();
            return stage;
        }
    }
    stage.taps = static_cast<int32_t>(taps) * stage.phases;
    stage.macsPerInput = stage.macsPerOutput * rateOut / request.rateIn;
    return stage;
}

StagePlan HalfBandPlan(const MultistageRequest& request, StageKind kind, double rateIn,
                       double rateOut)
{
    StagePlan stage;
    stage.kind = kind;
    stage.rateIn = rateIn;
    stage.rateOut = rateOut;
    stage.up = kind == StageKind::HalfBandUp ? 2 : 1;
    stage.down = kind == StageKind::HalfBandUp ? 1 : 2;
    stage.phases = 2;
    const double fast = std::max(rateIn, rateOut);
    const double perOutput = HalfBandCost(request.stopEdge, fast, request.attenuation);
    stage.taps = static_cast<int32_t>(2.0 * perOutput - 3.0);
    if (kind == StageKind::HalfBandDown)
    {
        stage.macsPerOutput = static_cast<int32_t>(perOutput);
        stage.macsPerInput = perOutput * rateOut / request.rateIn;
    }
    else
    {
        // One dot product of 2m taps per input, for the odd output; the even one is the input.
        stage.macsPerOutput = static_cast<int32_t>((perOutput - 1.0) / 2.0);
        stage.macsPerInput = (perOutput - 1.0) * rateIn / request.rateIn;
    }
    return stage;
}

} // namespace

const char* RateStatusText(RateStatus status)
{
    switch (status)
    {
    case RateStatus::Ok:
        return "ok";
    case RateStatus::BadRate:
        return "a rate is not a positive finite number within the limits";
    case RateStatus::BadRatio:
        return "the ratio of the rates is beyond the limits";
    case RateStatus::BadBand:
        return "the band edges are out of order or beyond half the lower rate";
    case RateStatus::BadAttenuation:
        return "the stop-band attenuation is out of range";
    case RateStatus::BadRipple:
        return "the pass-band ripple is out of range";
    case RateStatus::BadChannels:
        return "the channel count is out of range";
    case RateStatus::DesignFailed:
        return "a filter of the cascade could not be designed";
    }
    return "unknown status";
}

const char* StageKindName(StageKind kind)
{
    switch (kind)
    {
    case StageKind::HalfBandDown:
        return "half-band down";
    case StageKind::Rational:
        return "rational";
    case StageKind::Bank:
        return "bank";
    case StageKind::HalfBandUp:
        return "half-band up";
    }
    return "?";
}

double ConvenientRate(double rateIn, double passEdge, double stopEdge)
{
    const double need = std::max(2.0 * stopEdge, stopEdge + passEdge);
    if (!(rateIn > 0.0 && rateIn <= kMaxRate) || !(need > 0.0) || need > rateIn)
        return 0.0;
    const bool whole = WholeHz(rateIn);
    const auto most = static_cast<int64_t>(std::min(std::floor(rateIn / need), kMaxRatio));
    for (int64_t d = most; d > 1; --d)
    {
        int64_t rest = d;
        for (const int64_t p : {2, 3, 5})
            while (rest % p == 0)
                rest /= p;
        if (rest != 1)
            continue;
        if (whole && static_cast<int64_t>(rateIn) % d != 0)
            continue;
        return rateIn / static_cast<double>(d);
    }
    return rateIn;
}

int32_t BankPhases(double attenuation)
{
    const double gain = std::pow(10.0, -attenuation / 20.0);
    const double p = kPi / std::pow(gain / (4.0 * 0.0234), 0.25);
    const auto phases = static_cast<int32_t>(std::ceil(p / 8.0)) * 8;
    return std::max(16, phases);
}

bool RateRatio(double rateIn, double rateOut, int64_t& up, int64_t& down)
{
    if (!(rateIn > 0.0) || !(rateOut > 0.0) || !std::isfinite(rateIn) || !std::isfinite(rateOut))
        return false;
    if (WholeHz(rateIn) && WholeHz(rateOut))
    {
        const auto in = static_cast<int64_t>(rateIn);
        const auto out = static_cast<int64_t>(rateOut);
        const int64_t g = std::gcd(in, out);
        if (out / g <= kMaxTerm && in / g <= kMaxTerm)
        {
            up = out / g;
            down = in / g;
            return true;
        }
    }
    return Approximate(rateOut / rateIn, up, down);
}

namespace {

// The request's rates, band, attenuation, ripple and channels, each within what a cascade does;
// up / down is the ratio of the rates.
RateStatus CheckRequest(const MultistageRequest& request, int64_t& up, int64_t& down)
{
    const auto rateOk = [](double r) { return r > 0.0 && r <= kMaxRate; };
    if (!rateOk(request.rateIn) || !rateOk(request.rateOut))
        return RateStatus::BadRate;
    const double ratio = request.rateOut / request.rateIn;
    if (!(ratio <= kMaxRatio && ratio >= 1.0 / kMaxRatio))
        return RateStatus::BadRatio;
    if (!RateRatio(request.rateIn, request.rateOut, up, down))
        return RateStatus::BadRatio;
    const double lower = std::min(request.rateIn, request.rateOut);
    if (!(request.passEdge > 0.0) || !(request.stopEdge > request.passEdge) ||
        !(request.stopEdge <= 0.5 * lower))
        return RateStatus::BadBand;
    if (!(request.attenuation >= kMinAttenuation && request.attenuation <= kMaxAttenuation))
        return RateStatus::BadAttenuation;
    if (!(request.passRipple > 0.0 && request.passRipple < 3.0))
        return RateStatus::BadRipple;
    if (request.channels < 1 || request.channels > kMaxChannels)
        return RateStatus::BadChannels;
    return RateStatus::Ok;
}

} // namespace

RateStatus PlanCascade(const MultistageRequest& request, CascadePlan& plan)
{
    int64_t up = 0;
    int64_t down = 0;
    const RateStatus status = CheckRequest(request, up, down);
    if (status != RateStatus::Ok)
        return status;

    CascadePlan best;
    best.up = up;
    best.down = down;
    if (up == down && request.stopEdge >= 0.5 * request.rateIn)
    {
        plan = best; // nothing to change and nothing to remove
        return RateStatus::Ok;
    }
    best.macsPerInput = std::numeric_limits<double>::infinity();
    for (int h = 0; h <= 24; ++h)
    {
        CascadePlan candidate;
        candidate.up = up;
        candidate.down = down;
        const double scale = std::ldexp(1.0, h);
        if (up <= down)
        {
            // h half-bands down to rateIn / 2^h, then the polyphase stage to rateOut.
            const double middle = request.rateIn / scale;
            if (h > 0)
            {
                const double last = 2.0 * middle; // input rate of the last half-band
                if (request.stopEdge / last > kMaxHalfBandEdge || middle < request.rateOut)
                    break;
            }
            for (int i = 0; i < h; ++i)
            {
                const double r = request.rateIn / std::ldexp(1.0, i);
                candidate.stages.push_back(
                    HalfBandPlan(request, StageKind::HalfBandDown, r, 0.5 * r));
            }
            if (up > (int64_t{1} << 40) >> h)
                break;
            candidate.stages.push_back(
                PolyphasePlan(request, middle, request.rateOut, up << h, down));
        }
        else
        {
            // The polyphase stage to rateOut / 2^h, then h half-bands up.
            const double middle = request.rateOut / scale;
            if (h > 0 &&
                (middle <= request.rateIn || request.stopEdge / (2.0 * middle) > kMaxHalfBandEdge))
                break;
            if (down > (int64_t{1} << 40) >> h)
                break;
            candidate.stages.push_back(
                PolyphasePlan(request, request.rateIn, middle, up, down << h));
            for (int i = h - 1; i >= 0; --i)
            {
                const double r = request.rateOut / std::ldexp(1.0, i + 1);
                candidate.stages.push_back(
                    HalfBandPlan(request, StageKind::HalfBandUp, r, 2.0 * r));
            }
        }
        for (const StagePlan& stage : candidate.stages)
            candidate.macsPerInput += stage.macsPerInput;
        if (candidate.macsPerInput < best.macsPerInput)
            best = candidate;
    }
    if (best.stages.empty())
        return RateStatus::DesignFailed;
    plan = best;
    return RateStatus::Ok;
}

} // namespace sigkit::dsp
