#include "dsp/design/Remez.h"

#include "dsp/design/RemezGrid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace sigkit::dsp {

namespace {

using namespace remez;

constexpr int32_t kMaxIterations = 250;

// Barycentric weights 1 / Π_{j≠k} (x_k - x_j), all scaled by one common factor (which cancels in
// every use), with the products kept as mantissa and exponent so that none over- or underflows.
void BarycentricWeights(const std::vector<double>& x, std::vector<double>& w)
{
    const std::size_t n = x.size();
    w.resize(n);
    std::vector<int> exponents(n);
    int largest = std::numeric_limits<int>::min();
    for (std::size_t k = 0; k < n; ++k)
    {
        double mantissa = 1.0;
        int exponent = 0;
        int since = 0;
        for (std::size_t j = 0; j < n; ++j)
        {
            if (j == k)
                continue;
            mantissa *= x[k] - x[j];
            if (++since == 8)
            {
                int e = 0;
                mantissa = std::frexp(mantissa, &e);
                exponent += e;
                since = 0;
            }
        }
        int e = 0;
        mantissa = std::frexp(mantissa, &e);
        exponent += e;
        // 1 / (mantissa · 2^exponent) = (1 / mantissa) · 2^-exponent
        w[k] = 1.0 / mantissa;
        exponents[k] = -exponent;
        largest = std::max(largest, exponents[k]);
    }
    for (std::size_t k = 0; k < n; ++k)
        w[k] = std::ldexp(w[k], exponents[k] - largest);
}

// The reference's error level δ and the polynomial with P(x_k) = D_k - (-1)^k·δ/W_k through
// `points` of its points (all r + 1 of them while exchanging: the errors at the reference then
// alternate exactly even while δ is still inexact, as it is when the reference is far from the
// optimum; the first r for the final taps, where the degree must be r - 1).
struct Reference
{
    std::vector<double> x, y, w;
    double delta = 0.0;
    mutable std::vector<double> terms; // room for one evaluation's terms
};

Reference Solve(const std::vector<Point>& set, std::size_t points)
{
    const std::size_t n = set.size();
    std::vector<double> x(n);
    for (std::size_t k = 0; k < n; ++k)
        x[k] = set[k].x;
    std::vector<double> w;
    BarycentricWeights(x, w);
    double numerator = 0.0;
    double denominator = 0.0;
    for (std::size_t k = 0; k < n; ++k)
    {
        const double sign = (k % 2 == 0) ? 1.0 : -1.0;
        numerator += w[k] * set[k].desired;
        denominator += sign * w[k] / set[k].weight;
    }
    Reference ref;
    ref.delta = numerator / denominator;
    ref.x.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(points));
    ref.y.resize(points);
    for (std::size_t k = 0; k < points; ++k)
    {
        const double sign = (k % 2 == 0) ? 1.0 : -1.0;
        ref.y[k] = set[k].desired - sign * ref.delta / set[k].weight;
    }
    if (points == n)
        ref.w = std::move(w);
    else
        BarycentricWeights(ref.x, ref.w);
    return ref;
}

// The interpolating polynomial through (x_k, y_k) at x, in barycentric form. The terms are
// formed apart from the sums (so that the divisions run side by side) and summed into four
// partial sums.
double Interpolate(const Reference& ref, double x, std::vector<double>& terms)
{
    const std::size_t n = ref.x.size();
    terms.resize(n);
    double* t = terms.data();
    const double* xk = ref.x.data();
    const double* wk = ref.w.data();
    bool node = false;
    for (std::size_t k = 0; k < n; ++k)
    {
        const double d = x - xk[k];
        node |= d == 0.0;
        t[k] = wk[k] / d;
    }
    if (node)
        for (std::size_t k = 0; k < n; ++k)
            if (x == xk[k])
                return ref.y[k];
    const double* yk = ref.y.data();
    double n0 = 0.0, n1 = 0.0, n2 = 0.0, n3 = 0.0;
    double d0 = 0.0, d1 = 0.0, d2 = 0.0, d3 = 0.0;
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4)
    {
        n0 += t[k] * yk[k];
        n1 += t[k + 1] * yk[k + 1];
        n2 += t[k + 2] * yk[k + 2];
        n3 += t[k + 3] * yk[k + 3];
        d0 += t[k];
        d1 += t[k + 1];
        d2 += t[k + 2];
        d3 += t[k + 3];
    }
    for (; k < n; ++k)
    {
        n0 += t[k] * yk[k];
        d0 += t[k];
    }
    return ((n0 + n1) + (n2 + n3)) / ((d0 + d1) + (d2 + d3));
}

