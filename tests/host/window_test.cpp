// Opens the Ferrowick VST3 bundle's window the way a host shows it: the framework's VST3 hosting
// creates the editor, which goes into a real top-level window on an X display with a window
// manager, while another thread keeps processing audio. The plug-in draws into its own X child
// window, so what it shows is read back from a capture of the whole screen.
//   ferrowick_host_window_test BUNDLE_DIR RESOURCE_DIR BACKGROUND_PNG SCRATCH_DIR
// Needs DISPLAY (a screen of at least 1920 x 1440 with a window manager), xwd, xwdtopnm,
// pnmtopng and xdotool; run_window_test.sh provides them with a temporary HOME and catalogue.
#include <atomic>
#include <cmath>
#include <iostream>
#include <vector>

#include <juce_audio_processors/juce_audio_processors.h>

#include "PluginHost.h"
#include "Render.h"

namespace juce
{
// The framework's own step of its message loop (defined in juce_events).
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr int editorWidth = 1545, editorHeight = 1118;

int failures = 0;
juce::File scratch;
juce::int64 pluginClient = -1;  // the plug-in's X client, once its window has been seen

void check(bool condition, const juce::String& what)
{
    std::cout << (condition ? "ok   " : "FAIL ") << what << std::endl;
    if (!condition)
        ++failures;
}

// Runs the message loop (the host's and, through its run loop, the plug-in's) for a while.
void pump(int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + static_cast<juce::uint32>(milliseconds);
    while (juce::Time::getMillisecondCounter() < end)
        if (!juce::dispatchNextMessageOnSystemQueue(true))
            juce::Thread::sleep(1);
}

// Tries the condition until it holds or the time is up, running the message loop in between.
// Waits that depend on the machine's load (windows appearing, models loading) go through here.
template <typename Condition>
bool eventually(Condition condition, int milliseconds = 10000)
{
    const auto end = juce::Time::getMillisecondCounter() + static_cast<juce::uint32>(milliseconds);
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() >= end)
            return false;
        pump(100);
    }
    return true;
}

// Runs a shell command to its end while the message loop keeps going.
bool shell(const juce::String& command)
{
    juce::ChildProcess process;
    if (!process.start(juce::StringArray { "/bin/sh", "-c", command }, 0))
        return false;
    while (process.isRunning())
        pump(5);
    return process.getExitCode() == 0;
}

juce::Image captureScreen(const juce::String& name)
{
    const auto file = scratch.getChildFile(name + ".png");
    if (!shell("xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >" + file.getFullPathName().quoted()))
        return {};
    return juce::ImageFileFormat::loadFrom(file);
}

// The X window tree, one line per window ("0xID "name": ... WxH+X+Y +X+Y").
juce::StringArray windowTree()
{
    const auto file = scratch.getChildFile("windows.txt");
    shell("xwininfo -root -tree >" + file.getFullPathName().quoted());
    juce::StringArray lines;
    lines.addLines(file.loadFileAsString());
    return lines;
}

// The plug-in's own window: the deepest window of the editor's size inside the host's window
// (which is named "Ferrowick"); the framework's hosting embeds it in a window of its own.
juce::String findPluginXWindow()
{
    juce::String found;
    int hostIndent = -1, foundIndent = -1;
    for (const auto& line : windowTree())
    {
        const auto indent = line.indexOf("0x");
        if (indent < 0)
            continue;
        if (hostIndent < 0)
        {
            if (line.contains("\"Ferrowick\""))
                hostIndent = indent;
            continue;
        }
        if (indent <= hostIndent)
            break;
        if (line.contains(" 1545x1118+") && indent > foundIndent)
        {
            found = line.trim().upToFirstOccurrenceOf(" ", false, false);
            foundIndent = indent;
        }
    }
    return found;
}

juce::String xWindowSize(const juce::String& id)
{
    for (const auto& line : windowTree())
        if (line.trim().startsWith(id + " "))
            return line.fromFirstOccurrenceOf(")  ", false, false).upToFirstOccurrenceOf("+", false, false).trim();
    return "<gone>";
}

// Each X client's windows share the upper bits of their ids (the client's resource id base).
juce::int64 clientOf(const juce::String& windowId)
{
    return windowId.getHexValue64() & ~juce::int64(0x1FFFFF);
}

