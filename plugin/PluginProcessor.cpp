#include "plugin/PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>

#include "core/get_dsp.h"
#include "core/model_file.h"
#include "audio/Gain.h"
#include "plugin/CatalogueFile.h"
#include "plugin/Parameters.h"
#include "plugin/PluginSettings.h"
#include "plugin/PluginWindow.h"
#include "plugin/StateBlock.h"

namespace
{
// 10^((-10 - loudness) * 0.05) from the model file's metadata (a boolean reads as 1 or 0). A
// file without a usable "loudness", or with one whose gain is zero or not finite, is refused
// before its model is published.
float loudnessGainOf(const kep::dspData& data)
{
    const auto& metadata = data.metadata;
    const bool usable = metadata.is_object() && metadata.contains("loudness")
                        && (metadata.at("loudness").is_number() || metadata.at("loudness").is_boolean());
    if (!usable)
        throw std::runtime_error("Model file has no numeric \"loudness\" in its metadata.");
    const float loudness = metadata.at("loudness").get<float>();
    const float gain = std::pow(10.0f, (-10.0f - loudness) * 0.05f);
    // A gain of zero, or one too small for a normal float (flushed to zero in the audio blocks),
    // would silence the model for good, an infinite one (or NaN) flood the output.
    if (!std::isnormal(gain))
        throw std::runtime_error("Model file's \"loudness\" (" + std::to_string(loudness)
                                 + ") gives a loudness gain that is zero, subnormal or not finite.");
    return gain;
}

// A snapshot index read as atoi reads it (white space, a sign, digits; 0 without digits), but
// clamped to the int range where atoi's result would be undefined: such an index names no row.
int decimalIndex(const juce::String& text)
{
    const long value = std::strtol(text.toRawUTF8(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The 2:1 resampling around the model at 96 kHz delays the signal; other rates have no delay.
int latencyAt(int32_t rate)
{
    return rate == 96000 ? ferrowick::resamplingDelay : 0;
}

void writeSilence(float* ch0, float* ch1, int n)
{
    std::fill(ch0, ch0 + n, 0.0f);
    if (ch1 != nullptr)
        std::fill(ch1, ch1 + n, 0.0f);
}
} // namespace

CorvaneAudioProcessor::CorvaneAudioProcessor()
    : AudioProcessor(BusesProperties()
                         .withInput("Input", juce::AudioChannelSet::stereo(), true)
                         .withOutput("Output", juce::AudioChannelSet::stereo(), true)),
      valueTreeState(*this, nullptr, "Ferrowick", createParameterLayout(*this))
{
    gainInParameter = dynamic_cast<juce::AudioParameterFloat*>(valueTreeState.getParameter(ParameterIds[0]));
    gainOutParameter = dynamic_cast<juce::AudioParameterFloat*>(valueTreeState.getParameter(ParameterIds[1]));
    jassert(gainInParameter != nullptr && gainOutParameter != nullptr);

    PluginSettings::Load();

    sampleRate = 48000;
    stereoOut = true;
    lowpassFilter = ferrowick::OnePoleLowpass {};
    dcBlocker = ferrowick::DcBlocker {};
    bassCutFilter = ferrowick::bassPeakFilter(48000.0f, -3.0f);
    bassBoostFilter = ferrowick::bassPeakFilter(static_cast<float>(sampleRate.load()), 3.0f);

    const auto ids = ModelSource::getModelIds();
    const auto stored = PluginSettings::Get();
    if (ids.isEmpty())
        setModel({}, 0);
    else if (ids.contains(stored.LastSelectedModelId))
        setModel(stored.LastSelectedModelId, stored.LastSelectedModelIdx);
    else
        setModel(ids[0], 0);
}

CorvaneAudioProcessor::~CorvaneAudioProcessor()
{
    // A delivery under way on the message thread ends first; later ones find no processor.
    std::lock_guard<std::mutex> lock(editorMailbox->lock);
    editorMailbox->processor = nullptr;
}

void CorvaneAudioProcessor::setModel(juce::String id, int index)
{
    bool pictureChanged = false;
    {
        std::lock_guard<std::mutex> lock(loadLock);
        const auto entry = installEntryLocked(id);
        if (entry == nullptr)
            return;
        pictureChanged = setProgramLocked(*entry, index);
    }

    // Outside the lock: on the message thread the table refresh runs here, and the row it selects,
    // the one that plays, comes back into setProgram through the row callback.
    notifyEditor(&EditorMailbox::table);
    if (pictureChanged)
        notifyEditor(&EditorMailbox::picture);
}

void CorvaneAudioProcessor::setProgram(int index)
{
    loadProgram(nullptr, index);
}

void CorvaneAudioProcessor::setProgramOf(const ModelSource& shown, int index)
{
    loadProgram(&shown, index);
}

void CorvaneAudioProcessor::loadProgram(const ModelSource* shown, int index)
{
    bool pictureChanged = false;
    {
        std::lock_guard<std::mutex> lock(loadLock);
        if (modelSource != nullptr && (shown == nullptr || shown == modelSource.get()))
            pictureChanged = setProgramLocked(*modelSource, index);
    }
    if (pictureChanged)
        notifyEditor(&EditorMailbox::picture);
}

std::pair<juce::String, int> CorvaneAudioProcessor::currentChoice()
{
    std::lock_guard<std::mutex> lock(loadLock);
    return { modelSource->ModelId, modelSource->ProgramIndex };
}

CorvaneAudioProcessor::CurrentEntry CorvaneAudioProcessor::currentEntry()
{
    std::lock_guard<std::mutex> lock(loadLock);
    return { modelSource, modelSource != nullptr ? modelSource->ProgramIndex : -1 };
}

juce::Image CorvaneAudioProcessor::currentPicture()
{
    std::lock_guard<std::mutex> lock(pictureLock);
    return modelPicture != nullptr ? *modelPicture : juce::Image();
}

std::shared_ptr<ModelSource> CorvaneAudioProcessor::installEntryLocked(const juce::String& id)
{
    if (id.isEmpty() && modelSource != nullptr && modelSource->ModelId.isNotEmpty())
        return nullptr;

    std::shared_ptr<ModelSource> entry;
    try
    {
        entry = std::make_shared<ModelSource>(ModelSource::loadModel(id));
    }
    catch (...)
    {
        // Out of memory while reading the folder: the current entry stays.
        return nullptr;
    }

    // The new entry holds no model yet: the audio path is silent until setProgram publishes
    // one. The previous entry is freed here or at a later change, once no block uses it.
    modelSource = entry;
    entries.publish(entry);
    return entry;
}

bool CorvaneAudioProcessor::setProgramLocked(ModelSource& entry, int index)
{
    if (index < 0 || index == entry.ProgramIndex || index >= entry.getNumRows())
        return false;

    const auto folder = ModelSource::getPluginResourceDir() + "/" + "Models" + "/" + entry.ModelId;
    const auto stem = ModelSource::paddedIndex(index);

    // Everything is loaded before anything changes: a snapshot that cannot play (no model file, or
    // one that fails to load) leaves the entry's index, models and gain and the picture as they
    // were, so that what the processor reports, and a host saves, is what plays.
    try
    {
        const juce::File modelFile(folder + "/" + "models" + "/" + stem + ".kep");
        if (!modelFile.existsAsFile())
        {
            // Frees models that the audio thread has let go of since the last change.
            entry.collect();
            modelLoadError = "Snapshot " + juce::String(index) + " has no model file.";
            return false;
        }
        auto data = kep::read_config_file(modelFile.getFullPathName().toStdString());
        std::shared_ptr<kep::DSP> model = kep::get_dsp(data);
        // A model without warm-up (Linear) would size its input history on its first audio
        // block; size it here, off the audio thread, for the largest chunk it will get.
        if (auto* history = dynamic_cast<kep::Buffer*>(model.get()))
            history->reserve_history(ferrowick::ModelChain::maxChunk);
        const float loudnessGain = loudnessGainOf(data);

        const juce::File pictureFile(folder + "/" + "images" + "/" + stem + ".jpg");
        juce::Image picture;
        if (pictureFile.existsAsFile())
        {
            const auto bytes = readCatalogueFile(pictureFile, maxCataloguePictureBytes);
            if (bytes.has_value())
                picture = juce::ImageFileFormat::loadFrom(bytes->getData(), bytes->getSize());
        }
        else
            picture = juce::Image(juce::Image::ARGB, 1, 1, true);
        auto replacement = std::make_unique<juce::Image>(picture);

        entry.publish(std::move(model), loudnessGain);
        entry.LoudnessGain = loudnessGain;
        entry.ProgramIndex = index;
        modelLoadError.clear();
        {
            std::lock_guard<std::mutex> lock(pictureLock);
            modelPicture.swap(replacement);
        }
        // The previous picture is freed here, outside the picture lock.
    }
    catch (const std::exception& error)
    {
        modelLoadError = error.what();
        return false;
    }
    catch (...)
    {
        modelLoadError = "Unknown error while loading the model.";
        return false;
    }
    return true;
}

void CorvaneAudioProcessor::notifyEditor(std::atomic<bool> EditorMailbox::*change)
{
    if (juce::MessageManager::existsAndIsCurrentThread())
    {
        deliverToEditor(change == &EditorMailbox::table, change == &EditorMailbox::picture,
                        change == &EditorMailbox::sampleRateMessage);
        return;
    }
    // Components belong to the message thread: the change waits there for the next delivery.
    auto& mailbox = *editorMailbox;
    (mailbox.*change).store(true);
    if (mailbox.posted.exchange(true))
        return;
    const bool sent = juce::MessageManager::callAsync([box = editorMailbox] {
        box->posted.store(false);
        std::lock_guard<std::mutex> lock(box->lock);
        if (box->processor != nullptr)
            box->processor->deliverToEditor(box->table.exchange(false), box->picture.exchange(false),
                                            box->sampleRateMessage.exchange(false));
    });
    if (!sent)
        mailbox.posted.store(false);
}

void CorvaneAudioProcessor::deliverToEditor(bool table, bool picture, bool sampleRateMessage)
{
    // Message thread only. The editor is looked up under the framework's editor lock, which is
    // released before the editor is called.
    auto* editor = getActiveEditor();
    auto* window = dynamic_cast<PluginWindow*>(editor);
    if (window == nullptr)
        return;
    if (table)
        window->applyTableModel();
    if (sampleRateMessage)
        window->updateSampleRateMessage();
    if (picture)
        editor->repaint();
}

const juce::String CorvaneAudioProcessor::getName() const
{
    return "Ferrowick";
}

void CorvaneAudioProcessor::prepareToPlay(double rate, int /*maximumExpectedSamplesPerBlock*/)
{
    // The host's rate cut to whole Hz; one that is not a number or does not fit counts as 0, an
    // unsupported rate.
    const bool fits = rate > -2147483649.0 && rate < 2147483648.0; // false for NaN
    sampleRate.store(fits ? static_cast<int32_t>(rate) : 0);
    // Hosts line the track up with others by the delay.
    setLatencySamples(latencyAt(sampleRate.load()));
    // Playing starts afresh, as in a new instance.
    reset();
    notifyEditor(&EditorMailbox::sampleRateMessage);
    const auto layout = getBusesLayout();
    stereoOut.store(!layout.outputBuses.isEmpty() && layout.getMainOutputChannelSet().size() >= 2);
}

void CorvaneAudioProcessor::releaseResources() {}

void CorvaneAudioProcessor::reset()
{
    // Hosts call this on any thread, the audio thread between blocks included: the signal states
    // belong to the audio thread, which clears them before its next block.
    resetRequested.store(true);
    inputLevel.store(0.0f, std::memory_order_relaxed);
}

void CorvaneAudioProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& /*midiMessages*/)
{
    // Flush-to-zero for this block; the previous mode is restored on every way out.
    juce::ScopedNoDenormals noDenormals;

    // One entry, and one model of it, from here to the end of the block.
    ModelSource* entry = entries.beginBlock();
    carryOutReset(entry);

    const int n = buffer.getNumSamples();
    if (buffer.getNumChannels() < 1 || n <= 0)
    {
        inputLevel.store(0.0f, std::memory_order_relaxed);
        entries.endBlock();
        return;
    }
    // The dry input goes on in the bypass delay, for a switch to bypass without a gap.
    const int delayed = delayedChannels(buffer);
    for (int channel = 0; channel < delayed; channel++)
        bypassDelays[static_cast<size_t>(channel)].record(buffer.getReadPointer(channel), n);

    float* ch0 = buffer.getWritePointer(0);
    float* ch1 = stereoOut.load(std::memory_order_relaxed) && buffer.getNumChannels() >= 2 ? buffer.getWritePointer(1) : nullptr;

    const float gainIn = ferrowick::parameterToGain(gainInParameter->get());
    const float gainOut = ferrowick::parameterToGain(gainOutParameter->get());

    ferrowick::applyGain(ch0, n, gainIn);
    const float level = ferrowick::rmsLevel(ch0, n);
    inputLevel.store(std::isfinite(level) ? level : 0.0f, std::memory_order_relaxed);

    if (entry != nullptr && runModel(*entry, ch0, n, gainIn, gainOut))
    {
        if (ch1 != nullptr)
            std::copy(ch0, ch0 + n, ch1);
    }
    else
    {
        writeSilence(ch0, ch1, n);
    }
    entries.endBlock();
}

void CorvaneAudioProcessor::processBlockBypassed(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& /*midiMessages*/)
{
    // A reset asked for while bypassed applies here too, so that playing after it starts afresh.
    carryOutReset(entries.beginBlock());
    entries.endBlock();
    // Nothing is measured while bypassed.
    inputLevel.store(0.0f, std::memory_order_relaxed);

    const int n = buffer.getNumSamples();
    const int channels = buffer.getNumChannels();
    if (channels < 1 || n <= 0)
        return;
    const int delayed = delayedChannels(buffer);
    for (int channel = 0; channel < delayed; channel++)
        bypassDelays[static_cast<size_t>(channel)].process(buffer.getWritePointer(channel), n);
    // Outputs without an input of their own: the second one copies the first, as when processing.
    for (int channel = delayed; channel < channels; channel++)
    {
        if (channel == 1 && stereoOut.load(std::memory_order_relaxed))
            buffer.copyFrom(1, 0, buffer, 0, 0, n);
        else
            buffer.clear(channel, 0, n);
    }
}

int CorvaneAudioProcessor::delayedChannels(const juce::AudioBuffer<float>& buffer) const
{
    return std::clamp(std::min(getTotalNumInputChannels(), buffer.getNumChannels()), 1, static_cast<int>(bypassDelays.size()));
}

void CorvaneAudioProcessor::carryOutReset(ModelSource* entry)
{
    if (entry == nullptr || !resetRequested.exchange(false))
        return;
    auto state = chainState();
    ferrowick::LoadedModel* active = entry->active();
    modelChain.reset(state, active != nullptr ? active->model.get() : nullptr);
    if (active != nullptr)
        active->faulted.store(false, std::memory_order_relaxed);
    // The rate's latency, which prepareToPlay reports before it asks for the reset (read from the
    // atomic rate: a host may prepare again while blocks run).
    for (auto& line : bypassDelays)
        line.reset(latencyAt(sampleRate.load(std::memory_order_relaxed)));
}

ferrowick::ChainState CorvaneAudioProcessor::chainState()
{
    return { lowpassFilter, bassBoostFilter, bassCutFilter, dcBlocker, decimatorHistory, interpolatorHistory };
}

bool CorvaneAudioProcessor::runModel(ModelSource& entry, float* samples, int n, float gainIn, float gainOut)
{
    ferrowick::applyGain(samples, n, gainIn * ferrowick::dbToGain(entry.GainAdjust));

    // Other rates are silent, and a pending model waits for a supported one.
    const int32_t rate = sampleRate.load(std::memory_order_relaxed);
    if (rate != 48000 && rate != 96000)
        return false;

    ferrowick::LoadedModel* loaded = entry.takeOver();
    if (loaded == nullptr || loaded->faulted.load(std::memory_order_relaxed))
        return false;

    auto state = chainState();
    const ferrowick::ToneSwitches tone { entry.Lowpass, entry.BassBoost, entry.BassCut };
    if (!modelChain.processBlock(samples, n, rate, *loaded->model, loaded->loudnessGain, tone, state, gainOut))
    {
        // The model threw: this block is silent and the model is not run again.
        loaded->faulted.store(true, std::memory_order_relaxed);
        return false;
    }
    return true;
}

double CorvaneAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool CorvaneAudioProcessor::acceptsMidi() const { return false; }
bool CorvaneAudioProcessor::producesMidi() const { return false; }
bool CorvaneAudioProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorEditor* CorvaneAudioProcessor::createEditor()
{
    return createPluginWindow(*this);
}

bool CorvaneAudioProcessor::hasEditor() const { return true; }
int CorvaneAudioProcessor::getNumPrograms() { return 1; }
int CorvaneAudioProcessor::getCurrentProgram() { return 0; }
void CorvaneAudioProcessor::setCurrentProgram(int /*index*/) {}
const juce::String CorvaneAudioProcessor::getProgramName(int /*index*/) { return programName; }
void CorvaneAudioProcessor::changeProgramName(int /*index*/, const juce::String& /*newName*/) {}

void CorvaneAudioProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    // The parameter tree plus the current model id and snapshot index.
    const auto [id, index] = currentChoice();
    auto xml = valueTreeState.copyState().createXml();
    xml->createNewChildElement("ModelId")->addTextElement(id);
    xml->createNewChildElement("ProgramIndex")->addTextElement(juce::String(index));
    copyXmlToBinary(*xml, destData);
}

void CorvaneAudioProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    auto xml = readStateBlock(data, sizeInBytes);
    if (xml == nullptr)
        return;

