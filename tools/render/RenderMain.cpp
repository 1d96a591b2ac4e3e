// ferrowick_render: loads a VST3 bundle into the framework's VST3 hosting, runs a signal through
// it at one or more sample rates and writes one WAV file per rate.
//
//   ferrowick_render BUNDLE.vst3 --out DIR [--in INPUT.wav | --silence] [--rates 48000,96000] [--seconds S]
//                    [--block N] [--model ID] [--snapshot K] [--gain-in DB] [--gain-out DB]
//
// Without --in the signal is a generated plucked chord (3 s), or with --silence as many seconds
// of digital silence. --model and --snapshot choose the model the way a host restores a project
// (a state naming them); without them the plug-in plays what it picks at start-up. --gain-in and
// --gain-out set the gain parameters (-40 to +20 dB, default 0 dB). Prints what it loaded and, per
// rate, the input and output levels.
// Exit code: 0 when every output was written and finite; 1 when loading, the model choice,
// reading or writing failed or an output held a NaN or infinity; 2 for a usage error.
#include <cmath>
#include <iostream>
#include <memory>

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "PluginHost.h"
#include "Render.h"

namespace
{
struct Options
{
    juce::File bundle;
    juce::File outDir;
    juce::File input;
    bool silence = false;
    juce::Array<int> rates { 48000, 96000 };
    double seconds = 3.0;
    int block = 512;
    juce::String model;
    int snapshot = -1;
    juce::String gainIn, gainOut; // dB as given, empty when not given
};

constexpr const char* usage =
    "usage: ferrowick_render BUNDLE.vst3 --out DIR [--in INPUT.wav | --silence] [--rates 48000,96000] [--seconds S]\n"
    "                        [--block N] [--model ID] [--snapshot K] [--gain-in DB] [--gain-out DB]";

bool parse(int argc, char** argv, Options& options, juce::String& error)
{
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    for (int i = 1; i < argc; ++i)
    {
        const juce::String arg(argv[i]);
        auto value = [&]() -> juce::String {
            if (i + 1 >= argc)
            {
                error = arg + " needs a value";
                return {};
            }
            return juce::String(argv[++i]);
        };

        if (arg == "--out")
            options.outDir = cwd.getChildFile(value());
        else if (arg == "--in")
            options.input = cwd.getChildFile(value());
        else if (arg == "--silence")
            options.silence = true;
        else if (arg == "--rates")
        {
            options.rates.clear();
            for (const auto& token : juce::StringArray::fromTokens(value(), ",", ""))
            {
                const int rate = token.trim().getIntValue();
                if (rate < 8000 || rate > 768000 || !token.trim().containsOnly("0123456789"))
                {
                    error = "not a sample rate: " + token;
                    return false;
                }
                options.rates.add(rate);
            }
        }
        else if (arg == "--seconds")
        {
            options.seconds = value().getDoubleValue();
            if (!(options.seconds > 0.0 && options.seconds <= 600.0))
            {
                error = "--seconds must be above 0 and at most 600";
                return false;
            }
        }
        else if (arg == "--block")
        {
            options.block = value().getIntValue();
            if (options.block < 1 || options.block > 65536)
            {
                error = "--block must be 1 to 65536";
                return false;
            }
        }
        else if (arg == "--model")
            options.model = value();
        else if (arg == "--snapshot")
        {
            const auto text = value();
            options.snapshot = text.getIntValue();
            if (text.isEmpty() || !text.containsOnly("0123456789"))
            {
                error = "--snapshot must be a snapshot index (0, 1, ...)";
                return false;
            }
        }
        else if (arg == "--gain-in" || arg == "--gain-out")
        {
            const auto text = value().trim();
            const double db = text.getDoubleValue();
            if (text.isEmpty() || !text.containsOnly("+-.0123456789") || db < -40.0 || db > 20.0)
            {
                error = arg + " takes a gain in dB from -40 to 20";
                return false;
            }
            (arg == "--gain-in" ? options.gainIn : options.gainOut) = text;
        }
        else if (arg.startsWith("--"))
            error = "unknown option " + arg;
        else if (options.bundle == juce::File())
            options.bundle = cwd.getChildFile(arg);
        else
            error = "more than one bundle given: " + arg;

        if (error.isNotEmpty())
            return false;
    }
    if (options.bundle == juce::File())
        error = "no bundle given";
    else if (options.outDir == juce::File())
        error = "no output folder given (--out DIR)";
    else if (options.rates.isEmpty())
        error = "no sample rate given";
    else if (options.silence && options.input != juce::File())
        error = "--in and --silence exclude each other";
    return error.isEmpty();
}

bool readInput(const juce::File& file, double seconds, bool limit, juce::AudioBuffer<float>& mono, double& rate,
               juce::String& error)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader(formats.createReaderFor(file));
    if (reader == nullptr)
    {
        error = "cannot read audio from " + file.getFullPathName();
        return false;
    }
    rate = reader->sampleRate;
    auto length = reader->lengthInSamples;
    if (limit)
        length = juce::jmin(length, static_cast<juce::int64>(seconds * rate));
    if (length <= 0 || length > (1 << 28))
    {
        error = "the input holds no usable audio (" + juce::String(length) + " samples)";
        return false;
    }
    const int channels = static_cast<int>(reader->numChannels);
    juce::AudioBuffer<float> all(channels, static_cast<int>(length));
    reader->read(&all, 0, static_cast<int>(length), 0, true, true);
    // The plug-in plays its input channel 0; a multi-channel file is mixed down to mono.
    mono.setSize(1, static_cast<int>(length));
    mono.clear();
    for (int ch = 0; ch < channels; ++ch)
        mono.addFrom(0, 0, all, ch, 0, static_cast<int>(length), 1.0f / static_cast<float>(channels));
    if (channels > 1)
        std::cout << "input: " << channels << " channels mixed down to mono" << std::endl;
    return true;
}

