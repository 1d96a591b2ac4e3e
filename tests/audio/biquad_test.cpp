#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "audio/Biquad.h"
#include "audio/FilterRuns.h"

using namespace ferrowick;

namespace
{

struct Coeffs
{
    double b0, b1, b2, a1, a2;
};

// Double-precision reference of the nine designs, written from the textbook forms
// (numerator and denominator, then normalised by a0).
Coeffs referenceDesign(int type, double f, double fs, double gainDb, double q)
{
    const double pi = 3.14159265358979323846;
    const double v = std::pow(10.0, std::fabs(gainDb) / 20.0);
    const double k = std::tan(pi * f / fs);
    const double e = std::exp(-2.0 * pi * f / fs);
    const double r = std::sqrt(2.0);
    const double s = std::sqrt(2.0 * v);
    double num[3] = {0, 0, 0};
    double den[3] = {1, 0, 0};
    auto set = [](double* d, double x0, double x1, double x2) { d[0] = x0; d[1] = x1; d[2] = x2; };
    const bool boost = gainDb >= 0.0;
    switch (type)
    {
    case 0: return {1.0 - e, 0.0, 0.0, -e, 0.0};
    case 1: return {-e, e, 0.0, -e, 0.0};
    case 2: set(num, k * k, 2 * k * k, k * k); break;
    case 3: set(num, 1, -2, 1); break;
    case 4: set(num, k / q, 0, -k / q); break;
    case 5: set(num, 1 + k * k, 2 * (k * k - 1), 1 + k * k); break;
    case 6:
    {
        double lo[3] = {1 + k / q + k * k, 2 * (k * k - 1), 1 - k / q + k * k};
        double hi[3] = {1 + v * k / q + k * k, 2 * (k * k - 1), 1 - v * k / q + k * k};
        set(num, boost ? hi[0] : lo[0], boost ? hi[1] : lo[1], boost ? hi[2] : lo[2]);
        set(den, boost ? lo[0] : hi[0], boost ? lo[1] : hi[1], boost ? lo[2] : hi[2]);
        break;
    }
    case 7:
    case 8:
    {
        double flat[3] = {1 + r * k + k * k, 2 * (k * k - 1), 1 - r * k + k * k};
        double shelf[3];
        if (type == 7)
            set(shelf, 1 + s * k + v * k * k, 2 * (v * k * k - 1), 1 - s * k + v * k * k);
        else
            set(shelf, v + s * k + k * k, 2 * (k * k - v), v - s * k + k * k);
        set(num, boost ? shelf[0] : flat[0], boost ? shelf[1] : flat[1], boost ? shelf[2] : flat[2]);
        set(den, boost ? flat[0] : shelf[0], boost ? flat[1] : shelf[1], boost ? flat[2] : shelf[2]);
        break;
    }
    }
    if (type >= 2 && type <= 5)
        set(den, 1 + k / q + k * k, 2 * (k * k - 1), 1 - k / q + k * k);
    return {num[0] / den[0], num[1] / den[0], num[2] / den[0], den[1] / den[0], den[2] / den[0]};
}

Biquad design(int type, float f, float fs, float gainDb, float q)
{
    Biquad b;
    b.sampleRate = fs;
    b.samplePeriod = 1.0f / fs;
    b.type = type;
    b.frequency = f;
    b.gainDb = gainDb;
    b.q = q;
    b.Update();
    return b;
}

// Relative tolerance, so that small coefficients (a low-pass's K^2 n) are checked as closely.
void expectNear(const Biquad& b, const Coeffs& c, double rel, const char* what)
{
    SCOPED_TRACE(what);
    EXPECT_NEAR(b.b0, c.b0, rel * std::fabs(c.b0) + 1e-9);
    EXPECT_NEAR(b.b1, c.b1, rel * std::fabs(c.b1) + 1e-9);
    EXPECT_NEAR(b.b2, c.b2, rel * std::fabs(c.b2) + 1e-9);
    EXPECT_NEAR(b.a1, c.a1, rel * std::fabs(c.a1) + 1e-9);
    EXPECT_NEAR(b.a2, c.a2, rel * std::fabs(c.a2) + 1e-9);
}

using testing_support::noise;

} // namespace

TEST(Biquad, AllTypesMatchDoublePrecisionDesigns)
{
    const float settings[][4] = {
        {120.0f, 48000.0f, 3.0f, 0.5f},   {120.0f, 48000.0f, -3.0f, 0.5f},
        {1000.0f, 48000.0f, 6.0f, 0.707f}, {5000.0f, 96000.0f, -12.0f, 2.0f},
        {15000.0f, 48000.0f, 1.5f, 1.0f},
    };
    for (int type = 0; type <= 8; ++type)
        for (const auto& s : settings)
        {
            const Biquad b = design(type, s[0], s[1], s[2], s[3]);
            const std::string what = "type " + std::to_string(type) + " f " + std::to_string(s[0])
                                     + " gain " + std::to_string(s[2]);
            expectNear(b, referenceDesign(type, s[0], s[1], s[2], s[3]), 1e-5, what.c_str());
        }
}

