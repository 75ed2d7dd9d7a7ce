#include "stages/StageParams.h"

#include "stages/filters/PolyphaseResampler.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace sigkit {

float ReadNumber(const char* value)
{
    const double parsed = std::strtod(value != nullptr ? value : "", nullptr);
    if (std::isnan(parsed))
        return NAN;
    if (parsed > FLT_MAX)
        return INFINITY;
    if (parsed < -FLT_MAX)
        return -INFINITY;
    return static_cast<float>(parsed);
}

bool RateUsable(float rate)
{
    return std::isfinite(rate) && rate > 0.0f;
}

bool RatesUsable(float rateIn, float rateOut)
{
    return RateUsable(rateIn) && RateUsable(rateOut) &&
           PolyphaseResampler::UsableRatio(rateIn / rateOut);
}

} // namespace sigkit
