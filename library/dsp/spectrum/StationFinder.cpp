#include "dsp/spectrum/StationFinder.h"

#include "dsp/spectrum/Decibels.h"
#include "dsp/spectrum/Units.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

namespace {

// Bins of a line's own width: the window's main lobe reaches 4 bins either side, so dips between
// parts of one signal narrower than this are the window's, not gaps.
constexpr int32_t kLobeBins = 4;
// A line's power lies within this many bins of its peak (the window's main lobe, all but 0.1 %).
constexpr int32_t kLineBins = 3;
// Wider than this, a station is more than one line.
constexpr double kNarrowBins = 6.0;
// The share of a station's power in its strongest line that makes it a carrier with sidebands.
constexpr double kCarrierShare = 0.3;
// Both sides of a station's middle hold power within this many dB of each other.
constexpr double kSymmetryDb = 6.0;
// A peak inside a region that rises this far above the valley towards a stronger one is a line
// of its own (in recordings whose range exceeds the window's, a strong line's skirts stand above
// the floor and join its neighbours)...
constexpr double kProminenceDb = 10.0;
// ...unless it lies where the window's sidelobes of the stronger one may reach (92 dB down).
constexpr double kSidelobeDb = 85.0;
// The skirts of the window's response to a line: 90 dB down 4 bins away, falling 6 dB an
// octave beyond (the 4-term Blackman-Harris window's sidelobes lie below this); a weaker line
// within 10 dB of a stronger one's skirts cannot be told from them.
constexpr double kSkirtDb = -90.0;
constexpr double kSkirtMarginDb = 10.0;
// The share of the band's power below which the floor is estimated (a fifth of the bins).
constexpr double kFloorQuantile = 0.2;
constexpr double kFloorQuantileZ = -0.8416; // the standard normal quantile at 0.2
// The chance that noise alone gives a station in one search.
constexpr double kFalseAlarm = 0.01;

struct Region
{
    int32_t lo = 0;
    int32_t hi = 0;
    int32_t peak = 0;
    bool splitBefore = false; // parted from the region before it at a valley
};

// The quantile of the mean of m independent exponential powers of mean 1, after Wilson and
// Hilferty: (1 - 1/(9m) + z / (3·sqrt(m)))³.
double MeanPowerQuantile(double m, double z)
{
    const double v = 1.0 - 1.0 / (9.0 * m) + z / (3.0 * std::sqrt(m));
    return v > 0.05 ? v * v * v : 0.05 * 0.05 * 0.05;
}

// Natural logarithm by this library's own arithmetic (to float precision), so that thresholds
// are the same on every processor.
double Ln(double x)
{
    return PowerToDb(x) / 4.3429448190325182765;
}

// The standard normal quantile for a small upper tail p (the asymptotic form).
double UpperTailZ(double p)
{
    const double t = std::sqrt(2.0 * -Ln(p));
    return t - (Ln(t * t) + Ln(12.566370614359172)) / (2.0 * t);
}

class Finder
{
public:
    Finder(const Spectra& s, const StationSearch& q) : spectra(s), search(q), p(s.averagePower) {}

    StationList Run();

private:
    void Estimate();
    std::vector<Region> Regions() const;
    void Split(Region whole, std::vector<Region>& out) const;
    float Db(int32_t i) const { return spectra.averageDb[static_cast<std::size_t>(i)]; }
    std::vector<std::vector<Region>> Group(const std::vector<Region>& regions) const;
    bool Symmetric(const std::vector<Region>& lines) const;
    void DropSkirts(const std::vector<int32_t>& peaks);
    bool Describe(const std::vector<Region>& group, Station& station) const;
    double PeakFraction(int32_t peak) const;
    StationKind Classify(const std::vector<Region>& group, int32_t peak, double total, double xLow,
                         double xHigh) const;
    double Signal(int32_t i) const { return std::max(p[static_cast<std::size_t>(i)] - floor, 0.0); }

