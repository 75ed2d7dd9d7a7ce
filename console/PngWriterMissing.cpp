// sigrun built without libpng: pictures are refused with the reason, everything else works.
#include "PngWriter.h"

namespace sigrun {

namespace {

constexpr const char* kNoPng =
    "this sigrun was built without libpng, so it writes no pictures (install libpng-dev and "
    "build it again)";

} // namespace

bool WritePng(std::FILE*, int32_t, int32_t, const uint8_t*, std::string& error)
{
    error = kNoPng;
    return false;
}

bool WritePngFile(const std::string&, int32_t, int32_t, const uint8_t*, std::string& error)
{
    error = kNoPng;
    return false;
}

} // namespace sigrun
