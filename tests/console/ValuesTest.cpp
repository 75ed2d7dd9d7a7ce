// The values of the modes, read from the dialogue's answers and from the options and checked by
// one rule: ranges, values that can give no output from an input, and answers read in part.
#include "Values.h"

#include <gtest/gtest.h>

#include <string>

using namespace sigrun;

namespace {

Answer Take(Value value, const char* answer, uint32_t inputRate = 48000)
{
    Settings settings;
    return TakeAnswer(value, answer, inputRate, settings);
}

} // namespace

TEST(TakeAnswer, ReadsAsTheStandardConversionsAndWarnsOfWhatTheyLeftOut)
{
    Settings s;
    Answer a = TakeAnswer(Value::OutRate, "48k", 96000, s);
    EXPECT_TRUE(a.taken);
    EXPECT_EQ(s.outRateOrBand, 48); // the value read stays as it always was
    EXPECT_EQ(a.warning, "SampleRateOut '48k' read as 48: 'k' is not part of the number");

    a = TakeAnswer(Value::Amplify, "1.5x", 48000, s);
    EXPECT_TRUE(a.taken);
    EXPECT_EQ(s.amplify, 1.5f);
    EXPECT_EQ(a.warning, "Amplify '1.5x' read as 1.5: 'x' is not part of the number");

    a = TakeAnswer(Value::Frequency, "ten", 48000, s);
    EXPECT_TRUE(a.taken);
    EXPECT_EQ(s.frequency, 0);
    EXPECT_EQ(a.warning, "Frequency 'ten' read as 0: 'ten' is not part of the number");

    // Blanks before the number, after it, and an empty answer leave nothing out.
    for (const char* clean : {"48000", "  +48000", "48000  ", "-7", ""})
    {
        a = TakeAnswer(Value::Frequency, clean, 48000, s);
        EXPECT_TRUE(a.taken) << clean;
        EXPECT_EQ(a.warning, "") << clean;
    }
    EXPECT_EQ(Take(Value::Amplify, " 2e3 ").warning, "");
}

TEST(TakeAnswer, QualityIsAWholeDigitAndNeverRefused)
{
    Settings s;
    EXPECT_TRUE(TakeAnswer(Value::Quality, "2", 48000, s).taken);
    EXPECT_STREQ(s.quality, "Medium");
    const Answer a = TakeAnswer(Value::Quality, " 3", 48000, s);
    EXPECT_TRUE(a.taken);
    EXPECT_EQ(a.warning, "");
    EXPECT_STREQ(s.quality, "");
}

TEST(TakeAnswer, RefusesValuesOutsideTheirRangeNamingValueAndText)
{
    struct Case
    {
        Value value;
        const char* answer;
        const char* refusal;
    } cases[] = {
        {Value::OutRate, "0", "SampleRateOut '0' is not a sample rate"},
        {Value::OutRate, "-8000", "SampleRateOut '-8000' is not a sample rate"},
        {Value::OutRate, "abc", "SampleRateOut 'abc' is not a sample rate"},
        {Value::Band, "0", "Band '0' is not a band width: give whole Hz from 1"},
        {Value::Frequency, "99999999999", "Frequency '99999999999' is not a frequency"},
        {Value::Frequency, "-2147483649", "Frequency '-2147483649' is not a frequency"},
        {Value::Amplify, "nan", "Amplify 'nan' is not a finite number"},
        {Value::Amplify, "1e39", "Amplify '1e39' is not a finite number"},
    };
    for (const Case& c : cases)
    {
        const Answer a = Take(c.value, c.answer);
        EXPECT_FALSE(a.taken) << c.answer;
        EXPECT_EQ(a.refusal.rfind(c.refusal, 0), 0u) << a.refusal;
        EXPECT_EQ(a.warning, "") << c.answer; // a refused answer gets its refusal only
    }
    EXPECT_TRUE(Take(Value::Frequency, "-2147483648").taken);
    EXPECT_TRUE(Take(Value::Band, "1").taken);
}

TEST(UselessFor, OutputRatesBeyondTheResamplersReachAreRefused)
{
    // The library forms the ratio of the rates in float and interpolates by at most 4096: at
    // 8000 Hz the last rate it takes is 32768001, at 48000 Hz 196608008.
    Settings s;
    for (auto [rate, most] : {std::pair{8000u, 32768001}, {48000u, 196608008}, {1u, 4096}})
    {
        s.outRateOrBand = most;
        EXPECT_EQ(UselessFor(Value::OutRate, s, rate), "") << rate;
        s.outRateOrBand = most + 1;
        EXPECT_EQ(UselessFor(Value::OutRate, s, rate),
                  "is more than 4096 times the input rate of " + std::to_string(rate) +
                      " Hz, so no sample would come out: give at most " + std::to_string(most));
    }
    // Downsampling by any ratio the record can hold is fine.
    s.outRateOrBand = 1;
    EXPECT_EQ(UselessFor(Value::OutRate, s, 2400000), "");

    const Answer a = Take(Value::OutRate, "200000000", 48000);
    EXPECT_FALSE(a.taken);
    EXPECT_EQ(a.refusal.rfind("SampleRateOut '200000000' is more than 4096 times", 0), 0u)
        << a.refusal;
}

TEST(UselessFor, BandsWiderThanTheInputRateAreRefused)
{
    Settings s;
    s.outRateOrBand = 48000;
    EXPECT_EQ(UselessFor(Value::Band, s, 48000), ""); // the whole band passes
    s.outRateOrBand = 48001;
    EXPECT_EQ(UselessFor(Value::Band, s, 48000),
              "is wider than the input rate of 48000 Hz, the widest band the input holds: give "
              "at most 48000");
    EXPECT_EQ(OptionUselessFor(Value::Band, s, "in.wav", 48000),
              "--band 48001 for 'in.wav' is wider than the input rate of 48000 Hz, the widest "
              "band the input holds: give at most 48000");
    EXPECT_EQ(OptionUselessFor(Value::Band, s, "in.wav", 96000), "");
    // Values that do not depend on the input are never refused here.
    s.frequency = 1000000;
    EXPECT_EQ(UselessFor(Value::Frequency, s, 8000), "");
    EXPECT_FALSE(DependsOnInput(Value::Frequency));
    EXPECT_TRUE(DependsOnInput(Value::OutRate));
}

TEST(TakeOption, SharesTheRangesOfTheAnswers)
{
    Settings s;
    std::string refusal;
    EXPECT_TRUE(TakeOption(Value::OutRate, "48k", s, refusal));
    EXPECT_EQ(s.outRateOrBand, 48000);
    EXPECT_FALSE(TakeOption(Value::Band, "0", s, refusal));
    EXPECT_EQ(refusal, "--band '0' is not a band width: give whole Hz from 1 to 2147483647, such "
                       "as 8000 or 8k");
    EXPECT_FALSE(TakeOption(Value::Quality, "3", s, refusal));
    EXPECT_TRUE(TakeOption(Value::Quality, "low", s, refusal));
    EXPECT_STREQ(s.quality, "Low");
}
