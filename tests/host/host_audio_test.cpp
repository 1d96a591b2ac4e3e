// Plays audio through the Ferrowick VST3 bundle in the framework's VST3 hosting, the way a host
// does: output at 48 and 96 kHz with a model, silence at 44.1 kHz, the host state carried from
// one instance to another, model and snapshot changes (state restores) between blocks and while
// another thread keeps processing, and blocks longer than the host prepared for.
//   ferrowick_host_audio_test BUNDLE_DIR RESOURCE_DIR
// RESOURCE_DIR must be the plug-in's resource folder under the (temporary) HOME, holding the
// catalogue that tools/make_catalogue.py writes.
#include <atomic>
#include <cmath>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include <juce_audio_processors/juce_audio_processors.h>

#include "PluginHost.h"
#include "Render.h"

namespace
{
int failures = 0;
juce::File bundleDir;

void check(bool condition, const juce::String& what)
{
    std::cout << (condition ? "ok   " : "FAIL ") << what << std::endl;
    if (!condition)
        ++failures;
}

// A fixture model and snapshot, and whether it plays (rows 1 and 2 of WaveHigh have no model file
// and a file the model core refuses).
struct Choice
{
    const char* model;
    int snapshot;
    bool plays;
};

juce::String describe(const Choice& choice)
{
    return juce::String(choice.model) + "/" + juce::String(choice.snapshot);
}

std::unique_ptr<juce::AudioPluginInstance> load(double rate, int block)
{
    juce::String error;
    auto loaded = ferrowick_host::loadVst3Bundle(bundleDir, rate, block, error);
    if (loaded.instance == nullptr)
        check(false, "bundle loads: " + error);
    return std::move(loaded.instance);
}

// Restores a state naming the choice, as a host reopening a project does.
void choose(juce::AudioPluginInstance& plugin, const Choice& choice)
{
    if (const auto state = ferrowick_host::readPluginState(plugin))
        ferrowick_host::writePluginState(plugin, *ferrowick_host::withModelChoice(*state, choice.model, choice.snapshot));
}

// The state names what plays: a snapshot that cannot play leaves the new entry without one (-1).
bool stateNames(juce::AudioPluginInstance& plugin, const Choice& choice)
{
    const auto state = ferrowick_host::readPluginState(plugin);
    return state != nullptr && ferrowick_host::stateModelId(*state) == choice.model
           && ferrowick_host::stateProgramIndex(*state) == juce::String(choice.plays ? choice.snapshot : -1);
}

juce::AudioProcessorParameter* parameter(juce::AudioPluginInstance& plugin, const juce::String& name)
{
    for (auto* p : plugin.getParameters())
        if (p->getName(100) == name)
            return p;
    return nullptr;
}

float maxDifference(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int channelA, int channelB)
{
    float worst = 0.0f;
    const int n = juce::jmin(a.getNumSamples(), b.getNumSamples());
    for (int i = 0; i < n; ++i)
        worst = juce::jmax(worst, std::abs(a.getSample(channelA, i) - b.getSample(channelB, i)));
    return worst;
}

juce::String levelText(const ferrowick_render::Levels& levels)
{
    return "RMS " + ferrowick_render::dbfs(levels.rms) + " dBFS, peak " + ferrowick_render::dbfs(levels.peak) + " dBFS";
}

constexpr float audible = 1.0e-4f; // -80 dBFS

// Output at the two supported rates is finite and audible, the same on both output channels;
// at 44.1 kHz it is exact silence. 96 kHz runs with an odd block length, so the resampler sees
// chunks of odd length.
void playsAtSupportedRatesOnly()
{
    for (const Choice choice : { Choice { "LstmLead", 0, true }, Choice { "WaveHigh", 0, true } })
    {
        for (const auto& [rate, block] : { std::pair { 48000, 512 }, std::pair { 96000, 333 }, std::pair { 44100, 512 } })
        {
            const auto what = describe(choice) + " at " + juce::String(rate) + " Hz";
            auto plugin = load(rate, block);
            if (plugin == nullptr)
                return;
            choose(*plugin, choice);
            check(stateNames(*plugin, choice), what + ": state names the chosen model");
            const int outputs = ferrowick_render::prepareMonoIn(*plugin, rate, block);
            check(outputs == 2, what + ": mono in, stereo out (" + juce::String(outputs) + " outputs)");
            if (outputs != 2)
                continue;

            const auto input = ferrowick_render::makePluckedChord(rate, 1.0);
            const auto output = ferrowick_render::renderThrough(*plugin, input, block);
            plugin->releaseResources();
            const auto levels = ferrowick_render::measure(output);
            check(levels.finite, what + ": every output sample finite");
            if (rate == 44100)
                check(levels.peak == 0.0f, what + ": silent (" + levelText(levels) + ")");
            else
            {
                check(levels.rms > audible && levels.peak <= 16.0f, what + ": audible (" + levelText(levels) + ")");
                check(maxDifference(output, output, 0, 1) == 0.0f, what + ": channel 1 is a copy of channel 0");
            }
        }
    }
}

// The output gain scales the finished signal: -40 dB against the 0 dB default, same input, same
// model, two fresh instances.
void outputGainScalesTheOutput()
{
    const Choice choice { "LstmLead", 0, true };
    juce::AudioBuffer<float> outputs[2];
    for (int i = 0; i < 2; ++i)
    {
        auto plugin = load(48000, 256);
        if (plugin == nullptr)
            return;
        choose(*plugin, choice);
        if (i == 1)
        {
            auto* gainOut = parameter(*plugin, "Gain Out");
            check(gainOut != nullptr, "Gain Out parameter present");
            if (gainOut == nullptr)
                return;
            gainOut->setValue(0.0f);
        }
        ferrowick_render::prepareMonoIn(*plugin, 48000, 256);
        outputs[i] = ferrowick_render::renderThrough(*plugin, ferrowick_render::makePluckedChord(48000, 0.5), 256);
    }
    const auto at0dB = ferrowick_render::measure(outputs[0]);
    const auto atMinus40 = ferrowick_render::measure(outputs[1]);
    const float ratio = at0dB.rms > 0.0f ? atMinus40.rms / at0dB.rms : 0.0f;
    check(std::abs(ratio - 0.01f) < 0.0005f, "Gain Out at 0 (-40 dB) gives 1/100 of the 0 dB output (ratio "
                                                 + juce::String(ratio, 5) + ")");
}

// getStateInformation of one instance into setStateInformation of a fresh one: the same gains,
// model and snapshot, and then the same output for the same input.
void stateRoundTrip()
{
    const Choice choice { "LinearClean", 1, true };
    auto first = load(48000, 512);
    auto second = load(48000, 512);
    if (first == nullptr || second == nullptr)
        return;
    choose(*first, choice);
    auto* gainIn = parameter(*first, "Gain In");
    auto* gainOut = parameter(*first, "Gain Out");
    check(gainIn != nullptr && gainOut != nullptr, "both gain parameters present");
    if (gainIn == nullptr || gainOut == nullptr)
        return;
    gainIn->setValue(0.6f);
    gainOut->setValue(0.75f);

    juce::MemoryBlock saved;
    first->getStateInformation(saved);
    second->setStateInformation(saved.getData(), static_cast<int>(saved.getSize()));

    for (const auto* name : { "Gain In", "Gain Out" })
    {
        auto* a = parameter(*first, name);
        auto* b = parameter(*second, name);
        check(b != nullptr && std::abs(a->getValue() - b->getValue()) < 1.0e-5f,
              juce::String(name) + " restored: " + juce::String(a->getValue()) + " -> "
                  + (b != nullptr ? juce::String(b->getValue()) : juce::String("<none>")));
    }
    check(stateNames(*second, choice), "restored state names " + describe(choice));

    // The PARAM children of the two states agree value for value.
    const auto stateA = ferrowick_host::readPluginState(*first);
    const auto stateB = ferrowick_host::readPluginState(*second);
    check(stateA != nullptr && stateB != nullptr, "both states readable");
    if (stateA == nullptr || stateB == nullptr)
        return;
    int compared = 0;
    for (auto* paramA : stateA->getChildWithTagNameIterator("PARAM"))
    {
        const auto id = paramA->getStringAttribute("id");
        auto* paramB = stateB->getChildByAttribute("id", id);
        check(paramB != nullptr
                  && std::abs(paramA->getDoubleAttribute("value") - paramB->getDoubleAttribute("value")) < 1.0e-6,
              "state PARAM " + id + " carried over");
        ++compared;
    }
    check(compared == 2, "two PARAM children in the state (" + juce::String(compared) + ")");

    const auto input = ferrowick_render::makePluckedChord(48000, 0.5);
    ferrowick_render::prepareMonoIn(*first, 48000, 512);
    ferrowick_render::prepareMonoIn(*second, 48000, 512);
    const auto outA = ferrowick_render::renderThrough(*first, input, 512);
    const auto outB = ferrowick_render::renderThrough(*second, input, 512);
    check(ferrowick_render::measure(outA).rms > audible, "the original instance plays");
    check(maxDifference(outA, outB, 0, 0) < 1.0e-6f, "the restored instance plays the same output (max difference "
                                                         + juce::String(maxDifference(outA, outB, 0, 0)) + ")");

    // A state without a model (empty id, no snapshot) restores the gains and keeps the model.
    auto noModel = ferrowick_host::withModelChoice(*stateA, "", -1);
    if (auto* param = noModel->getChildByAttribute("id", "GainOut"))
        param->setAttribute("value", 0.5);
    ferrowick_host::writePluginState(*second, *noModel);
    check(stateNames(*second, choice), "a state with an empty model id keeps " + describe(choice));
    check(std::abs(parameter(*second, "Gain Out")->getValue() - 0.5f) < 1.0e-5f,
          "a state with an empty model id still restores the gains");
}

const Choice switches[] = {
    { "WaveHigh", 0, true },  { "LinearClean", 1, true }, { "WaveHigh", 2, false }, { "ConvCrunch", 1, true },
    { "WaveHigh", 1, false }, { "LstmLead", 0, true },    { "ConvCrunch", 0, true }, { "LinearClean", 0, true },
};

// Restores between blocks at 96 kHz: after each one the state names the new choice, the output
// stays finite, plays with a model and is silent where the snapshot has no usable model file.
void switchBetweenBlocks()
{
    constexpr int rate = 96000, block = 256, blocksPerChoice = 24;
    auto plugin = load(rate, block);
    if (plugin == nullptr)
        return;
    ferrowick_render::prepareMonoIn(*plugin, rate, block);
    const auto chord = ferrowick_render::makePluckedChord(rate, 1.0);
    juce::AudioBuffer<float> input(1, blocksPerChoice * block);
    for (int i = 0; i < input.getNumSamples(); ++i)
        input.setSample(0, i, chord.getSample(0, i % chord.getNumSamples()));

    for (const auto& choice : switches)
    {
        choose(*plugin, choice);
        check(stateNames(*plugin, choice), "switched to " + describe(choice) + " between blocks: state names it");
        const auto output = ferrowick_render::renderThrough(*plugin, input, block);
        const auto levels = ferrowick_render::measure(output);
        check(levels.finite, describe(choice) + ": output finite");
        if (choice.plays)
            check(levels.rms > audible, describe(choice) + ": plays (" + levelText(levels) + ")");
        else
            check(levels.peak == 0.0f, describe(choice) + ": silent without a usable model file (" + levelText(levels) + ")");
    }
    plugin->releaseResources();
}

// An audio thread processes block after block while this (the message) thread restores one
// choice after another. The audio thread never sees a NaN or infinity, nothing crashes, and the
// last choice is the one in the state and the one playing.
void switchWhileAnotherThreadProcesses()
{
    constexpr int rate = 48000, block = 256, rounds = 3, blocksPerSwitch = 4;
    auto plugin = load(rate, block);
    if (plugin == nullptr)
        return;
    ferrowick_render::prepareMonoIn(*plugin, rate, block);
    const auto chord = ferrowick_render::makePluckedChord(rate, 1.0);

    std::atomic<bool> stop { false };
    std::atomic<int> processed { 0 };
    std::atomic<int> nonFinite { 0 };
    std::atomic<float> lastPeak { 0.0f };
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, block);
        juce::MidiBuffer midi;
        int position = 0;
        while (!stop.load())
        {
            buffer.clear();
            for (int i = 0; i < block; ++i)
                buffer.setSample(0, i, chord.getSample(0, (position + i) % chord.getNumSamples()));
            position = (position + block) % chord.getNumSamples();
            plugin->processBlock(buffer, midi);
            const auto levels = ferrowick_render::measure(buffer);
            if (!levels.finite)
                nonFinite.fetch_add(1);
            lastPeak.store(levels.peak);
            processed.fetch_add(1);
        }
    });

    // Waits for the audio thread to get through a few more blocks; gives up (and fails) only if
    // it has stopped making progress altogether.
    auto letBlocksRun = [&](int count) {
        const int target = processed.load() + count;
        for (int spins = 0; processed.load() < target; ++spins)
        {
            if (spins > 200000)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        return true;
    };

    bool progressing = letBlocksRun(blocksPerSwitch);
    int restores = 0;
    for (int round = 0; round < rounds && progressing; ++round)
        for (const auto& choice : switches)
        {
            choose(*plugin, choice);
            ++restores;
            progressing = letBlocksRun(blocksPerSwitch);
            if (!progressing)
                break;
        }
    const auto& last = switches[std::size(switches) - 1];
    progressing = progressing && letBlocksRun(blocksPerSwitch);
    const float peakAfterLast = lastPeak.load();
    stop.store(true);
    audio.join();
    plugin->releaseResources();

    check(progressing, "the audio thread kept processing through " + juce::String(restores) + " restores ("
                           + juce::String(processed.load()) + " blocks)");
    check(nonFinite.load() == 0, "every block finite while restoring (" + juce::String(nonFinite.load()) + " were not)");
    check(stateNames(*plugin, last), "after the restores the state names the last choice, " + describe(last));
    check(peakAfterLast > 0.0f, "the last choice plays on the audio thread");
}