double Interpolate(const Reference& ref, double x)
{
    return Interpolate(ref, x, ref.terms);
}

double ErrorAt(const Reference& ref, const Point& p)
{
    return p.weight * (p.desired - Interpolate(ref, p.x));
}

struct Extremum
{
    Point point;
    double error;
};

// Moves an extremum to the true peak of the error between its neighbours (golden-section
// search): the first lobes beside a transition band are narrow, and the extremum of a grid there
// can lie well below the peak.
Extremum Refine(const Reference& ref, const std::vector<RemezBand>& bands, bool evenLength,
                double low, double high, const Extremum& found)
{
    const double sign = found.error > 0.0 ? 1.0 : -1.0;
    const auto value = [&](double omega) {
        const Point p = PointAt(bands, found.point.band, omega, evenLength);
        return Extremum{p, ErrorAt(ref, p)};
    };
    constexpr double kGolden = 0.6180339887498949;
    Extremum best = found;
    Extremum c = value(high - kGolden * (high - low));
    Extremum d = value(low + kGolden * (high - low));
    for (int i = 0; i < 14; ++i)
    {
        if (sign * c.error > sign * d.error)
        {
            high = d.point.omega;
            d = c;
            c = value(high - kGolden * (high - low));
        }
        else
        {
            low = c.point.omega;
            c = d;
            d = value(low + kGolden * (high - low));
        }
    }
    for (const Extremum& e : {c, d})
        if (sign * e.error > sign * best.error)
            best = e;
    return best;
}

// Local extrema of the error over the candidates (grid and reference points in increasing
// frequency; band edges count), each refined between its neighbours, signs alternating.
std::vector<Extremum> FindExtrema(const Reference& ref, const std::vector<RemezBand>& bands,
                                  bool evenLength, const std::vector<Point>& candidates,
                                  const std::vector<double>& error, bool refine)
{
    std::vector<Extremum> found;
    const std::size_t n = candidates.size();
    for (std::size_t i = 0; i < n; ++i)
    {
        const int32_t band = candidates[i].band;
        const bool hasLeft = i > 0 && candidates[i - 1].band == band;
        const bool hasRight = i + 1 < n && candidates[i + 1].band == band;
        const double e = error[i];
        const double left = hasLeft ? error[i - 1] : e;
        const double right = hasRight ? error[i + 1] : e;
        const bool peak = e > 0.0 && e >= left && e >= right;
        const bool trough = e < 0.0 && e <= left && e <= right;
        if (!peak && !trough)
            continue;
        Extremum here{candidates[i], e};
        if (refine && (hasLeft || hasRight))
            here = Refine(ref, bands, evenLength, candidates[hasLeft ? i - 1 : i].omega,
                          candidates[hasRight ? i + 1 : i].omega, here);
        // Of neighbours with the same sign, the larger stays.
        if (!found.empty() && (found.back().error > 0.0) == (here.error > 0.0))
        {
            if (std::fabs(here.error) > std::fabs(found.back().error))
                found.back() = here;
            continue;
        }
        found.push_back(here);
    }
    return found;
}