// The windows that one X client (the plug-in's own display connection) has on the screen.
int countWindowsOf(juce::int64 client)
{
    int count = 0;
    for (const auto& line : windowTree())
        if (line.trim().startsWith("0x") && clientOf(line.trim().upToFirstOccurrenceOf(" ", false, false)) == client)
            ++count;
    return count;
}

// The host side: a thread that plays a steady tone through the plug-in in real time and can
// average a number of output blocks on request. The tone repeats every block, so the averaged
// block is the model's steady answer to it.
class AudioThread : public juce::Thread
{
public:
    explicit AudioThread(juce::AudioPluginInstance& p) : juce::Thread("host audio"), plugin(p)
    {
        tone.resize(blockSize);
        for (int i = 0; i < blockSize; ++i)
        {
            const double phase = juce::MathConstants<double>::twoPi * i / blockSize;
            tone[static_cast<size_t>(i)] = static_cast<float>(0.2 * std::sin(4 * phase) + 0.1 * std::sin(9 * phase));
        }
        sum.assign(blockSize, 0.0f);
    }

    ~AudioThread() override { stopThread(2000); }

    // The output of the next count blocks, averaged (the message loop runs while it waits).
    std::vector<float> averageBlock(int count)
    {
        remaining.store(count);
        while (remaining.load() > 0)
            pump(5);
        std::vector<float> result(sum);
        for (auto& v : result)
            v /= static_cast<float>(count);
        std::fill(sum.begin(), sum.end(), 0.0f);
        return result;
    }

    std::atomic<int> blocks { 0 };

private:
    void run() override
    {
        const int channels = juce::jmax(plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels());
        juce::AudioBuffer<float> buffer(channels, blockSize);
        juce::MidiBuffer midi;
        auto next = juce::Time::getMillisecondCounterHiRes();
        while (!threadShouldExit())
        {
            buffer.clear();
            buffer.copyFrom(0, 0, tone.data(), blockSize);
            plugin.processBlock(buffer, midi);
            if (remaining.load() > 0)
            {
                juce::FloatVectorOperations::add(sum.data(), buffer.getReadPointer(0), blockSize);
                remaining.fetch_sub(1);
            }
            ++blocks;
            next += 1000.0 * blockSize / sampleRate;
            const auto wait = next - juce::Time::getMillisecondCounterHiRes();
            if (wait > 0)
                juce::Thread::sleep(static_cast<int>(wait));
        }
    }

    juce::AudioPluginInstance& plugin;
    std::vector<float> tone, sum;
    std::atomic<int> remaining { 0 };
};

float rms(const std::vector<float>& v)
{
    double s = 0.0;
    for (auto x : v)
        s += static_cast<double>(x) * x;
    return static_cast<float>(std::sqrt(s / static_cast<double>(v.size())));
}

// How far apart two averaged blocks are, relative to the louder one's level.
float relativeDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    std::vector<float> d(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        d[i] = a[i] - b[i];
    return rms(d) / juce::jmax(rms(a), rms(b), 1.0e-9f);
}

class HostWindow : public juce::DocumentWindow
{
public:
    HostWindow() : juce::DocumentWindow("Ferrowick", juce::Colours::black, 0, true)
    {
        setUsingNativeTitleBar(true);
        setTopLeftPosition(60, 40);
    }
    void closeButtonPressed() override {}
};

// One opening of the plug-in window: the editor made by the hosted instance, shown in the host's
// window; closing hands it back as a host does (editorBeingDeleted, then delete).
struct OpenWindow
{
    OpenWindow(juce::AudioPluginInstance& p, HostWindow& w) : plugin(p), window(w)
    {
        editor = plugin.createEditorIfNeeded();
        if (editor != nullptr)
        {
            window.setContentNonOwned(editor, true);
            window.setVisible(true);
        }
    }
    ~OpenWindow()
    {
        window.setVisible(false);
        window.clearContentComponent();
        if (editor != nullptr)
        {
            plugin.editorBeingDeleted(editor);
            delete editor;
        }
    }
    juce::AudioPluginInstance& plugin;
    HostWindow& window;
    juce::AudioProcessorEditor* editor = nullptr;
};

bool near(juce::Colour a, juce::Colour b, int tolerance)
{
    return std::abs(a.getRed() - b.getRed()) <= tolerance && std::abs(a.getGreen() - b.getGreen()) <= tolerance
           && std::abs(a.getBlue() - b.getBlue()) <= tolerance;
}

