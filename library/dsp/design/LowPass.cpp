#include "dsp/design/LowPass.h"

#include "dsp/design/Remez.h"
#include "dsp/design/Response.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace sigkit::dsp {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Longest design that is measured and lengthened until it meets its request; longer ones rely on
// the length estimate with a margin.
constexpr int64_t kMeasuredLength = 8191;
constexpr double kUnmeasuredMarginDb = 3.0;
// The prototype's interpolator lies this far beyond the request's attenuation, so that its own
// ripple and images do not add to the figures.
constexpr double kInterpolatorMarginDb = 10.0;
// The base filter of a prototype runs at this many times its stop edge or more: the higher, the
// longer the base (an equiripple design) and the shorter the interpolator (a window design).
constexpr double kBaseRate = 3.0;

// Modified Bessel function of the first kind, order 0, by its power series.
double BesselI0(double x)
{
    const double q = 0.25 * x * x;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k < 500; ++k)
    {
        term *= q / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
        if (term < 1e-17 * sum)
            break;
    }
    return sum;
}

// Linear bounds of the request: largest pass-band deviation and largest stop-band gain.
double StopGain(const LowPassRequest& request)
{
    return std::pow(10.0, -request.attenuation / 20.0);
}

double PassDeviation(const LowPassRequest& request)
{
    // The tighter of the rise and the fall the ripple in dB allows.
    return request.passRipple > 0.0 ? 1.0 - std::pow(10.0, -request.passRipple / 20.0)
                                    : StopGain(request);
}

bool Meets(const std::vector<double>& taps, const LowPassRequest& request)
{
    const LowPassFigures figures = MeasureLowPass(taps, request.passEdge, request.stopEdge);
    const double deviation = PassDeviation(request);
    return figures.stopMax <= StopGain(request) && figures.passMax <= 1.0 + deviation &&
           figures.passMin >= 1.0 - deviation;
}

int64_t MakeOdd(int64_t n)
{
    return n % 2 == 0 ? n + 1 : n;
}

// Windowed ideal low-pass of n taps cut at fc, normalised to a gain of exactly 1 at 0 Hz.
std::vector<double> KaiserTaps(int64_t n, double fc, double beta)
{
    std::vector<double> taps(static_cast<std::size_t>(n));
    const double centre = 0.5 * static_cast<double>(n - 1);
    const double norm = BesselI0(beta);
    double sum = 0.0;
    for (int64_t i = 0; i < n; ++i)
    {
        const double m = static_cast<double>(i) - centre;
        const double ideal = m == 0.0 ? 2.0 * fc : std::sin(2.0 * kPi * fc * m) / (kPi * m);
        const double r = centre > 0.0 ? m / centre : 0.0;
        const double window = BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
        taps[static_cast<std::size_t>(i)] = ideal * window;
        sum += taps[static_cast<std::size_t>(i)];
    }
    for (double& t : taps)
        t /= sum;
    return taps;
}

// Herrmann, Rabiner and Chan's estimate of the equiripple length for deviations dp, ds and a
// transition df (cycles per sample).
int64_t HerrmannLength(double dp, double ds, double df)
{
    const double lp = std::log10(dp);
    const double ls = std::log10(ds);
    const double dInf = (0.005309 * lp * lp + 0.07114 * lp - 0.4761) * ls +
                        (-0.00266 * lp * lp - 0.5941 * lp - 0.4278);
    const double f = 11.01217 + 0.51244 * (lp - ls);
    const double n = dInf / df - f * df + 1.0;
    // A transition too narrow for any length (or a NaN) is answered as beyond the longest.
    if (!(n < 4.0 * kMaxDesignTaps))
        return 4 * static_cast<int64_t>(kMaxDesignTaps);
    return MakeOdd(static_cast<int64_t>(std::ceil(std::max(3.0, n))));
}

// An equiripple design of length n whose peak error (from the exchange, which finds the true
// peaks) is within the request; `reference` carries the extremal frequencies from one length to the
// next. The caller measures the one it keeps.
bool EquirippleTaps(const LowPassRequest& request, int64_t n, std::vector<double>& taps,
                    std::vector<double>& reference)
{
    const double deviation = PassDeviation(request);
    const std::vector<RemezBand> bands = {
        {0.0, request.passEdge, 1.0, 1.0},
        {request.stopEdge, 0.5, 0.0, deviation / StopGain(request)},
    };
    std::vector<double> start = reference;
    double peak = 0.0;
    if (DesignRemez(static_cast<int32_t>(n), bands, taps, &peak, &start) != RemezResult::Ok)
        return false;
    reference = start;
    return peak <= deviation;
}