bool writeWav(const juce::File& file, const juce::AudioBuffer<float>& audio, double rate, juce::String& error)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    if (!stream->openedOk())
    {
        error = "cannot write " + file.getFullPathName();
        return false;
    }
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.get(), rate, static_cast<unsigned int>(audio.getNumChannels()), 32, {}, 0));
    if (writer == nullptr)
    {
        error = "cannot write a 32-bit float WAV file at " + juce::String(rate) + " Hz";
        return false;
    }
    stream.release(); // the writer owns the stream now
    if (!writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples()))
    {
        error = "writing " + file.getFullPathName() + " failed";
        return false;
    }
    return true;
}

// Sets a gain parameter ("Gain In" or "Gain Out", -40 to +20 dB over 0..1) from dB text.
bool setGain(juce::AudioPluginInstance& plugin, const juce::String& name, const juce::String& db, juce::String& error)
{
    if (db.isEmpty())
        return true;
    for (auto* parameter : plugin.getParameters())
        if (parameter->getName(100) == name)
        {
            parameter->setValue(static_cast<float>((db.getDoubleValue() + 40.0) / 60.0));
            return true;
        }
    error = "the plug-in has no parameter \"" + name + "\"";
    return false;
}

juce::String gainTexts(juce::AudioPluginInstance& plugin)
{
    juce::StringArray texts;
    for (auto* parameter : plugin.getParameters())
    {
        const auto name = parameter->getName(100);
        if (name.startsWith("Gain"))
            texts.add(name + " " + parameter->getCurrentValueAsText());
    }
    return texts.joinIntoString(", ");
}

// Restores a state naming the chosen model and snapshot, then reads the state back. False when
// the plug-in did not take the choice.
bool chooseModel(juce::AudioPluginInstance& plugin, const Options& options, juce::String& error)
{
    if (options.model.isEmpty() && options.snapshot < 0)
        return true;
    const auto state = ferrowick_host::readPluginState(plugin);
    if (state == nullptr)
    {
        error = "the plug-in's state cannot be read";
        return false;
    }
    const auto model = options.model.isNotEmpty() ? options.model : ferrowick_host::stateModelId(*state);
    const int snapshot = juce::jmax(0, options.snapshot);
    ferrowick_host::writePluginState(plugin, *ferrowick_host::withModelChoice(*state, model, snapshot));

    const auto after = ferrowick_host::readPluginState(plugin);
    if (after == nullptr || ferrowick_host::stateModelId(*after) != model
        || ferrowick_host::stateProgramIndex(*after) != juce::String(snapshot))
    {
        error = "the plug-in did not take model \"" + model + "\" snapshot " + juce::String(snapshot)
                + (after != nullptr ? " (its state names \"" + ferrowick_host::stateModelId(*after) + "\" snapshot "
                                          + ferrowick_host::stateProgramIndex(*after) + ")"
                                    : juce::String());
        return false;
    }
    return true;
}

