// The host state: round trips between instances and the handling of unusual blocks.

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio_reference.h"
#include "core/load_limits.h"
#include "plugin/Parameters.h"

namespace
{
using namespace proc_testing;
using testing_support::repeated;

class HostState : public CatalogueHome
{
protected:
    void SetUp() override
    {
        CatalogueHome::SetUp();
        writeCatalogue();
    }

    void writeCatalogue()
    {
        writeFolder("A", "", 2, { { 0, linearModelFile({ 0.5f }, -10.0) }, { 1, linearModelFile({ 0.5f }, -4.0) } });
        writeFolder("B", "", 4,
                    { { 0, linearModelFile({ 1.0f }, -10.0) }, { 1, linearModelFile({ 1.0f }, -16.0) },
                      { 2, linearModelFile({ 1.0f }, -4.0) }, { 3, linearModelFile({ 1.0f }, 0.0) } });
        startWith("A", 1);
    }

    // A block in the framework's binary XML format around the given text; the length field is
    // the text's length unless given.
    static juce::MemoryBlock block(const juce::String& xml, std::optional<int> lengthField = std::nullopt)
    {
        juce::MemoryBlock result;
        juce::MemoryOutputStream out(result, false);
        out.writeInt(0x21324356);
        const int length = static_cast<int>(xml.getNumBytesAsUTF8());
        out.writeInt(lengthField.value_or(length));
        out.write(xml.toRawUTF8(), static_cast<size_t>(length));
        out.writeByte(0);
        out.flush();
        return result;
    }

    static juce::String document(const juce::String& root, const juce::String& children)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <" + root + ">" + children + "</" + root + ">";
    }

    static juce::String params(float in, float out)
    {
        return "<PARAM id=\"GainIn\" value=\"" + juce::String(in) + "\"/><PARAM id=\"GainOut\" value=\""
               + juce::String(out) + "\"/>";
    }

    static void restore(CorvaneAudioProcessor& processor, const juce::MemoryBlock& data)
    {
        processor.setStateInformation(data.getData(), static_cast<int>(data.getSize()));
    }

    // Restores the block on a 256 KiB stack and saves the state there again.
    static juce::MemoryBlock restoreAndSaveOnSmallStack(CorvaneAudioProcessor& processor, const juce::MemoryBlock& data)
    {
        juce::MemoryBlock saved;
        testing_support::run_on_stack(testing_support::small_stack, [&] {
            restore(processor, data);
            processor.getStateInformation(saved);
        });
        return saved;
    }
};

TEST_F(HostState, RoundTripBetweenInstances)
{
    CorvaneAudioProcessor source;
    source.setModel("B", 2);
    setParameter(source, "GainIn", 0.25f);
    setParameter(source, "GainOut", 0.8f);
    juce::MemoryBlock saved;
    source.getStateInformation(saved);

    CorvaneAudioProcessor target;
    ASSERT_EQ(target.modelSource->ModelId, "A");
    restore(target, saved);
    EXPECT_FLOAT_EQ(parameterValue(target, "GainIn"), 0.25f);
    EXPECT_FLOAT_EQ(parameterValue(target, "GainOut"), 0.8f);
    EXPECT_EQ(target.modelSource->ModelId, "B");
    EXPECT_EQ(target.modelSource->ProgramIndex, 2);
    ASSERT_NE(target.modelSource->PendingModel.load(), nullptr);
    EXPECT_NEAR(target.modelSource->LoudnessGain, reference::loudnessGain(-4.0f), 1e-7f);
    // The process-wide last choice is not touched by a restore.
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, "A");
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 1);

    // Saving the restored instance gives the same document back.
    juce::MemoryBlock again;
    target.getStateInformation(again);
    EXPECT_EQ(again, saved);
}