// Half-band of length 4m - 1 from the one-band filter g of length 2m: h[2i] = g[i]/2, the centre
// 0.5. Equiripple, or nothing when the exchange fails.
bool HalfBandTaps(double passEdge, int64_t m, std::vector<double>& taps)
{
    std::vector<double> g;
    if (m == 1)
        g = {0.5, 0.5};
    else if (DesignRemez(static_cast<int32_t>(2 * m), {{0.0, 2.0 * passEdge, 1.0, 1.0}}, g) !=
             RemezResult::Ok)
        return false;
    taps.assign(static_cast<std::size_t>(4 * m - 1), 0.0);
    for (int64_t i = 0; i < 2 * m; ++i)
        taps[static_cast<std::size_t>(2 * i)] = 0.5 * g[static_cast<std::size_t>(i)];
    taps[static_cast<std::size_t>(2 * m - 1)] = 0.5;
    return true;
}

void KaiserHalfBand(int64_t m, double attenuation, std::vector<double>& taps)
{
    const int64_t n = 4 * m - 1;
    taps = KaiserTaps(n, 0.25, KaiserBeta(attenuation));
    // Exact zeros at even distances from the centre, the centre exactly 0.5, the others scaled
    // so that the gain at 0 Hz stays 1.
    const int64_t centre = 2 * m - 1;
    double others = 0.0;
    for (int64_t i = 0; i < n; ++i)
        if ((i - centre) % 2 == 0)
            taps[static_cast<std::size_t>(i)] = 0.0;
        else
            others += taps[static_cast<std::size_t>(i)];
    for (int64_t i = 0; i < n; ++i)
        if ((i - centre) % 2 != 0)
            taps[static_cast<std::size_t>(i)] *= 0.5 / others;
    taps[static_cast<std::size_t>(centre)] = 0.5;
}

} // namespace

const char* DesignStatusText(DesignStatus status)
{
    switch (status)
    {
    case DesignStatus::Ok:
        return "designed";
    case DesignStatus::BadEdges:
        return "band edges out of order or out of range";
    case DesignStatus::BadAttenuation:
        return "stop-band attenuation out of range";
    case DesignStatus::BadRipple:
        return "pass-band ripple out of range";
    case DesignStatus::BadPhases:
        return "number of branches out of range";
    case DesignStatus::TooLong:
        return "the filter would be too long";
    case DesignStatus::NoConvergence:
        return "the design did not converge";
    }
    return "unknown design status";
}

DesignStatus CheckRequest(const LowPassRequest& request)
{
    if (!(request.passEdge > 0.0) || !(request.stopEdge > request.passEdge) ||
        !(request.stopEdge <= 0.5))
        return DesignStatus::BadEdges;
    if (!(request.attenuation >= kMinAttenuation && request.attenuation <= kMaxAttenuation))
        return DesignStatus::BadAttenuation;
    if (!(request.passRipple >= 0.0 && request.passRipple < 3.0))
        return DesignStatus::BadRipple;
    return DesignStatus::Ok;
}

double KaiserBeta(double attenuation)
{
    if (attenuation > 50.0)
        return 0.1102 * (attenuation - 8.7);
    if (attenuation >= 21.0)
        return 0.5842 * std::pow(attenuation - 21.0, 0.4) + 0.07886 * (attenuation - 21.0);
    return 0.0;
}

int64_t KaiserLength(double attenuation, double transition)
{
    if (!(transition > 0.0) || !std::isfinite(attenuation))
        return 0;
    const double n = (attenuation - 7.95) / (14.36 * transition) + 1.0;
    if (!(n < 4.0 * kMaxDesignTaps))
        return 4 * static_cast<int64_t>(kMaxDesignTaps);
    return MakeOdd(static_cast<int64_t>(std::ceil(std::max(3.0, n))));
}

