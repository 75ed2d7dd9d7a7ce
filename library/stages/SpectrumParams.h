#pragma once

#include "Text.h"
#include "stages/filters/FilterDesign.h"

#include <cstdint>

namespace sigkit {

// The parameters of the two stages that reshape a spectrum without changing its band (IQ2R and
// SpInv): "ModeInp" ("Complex", else real), "RevIQ" ("On" exchanges I and Q of complex input),
// "ReSampl" and "Test" ("On" or off; no effect), "Quality" ("Medium", "High", else the lowest).
struct SpectrumParams
{
    int32_t testFlag = 0;
    int32_t complexInput = 1;
    int32_t revIQ = 0;
    int32_t resamplFlag = 0;
    int32_t qualityLevel = 0;

    // Other names are ignored.
    void Set(const char* name, const char* value)
    {
        const int32_t on = TextIs(value, "On") ? 1 : 0;
        if (TextIs(name, "RevIQ"))
            revIQ = on;
        else if (TextIs(name, "ModeInp"))
            complexInput = TextIs(value, "Complex") ? 1 : 0;
        else if (TextIs(name, "ReSampl"))
            resamplFlag = on;
        else if (TextIs(name, "Quality"))
            qualityLevel = QualityLevel(value);
        else if (TextIs(name, "Test"))
            testFlag = on;
    }
};

} // namespace sigkit
