#include "editor/PluginEditor.h"

#include <cmath>

#include "BinaryData.h"
#include "editor/EmbeddedFonts.h"
#include "editor/UiScaling.h"
#include "plugin/Parameters.h"
#include "plugin/PluginSettings.h"

namespace
{
constexpr int editorWidth = 1545;
constexpr int editorHeight = 1118;

const juce::Colour labelTextColour { 0xFF4C4C4C };

// Areas of the window, in its own coordinates.
bool inAboutArea(juce::Point<int> p)
{
    return p.x < 400 && p.y < 106;
}

bool inVeilArea(juce::Point<int> p, int width)
{
    return p.x >= 400 && p.x <= width - 400 && p.y >= 122 && p.y <= 740;
}

juce::String uiScalingText()
{
    return "UI: " + juce::String(PluginSettings::Get().UiScaling) + "%";
}

// A selection of one row; none for -1.
juce::SparseSet<int> rowsOf(int row)
{
    juce::SparseSet<int> rows;
    if (row >= 0)
        rows.addRange({ row, row + 1 });
    return rows;
}
} // namespace

void styleKnobLabel(juce::Label* label)
{
    label->setJustificationType(juce::Justification::centred);
    label->setColour(juce::Label::textColourId, juce::Colour(0x99FFFFFF));
    label->setFont(embeddedFont(EmbeddedFace::OpenSansRegular, 22.0f));
}

CorvaneAudioProcessorEditor::CorvaneAudioProcessorEditor(CorvaneAudioProcessor& p)
    : AudioProcessorEditor(p), processorRef(p)
{
    const juce::ScopedLock lock(editorLock);

    {
        juce::MemoryInputStream stream(BinaryData::Background_png, static_cast<size_t>(BinaryData::Background_pngSize),
                                       false);
        backgroundImage = juce::ImageFileFormat::loadFrom(stream);
    }

    setOpaque(true);
    setSize(editorWidth, editorHeight);
    setLookAndFeel(&lookAndFeel);
    setResizable(false, false);

    inputGainSlider.setBounds(58, 840, 24, 210);
    outputGainSlider.setBounds(164, 840, 24, 210);
    inputGainSlider.setMouseDragSensitivity(210);
    outputGainSlider.setMouseDragSensitivity(210);
    addAndMakeVisible(inputGainSlider);
    addAndMakeVisible(outputGainSlider);

    attachParam(&inputGainSlider, 0);
    attachParam(&outputGainSlider, 1);
    addKnobLabels();

    inputMeter.setBounds(58, 1080, 24, 10);
    addAndMakeVisible(inputMeter);

    aboutDialog.setBounds(0, 0, 550, 180);
    modalOverlay.setContent(aboutDialog);
    modalOverlay.setBounds(0, 0, editorWidth, editorHeight);
    addAndMakeVisible(modalOverlay);
    modalOverlay.setVisible(false);

    modelSelectionDialog.setBounds(0, 0, 550, 180);
    modelSelectionDialog.overlay = &modalOverlay;
    modelSelectionDialog.onModelChange = [this](juce::String id) { modelChosen(std::move(id)); };

    // Dialogs show 1.5 times larger, centred on the window.
    modalOverlay.setTransform(juce::AffineTransform::scale(1.5f, 1.5f, 772.0f, 559.0f));

    snapshotTable.setBounds(262, 773, 1283, 345);
    addAndMakeVisible(snapshotTable);

    modelButton.setBounds(765, 30, 745, 60);
    modelButton.setButtonText("Model");
    modelButton.setColour(FlatButton::backgroundColourId, juce::Colour(0x00000000));
    modelButton.setColour(FlatButton::backgroundHoverColourId, juce::Colour(0x00000000));
    modelButton.setColour(FlatButton::textColourId, juce::Colour(0xCCFFFFFF));
    modelButton.setColour(FlatButton::textHoverColourId, juce::Colour(0xF2FFFFFF));
    modelButton.tracking = 20.0f;
    addAndMakeVisible(modelButton);
    modelButton.onClick = [this] { showInOverlay(modelSelectionDialog); };
    modelButton.addMouseListener(this, false);

    websiteButton.setBounds(1270, 720, 270, 35);
    websiteButton.setButtonText("Visit Website");
    websiteButton.setColour(FlatButton::backgroundColourId, juce::Colour(0x00000000));
    websiteButton.setColour(FlatButton::backgroundHoverColourId, juce::Colour(0x00000000));
    websiteButton.setColour(FlatButton::textColourId, juce::Colour(0x66000000));
    websiteButton.setColour(FlatButton::textHoverColourId, juce::Colour(0x8C000000));
    websiteButton.tracking = 5.0f;
    websiteButton.onClick = [this] {
        const auto shown = processorRef.currentEntry().entry;
        juce::URL(shown != nullptr ? shown->DeviceUrl : juce::String()).launchInDefaultBrowser();
    };
    addAndMakeVisible(websiteButton);

    helpLabel.setBounds(15, 460, 250, 300);
    helpLabel.setFont(embeddedFont(EmbeddedFace::OpenSansRegular, 20.0f));
    helpLabel.setColour(juce::Label::textColourId, labelTextColour);
    helpLabel.setText({}, juce::dontSendNotification);
    helpLabel.setJustificationType(juce::Justification::bottomLeft);
    helpLabel.setMinimumHorizontalScale(1.0f);
    addAndMakeVisible(helpLabel);

    sampleRateLabel.setBounds(15, 400, 250, 300);
    sampleRateLabel.setFont(embeddedFont(EmbeddedFace::OpenSansRegular, 28.0f));
    sampleRateLabel.setColour(juce::Label::textColourId, labelTextColour);
    sampleRateLabel.setText("This plugin only supports sample rates of 48Khz or 96Khz!", juce::dontSendNotification);
    sampleRateLabel.setJustificationType(juce::Justification::centredTop);
    sampleRateLabel.setMinimumHorizontalScale(1.0f);
    sampleRateLabel.setVisible(false);
    addChildComponent(sampleRateLabel);
    updateSampleRateMessage();

    uiScalingLabel.setBounds(0, 120, 100, 28);
    uiScalingLabel.setFont(embeddedFont(EmbeddedFace::OpenSansRegular, 24.0f));
    uiScalingLabel.setColour(juce::Label::textColourId, juce::Colour(0x661A1A1A));
    uiScalingLabel.setJustificationType(juce::Justification::topLeft);
    uiScalingLabel.setText(uiScalingText(), juce::dontSendNotification);
    uiScalingLabel.setMouseCursor(juce::MouseCursor::PointingHandCursor);
    uiScalingLabel.addMouseListener(this, false);
    addAndMakeVisible(uiScalingLabel);

    veilLabel.setBounds(400, 320, getWidth() - 800, 200);
    veilLabel.setFont(embeddedFont(EmbeddedFace::OpenSansRegular, 28.0f));
    veilLabel.setColour(juce::Label::textColourId, juce::Colour(0xCCFFFFFF));
    veilLabel.setJustificationType(juce::Justification::centred);
    veilLabel.setText("These controls are not editable.\nTo change the sound, select another snapshot from the list below.",
                      juce::dontSendNotification);
    veilLabel.setVisible(false);
    addChildComponent(veilLabel);

    veil.setBounds(400, 320, getWidth() - 800, 200);
    veil.colour = juce::Colour(0xCC000000);
    veil.setVisible(false);
    addChildComponent(veil, 0);

    startTimer(33);

    applyTableModel();
    snapshotTable.selectRow(processorRef.currentEntry().programIndex, true, true);
}

