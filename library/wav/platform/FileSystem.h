#pragma once

#include "wav/TimeName.h"

namespace sigkit::platform {

// The current UTC date and time, to the second.
UtcTime CurrentUtcTime();

} // namespace sigkit::platform