DesignStatus DesignKaiser(const LowPassRequest& request, std::vector<double>& taps)
{
    const DesignStatus status = CheckRequest(request);
    if (status != DesignStatus::Ok)
        return status;
    // The window's ripple equals its stop-band gain: a finer ripple asks for more attenuation.
    const double attenuation =
        std::max(request.attenuation, -20.0 * std::log10(PassDeviation(request)));
    const double transition = request.stopEdge - request.passEdge;
    const double fc = 0.5 * (request.passEdge + request.stopEdge);
    int64_t n = KaiserLength(attenuation, transition);
    if (n > kMaxDesignTaps)
        return DesignStatus::TooLong;
    if (n > kMeasuredLength)
    {
        const double margin = attenuation + kUnmeasuredMarginDb;
        n = KaiserLength(margin, transition);
        if (n > kMaxDesignTaps)
            return DesignStatus::TooLong;
        taps = KaiserTaps(n, fc, KaiserBeta(margin));
        return DesignStatus::Ok;
    }
    const double beta = KaiserBeta(attenuation);
    for (;;)
    {
        taps = KaiserTaps(n, fc, beta);
        if (Meets(taps, request))
            return DesignStatus::Ok;
        n = MakeOdd(n + std::max<int64_t>(2, n / 50));
        if (n > kMaxDesignTaps)
            return DesignStatus::TooLong;
    }
}

int64_t EquirippleLength(const LowPassRequest& request)
{
    if (CheckRequest(request) != DesignStatus::Ok)
        return 0;
    const double dp = PassDeviation(request);
    const double ds = StopGain(request);
    return HerrmannLength(std::max(dp, ds), std::min(dp, ds), request.stopEdge - request.passEdge);
}

DesignStatus DesignEquiripple(const LowPassRequest& request, std::vector<double>& taps,
                              bool* equiripple)
{
    if (equiripple != nullptr)
        *equiripple = false;
    const DesignStatus status = CheckRequest(request);
    if (status != DesignStatus::Ok)
        return status;
    const int64_t estimate = EquirippleLength(request);
    if (estimate <= kMaxRemezTaps)
    {
        // A length that meets the request and one that does not, from the estimate outwards, then
        // the shortest that meets it by bisection over odd lengths.
        std::vector<double> candidate;
        std::vector<double> reference;
        const auto step = [](int64_t n) { return std::max<int64_t>(2, (n / 25) & ~int64_t{1}); };
        int64_t good = 0;
        int64_t bad = 0;
        for (int64_t n = estimate; n <= kMaxRemezTaps; n += step(n))
        {
            if (EquirippleTaps(request, n, candidate, reference))
            {
                good = n;
                taps = candidate;
                break;
            }
            bad = n;
        }
        if (good != 0)
        {
            for (int64_t n = good - step(good); bad == 0; n -= step(n))
            {
                if (n < 3 || !EquirippleTaps(request, n, candidate, reference))
                    bad = std::max<int64_t>(1, n);
                else
                {
                    good = n;
                    taps = candidate;
                }
            }
            while (good - bad > 2)
            {
                int64_t half = (good - bad) / 2;
                half += half % 2;
                const int64_t mid = bad + (half < good - bad ? half : 2);
                if (EquirippleTaps(request, mid, candidate, reference))
                {
                    good = mid;
                    taps = candidate;
                }
                else
                    bad = mid;
            }
            // The measured response decides; a design that falls short by a grid point's worth
            // is lengthened.
            for (int64_t n = good; !Meets(taps, request); n += 2)
                if (n + 2 > kMaxRemezTaps || !EquirippleTaps(request, n + 2, taps, reference))
                    return DesignKaiser(request, taps);
            if (equiripple != nullptr)
                *equiripple = true;
            return DesignStatus::Ok;
        }
    }
    return DesignKaiser(request, taps);
}

DesignStatus DesignHalfBand(double passEdge, double attenuation, std::vector<double>& taps)
{
    if (!(passEdge > 0.0 && passEdge < 0.25))
        return DesignStatus::BadEdges;
    const LowPassRequest request{passEdge, 0.5 - passEdge, attenuation, 0.0};
    const DesignStatus status = CheckRequest(request);
    if (status != DesignStatus::Ok)
        return status;
    const int64_t kaiser = KaiserLength(attenuation, 0.5 - 2.0 * passEdge);
    const int64_t kaiserM = (kaiser + 1 + 3) / 4;
    if (4 * kaiserM - 1 > kMaxDesignTaps)
        return DesignStatus::TooLong;
    // The equiripple half-band is somewhat shorter than the window design: start below it.
    std::vector<double> candidate;
    for (int64_t m = std::max<int64_t>(1, kaiserM * 3 / 4); 2 * m <= kMaxRemezTaps; ++m)
    {
        if (HalfBandTaps(passEdge, m, candidate) && Meets(candidate, request))
        {
            taps = candidate;
            return DesignStatus::Ok;
        }
        if (m > kaiserM + 8)
            break;
    }
    for (int64_t m = kaiserM;; m += std::max<int64_t>(1, m / 50))
    {
        if (4 * m - 1 > kMaxDesignTaps)
            return DesignStatus::TooLong;
        KaiserHalfBand(m, attenuation, taps);
        if (4 * m - 1 > kMeasuredLength || Meets(taps, request))
            return DesignStatus::Ok;
    }
}

