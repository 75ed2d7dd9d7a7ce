#pragma once

#include "dsp/design/Remez.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// The exchange's frequency grid and its points, shared by the parts of the Remez design.
namespace sigkit::dsp::remez {

inline constexpr double kPi = 3.14159265358979323846;

// The approximation problem in x = cos(ω): the amplitude is c(ω)·P(x) with P a polynomial of
// degree r - 1 (c = 1 for odd lengths, cos(ω/2) for even ones), so P must follow desired/c with
// the weight weight·c.
struct Point
{
    double omega = 0.0;
    double x = 0.0;
    double desired = 0.0;
    double weight = 0.0;
    int32_t band = 0;
};

inline Point PointAt(const std::vector<RemezBand>& bands, int32_t band, double omega,
                     bool evenLength)
{
    const double c = evenLength ? std::cos(0.5 * omega) : 1.0;
    const RemezBand& b = bands[static_cast<std::size_t>(band)];
    return {omega, std::cos(omega), b.desired / c, b.weight * c, band};
}

// Whether the bands can be designed for: finite, within [0, 0.5], increasing without overlap,
// positive weights, and short of 0.5 for even lengths.
bool BandsUsable(const std::vector<RemezBand>& bands, bool evenLength);

// kGridDensity points per degree of freedom, spread over the bands by their widths, band edges
// included, in increasing frequency.
std::vector<Point> MakeGrid(const std::vector<RemezBand>& bands, int32_t r, bool evenLength);

// The exchange's first reference: r + 1 points spread evenly over the grid, or those of
// `reference` (see DesignRemez) when it holds at least two frequencies.
std::vector<Point> StartingReference(const std::vector<Point>& grid,
                                     const std::vector<RemezBand>& bands, int32_t r, bool even,
                                     const std::vector<double>* reference);

} // namespace sigkit::dsp::remez