    const Spectra& spectra;
    const StationSearch& search;
    const std::vector<double>& p;
    int32_t first = 0;
    int32_t last = -1;
    double floor = 0.0;
    double threshold = 0.0;
    StationList list;
};

StationList Finder::Run()
{
    if (spectra.Bins() < 16 || p.size() != spectra.averageDb.size() || spectra.transforms == 0)
        return list;
    first = std::isnan(search.lowHz) ? 0 : spectra.BinAt(search.lowHz);
    last = std::isnan(search.highHz) ? spectra.Bins() - 1 : spectra.BinAt(search.highHz);
    if (last - first < 15)
        return list;
    list.binHz = spectra.BinWidthHz();
    list.complex = spectra.complex;
    Estimate();
    if (!(floor > 0.0))
        return list;
    std::vector<int32_t> peaks;
    for (const std::vector<Region>& group : Group(Regions()))
    {
        Station station;
        if (Describe(group, station))
        {
            list.stations.push_back(station);
            peaks.push_back(spectra.BinAt(station.offsetHz));
        }
    }
    DropSkirts(peaks);
    std::stable_sort(list.stations.begin(), list.stations.end(),
                     [](const Station& a, const Station& b) { return a.levelDbfs > b.levelDbfs; });
    const auto keep = static_cast<std::size_t>(std::max(search.maxStations, 0));
    if (list.stations.size() > keep)
        list.stations.resize(keep);
    return list;
}

void Finder::Estimate()
{
    // The floor: a low quantile of the bins (stations may cover most of the rest), turned into
    // the mean of noise averaged over the transforms.
    std::vector<double> values(p.begin() + first, p.begin() + last + 1);
    const auto at = static_cast<std::size_t>(kFloorQuantile * static_cast<double>(values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at),
                     values.end());
    const double m = std::max(1.0, spectra.IndependentAverages());
    floor = values[at] / MeanPowerQuantile(m, kFloorQuantileZ);
    list.floorDbfs = PowerToDb(floor);

    // The threshold: what noise averaged over m transforms exceeds in one bin of a search only
    // with the chance kFalseAlarm.
    const double z = UpperTailZ(kFalseAlarm / static_cast<double>(values.size()));
    double db = PowerToDb(MeanPowerQuantile(m, z));
    db = std::max(db, 6.0);
    if (search.minAboveFloorDb > 0.0)
        db = search.minAboveFloorDb;
    list.thresholdDb = db;
    threshold = floor * DbToPower(db);
}

std::vector<Region> Finder::Regions() const
{
    std::vector<Region> regions;
    for (int32_t i = first; i <= last; ++i)
    {
        if (!(p[static_cast<std::size_t>(i)] > threshold))
            continue;
        if (!regions.empty() && i - regions.back().hi <= kLobeBins)
            regions.back().hi = i;
        else
            regions.push_back(Region{i, i, i});
    }
    std::vector<Region> lines;
    for (const Region& r : regions)
        Split(r, lines);
    return lines;
}

void Finder::Split(Region whole, std::vector<Region>& out) const
{
    // Parts still to look at, leftmost last; each is split at most once per look.
    std::vector<Region> pending{whole};
    while (!pending.empty())
    {
        Region r = pending.back();
        pending.pop_back();
        r.peak = r.lo;
        for (int32_t i = r.lo; i <= r.hi; ++i)
            if (p[static_cast<std::size_t>(i)] > p[static_cast<std::size_t>(r.peak)])
                r.peak = i;
        const float top = Db(r.peak);
        int32_t valley = -1;
        // Outward from the peak on each side: the lowest point so far, and a rise beyond it.
        for (int32_t direction : {1, -1})
        {
            int32_t low = r.peak;
            for (int32_t i = r.peak + direction; i >= r.lo && i <= r.hi && valley < 0;
                 i += direction)
            {
                if (Db(i) < Db(low))
                    low = i;
                else if (Db(i) - Db(low) >= kProminenceDb && Db(i) > top - kSidelobeDb)
                    valley = low;
            }
            if (valley >= 0)
                break;
        }
        if (valley < 0)
        {
            out.push_back(r);
            continue;
        }
        // The valley's bin goes with the side of the peak.
        Region left{r.lo, valley, 0, r.splitBefore};
        Region right{valley + 1, r.hi, 0, true};
        if (valley < r.peak)
        {
            left.hi = valley - 1;
            right.lo = valley;
        }
        if (left.hi < left.lo || right.hi < right.lo)
        {
            out.push_back(r);
            continue;
        }
        pending.push_back(right);
        pending.push_back(left);
    }
}

std::vector<std::vector<Region>> Finder::Group(const std::vector<Region>& regions) const
{
    // Neighbours join when the gap between them is small beside their widths, or when their
    // spacing repeats on a side (a comb of lines: a tone's sidebands, some missing).
    const std::size_t count = regions.size();
    std::vector<double> spacing(count > 0 ? count - 1 : 0);
    for (std::size_t i = 0; i + 1 < count; ++i)
        spacing[i] = regions[i + 1].peak - regions[i].peak;
    const double widest = std::max(8.0, spectra.Bins() / 6.0);
    const auto alike = [](double a, double b) {
        return std::fabs(a - b) <= std::max(2.0, 0.03 * std::max(a, b));
    };
    const auto repeats = [&](double d, double other) {
        return alike(d, other) || alike(d, 2.0 * other) || alike(2.0 * d, other);
    };
    std::vector<std::vector<Region>> groups;
    std::vector<bool> combLink(spacing.size(), false);
    for (std::size_t i = 0; i < spacing.size(); ++i)
    {
        const double d = spacing[i];
        const bool before = i > 0 && repeats(d, spacing[i - 1]);
        const bool after = i + 1 < spacing.size() && repeats(d, spacing[i + 1]);
        combLink[i] = d <= widest && (before || after);
    }
    std::vector<Region> current;
    bool comb = false;
    const auto flush = [&]() {
        if (current.empty())
            return;
        // A comb that is not alike on both sides is separate lines after all.
        if (comb && !Symmetric(current))
        {
            for (const Region& r : current)
                groups.push_back({r});
        }
        else
            groups.push_back(current);
        current.clear();
        comb = false;
    };
    for (std::size_t i = 0; i < count; ++i)
    {
        if (!current.empty())
        {
            const Region& prev = regions[i - 1];
            const int32_t gap = regions[i].lo - prev.hi - 1;
            const int32_t narrower = std::min(prev.hi - prev.lo, regions[i].hi - regions[i].lo) + 1;
            const bool close = !regions[i].splitBefore && gap <= std::max(kLobeBins, narrower / 4);
            if (!close && !combLink[i - 1])
                flush();
            else if (!close)
                comb = true;
        }
        current.push_back(regions[i]);
    }
    flush();
    return groups;
}

void Finder::DropSkirts(const std::vector<int32_t>& peaks)
{
    std::vector<Station> kept;
    for (std::size_t k = 0; k < list.stations.size(); ++k)
    {
        bool skirt = false;
        for (std::size_t j = 0; j < list.stations.size() && !skirt; ++j)
        {
            const double stronger = list.stations[j].peakDbfs;
            if (j == k || stronger <= list.stations[k].peakDbfs)
                continue;
            const double bins = std::max(4.0, std::fabs(static_cast<double>(peaks[j] - peaks[k])));
            const double octaves = PowerToDb(bins / 4.0) / PowerToDb(2.0);
            const double reach = stronger + kSkirtDb - 6.02 * octaves + kSkirtMarginDb;
            skirt = list.stations[k].peakDbfs < reach;
        }
        if (!skirt)
            kept.push_back(list.stations[k]);
    }
    list.stations = kept;
}

bool Finder::Symmetric(const std::vector<Region>& lines) const
{
    // Mirror each line about the power-weighted middle: most of the power must find a partner of
    // like power on the other side.
    double total = 0.0;
    double moment = 0.0;
    std::vector<double> power(lines.size());
    for (std::size_t k = 0; k < lines.size(); ++k)
    {
        for (int32_t i = lines[k].lo; i <= lines[k].hi; ++i)
            power[k] += Signal(i);
        total += power[k];
        moment += power[k] * lines[k].peak;
    }
    if (!(total > 0.0))
        return false;
    const double middle = moment / total;
    double matched = 0.0;
    for (std::size_t k = 0; k < lines.size(); ++k)
    {
        const double mirror = 2.0 * middle - lines[k].peak;
        for (std::size_t j = 0; j < lines.size(); ++j)
        {
            const double tolerance = std::max(3.0, 0.03 * std::fabs(mirror - middle));
            if (std::fabs(lines[j].peak - mirror) <= tolerance && power[j] > 0.0 &&
                std::fabs(PowerToDb(power[k] / power[j])) <= 10.0)
            {
                matched += power[k];
                break;
            }
        }
    }
    return matched >= 0.6 * total;
}

bool Finder::Describe(const std::vector<Region>& group, Station& s) const
{
    const int32_t lo = group.front().lo;
    const int32_t hi = group.back().hi;
    int32_t peak = group.front().peak;
    for (const Region& r : group)
        if (p[static_cast<std::size_t>(r.peak)] > p[static_cast<std::size_t>(peak)])
            peak = r.peak;
    double total = 0.0;
    for (int32_t i = lo; i <= hi; ++i)
        total += Signal(i);
    if (!(total > 0.0))
        return false;

    // The occupied band: 0.5 % of the power below it, 0.5 % above; each bin's power taken as
    // spread evenly over its width.
    const auto position = [&](double share) {
        const double target = share * total;
        double sum = 0.0;
        for (int32_t i = lo; i <= hi; ++i)
        {
            const double here = Signal(i);
            if (sum + here >= target && here > 0.0)
                return i - 0.5 + (target - sum) / here;
            sum += here;
        }
        return hi + 0.5;
    };
    const double xLow = position(0.005);
    const double xHigh = position(0.995);
    const double width = spectra.BinWidthHz();
    const double bin0 = spectra.BinHz(0);
    s.lowHz = bin0 + xLow * width;
    s.highHz = bin0 + xHigh * width;
    s.bandwidthHz = (xHigh - xLow) * width;
    const double middle = 0.5 * (xLow + xHigh);

    const double peakPower = p[static_cast<std::size_t>(peak)];
    s.peakDbfs = PowerToDb(peakPower);
    s.aboveFloorDb = s.peakDbfs - PowerToDb(floor);
    // A tone's power spreads over the window's equivalent noise bandwidth of bins.
    s.levelDbfs = PowerToDb(total / spectra.enbwBins);

    s.kind = Classify(group, peak, total, xLow, xHigh);

    const bool carrier =
        s.kind == StationKind::Carrier || s.kind == StationKind::Cw || s.kind == StationKind::Am;
    s.offsetHz = carrier ? spectra.BinHz(peak) + PeakFraction(peak) * width : bin0 + middle * width;
    return true;
}

// The carrier's frequency between bins: a parabola through the peak and its neighbours (dB).
double Finder::PeakFraction(int32_t peak) const
{
    double fraction = 0.0;
    if (peak > 0 && peak + 1 < spectra.Bins())
    {
        const double a = spectra.averageDb[static_cast<std::size_t>(peak - 1)];
        const double b = spectra.averageDb[static_cast<std::size_t>(peak)];
        const double c = spectra.averageDb[static_cast<std::size_t>(peak + 1)];
        const double curve = a - 2.0 * b + c;
        if (curve < 0.0)
            fraction = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
    }
    return fraction;
}

// What a station is, from the shape of its power over the band [xLow, xHigh] (in bins).
StationKind Finder::Classify(const std::vector<Region>& group, int32_t peak, double total,
                             double xLow, double xHigh) const
{
    const int32_t lo = group.front().lo;
    const int32_t hi = group.back().hi;
    const double middle = 0.5 * (xLow + xHigh);
    const double peakPower = p[static_cast<std::size_t>(peak)];
    double line = 0.0;
    for (int32_t i = std::max(lo, peak - kLineBins); i <= std::min(hi, peak + kLineBins); ++i)
        line += Signal(i);
    double below = 0.0;
    double above = 0.0;
    for (int32_t i = lo; i <= hi; ++i)
    {
        if (i < middle - kLineBins)
            below += Signal(i);
        else if (i > middle + kLineBins)
            above += Signal(i);
    }
    const bool symmetric =
        below > 0.0 && above > 0.0 && std::fabs(PowerToDb(below / above)) <= kSymmetryDb;
    const double share = line / total;
    const double spanBins = xHigh - xLow;

    if (spanBins <= kNarrowBins)
    {
        // One line: steady, or keyed. A steady line of power C over noise of power N per bin
        // varies from transform to transform by sqrt(2CN + N²) / (C + N).
        const double c = std::max(peakPower - floor, 0.0);
        const double expected = std::sqrt(2.0 * c * floor + floor * floor) / (c + floor);
        const double measured = spectra.variation[static_cast<std::size_t>(peak)];
        return measured > std::max(0.4, 2.0 * expected) ? StationKind::Cw : StationKind::Carrier;
    }
    if (share >= kCarrierShare && symmetric &&
        std::fabs(peak - middle) <= std::max(2.0, 0.1 * spanBins))
        return StationKind::Am;
    if (share < kCarrierShare && symmetric && spanBins >= 8.0)
        return StationKind::Fm;
    return StationKind::Unknown;
}

} // namespace

StationList FindStations(const Spectra& spectra, const StationSearch& search)
{
    return Finder(spectra, search).Run();
}

} // namespace sigkit
