#pragma once

#include <functional>

// The dispatcher's measure of merit: which of two forms of the same work runs faster on this
// processor. The forms give the same bits, so the answer changes the speed alone, never a result.
namespace sigkit::kernels {

// Each form runs once to warm the caches, then both run in turns kCalibrationRounds times; the
// fastest run of each stands for it (a run that other work interrupts only gets slower). Result:
// true when `narrow` ran faster than `wide` by more than kCalibrationMargin (a tie keeps the wide
// form, which needs fewer instructions for the same work). Each form should take some tens of
// microseconds: the whole calibration stays within a few milliseconds.
bool NarrowIsFaster(const std::function<void()>& narrow, const std::function<void()>& wide);

inline constexpr int kCalibrationRounds = 7;
inline constexpr double kCalibrationMargin = 0.03;

} // namespace sigkit::kernels
