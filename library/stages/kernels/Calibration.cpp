#include "stages/kernels/Calibration.h"

#include <algorithm>
#include <chrono>

namespace sigkit::kernels {

namespace {

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

bool NarrowIsFaster(const std::function<void()>& narrow, const std::function<void()>& wide)
{
    narrow();
    wide();
    double narrowBest = Seconds(narrow);
    double wideBest = Seconds(wide);
    for (int round = 1; round < kCalibrationRounds; ++round)
    {
        wideBest = std::min(wideBest, Seconds(wide));
        narrowBest = std::min(narrowBest, Seconds(narrow));
    }
    return narrowBest * (1.0 + kCalibrationMargin) < wideBest;
}

} // namespace sigkit::kernels