int run(const Options& options)
{
    juce::AudioBuffer<float> fileInput;
    double fileRate = 0.0;
    if (options.input != juce::File())
    {
        juce::String error;
        const bool limit = options.seconds != Options {}.seconds;
        if (!readInput(options.input, options.seconds, limit, fileInput, fileRate, error))
        {
            std::cerr << "error: " << error << std::endl;
            return 1;
        }
    }
    if (!options.outDir.createDirectory())
    {
        std::cerr << "error: cannot create " << options.outDir.getFullPathName() << std::endl;
        return 1;
    }

    bool ok = true;
    bool reported = false;
    for (const int rate : options.rates)
    {
        // A fresh instance per rate, so every file starts from the plug-in's start-up state.
        juce::String error;
        auto loaded = ferrowick_host::loadVst3Bundle(options.bundle, rate, options.block, error);
        if (loaded.instance == nullptr)
        {
            std::cerr << "error: loading " << options.bundle.getFullPathName() << " failed: " << error << std::endl;
            return 1;
        }
        auto& plugin = *loaded.instance;
        if (!chooseModel(plugin, options, error) || !setGain(plugin, "Gain In", options.gainIn, error)
            || !setGain(plugin, "Gain Out", options.gainOut, error))
        {
            std::cerr << "error: " << error << std::endl;
            return 1;
        }

        if (!reported)
        {
            const auto& d = loaded.description;
            std::cout << "loaded: " << d.name << " " << d.version << " by " << d.manufacturerName << " ("
                      << d.pluginFormatName << ", " << d.category << ") from " << options.bundle.getFullPathName()
                      << std::endl;
            const auto state = ferrowick_host::readPluginState(plugin);
            if (state != nullptr)
                std::cout << "model: " << ferrowick_host::stateModelId(*state).quoted() << ", snapshot "
                          << ferrowick_host::stateProgramIndex(*state) << std::endl;
            else
                std::cout << "model: unknown (the plug-in's state cannot be read)" << std::endl;
            std::cout << "parameters: " << gainTexts(plugin) << std::endl;
            reported = true;
        }

        const int outputs = ferrowick_render::prepareMonoIn(plugin, rate, options.block);
        if (outputs == 0)
        {
            std::cerr << "error: the plug-in accepts no layout with an input and an output" << std::endl;
            return 1;
        }

        const int latency = ferrowick_render::reportedLatency(plugin);

        juce::AudioBuffer<float> input;
        if (options.input != juce::File())
        {
            input.makeCopyOf(fileInput);
            if (static_cast<int>(fileRate) != rate)
                std::cout << "note: " << options.input.getFileName() << " is at " << fileRate << " Hz; played as is at "
                          << rate << " Hz (not resampled)" << std::endl;
        }
        else if (options.silence)
        {
            input.setSize(1, juce::jmax(1, static_cast<int>(std::lround(rate * options.seconds))));
            input.clear();
        }
        else
            input = ferrowick_render::makePluckedChord(rate, options.seconds);

        const auto output = ferrowick_render::renderThrough(plugin, input, options.block);
        plugin.releaseResources();

        const auto in = ferrowick_render::measure(input);
        const auto out = ferrowick_render::measure(output);
        const auto file = options.outDir.getChildFile("ferrowick-" + juce::String(rate) + ".wav");
        const bool written = writeWav(file, output, rate, error);

        std::cout << rate << " Hz, block " << options.block << ", " << input.getNumSamples() << " samples, latency "
                  << latency << " samples:" << std::endl
                  << "  in   RMS " << ferrowick_render::dbfs(in.rms) << " dBFS, peak " << ferrowick_render::dbfs(in.peak)
                  << " dBFS" << (in.finite ? "" : ", NaN or infinity in the input") << std::endl
                  << "  out  RMS " << ferrowick_render::dbfs(out.rms) << " dBFS, peak "
                  << ferrowick_render::dbfs(out.peak) << " dBFS, " << output.getNumChannels() << " channel(s), "
                  << (out.finite ? "every sample finite" : "NOT FINITE (NaN or infinity in the output)")
                  << (out.peak == 0.0f && out.finite ? ", silent" : "") << std::endl;
        if (written)
            std::cout << "  wrote " << file.getFullPathName() << std::endl;
        else
            std::cerr << "error: " << error << std::endl;
        ok = ok && written && out.finite;
    }
    return ok ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    juce::String error;
    if (!parse(argc, argv, options, error))
    {
        std::cerr << "error: " << error << "\n" << usage << std::endl;
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI framework;
    return run(options);
}
