#include "dsp/design/RemezGrid.h"

#include <algorithm>

namespace sigkit::dsp::remez {

namespace {

constexpr int32_t kGridDensity = 8;

} // namespace

bool BandsUsable(const std::vector<RemezBand>& bands, bool evenLength)
{
    if (bands.empty())
        return false;
    double previousHigh = -1.0;
    for (const RemezBand& band : bands)
    {
        if (!std::isfinite(band.low) || !std::isfinite(band.high) || !std::isfinite(band.desired) ||
            !std::isfinite(band.weight))
            return false;
        if (band.low < 0.0 || band.high > 0.5 || band.low > band.high || band.weight <= 0.0)
            return false;
        if (band.low <= previousHigh)
            return false;
        if (evenLength && band.high >= 0.5)
            return false;
        previousHigh = band.high;
    }
    return true;
}

std::vector<Point> MakeGrid(const std::vector<RemezBand>& bands, int32_t r, bool evenLength)
{
    double total = 0.0;
    for (const RemezBand& band : bands)
        total += band.high - band.low;
    const double points = static_cast<double>(kGridDensity) * static_cast<double>(r);
    std::vector<Point> grid;
    for (std::size_t b = 0; b < bands.size(); ++b)
    {
        const RemezBand& band = bands[b];
        const double width = band.high - band.low;
        int32_t count = total > 0.0 ? static_cast<int32_t>(std::ceil(points * width / total)) : 1;
        count = std::max(count, width > 0.0 ? 2 : 1);
        for (int32_t i = 0; i < count; ++i)
        {
            const double f = count == 1 ? band.low
                                        : band.low + width * static_cast<double>(i) /
                                                         static_cast<double>(count - 1);
            grid.push_back(PointAt(bands, static_cast<int32_t>(b), 2.0 * kPi * f, evenLength));
        }
    }
    return grid;
}

std::vector<Point> StartingReference(const std::vector<Point>& grid,
                                     const std::vector<RemezBand>& bands, int32_t r, bool even,
                                     const std::vector<double>* reference)
{
    const auto gridSize = static_cast<int64_t>(grid.size());
    std::vector<Point> set(static_cast<std::size_t>(r + 1));
    for (int32_t k = 0; k <= r; ++k)
        set[static_cast<std::size_t>(k)] = grid[static_cast<std::size_t>((k * (gridSize - 1)) / r)];
    if (reference != nullptr && reference->size() >= 2)
    {
        // The given frequencies, resampled to r + 1 points (linearly between neighbours), each
        // in the band that holds it or the nearest band edge.
        const std::vector<double>& old = *reference;
        const double last = static_cast<double>(old.size() - 1);
        for (int32_t k = 0; k <= r; ++k)
        {
            const double at = last * static_cast<double>(k) / static_cast<double>(r);
            const auto i = std::min(static_cast<std::size_t>(at), old.size() - 2);
            const double f = old[i] + (at - static_cast<double>(i)) * (old[i + 1] - old[i]);
            int32_t band = 0;
            double best = HUGE_VAL;
            double snapped = f;
            for (std::size_t b = 0; b < bands.size(); ++b)
            {
                const double clamped = std::clamp(f, bands[b].low, bands[b].high);
                if (std::fabs(clamped - f) < best)
                {
                    best = std::fabs(clamped - f);
                    band = static_cast<int32_t>(b);
                    snapped = clamped;
                }
            }
            set[static_cast<std::size_t>(k)] = PointAt(bands, band, 2.0 * kPi * snapped, even);
        }
        // Distinct and increasing, or the grid's start after all.
        bool increasing = true;
        for (std::size_t k = 1; k < set.size(); ++k)
            increasing = increasing && set[k].omega > set[k - 1].omega;
        if (!increasing)
            for (int32_t k = 0; k <= r; ++k)
                set[static_cast<std::size_t>(k)] =
                    grid[static_cast<std::size_t>((k * (gridSize - 1)) / r)];
    }
    return set;
}

} // namespace sigkit::dsp::remez
