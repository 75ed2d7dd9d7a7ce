#pragma once

#include <cstddef>
#include <vector>

namespace sigtest {

// Amplitude of one frequency in a real signal (correlation with a complex exponential): a cosine
// of amplitude A at that frequency gives A.
double ToneAmplitude(const std::vector<float>& x, double frequency, double rate,
                     std::size_t skip = 0);

// Amplitude of one frequency in an interleaved complex signal (I, Q pairs): positive and
// negative frequencies are told apart.
double ComplexToneAmplitude(const std::vector<float>& iq, double frequency, double rate,
                            std::size_t skipPairs = 0);

// A real tone: amplitude · cos(2π f n / rate + phase), n = 0 .. count-1.
std::vector<float> RealTone(std::size_t count, double frequency, double rate, double amplitude,
                            double phase = 0.0);

// A complex tone, interleaved I, Q: amplitude · e^(j 2π f n / rate).
std::vector<float> ComplexTone(std::size_t pairs, double frequency, double rate, double amplitude);

// Root mean square of a signal, after skipping the first values.
double Rms(const std::vector<float>& x, std::size_t skip = 0);

} // namespace sigtest
