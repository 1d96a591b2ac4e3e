#include "editor/EmbeddedFonts.h"

#include "BinaryData.h"

juce::Typeface::Ptr embeddedTypeface(EmbeddedFace face)
{
    switch (face)
    {
        case EmbeddedFace::DisplayThin:
            return juce::Typeface::createSystemTypefaceFor(BinaryData::LatoThin_ttf,
                                                          static_cast<size_t>(BinaryData::LatoThin_ttfSize));
        case EmbeddedFace::OpenSansLight:
            return juce::Typeface::createSystemTypefaceFor(BinaryData::OpenSansLight_ttf,
                                                          static_cast<size_t>(BinaryData::OpenSansLight_ttfSize));
        case EmbeddedFace::OpenSansRegular:
            return juce::Typeface::createSystemTypefaceFor(BinaryData::OpenSansRegular_ttf,
                                                          static_cast<size_t>(BinaryData::OpenSansRegular_ttfSize));
        case EmbeddedFace::OpenSansSemiBold:
            break;
    }
    return juce::Typeface::createSystemTypefaceFor(BinaryData::OpenSansSemiBold_ttf,
                                                  static_cast<size_t>(BinaryData::OpenSansSemiBold_ttfSize));
}

juce::Font embeddedFont(EmbeddedFace face, float height)
{
    juce::Font font(embeddedTypeface(face));
    font.setHeight(height);
    return font;
}