    auto childNamed = [&xml](const char* tag) -> juce::XmlElement* {
        for (auto* child : xml->getChildIterator())
            if (child->getTagName().equalsIgnoreCase(tag))
                return child;
        return nullptr;
    };
    auto* idElement = childNamed("ModelId");
    auto* indexElement = childNamed("ProgramIndex");
    const bool haveChoice = idElement != nullptr && indexElement != nullptr;
    const juce::String id = idElement != nullptr ? idElement->getAllSubText() : juce::String();
    const int index = indexElement != nullptr ? decimalIndex(indexElement->getAllSubText()) : 0;
    if (idElement != nullptr)
        xml->removeChildElement(idElement, true);
    if (indexElement != nullptr)
        xml->removeChildElement(indexElement, true);

    if (xml->getTagName().equalsIgnoreCase(valueTreeState.state.getType().toString()))
        valueTreeState.replaceState(juce::ValueTree::fromXml(*xml));

    // A block without the model choice restores the parameters and keeps the model.
    if (haveChoice)
        setModel(id, index);
}

bool CorvaneAudioProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    const int in = layouts.inputBuses.isEmpty() ? 0 : layouts.getMainInputChannels();
    if (layouts.outputBuses.isEmpty())
        return false;
    const int out = layouts.getMainOutputChannels();
    return (in == 1 && (out == 1 || out == 2)) || (in == 2 && out == 2);
}

void CorvaneAudioProcessor::parameterValueChanged(int /*parameterIndex*/, float /*newValue*/) {}
void CorvaneAudioProcessor::parameterGestureChanged(int /*parameterIndex*/, bool /*gestureIsStarting*/) {}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new CorvaneAudioProcessor();
}
