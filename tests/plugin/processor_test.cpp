#include <cmath>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include <zlib.h>

#include "plugin/CatalogueFile.h"
#include "plugin/Parameters.h"
#include "plugin/PluginProcessor.h"
#include "plugin_test_util.h"

namespace
{
using Processor = plugin_testing::FreshHome;
using Layout = juce::AudioProcessor::BusesLayout;

juce::AudioParameterFloat& gainParameter(CorvaneAudioProcessor& processor, const char* id)
{
    auto* parameter = dynamic_cast<juce::AudioParameterFloat*>(processor.valueTreeState.getParameter(id));
    EXPECT_NE(parameter, nullptr) << id;
    return *parameter;
}

Layout layout(std::initializer_list<juce::AudioChannelSet> inputs, std::initializer_list<juce::AudioChannelSet> outputs)
{
    Layout result;
    result.inputBuses.addArray(inputs);
    result.outputBuses.addArray(outputs);
    return result;
}

void chooseLast(const juce::String& id, int index)
{
    PluginSettings::Update([&](PluginSettings& s) {
        s.LastSelectedModelId = id;
        s.LastSelectedModelIdx = index;
    });
}

TEST_F(Processor, GainParameters)
{
    CorvaneAudioProcessor processor;
    const auto& parameters = processor.getParameters();
    ASSERT_EQ(parameters.size(), 2);
    const char* names[] = { "Gain In", "Gain Out" };

    for (int i = 0; i < 2; ++i)
    {
        auto* parameter = dynamic_cast<juce::AudioParameterFloat*>(parameters[i]);
        ASSERT_NE(parameter, nullptr);
        juce::AudioProcessorParameter& base = *parameter;
        EXPECT_EQ(parameter->getParameterID(), ParameterIds[static_cast<size_t>(i)]);
        EXPECT_EQ(parameter->getVersionHint(), 1);
        EXPECT_EQ(parameter->getName(100), names[i]);
        EXPECT_EQ(parameter->getLabel(), "");
        EXPECT_EQ(parameter->range.start, 0.0f);
        EXPECT_EQ(parameter->range.end, 1.0f);
        EXPECT_EQ(parameter->range.interval, 0.0001f);
        EXPECT_EQ(parameter->range.skew, 1.0f);
        EXPECT_FALSE(parameter->range.symmetricSkew);
        // The parameter starts at exactly 0.666667f (not the float nearest 2/3); the framework
        // reports its default to the host snapped to the 0.0001 step.
        EXPECT_EQ(parameter->get(), 0.66666698455810546875f);
        EXPECT_NE(parameter->get(), 2.0f / 3.0f);
        EXPECT_NEAR(base.getDefaultValue(), 0.6667f, 1e-7f);
        EXPECT_TRUE(parameter->isAutomatable());
        EXPECT_FALSE(parameter->isMetaParameter());
        EXPECT_FALSE(parameter->isOrientationInverted());
        EXPECT_EQ(parameter->getCategory(), juce::AudioProcessorParameter::genericParameter);

        EXPECT_EQ(base.getText(0.0f, 100), "-40.0 dB");
        EXPECT_EQ(base.getText(1.0f, 100), "20.0 dB");
        EXPECT_EQ(base.getText(0.5f, 100), "-10.0 dB");
        EXPECT_EQ(base.getText(base.getDefaultValue(), 3), "0.0 dB");
        EXPECT_EQ(base.getText(0.25f, 100), "-25.0 dB");
    }
    EXPECT_EQ(processor.valueTreeState.state.getType().toString(), "Ferrowick");
    EXPECT_EQ(gainParameter(processor, "GainOut").getParameterIndex(), 1);
}

TEST_F(Processor, IdentityProgramsAndSimpleAnswers)
{
    CorvaneAudioProcessor processor;
    EXPECT_EQ(processor.getName(), "Ferrowick");
    EXPECT_EQ(processor.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE(processor.acceptsMidi());
    EXPECT_FALSE(processor.producesMidi());
    EXPECT_FALSE(processor.isMidiEffect());
    EXPECT_TRUE(processor.hasEditor());
    EXPECT_EQ(processor.getLatencySamples(), 0);

    EXPECT_EQ(processor.getNumPrograms(), 1);
    EXPECT_EQ(processor.getCurrentProgram(), 0);
    processor.setCurrentProgram(3);
    processor.changeProgramName(0, "Renamed");
    EXPECT_EQ(processor.getCurrentProgram(), 0);
    for (int index : { 0, 1, -1, 99 })
        EXPECT_EQ(processor.getProgramName(index), "-----");

    ASSERT_EQ(processor.getBusCount(true), 1);
    ASSERT_EQ(processor.getBusCount(false), 1);
    EXPECT_EQ(processor.getBus(true, 0)->getName(), "Input");
    EXPECT_EQ(processor.getBus(false, 0)->getName(), "Output");
    EXPECT_EQ(processor.getBus(true, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ(processor.getBus(false, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_TRUE(processor.getBus(true, 0)->isEnabledByDefault());
}

TEST_F(Processor, AcceptsMonoToMonoMonoToStereoAndStereoToStereoOnly)
{
    CorvaneAudioProcessor processor;
    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    const auto none = juce::AudioChannelSet::disabled();

    EXPECT_TRUE(processor.isBusesLayoutSupported(layout({ mono }, { mono })));
    EXPECT_TRUE(processor.isBusesLayoutSupported(layout({ mono }, { stereo })));
    EXPECT_TRUE(processor.isBusesLayoutSupported(layout({ stereo }, { stereo })));

    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({ stereo }, { mono })));
    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({ none }, { stereo })));
    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({}, { stereo })));
    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({ mono }, {})));
    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({ mono }, { none })));
    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({ juce::AudioChannelSet::createLCR() }, { stereo })));
    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({ stereo }, { juce::AudioChannelSet::quadraphonic() })));
    EXPECT_FALSE(processor.isBusesLayoutSupported(layout({ mono }, { juce::AudioChannelSet::createLCR() })));

    EXPECT_TRUE(processor.setBusesLayout(layout({ mono }, { stereo })));
    EXPECT_FALSE(processor.setBusesLayout(layout({ stereo }, { mono })));
}

