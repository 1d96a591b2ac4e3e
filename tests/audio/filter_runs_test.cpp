#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "audio/FilterRuns.h"
#include "audio/Gain.h"

using namespace ferrowick;

TEST(Lowpass, RunsTheOnePoleRecursion)
{
    OnePoleLowpass lp;
    float x[3] = {1.0f, 0.5f, -0.25f};
    runLowpass(lp, x, 3);
    float last = 0.0f;
    const float in[3] = {1.0f, 0.5f, -0.25f};
    for (int i = 0; i < 3; ++i)
    {
        last = 0.618034f * in[i] + 0.381966f * last;
        EXPECT_EQ(x[i], last) << i;
    }
    EXPECT_EQ(lp.lastOutput, last);
}

TEST(Lowpass, ZeroInputSnapsOnlyADecayedTailOfEitherSign)
{
    struct Case
    {
        float last;
        float expected; // output for one exact-zero input
    };
    const Case cases[] = {
        {5e-8f, 0.0f},                  // below 1e-7: snapped to 0
        {-5e-8f, 0.0f},
        {-1e-30f, 0.0f},
        {2e-7f, 0.381966f * 2e-7f},     // at or above 1e-7: decays normally
        {-0.5f, 0.381966f * -0.5f},     // a negative tail too, instead of a step to 0
        {-1e-7f, 0.381966f * -1e-7f},
    };
    for (const Case& c : cases)
    {
        OnePoleLowpass lp;
        lp.lastOutput = c.last;
        float x = 0.0f;
        runLowpass(lp, &x, 1);
        EXPECT_EQ(x, c.expected) << c.last;
        EXPECT_EQ(lp.lastOutput, c.expected) << c.last;
    }
    // A non-zero input is filtered whatever lastOutput is.
    OnePoleLowpass lp;
    lp.lastOutput = -0.5f;
    float x = 0.25f;
    runLowpass(lp, &x, 1);
    EXPECT_EQ(x, 0.618034f * 0.25f + 0.381966f * -0.5f);
}

TEST(Lowpass, DecayingTailReachesExactZero)
{
    OnePoleLowpass lp;
    lp.lastOutput = 1.0f;
    float x[64] = {};
    runLowpass(lp, x, 64);
    EXPECT_EQ(lp.lastOutput, 0.0f);
    int firstZero = 0;
    while (x[firstZero] != 0.0f)
        ++firstZero;
    EXPECT_LT(x[firstZero - 1], 1e-7f); // snapped on the sample after it fell below 1e-7
    EXPECT_GE(x[firstZero - 2], 1e-7f);
    for (int i = firstZero; i < 64; ++i)
        EXPECT_EQ(x[i], 0.0f);
}

TEST(DcBlocker, SubtractsTheTrackedMean)
{
    DcBlocker dc;
    const float in[3] = {1.0f, 1.0f, -2.0f};
    float x[3] = {1.0f, 1.0f, -2.0f};
    runDcBlocker(dc, x, 3);
    float mean = 0.0f;
    for (int i = 0; i < 3; ++i)
    {
        mean = 0.99477744f * mean + 0.005222559f * in[i];
        EXPECT_EQ(x[i], in[i] - mean) << i;
    }
    EXPECT_EQ(dc.mean, mean);
}

TEST(DcBlocker, ZeroInputHoldsOnlyADecayedMeanOfEitherSign)
{
    for (float mean : {5e-7f, -5e-7f, -1e-30f})
    {
        DcBlocker dc;
        dc.mean = mean;
        float x[2] = {0.0f, 0.0f};
        runDcBlocker(dc, x, 2);
        EXPECT_EQ(x[0], 0.0f) << mean;
        EXPECT_EQ(x[1], 0.0f) << mean;
        EXPECT_EQ(dc.mean, mean) << "held unchanged";
    }
    // At or above 1e-6, of either sign, the mean keeps decaying and is subtracted: silence after
    // a passage with a negative offset fades out instead of stepping to 0 and keeping the offset
    // for the next sound.
    for (float mean : {2e-6f, -2e-6f, -0.3f})
    {
        DcBlocker dc;
        dc.mean = mean;
        float x = 0.0f;
        runDcBlocker(dc, &x, 1);
        const float expected = 0.99477744f * mean + 0.005222559f * 0.0f;
        EXPECT_EQ(dc.mean, expected) << mean;
        EXPECT_EQ(x, 0.0f - expected) << mean;
    }
    // A non-zero sample after a held mean updates it again.
    DcBlocker dc;
    dc.mean = -5e-7f;
    float x = 0.5f;
    runDcBlocker(dc, &x, 1);
    EXPECT_EQ(dc.mean, 0.99477744f * -5e-7f + 0.005222559f * 0.5f);
}

TEST(DcBlocker, IsAFortyHertzHighPassThatSparesTheGuitarsLowNotes)
{
    // Steady-state level of a sine, in dB, for the corner and a guitar's lowest notes.
    const std::pair<double, double> expected[] = {{40.2, -3.0}, {61.74, -1.54}, {73.42, -1.15}, {82.41, -0.94}};
    for (const auto& [frequency, db] : expected)
    {
        DcBlocker dc;
        std::vector<float> x(96000);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / 48000.0));
        runDcBlocker(dc, x.data(), static_cast<int>(x.size()));
        double sum = 0.0;
        for (size_t i = 48000; i < x.size(); ++i)
            sum += static_cast<double>(x[i]) * x[i];
        EXPECT_NEAR(10.0 * std::log10(sum / 48000.0 * 2.0), db, 0.05) << frequency;
    }
}

TEST(Gain, ParameterValuesToFactors)
{
    EXPECT_EQ(parameterToDb(0.0f), -40.0f);
    EXPECT_EQ(parameterToDb(1.0f), 20.0f);
    EXPECT_NEAR(parameterToDb(0.666667f), 0.0f, 0.00002f); // the parameters' default
    EXPECT_NEAR(parameterToGain(0.666667f), 1.0f, 3e-6f);
    EXPECT_FLOAT_EQ(parameterToGain(1.0f), 10.0f);
    EXPECT_FLOAT_EQ(parameterToGain(0.0f), 0.01f);
    EXPECT_FLOAT_EQ(dbToGain(-6.0f), 0.50118723f);
    // dB is formed in double precision: in single precision this value would give -39.1839981.
    EXPECT_EQ(parameterToDb(0.0135999992f), -39.1840019f);
}

TEST(Gain, RmsLevel)
{
    const float x[2] = {3.0f, 4.0f};
    EXPECT_FLOAT_EQ(rmsLevel(x, 2), std::sqrt(12.5f));
    EXPECT_EQ(rmsLevel(x, 0), 0.0f); // empty block: finite, non-negative
    EXPECT_EQ(rmsLevel(nullptr, 0), 0.0f);
}
