// Loads the Ferrowick VST3 bundle through the framework's VST3 hosting and checks what a host
// sees: identity, parameters and their texts, bus layouts, and the start-up work of the
// plug-in's construction (the settings file, the first model of the catalogue).
//   ferrowick_host_test BUNDLE_DIR RESOURCE_DIR
// RESOURCE_DIR must be the plug-in's resource folder under the (temporary) HOME.
#include <iostream>

#include <juce_audio_processors/juce_audio_processors.h>

#include "PluginHost.h"

namespace
{
int failures = 0;

void check(bool condition, const juce::String& what)
{
    std::cout << (condition ? "ok   " : "FAIL ") << what << std::endl;
    if (!condition)
        ++failures;
}

template <typename A, typename B>
void checkEqual(const A& actual, const B& expected, const juce::String& what)
{
    const juce::String a(actual), e(expected);
    check(a == e, what + ": " + a + (a == e ? juce::String() : " (expected " + e + ")"));
}

juce::AudioProcessorParameter* findParameter(juce::AudioPluginInstance& plugin, const juce::String& name)
{
    for (auto* parameter : plugin.getParameters())
        if (parameter->getName(100) == name)
            return parameter;
    return nullptr;
}

juce::AudioProcessor::BusesLayout layout(const juce::AudioChannelSet& in, const juce::AudioChannelSet& out)
{
    juce::AudioProcessor::BusesLayout result;
    result.inputBuses.add(in);
    result.outputBuses.add(out);
    return result;
}

void run(const juce::File& bundle, const juce::File& resources)
{
    const auto settingsFile = resources.getChildFile("Settings.json");
    check(!settingsFile.exists(), "no Settings.json before the plug-in is loaded");

    juce::String error;
    auto loaded = ferrowick_host::loadVst3Bundle(bundle, 48000.0, 512, error);
    check(loaded.instance != nullptr, "bundle loads and instantiates " + error);
    if (loaded.instance == nullptr)
        return;
    auto& plugin = *loaded.instance;
    const auto& description = loaded.description;

    checkEqual(description.name, "Ferrowick", "name");
    checkEqual(plugin.getName(), "Ferrowick", "instance name");
    checkEqual(description.manufacturerName, "Quorvex", "vendor");
    checkEqual(description.version, "1.0.5", "version");
    checkEqual(description.category, "Fx|Distortion", "category");
    check(!description.isInstrument, "not an instrument");
    checkEqual(description.pluginFormatName, "VST3", "format");
    check(!plugin.acceptsMidi() && !plugin.producesMidi(), "no MIDI in or out");

    // The two gain parameters, plus the bypass parameter that the VST3 wrapper adds.
    for (const auto* name : { "Gain In", "Gain Out" })
    {
        auto* parameter = findParameter(plugin, name);
        check(parameter != nullptr, juce::String("parameter ") + name);
        if (parameter == nullptr)
            continue;
        checkEqual(parameter->getText(0.0f, 100), "-40.0 dB", juce::String(name) + " at 0");
        checkEqual(parameter->getText(1.0f, 100), "20.0 dB", juce::String(name) + " at 1");
        checkEqual(parameter->getText(0.5f, 100), "-10.0 dB", juce::String(name) + " at 0.5");
        checkEqual(parameter->getCurrentValueAsText(), "0.0 dB", juce::String(name) + " default");
        check(std::abs(parameter->getValue() - 0.666667f) < 1.0e-4f, juce::String(name) + " starts at 0.666667");
    }
    const auto parameterCount = plugin.getParameters().size();
    check(parameterCount == 2 || parameterCount == 3, "two gain parameters (and the wrapper's bypass): "
                                                          + juce::String(parameterCount));
    auto* bypass = plugin.getBypassParameter();
    check(bypass != nullptr && bypass->getName(100) == "Bypass", "the host's bypass is the wrapper's \"Bypass\"");

    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    check(plugin.checkBusesLayoutSupported(layout(mono, mono)), "mono to mono accepted");
    check(plugin.checkBusesLayoutSupported(layout(mono, stereo)), "mono to stereo accepted");
    check(plugin.checkBusesLayoutSupported(layout(stereo, stereo)), "stereo to stereo accepted");
    check(!plugin.checkBusesLayoutSupported(layout(stereo, mono)), "stereo to mono rejected");

    // Construction wrote the settings file and picked the first model folder, snapshot 0.
    check(settingsFile.existsAsFile(), "Settings.json written");
    check(settingsFile.loadFileAsString().startsWith("{\r\n  \"UiScaling\": 100,"), "Settings.json content");
    check(resources.getChildFile("Presets").isDirectory(), "Presets folder created");

    const auto folders = resources.getChildFile("Models").findChildFiles(juce::File::findDirectories, false, "*");
    check(!folders.isEmpty(), "fixture catalogue present");
    const auto xml = ferrowick_host::readPluginState(plugin);
    check(xml != nullptr, "state is readable XML");
    if (xml != nullptr && !folders.isEmpty())
    {
        const auto* modelId = xml->getChildByName("ModelId");
        const auto* programIndex = xml->getChildByName("ProgramIndex");
        checkEqual(modelId != nullptr ? modelId->getAllSubText() : "<none>", folders.getFirst().getFileName(),
                   "first model chosen");
        checkEqual(programIndex != nullptr ? programIndex->getAllSubText() : "<none>", "0", "snapshot 0 chosen");
    }

    // A block runs through without trouble.
    plugin.setPlayConfigDetails(1, 2, 48000.0, 512);
    plugin.prepareToPlay(48000.0, 512);
    juce::AudioBuffer<float> buffer(2, 512);
    buffer.clear();
    buffer.setSample(0, 0, 0.5f);
    juce::MidiBuffer midi;
    plugin.processBlock(buffer, midi);
    plugin.releaseResources();
    check(true, "one block processed");
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: ferrowick_host_test BUNDLE_DIR RESOURCE_DIR" << std::endl;
        return 2;
    }
    {
        juce::ScopedJuceInitialiser_GUI framework;
        run(juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]),
            juce::File::getCurrentWorkingDirectory().getChildFile(argv[2]));
    }
    std::cout << (failures == 0 ? "all host checks passed" : juce::String(failures) + " host check(s) failed")
              << std::endl;
    return failures == 0 ? 0 : 1;
}