TEST_F(HostState, MalformedBlocksChangeNothing)
{
    CorvaneAudioProcessor processor;
    setParameter(processor, "GainIn", 0.3f);
    setParameter(processor, "GainOut", 0.4f);
    const auto entry = processor.modelSource;

    const auto good = document("Ferrowick", params(0.9f, 0.9f) + "<ModelId>B</ModelId><ProgramIndex>2</ProgramIndex>");
    std::vector<std::pair<const char*, juce::MemoryBlock>> blocks;
    auto eight = block(good);
    eight.setSize(8);
    blocks.push_back({ "8 bytes", eight });
    auto magic = block(good);
    static_cast<char*>(magic.getData())[0] = 'X';
    blocks.push_back({ "wrong magic", magic });
    blocks.push_back({ "length 0", block(good, 0) });
    blocks.push_back({ "negative length", block(good, -5) });
    blocks.push_back({ "malformed XML", block("<Ferrowick><PARAM id=\"GainIn\" value=\"0.9\"") });
    blocks.push_back({ "not XML", block("Ferrowick ModelId B") });
    auto zeroFirst = block(good);
    static_cast<char*>(zeroFirst.getData())[8] = 0;
    blocks.push_back({ "zero byte first", zeroFirst });
    blocks.push_back({ "empty", juce::MemoryBlock() });
    // Text that is not valid UTF-8 does not parse either (a lone 0xFF byte in the model id).
    auto invalid = block(good);
    auto* text = static_cast<char*>(invalid.getData());
    const std::string id = ">B<";
    std::search(text, text + invalid.getSize(), id.begin(), id.end())[1] = '\xff';
    blocks.push_back({ "invalid UTF-8", invalid });
    // Nor do processing instructions past the declaration (the framework's parser loops forever
    // on one inside an element followed by text) or a document type declaration.
    blocks.push_back({ "processing instruction", block(document("Ferrowick", params(0.9f, 0.9f) + "<?x?>text"
                                                                              "<ModelId>B</ModelId><ProgramIndex>2</ProgramIndex>")) });
    blocks.push_back({ "ends in a character reference", block(good.replace("</Ferrowick>", "&#x4")) });
    // Nor do references other than the five named ones and numeric ones closed by ';'.
    blocks.push_back({ "unknown reference", block(good.replace(">B<", ">&b;<")) });
    blocks.push_back({ "numeric reference without ';'", block(good.replace(">B<", ">&#66 <")) });
    blocks.push_back({ "reference without a name", block(good.replace(">B<", ">B & C<")) });
    blocks.push_back({ "document type", block("<!DOCTYPE Ferrowick [<!ENTITY b \"B\">]>"
                                              + document("Ferrowick", params(0.9f, 0.9f) + "<ModelId>&b;</ModelId>"
                                                                      "<ProgramIndex>2</ProgramIndex>")) });

    for (const auto& [name, data] : blocks)
    {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(restore(processor, data));
        EXPECT_EQ(processor.modelSource, entry);
        EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
        EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.3f);
        EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.4f);
    }
    processor.setStateInformation(nullptr, 0);
    EXPECT_EQ(processor.modelSource, entry);
}

TEST_F(HostState, DeeplyNestedBlocksAreIgnoredWhole)
{
    CorvaneAudioProcessor processor;
    setParameter(processor, "GainIn", 0.3f);
    setParameter(processor, "GainOut", 0.4f);
    const auto entry = processor.modelSource;

    const int deep = 1000000;
    // The parser nests as deep in each: names after white space and comments, markup in
    // attribute values, comments and CDATA sections, and references that it reads past or reads
    // as markup hide nothing.
    const std::vector<std::pair<const char*, std::string>> cases = {
        { "elements", repeated("<a>", deep) + repeated("</a>", deep) },
        { "elements left open", repeated("<a>", deep) },
        { "with attributes, empty elements and text", repeated("<a x='1'><b/>text", deep) + repeated("</a>", deep) },
        { "names after white space and comments", repeated("<\n<!--x-->a >", deep) },
        { "closing markup in attribute values", repeated("<a x=\"/>\" y='</a>'>", deep) },
        { "closing markup in comments and CDATA", repeated("<a <!--/>-->><!--</a>--><![CDATA[</a>]]>", deep) },
        { "a closing tag as a reference's name", repeated("<a>&</a>;", deep) },
        { "a quote taken by an open reference", repeated("<a x=\"&#x\"/>\">", deep) },
    };
    for (const auto& [name, nested] : cases)
    {
        SCOPED_TRACE(name);
        const auto children = params(0.9f, 0.9f) + nested + "<ModelId>B</ModelId><ProgramIndex>2</ProgramIndex>";
        restoreAndSaveOnSmallStack(processor, block(document("Ferrowick", children)));
        EXPECT_EQ(processor.modelSource, entry);
        EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.3f);
        EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.4f);
    }
}

