#include "Plan.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sigquality {

const Segment& Plan::Add(const std::string& label, Shape shape, std::vector<Tone> tones,
                         double length)
{
    Segment s;
    s.label = label;
    s.shape = shape;
    s.tones = std::move(tones);
    s.start = segments.empty() ? lead : segments.back().start + segments.back().length;
    s.length = length;
    segments.push_back(std::move(s));
    return segments.back();
}

const Segment* Plan::Find(const std::string& label) const
{
    for (const Segment& s : segments)
        if (s.label == label)
            return &s;
    return nullptr;
}

double Plan::Duration() const
{
    return (segments.empty() ? lead : segments.back().start + segments.back().length) + tail;
}

double Plan::Envelope(const Segment& segment, double t) const
{
    const double u = t - segment.start;
    if (u < 0.0 || u > segment.length)
        return 0.0;
    if (segment.shape == Shape::Probe)
        return 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * u / segment.length);
    const double edge = std::min(u, segment.length - u);
    if (edge >= fade)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * edge / fade);
}

Complex Plan::SegmentAt(const Segment& segment, double t) const
{
    const double envelope = Envelope(segment, t);
    if (envelope == 0.0)
        return {};
    Complex sum{};
    for (const Tone& tone : segment.tones)
    {
        double turns = tone.freq * t;
        turns -= std::floor(turns);
        const double angle = 2.0 * std::numbers::pi * turns + tone.phase;
        sum += tone.amplitude * Complex(std::cos(angle), std::sin(angle));
    }
    return envelope * sum;
}

Complex Plan::At(double t) const
{
    // Segments follow one another: find the one that holds t.
    auto it = std::upper_bound(segments.begin(), segments.end(), t,
                               [](double v, const Segment& s) { return v < s.start; });
    if (it == segments.begin())
        return {};
    return SegmentAt(*(it - 1), t);
}

std::vector<Complex> Plan::Render(double rate) const
{
    const auto frames = static_cast<std::size_t>(std::llround(Duration() * rate));
    std::vector<Complex> x(frames);
    for (std::size_t n = 0; n < frames; ++n)
        x[n] = At(static_cast<double>(n) / rate);
    return x;
}

Signal Plan::RenderSignal(double rate, bool complexOut) const
{
    return FromComplex(Render(rate), rate, complexOut);
}

bool Plan::AnalysisFrames(const Segment& segment, double rate, double delay, std::size_t frames,
                          std::size_t& first, std::size_t& count, std::size_t minimum) const
{
    // Times that land on a frame to within rounding take that frame.
    const double from = std::ceil((segment.start + guard + delay) * rate - 1e-6);
    const double to =
        std::min(std::floor((segment.start + segment.length - guard + delay) * rate + 1e-6),
                 static_cast<double>(frames));
    if (from < 0.0 || !(to - from >= static_cast<double>(minimum)))
        return false;
    first = static_cast<std::size_t>(from);
    count = static_cast<std::size_t>(to - from);
    return true;
}

Expected Plan::ProbeExpected(const Segment& probe,
                             const std::function<Complex(double)>& response) const
{
    Segment weighted = probe;
    double highest = 0.0;
    for (Tone& tone : weighted.tones)
    {
        if (response)
        {
            const Complex h = response(tone.freq);
            tone.amplitude *= std::abs(h);
            tone.phase += std::arg(h);
        }
        highest = std::max(highest, std::abs(tone.freq));
    }
    Expected e;
    e.begin = probe.start;
    e.end = probe.start + probe.length;
    e.highest = highest;
    e.at = [plan = *this, weighted](double t) { return plan.SegmentAt(weighted, t); };
    for (const Tone& tone : weighted.tones)
        e.tones.push_back({tone.freq, std::polar(tone.amplitude, tone.phase)});
    e.envelope = [plan = *this, weighted](double t) { return plan.Envelope(weighted, t); };
    return e;
}

std::vector<double> SpreadFractions(std::size_t count, double lo, double hi)
{
    // The fractional parts of the square roots of the primes: irrational, and with no pattern
    // among them (the multiples of one number would leave only two or three different gaps).
    std::vector<double> fractions;
    int candidate = 1;
    for (std::size_t i = 0; i < count; ++i)
    {
        bool prime = false;
        while (!prime)
        {
            ++candidate;
            prime = true;
            for (int d = 2; d * d <= candidate; ++d)
                prime = prime && candidate % d != 0;
        }
        const double root = std::sqrt(static_cast<double>(candidate));
        const double place = root - std::floor(root);
        fractions.push_back(lo + (hi - lo) * (static_cast<double>(i) + place) /
                                     static_cast<double>(count));
    }
    return fractions;
}

std::vector<Tone> ToneSet(const std::vector<double>& fractions, double scale, double amplitude,
                          bool alternate)
{
    std::vector<Tone> tones;
    for (std::size_t i = 0; i < fractions.size(); ++i)
    {
        Tone t;
        t.freq = fractions[i] * scale * (alternate && i % 2 == 1 ? -1.0 : 1.0);
        t.amplitude = amplitude;
        // Phases on the golden angle: no two tones line up at the envelope's peak.
        t.phase = std::fmod(2.399963229728653 * static_cast<double>(i + 1), 2.0 * std::numbers::pi);
        tones.push_back(t);
    }
    return tones;
}

} // namespace sigquality