TEST_F(Processor, EmptyCatalogueGivesTheNoModelEntryAndWritesSettings)
{
    CorvaneAudioProcessor processor;
    ASSERT_NE(processor.modelSource, nullptr);
    EXPECT_EQ(processor.modelSource->DeviceName, "No Model");
    EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_EQ(processor.modelPicture, nullptr);
    EXPECT_TRUE(settingsFile().existsAsFile());
    EXPECT_TRUE(resourceDir().getChildFile("Presets").isDirectory());
    EXPECT_FALSE(modelsDir().exists());

    // An empty "Models" folder gives the same.
    modelsDir().createDirectory();
    CorvaneAudioProcessor second;
    EXPECT_EQ(second.modelSource->DeviceName, "No Model");
}

TEST_F(Processor, SingleModelIsChosenWithSnapshotZero)
{
    makeCatalogue("--only LinearClean");
    chooseLast("SomethingElse", 1);
    CorvaneAudioProcessor processor;

    const auto& entry = *processor.modelSource;
    EXPECT_EQ(entry.ModelId, "LinearClean");
    EXPECT_EQ(entry.ProgramIndex, 0);
    ASSERT_NE(entry.PendingModel.load(), nullptr);
    EXPECT_EQ(entry.ActiveModel.load(), nullptr);
    EXPECT_FLOAT_EQ(entry.LoudnessGain, 1.0f); // loudness -10
    EXPECT_FLOAT_EQ(entry.GainAdjust, -3.5f);
    ASSERT_NE(processor.modelPicture, nullptr);
    EXPECT_TRUE(processor.modelPicture->isValid());
    EXPECT_EQ(processor.modelPicture->getWidth(), 48); // the fixture's JPEG decodes
    EXPECT_EQ(processor.modelPicture->getHeight(), 32);
    EXPECT_TRUE(processor.modelLoadError.isEmpty());
}