juce::String rgb(juce::Colour c)
{
    return juce::String(c.getRed()) + "," + juce::String(c.getGreen()) + "," + juce::String(c.getBlue());
}

// Places of the window (editor coordinates) where nothing but the background picture shows.
struct Place
{
    const char* what;
    juce::Point<int> at;
};
const Place backgroundPlaces[] = {
    { "header", { 700, 15 } },         { "wordmark area", { 380, 100 } }, { "stage, left", { 20, 300 } },
    { "stage, right", { 1400, 400 } }, { "console", { 230, 950 } },       { "table, below the rows", { 1500, 1100 } },
};

void checkBackground(const juce::Image& screen, juce::Point<int> origin, const juce::Image& background)
{
    for (const auto& place : backgroundPlaces)
    {
        const auto shown = screen.getPixelAt(origin.x + place.at.x, origin.y + place.at.y);
        const auto drawn = background.getPixelAt(place.at.x, place.at.y);
        check(near(shown, drawn, 8), juce::String("background picture at ") + place.what + " " + place.at.toString()
                                         + " shows " + rgb(shown) + " (picture " + rgb(drawn) + ")");
    }
}

// The window's header shows on screen where the editor says it is.
bool showsWindow(const juce::Image& screen, juce::Point<int> origin, const juce::Image& background)
{
    return near(screen.getPixelAt(origin.x + 700, origin.y + 15), background.getPixelAt(700, 15), 8);
}

juce::Colour meterPixel(const juce::Image& screen, juce::Point<int> origin)
{
    return screen.getPixelAt(origin.x + 70, origin.y + 1085);
}

bool isGreen(juce::Colour c)
{
    return c.getGreen() > 200 && c.getRed() < 170 && c.getBlue() < 170;
}

std::unique_ptr<juce::AudioPluginInstance> loadPlugin(const juce::File& bundle)
{
    juce::String error;
    auto loaded = ferrowick_host::loadVst3Bundle(bundle, sampleRate, blockSize, error);
    check(loaded.instance != nullptr, "bundle loads " + error);
    if (loaded.instance != nullptr)
        check(ferrowick_render::prepareMonoIn(*loaded.instance, sampleRate, blockSize) > 0, "prepared at 48 kHz");
    return std::move(loaded.instance);
}

juce::String modelIdOf(juce::AudioPluginInstance& plugin)
{
    const auto state = ferrowick_host::readPluginState(plugin);
    return state != nullptr ? ferrowick_host::stateModelId(*state) : juce::String("<no state>");
}

// A real pointer move and left click at a point of the screen.
bool click(juce::Point<int> screenPoint)
{
    return shell("xdotool mousemove " + juce::String(screenPoint.x) + " " + juce::String(screenPoint.y)
                 + " sleep 0.2 click 1");
}

