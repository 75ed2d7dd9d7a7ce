#pragma once

// The signals the quality table moves between its stimulus, the subjects under test and the
// measurements: interleaved float frames at a rate, and the double-precision complex view the
// measurements work on.
#include <complex>
#include <cstddef>
#include <vector>

namespace sigquality {

using Complex = std::complex<double>;

// Interleaved float frames. Two channels marked complex are one I/Q signal, I first; otherwise
// every channel is a real signal of its own.
struct Signal
{
    double rate = 0.0; // Hz, frames per second
    int channels = 1;
    bool complex = false;
    std::vector<float> samples;

    std::size_t Frames() const
    {
        return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
};

// Frames [first, first + count) of one channel as complex doubles: I + jQ for an I/Q signal,
// the real channel `channel` with a zero imaginary part otherwise. Frames past the end read 0.
std::vector<Complex> ChannelView(const Signal& s, std::size_t first, std::size_t count,
                                 int channel = 0);

// A signal of complex (I/Q) or real (the real parts) frames at `rate`, rounded to float.
Signal FromComplex(const std::vector<Complex>& x, double rate, bool complexOut);

} // namespace sigquality
