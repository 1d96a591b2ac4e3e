// Crafted component states through the Ferrowick VST3 bundle in the framework's VST3 hosting, the
// way a damaged or hostile project hands them back: the instance survives each and then plays,
// the plug-in's own block in front of a damaged trailer is still read, the bypass changes only
// with a trailer of the framework's own shape, and the states written today (and by earlier
// builds, which wrote the same trailer) restore the model choice and the bypass.
//   ferrowick_host_state_test BUNDLE_DIR RESOURCE_DIR
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <iostream>
#include <vector>

#include <juce_audio_processors/juce_audio_processors.h>

#include "PluginHost.h"
#include "Render.h"

namespace
{
int failures = 0;
juce::File bundleDir;

int rate = 96000;
constexpr int block = 256;
const char* const marker = "JUCEPrivateData";

void check(bool condition, const juce::String& what)
{
    std::cout << (condition ? "ok   " : "FAIL ") << what << std::endl;
    if (!condition)
        ++failures;
}

using Bytes = std::vector<char>;

void append(Bytes& bytes, const void* data, size_t size)
{
    const auto* first = static_cast<const char*>(data);
    bytes.insert(bytes.end(), first, first + size);
}

void appendInt64(Bytes& bytes, juce::uint64 value)
{
    const auto little = juce::ByteOrder::swapIfBigEndian(value);
    append(bytes, &little, sizeof(little));
}

// The trailer as the framework's wrapper lays it out: int64 0, the private tree, a declared size
// (the tree's own unless given), the identifier.
Bytes withTrailer(Bytes front, const Bytes& tree, std::optional<juce::uint64> declared = std::nullopt)
{
    appendInt64(front, 0);
    append(front, tree.data(), tree.size());
    appendInt64(front, declared.value_or(tree.size()));
    append(front, marker, std::strlen(marker));
    return front;
}

// The private tree exactly as the framework writes it.
Bytes frameworkTree(bool bypass)
{
    juce::ValueTree tree(marker);
    tree.setProperty("Bypass", juce::var(bypass), nullptr);
    juce::MemoryOutputStream out;
    tree.writeToStream(out);
    return Bytes(static_cast<const char*>(out.getData()), static_cast<const char*>(out.getData()) + out.getDataSize());
}

std::unique_ptr<juce::AudioPluginInstance> load()
{
    juce::String error;
    auto loaded = ferrowick_host::loadVst3Bundle(bundleDir, rate, block, error);
    if (loaded.instance == nullptr)
        check(false, "bundle loads: " + error);
    else
    {
        ferrowick_render::prepareMonoIn(*loaded.instance, rate, block);
        const int latency = ferrowick_render::reportedLatency(*loaded.instance);
        const int expected = rate == 96000 ? 42 : 0;
        if (latency != expected)
            check(false, "the instance reports " + juce::String(expected) + " samples of latency, not " + juce::String(latency));
    }
    return std::move(loaded.instance);
}

// The plug-in's own state block naming a model choice.
Bytes ownBlock(juce::AudioPluginInstance& plugin, const char* model, int snapshot)
{
    const auto state = ferrowick_host::readPluginState(plugin);
    juce::MemoryBlock bytes;
    if (state != nullptr)
        juce::AudioProcessor::copyXmlToBinary(*ferrowick_host::withModelChoice(*state, model, snapshot), bytes);
    return Bytes(static_cast<const char*>(bytes.getData()), static_cast<const char*>(bytes.getData()) + bytes.getSize());
}

void setBypass(juce::AudioPluginInstance& plugin, bool on)
{
    if (auto* bypass = plugin.getBypassParameter())
        bypass->setValueNotifyingHost(on ? 1.0f : 0.0f);
}

juce::String choiceOf(juce::AudioPluginInstance& plugin)
{
    const auto state = ferrowick_host::readPluginState(plugin);
    return state == nullptr ? juce::String("<no state>")
                            : ferrowick_host::stateModelId(*state) + "/" + ferrowick_host::stateProgramIndex(*state);
}

// Plays a short chord: finite and audible output. Reports whether the output is the dry input,
// late by the reported latency, exactly (the bypass).
struct Played
{
    bool plays = false;
    bool bypassed = false;
};

Played play(juce::AudioPluginInstance& plugin)
{
    const auto input = ferrowick_render::makePluckedChord(rate, 0.25);
    const auto output = ferrowick_render::renderThrough(plugin, input, block);
    const auto levels = ferrowick_render::measure(output);
    const int latency = plugin.getLatencySamples();
    // The first samples are the end of what played before.
    bool dry = true;
    for (int i = latency; i < output.getNumSamples() && dry; ++i)
        dry = output.getSample(0, i) == input.getSample(0, i - latency);
    return { levels.finite && levels.rms > 1.0e-4f, dry };
}

void restore(juce::AudioPluginInstance& plugin, const Bytes& bytes)
{
    ferrowick_host::writeComponentState(plugin, juce::MemoryBlock(bytes.data(), bytes.size()), true);
}

// Each crafted state goes to an instance that plays LstmLead with the bypass on; the state's own
// block, where it has an intact one, names ConvCrunch.
void craftedStatesAreSurvived()
{
    auto plugin = load();
    if (plugin == nullptr)
        return;
    const auto baseline = withTrailer(ownBlock(*plugin, "LstmLead", 0), frameworkTree(true));
    const auto own = ownBlock(*plugin, "ConvCrunch", 0);
    const auto ownFramed = withTrailer(own, frameworkTree(false));
    // Where the size field sits in ownFramed, and the largest declared size that fits before it.
    const auto beforeSize = static_cast<juce::uint64>(ownFramed.size() - sizeof(juce::int64) - std::strlen(marker));
    const auto largestFit = beforeSize - sizeof(juce::int64);

    juce::Random random(20261207);
    Bytes noise(2 * 1024 * 1024);
    for (auto& byte : noise)
        byte = static_cast<char>(random.nextInt(256));

    struct Case
    {
        juce::String what;
        Bytes bytes;
        juce::String choice; // what the instance plays afterwards
        bool bypass;         // the bypass afterwards
    };
    auto resized = [&ownFramed, beforeSize](juce::uint64 declared) {
        Bytes bytes(ownFramed.begin(), ownFramed.begin() + static_cast<std::ptrdiff_t>(beforeSize));
        appendInt64(bytes, declared);
        append(bytes, marker, std::strlen(marker));
        return bytes;
    };
    std::vector<Case> cases = {
        { "own block, then the largest size that fits", resized(largestFit), "LstmLead/0", true },
        { "own block, then one byte more than fits", resized(largestFit + 1), "ConvCrunch/0", true },
        { "own block, then a size one byte larger than the tree", resized(frameworkTree(false).size() + 1),
          "ConvCrunch/0", true },
        { "own block, then an empty tree", withTrailer(own, {}), "ConvCrunch/0", true },
        { "4 MiB of noise ending in the identifier", withTrailer(noise, noise, noise.size() / 3), "LstmLead/0", true },
        { "own block without a trailer (older states)", own, "ConvCrunch/0", true },
    };
    // The states that crashed or hung hosts, kept for the wrapper's fuzz target (after the byte that
    // picks its stream's behaviour): the plug-in's own block in front of them, where intact, names
    // LinearClean/1, and none changes the bypass.
    for (const auto& file : juce::File(FERROWICK_SOURCE_DIR "/tests/fuzz/regressions/wrapper_state")
                                .findChildFiles(juce::File::findFiles, false, "*"))
    {
        juce::MemoryBlock data;
        file.loadFileAsData(data);
        const auto* first = static_cast<const char*>(data.getData()) + 1;
        Bytes bytes(first, first + data.getSize() - 1);
        const bool ownBlock = bytes.size() > 4 && std::memcmp(bytes.data(), "VC2!", 4) == 0;
        cases.push_back({ file.getFileName(), bytes, ownBlock ? "LinearClean/1" : "LstmLead/0", true });
    }

    for (const auto& c : cases)
    {
        restore(*plugin, baseline);
        const auto reference = play(*plugin);
        if (choiceOf(*plugin) != "LstmLead/0" || !reference.bypassed)
            check(false, c.what + ": the baseline state restores LstmLead with the bypass on");

        const auto started = juce::Time::getMillisecondCounterHiRes();
        restore(*plugin, c.bytes);
        const auto seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;
        const auto played = play(*plugin);
        const auto choice = choiceOf(*plugin);
        check(played.plays && choice == c.choice && played.bypassed == c.bypass,
              c.what + " (" + juce::String(c.bytes.size()) + " bytes, restored in "
                  + juce::String(seconds, 3) + " s): plays " + choice + ", bypass "
                  + (played.bypassed ? "on" : "off"));
    }
}

// What the plug-in saves comes back in a fresh instance: the model choice and the bypass.
void savedStatesRoundTrip()
{
    for (const bool bypass : { true, false })
    {
        auto saved = load();
        auto fresh = load();
        if (saved == nullptr || fresh == nullptr)
            return;
        restore(*saved, ownBlock(*saved, "ConvCrunch", 1));
        setBypass(*saved, bypass);
        play(*saved); // the host's parameter change reaches the plug-in with a block
        setBypass(*fresh, !bypass);
        play(*fresh);

        juce::MemoryBlock hostState;
        saved->getStateInformation(hostState);
        fresh->setStateInformation(hostState.getData(), static_cast<int>(hostState.getSize()));
        const auto played = play(*fresh);
        check(played.plays && played.bypassed == bypass && choiceOf(*fresh) == "ConvCrunch/1",
              juce::String("a saved state with the bypass ") + (bypass ? "on" : "off") + " restores it and ConvCrunch/1");
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: ferrowick_host_state_test BUNDLE_DIR RESOURCE_DIR" << std::endl;
        return 2;
    }
    {
        juce::ScopedJuceInitialiser_GUI framework;
        bundleDir = juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]);
        for (const int played : { 48000, 96000 })
        {
            rate = played;
            std::cout << "== crafted component states at " << rate << " Hz" << std::endl;
            craftedStatesAreSurvived();
            std::cout << "== saved states at " << rate << " Hz" << std::endl;
            savedStatesRoundTrip();
        }
    }
    std::cout << (failures == 0 ? "all host state checks passed" : juce::String(failures) + " host state check(s) failed")
              << std::endl;
    return failures == 0 ? 0 : 1;
}
