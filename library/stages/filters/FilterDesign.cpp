#include "stages/filters/FilterDesign.h"

#include "Text.h"

#include <cmath>

namespace sigkit {

namespace {

// The design's own values of π and of k·2π (ten decimals): they fix the taps' bits.
constexpr double kDesignPi = 3.1415926536;
constexpr double kC1 = 6.2831853072;
constexpr double kC2 = 12.5663706144;
constexpr double kC3 = 18.8495559216;
constexpr double kC4 = 25.1327412288;

// Window value at tap i, counted from the outer edge, of an N-tap filter (double precision).
double WindowValue(FilterWindow window, int32_t i, int32_t N, float beta)
{
    const double P = static_cast<double>(static_cast<float>(N - 1));
    const double x = static_cast<double>(i);
    const auto c = [&](double k) { return std::cos(k * x / P); };
    switch (window)
    {
    case kWindowTriangular: {
        const float r1 = static_cast<float>(N - 1 - 2 * i) / static_cast<float>(N - 1);
        return 1.0 - static_cast<double>(r1);
    }
    case kWindowHann:
        return 0.5 - 0.5 * c(kC1);
    case kWindowHamming:
        return 0.54 - 0.46 * c(kC1);
    case kWindowBlackman:
        return 0.42 - 0.5 * c(kC1) + 0.08 * c(kC2);
    case kWindowNuttall:
        return 0.355768 - 0.487396 * c(kC1) + 0.144232 * c(kC2) - 0.012604 * c(kC3);
    case kWindowBlackmanNuttall:
        return 0.3635819 - 0.4891775 * c(kC1) + 0.1365995 * c(kC2) - 0.0106411 * c(kC3);
    case kWindowFlatTop:
        return 1.0 - 1.93 * c(kC1) + 1.29 * c(kC2) - 0.388 * c(kC3) + 0.032 * c(kC4);
    case kWindowBessel: {
        // The ordinary Bessel function J0 (not I0), as the window was defined.
        const double r = static_cast<double>(N - 1 - 2 * i) / static_cast<double>(N - 1);
        const double b = static_cast<double>(beta);
        return std::fabs(::j0(b * std::sqrt(1.0 - r * r))) / std::fabs(::j0(b));
    }
    default:
        return 1.0;
    }
}

bool IsWindowed(FilterWindow window)
{
    return window >= kWindowTriangular && window <= kWindowBessel;
}

} // namespace

float Sinc(float x)
{
    return x == 0.0f ? 1.0f : std::sin(x) / x;
}

int32_t DesignLowPass(float fc, float beta, FilterWindow window, int32_t N, float* out)
{
    if (out == nullptr || N < 1 || N % 2 == 0)
        return 0;
    const int32_t K = N / 2;
    out[K] = fc; // the centre is never windowed
    if (K < 1)
        return 1;
    const double a = static_cast<double>(fc) * kDesignPi;
    for (int32_t i = 0; i < K; ++i) // outer taps first
    {
        const int32_t m = K - i; // distance from the centre
        const auto x = static_cast<float>(static_cast<double>(m) * a);
        const float s = Sinc(x) * fc;
        const float v =
            IsWindowed(window)
                ? static_cast<float>(static_cast<double>(s) * WindowValue(window, i, N, beta))
                : s;
        out[i] = v;
        out[N - 1 - i] = v;
    }
    return 1;
}

int32_t DesignHighPass(float fc, float beta, FilterWindow window, int32_t N, float* out)
{
    // The low-pass is designed in place and inverted tap by tap: the same values as designing it
    // elsewhere first.
    if (DesignLowPass(fc, beta, window, N, out) == 0)
        return 0;
    const int32_t K = N / 2;
    for (int32_t k = 0; k < K; ++k)
    {
        out[k] = 0.0f - out[k];
        out[N - 1 - k] = 0.0f - out[N - 1 - k];
    }
    out[K] = 1.0f - out[K];
    return 1;
}

namespace {

// t[150 + m] for odd m = 1, 3, ..., 149; nine significant digits give the exact floats.
constexpr float kHilbertOdd[75] = {
    0.636557102f,    0.212018609f,    0.127010852f,    0.0905077457f,   0.0701731816f,
    0.0571882874f,   0.0481612682f,   0.0415093489f,   0.0363946371f,   0.0323320851f,
    0.0290214717f,   0.0262670275f,   0.0239356682f,   0.0219337698f,   0.0201935619f,
    0.0186647866f,   0.01730939f,     0.0160980374f,   0.0150077529f,   0.0140202902f,
    0.0131209763f,   0.012297879f,    0.0115411999f,   0.0108428188f,   0.0101959473f,
    0.0095948698f,   0.00903473981f,  0.00851142127f,  0.00802136213f,  0.00756149506f,
    0.00712915836f,  0.00672202837f,  0.00633807015f,  0.00597549044f,  0.00563270412f,
    0.00530830352f,  0.00500103319f,  0.0047097709f,   0.00443350663f,  0.00417133095f,
    0.00392241962f,  0.00368602457f,  0.00346146408f,  0.00324811437f,  0.0030454027f,
    0.00285280216f,  0.00266982499f,  0.00249601994f,  0.00233096676f,  0.00217427313f,
    0.00202557212f,  0.00188451924f,  0.00175078993f,  0.00162407756f,  0.00150409178f,
    0.00139055715f,  0.00128321105f,  0.00118180306f,  0.00108609337f,  0.000995852519f,
    0.000910859671f, 0.000830902427f, 0.000755776127f, 0.000685282983f, 0.00061923184f,
    0.000557437597f, 0.000499720743f, 0.000445907266f, 0.000395828014f, 0.000349318696f,
    0.000306219503f, 0.000266374991f, 0.000229633792f, 0.000195848654f, 0.000164876168f,
};

constexpr std::array<float, kHilbertTapCount> BuildHilbertTaps()
{
    std::array<float, kHilbertTapCount> taps{};
    for (int32_t m = 1; m <= kHilbertCentre; m += 2)
    {
        taps[kHilbertCentre + m] = kHilbertOdd[m / 2];
        taps[kHilbertCentre - m] = -kHilbertOdd[m / 2];
    }
    return taps;
}

constexpr std::array<float, kHilbertTapCount> kHilbertTaps = BuildHilbertTaps();

} // namespace

const std::array<float, kHilbertTapCount>& HilbertTaps()
{
    return kHilbertTaps;
}

int32_t QualityLevel(const char* word)
{
    if (TextIs(word, "Medium"))
        return 1;
    if (TextIs(word, "High"))
        return 2;
    return 0;
}

FilterDesignChoice QualityToDesign(int32_t level)
{
    switch (level)
    {
    case 1:
        return {kWindowBlackman, 301};
    case 2:
        return {kWindowNuttall, 1001};
    default:
        return {kWindowHamming, 101};
    }
}

FilterDesignChoice QualityToDesign(const char* word)
{
    return QualityToDesign(QualityLevel(word));
}

} // namespace sigkit
