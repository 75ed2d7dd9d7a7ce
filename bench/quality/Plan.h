#pragma once

// A test signal as a plan of segments in time: each a set of tones, either steady (faded in and
// out, analysed in its middle) or a probe (tones under one smooth envelope, whose known shape
// the delay fit looks for). The same plan stands for what goes in and for what should come
// out: a rate change keeps it as it is, a channel cut moves it to 0 Hz, a receiver's audio is
// its real part.
#include "Measures.h"
#include "Signal.h"

#include <functional>
#include <string>
#include <vector>

namespace sigquality {

struct Tone
{
    double freq = 0.0;      // Hz; signed in a complex signal
    double amplitude = 0.0; // peak
    double phase = 0.0;     // rad, at time 0 of the recording
};

enum class Shape
{
    Steady, // raised-cosine fades at both ends
    Probe,  // one Hann envelope over the whole segment
};

struct Segment
{
    std::string label;
    Shape shape = Shape::Steady;
    std::vector<Tone> tones;
    double start = 0.0;  // s
    double length = 0.0; // s
};

class Plan
{
public:
    double lead = 0.25; // s of silence before the first segment
    double tail = 0.25; // s after the last
    double fade = 0.01; // s, the fades of a steady segment
    double guard = 0.1; // s left out at either end of a steady segment by the analysis

    // Appends a segment after the last one.
    const Segment& Add(const std::string& label, Shape shape, std::vector<Tone> tones,
                       double length);
    const std::vector<Segment>& Segments() const { return segments; }
    const Segment* Find(const std::string& label) const;
    double Duration() const; // s

    // The analytic value at time t (s): each tone as amplitude e^(j (2 pi f t + phase)) under its
    // segment's envelope. A real signal is the real part.
    Complex At(double t) const;
    // The same for one segment alone.
    Complex SegmentAt(const Segment& segment, double t) const;
    // The segment's envelope at time t (0 outside it).
    double Envelope(const Segment& segment, double t) const;

    // Frames n = 0 .. round(Duration() * rate) - 1 at time n / rate, complex or real.
    std::vector<Complex> Render(double rate) const;
    Signal RenderSignal(double rate, bool complexOut) const;

    // The frames of an output at `rate` that show a steady segment's middle, the output being
    // `delay` s late. False when fewer than `minimum` frames of it are in the output.
    bool AnalysisFrames(const Segment& segment, double rate, double delay, std::size_t frames,
                        std::size_t& first, std::size_t& count, std::size_t minimum = 64) const;

    // What the probe segment should look like at an output, each tone weighted by `response`
    // (Hz -> complex gain; none: 1).
    Expected ProbeExpected(const Segment& probe,
                           const std::function<Complex(double)>& response = {}) const;

private:
    std::vector<Segment> segments;
};

// `count` fractions of [lo, hi), one in each of `count` equal parts, placed within its part at
// no common step: a probe made of them does not repeat itself within the lags the delay fit
// searches, as tones on a common grid would.
std::vector<double> SpreadFractions(std::size_t count, double lo, double hi);

// Tones at the given fractions of `scale` Hz, each of `amplitude`, with fixed phases spread
// over the turn (the same on every run); with `alternate`, every second tone has a negative
// frequency (for complex signals).
std::vector<Tone> ToneSet(const std::vector<double>& fractions, double scale, double amplitude,
                          bool alternate);

} // namespace sigquality