// The four fixture architectures, each at a snapshot that plays.
const Choice demoModels[] = { { "LinearClean", 0, true }, { "ConvCrunch", 0, true }, { "LstmLead", 0, true },
                              { "WaveHigh", 0, true } };

// A fresh, prepared instance playing the choice; null (and a failed check) when it cannot load.
std::unique_ptr<juce::AudioPluginInstance> playing(const Choice& choice, int rate, int block)
{
    auto plugin = load(rate, block);
    if (plugin == nullptr)
        return nullptr;
    choose(*plugin, choice);
    ferrowick_render::prepareMonoIn(*plugin, rate, block);
    return plugin;
}

bool sameSamples(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int ch = 0; ch < a.getNumChannels(); ++ch)
        if (std::memcmp(a.getReadPointer(ch), b.getReadPointer(ch), sizeof(float) * static_cast<size_t>(a.getNumSamples())) != 0)
            return false;
    return true;
}

// NaN and infinities in the host's input (one sample, the first and the last sample of a block,
// a whole block) never reach the output, and the plug-in recovers by itself: from 0.5 s after the
// last of them, its output is that of an instance that never saw them, to within -60 dBFS.
void nonFiniteInputIsContained()
{
    constexpr int block = 512;
    for (const auto& choice : demoModels)
        for (const int rate : { 48000, 96000 })
        {
            const auto what = describe(choice) + " at " + juce::String(rate) + " Hz";
            const auto clean = ferrowick_render::makePluckedChord(rate, 1.5);
            auto poisoned = clean;
            poisoned.setSample(0, 1000, std::nanf(""));
            poisoned.setSample(0, 3 * block, INFINITY);
            poisoned.setSample(0, 6 * block - 1, -INFINITY);
            for (int i = 8 * block; i < 9 * block; ++i)
                poisoned.setSample(0, i, std::nanf(""));
            const int recovered = 9 * block + rate / 2;

            auto a = playing(choice, rate, block);
            auto b = playing(choice, rate, block);
            if (a == nullptr || b == nullptr)
                return;
            const auto out = ferrowick_render::renderThrough(*a, poisoned, block);
            const auto reference = ferrowick_render::renderThrough(*b, clean, block);
            check(ferrowick_render::measure(out).finite, what + ": every output sample finite");
            float worst = 0.0f;
            for (int i = recovered; i < out.getNumSamples(); ++i)
                worst = juce::jmax(worst, std::abs(out.getSample(0, i) - reference.getSample(0, i)));
            check(worst <= 1.0e-3f, what + ": 0.5 s after the last bad sample within -60 dBFS of a clean run (off by "
                                        + ferrowick_render::dbfs(worst) + " dBFS)");
            check(ferrowick_render::measure(reference).rms > audible, what + ": the clean run plays");
        }
}