TEST_F(HostState, NestingUpToTheLimitIsRestoredAndSavedAgain)
{
    // Levels counted from the document element; the innermost has no children and counts too.
    // Markup in attribute values, comments and CDATA sections and references are not elements.
    const auto state = [](float gain, int levels, const char* id) {
        const auto nested = repeated("<a x=\"<a><a>\">", levels - 2) + "<b/><!--<a><a>--><![CDATA[<a>]]>&lt;a&gt;&#60;a>"
                            + repeated("</a>", levels - 2);
        return block(document("Ferrowick", params(gain, gain) + nested + "<ModelId>" + id
                                               + "</ModelId><ProgramIndex>2</ProgramIndex>"));
    };
    const int limit = kep::load_limits::max_nesting;
    CorvaneAudioProcessor processor;
    const auto saved = restoreAndSaveOnSmallStack(processor, state(0.9f, limit, "B"));
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.9f);
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.9f);
    EXPECT_EQ(processor.modelSource->ModelId, "B");
    EXPECT_EQ(processor.modelSource->ProgramIndex, 2);

    // The nested elements are kept in the state, saved with it and read back again.
    CorvaneAudioProcessor again;
    EXPECT_EQ(restoreAndSaveOnSmallStack(again, saved), saved);
    EXPECT_FLOAT_EQ(parameterValue(again, "GainIn"), 0.9f);
    EXPECT_EQ(again.modelSource->ModelId, "B");

    // One level more is ignored.
    setParameter(processor, "GainIn", 0.3f);
    restoreAndSaveOnSmallStack(processor, state(0.5f, limit + 1, "A"));
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.3f);
    EXPECT_EQ(processor.modelSource->ModelId, "B");
}

TEST_F(HostState, ParameterValuesWithHugeExponentsReadAsTheirTrueValues)
{
    // An exponent too long for the framework's number reading reads as infinity or zero.
    auto restored = [](const juce::String& in, const juce::String& out) {
        CorvaneAudioProcessor processor;
        restore(processor, block(document("Ferrowick", "<PARAM id=\"GainIn\" value=\"" + in + "\"/><PARAM id=\"GainOut\" "
                                                         "value=\"" + out + "\"/>")));
        return std::make_pair(parameterValue(processor, "GainIn"), parameterValue(processor, "GainOut"));
    };
    EXPECT_EQ(restored("1e99999999999", "5e-99999999999"), restored("1e999", "0"));

    // A value that reads as NaN counts as missing: the parameter takes its default, the output
    // stays finite and the state can be saved again.
    CorvaneAudioProcessor processor;
    setParameter(processor, "GainIn", 0.3f);
    restore(processor, block(document("Ferrowick", "<PARAM id=\"GainIn\" value=\"nan\"/><PARAM id=\"GainOut\" "
                                                     "value=\"-NaN\"/>")));
    EXPECT_NEAR(parameterValue(processor, "GainIn"), GainDefaultValue, 1e-4f);
    EXPECT_NEAR(parameterValue(processor, "GainOut"), GainDefaultValue, 1e-4f);
    for (const float sample : channel(run(processor, signal(300)), 0))
        ASSERT_TRUE(std::isfinite(sample));
    juce::MemoryBlock saved;
    processor.getStateInformation(saved);
    EXPECT_GT(saved.getSize(), 9u);
}

TEST_F(HostState, ReferencesAreRead)
{
    CorvaneAudioProcessor processor;
    restore(processor, block(document("Ferrowick", "<PARAM id=\"GainIn\" value=\"0&#46;25\"/><PARAM id=\"GainOut\" "
                                                     "value=\"0&#x2E;5\"/><ModelId>&#x42;</ModelId><ProgramIndex>&#50;"
                                                     "</ProgramIndex><X a=\"&AMP;&lt;&Gt;&quot;&apos;\"/>")));
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.25f);
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.5f);
    EXPECT_EQ(processor.modelSource->ModelId, "B");
    EXPECT_EQ(processor.modelSource->ProgramIndex, 2);
}

TEST_F(HostState, TagsMatchWithoutRegardToCase)
{
    CorvaneAudioProcessor processor;
    restore(processor, block(document("FERROWICK", params(0.125f, 0.5f) + "<modelid>B</modelid><PROGRAMINDEX>3</PROGRAMINDEX>")));
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.125f);
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.5f);
    EXPECT_EQ(processor.modelSource->ModelId, "B");
    EXPECT_EQ(processor.modelSource->ProgramIndex, 3);
}

TEST_F(HostState, AnotherRootTagKeepsTheParametersButAppliesTheModel)
{
    CorvaneAudioProcessor processor;
    setParameter(processor, "GainIn", 0.3f);
    restore(processor, block(document("Other", params(0.9f, 0.9f) + "<ModelId>B</ModelId><ProgramIndex>2</ProgramIndex>")));
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.3f);
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.66666698455810546875f);
    EXPECT_EQ(processor.modelSource->ModelId, "B");
    EXPECT_EQ(processor.modelSource->ProgramIndex, 2);
}

