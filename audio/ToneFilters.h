#pragma once

namespace ferrowick
{

// One-pole low-pass at 8 kHz for 48 kHz.
struct OnePoleLowpass
{
    float a = 0.618034f;
    float b = 0.381966f;
    float lastOutput = 0.0f;
};

// Tracks the low-frequency content (40 Hz corner at 48 kHz) that the path subtracts.
struct DcBlocker
{
    float c0 = 0.005222559f;
    float c1 = 0.99477744f;
    float mean = 0.0f;
};

} // namespace ferrowick