CorvaneAudioProcessorEditor::~CorvaneAudioProcessorEditor()
{
    stopTimer();
    {
        const juce::ScopedLock lock(editorLock);
    }
    setLookAndFeel(nullptr);
    // The entry outlives this window: leave no callback into it behind.
    if (tableEntry != nullptr)
        tableEntry->RowChangeCallback = [](int32_t) {};
}

void CorvaneAudioProcessorEditor::attachParam(juce::Slider* slider, int index)
{
    auto& slot = sliderAttachments[static_cast<size_t>(index)];
    slot.reset();
    slot = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment>(
        processorRef.valueTreeState, ParameterIds[static_cast<size_t>(index)], *slider);
    slider->addMouseListener(this, false);
}

void CorvaneAudioProcessorEditor::addKnobLabels()
{
    std::array<SliderGn*, 2> faders { &inputGainSlider, &outputGainSlider };
    for (int i = 0; i < 2; ++i)
    {
        auto& fader = *faders[static_cast<size_t>(i)];
        auto& label = knobLabels[static_cast<size_t>(i)];
        // The parameter's own value text, the dB text of the gain parameters. A change made by the
        // host reaches the fader through its attachment, so the label follows it too.
        auto parameterText = [this, i] { return processorRef.getParameters()[i]->getCurrentValueAsText(); };
        fader.onValueChange = [&label, parameterText] { label.setText(parameterText(), juce::dontSendNotification); };
        styleKnobLabel(&label);
        label.setText(parameterText(), juce::dontSendNotification);
        const int x = static_cast<int>(static_cast<float>(fader.getX()) + static_cast<float>(fader.getWidth()) * 0.5f - 45.0f);
        label.setBounds(x, fader.getY() + fader.getHeight(), 90, 30);
        addAndMakeVisible(label);
    }
}