// After the host resets the instance (reset(), and prepareToPlay again), the same input gives the
// same output, bit for bit, as a fresh instance. So do blocks longer than the host prepared for
// (a host's bug, which the VST3 rules forbid): they play as blocks of the prepared size.
void resetStartsAfresh()
{
    constexpr int block = 480;
    for (const auto& choice : demoModels)
        for (const int rate : { 48000, 96000 })
        {
            const auto what = describe(choice) + " at " + juce::String(rate) + " Hz";
            const auto input = ferrowick_render::makePluckedChord(rate, 0.5);
            auto fresh = playing(choice, rate, block);
            auto used = playing(choice, rate, block);
            if (fresh == nullptr || used == nullptr)
                return;
            const auto expected = ferrowick_render::renderThrough(*fresh, input, block);
            check(sameSamples(ferrowick_render::renderThrough(*used, input, block), expected),
                  what + ": two fresh instances agree");
            if (auto longer = playing(choice, rate, block))
                check(sameSamples(ferrowick_render::renderThrough(*longer, input, 2000), expected),
                      what + ": blocks of 2000 samples on an instance prepared for 480 play as blocks of 480");
            used->reset();
            check(sameSamples(ferrowick_render::renderThrough(*used, input, block), expected),
                  what + ": after reset() the output is a fresh instance's, bit for bit");
            used->releaseResources();
            ferrowick_render::prepareMonoIn(*used, rate, block);
            check(sameSamples(ferrowick_render::renderThrough(*used, input, block), expected),
                  what + ": after prepareToPlay the output is a fresh instance's, bit for bit");
        }
}