// The window as it opens, the pixels on screen, and a host-forced width.
void windowChecks(juce::AudioPluginInstance& plugin, HostWindow& window, const juce::Image& background)
{
    OpenWindow open(plugin, window);
    check(open.editor != nullptr, "createEditorIfNeeded gives an editor");
    if (open.editor == nullptr)
        return;
    auto* editor = open.editor;
    check(editor->getWidth() == editorWidth && editor->getHeight() == editorHeight,
          "editor is " + juce::String(editor->getWidth()) + " x " + juce::String(editor->getHeight()));

    // Wait until the window is on the screen (the window manager may still move it) with its
    // meter lit.
    juce::Point<int> origin;
    juce::Image screen;
    const auto meterLit = [&] {
        origin = editor->getScreenPosition();
        screen = captureScreen("window");
        return screen.isValid() && showsWindow(screen, origin, background) && isGreen(meterPixel(screen, origin));
    };
    check(eventually(meterLit), "the window shows, its meter lit, after a screen capture");
    std::cout << "     window content at " << origin.toString() << " on screen" << std::endl;
    if (screen.isValid())
    {
        checkBackground(screen, origin, background);
        // The meter at (58, 1080, 24, 10): the playing tone (about -12 dBFS) lights it green.
        const auto meter = meterPixel(screen, origin);
        check(isGreen(meter), "meter shows the playing tone in green: " + rgb(meter));
        const auto left = screen.getPixelAt(origin.x + 57, origin.y + 1085);
        check(!near(left, meter, 20), "meter ends at its left edge: " + rgb(left));
    }

    // A host that forces another width on the plug-in's own X window gets it back at 1545 x 1118:
    // the plug-in asks its host to resize again (the framework's hosting does not pass a new size
    // to a view that is not resizable, so the resize goes to the plug-in's window directly).
    const auto pluginWindow = findPluginXWindow();
    check(pluginWindow.isNotEmpty(), "the plug-in's X window (1545 x 1118) is on the screen");
    if (pluginWindow.isNotEmpty())
    {
        pluginClient = clientOf(pluginWindow);
        check(shell("xdotool windowsize " + pluginWindow + " 1200 1118"), "xdotool makes it 1200 wide");
        eventually([&] { return xWindowSize(pluginWindow) == "1545x1118"; }, 5000);
        check(xWindowSize(pluginWindow) == "1545x1118", "the plug-in's window is back at " + xWindowSize(pluginWindow));
        check(editor->getWidth() == editorWidth && editor->getHeight() == editorHeight,
              "the hosted editor is " + juce::String(editor->getWidth()) + " x " + juce::String(editor->getHeight()));
        const auto after = captureScreen("window-forced-width");
        if (after.isValid())
            check(near(after.getPixelAt(origin.x + 1530, origin.y + 400), background.getPixelAt(1530, 400), 8),
                  "the right edge shows the background again");
    }
}

// A click on the model button opens the dialog; a click on one of its buttons changes the model
// that the audio plays, and the settings record it for the next instance.
void modelDialogByPointer(juce::AudioPluginInstance& plugin, HostWindow& window, AudioThread& audio,
                          const juce::File& bundle, const juce::File& resources, const juce::Image& background)
{
    OpenWindow open(plugin, window);
    if (open.editor == nullptr)
        return;
    juce::Point<int> origin;
    check(eventually([&] {
              origin = open.editor->getScreenPosition();
              const auto screen = captureScreen("model-window");
              return screen.isValid() && showsWindow(screen, origin, background);
          }),
          "the window shows again");

    const auto before = modelIdOf(plugin);
    const auto playing = audio.averageBlock(16);
    const auto again = audio.averageBlock(16);
    check(rms(playing) > 0.0f, "model " + before + " plays: rms " + juce::String(rms(playing)));
    check(relativeDifference(playing, again) < 0.05f,
          "its steady answer repeats: difference " + juce::String(relativeDifference(playing, again)));

    // The dialog lists the catalogue's folders in the order the file system gives them; pick the
    // first one that is not the current model.
    const auto folders = resources.getChildFile("Models").findChildFiles(juce::File::findDirectories, false, "*");
    int target = -1;
    for (int k = 0; k < juce::jmin(4, folders.size()) && target < 0; ++k)
        if (folders[k].getFileName() != before)
            target = k;
    check(target >= 0, "the catalogue has another model than " + before);
    if (target < 0)
        return;

    check(click(origin + juce::Point<int>(1400, 60)), "xdotool clicks the model button");
    juce::Image screen;
    eventually([&] {
        screen = captureScreen("model-dialog");
        return screen.isValid() && near(screen.getPixelAt(origin.x + 376, origin.y + 439), juce::Colour(0xFF1A1A1A), 6);
    });
    if (screen.isValid())
    {
        // The overlay darkens the window; the dialog (550 x 180, shown 1.5 times larger in the
        // middle) is a dark grey panel.
        const auto dimmed = screen.getPixelAt(origin.x + 20, origin.y + 300);
        const auto picture = background.getPixelAt(20, 300);
        check(dimmed.getBrightness() < picture.getBrightness() * 0.5f,
              "the overlay darkens the window: " + rgb(dimmed) + " over " + rgb(picture));
        const auto panel = screen.getPixelAt(origin.x + 376, origin.y + 439);
        check(near(panel, juce::Colour(0xFF1A1A1A), 6), "the model dialog shows: " + rgb(panel));
    }

    // Button k of the left column sits at (20, 30 + 35k, 235, 20) in the dialog; the dialog is
    // centred at (773, 559) and the overlay scales by 1.5 about (772, 559).
    const juce::Point<int> button { 566, juce::roundToInt(484 + 52.5 * target) };
    check(click(origin + button), "xdotool clicks the button of " + folders[target].getFileName());
    eventually([&] { return modelIdOf(plugin) == folders[target].getFileName(); });
    const auto after = modelIdOf(plugin);
    check(after == folders[target].getFileName(), "the state names the chosen model: " + after);
    const auto now = audio.averageBlock(16);
    check(rms(now) > 0.0f, "the chosen model plays: rms " + juce::String(rms(now)));
    check(relativeDifference(playing, now) > 0.2f,
          "the audio changed with the model: difference " + juce::String(relativeDifference(playing, now)));

    // The settings name the model and the snapshot that play, as a pair, and a new instance
    // starts with exactly them.
    const auto state = ferrowick_host::readPluginState(plugin);
    const auto index = state != nullptr ? ferrowick_host::stateProgramIndex(*state) : juce::String("<no state>");
    check(index == "0", "the chosen model plays its first snapshot: " + index);
    const auto settings = juce::JSON::parse(resources.getChildFile("Settings.json"));
    check(settings["LastSelectedModelId"].toString() == after && settings["LastSelectedModelIdx"].toString() == index,
          "Settings.json names what plays: " + juce::JSON::toString(settings, true));
    if (auto next = loadPlugin(bundle))
    {
        const auto nextState = ferrowick_host::readPluginState(*next);
        check(nextState != nullptr && ferrowick_host::stateModelId(*nextState) == after
                  && ferrowick_host::stateProgramIndex(*nextState) == index,
              "a new instance starts with " + after + "/" + index);
        next->releaseResources();
    }
}

