// Fuzz target: a snapshot picture's bytes through the framework's image decoders (PNG, JPEG and
// GIF, chosen by content), as the processor reads "images/NNN.jpg"; a picture it gives is drawn
// scaled, as the window draws it.
#include <cstdint>
#include <cstdlib>

#include <juce_graphics/juce_graphics.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto picture = juce::ImageFileFormat::loadFrom(data, size);
    if (!picture.isValid())
        return 0;
    if (picture.getWidth() > 16384 || picture.getHeight() > 16384
        || static_cast<int64_t>(picture.getWidth()) * picture.getHeight() > (int64_t { 1 } << 26))
        std::abort();
    juce::Image canvas(juce::Image::ARGB, 16, 12, true);
    juce::Graphics g(canvas);
    g.drawImageWithin(picture, 0, 0, 16, 12, juce::RectanglePlacement::centred);
    return 0;
}