// A model that passes its input through: an impulse comes out as late as the latency the plug-in
// reports, 0 at 48 kHz and the resampling's delay at 96 kHz.
void latencyIsReported(const juce::File& models)
{
    const auto folder = models.getChildFile("Impulse");
    folder.getChildFile("models").createDirectory();
    folder.getChildFile("metadata.txt").replaceWithText("ModelId=Impulse\nDeviceName=Impulse\n");
    folder.getChildFile("settings.txt").replaceWithText("Setting,Gain\nThrough,0\n");
    folder.getChildFile("models/000.kep")
        .replaceWithText(R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": 1, "bias": false},
                            "weights": [1.0], "metadata": {"loudness": -10}})");

    constexpr int block = 256;
    for (const auto& [rate, expected] : { std::pair { 48000, 0 }, std::pair { 96000, 42 } })
        for (const int at : { 4000, 4001 })
        {
            auto plugin = playing({ "Impulse", 0, true }, rate, block);
            if (plugin == nullptr)
                return;
            juce::AudioBuffer<float> impulse(1, 8000);
            impulse.clear();
            impulse.setSample(0, at, 0.5f);
            const auto out = ferrowick_render::renderThrough(*plugin, impulse, block);
            int peakAt = 0;
            for (int i = 0; i < out.getNumSamples(); ++i)
                if (std::abs(out.getSample(0, i)) > std::abs(out.getSample(0, peakAt)))
                    peakAt = i;
            const int reported = ferrowick_render::reportedLatency(*plugin);
            check(peakAt - at == reported && reported == expected,
                  juce::String(rate) + " Hz, impulse at " + juce::String(at) + ": comes out " + juce::String(peakAt - at)
                      + " samples late, the plug-in reports " + juce::String(reported));
        }
    folder.deleteRecursively();
}