void CorvaneAudioProcessorEditor::applyTableModel()
{
    const auto current = processorRef.currentEntry();
    if (current.entry == nullptr)
        return;
    auto& e = *current.entry;

    // The previous entry stays alive until the table has let go of it.
    auto previous = std::exchange(tableEntry, current.entry);
    snapshotTable.setModel(&e);
    previous.reset();

    snapshotTable.addMouseListener(this, true);
    snapshotTable.setHeaderHeight(40);
    snapshotTable.setRowHeight(30);
    snapshotTable.updateContent();
    modelButton.setButtonText(e.DeviceName);
    e.RowChangeCallback = [this](int32_t row) { rowChosen(row); };

    e.ColumnWidths.clear();
    const int columns = e.ColumnNames.size();
    for (int i = 0; i < columns; ++i)
    {
        int w = static_cast<int>(std::ceil(e.TableFont.getStringWidthFloat(e.ColumnNames[i])));
        for (const auto& row : e.Rows)
        {
            const juce::String cell = i < row.size() ? row[i] : juce::String();
            w = std::max(w, static_cast<int>(std::ceil(e.TableFont.getStringWidthFloat(cell))));
        }
        e.ColumnWidths.push_back(w);
    }

    auto& header = snapshotTable.getHeader();
    header.removeAllColumns();
    for (int i = 0; i < columns; ++i)
    {
        const int w = e.ColumnWidths[static_cast<size_t>(i)];
        header.addColumn(e.ColumnNames[i], i + 1, w + 60, w + 40, w + 160);
    }

    // The entry's current row becomes the whole selection and is reported to the row callback;
    // while the entry has none (-1) the selection is empty and the table reports -1.
    snapshotTable.setSelectedRows(rowsOf(current.programIndex));
}

void CorvaneAudioProcessorEditor::updateSampleRateMessage()
{
    const int rate = processorRef.sampleRate.load();
    sampleRateLabel.setVisible(rate != 48000 && rate != 96000);
}

void CorvaneAudioProcessorEditor::rowChosen(int row)
{
    if (row < 0)
        return;
    if (tableEntry == nullptr)
        return;
    processorRef.setProgramOf(*tableEntry, row);
    const auto playing = processorRef.currentEntry();
    // A click on a table whose entry a host restore has just replaced changed nothing: the table
    // is about to show the new entry.
    if (playing.entry != tableEntry)
        return;
    // A snapshot that cannot play leaves the previous one playing: the table goes back to it.
    if (playing.programIndex != row)
        snapshotTable.setSelectedRows(rowsOf(playing.programIndex), juce::dontSendNotification);
    recordPlaying();
}

void CorvaneAudioProcessorEditor::modelChosen(juce::String id)
{
    processorRef.setModel(id, 0);
    recordPlaying();
}

void CorvaneAudioProcessorEditor::recordPlaying()
{
    // The model and snapshot that play, as a pair, so that a new instance starts with them.
    const auto [id, index] = processorRef.currentChoice();
    PluginSettings::Update([&id = id, index = index](PluginSettings& record) {
        record.LastSelectedModelId = id;
        record.LastSelectedModelIdx = index;
    });
}

void CorvaneAudioProcessorEditor::uiScalingChosen(int percentage)
{
    PluginSettings::Update([percentage](PluginSettings& record) { record.UiScaling = percentage; });
    setScaleFactor(1.0f);
    uiScalingLabel.setText(uiScalingText(), juce::dontSendNotification);
}

void CorvaneAudioProcessorEditor::showInOverlay(juce::Component& dialog)
{
    modalOverlay.setContent(dialog);
    modalOverlay.setVisible(true);
}

void CorvaneAudioProcessorEditor::mouseMove(const juce::MouseEvent& event)
{
    if (event.eventComponent != this)
        return;
    setMouseCursor(inAboutArea(event.getPosition()) ? juce::MouseCursor::PointingHandCursor
                                                    : juce::MouseCursor::NormalCursor);
}

void CorvaneAudioProcessorEditor::mouseEnter(const juce::MouseEvent& event)
{
    const auto* source = event.eventComponent;
    if (source == &uiScalingLabel)
        helpLabel.setText("Set the User Interface Scaling", juce::dontSendNotification);
    else if (source == &inputGainSlider)
        helpLabel.setText("Adjust the input gain so that aggressive strumming pushes the meter into the green region",
                          juce::dontSendNotification);
    else if (source == &outputGainSlider)
        helpLabel.setText(
            "All models have been loudness normalized, use this slider to control the overall volume of the plugin",
            juce::dontSendNotification);
    else if (source == &modelButton)
        helpLabel.setText("Choose a different pedal model", juce::dontSendNotification);
}

