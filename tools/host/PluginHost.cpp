#include "PluginHost.h"

namespace ferrowick_host
{

LoadedPlugin loadVst3Bundle(const juce::File& bundle, double sampleRate, int blockSize, juce::String& error)
{
    LoadedPlugin loaded;
    if (!bundle.isDirectory())
    {
        error = "no VST3 bundle folder at " + bundle.getFullPathName();
        return loaded;
    }

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile(found, bundle.getFullPathName());
    if (found.isEmpty())
    {
        error = "the bundle holds no plug-in: " + bundle.getFullPathName();
        return loaded;
    }

    loaded.description = *found.getFirst();
    loaded.instance = format.createInstanceFromDescription(loaded.description, sampleRate, blockSize, error);
    if (loaded.instance == nullptr && error.isEmpty())
        error = "the plug-in could not be instantiated";
    return loaded;
}

juce::MemoryBlock readComponentState(juce::AudioPluginInstance& plugin)
{
    juce::MemoryBlock hostState;
    plugin.getStateInformation(hostState);
    const auto wrapper = juce::AudioProcessor::getXmlFromBinary(hostState.getData(), static_cast<int>(hostState.getSize()));
    juce::MemoryBlock block;
    if (wrapper == nullptr || wrapper->getChildByName("IComponent") == nullptr
        || !block.fromBase64Encoding(wrapper->getChildByName("IComponent")->getAllSubText()))
        return {};
    return block;
}

void writeComponentState(juce::AudioPluginInstance& plugin, const juce::MemoryBlock& bytes, bool toController)
{
    juce::XmlElement wrapper("VST3PluginState");
    wrapper.createNewChildElement("IComponent")->addTextElement(bytes.toBase64Encoding());
    if (toController)
        wrapper.createNewChildElement("IEditController")->addTextElement(bytes.toBase64Encoding());
    juce::MemoryBlock hostState;
    juce::AudioProcessor::copyXmlToBinary(wrapper, hostState);
    plugin.setStateInformation(hostState.getData(), static_cast<int>(hostState.getSize()));
}

std::unique_ptr<juce::XmlElement> readPluginState(juce::AudioPluginInstance& plugin)
{
    const auto block = readComponentState(plugin);
    return juce::AudioProcessor::getXmlFromBinary(block.getData(), static_cast<int>(block.getSize()));
}

void writePluginState(juce::AudioPluginInstance& plugin, const juce::XmlElement& state)
{
    juce::MemoryBlock block;
    juce::AudioProcessor::copyXmlToBinary(state, block);
    writeComponentState(plugin, block);
}

namespace
{
juce::String childText(const juce::XmlElement& state, const char* tag)
{
    const auto* child = state.getChildByName(tag);
    return child != nullptr ? child->getAllSubText() : juce::String("<none>");
}

void setChildText(juce::XmlElement& state, const char* tag, const juce::String& text)
{
    if (auto* old = state.getChildByName(tag))
        state.removeChildElement(old, true);
    state.createNewChildElement(tag)->addTextElement(text);
}
} // namespace

juce::String stateModelId(const juce::XmlElement& state)
{
    return childText(state, "ModelId");
}

juce::String stateProgramIndex(const juce::XmlElement& state)
{
    return childText(state, "ProgramIndex");
}

std::unique_ptr<juce::XmlElement> withModelChoice(const juce::XmlElement& state, const juce::String& modelId,
                                                  int programIndex)
{
    auto result = std::make_unique<juce::XmlElement>(state);
    setChildText(*result, "ModelId", modelId);
    setChildText(*result, "ProgramIndex", juce::String(programIndex));
    return result;
}

} // namespace ferrowick_host
