#include "wav/platform/FileSystem.h"

#include <ctime>

namespace sigkit::platform {

UtcTime CurrentUtcTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
}

} // namespace sigkit::platform
