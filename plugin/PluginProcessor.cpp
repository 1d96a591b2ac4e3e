#include "plugin/PluginProcessor.h"

#include <cmath>
#include <exception>
#include <stdexcept>

#include "core/get_dsp.h"
#include "core/model_file.h"
#include "plugin/Parameters.h"
#include "plugin/PluginSettings.h"

namespace
{
constexpr int BiquadPeak = 6;

void setUpBassFilter(Biquad& filter, float sampleRate, float gainDb)
{
    filter = Biquad {};
    filter.sampleRate = sampleRate;
    filter.samplePeriod = 1.0f / sampleRate;
    filter.type = BiquadPeak;
    filter.frequency = 120.0f;
    filter.gainDb = gainDb;
    filter.q = 0.5f;
    filter.Update();
}

// 10^((-10 - loudness) * 0.05) from the model file's metadata. A file without a numeric
// "loudness" is refused before its model is published.
float loudnessGainOf(const kep::dspData& data)
{
    const auto& metadata = data.metadata;
    if (!metadata.is_object() || !metadata.contains("loudness") || !metadata["loudness"].is_number())
        throw std::runtime_error("Model file has no numeric \"loudness\" in its metadata.");
    const float loudness = metadata["loudness"].get<float>();
    return std::pow(10.0f, (-10.0f - loudness) * 0.05f);
}
} // namespace

CorvaneAudioProcessor::CorvaneAudioProcessor()
    : AudioProcessor(BusesProperties()
                         .withInput("Input", juce::AudioChannelSet::stereo(), true)
                         .withOutput("Output", juce::AudioChannelSet::stereo(), true)),
      valueTreeState(*this, nullptr, "Ferrowick", createParameterLayout(*this))
{
    PluginSettings::Load();

    sampleRate = 48000;
    stereoOut = true;
    lowpassFilter = OnePoleLowpass {};
    dcBlocker = DcBlocker {};
    setUpBassFilter(bassCutFilter, 48000.0f, -3.0f);
    setUpBassFilter(bassBoostFilter, static_cast<float>(sampleRate), 3.0f);

    const auto ids = ModelSource::getModelIds();
    if (ids.isEmpty())
        setModel({}, 0);
    else if (ids.contains(PluginSettings::settings.LastSelectedModelId))
        setModel(PluginSettings::settings.LastSelectedModelId, PluginSettings::settings.LastSelectedModelIdx);
    else
        setModel(ids[0], 0);
}

CorvaneAudioProcessor::~CorvaneAudioProcessor() = default;

void CorvaneAudioProcessor::setModel(juce::String id, int index)
{
    if (id.isEmpty() && modelSource != nullptr && modelSource->ModelId.isNotEmpty())
        return;

    modelSource = std::make_shared<ModelSource>(ModelSource::loadModel(id));
    // The editor's table is refreshed here once the plug-in window exists.
    setProgram(index);
}

void CorvaneAudioProcessor::setProgram(int index)
{
    const auto entry = modelSource;
    if (entry == nullptr || index < 0 || index == entry->ProgramIndex || index >= entry->getNumRows())
        return;

    entry->ProgramIndex = index;
    const auto folder = ModelSource::getPluginResourceDir() + "/" + "Models" + "/" + entry->ModelId;
    const auto stem = ModelSource::paddedIndex(index);

    const juce::File modelFile(folder + "/" + "models" + "/" + stem + ".kep");
    if (modelFile.existsAsFile())
    {
        try
        {
            auto data = kep::read_config_file(modelFile.getFullPathName().toStdString());
            std::shared_ptr<kep::DSP> model = kep::get_dsp(data);
            const float loudnessGain = loudnessGainOf(data);
            entry->PendingModel = std::move(model);
            entry->LoudnessGain = loudnessGain;
            modelLoadError.clear();
        }
        catch (const std::exception& error)
        {
            // Nothing was published: the entry keeps its models and gain, and the picture stays.
            modelLoadError = error.what();
            return;
        }
    }

    const juce::File pictureFile(folder + "/" + "images" + "/" + stem + ".jpg");
    juce::Image picture;
    if (pictureFile.existsAsFile())
        picture = juce::ImageFileFormat::loadFrom(pictureFile);
    else
        picture = juce::Image(juce::Image::ARGB, 1, 1, true);
    modelPicture = std::make_unique<juce::Image>(picture);

    // Components belong to the message thread; a load on another thread (host state restore)
    // leaves the repaint to the editor's own refresh.
    if (juce::MessageManager::existsAndIsCurrentThread())
        if (auto* editor = getActiveEditor())
            editor->repaint();
}

const juce::String CorvaneAudioProcessor::getName() const
{
    return "Ferrowick";
}

void CorvaneAudioProcessor::prepareToPlay(double rate, int /*maximumExpectedSamplesPerBlock*/)
{
    sampleRate = static_cast<int32_t>(rate);
    const auto output = getBusesLayout().getMainOutputChannelSet();
    stereoOut = !getBusesLayout().outputBuses.isEmpty() && output.size() >= 2;
}

void CorvaneAudioProcessor::releaseResources() {}

void CorvaneAudioProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& /*midiMessages*/)
{
    // PLACEHOLDER: the audio path (gains, model, loudness, tone filters, 96 kHz resampling)
    // replaces this. Until then every block is silent. No lock, no allocation here.
    juce::ScopedNoDenormals noDenormals;
    buffer.clear();
}

double CorvaneAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool CorvaneAudioProcessor::acceptsMidi() const { return false; }
bool CorvaneAudioProcessor::producesMidi() const { return false; }
bool CorvaneAudioProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorEditor* CorvaneAudioProcessor::createEditor()
{
    // Stand-in until the plug-in window lands.
    return new juce::GenericAudioProcessorEditor(*this);
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
    // (Reading the entry safely against a concurrent model change comes with the thread-safe
    // entry exchange.)
    const auto entry = modelSource;
    auto xml = valueTreeState.copyState().createXml();
    xml->createNewChildElement("ModelId")->addTextElement(entry->ModelId);
    xml->createNewChildElement("ProgramIndex")->addTextElement(juce::String(entry->ProgramIndex));
    copyXmlToBinary(*xml, destData);
}

void CorvaneAudioProcessor::setStateInformation(const void* /*data*/, int /*sizeInBytes*/)
{
    // PLACEHOLDER: restoring the host state lands with its own change; until then a restore
    // keeps the instance as it is.
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