TEST_F(Processor, LastChosenModelIsTakenWithItsStoredSnapshot)
{
    makeCatalogue();
    chooseLast("LinearClean", 1);
    CorvaneAudioProcessor processor;
    EXPECT_EQ(processor.modelSource->ModelId, "LinearClean");
    EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
    ASSERT_NE(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_NEAR(processor.modelSource->LoudnessGain, std::pow(10.0f, 0.3f), 1e-5f); // loudness -16

    // A second instance starts from the same shared record.
    plugin_testing::changeSettings([](PluginSettings& s) { s.LastSelectedModelIdx = 0; });
    CorvaneAudioProcessor second;
    EXPECT_EQ(second.modelSource->ModelId, "LinearClean");
    EXPECT_EQ(second.modelSource->ProgramIndex, 1); // the file, not the record, decides at construction
}

TEST_F(Processor, GoneOrDifferentlyCasedIdFallsBackToTheFirstFolder)
{
    makeCatalogue();
    const auto first = ModelSource::getModelIds()[0];
    for (const juce::String stored : { "Gone", "linearclean", "LINEARCLEAN", "" })
    {
        chooseLast(stored, 1);
        CorvaneAudioProcessor processor;
        EXPECT_EQ(processor.modelSource->ModelId, first) << stored;
        EXPECT_EQ(processor.modelSource->ProgramIndex, 0) << stored;
    }
}

TEST_F(Processor, StoredSnapshotOutsideTheTableLoadsNothing)
{
    makeCatalogue();
    for (const int index : { 2, 5, -1 })
    {
        chooseLast("LinearClean", index);
        CorvaneAudioProcessor processor;
        EXPECT_EQ(processor.modelSource->ModelId, "LinearClean");
        EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
        EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
        EXPECT_EQ(processor.modelPicture, nullptr);
    }
}

TEST_F(Processor, BrokenModelFileDoesNotFailConstruction)
{
    makeCatalogue("--only WaveHigh");
    chooseLast("WaveHigh", 2);
    std::unique_ptr<CorvaneAudioProcessor> processor;
    ASSERT_NO_THROW(processor = std::make_unique<CorvaneAudioProcessor>());
    EXPECT_EQ(processor->modelSource->ModelId, "WaveHigh");
    EXPECT_EQ(processor->modelSource->ProgramIndex, -1); // nothing plays
    EXPECT_EQ(processor->modelSource->PendingModel.load(), nullptr);
    EXPECT_EQ(processor->modelSource->LoudnessGain, 1.0f);
    EXPECT_EQ(processor->modelPicture, nullptr);
    EXPECT_FALSE(processor->modelLoadError.isEmpty());
}

TEST_F(Processor, ModelFileWithoutLoudnessIsRefusedBeforeItIsPublished)
{
    makeCatalogue("--only LinearClean");
    CorvaneAudioProcessor processor;
    const auto playing = processor.modelSource->PendingModel.load();
    writeResource("Models/LinearClean/models/001.kep",
                  R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": 1, "bias": false},
                      "weights": [1.0], "metadata": {"gain": 3}})");
    processor.setProgram(1);
    EXPECT_EQ(processor.modelSource->ProgramIndex, 0);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), playing);
    EXPECT_FLOAT_EQ(processor.modelSource->LoudnessGain, 1.0f);
    EXPECT_TRUE(processor.modelLoadError.contains("loudness"));

    // A loudness whose gain is infinite, zero or subnormal (750) in single precision is refused the
    // same way.
    for (const char* loudness : { "-1000", "1000", "-1e39", "750" })
    {
        writeResource("Models/LinearClean/models/001.kep",
                      R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": 1, "bias": false},
                          "weights": [1.0], "metadata": {"loudness": )" + juce::String(loudness) + "}}");
        processor.modelLoadError.clear();
        processor.setProgram(1);
        EXPECT_EQ(processor.modelSource->PendingModel.load(), playing) << loudness;
        EXPECT_TRUE(processor.modelLoadError.contains("loudness")) << loudness;
    }
}

