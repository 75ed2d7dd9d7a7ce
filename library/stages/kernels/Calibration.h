#pragma once

#include <cstdint>
#include <functional>

// The dispatcher's measure of merit: which of two forms of the same work runs faster on this
// processor, the narrow one (AVX2) or the wide one (AVX-512). The forms give the same bits, so the
// answer changes the speed alone, never a result.
namespace sigkit::kernels {

// On a processor known to execute AVX-512 at the full width of its registers, the wide form:
// measured faster for every kernel there, so nothing is timed. Elsewhere (a processor whose
// AVX-512 units split each instruction into two halves, or one not known) each form runs once to
// warm the caches, then both run in turns kCalibrationRounds times, and the fastest run of each
// stands for it (a run that other work interrupts only gets slower); that trial is made twice,
// and the narrow form is taken only when it ran faster by more than kCalibrationMargin in both (a
// tie keeps the wide form, which needs fewer instructions for the same work). Each form should
// take some tens of microseconds: the whole calibration stays within a few milliseconds.
bool NarrowIsFaster(const std::function<void()>& narrow, const std::function<void()>& wide);

inline constexpr int kCalibrationRounds = 7;
inline constexpr double kCalibrationMargin = 0.03;

// Processors whose AVX-512 units are as wide as the registers, by vendor and family as CPUID
// reports them (the family and model with their extended parts added): AMD's family 1Ah server and
// desktop parts (models 00h-1Fh, 40h-4Fh). Their mobile parts, and family 19h (whose AVX-512
// runs in two halves), are timed.
bool KnownFullWidth(const char* vendor, uint32_t family, uint32_t model);
// KnownFullWidth for the processor this runs on.
bool ThisProcessorKnownFullWidth();

} // namespace sigkit::kernels
