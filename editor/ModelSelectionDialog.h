#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/FlatButton.h"

// The model dialog: one button per model folder of the catalogue, in two columns of four. A click
// hides the overlay and hands the folder's model id to onModelChange.
class ModelSelectionDialog : public juce::Component
{
public:
    ModelSelectionDialog();
    ~ModelSelectionDialog() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    std::function<void(juce::String)> onModelChange = [](juce::String) {};
    juce::Component* overlay = nullptr;  // not owned
    std::vector<std::unique_ptr<FlatButton>> buttons;
};