TEST_F(Processor, StoredSnapshotWithoutModelFileLeavesTheNewEntryWithoutOne)
{
    makeCatalogue("--only WaveHigh");
    chooseLast("WaveHigh", 1);
    CorvaneAudioProcessor processor;
    EXPECT_EQ(processor.modelSource->ModelId, "WaveHigh");
    EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_EQ(processor.modelPicture, nullptr);
    EXPECT_TRUE(processor.modelLoadError.contains("no model file"));
}

TEST_F(Processor, SetProgramIgnoresCurrentNegativeAndOutOfRangeIndices)
{
    makeCatalogue("--only LinearClean");
    CorvaneAudioProcessor processor;
    auto* picture = processor.modelPicture.get();
    const auto model = processor.modelSource->PendingModel.load();
    for (const int index : { 0, -1, 2, 100 })
    {
        processor.setProgram(index);
        EXPECT_EQ(processor.modelSource->ProgramIndex, 0);
        EXPECT_EQ(processor.modelPicture.get(), picture);
        EXPECT_EQ(processor.modelSource->PendingModel.load(), model);
    }
    processor.setProgram(1);
    EXPECT_NE(processor.modelSource->PendingModel.load(), model);
    EXPECT_NE(processor.modelPicture.get(), picture);
}

// A click on a row of the entry that a window shows: once a host restore has made another entry
// current, it changes nothing.
TEST_F(Processor, SetProgramOfAReplacedEntryChangesNothing)
{
    makeCatalogue("--only LinearClean");
    CorvaneAudioProcessor processor;
    const auto shown = processor.modelSource;
    processor.setModel("LinearClean", 0); // a fresh entry, as a restore makes
    const auto model = processor.modelSource->PendingModel.load();
    processor.setProgramOf(*shown, 1);
    EXPECT_EQ(processor.modelSource->ProgramIndex, 0);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), model);
    processor.setProgramOf(*processor.modelSource, 1);
    EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
}

TEST_F(Processor, SetModelWithAnEmptyIdKeepsARealModel)
{
    CorvaneAudioProcessor processor;
    const auto noModel = processor.modelSource;
    processor.setModel({}, 0); // "No Model" is replaced by a fresh "No Model"
    EXPECT_NE(processor.modelSource, noModel);
    EXPECT_EQ(processor.modelSource->DeviceName, "No Model");

    makeCatalogue("--only LinearClean");
    processor.setModel("LinearClean", 1);
    const auto real = processor.modelSource;
    processor.setModel({}, 0);
    EXPECT_EQ(processor.modelSource, real);
    EXPECT_EQ(processor.modelSource->ProgramIndex, 1);

    processor.setModel("LinearClean", 1); // the same id is read again from disk
    EXPECT_NE(processor.modelSource, real);
    EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
    EXPECT_NE(processor.modelSource->PendingModel.load(), nullptr);
}

