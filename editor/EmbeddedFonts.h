#pragma once

#include <juce_graphics/juce_graphics.h>

// The fonts compiled into the plug-in. There are no system fonts to fall back on, so every text
// of the window is drawn in one of these faces.
enum class EmbeddedFace
{
    DisplayThin,      // the thin display face of the flat buttons
    OpenSansLight,    // table cells, label buttons, the about dialog's title
    OpenSansRegular,  // the editor's labels and the table header
    OpenSansSemiBold  // the look and feel's default sans-serif face
};

// A typeface made anew from the embedded font data at each call; nothing is cached.
juce::Typeface::Ptr embeddedTypeface(EmbeddedFace face);

// A font of that face at the given height, made from a fresh typeface.
juce::Font embeddedFont(EmbeddedFace face, float height);
