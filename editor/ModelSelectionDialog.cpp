#include "editor/ModelSelectionDialog.h"

#include "editor/DialogPanel.h"
#include "plugin/ModelSource.h"

ModelSelectionDialog::ModelSelectionDialog()
{
    for (const auto& id : ModelSource::getModelIds())
    {
        const auto entry = ModelSource::loadModel(id);

        auto button = std::make_unique<FlatButton>();
        button->setButtonText(entry.DeviceName);
        button->setColour(FlatButton::backgroundColourId, juce::Colour(0x00000000));
        button->setColour(FlatButton::backgroundHoverColourId, juce::Colour(0x00000000));
        button->setColour(FlatButton::textColourId, juce::Colour(0xCCFFFFFF));
        button->setColour(FlatButton::textHoverColourId, juce::Colour(0xF2FFFFFF));
        button->tracking = 4.0f;
        button->centred = true;

        // The button passes the id from the folder's metadata, which may differ from the folder's name.
        button->onClick = [this, modelId = entry.ModelId] {
            if (overlay != nullptr)
                overlay->setVisible(false);
            if (onModelChange)
                onModelChange(modelId);
        };

        addAndMakeVisible(*button);
        buttons.push_back(std::move(button));
    }
}

ModelSelectionDialog::~ModelSelectionDialog()
{
    while (!buttons.empty())
        buttons.pop_back();
}

void ModelSelectionDialog::paint(juce::Graphics& g)
{
    paintDialogPanel(g, getWidth(), getHeight());
}

void ModelSelectionDialog::resized()
{
    // Two columns: four buttons on the left, every further one on the right.
    const int half = getWidth() / 2;
    for (size_t k = 0; k < buttons.size(); ++k)
    {
        const int index = static_cast<int>(k);
        if (index < 4)
            buttons[k]->setBounds(20, 30 + 35 * index, half - 40, 20);
        else
            buttons[k]->setBounds(half + 20, 30 + 35 * (index - 4), half - 40, 20);
    }
}
