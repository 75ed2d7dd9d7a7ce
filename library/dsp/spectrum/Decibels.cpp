#include "dsp/spectrum/Decibels.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

namespace {

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kDbPerNeper = 4.3429448190325182765; // 10 / ln 10
constexpr double kSqrtHalf = 0.70710678118654752440;

} // namespace

float PowerToDb(double power)
{
    if (!(power > 1e-30))
        return kSilenceDb;
    if (power > 1e300)
        power = 1e300;
    int exponent = 0;
    double m = std::frexp(power, &exponent); // exact: power = m·2^exponent, m in [0.5, 1)
    if (m < kSqrtHalf)
    {
        m *= 2.0;
        exponent -= 1;
    }
    // ln m = 2·atanh(s), s = (m - 1) / (m + 1), |s| <= 0.1716: the odd series to s^19.
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    double sum = 1.0 / 19.0;
    for (int k = 17; k >= 1; k -= 2)
        sum = sum * s2 + 1.0 / k;
    const double lnM = 2.0 * s * sum;
    const double ln = lnM + static_cast<double>(exponent) * kLn2;
    return static_cast<float>(ln * kDbPerNeper);
}

double DbToPower(double db)
{
    if (std::isnan(db))
        return 0.0;
    db = std::clamp(db, -3000.0, 3000.0);
    // 10^(db/10) = 2^(whole + f), f in [-0.5, 0.5]: 2^f = e^(f·ln 2) by its series to the 20th
    // power (the terms beyond are below 1e-22), then scaled by 2^whole exactly.
    const double x = db / kDbPerNeper / kLn2;
    const double whole = std::nearbyint(x);
    const double y = (x - whole) * kLn2;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 20; ++k)
    {
        term = term * y / k;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(whole));
}

} // namespace sigkit