TEST_F(Processor, FilesComeFromTheFolderNamedByModelIdAndPicturesByContent)
{
    makeCatalogue("--only LinearClean");
    writeResource("Models/Alias/metadata.txt", "ModelId=LinearClean\n");
    writeResource("Models/Alias/settings.txt", "Setting,Gain\nA,1\nB,2\n");
    CorvaneAudioProcessor processor;
    processor.setModel("Alias", 1);
    ASSERT_NE(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_NEAR(processor.modelSource->LoudnessGain, std::pow(10.0f, 0.3f), 1e-5f);

    // A PNG picture with a ".jpg" name is decoded; a missing one gives a blank 1 x 1 picture.
    juce::Image png(juce::Image::RGB, 5, 3, true);
    juce::MemoryOutputStream pngData;
    juce::PNGImageFormat().writeImageToStream(png, pngData);
    const auto pictures = modelsDir().getChildFile("LinearClean/images");
    pictures.getChildFile("000.jpg").replaceWithData(pngData.getData(), pngData.getDataSize());
    pictures.getChildFile("001.jpg").deleteFile();
    processor.setProgram(0);
    EXPECT_EQ(processor.modelPicture->getWidth(), 5);
    processor.setProgram(1);
    EXPECT_EQ(processor.modelPicture->getWidth(), 1);
    EXPECT_EQ(processor.modelPicture->getFormat(), juce::Image::ARGB);
    EXPECT_EQ(processor.modelPicture->getPixelAt(0, 0).getAlpha(), 0);
}

// A picture file's bytes, with the bytes from `at` on replaced by `values`.
std::vector<uint8_t> edited(std::vector<uint8_t> bytes, size_t at, const std::vector<uint8_t>& values)
{
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

std::vector<uint8_t> bytesOf(const juce::MemoryBlock& block)
{
    const auto* data = static_cast<const uint8_t*>(block.getData());
    return { data, data + block.getSize() };
}

// A PNG of the given size in its header (with the header's checksum), whatever its pixels.
std::vector<uint8_t> pngSized(uint32_t width, uint32_t height)
{
    juce::MemoryOutputStream out;
    juce::PNGImageFormat().writeImageToStream(juce::Image(juce::Image::RGB, 4, 2, true), out);
    auto bytes = bytesOf(out.getMemoryBlock());
    const auto be = [](uint32_t v) {
        return std::vector<uint8_t> { uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v) };
    };
    bytes = edited(edited(bytes, 16, be(width)), 20, be(height));
    // The checksum of IHDR's type and payload, bytes 12 to 28.
    return edited(bytes, 29, be(static_cast<uint32_t>(crc32(0, bytes.data() + 12, 17))));
}

TEST_F(Processor, PicturesAreDecodedWithinTheirBytesAndSizeLimits)
{
    makeCatalogue("--only LinearClean");
    CorvaneAudioProcessor processor;
    processor.setModel("LinearClean", 0);
    const auto pictureFile = modelsDir().getChildFile("LinearClean/images/001.jpg");
    juce::MemoryBlock jpegBlock;
    ASSERT_TRUE(pictureFile.loadFileAsData(jpegBlock));
    const auto jpeg = bytesOf(jpegBlock);
    // 6 x 4 pixels of four colours, colour (x + 2y) % 4.
    const std::vector<uint8_t> gif { 0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x06, 0x00, 0x04, 0x00, 0x81, 0x00, 0x00,
        0x00, 0x00, 0x00, 0xe6, 0x3c, 0x14, 0x14, 0xa0, 0x3c, 0xfa, 0xfa, 0xfa, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x06,
        0x00, 0x04, 0x00, 0x00, 0x02, 0x0e, 0x44, 0xa8, 0x11, 0xa1, 0x46, 0x84, 0x1a, 0x11, 0x6a, 0x44, 0xa8, 0x11,
        0xa1, 0x56, 0x00, 0x3b };

    // Each picture replaces snapshot 1's; the snapshot's model loads whatever the picture holds.
    auto reload = [&] {
        processor.setProgram(0);
        processor.setProgram(1);
        EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
        return *processor.modelPicture;
    };
    auto show = [&](const std::vector<uint8_t>& bytes) {
        EXPECT_TRUE(pictureFile.replaceWithData(bytes.data(), bytes.size()));
        return reload();
    };

    const auto decoded = show(gif);
    ASSERT_EQ(decoded.getBounds(), juce::Rectangle<int>(6, 4));
    EXPECT_EQ(decoded.getPixelAt(1, 0), juce::Colour(230, 60, 20));
    EXPECT_EQ(decoded.getPixelAt(0, 1), juce::Colour(20, 160, 60));
    EXPECT_EQ(decoded.getPixelAt(5, 3), juce::Colour(250, 250, 250));
    EXPECT_EQ(show(jpeg).getBounds(), juce::Rectangle<int>(48, 32));
    EXPECT_EQ(show(pngSized(4, 2)).getBounds(), juce::Rectangle<int>(4, 2));
    // The widest allowed: the pixels beyond the data are blank.
    const auto widest = show(edited(gif, 30, { 0x00, 0x40, 0x01, 0x00 }));
    ASSERT_EQ(widest.getBounds(), juce::Rectangle<int>(16384, 1));
    EXPECT_EQ(widest.getPixelAt(1, 0), juce::Colour(230, 60, 20));
    EXPECT_EQ(widest.getPixelAt(16383, 0), juce::Colour(0, 0, 0));

    // Codes wider than the format's 12 bits: the picture keeps its size, without the data.
    const auto wideCodes = show(edited(gif, 35, { 12 }));
    EXPECT_EQ(wideCodes.getBounds(), juce::Rectangle<int>(6, 4));
    EXPECT_EQ(wideCodes.getPixelAt(1, 0), juce::Colour(0, 0, 0));

    const auto png = pngSized(4, 2);
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> undecodable {
        { "GIF wider than 16384", edited(gif, 30, { 0x01, 0x40 }) },
        { "JPEG wider than 16384", edited(jpeg, 96, { 0x40, 0x01 }) },
        { "PNG of more than 2^26 pixels", pngSized(8193, 8193) },
        { "PNG cut off in its data", std::vector<uint8_t>(png.begin(), png.end() - 20) },
        { "JPEG with a quantisation table number out of range", edited(jpeg, 24, { 0x05 }) },
        { "JPEG whose colour components are 0", edited(jpeg, 98, { 0 }) },
    };
    for (const auto& [name, bytes] : undecodable)
        EXPECT_FALSE(show(bytes).isValid()) << name;

    // A link to a device is not read, nor is a picture beyond 64 MiB (sparse here).
    ASSERT_TRUE(pictureFile.deleteFile());
    ASSERT_TRUE(juce::File("/dev/zero").createSymbolicLink(pictureFile, true));
    EXPECT_FALSE(reload().isValid());
    ASSERT_TRUE(pictureFile.deleteFile());
    ASSERT_TRUE(pictureFile.replaceWithData(gif.data(), gif.size()));
    std::filesystem::resize_file(pictureFile.getFullPathName().toStdString(), maxCataloguePictureBytes + 1);
    EXPECT_FALSE(reload().isValid());
}

TEST_F(Processor, SnapshotOneThousandUsesFourDigitNames)
{
    juce::String table = "Setting,Value\n";
    for (int row = 0; row <= 1000; ++row)
        table << "R" << row << "," << row << "\n";
    writeResource("Models/Big/metadata.txt", "ModelId=Big\n");
    writeResource("Models/Big/settings.txt", table);
    writeResource("Models/Big/models/1000.kep",
                  R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": 1, "bias": false},
                      "weights": [1.0], "metadata": {"loudness": -4}})");
    chooseLast("Big", 1000);
    CorvaneAudioProcessor processor;
    ASSERT_NE(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_NEAR(processor.modelSource->LoudnessGain, std::pow(10.0f, -0.3f), 1e-6f);
}

TEST_F(Processor, StateHoldsTheParametersModelIdAndSnapshot)
{
    makeCatalogue("--only LinearClean");
    CorvaneAudioProcessor processor;
    juce::MemoryBlock block;
    processor.getStateInformation(block);
    ASSERT_GT(block.getSize(), 9u);
    EXPECT_EQ(std::memcmp(block.getData(), "VC2!", 4), 0);
    const auto xml = juce::AudioProcessor::getXmlFromBinary(block.getData(), static_cast<int>(block.getSize()));
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getTagName(), "Ferrowick");
    EXPECT_EQ(xml->getChildByName("ModelId")->getAllSubText(), "LinearClean");
    EXPECT_EQ(xml->getChildByName("ProgramIndex")->getAllSubText(), "0");
    EXPECT_EQ(xml->getChildByName("ProgramIndex"), xml->getChildElement(xml->getNumChildElements() - 1));
}

} // namespace
