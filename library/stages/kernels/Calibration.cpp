#include "stages/kernels/Calibration.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace sigkit::kernels {

namespace {

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool NarrowWinsATrial(const std::function<void()>& narrow, const std::function<void()>& wide)
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

} // namespace

bool KnownFullWidth(const char* vendor, uint32_t family, uint32_t model)
{
    if (vendor == nullptr || std::strcmp(vendor, "AuthenticAMD") != 0)
        return false;
    return family == 0x1A && (model <= 0x1F || (model >= 0x40 && model <= 0x4F));
}

bool ThisProcessorKnownFullWidth()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d) == 0)
        return false;
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    if (__get_cpuid(1, &a, &b, &c, &d) == 0)
        return false;
    const uint32_t baseFamily = (a >> 8) & 0xFu;
    const uint32_t family = baseFamily == 0xFu ? baseFamily + ((a >> 20) & 0xFFu) : baseFamily;
    const uint32_t model =
        baseFamily >= 0x6u ? ((a >> 4) & 0xFu) | ((a >> 12) & 0xF0u) : (a >> 4) & 0xFu;
    return KnownFullWidth(vendor, family, model);
#else
    return false;
#endif
}

bool NarrowIsFaster(const std::function<void()>& narrow, const std::function<void()>& wide)
{
    static const bool fullWidth = ThisProcessorKnownFullWidth();
    if (fullWidth)
        return false;
    return NarrowWinsATrial(narrow, wide) && NarrowWinsATrial(narrow, wide);
}

} // namespace sigkit::kernels
