#pragma once

#include <array>
#include <memory>

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/AboutDialog.h"
#include "editor/ColourIndicator.h"
#include "editor/CustomLookAndFeel.h"
#include "editor/FlatButton.h"
#include "editor/ModalOverlay.h"
#include "editor/ModelSelectionDialog.h"
#include "editor/RectangleComponent.h"
#include "editor/SliderGn.h"
#include "plugin/PluginProcessor.h"
#include "plugin/PluginWindow.h"

// The plug-in window, 1545 x 1118 pixels: background and model picture, the two gain faders with
// their value labels, the input meter, the snapshot table, the model and about dialogs in a modal
// overlay, the help texts, the sample-rate message and the UI-scaling label.
//
// Everything here runs on the message thread. The processor reaches the window only from there
// (applyTableModel, updateSampleRateMessage, repaint); changes made on other threads are carried
// over by the processor. The table never points at an entry that nobody owns: the window keeps
// its own reference to the entry it shows.
class CorvaneAudioProcessorEditor : public juce::AudioProcessorEditor, public juce::Timer, public PluginWindow
{
public:
    explicit CorvaneAudioProcessorEditor(CorvaneAudioProcessor& p);
    ~CorvaneAudioProcessorEditor() override;

    void mouseMove(const juce::MouseEvent& event) override;
    void mouseEnter(const juce::MouseEvent& event) override;
    void mouseExit(const juce::MouseEvent& event) override;
    void mouseDown(const juce::MouseEvent& event) override;
    void mouseUp(const juce::MouseEvent& event) override;
    void visibilityChanged() override;
    void paint(juce::Graphics& g) override;
    void resized() override;
    // Scales the window to the primary display and the UiScaling setting; the argument is ignored.
    void setScaleFactor(float newScale) override;
    // The input meter, every 33 ms.
    void timerCallback() override;

    // Binds the fader to the parameter ParameterIds[index].
    void attachParam(juce::Slider* slider, int index);
    void addKnobLabels();
    // Binds the snapshot table to the processor's current catalogue entry and selects its row.
    void applyTableModel() override;
    // Shows the sample-rate message exactly when the processor's rate is neither 48 nor 96 kHz.
    void updateSampleRateMessage() override;

    // The actions behind the table's rows, the model dialog and the scaling menu.
    void rowChosen(int row);
    void modelChosen(juce::String id);
    void uiScalingChosen(int percentage);
    // Records the model and snapshot that play as the last choice in the settings.
    void recordPlaying();

    juce::CriticalSection editorLock;
    CustomLookAndFeel lookAndFeel;
    juce::Image backgroundImage;
    CorvaneAudioProcessor& processorRef;
    SliderGn inputGainSlider;
    SliderGn outputGainSlider;
    std::array<juce::Label, 2> knobLabels;
    FlatButton modelButton;
    FlatButton websiteButton;
    std::array<std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment>, 2> sliderAttachments;
    ModalOverlay modalOverlay;
    AboutDialog aboutDialog;
    ModelSelectionDialog modelSelectionDialog;
    // The entry that the table shows, kept alive for as long as the table refers to it.
    std::shared_ptr<ModelSource> tableEntry;
    juce::TableListBox snapshotTable { {}, nullptr };
    ColourIndicator inputMeter;
    juce::Label helpLabel;
    juce::Label sampleRateLabel;
    juce::Label uiScalingLabel;
    juce::Label veilLabel;
    RectangleComponent veil;

private:
    void showInOverlay(juce::Component& dialog);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CorvaneAudioProcessorEditor)
};

// The look of the value labels under the faders.
void styleKnobLabel(juce::Label* label);