// Keeps exactly `wanted` alternating extrema, dropping the smallest ones.
void Thin(std::vector<Extremum>& extrema, std::size_t wanted)
{
    while (extrema.size() > wanted)
    {
        if (extrema.size() == wanted + 1)
        {
            if (std::fabs(extrema.front().error) < std::fabs(extrema.back().error))
                extrema.erase(extrema.begin());
            else
                extrema.pop_back();
            continue;
        }
        std::size_t smallest = 0;
        for (std::size_t i = 1; i < extrema.size(); ++i)
            if (std::fabs(extrema[i].error) < std::fabs(extrema[smallest].error))
                smallest = i;
        if (smallest == 0 || smallest + 1 == extrema.size())
        {
            extrema.erase(extrema.begin() + static_cast<std::ptrdiff_t>(smallest));
            continue;
        }
        // Its two neighbours have the same sign: the larger of them stays.
        const std::size_t drop =
            std::fabs(extrema[smallest - 1].error) < std::fabs(extrema[smallest + 1].error)
                ? smallest - 1
                : smallest + 1;
        extrema.erase(extrema.begin() + static_cast<std::ptrdiff_t>(std::max(drop, smallest)));
        extrema.erase(extrema.begin() + static_cast<std::ptrdiff_t>(std::min(drop, smallest)));
    }
}

// The grid and the reference's points in one list of increasing frequency: a reference point
// can lie between grid points, in a lobe narrower than the grid's spacing.
void Merge(const std::vector<Point>& grid, const std::vector<Point>& set,
           std::vector<Point>& candidates)
{
    candidates.clear();
    std::size_t j = 0;
    for (const Point& g : grid)
    {
        while (j < set.size() && set[j].omega < g.omega)
            candidates.push_back(set[j++]);
        if (j < set.size() && set[j].omega == g.omega)
            ++j;
        candidates.push_back(g);
    }
    while (j < set.size())
        candidates.push_back(set[j++]);
}

// Exchanges the reference `set` (r + 1 points of the grid's bands) until its errors level out.
// False when they do not, within kMaxIterations.
bool Exchange(const std::vector<Point>& grid, const std::vector<RemezBand>& bands, int32_t r,
              bool even, std::vector<Point>& set)
{
    std::vector<Point> candidates;
    std::vector<double> error;
    Reference ref;
    bool settled = false;
    double worst = 0.0;
    for (int32_t iteration = 0; iteration < kMaxIterations; ++iteration)
    {
        ref = Solve(set, set.size());
        if (!std::isfinite(ref.delta))
            return false;
        Merge(grid, set, candidates);
        error.resize(candidates.size());
        for (std::size_t i = 0; i < candidates.size(); ++i)
            error[i] = ErrorAt(ref, candidates[i]);
        // Refined peaks only matter once the reference is close to the optimum (the grid's own
        // extrema lead there for a third of the work).
        const bool refine = worst > 0.0 && worst - std::fabs(ref.delta) <= 0.1 * worst;
        std::vector<Extremum> extrema = FindExtrema(ref, bands, even, candidates, error, refine);
        const bool refined = refine;
        worst = 0.0;
        for (const Extremum& e : extrema)
            worst = std::max(worst, std::fabs(e.error));
        // A reference whose errors are all at least |δ| exists (the old one); smaller extrema
        // are not candidates.
        const double level = std::fabs(ref.delta) * (1.0 - 1e-9);
        std::vector<Extremum> large;
        for (const Extremum& e : extrema)
        {
            if (std::fabs(e.error) < level)
                continue;
            if (large.empty() || (large.back().error > 0.0) != (e.error > 0.0))
                large.push_back(e);
            else if (std::fabs(e.error) > std::fabs(large.back().error))
                large.back() = e;
        }
        if (large.size() < static_cast<std::size_t>(r + 1))
            large = extrema;
        if (large.size() < static_cast<std::size_t>(r + 1))
            break;
        Thin(large, static_cast<std::size_t>(r + 1));
        for (std::size_t k = 0; k < large.size(); ++k)
            set[k] = large[k].point;
        if (refined && worst - std::fabs(ref.delta) <= 1e-6 * worst)
        {
            settled = true;
            break;
        }
    }
    return settled || worst - std::fabs(ref.delta) <= 1e-3 * worst;
}

