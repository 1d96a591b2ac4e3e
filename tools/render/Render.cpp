#include "Render.h"

#include <cmath>
#include <vector>

namespace juce
{
// The framework's own step of its message loop (defined in juce_events).
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace ferrowick_render
{

juce::AudioBuffer<float> makePluckedChord(double sampleRate, double seconds)
{
    const int length = juce::jmax(1, static_cast<int>(std::lround(sampleRate * seconds)));
    juce::AudioBuffer<float> out(1, length);
    out.clear();
    auto* samples = out.getWritePointer(0);

    // An open E major chord, strummed downwards over 90 ms.
    const double strings[] = { 82.41, 123.47, 164.81, 207.65, 246.94, 329.63 };
    juce::Random random(0x5eed);
    for (int s = 0; s < 6; ++s)
    {
        const int period = juce::jmax(2, static_cast<int>(std::lround(sampleRate / strings[s])));
        const int start = static_cast<int>(sampleRate * 0.018 * s);
        // Excitation: a burst of noise, softened so the attack is a pick rather than a click.
        std::vector<float> line(static_cast<size_t>(period));
        float previous = 0.0f;
        for (auto& v : line)
        {
            previous = 0.5f * previous + 0.5f * (random.nextFloat() * 2.0f - 1.0f);
            v = previous;
        }
        // Energy loss per round trip such that every string fades over a few seconds.
        const float loss = static_cast<float>(std::pow(0.001, 1.0 / (3.5 * sampleRate / period)));
        const float gain = 1.0f - 0.08f * static_cast<float>(s);
        size_t k = 0;
        for (int i = start; i < length; ++i)
        {
            const size_t next = (k + 1) % line.size();
            const float y = loss * 0.5f * (line[k] + line[next]);
            samples[i] += gain * line[k];
            line[k] = y;
            k = next;
        }
    }

    const float peak = out.getMagnitude(0, 0, length);
    if (peak > 0.0f)
        out.applyGain(0.5f / peak);
    return out;
}

Levels measure(const juce::AudioBuffer<float>& buffer)
{
    Levels levels;
    double sum = 0.0;
    long long count = 0;
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        const auto* samples = buffer.getReadPointer(ch);
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float x = samples[i];
            if (!std::isfinite(x))
            {
                levels.finite = false;
                continue;
            }
            sum += static_cast<double>(x) * x;
            levels.peak = juce::jmax(levels.peak, std::abs(x));
            ++count;
        }
    }
    levels.rms = count > 0 ? static_cast<float>(std::sqrt(sum / static_cast<double>(count))) : 0.0f;
    return levels;
}

juce::String dbfs(float level)
{
    if (!(level > 0.0f))
        return "-inf";
    return juce::String(20.0 * std::log10(static_cast<double>(level)), 1);
}

namespace
{
juce::AudioProcessor::BusesLayout layoutOf(const juce::AudioChannelSet& in, const juce::AudioChannelSet& out)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(in);
    layout.outputBuses.add(out);
    return layout;
}
} // namespace

int prepareMonoIn(juce::AudioPluginInstance& plugin, double sampleRate, int blockSize)
{
    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    if (!plugin.setBusesLayout(layoutOf(mono, stereo)))
        plugin.setBusesLayout(layoutOf(stereo, stereo));
    if (plugin.getTotalNumInputChannels() < 1 || plugin.getTotalNumOutputChannels() < 1)
        return 0;
    plugin.setRateAndBufferSizeDetails(sampleRate, blockSize);
    plugin.prepareToPlay(sampleRate, blockSize);
    return plugin.getTotalNumOutputChannels();
}

juce::AudioBuffer<float> renderThrough(juce::AudioPluginInstance& plugin, const juce::AudioBuffer<float>& monoInput,
                                       int blockSize)
{
    const int length = monoInput.getNumSamples();
    const int outputs = plugin.getTotalNumOutputChannels();
    const int channels = juce::jmax(plugin.getTotalNumInputChannels(), outputs);
    juce::AudioBuffer<float> out(outputs, length);
    juce::AudioBuffer<float> block(channels, blockSize);
    juce::MidiBuffer midi;

    for (int position = 0; position < length; position += blockSize)
    {
        const int n = juce::jmin(blockSize, length - position);
        block.clear();
        block.copyFrom(0, 0, monoInput, 0, position, n);
        // The last block may be shorter: hand the plug-in a view of exactly n samples.
        juce::AudioBuffer<float> view(block.getArrayOfWritePointers(), channels, n);
        midi.clear();
        plugin.processBlock(view, midi);
        for (int ch = 0; ch < outputs; ++ch)
            out.copyFrom(ch, position, view, ch, 0, n);
    }
    return out;
}

int reportedLatency(juce::AudioPluginInstance& plugin)
{
    // A plug-in announces a latency set while it is prepared through the VST3 restart call, which
    // reaches the host's instance through the message loop.
    const auto end = juce::Time::getMillisecondCounter() + 200;
    while (juce::Time::getMillisecondCounter() < end)
        if (!juce::dispatchNextMessageOnSystemQueue(true))
            juce::Thread::sleep(1);
    return plugin.getLatencySamples();
}

} // namespace ferrowick_render
