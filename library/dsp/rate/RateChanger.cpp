#include "dsp/rate/RateChanger.h"

#include <algorithm>

namespace sigkit::dsp {

QualityRecipe RecipeFor(Quality quality)
{
    switch (quality)
    {
    case Quality::Low:
        return {80.0, 0.93, 0.004};
    case Quality::Medium:
        return {100.0, 0.93, 0.004};
    case Quality::High:
        return {120.0, 0.935, 0.004};
    case Quality::Best:
        return {140.0, 0.935, 0.004};
    }
    return {120.0, 0.935, 0.004};
}

std::unique_ptr<RateChanger> RateChanger::Create(double rateIn, double rateOut, int32_t channels,
                                                 Quality quality, RateStatus* status)
{
    const QualityRecipe recipe = RecipeFor(quality);
    std::unique_ptr<RateChanger> changer(new RateChanger());
    // (NaN rates pass through min and the products as NaN; PlanCascade refuses them.)
    const double half = 0.5 * std::min(rateIn, rateOut);
    changer->request = {
        rateIn,  rateOut, recipe.passFraction * half, half, recipe.attenuation, recipe.passRipple,
        channels};
    RateStatus result = RateStatus::Ok;
    changer->cascade = Multistage::Create(changer->request, &result);
    if (status != nullptr)
        *status = result;
    if (!changer->cascade)
        changer.reset();
    return changer;
}

} // namespace sigkit::dsp
