#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// The oscillator's phase steps, shared by every variant of the oscillate kernel.
namespace sigkit::kernels {

// The oscillator's phases: p = increment + p, wrapped once by ±wrap. Where the phase certainly
// stays inside (-wrap, wrap) for a run of steps, those steps are taken without the tests (which
// would all fail), so that the run is a plain chain of adds: every add of |increment| moves the
// phase by at most |increment| plus half a unit in the last place (below 1e-15 while |p| < 16),
// so k steps from p stay below p + k·|increment| + k·1e-15.
// Result: the phase after the last step.
static inline double AdvancePhases(double phase, double increment, double wrap, int32_t n,
                                   double* phases)
{
    constexpr double kMargin = 1e-9;       // far above the roundings of a run
    constexpr int32_t kLongestRun = 65536; // 65536 roundings stay below 1e-10
    const double step = std::fabs(increment);
    // An oscillator that wraps within 8 steps gains nothing from runs: their set-up costs more
    // than the tests it saves.
    const bool runs = step > 0.0 && step < 0.125 * wrap && wrap < 8.0;
    double p = phase;
    for (int32_t i = 0; i < n;)
    {
        if (runs && p > -wrap && p < wrap)
        {
            // Steps that end short of the wrap limit by more than the margin and two steps.
            const double room = increment > 0.0 ? wrap - p : p + wrap;
            const double safe = (room - kMargin) / step - 2.0;
            if (safe >= 1.0)
            {
                const auto run = static_cast<int32_t>(std::min(
                    std::min(safe, static_cast<double>(kLongestRun)), static_cast<double>(n - i)));
                for (int32_t k = 0; k < run; ++k)
                {
                    p = increment + p;
                    phases[i + k] = p;
                }
                i += run;
            }
        }
        // A few steps with the tests, across the wrap.
        const int32_t tested = std::min(4, n - i);
        for (int32_t k = 0; k < tested; ++k)
        {
            p = increment + p;
            if (p >= wrap)
                p = p - wrap;
            else if (p <= -wrap)
                p = p + wrap;
            phases[i + k] = p;
        }
        i += tested;
    }
    return p;
}

// Whether every phase AdvancePhases gives from here lies inside (-wrap, wrap), well below the
// fast form's kPhaseLimit (SinCosApprox.h), so that the test against that limit may be left
// out: a phase inside the wrap plus a step shorter than it is wrapped back inside at once (the
// subtraction of wrap is exact there). False for NaN and infinities.
static inline bool PhasesStayInside(double phase, double increment, double wrap)
{
    return std::fabs(phase) < wrap && std::fabs(increment) < wrap && wrap <= 0x1p19;
}

} // namespace sigkit::kernels
