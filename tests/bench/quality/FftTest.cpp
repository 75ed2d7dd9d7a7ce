#include "Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace sigquality {
namespace {

std::vector<Complex> Pseudorandom(std::size_t n)
{
    std::vector<Complex> x(n);
    unsigned state = 2024u;
    for (Complex& v : x)
    {
        state = state * 1664525u + 1013904223u;
        const double a = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        state = state * 1664525u + 1013904223u;
        const double b = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        v = Complex(a, b);
    }
    return x;
}

TEST(Fft, AgreesWithTheDirectSumInDoublePrecision)
{
    for (std::size_t N : {1u, 2u, 8u, 64u, 1024u})
    {
        const std::vector<Complex> x = Pseudorandom(N);
        std::vector<Complex> X = x;
        Fft(X);
        for (std::size_t k = 0; k < N; ++k)
        {
            Complex sum{};
            for (std::size_t n = 0; n < N; ++n)
            {
                const double angle = -2.0 * std::numbers::pi * static_cast<double>((k * n) % N) /
                                     static_cast<double>(N);
                sum += x[n] * Complex(std::cos(angle), std::sin(angle));
            }
            // The direct sum in double is the reference; both round at about 1e-16 per term.
            EXPECT_NEAR(std::abs(X[k] - sum), 0.0, 1e-12) << "N " << N << " bin " << k;
        }
    }
}

TEST(Fft, InverseOfForwardGivesLengthTimesInput)
{
    const std::vector<Complex> x = Pseudorandom(4096);
    std::vector<Complex> y = x;
    Fft(y);
    Fft(y, true);
    for (std::size_t n = 0; n < x.size(); ++n)
        EXPECT_NEAR(std::abs(y[n] / 4096.0 - x[n]), 0.0, 1e-14);
}

TEST(Fft, NextPowerOfTwo)
{
    EXPECT_EQ(NextPowerOfTwo(0), 1u);
    EXPECT_EQ(NextPowerOfTwo(1), 1u);
    EXPECT_EQ(NextPowerOfTwo(5), 8u);
    EXPECT_EQ(NextPowerOfTwo(1024), 1024u);
    EXPECT_EQ(NextPowerOfTwo(1025), 2048u);
}

} // namespace
} // namespace sigquality
