#include "Cases.h"

#include "Generators.h"
#include "Measures.h"
#include "Plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

namespace sigquality {

Target AtMost(double limit)
{
    char text[32];
    std::snprintf(text, sizeof text, "<= %g", limit);
    return {text, [limit](double v) { return v <= limit; }};
}

Target AtLeast(double limit)
{
    char text[32];
    std::snprintf(text, sizeof text, ">= %g", limit);
    return {text, [limit](double v) { return v >= limit; }};
}

Target Within(double centre, double tolerance)
{
    char text[32];
    if (tolerance > 0.0)
        std::snprintf(text, sizeof text, "%g+-%g", centre, tolerance);
    else
        std::snprintf(text, sizeof text, "%g", centre);
    return {text, [centre, tolerance](double v) { return std::abs(v - centre) <= tolerance; }};
}

Target InWords(const std::string& text)
{
    return {text, {}};
}

namespace {

constexpr double kMaxLag = 0.25; // s: the largest delay or advance of an output looked for
constexpr double kSweepAmplitude = 0.5;
const double kFullScaleTone = std::pow(10.0, -1.0 / 20.0); // -1 dBFS
constexpr double kThdTone = 997.0;                         // Hz
constexpr double kCwBeat = 700.0;                          // Hz, the CW tone of every subject

// Where a frequency lands at a rate: in [-rate/2, rate/2] for a complex signal, [0, rate/2] for
// a real one.
double Fold(double f, double rate, bool complexOut)
{
    const double folded = f - rate * std::round(f / rate);
    return complexOut ? folded : std::abs(folded);
}

Figure Value(double v)
{
    Figure f;
    f.value = v;
    return f;
}

Figure Bound(const char* prefix, double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s%.3f", prefix, v);
    Figure f;
    f.value = v;
    f.text = text;
    return f;
}

// Output length against round(N * Fout / Fin), in frames.
void LengthFigure(Row& row, const Signal& in, const Signal& out)
{
    const double expected = std::round(static_cast<double>(in.Frames()) * out.rate / in.rate);
    row.figures["length"] = Value(static_cast<double>(out.Frames()) - expected);
}

// The delay of an output, in its frames, and the time by which its segments are to be looked
// for (0 when the probe was not found).
double DelayFigure(Row& row, const char* key, const Signal& out, const Expected& expected,
                   GainFreedom freedom)
{
    const DelayFit fit = FitDelay(out, expected, kMaxLag, freedom);
    if (!fit.found)
    {
        row.note += row.note.empty() ? "" : "; ";
        row.note += "probe not found";
        return 0.0;
    }
    row.figures[key] = Value(fit.seconds * out.rate);
    return fit.seconds;
}

bool SpanOf(const Plan& plan, const Segment& segment, const Signal& out, double delay, Span& span)
{
    std::size_t first = 0, count = 0;
    if (!plan.AnalysisFrames(segment, out.rate, delay, out.Frames(), first, count))
        return false;
    span = MakeSpan(out, first, count);
    return true;
}

Signal Checked(Signal out, double expectedRate, Row& row)
{
    if (out.Frames() == 0 || !(out.rate > 0.0))
        throw std::runtime_error("no output");
    if (std::abs(out.rate - expectedRate) > 0.5)
    {
        char text[64];
        std::snprintf(text, sizeof text, "output at %.0f Hz", out.rate);
        row.note += row.note.empty() ? "" : "; ";
        row.note += text;
    }
    return out;
}

// The inputs of the case being measured, generated once for all its subjects: every subject of
// a case sees the same signal, and a recording at 2.4 MHz takes seconds to make.
class InputCache
{
public:
    const Signal& Get(const std::string& caseName, const std::string& key,
                      const std::function<Signal()>& make)
    {
        if (caseName != current)
        {
            inputs.clear();
            current = caseName;
        }
        auto it = inputs.find(key);
        if (it == inputs.end())
            it = inputs.emplace(key, make()).first;
        return it->second;
    }

private:
    std::string current;
    std::map<std::string, Signal> inputs;
};

InputCache& Inputs()
{
    static InputCache cache;
    return cache;
}

// ---- Rate change.

// The probe of a rate change or a channel: sixteen tones from 0.05 to 0.8 of the band.
const std::vector<double> kProbeFractions = SpreadFractions(16, 0.05, 0.8);

// A probe up to 0.8 of the band's Nyquist frequency B, and the tone of the THD+N figures at
// -1 dBFS: 997 Hz, which no rate here divides, so that rounding to 16 bits gives noise rather
// than a few harmonics of its own.
Plan RateCore(double B, bool complexIn)
{
    Plan plan;
    plan.Add("probe", Shape::Probe, ToneSet(kProbeFractions, B, 0.05, complexIn), 0.3);
    plan.Add("thd", Shape::Steady, {{kThdTone, kFullScaleTone, 0.3}}, 0.35);
    return plan;
}

// Swept tones: through the pass band and its edge ("pass", fractions of B, every second one at
// a negative frequency for I/Q), and beyond B up to the input's Nyquist frequency ("stop"), each
// nudged so that its alias does not land on 0 Hz or on B.
void AddSweep(Plan& plan, double fin, double B, bool complexIn, bool quick)
{
    const std::vector<double> pass =
        quick ? std::vector<double>{0.03, 0.1, 0.3, 0.5, 0.7, 0.9, 0.95, 0.97, 0.99}
              : std::vector<double>{0.03, 0.06, 0.1,  0.2,  0.3,  0.4,  0.5,  0.6,  0.7,  0.8,
                                    0.85, 0.9,  0.92, 0.94, 0.95, 0.96, 0.97, 0.98, 0.99, 0.995};
    for (std::size_t i = 0; i < pass.size(); ++i)
    {
        const double sign = complexIn && i % 2 == 1 ? -1.0 : 1.0;
        plan.Add("pass", Shape::Steady, {{sign * pass[i] * B, kSweepAmplitude, 0.0}}, 0.35);
    }
    const std::vector<double> stop =
        quick ? std::vector<double>{1.005, 1.02, 1.1, 1.4, 2.1, 3.2, 4.7}
              : std::vector<double>{1.005, 1.01, 1.02, 1.05, 1.1, 1.2, 1.4,
                                    1.7,   2.1,  2.6,  3.2,  3.9, 4.7};
    const double top = 0.995 * fin / 2.0;
    for (std::size_t i = 0; i < stop.size(); ++i)
    {
        double f = stop[i] * B;
        for (int tries = 0; tries < 20; ++tries)
        {
            const double alias = std::abs(Fold(f, 2.0 * B, true)) / B;
            if (alias > 0.02 && alias < 0.998)
                break;
            f *= 1.0123;
        }
        if (f > top)
            break;
        const double sign = complexIn && i % 2 == 1 ? -1.0 : 1.0;
        plan.Add("stop", Shape::Steady, {{sign * f, kSweepAmplitude, 0.0}}, 0.35);
    }
}

void MeasureRate(const Case& c, const Subject& s, const Settings& settings, Row& row)
{
    const double fin = c.inRate;
    const double fout = c.job.outRate;
    const double B = std::min(fin, fout) / 2.0;
    const bool complexIn = s.complexInput;

    Plan plan = RateCore(B, complexIn);
    AddSweep(plan, fin, B, complexIn, settings.quick);
    const std::string sweep = settings.quick ? " quick" : "";
    const Signal& in = Inputs().Get(c.name, (complexIn ? "float iq" : "float real") + sweep,
                                    [&] { return plan.RenderSignal(fin, complexIn); });
    if (complexIn)
        row.note = "I/Q";
    const Signal out = Checked(s.run(in, c.job), fout, row);
    LengthFigure(row, in, out);
    const GainFreedom freedom = out.complex ? GainFreedom::Complex : GainFreedom::Real;
    const double delay =
        DelayFigure(row, "delay", out, plan.ProbeExpected(*plan.Find("probe")), freedom);

    struct Point
    {
        double f;
        double gainDb;
    };
    std::vector<Point> points;
    double worstSpur = 0.0; // amplitude over the input tone's
    double worstTone = 0.0, worstAt = 0.0;
    for (const Segment& segment : plan.Segments())
    {
        const bool passTone = segment.label == "pass";
        if (!passTone && segment.label != "stop")
            continue;
        Span span;
        if (!SpanOf(plan, segment, out, delay, span))
            continue;
        const double f = segment.tones[0].freq;
        std::vector<double> fitted;
        if (passTone)
        {
            const ToneFitResult fit = FitTones(span, {f}, true);
            points.push_back(
                {std::abs(f), AmplitudeDb(std::abs(fit.amplitude[0]) / kSweepAmplitude)});
            fitted.push_back(f);
        }
        const Spur spur = WorstSpur(span, fitted, 0.0, out.rate / 2.0);
        if (spur.amplitude / kSweepAmplitude > worstSpur)
        {
            worstSpur = spur.amplitude / kSweepAmplitude;
            worstTone = f;
            worstAt = spur.freq;
        }
    }
    std::sort(points.begin(), points.end(),
              [](const Point& a, const Point& b) { return a.f < b.f; });
    double reference = 0.0;
    int low = 0;
    double high = -1e300, lowest = 1e300;
    for (const Point& p : points)
    {
        if (p.f <= 0.1 * B * (1 + 1e-9))
        {
            reference += p.gainDb;
            ++low;
        }
        if (p.f <= 0.9 * B * (1 + 1e-9))
        {
            high = std::max(high, p.gainDb);
            lowest = std::min(lowest, p.gainDb);
        }
    }
    if (low > 0)
    {
        reference /= low;
        row.figures["gain"] = Value(reference);
        row.figures["ripple"] = Value(high - lowest);
        // The -3 dB point: the first swept tone 3 dB below the reference, interpolated in dB
        // against the one before it.
        Figure edge = Bound("> ", points.back().f / B);
        for (std::size_t i = 1; i < points.size(); ++i)
        {
            const double drop = points[i].gainDb - reference;
            if (drop < -3.0)
            {
                const double before = points[i - 1].gainDb - reference;
                const double f = points[i - 1].f + (points[i].f - points[i - 1].f) *
                                                       (-3.0 - before) / (drop - before);
                edge = Value(f / B);
                break;
            }
        }
        row.figures["edge"] = edge;
        if (worstSpur > 0.0)
        {
            row.figures["alias"] = Value(AmplitudeDb(worstSpur) - reference);
            // Where it came from and where it landed, as fractions of B (JSON only).
            row.figures["aliasTone"] = Value(worstTone / B);
            row.figures["aliasAt"] = Value(worstAt / B);
        }
    }
    Span span;
    if (SpanOf(plan, *plan.Find("thd"), out, delay, span))
        row.figures["thdn"] =
            Value(Db(MeasureDistortion(span, kThdTone, 0.0, out.rate / 2.0).thdN));

    // 16-bit I/O: the input rounded to 16 bits, the output likewise.
    const Plan core = RateCore(B, complexIn);
    const Signal& in16 = Inputs().Get(c.name, complexIn ? "16-bit iq" : "16-bit real", [&] {
        return Quantize16(core.RenderSignal(fin, complexIn));
    });
    Row scratch; // the 16-bit run's notes and figures, of which THD+N alone is kept
    const Signal out16 = Quantize16(Checked(s.run(in16, c.job), fout, scratch));
    const double delay16 =
        DelayFigure(scratch, "delay", out16, core.ProbeExpected(*core.Find("probe")), freedom);
    if (SpanOf(core, *core.Find("thd"), out16, delay16, span))
        row.figures["thdn16"] =
            Value(Db(MeasureDistortion(span, kThdTone, 0.0, out16.rate / 2.0).thdN));
}

// ---- Channel cut.

void MeasureChannel(const Case& c, const Subject& s, const Settings& settings, Row& row)
{
    const double fin = c.inRate;
    const double half = c.job.band / 2.0;
    Plan plan;
    plan.guard = 0.08;
    plan.Add("probe", Shape::Probe, ToneSet(kProbeFractions, half, 0.02, true), 0.3);
    const std::vector<double> inBand =
        settings.quick ? std::vector<double>{0.03, 0.5, 0.9}
                       : std::vector<double>{0.03, 0.1, 0.3, 0.5, 0.7, 0.8, 0.9};
    for (std::size_t i = 0; i < inBand.size(); ++i)
        plan.Add("in", Shape::Steady, {{(i % 2 == 1 ? -1.0 : 1.0) * inBand[i] * half, 0.25, 0.0}},
                 0.25);
    plan.Add("neighbour", Shape::Steady, {{c.neighbour, 0.25, 0.0}}, 0.25);
    plan.Add("neighbour", Shape::Steady, {{-c.neighbour, 0.25, 0.0}}, 0.25);

    // The plan as it should come out, moved up to the channel's frequency.
    const Signal& in = Inputs().Get(c.name, settings.quick ? "iq quick" : "iq", [&] {
        Signal x;
        x.rate = fin;
        x.channels = 2;
        x.complex = true;
        const auto frames = static_cast<std::size_t>(std::llround(plan.Duration() * fin));
        x.samples.resize(2 * frames);
        for (std::size_t n = 0; n < frames; ++n)
        {
            const auto nn = static_cast<double>(n);
            const Complex v = Phasor(c.job.frequency, nn, fin) * plan.At(nn / fin);
            x.samples[2 * n] = static_cast<float>(v.real());
            x.samples[2 * n + 1] = static_cast<float>(v.imag());
        }
        return x;
    });
    const Signal out = Checked(s.run(in, c.job), c.job.outRate, row);
    LengthFigure(row, in, out);
    const double delay = DelayFigure(row, "delay", out, plan.ProbeExpected(*plan.Find("probe")),
                                     GainFreedom::Complex);

    double sum = 0.0, high = -1e300, low = 1e300;
    int count = 0;
    double rejection = 1e300;
    std::vector<double> neighbourDb;
    for (const Segment& segment : plan.Segments())
    {
        Span span;
        if ((segment.label != "in" && segment.label != "neighbour") ||
            !SpanOf(plan, segment, out, delay, span))
            continue;
        const double f = Fold(segment.tones[0].freq, out.rate, out.complex);
        const ToneFitResult fit = FitTones(span, {f}, true);
        const double gainDb = AmplitudeDb(std::abs(fit.amplitude[0]) / 0.25);
        if (segment.label == "in")
        {
            sum += gainDb;
            high = std::max(high, gainDb);
            low = std::min(low, gainDb);
            ++count;
        }
        else
            neighbourDb.push_back(gainDb);
    }
    if (count == 0)
        return;
    const double gain = sum / count;
    row.figures["gain"] = Value(gain);
    row.figures["ripple"] = Value(high - low);
    for (double n : neighbourDb)
        rejection = std::min(rejection, gain - n);
    if (!neighbourDb.empty())
        row.figures["reject"] = Value(rejection);
}

// ---- Receivers.

bool IsFm(Scenario s)
{
    return s == Scenario::FmTone || s == Scenario::FmPilot || s == Scenario::FmStations;
}

// The audio plan (real for AM and FM, complex for a sideband) of a receiver case.
Plan ReceiverPlan(const Case& c)
{
    Plan plan;
    plan.lead = 0.5; // an automatic gain control settles on the carrier first
    plan.tail = 0.3;
    plan.fade = 0.02;
    plan.guard = 0.15;
    const std::vector<double> fractions = SpreadFractions(16, 0.15, 0.93);
    const double sign = c.job.task == Task::Lsb ? -1.0 : 1.0;
    switch (c.scenario)
    {
    case Scenario::Sideband: {
        std::vector<Tone> probe = ToneSet(fractions, 2700.0, 0.05, false);
        for (Tone& t : probe)
            t.freq *= sign;
        plan.Add("probe", Shape::Probe, probe, 0.4);
        plan.Add("1k", Shape::Steady, {{sign * 1000.0, 0.3, 0.0}, {-sign * 1700.0, 0.3, 0.0}}, 0.5);
        return plan;
    }
    case Scenario::Cw: {
        // Audio frequencies: the carrier sounds at the beat tone, the probe within the filter
        // around it (every second tone below the carrier).
        std::vector<Tone> probe = ToneSet(fractions, 0.4 * c.job.band, 0.05, true);
        for (Tone& t : probe)
            t.freq += kCwBeat;
        plan.Add("probe", Shape::Probe, probe, 0.4);
        plan.Add("1k", Shape::Steady, {{kCwBeat, 0.3, 0.0}, {kCwBeat + c.neighbour, 0.3, 0.0}},
                 0.5);
        return plan;
    }
    case Scenario::FmPilot:
        plan.Add("probe", Shape::Probe, ToneSet(fractions, 15000.0, 0.05, false), 0.4);
        // The wanted tone at 997 Hz: 38 kHz lands on 10 kHz at 48 kHz, where the tenth harmonic
        // of 1 kHz would be counted with it.
        plan.Add("1k", Shape::Steady, {{997.0, 0.45, 0.0}, {38000.0, 0.45, 0.0}}, 0.5);
        return plan;
    default:
        break;
    }
    const double top = c.job.task == Task::WideFm     ? 15000.0
                       : c.job.task == Task::NarrowFm ? 2700.0
                                                      : 2500.0;
    plan.Add("probe", Shape::Probe, ToneSet(fractions, top, 0.05, false), 0.4);
    plan.Add("1k", Shape::Steady, {{1000.0, 1.0, 0.0}}, 0.5);
    if (c.scenario != Scenario::AmAdjacent)
        plan.Add("100", Shape::Steady, {{100.0, 1.0, 0.0}}, 0.5);
    // Broadcast FM: how closely the de-emphasis follows its time constant, high in the band.
    if (c.job.task == Task::WideFm)
        plan.Add("10k", Shape::Steady, {{10000.0, 1.0, 0.0}}, 0.5);
    return plan;
}

Signal Recording(const Case& c, const Plan& plan)
{
    const double fin = c.inRate;
    const double fc = c.job.frequency;
    std::vector<Complex> x(static_cast<std::size_t>(std::llround(plan.Duration() * fin)));
    const Audio audio = [&plan](double t) { return plan.At(t).real(); };
    const auto tone = [](double f) {
        return [f](double t) { return std::cos(2.0 * std::numbers::pi * f * t); };
    };
    switch (c.scenario)
    {
    case Scenario::FmTone:
    case Scenario::FmPilot:
        AddFm(x, fin, fc, 0.5, c.job.deviation, audio);
        break;
    case Scenario::FmStations:
        // The wanted station and two more, 600 kHz below and 400 kHz above, in noise.
        AddFm(x, fin, fc, 0.25, c.job.deviation, audio);
        AddFm(x, fin, fc - 600000.0, 0.25, c.job.deviation, tone(400.0));
        AddFm(x, fin, fc + 400000.0, 0.25, c.job.deviation, tone(1500.0));
        AddNoise(x, NoisePowerFor(0.25, 20.0, 200000.0, fin), 20);
        break;
    case Scenario::AmTone:
        AddAm(x, fin, fc, 0.5, c.depth, audio);
        break;
    case Scenario::AmAdjacent:
        AddAm(x, fin, fc, 0.15, c.depth, audio);
        AddAm(x, fin, fc + c.neighbour, 0.15 * std::sqrt(10.0), 0.5, tone(1300.0));
        break;
    case Scenario::Sideband:
        AddSideband(x, fin, fc, 1.0, [&plan](double t) { return plan.At(t); });
        break;
    case Scenario::Cw:
        // The plan's audio frequencies, less the beat: its 700 Hz is the carrier.
        AddSideband(x, fin, fc - kCwBeat, 1.0, [&plan](double t) { return plan.At(t); });
        break;
    default:
        break;
    }
    return FromComplex(x, fin, true);
}

void MeasureReceiver(const Case& c, const Subject& s, Row& row)
{
    const Plan plan = ReceiverPlan(c);
    const Signal& in = Inputs().Get(c.name, "iq", [&] { return Recording(c, plan); });
    const Signal out = Checked(s.run(in, c.job), c.job.outRate, row);
    LengthFigure(row, in, out);
    if (out.complex)
        throw std::runtime_error("I/Q output from a receiver");

    // The probe as the audio should carry it: FM through the job's de-emphasis.
    std::function<Complex(double)> response;
    const double tau = c.job.deemphasis;
    if (IsFm(c.scenario) && tau > 0.0)
        response = [tau](double f) {
            return 1.0 / Complex(1.0, 2.0 * std::numbers::pi * std::abs(f) * tau);
        };
    const bool sideband = c.scenario == Scenario::Sideband || c.scenario == Scenario::Cw;
    const GainFreedom freedom = sideband ? GainFreedom::Complex : GainFreedom::Real;
    const double delay =
        DelayFigure(row, "delay", out, plan.ProbeExpected(*plan.Find("probe"), response), freedom);

    const double lo = 20.0;
    const double top = std::min(out.rate / 2.0, 15000.0);
    Span span;
    if (!SpanOf(plan, *plan.Find("1k"), out, delay, span))
        return;
    double level = 0.0;
    if (sideband || c.scenario == Scenario::FmPilot || c.scenario == Scenario::AmAdjacent)
    {
        // The wanted 1 kHz against the other tone as it comes out.
        const double other = c.scenario == Scenario::Sideband  ? 1700.0
                             : c.scenario == Scenario::Cw      ? kCwBeat + c.neighbour
                             : c.scenario == Scenario::FmPilot ? Fold(38000.0, out.rate, false)
                                                               : 1300.0;
        const double wanted = c.scenario == Scenario::FmPilot ? 997.0
                              : c.scenario == Scenario::Cw    ? kCwBeat
                                                              : 1000.0;
        const ToneFitResult fit = FitTones(span, {wanted, other}, true);
        level = std::abs(fit.amplitude[0]);
        row.figures["level"] = Value(AmplitudeDb(level));
        row.figures["reject"] = Value(AmplitudeDb(level / std::abs(fit.amplitude[1])));
    }
    if (!sideband && c.scenario != Scenario::FmPilot)
    {
        const Distortion d = MeasureDistortion(span, 1000.0, lo, top);
        level = d.amplitude;
        row.figures["level"] = Value(AmplitudeDb(level));
        row.figures["thd"] = Value(100.0 * std::sqrt(d.thd));
        row.figures["thdn"] = Value(Db(d.thdN));
        row.figures["sinad"] = Value(Db(d.sinad));
    }
    const Segment* low = plan.Find("100");
    if (low != nullptr && level > 0.0 && SpanOf(plan, *low, out, delay, span))
    {
        const ToneFitResult fit = FitTones(span, {100.0}, true);
        row.figures["low"] = Value(AmplitudeDb(std::abs(fit.amplitude[0]) / level));
    }
    const Segment* high = plan.Find("10k");
    if (high != nullptr && level > 0.0 && SpanOf(plan, *high, out, delay, span))
    {
        const ToneFitResult fit = FitTones(span, {10000.0}, true);
        const double expected = response ? std::abs(response(10000.0) / response(1000.0)) : 1.0;
        row.figures["high"] = Value(AmplitudeDb(std::abs(fit.amplitude[0]) / level / expected));
    }
}

} // namespace

// The 16-bit limit of THD+N for the tone at -1 dBFS: rounding to 16 bits adds noise of
// step^2 / 12 at the input, of which the share Fout / Fin passes a decimation (all of it an
// interpolation), and as much again at the output. Met within 1 dB.
Target SixteenBitLimit(double fin, double fout)
{
    const double step = 1.0 / 32768.0;
    const double noise = step * step / 12.0 * (1.0 + std::min(1.0, fout / fin));
    const double limit = Db(noise / (kFullScaleTone * kFullScaleTone / 2.0));
    char text[32];
    std::snprintf(text, sizeof text, "~ %.1f", limit);
    return {text, [limit](double v) { return v <= limit + 1.0; }};
}

std::vector<Case> AllCases()
{
    std::vector<Case> cases;
    const auto rate = [&cases](const char* name, double fin, double fout) {
        // Targets of a rate change at the best quality, float I/O unless said.
        Case c;
        c.name = name;
        c.group = "rate";
        c.scenario = Scenario::Rate;
        c.inRate = fin;
        c.job.task = Task::Rate;
        c.job.outRate = fout;
        c.targets = {{"ripple", AtMost(0.01)},
                     {"edge", AtLeast(0.95)},
                     {"alias", AtMost(-130.0)},
                     {"thdn", AtMost(-130.0)},
                     {"thdn16", SixteenBitLimit(fin, fout)},
                     {"delay", Within(0.0, 0.01)},
                     {"length", Within(0.0, 0.0)}};
        cases.push_back(c);
    };
    rate("rate 240k->48k", 240000, 48000);
    rate("rate 44.1k->8k", 44100, 8000);
    rate("rate 8k->48k", 8000, 48000);
    rate("rate 44.1k->48k", 44100, 48000);
    rate("rate 48k->44.1k", 48000, 44100);

    {
        Case c;
        c.name = "channel 2.4M 10k band";
        c.group = "channel";
        c.scenario = Scenario::Channel;
        c.inRate = 2400000;
        c.job.task = Task::Channel;
        c.job.outRate = 16000;
        c.job.frequency = 200000;
        c.job.band = 10000;
        c.neighbour = 10000;
        c.targets = {{"gain", Within(0.0, 0.1)}, {"reject", AtLeast(100.0)}};
        cases.push_back(c);
    }

    const auto receiver = [&cases](const char* name, Scenario scenario, double fin, Task task,
                                   double fout, double carrier) -> Case& {
        Case c;
        c.name = name;
        c.group = "receiver";
        c.scenario = scenario;
        c.inRate = fin;
        c.job.task = task;
        c.job.outRate = fout;
        c.job.frequency = carrier;
        c.targets = {{"delay", Within(0.0, 1.0)}, {"length", Within(0.0, 0.0)}};
        cases.push_back(c);
        return cases.back();
    };
    {
        Case& c = receiver("nbfm 48k->12k", Scenario::FmTone, 48000, Task::NarrowFm, 12000, 3000);
        c.job.band = 25000;
        c.job.deviation = 5000;
        c.targets["thdn"] = AtMost(-60.0);
    }
    // Broadcast FM with 75 us de-emphasis, the one GNU Radio's receiver has.
    const auto wfm = [&receiver](const char* name, Scenario scenario, double fin,
                                 double carrier) -> Case& {
        Case& c = receiver(name, scenario, fin, Task::WideFm, 48000, carrier);
        c.job.band = 200000;
        c.job.deviation = 75000;
        c.job.deemphasis = 75e-6;
        return c;
    };
    wfm("wfm 240k->48k", Scenario::FmTone, 240000, 0).targets["thdn"] = AtMost(-60.0);
    wfm("wfm 240k 38k tone", Scenario::FmPilot, 240000, 0).targets["reject"] = AtLeast(60.0);
    wfm("wfm 2.4M 3 stations", Scenario::FmStations, 2400000, 250000).targets["sinad"] =
        InWords("GR +-1");
    for (const double fin : {12000.0, 240000.0, 2400000.0})
        for (const double depth : {0.3, 0.5, 0.9})
        {
            char name[64];
            std::snprintf(name, sizeof name, "am %.0f%% %s", 100 * depth,
                          fin == 12000.0    ? "12k"
                          : fin == 240000.0 ? "240k"
                                            : "2.4M");
            // At 12 kHz the station sits at the centre; above, off it.
            Case& c = receiver(name, Scenario::AmTone, fin, Task::Am, 12000,
                               fin == 12000.0    ? 0.0
                               : fin == 240000.0 ? 50000.0
                                                 : 300000.0);
            c.job.band = 10000;
            c.depth = depth;
            c.targets["thd"] = AtMost(0.5);
            c.targets["low"] = Within(0.0, 1.0);
            c.targets["level"] = InWords("same all");
            c.quick = depth == 0.5;
        }
    {
        Case& c =
            receiver("am 240k +10k 10dB", Scenario::AmAdjacent, 240000, Task::Am, 12000, 50000);
        c.job.band = 10000;
        c.depth = 0.5;
        c.neighbour = 10000;
        c.targets["reject"] = AtLeast(60.0);
    }
    for (const Task task : {Task::Usb, Task::Lsb})
    {
        Case& c = receiver(task == Task::Usb ? "usb 48k 1k" : "lsb 48k 1k", Scenario::Sideband,
                           48000, task, 12000, -6000);
        c.job.band = 2400;
        c.targets["reject"] = AtLeast(60.0);
    }
    {
        // A 500 Hz filter around the carrier, a second carrier 600 Hz above it.
        Case& c = receiver("cw 48k 700", Scenario::Cw, 48000, Task::Cw, 12000, -6000);
        c.job.band = 500;
        c.neighbour = 600;
        c.targets["reject"] = AtLeast(60.0);
    }
    return cases;
}

const std::vector<Column>& ColumnsOf(const std::string& group)
{
    static const std::vector<Column> rate = {
        {"gain", "gain dB", 3},    {"ripple", "ripple dB", 4},  {"edge", "-3dB xNyq", 4},
        {"alias", "alias dBc", 1}, {"thdn", "THD+N dB", 1},     {"thdn16", "THD+N16 dB", 1},
        {"delay", "delay smp", 3}, {"length", "length smp", 0},
    };
    static const std::vector<Column> channel = {
        {"gain", "gain dB", 3},    {"ripple", "ripple dB", 4},  {"reject", "neighbour dB", 1},
        {"delay", "delay smp", 3}, {"length", "length smp", 0},
    };
    static const std::vector<Column> receiver = {
        {"level", "1kHz dBFS", 2},  {"thd", "THD %", 4},       {"thdn", "THD+N dB", 1},
        {"sinad", "SINAD dB", 1},   {"low", "100Hz dB", 2},    {"high", "10kHz dB", 2},
        {"reject", "reject dB", 1}, {"delay", "delay smp", 2}, {"length", "length smp", 0},
    };
    if (group == "rate")
        return rate;
    if (group == "channel")
        return channel;
    return receiver;
}

const char* LegendOf(const std::string& group)
{
    if (group == "rate")
        return "gain: at tones up to 0.1 of the band's Nyquist frequency B = min(Fin, Fout) / 2; "
               "ripple: max - min of the swept gain up to 0.9 B; -3dB: where the gain falls 3 dB "
               "below the gain, as a fraction of B; alias: worst spur over the sweep (tones up to "
               "0.995 B and above B up to Fin / 2), dB against a passing tone; THD+N: 997 Hz at "
               "-1 dBFS, residual over the whole output band, float and 16-bit I/O; delay: output "
               "time minus input time in output samples (+ late); length: frames out minus "
               "round(N Fout / Fin).";
    if (group == "channel")
        return "gain: mean over tones across the band (I/Q, up to 0.9 of the half band); ripple: "
               "max - min of it; neighbour: gain minus the gain of a tone 10 kHz either side of "
               "the channel's centre, the worse side; delay and length as for rate changes.";
    return "1kHz: level of the 1 kHz tone (0 dBFS: a full-scale sine); THD: harmonics 2-9; "
           "THD+N and SINAD: residual from 20 Hz to min(Fout / 2, 15 kHz); 100Hz: level of 100 Hz "
           "against 1 kHz at the same modulation (FM: after its de-emphasis); 10kHz: broadcast FM, "
           "level of 10 kHz against 1 kHz over what the de-emphasis time constant gives (0: "
           "exact); reject: the wanted "
           "1 kHz over the unwanted tone (38 kHz modulation where it lands, against 997 Hz; the "
           "neighbour's 1.3 kHz; the other sideband's 1.7 kHz; CW: the 700 Hz beat over a "
           "carrier 600 Hz above); delay: of the audio against the "
           "modulation, in audio samples.";
}

bool Takes(const Subject& subject, const Case& c)
{
    return subject.Does(c.job.task);
}

Row MeasureRow(const Case& c, const Subject& subject, const Settings& settings)
{
    Row row;
    row.caseName = c.name;
    row.subject = subject.name;
    if (!subject.unavailable.empty())
    {
        row.note = "skipped: " + subject.unavailable;
        return row;
    }
    try
    {
        switch (c.scenario)
        {
        case Scenario::Rate:
            MeasureRate(c, subject, settings, row);
            break;
        case Scenario::Channel:
            MeasureChannel(c, subject, settings, row);
            break;
        default:
            MeasureReceiver(c, subject, row);
            break;
        }
    }
    catch (const std::exception& e)
    {
        row.figures.clear();
        row.note = std::string("failed: ") + e.what();
    }
    return row;
}

} // namespace sigquality