// With the host's bypass on, the output is the dry input late by exactly the reported latency, on
// both channels; a block of input that holds a NaN or an infinity comes out silent, as late.
void bypassKeepsTheLatency()
{
    constexpr int block = 256;
    for (const int rate : { 48000, 96000 })
    {
        auto impulses = ferrowick_render::makePluckedChord(rate, 0.5);
        impulses.clear();
        impulses.setSample(0, 4000, 0.5f);
        impulses.setSample(0, 9001, -0.5f);
        auto poisoned = ferrowick_render::makePluckedChord(rate, 0.5);
        poisoned.setSample(0, 1000, std::nanf(""));
        poisoned.setSample(0, 5 * block, INFINITY);
        const auto silenced = [](int i) { return i / block == 1000 / block || i / block == 5; };

        for (const auto* input : { &impulses, &poisoned })
        {
            const auto what = juce::String(rate) + " Hz, bypassed, " + (input == &impulses ? "impulses" : "NaN and infinity");
            auto plugin = playing({ "LstmLead", 0, true }, rate, block);
            if (plugin == nullptr || plugin->getBypassParameter() == nullptr)
            {
                check(false, what + ": the instance has a bypass");
                return;
            }
            // The change reaches the plug-in with the first block.
            plugin->getBypassParameter()->setValueNotifyingHost(1.0f);
            const int latency = ferrowick_render::reportedLatency(*plugin);
            const auto out = ferrowick_render::renderThrough(*plugin, *input, block);
            bool late = latency == (rate == 96000 ? 42 : 0);
            for (int ch = 0; ch < out.getNumChannels(); ++ch)
                for (int i = 0; i < out.getNumSamples(); ++i)
                {
                    const int from = i - latency;
                    const float dry = from < 0 || (input == &poisoned && silenced(from)) ? 0.0f : input->getSample(0, from);
                    late = late && out.getSample(ch, i) == dry;
                }
            check(late && ferrowick_render::measure(out).finite,
                  what + ": the dry input, " + juce::String(latency) + " samples late (the reported latency), finite");
        }
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: ferrowick_host_audio_test BUNDLE_DIR RESOURCE_DIR" << std::endl;
        return 2;
    }
    {
        juce::ScopedJuceInitialiser_GUI framework;
        bundleDir = juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]);
        const auto models = juce::File::getCurrentWorkingDirectory().getChildFile(argv[2]).getChildFile("Models");
        for (const auto* id : { "LinearClean", "ConvCrunch", "LstmLead", "WaveHigh" })
            if (!models.getChildFile(id).isDirectory())
                check(false, juce::String("fixture model folder ") + id + " present");

        std::cout << "== output at 48, 96 and 44.1 kHz" << std::endl;
        playsAtSupportedRatesOnly();
        outputGainScalesTheOutput();
        std::cout << "== host state from one instance to another" << std::endl;
        stateRoundTrip();
        std::cout << "== model and snapshot changes while playing" << std::endl;
        switchBetweenBlocks();
        switchWhileAnotherThreadProcesses();
        std::cout << "== non-finite input, resets, long blocks and the reported latency" << std::endl;
        nonFiniteInputIsContained();
        resetStartsAfresh();
        latencyIsReported(models);
        std::cout << "== bypass" << std::endl;
        bypassKeepsTheLatency();
    }
    std::cout << (failures == 0 ? "all host audio checks passed"
                                : juce::String(failures) + " host audio check(s) failed")
              << std::endl;
    return failures == 0 ? 0 : 1;
}
