// The measuring procedures end to end, with subjects whose faults are known in closed form: a
// delay, a gain, a spur, a two-tap average, an ideal envelope detector and its square, an ideal
// discriminator, an ideal sideband filter.
#include "Cases.h"
#include "Fft.h"
#include "Report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace sigquality {
namespace {

constexpr double kPi = std::numbers::pi;

Subject Make(const std::string& name, Task task, bool complexInput, SubjectRun run)
{
    Subject s;
    s.name = name;
    s.tasks = {task};
    s.complexInput = complexInput;
    s.run = std::move(run);
    return s;
}

Case RateCase(const std::string& name, double rate)
{
    Case c;
    c.name = name;
    c.group = "rate";
    c.scenario = Scenario::Rate;
    c.inRate = rate;
    c.job.task = Task::Rate;
    c.job.outRate = rate;
    return c;
}

double At(const Row& row, const std::string& key)
{
    const auto it = row.figures.find(key);
    return it == row.figures.end() ? std::nan("") : it->second.value;
}

const Settings kQuick{true};

// ---- Rate changes: a rate of 48 kHz in and out, the subject's fault the only change.

TEST(RateProcedure, IdentityMeasuresClean)
{
    const Row row = MeasureRow(
        RateCase("identity", 48000),
        Make("same", Task::Rate, false, [](const Signal& in, const Job&) { return in; }), kQuick);
    EXPECT_TRUE(row.note.empty()) << row.note;
    EXPECT_NEAR(At(row, "gain"), 0.0, 1e-6);
    EXPECT_NEAR(At(row, "ripple"), 0.0, 1e-6);
    EXPECT_EQ(row.figures.at("edge").text, "> 0.990"); // no fall within the sweep
    EXPECT_LT(At(row, "alias"), -140.0);               // float rounding only
    EXPECT_LT(At(row, "thdn"), -140.0);
    EXPECT_NEAR(At(row, "delay"), 0.0, 1e-4);
    EXPECT_EQ(At(row, "length"), 0.0);
    // Rounding to 16 bits at the input (at the output it changes nothing here): step^2 / 12
    // against the tone at -1 dBFS.
    const double step = 1.0 / 32768.0;
    const double limit = 10 * std::log10(step * step / 12 / (std::pow(10.0, -0.1) / 2));
    EXPECT_NEAR(At(row, "thdn16"), limit, 0.3);
}

TEST(RateProcedure, DelayAndGainAreFittedAndTheSegmentsFollowTheDelay)
{
    // Three frames late, half the amplitude, the same length.
    const Subject late = Make("late", Task::Rate, false, [](const Signal& in, const Job&) {
        Signal out = in;
        for (std::size_t n = out.samples.size(); n-- > 0;)
            out.samples[n] = n >= 3 ? 0.5f * in.samples[n - 3] : 0.0f;
        return out;
    });
    const Row row = MeasureRow(RateCase("late", 48000), late, kQuick);
    EXPECT_NEAR(At(row, "delay"), 3.0, 1e-4);
    EXPECT_NEAR(At(row, "gain"), 20 * std::log10(0.5), 1e-5);
    EXPECT_NEAR(At(row, "ripple"), 0.0, 1e-5);
    EXPECT_EQ(At(row, "length"), 0.0);
}

TEST(RateProcedure, DroppedStartReadsAsEarlyAndShort)
{
    const Subject early = Make("early", Task::Rate, false, [](const Signal& in, const Job&) {
        Signal out = in;
        out.samples.erase(out.samples.begin(), out.samples.begin() + 100);
        return out;
    });
    const Row row = MeasureRow(RateCase("early", 48000), early, kQuick);
    EXPECT_NEAR(At(row, "delay"), -100.0, 1e-4);
    EXPECT_EQ(At(row, "length"), -100.0);
    EXPECT_NEAR(At(row, "gain"), 0.0, 1e-5); // the segments were found where they now are
}

TEST(RateProcedure, AddedSpurIsTheWorstAliasAndCountsInThdN)
{
    // A steady tone at 7777 Hz of amplitude 1e-4: against the swept tones of 0.5, -74 dB; against
    // the 1 kHz tone at -1 dBFS, -80 + 1 dB.
    const Subject spur = Make("spur", Task::Rate, false, [](const Signal& in, const Job&) {
        Signal out = in;
        for (std::size_t n = 0; n < out.samples.size(); ++n)
            out.samples[n] += static_cast<float>(
                1e-4 * std::cos(2 * kPi * 7777.0 * static_cast<double>(n) / in.rate));
        return out;
    });
    const Row row = MeasureRow(RateCase("spur", 48000), spur, kQuick);
    EXPECT_NEAR(At(row, "alias"), 20 * std::log10(1e-4 / 0.5), 0.05);
    EXPECT_NEAR(At(row, "aliasAt"), 7777.0 / 24000.0, 0.002);
    EXPECT_NEAR(At(row, "thdn"), -79.0, 0.05);
}

TEST(RateProcedure, TwoTapAverageGivesItsResponseEdgeAndHalfFrameDelay)
{
    // y[n] = (x[n] + x[n-1]) / 2: gain cos(pi f / fs), linear phase of half a frame.
    const Subject average = Make("average", Task::Rate, false, [](const Signal& in, const Job&) {
        Signal out = in;
        for (std::size_t n = 1; n < out.samples.size(); ++n)
            out.samples[n] = 0.5f * (in.samples[n] + in.samples[n - 1]);
        return out;
    });
    const Row row = MeasureRow(RateCase("average", 48000), average, kQuick);
    const auto gainDb = [](double fraction) {
        return 20 * std::log10(std::cos(kPi * fraction / 2));
    };
    // The quick sweep's gain reference is its tones at 0.03 and 0.1 of B.
    const double reference = (gainDb(0.03) + gainDb(0.1)) / 2;
    EXPECT_NEAR(At(row, "gain"), reference, 1e-5);
    EXPECT_NEAR(At(row, "ripple"), gainDb(0.03) - gainDb(0.9), 1e-4);
    // 3 dB below the reference where cos(pi x / 2) = 10^((reference - 3) / 20); found by
    // interpolation in dB between the swept tones at 0.5 and 0.7 of B.
    const double edge = 2 / kPi * std::acos(std::pow(10.0, (reference - 3.0) / 20.0));
    EXPECT_NEAR(At(row, "edge"), edge, 0.002);
    EXPECT_NEAR(At(row, "delay"), 0.5, 2e-3);
}

// ---- Receivers: an AM station at the centre of a 12 kHz recording, audio at 12 kHz.

Case AmCase(const std::string& name, double depth)
{
    Case c;
    c.name = name;
    c.group = "receiver";
    c.scenario = Scenario::AmTone;
    c.inRate = 12000;
    c.job.task = Task::Am;
    c.job.outRate = 12000;
    c.depth = depth;
    return c;
}

// The magnitude of each I/Q frame (the station's carrier is 0.5), raised to `power`.
Subject Envelope(int power)
{
    return Make("envelope", Task::Am, true, [power](const Signal& in, const Job&) {
        Signal out;
        out.rate = in.rate;
        for (std::size_t n = 0; n < in.Frames(); ++n)
        {
            const double e = std::abs(Complex(in.samples[2 * n], in.samples[2 * n + 1]));
            out.samples.push_back(static_cast<float>(std::pow(e, power) - std::pow(0.5, power)));
        }
        return out;
    });
}

TEST(ReceiverProcedure, IdealEnvelopeGivesTheDepthWithoutDistortion)
{
    const Row row = MeasureRow(AmCase("am ideal", 0.3), Envelope(1), kQuick);
    EXPECT_NEAR(At(row, "level"), 20 * std::log10(0.5 * 0.3), 1e-4);
    EXPECT_LT(At(row, "thd"), 1e-4);
    EXPECT_LT(At(row, "thdn"), -120.0);
    EXPECT_NEAR(At(row, "low"), 0.0, 1e-4);
    EXPECT_NEAR(At(row, "delay"), 0.0, 1e-3);
    EXPECT_EQ(At(row, "length"), 0.0);
}

TEST(ReceiverProcedure, SquaredEnvelopeHasAQuarterOfTheDepthAsSecondHarmonic)
{
    // (0.5 (1 + m cos))^2 = ... + 0.5 m cos + 0.125 m^2 cos 2: THD = m / 4.
    const Row row = MeasureRow(AmCase("am squared", 0.3), Envelope(2), kQuick);
    EXPECT_NEAR(At(row, "thd"), 7.5, 1e-3);
    EXPECT_NEAR(At(row, "thdn"), 20 * std::log10(0.075), 0.01);
    EXPECT_NEAR(At(row, "level"), 20 * std::log10(0.5 * 0.3), 1e-4);
}

TEST(ReceiverProcedure, PhaseStepDiscriminatorIsHalfAFrameLate)
{
    // arg(x[n] conj(x[n-1])) scaled to the deviation: the mean of the audio over the frame before
    // n, a linear filter centred half a frame back; a full-deviation tone comes out at 0 dBFS.
    Case c;
    c.name = "fm ideal";
    c.group = "receiver";
    c.scenario = Scenario::FmTone;
    c.inRate = 48000;
    c.job.task = Task::NarrowFm;
    c.job.outRate = 48000;
    c.job.frequency = 3000;
    c.job.deviation = 5000;
    const Subject discriminator =
        Make("fm", Task::NarrowFm, true, [](const Signal& in, const Job& job) {
            Signal out;
            out.rate = in.rate;
            out.samples.push_back(0.0f);
            for (std::size_t n = 1; n < in.Frames(); ++n)
            {
                const Complex a(in.samples[2 * n], in.samples[2 * n + 1]);
                const Complex b(in.samples[2 * n - 2], in.samples[2 * n - 1]);
                const double step = std::arg(a * std::conj(b)) * in.rate / (2 * kPi);
                out.samples.push_back(static_cast<float>((step - job.frequency) / job.deviation));
            }
            return out;
        });
    const Row row = MeasureRow(c, discriminator, kQuick);
    EXPECT_NEAR(At(row, "delay"), 0.5, 1e-3);
    EXPECT_NEAR(At(row, "level"), 0.0, 0.01);
    EXPECT_LT(At(row, "thd"), 1e-3);
    EXPECT_LT(At(row, "thdn"), -100.0);
}

// The I/Q frames with everything at or below 0 Hz after a shift down by `shift` Hz removed
// (keepUpper) or kept alone, by a transform over the whole signal.
Signal ShiftAndSplit(const Signal& in, double shift, bool keepUpper, bool split)
{
    const std::size_t frames = in.Frames();
    std::vector<Complex> x(NextPowerOfTwo(frames));
    for (std::size_t n = 0; n < frames; ++n)
        x[n] = Complex(in.samples[2 * n], in.samples[2 * n + 1]) *
               std::polar(1.0, -2 * kPi * shift * static_cast<double>(n) / in.rate);
    if (split)
    {
        Fft(x);
        for (std::size_t k = 0; k < x.size(); ++k)
        {
            const bool upper = k > 0 && k < x.size() / 2;
            if (upper != keepUpper)
                x[k] = 0.0;
        }
        Fft(x, true);
        for (Complex& v : x)
            v /= static_cast<double>(x.size());
    }
    x.resize(frames);
    return FromComplex(x, in.rate, true);
}

TEST(ReceiverProcedure, SidebandRejectionComesFromTheSplitAlone)
{
    Case c;
    c.name = "usb ideal";
    c.group = "receiver";
    c.scenario = Scenario::Sideband;
    c.inRate = 12000;
    c.job.task = Task::Usb;
    c.job.outRate = 12000;
    c.job.frequency = -2000;
    const auto demod = [](bool split) {
        return Make("ssb", Task::Usb, true, [split](const Signal& in, const Job& job) {
            const Signal kept = ShiftAndSplit(in, job.frequency, true, split);
            Signal out;
            out.rate = in.rate;
            for (std::size_t n = 0; n < kept.Frames(); ++n)
                out.samples.push_back(kept.samples[2 * n]);
            return out;
        });
    };
    // Both sides come through the real part alike; the ideal split leaves the lower side out.
    const Row both = MeasureRow(c, demod(false), kQuick);
    EXPECT_NEAR(At(both, "reject"), 0.0, 1e-3);
    EXPECT_NEAR(At(both, "level"), 20 * std::log10(0.3), 1e-3);
    EXPECT_NEAR(At(both, "delay"), 0.0, 1e-3);
    const Row upper = MeasureRow(c, demod(true), kQuick);
    EXPECT_GT(At(upper, "reject"), 100.0);
    EXPECT_NEAR(At(upper, "delay"), 0.0, 1e-3);
}

// ---- Channel: a 10 kHz band at 6 kHz in a 48 kHz recording, neighbours 10 kHz away.

TEST(ChannelProcedure, ShiftAloneKeepsTheNeighbourAndAnIdealSplitRejectsIt)
{
    Case c;
    c.name = "channel ideal";
    c.group = "channel";
    c.scenario = Scenario::Channel;
    c.inRate = 48000;
    c.job.task = Task::Channel;
    c.job.outRate = 48000;
    c.job.frequency = 6000;
    c.job.band = 10000;
    c.neighbour = 10000;
    const Subject shift = Make("shift", Task::Channel, true, [](const Signal& in, const Job& job) {
        return ShiftAndSplit(in, job.frequency, true, false);
    });
    const Row row = MeasureRow(c, shift, kQuick);
    EXPECT_NEAR(At(row, "gain"), 0.0, 1e-5);
    EXPECT_NEAR(At(row, "ripple"), 0.0, 1e-5);
    EXPECT_NEAR(At(row, "reject"), 0.0, 1e-4);
    EXPECT_NEAR(At(row, "delay"), 0.0, 1e-3);
    EXPECT_EQ(At(row, "length"), 0.0);
    // Keeping only positive frequencies: the in-band tones on the negative side go too, and
    // with them the gain; the neighbour below goes, the one above stays: rejection still 0.
    const Subject upper = Make("upper", Task::Channel, true, [](const Signal& in, const Job& job) {
        return ShiftAndSplit(in, job.frequency, true, true);
    });
    const Row split = MeasureRow(c, upper, kQuick);
    EXPECT_GT(At(split, "ripple"), 100.0);
    EXPECT_NEAR(At(split, "reject"), At(split, "gain"), 1e-3);
}

// ---- Failures and reports.

TEST(MeasureRow, FailingOrMissingSubjectGivesANoteAndNoFigures)
{
    const Subject broken =
        Make("broken", Task::Rate, false,
             [](const Signal&, const Job&) -> Signal { throw std::runtime_error("no luck"); });
    const Row failed = MeasureRow(RateCase("broken", 8000), broken, kQuick);
    EXPECT_TRUE(failed.figures.empty());
    EXPECT_EQ(failed.note, "failed: no luck");
    Subject missing = broken;
    missing.unavailable = "not installed";
    const Row skipped = MeasureRow(RateCase("broken", 8000), missing, kQuick);
    EXPECT_TRUE(skipped.figures.empty());
    EXPECT_EQ(skipped.note, "skipped: not installed");
}

TEST(Report, JsonHoldsFiguresBoundsAndWhetherTargetsAreMet)
{
    Case c = RateCase("json", 8000);
    c.targets = {{"ripple", AtMost(0.01)}, {"delay", Within(0.0, 0.01)}, {"edge", AtLeast(0.95)}};
    Row row;
    row.caseName = "json";
    row.subject = "a \"quoted\" name";
    row.figures["ripple"].value = 0.5;
    row.figures["delay"].value = 0.001;
    row.figures["edge"].value = 0.99;
    row.figures["edge"].text = "> 0.990";
    const std::string path = ::testing::TempDir() + "/quality.json";
    std::string error;
    ASSERT_TRUE(WriteJson(path, {c}, {row}, kQuick, error)) << error;
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    const std::string json = text.str();
    EXPECT_NE(json.find("\"subject\": \"a \\\"quoted\\\" name\""), std::string::npos);
    EXPECT_NE(json.find("\"ripple\": 0.5"), std::string::npos);
    EXPECT_NE(json.find("\"thdn\": null"), std::string::npos);
    EXPECT_NE(json.find("\"bounds\": {\"edge\": \"> 0.990\"}"), std::string::npos);
    EXPECT_NE(json.find("\"meets\": {\"delay\": true, \"edge\": true, \"ripple\": false}"),
              std::string::npos);
    EXPECT_NE(json.find("\"targets\": {\"delay\": \"0+-0.01\", \"edge\": \">= 0.95\", \"ripple\": "
                        "\"<= 0.01\"}"),
              std::string::npos);
}

} // namespace
} // namespace sigquality