DesignStatus DesignPrototype(const LowPassRequest& request, int32_t phases,
                             std::vector<double>& taps)
{
    DesignStatus status = CheckRequest(request);
    if (status != DesignStatus::Ok)
        return status;
    if (phases < 1 || phases > kMaxPrototypePhases)
        return DesignStatus::BadPhases;
    const double L = static_cast<double>(phases);
    // The intermediate rate is the full rate divided by K, at least kBaseRate·stopEdge branch
    // samples. (The interpolator's transition is narrower than 1/K, so a K beyond a few times
    // the longest design - or an infinite one, from a denormal edge - cannot be designed.)
    const double ratio = std::floor(L / (kBaseRate * request.stopEdge));
    if (!(ratio <= 4.0 * static_cast<double>(kMaxDesignTaps)))
        return DesignStatus::TooLong;
    const auto K = static_cast<int64_t>(ratio);
    std::vector<double> base;
    if (K <= 1)
    {
        const LowPassRequest full{request.passEdge / L, request.stopEdge / L, request.attenuation,
                                  request.passRipple};
        status = DesignEquiripple(full, base);
        if (status != DesignStatus::Ok)
            return status;
        taps = std::move(base);
    }
    else
    {
        const double k = static_cast<double>(K);
        const LowPassRequest middle{request.passEdge * k / L, request.stopEdge * k / L,
                                    request.attenuation, request.passRipple};
        status = DesignEquiripple(middle, base);
        if (status != DesignStatus::Ok)
            return status;
        // The interpolator only has to keep the base's images and its own ripple out of the
        // figures: a window design from the length estimate, not measured (it can be tens of
        // thousands of taps long), with margin enough for the estimate's shortfall.
        const double smoothAttenuation = request.attenuation + kInterpolatorMarginDb;
        const double smoothStop = 1.0 / k - request.stopEdge / L;
        const int64_t ni0 = KaiserLength(smoothAttenuation + kUnmeasuredMarginDb,
                                         smoothStop - request.stopEdge / L);
        if (ni0 > kMaxDesignTaps)
            return DesignStatus::TooLong;
        const std::vector<double> interpolator =
            KaiserTaps(ni0, 0.5 * (smoothStop + request.stopEdge / L),
                       KaiserBeta(smoothAttenuation + kUnmeasuredMarginDb));
        const auto n0 = static_cast<int64_t>(base.size());
        const auto ni = static_cast<int64_t>(interpolator.size());
        const int64_t n = (n0 - 1) * K + ni;
        if (n > kMaxDesignTaps)
            return DesignStatus::TooLong;
        // taps = (base with K - 1 zeros after each tap) convolved with the interpolator.
        taps.assign(static_cast<std::size_t>(n), 0.0);
        for (int64_t i = 0; i < n0; ++i)
        {
            const double b = base[static_cast<std::size_t>(i)];
            double* out = taps.data() + i * K;
            for (int64_t j = 0; j < ni; ++j)
                out[j] += b * interpolator[static_cast<std::size_t>(j)];
        }
    }
    // Both steps have a pass-band gain of 1 (the base equiripple about 1, the interpolator within
    // its far smaller ripple): scaling by L keeps the ripple centred. Rounding in the convolution
    // is evened out between mirrored taps.
    const std::size_t n = taps.size();
    for (std::size_t i = 0; i < n / 2; ++i)
    {
        const double mean = 0.5 * (taps[i] + taps[n - 1 - i]);
        taps[i] = mean;
        taps[n - 1 - i] = mean;
    }
    for (double& t : taps)
        t *= L;
    return DesignStatus::Ok;
}

} // namespace sigkit::dsp
