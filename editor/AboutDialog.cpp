#include "editor/AboutDialog.h"

#include "editor/DialogPanel.h"
#include "editor/EmbeddedFonts.h"
#include "plugin/ModelSource.h"

namespace
{
juce::String productVersion()
{
#ifdef JucePlugin_VersionString
    return JucePlugin_VersionString;
#else
    return "1.0.5";
#endif
}
} // namespace

AboutDialog::AboutDialog()
{
    titleLabel.setFont(embeddedFont(EmbeddedFace::OpenSansLight, 24.0f));
    titleLabel.setText("Ferrowick " + productVersion() + "\nDesigned by Quorvex", juce::dontSendNotification);
    titleLabel.setColour(juce::Label::textColourId, juce::Colours::white);
    titleLabel.setJustificationType(juce::Justification::centred);
    addAndMakeVisible(titleLabel);

    linkButton.setColour(juce::Label::textColourId, juce::Colours::white);
    linkButton.setButtonText(MakerWebAddress);
    linkButton.onClick = [] { juce::URL(MakerWebAddress).launchInDefaultBrowser(); };
    addAndMakeVisible(linkButton);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::paint(juce::Graphics& g)
{
    paintDialogPanel(g, getWidth(), getHeight());
}

void AboutDialog::resized()
{
    const int half = getWidth() / 2;
    titleLabel.setBounds(10, 30, half - 20, 50);
    linkButton.setBounds(30, 100, half - 60, 24);
}