void CorvaneAudioProcessorEditor::mouseExit(const juce::MouseEvent& event)
{
    const auto* source = event.eventComponent;
    if (source == &uiScalingLabel || source == &inputGainSlider || source == &outputGainSlider
        || source == &modelButton)
        helpLabel.setText({}, juce::dontSendNotification);
}

void CorvaneAudioProcessorEditor::mouseDown(const juce::MouseEvent& event)
{
    if (event.eventComponent == &uiScalingLabel)
    {
        const float fit = static_cast<float>(primaryDisplayFit().value_or(1.0));
        // The menu closes on its own time: its choice reaches this window only while it exists.
        ShowUiScalingMenu(&lookAndFeel, fit, [window = juce::Component::SafePointer<CorvaneAudioProcessorEditor>(this)](int p) {
            if (window != nullptr)
                window->uiScalingChosen(p);
        });
        return;
    }
    if (event.eventComponent != this)
        return;

    const auto position = event.getPosition();
    if (inAboutArea(position))
    {
        showInOverlay(aboutDialog);
    }
    else if (inVeilArea(position, getWidth()))
    {
        veil.setVisible(true);
        veilLabel.setVisible(true);
    }
}

void CorvaneAudioProcessorEditor::mouseUp(const juce::MouseEvent& /*event*/)
{
    veil.setVisible(false);
    veilLabel.setVisible(false);
}

void CorvaneAudioProcessorEditor::visibilityChanged()
{
    setScaleFactor(1.0f);
}

void CorvaneAudioProcessorEditor::setScaleFactor(float /*newScale*/)
{
    const auto fit = primaryDisplayFit();
    if (!fit.has_value())
        return;
    AudioProcessorEditor::setScaleFactor(static_cast<float>(uiScale(*fit, PluginSettings::Get().UiScaling)));
    repaint();
}

void CorvaneAudioProcessorEditor::paint(juce::Graphics& g)
{
    const int width = getWidth();
    g.fillAll(juce::Colour(0xFF73A999));

    if (backgroundImage.isValid())
        g.drawImage(backgroundImage, getLocalBounds().toFloat(),
                    juce::RectanglePlacement(juce::RectanglePlacement::centred | juce::RectanglePlacement::fillDestination));

    // A handle on the picture, taken so that setProgram on another thread never replaces it mid-paint.
    const juce::Image picture = processorRef.currentPicture();
    if (picture.isValid())
    {
        const float iw = static_cast<float>(picture.getWidth());
        const float ih = static_cast<float>(picture.getHeight());
        const float s = 650.0f / ih;
        const int w = static_cast<int>(s * iw);
        const int x = static_cast<int>((static_cast<float>(width) - s * iw) * 0.5f);
        g.drawImage(picture, x, 122, w, 650, 0, 0, picture.getWidth(), picture.getHeight());
    }
}

void CorvaneAudioProcessorEditor::resized()
{
    if (getWidth() != editorWidth)
        setSize(editorWidth, editorHeight);
    modalOverlay.setBounds(0, 0, getWidth(), getHeight());
}

void CorvaneAudioProcessorEditor::timerCallback()
{
    const juce::ScopedLock lock(editorLock);

    float level = 20.0f * std::log10(processorRef.inputLevel.load(std::memory_order_relaxed));
    if (level >= 0.0f)
        level = 30.0f;

    if (inputMeter.level > level)
        inputMeter.level -= 2.0f;
    else
        inputMeter.level = level;

    const float d = inputMeter.level;
    if (d < -22.0f)
    {
        const float a = static_cast<float>(0.05 + 0.9 * juce::jlimit(0.0, 1.0, (static_cast<double>(d) + 40.0) / 40.0));
        inputMeter.colour = juce::Colours::white.withAlpha(static_cast<juce::uint8>(juce::roundToInt(a * 255.0f)));
    }
    else if (d < -6.0f)
    {
        inputMeter.colour = juce::Colour(0xF090FF90);
    }
    else
    {
        inputMeter.colour = juce::Colour(0xCCFF0000);
    }
    inputMeter.repaint();
}

juce::AudioProcessorEditor* createPluginWindow(CorvaneAudioProcessor& processor)
{
    return new CorvaneAudioProcessorEditor(processor);
}