void run(const juce::File& bundle, const juce::File& resources, const juce::File& backgroundFile)
{
    const auto background = juce::ImageFileFormat::loadFrom(backgroundFile);
    check(background.getWidth() == editorWidth && background.getHeight() == editorHeight,
          "background picture read from " + backgroundFile.getFileName());

    auto plugin = loadPlugin(bundle);
    if (plugin == nullptr)
        return;
    AudioThread audio(*plugin);
    audio.startThread();

    HostWindow window;
    const auto startTime = juce::Time::getMillisecondCounter();
    windowChecks(*plugin, window, background);
    std::cout << "     window checks took " << (juce::Time::getMillisecondCounter() - startTime) << " ms" << std::endl;

    // Opening and closing the window many times while audio plays.
    const auto windowsBefore = countWindowsOf(pluginClient);
    const auto componentsBefore = juce::Desktop::getInstance().getNumComponents();
    for (int i = 0; i < 20; ++i)
    {
        OpenWindow open(*plugin, window);
        if (open.editor == nullptr)
        {
            check(false, "editor " + juce::String(i + 1) + " made");
            break;
        }
        pump(150);
    }
    eventually([&] { return countWindowsOf(pluginClient) == windowsBefore; }, 5000);
    check(plugin->getActiveEditor() == nullptr, "no editor left after 20 openings");
    check(juce::Desktop::getInstance().getNumComponents() == componentsBefore, "no window left on the host's desktop");
    check(pluginClient >= 0 && countWindowsOf(pluginClient) == windowsBefore,
          "the plug-in left no X window behind: " + juce::String(countWindowsOf(pluginClient)) + " (before "
              + juce::String(windowsBefore) + ")");

    modelDialogByPointer(*plugin, window, audio, bundle, resources, background);

    audio.stopThread(2000);
    check(audio.blocks.load() > 100, "audio kept running: " + juce::String(audio.blocks.load()) + " blocks");
    plugin->releaseResources();
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
    {
        std::cerr << "usage: ferrowick_host_window_test BUNDLE_DIR RESOURCE_DIR BACKGROUND_PNG SCRATCH_DIR" << std::endl;
        return 2;
    }
    {
        juce::ScopedJuceInitialiser_GUI framework;
        const auto cwd = juce::File::getCurrentWorkingDirectory();
        scratch = cwd.getChildFile(argv[4]);
        scratch.createDirectory();
        run(cwd.getChildFile(argv[1]), cwd.getChildFile(argv[2]), cwd.getChildFile(argv[3]));
    }
    std::cout << (failures == 0 ? "all window checks passed" : juce::String(failures) + " window check(s) failed")
              << std::endl;
    return failures == 0 ? 0 : 1;
}
