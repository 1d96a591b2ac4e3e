#include "plugin/Parameters.h"

juce::String gainValueText(float value, int /*maximumStringLength*/)
{
    const double db = static_cast<double>(value) * 60.0 - 40.0;
    return juce::String(db, 1) + " dB";
}

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout(juce::AudioProcessorParameter::Listener& listener)
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;
    const char* const names[] = { "Gain In", "Gain Out" };

    for (size_t i = 0; i < ParameterIds.size(); ++i)
    {
        auto parameter = std::make_unique<juce::AudioParameterFloat>(
            juce::ParameterID { ParameterIds[i], 1 }, names[i],
            juce::NormalisableRange<float>(0.0f, 1.0f, 0.0001f, 1.0f), GainDefaultValue,
            juce::AudioParameterFloatAttributes().withStringFromValueFunction(gainValueText));
        parameter->addListener(&listener);
        layout.add(std::move(parameter));
    }
    return layout;
}
