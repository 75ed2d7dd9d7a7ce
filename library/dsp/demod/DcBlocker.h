#pragma once

#include <cstdint>

namespace sigkit::dsp {

// The carrier of an AM envelope, apart from the audio on it. The carrier level c is the
// envelope through two one-pole low-passes in series, each of corner `corner` Hz; the audio is
// what is left, s = x - c: a high-pass whose gain at f is |1 - 1/(1 + jf/corner)²|, within
// 0.02 dB of 1 from 25 times the corner up (a corner of 4 Hz passes 100 Hz at +0.014 dB) with
// almost no phase shift there, and 0 at 0 Hz.
//
// So that a carrier present from the first sample gives no thump while the low-passes fill,
// c is the mean of every sample so far during the first rate/(2π·corner) samples after a reset
// (one time constant), and the low-passes start from that mean. The state is kept in double
// precision.
class DcBlocker
{
public:
    DcBlocker(double corner, double rate);
    void Reset();
    // n envelope samples in; the audio and the carrier level out (either may be x).
    void Process(const float* x, int32_t n, float* audio, float* carrier);

private:
    double pole = 0.0; // y += (1 - pole)·(x - y)
    int64_t warmup = 1;
    int64_t seen = 0;
    double sum = 0.0;
    double first = 0.0;
    double second = 0.0;
};

} // namespace sigkit::dsp
