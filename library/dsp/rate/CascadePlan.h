#pragma once

#include <cstdint>
#include <vector>

// How a rate change is split into stages: half-band decimators first (down), then one polyphase
// stage (exact rational when its ratio has small terms, an interpolated bank otherwise), then
// half-band interpolators (up). The number of half-bands is the one with the fewest estimated
// multiply-adds per input.
namespace sigkit::dsp {

// What a cascade must do. Frequencies in Hz; the band holds for complex signals on both sides of
// 0 Hz, for real ones up to the given edge.
struct MultistageRequest
{
    double rateIn = 0.0;
    double rateOut = 0.0;
    double passEdge = 0.0;    // |f| <= passEdge passes within passRipple
    double stopEdge = 0.0;    // |f| >= stopEdge lies `attenuation` down, aliases and images too
    double attenuation = 0.0; // dB
    double passRipple = 0.0;  // dB, largest deviation over the pass band
    int32_t channels = 1;     // I/Q: 2
};

enum class RateStatus : int32_t
{
    Ok = 0,
    BadRate,        // a rate not finite, not above 0, or above kMaxRate
    BadRatio,       // out/in beyond kMaxRatio either way
    BadBand,        // not 0 < passEdge < stopEdge <= half the lower rate
    BadAttenuation, // outside the design's range
    BadRipple,      // not above 0 and below 3 dB
    BadChannels,    // not 1 .. kMaxChannels
    DesignFailed,   // a stage could not be designed within the limits
};
const char* RateStatusText(RateStatus status);

inline constexpr double kMaxRate = 1e12;     // Hz
inline constexpr double kMaxRatio = 65536.0; // up or down
inline constexpr int32_t kMaxChannels = 1024;
// Rational stages up to this many branches; beyond, the interpolated bank.
inline constexpr int64_t kMaxRationalPhases = 4096;

enum class StageKind : int32_t
{
    HalfBandDown,
    Rational,
    Bank,
    HalfBandUp,
};
const char* StageKindName(StageKind kind);

struct StagePlan
{
    StageKind kind = StageKind::Rational;
    double rateIn = 0.0;  // Hz
    double rateOut = 0.0; // Hz
    int64_t up = 1;       // rateOut / rateIn = up / down
    int64_t down = 1;
    int32_t phases = 1;        // branches: L of a rational stage, P of a bank, 2 for half-bands
    int32_t taps = 0;          // designed length (prototype for rational stages and banks)
    int32_t macsPerOutput = 0; // multiply-adds per output of the stage, per channel
    double macsPerInput = 0.0; // per input frame of the whole cascade, per channel
};

struct CascadePlan
{
    std::vector<StagePlan> stages; // in signal order; none: the output is the input
    int64_t up = 1;                // rateOut / rateIn = up / down, exactly
    int64_t down = 1;
    double macsPerInput = 0.0; // sum over the stages
};

// rateOut / rateIn as a fraction in lowest terms: exact for rates in whole Hz (or any pair whose
// ratio has terms up to 2^31), otherwise the closest such fraction. False when none exists.
bool RateRatio(double rateIn, double rateOut, int64_t& up, int64_t& down);

// Checks the request and chooses the stages, with their estimated lengths and costs (taps and
// multiply-adds are estimates until the cascade is designed).
RateStatus PlanCascade(const MultistageRequest& request, CascadePlan& plan);

// The lowest convenient rate for a band kept up to passEdge and stopped from stopEdge (Hz): the
// input rate divided by the largest whole number whose prime factors are 2, 3 and 5 that leaves
// at least max(2·stopEdge, stopEdge + passEdge), a whole number of Hz when the input rate is one.
// 0 when even the input rate is too low.
double ConvenientRate(double rateIn, double passEdge, double stopEdge);

// Branches of an interpolated bank for a stop band `attenuation` dB down: the cubic's error
// between branches, about 0.023·(π/P)^4 of a full-scale tone at half the rate, stays a quarter
// below the stop band.
int32_t BankPhases(double attenuation);

} // namespace sigkit::dsp
