// Writes pictures of the plug-in window, built in-process as a host would build it (processor,
// then its editor) and drawn with createComponentSnapshot, which needs no display:
//   editor.png               the window as it opens
//   editor-model-dialog.png  after a click on the model button (the model selection dialog)
//   editor-about.png         after a press in the about area at (100, 50)
//
//   ferrowick_snapshot OUT_DIR
//
// The plug-in reads its catalogue and settings below $HOME/.config: point HOME at a temporary
// folder holding a catalogue (tools/snapshot.sh does this).
#include <iostream>
#include <memory>

#include <juce_audio_processors/juce_audio_processors.h>

#include "plugin/PluginProcessor.h"

namespace
{
// The model button's place in the window, and the press that opens the about dialog.
const juce::Point<int> modelButtonPoint { 1400, 60 };
const juce::Point<float> aboutPress { 100.0f, 50.0f };

bool writePng(juce::Component& editor, const juce::File& file)
{
    // The modal overlay brings itself to the front while it paints, so the first drawing after
    // it shows can still have it at its old place among the children; the window then repaints.
    // Draw twice, as the window would, and keep the second.
    editor.createComponentSnapshot(editor.getLocalBounds(), true, 1.0f);
    const auto image = editor.createComponentSnapshot(editor.getLocalBounds(), true, 1.0f);
    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat png;
    const bool written = out.openedOk() && png.writeImageToStream(image, out);
    std::cout << (written ? "wrote " : "could not write ") << file.getFullPathName() << " (" << image.getWidth()
              << " x " << image.getHeight() << ")" << std::endl;
    return written;
}

// A press and release of the left button at a point of the component, delivered straight to its
// handlers (no window needed).
void press(juce::Component& component, juce::Point<float> position)
{
    const auto now = juce::Time::getCurrentTime();
    const juce::MouseEvent event(juce::Desktop::getInstance().getMainMouseSource(), position,
                                 juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier), 1.0f, 0.0f, 0.0f, 0.0f,
                                 0.0f, &component, &component, now, position, now, 1, false);
    component.mouseDown(event);
    component.mouseUp(event.withNewPosition(position));
}

int run(const juce::File& outDir)
{
    if (!outDir.createDirectory())
    {
        std::cerr << "cannot create " << outDir.getFullPathName() << std::endl;
        return 1;
    }

    CorvaneAudioProcessor processor;
    processor.setPlayConfigDetails(1, 2, 48000.0, 512);
    processor.prepareToPlay(48000.0, 512);
    std::unique_ptr<juce::AudioProcessorEditor> editor(processor.createEditorIfNeeded());
    if (editor == nullptr)
    {
        std::cerr << "the processor made no editor" << std::endl;
        return 1;
    }
    // Shown as a host would show it (not on a desktop: nothing needs a display).
    editor->setVisible(true);
    std::cout << "editor " << editor->getWidth() << " x " << editor->getHeight() << ", model "
              << processor.currentChoice().first << " snapshot " << processor.currentChoice().second << std::endl;

    bool ok = writePng(*editor, outDir.getChildFile("editor.png"));

    auto* button = dynamic_cast<juce::Button*>(editor->getComponentAt(modelButtonPoint));
    if (button == nullptr)
    {
        std::cerr << "no button at the model button's place " << modelButtonPoint.toString() << std::endl;
        ok = false;
    }
    else
    {
        if (button->onClick)
            button->onClick();
        ok = writePng(*editor, outDir.getChildFile("editor-model-dialog.png")) && ok;
    }

    press(*editor, aboutPress);
    ok = writePng(*editor, outDir.getChildFile("editor-about.png")) && ok;

    processor.editorBeingDeleted(editor.get());
    editor.reset();
    return ok ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: ferrowick_snapshot OUT_DIR" << std::endl;
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI framework;
    return run(juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]));
}