TEST_F(HostState, ProgramIndexIsReadLikeAtoi)
{
    const std::vector<std::pair<const char*, int>> cases = {
        { "3abc", 3 }, { "abc", 0 }, { "", 0 }, { "  2", 2 }, { "+1", 1 }, { "2.9", 2 },
    };
    for (const auto& [text, index] : cases)
    {
        SCOPED_TRACE(text);
        CorvaneAudioProcessor processor;
        restore(processor, block(document("Ferrowick", params(0.5f, 0.5f) + "<ModelId>B</ModelId><ProgramIndex>"
                                                           + text + "</ProgramIndex>")));
        EXPECT_EQ(processor.modelSource->ModelId, "B");
        EXPECT_EQ(processor.modelSource->ProgramIndex, index);
        EXPECT_NE(processor.modelSource->PendingModel.load(), nullptr);
    }

    // -1 installs the entry without a snapshot: silence until a row is chosen.
    CorvaneAudioProcessor processor;
    EXPECT_FALSE(allZero(channel(run(processor, signal(300)), 0)));
    restore(processor, block(document("Ferrowick", params(0.5f, 0.5f) + "<ModelId>B</ModelId><ProgramIndex>-1</ProgramIndex>")));
    EXPECT_EQ(processor.modelSource->ModelId, "B");
    EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
    EXPECT_TRUE(allZero(channel(run(processor, signal(300)), 0)));

    // Beyond the int range (where atoi is undefined) the index names no row either.
    for (const char* text : { "99999999999", "-99999999999", "2147483648" })
    {
        SCOPED_TRACE(text);
        restore(processor, block(document("Ferrowick", params(0.5f, 0.5f) + "<ModelId>A</ModelId><ProgramIndex>"
                                                           + text + "</ProgramIndex>")));
        EXPECT_EQ(processor.modelSource->ModelId, "A");
        EXPECT_EQ(processor.modelSource->ProgramIndex, -1);
    }
}

TEST_F(HostState, NoModelStateRestoresOnlyTheParameters)
{
    juce::MemoryBlock saved;
    {
        modelsDir().deleteRecursively();
        CorvaneAudioProcessor empty;
        ASSERT_EQ(empty.modelSource->DeviceName, "No Model");
        setParameter(empty, "GainIn", 0.1f);
        setParameter(empty, "GainOut", 0.9f);
        empty.getStateInformation(saved);
        const auto xml = juce::AudioProcessor::getXmlFromBinary(saved.getData(), static_cast<int>(saved.getSize()));
        ASSERT_NE(xml, nullptr);
        EXPECT_EQ(xml->getChildByName("ModelId")->getAllSubText(), "");
        EXPECT_EQ(xml->getChildByName("ProgramIndex")->getAllSubText(), "-1");
    }
    writeCatalogue();
    CorvaneAudioProcessor processor;
    const auto entry = processor.modelSource;
    ASSERT_EQ(entry->ModelId, "A");
    run(processor, signal(100));
    auto* playing = entry->ActiveModel.load();
    ASSERT_NE(playing, nullptr);

    restore(processor, saved);
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.1f);
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.9f);
    EXPECT_EQ(processor.modelSource, entry);
    EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
    EXPECT_EQ(processor.modelSource->ActiveModel.load(), playing);
    EXPECT_FALSE(allZero(channel(run(processor, signal(100)), 0)));
}

TEST_F(HostState, BlockWithoutTheModelChoiceRestoresOnlyTheParameters)
{
    CorvaneAudioProcessor processor;
    const auto entry = processor.modelSource;
    for (const auto& children : { params(0.2f, 0.3f) + "<ModelId>B</ModelId>",
                                  params(0.2f, 0.3f) + "<ProgramIndex>2</ProgramIndex>", params(0.2f, 0.3f),
                                  params(0.2f, 0.3f) + "<ModelId/><ProgramIndex>0</ProgramIndex>" })
    {
        SCOPED_TRACE(children);
        setParameter(processor, "GainIn", 0.7f);
        EXPECT_NO_THROW(restore(processor, block(document("Ferrowick", children))));
        EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.2f);
        EXPECT_FLOAT_EQ(parameterValue(processor, "GainOut"), 0.3f);
        EXPECT_EQ(processor.modelSource, entry);
        EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
    }
}

TEST_F(HostState, LengthFieldLargerThanTheBlockReadsToItsEnd)
{
    CorvaneAudioProcessor processor;
    auto data = block(document("Ferrowick", params(0.6f, 0.2f) + "<ModelId>B</ModelId><ProgramIndex>1</ProgramIndex>"),
                      1 << 20);
    data.setSize(data.getSize() - 1); // no terminating zero either
    restore(processor, data);
    EXPECT_FLOAT_EQ(parameterValue(processor, "GainIn"), 0.6f);
    EXPECT_EQ(processor.modelSource->ModelId, "B");
    EXPECT_EQ(processor.modelSource->ProgramIndex, 1);
}

} // namespace