TEST(Biquad, ProcessorBassSetUpsGiveTheKnownCoefficients)
{
    const Biquad boost = design(6, 120.0f, 48000.0f, 3.0f, 0.5f);
    EXPECT_NEAR(boost.b0, 1.0064, 1e-4);
    EXPECT_NEAR(boost.b1, -1.9688, 1e-4);
    EXPECT_EQ(boost.b1, boost.a1);
    EXPECT_NEAR(boost.b2, 0.9627, 1e-4);
    EXPECT_NEAR(boost.a2, 0.9691, 1e-4);

    const Biquad cut = design(6, 120.0f, 48000.0f, -3.0f, 0.5f);
    EXPECT_NEAR(cut.b0, 0.9937, 1e-4);
    EXPECT_NEAR(cut.b1, -1.9563, 1e-4);
    EXPECT_EQ(cut.b1, cut.a1);
    EXPECT_NEAR(cut.b2, 0.9629, 1e-4);
    EXPECT_NEAR(cut.a2, 0.9566, 1e-4);
}

// Each cut form inverts the boost form of the same |gain|: boost then cut gives the input back,
// within the single-precision error of poles this close to the unit circle (a wrong form is off
// by tenths).
TEST(Biquad, BoostThenCutReturnsTheInput)
{
    for (int type = 6; type <= 8; ++type)
    {
        Biquad boost = design(type, 120.0f, 48000.0f, 3.0f, 0.5f);
        Biquad cut = design(type, 120.0f, 48000.0f, -3.0f, 0.5f);
        const std::vector<float> x = noise(4000, 7);
        std::vector<float> y = x;
        ferrowick::runBiquad(boost, y.data(), static_cast<int>(y.size()));
        ferrowick::runBiquad(cut, y.data(), static_cast<int>(y.size()));
        for (size_t i = 0; i < x.size(); ++i)
            ASSERT_NEAR(y[i], x[i], 5e-4) << "type " << type << " sample " << i;
    }
}

TEST(Biquad, PeakAtZeroGainPassesTheSignal)
{
    Biquad b = design(6, 120.0f, 48000.0f, 0.0f, 0.5f);
    EXPECT_FLOAT_EQ(b.b0, 1.0f);
    EXPECT_EQ(b.b1, b.a1);
    EXPECT_EQ(b.b2, b.a2);
    const std::vector<float> x = noise(2000, 3);
    std::vector<float> y = x;
    ferrowick::runBiquad(b, y.data(), static_cast<int>(y.size()));
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(y[i], x[i], 1e-4) << i;
}

TEST(Biquad, NanGainTakesTheCutForm)
{
    // The boost forms keep a finite denominator; the cut forms put V into it, so all five
    // coefficients become NaN.
    for (int type = 6; type <= 8; ++type)
    {
        const Biquad b = design(type, 120.0f, 48000.0f, std::numeric_limits<float>::quiet_NaN(), 0.5f);
        EXPECT_TRUE(std::isnan(b.b0) && std::isnan(b.b1) && std::isnan(b.b2) && std::isnan(b.a1)
                    && std::isnan(b.a2))
            << "type " << type;
    }
}

TEST(Biquad, UnknownTypesKeepTheCoefficients)
{
    for (int type : {9, 100, -1})
    {
        Biquad b = design(6, 120.0f, 48000.0f, 3.0f, 0.5f);
        const Biquad before = b;
        b.type = type;
        b.frequency = 5000.0f;
        b.Update();
        EXPECT_EQ(b.b0, before.b0) << type;
        EXPECT_EQ(b.b1, before.b1) << type;
        EXPECT_EQ(b.b2, before.b2) << type;
        EXPECT_EQ(b.a1, before.a1) << type;
        EXPECT_EQ(b.a2, before.a2) << type;
    }
}

TEST(Biquad, OnePoleAtZeroHertzHoldsTheOutput)
{
    Biquad b = design(0, 0.0f, 48000.0f, 0.0f, 0.5f);
    EXPECT_EQ(b.b0, 0.0f);
    EXPECT_EQ(b.a1, -1.0f);
    b.y1 = 0.25f;
    float x[4] = {1.0f, -1.0f, 0.5f, 3.0f};
    ferrowick::runBiquad(b, x, 4);
    for (float y : x)
        EXPECT_EQ(y, 0.25f);
}

TEST(Biquad, ShelvesIgnoreQ)
{
    for (int type : {7, 8})
        for (float gain : {4.0f, -4.0f})
        {
            const Biquad a = design(type, 800.0f, 48000.0f, gain, 0.3f);
            const Biquad b = design(type, 800.0f, 48000.0f, gain, 4.0f);
            EXPECT_EQ(a.b0, b.b0);
            EXPECT_EQ(a.b1, b.b1);
            EXPECT_EQ(a.b2, b.b2);
            EXPECT_EQ(a.a1, b.a1);
            EXPECT_EQ(a.a2, b.a2);
        }
}

TEST(Biquad, UpdateLeavesTheState)
{
    Biquad b = design(6, 120.0f, 48000.0f, 3.0f, 0.5f);
    b.x1 = 0.1f;
    b.x2 = -0.2f;
    b.y1 = 0.3f;
    b.y2 = -0.4f;
    b.gainDb = -6.0f;
    b.Update();
    EXPECT_EQ(b.x1, 0.1f);
    EXPECT_EQ(b.x2, -0.2f);
    EXPECT_EQ(b.y1, 0.3f);
    EXPECT_EQ(b.y2, -0.4f);
}
