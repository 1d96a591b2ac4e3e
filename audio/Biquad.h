#pragma once

#include <cstdint>

namespace ferrowick
{

// Second-order IIR filter record: design settings, coefficients normalised to a0 = 1, and the
// direct-form-I state. The owner zeroes the state, sets the settings and calls Update().
struct Biquad
{
    float sampleRate = 0.0f;
    float samplePeriod = 0.0f;
    float gainDb = 0.0f;
    float q = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
    float b0 = 0.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float x1 = 0.0f;
    float x2 = 0.0f;
    float y1 = 0.0f;
    float y2 = 0.0f;
    int32_t type = 0; // 0 one-pole LP, 1 one-pole HP, 2 LP, 3 HP, 4 BP, 5 notch, 6 peak, 7 low shelf, 8 high shelf
    float frequency = 0.0f;

    // Recomputes the five coefficients from the settings; never touches the state. A type
    // outside 0..8 leaves the coefficients as they were.
    void Update();
};

// The tone filters' bass peak (bass boost and bass cut): a peak filter at 120 Hz with Q 0.5 and
// the given gain, for the given rate, its coefficients computed and its state zero.
Biquad bassPeakFilter(float sampleRate, float gainDb);

} // namespace ferrowick