// Taps from the amplitude at N equally spaced frequencies (an inverse DFT of a real,
// symmetric spectrum): h[n] = (1/N)·(A(0) + 2 Σ_k A(2πk/N)·cos(2πk(n - (N-1)/2)/N)). The
// angle is πk(2n - N + 1)/N, its cosine taken from a table of 2N values.
void TapsFromReference(const Reference& ref, int32_t length, std::vector<double>& taps)
{
    const bool even = length % 2 == 0;
    const int32_t N = length;
    std::vector<double> cosine(static_cast<std::size_t>(2 * N));
    for (int32_t i = 0; i < 2 * N; ++i)
        cosine[static_cast<std::size_t>(i)] =
            std::cos(kPi * static_cast<double>(i) / static_cast<double>(N));
    // Frequencies k = 1 .. last; for even N the amplitude at half the rate is 0.
    const int32_t last = even ? N / 2 - 1 : (N - 1) / 2;
    std::vector<double> amplitude(static_cast<std::size_t>(last + 1));
    for (int32_t k = 0; k <= last; ++k)
    {
        const double w = 2.0 * kPi * static_cast<double>(k) / static_cast<double>(N);
        const double c = even ? std::cos(0.5 * w) : 1.0;
        amplitude[static_cast<std::size_t>(k)] = c * Interpolate(ref, std::cos(w));
    }
    taps.assign(static_cast<std::size_t>(N), 0.0);
    for (int32_t n = 0; n < N; ++n)
    {
        double sum = amplitude[0];
        for (int32_t k = 1; k <= last; ++k)
        {
            const int64_t m = static_cast<int64_t>(k) * (2 * n - N + 1);
            const int64_t i = ((m % (2 * N)) + 2 * N) % (2 * N);
            sum +=
                2.0 * amplitude[static_cast<std::size_t>(k)] * cosine[static_cast<std::size_t>(i)];
        }
        taps[static_cast<std::size_t>(n)] = sum / static_cast<double>(N);
    }
    // Exactly symmetric.
    for (int32_t n = 0; n < N / 2; ++n)
    {
        const double mean =
            0.5 * (taps[static_cast<std::size_t>(n)] + taps[static_cast<std::size_t>(N - 1 - n)]);
        taps[static_cast<std::size_t>(n)] = mean;
        taps[static_cast<std::size_t>(N - 1 - n)] = mean;
    }
}

} // namespace

RemezResult DesignRemez(int32_t length, const std::vector<RemezBand>& bands,
                        std::vector<double>& taps, double* peakError,
                        std::vector<double>* reference)
{
    if (length < 2 || length > kMaxRemezTaps)
        return RemezResult::BadLength;
    const bool even = length % 2 == 0;
    if (!BandsUsable(bands, even))
        return RemezResult::BadBands;
    // r cosine terms: P has degree r - 1; the reference holds r + 1 points.
    const int32_t r = even ? length / 2 : (length - 1) / 2 + 1;
    const std::vector<Point> grid = MakeGrid(bands, r, even);
    const auto gridSize = static_cast<int64_t>(grid.size());
    if (gridSize < r + 1)
        return RemezResult::BadBands;

    std::vector<Point> set = StartingReference(grid, bands, r, even, reference);
    if (!Exchange(grid, bands, r, even, set))
        return RemezResult::NoConvergence;
    const Reference ref = Solve(set, set.size() - 1);
    TapsFromReference(ref, length, taps);
    if (peakError != nullptr)
        *peakError = std::fabs(ref.delta);
    if (reference != nullptr)
    {
        reference->resize(set.size());
        for (std::size_t k = 0; k < set.size(); ++k)
            (*reference)[k] = set[k].omega / (2.0 * kPi);
    }
    return RemezResult::Ok;
}

} // namespace sigkit::dsp
