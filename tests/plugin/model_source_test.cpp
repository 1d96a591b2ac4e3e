#include <cmath>
#include <filesystem>
#include <set>

#include <sys/stat.h>

#include "plugin/CatalogueFile.h"
#include "plugin/ModelSource.h"
#include "plugin_test_util.h"

namespace
{
using Catalogue = plugin_testing::FreshHome;

juce::String joined(const juce::StringArray& cells)
{
    return cells.joinIntoString("|");
}

ModelSource loadWith(Catalogue& test, const juce::String& metadata, const juce::String& settings);

TEST_F(Catalogue, ListsSubFoldersInDirectoryOrderIncludingHiddenOnesAndNoFiles)
{
    EXPECT_TRUE(ModelSource::getModelIds().isEmpty()); // no "Models" folder at all
    modelsDir().createDirectory();
    EXPECT_TRUE(ModelSource::getModelIds().isEmpty());

    for (auto name : { "Beta", "Alpha", ".hidden", "Gamma" })
        modelsDir().getChildFile(name).createDirectory();
    modelsDir().getChildFile("C").replaceWithText("not a model");

    juce::StringArray expected; // the file system's own order
    for (const auto& entry : std::filesystem::directory_iterator(modelsDir().getFullPathName().toStdString()))
        if (entry.is_directory())
            expected.add(entry.path().filename().string());
    EXPECT_EQ(joined(ModelSource::getModelIds()), joined(expected));
    EXPECT_EQ(ModelSource::getModelIds().size(), 4);
}

TEST_F(Catalogue, MissingOrEmptyMetadataGivesTheNoModelEntry)
{
    for (const bool withEmptyFile : { false, true })
    {
        const juce::String id = withEmptyFile ? "Empty" : "Missing";
        if (withEmptyFile)
            writeResource("Models/Empty/metadata.txt", "");
        writeResource("Models/" + id + "/settings.txt", "A,B\n1,2\n");
        const auto entry = ModelSource::loadModel(id);
        EXPECT_EQ(entry.DeviceName, "No Model");
        EXPECT_EQ(entry.ModelId, "");
        EXPECT_EQ(entry.DeviceUrl, MakerWebAddress);
        EXPECT_FALSE(entry.ScaleSettings);
        EXPECT_EQ(entry.GainAdjust, 1.0f);
        EXPECT_TRUE(entry.ColumnNames.isEmpty());
        EXPECT_TRUE(entry.Rows.empty());
    }
    EXPECT_EQ(ModelSource::loadModel({}).DeviceName, "No Model");
    modelsDir().getChildFile("Folder/metadata.txt").createDirectory(); // a folder, not a file
    EXPECT_EQ(ModelSource::loadModel("Folder").DeviceName, "No Model");

    // Ids from a project or a metadata file never reach outside the catalogue's folders.
    writeResource("metadata.txt", "ModelId=Outside\nDeviceName=Outside\n");
    writeResource("Models/Sub/Deeper/metadata.txt", "ModelId=Deeper\nDeviceName=Deeper\n");
    for (const char* id : { "..", ".", "../..", "Sub/Deeper", "Sub\\Deeper", "../Models/Sub/Deeper" })
        EXPECT_EQ(ModelSource::loadModel(id).DeviceName, "No Model") << id;
    writeResource("Models/Escape/metadata.txt", "ModelId=../Escape\nDeviceName=Escape\n");
    EXPECT_EQ(ModelSource::loadModel("Escape").DeviceName, "No Model");
}

TEST_F(Catalogue, TextFilesThatAreNotRegularOrTooLargeReadAsMissing)
{
    // A shared folder may hold links: to a regular file they are read, to a device or a pipe (whose
    // reading would never end) they are not, nor is a table beyond 16 MiB.
    const auto elsewhere = writeResource("elsewhere.txt", "ModelId=Linked\nDeviceName=Linked\n");
    const auto folder = modelsDir().getChildFile("Odd");
    ASSERT_TRUE(folder.createDirectory());
    const auto metadata = folder.getChildFile("metadata.txt");
    const auto settings = folder.getChildFile("settings.txt");
    ASSERT_TRUE(elsewhere.createSymbolicLink(metadata, true));
    ASSERT_EQ(::mkfifo(settings.getFullPathName().toRawUTF8(), 0600), 0);
    auto entry = ModelSource::loadModel("Odd");
    EXPECT_EQ(entry.DeviceName, "Linked");
    EXPECT_TRUE(entry.ColumnNames.isEmpty());

    ASSERT_TRUE(settings.deleteFile());
    ASSERT_TRUE(settings.replaceWithText("A,B\n1,2\n"));
    std::filesystem::resize_file(settings.getFullPathName().toStdString(), maxCatalogueTextBytes + 1);
    EXPECT_TRUE(ModelSource::loadModel("Odd").ColumnNames.isEmpty());

    ASSERT_TRUE(juce::File("/dev/zero").createSymbolicLink(metadata, true));
    EXPECT_EQ(ModelSource::loadModel("Odd").DeviceName, "No Model");
}

TEST_F(Catalogue, FilesWithALineLongerThanTheBoundReadAsMissing)
{
    // Lines of the longest length that is read, and one character more, in either file.
    for (const int length : { maxCatalogueLineLength, maxCatalogueLineLength + 1 })
    {
        const bool read = length <= maxCatalogueLineLength;
        const auto name = juce::String::repeatedString("N", length - juce::String("DeviceName=").length());
        EXPECT_EQ(loadWith(*this, "ModelId=Long\nDeviceName=" + name + "\n", {}).DeviceName,
                  read ? name : juce::String("No Model")) << length;

        const auto cell = juce::String::repeatedString("c", length - 2);
        const auto entry = loadWith(*this, "ModelId=Long\nDeviceName=Long\n", "A,B\n1," + cell + "\n2,3\n");
        EXPECT_EQ(entry.DeviceName, "Long");
        EXPECT_EQ(entry.Rows.size(), read ? 2u : 0u) << length;
    }
}

TEST_F(Catalogue, MetadataOfOnlyALineEndIsARealEntry)
{
    const auto entry = loadWith(*this, "\n", "A,B\n1,2\n");
    EXPECT_NE(entry.DeviceName, "No Model");
    EXPECT_EQ(entry.ModelId, "");
    EXPECT_EQ(entry.GainAdjust, 0.0f);
    EXPECT_FALSE(entry.Lowpass || entry.BassCut || entry.BassBoost || entry.ScaleSettings);
    EXPECT_EQ(entry.Rows.size(), 1u);
}

TEST_F(Catalogue, MetadataLinesAreSplitAtTheFirstEqualsSignWithoutTrimming)
{
    const auto entry = loadWith(*this,
                                "=Orphan\r\n"
                                "ModelId = spaced\r\n"
                                "ModelId=Real\r\n"
                                "DeviceName=first\r\n"
                                "DeviceName=a=b\r\n"
                                "DeviceUrl=\r\n"
                                "GainAdjust= -2.5dB\r\n"
                                "no equals sign\r\n"
                                "modelid=lower",
                                {});
    EXPECT_EQ(entry.ModelId, "Real");
    EXPECT_EQ(entry.DeviceName, "a=b");
    EXPECT_EQ(entry.DeviceUrl, "");
    EXPECT_FLOAT_EQ(entry.GainAdjust, -2.5f);
    EXPECT_TRUE(entry.ColumnNames.isEmpty()); // no settings.txt
    EXPECT_EQ(loadWith(*this, "GainAdjust=loud\n", {}).GainAdjust, 0.0f);
    // Exponents too long for the framework's reading read as their true value would.
    EXPECT_EQ(loadWith(*this, "GainAdjust=2e-4816792462.5\n", {}).GainAdjust, 0.0f);
    EXPECT_FLOAT_EQ(loadWith(*this, "GainAdjust=25e-1\n", {}).GainAdjust, 2.5f);
    // Read up to the first character that is not part of the number: a decimal comma ends it.
    EXPECT_EQ(loadWith(*this, "GainAdjust=-3,5\n", {}).GainAdjust, -3.0f);
    // A trim whose factor is zero, subnormal (-760 dB) or not finite counts as 0 dB; large finite
    // ones, and small ones whose factor is a normal float, stay.
    for (const char* text : { "-1.5e99999999999", "nan", "inf", "1000", "-1000", "-760" })
        EXPECT_EQ(loadWith(*this, juce::String("GainAdjust=") + text + "\n", {}).GainAdjust, 0.0f) << text;
    EXPECT_EQ(loadWith(*this, "GainAdjust=600\n", {}).GainAdjust, 600.0f);
    EXPECT_EQ(loadWith(*this, "GainAdjust=-750\n", {}).GainAdjust, -750.0f);
}

TEST_F(Catalogue, FlagsAreTrueOnlyForTrueInAnyCase)
{
    EXPECT_TRUE(loadWith(*this, "Lowpass=TRUE\n", {}).Lowpass);
    EXPECT_TRUE(loadWith(*this, "BassCut=True\n", {}).BassCut);
    EXPECT_TRUE(loadWith(*this, "BassBoost=true\n", {}).BassBoost);
    EXPECT_TRUE(loadWith(*this, "ScaleSettings=tRuE\n", {}).ScaleSettings);
    for (const juce::String value : { "yes", "1", "", "true ", " true" })
        EXPECT_FALSE(loadWith(*this, "Lowpass=" + value + "\n", {}).Lowpass) << value;
}

TEST_F(Catalogue, SnapshotTableTakesTheFirstLineWithACommaAsHeaderAndKeepsFullRowsOnly)
{
    const auto entry = loadWith(*this, "ModelId=M\n",
                                "Title only\n"
                                "  Gain,Bass,Treble  \r\n"
                                "5,3,7\n"
                                "1,2\n"
                                "4,4,4,4\n"
                                "\n"
                                "lonely\n"
                                "a,\"b,c\",d\n"
                                "a,b,\n");
    EXPECT_EQ(joined(entry.ColumnNames), "Gain|Bass|Treble");
    ASSERT_EQ(entry.Rows.size(), 3u);
    EXPECT_EQ(joined(entry.Rows[0]), "5|3|7");
    EXPECT_EQ(joined(entry.Rows[1]), "a|\"b,c\"|d");
    EXPECT_EQ(joined(entry.Rows[2]), "a|b|");
}

TEST_F(Catalogue, DeepBracketsInTheTextFilesAreHarmless)
{
    // Both files are read line by line, so nothing in them nests: a million levels of brackets,
    // braces and tags, in lines of the longest length read, read as plain text on a 256 KiB stack.
    const juce::String chunk = testing_support::repeated("[{<a>(", 680);
    constexpr int lines = 400;
    juce::String metadata = "ModelId=M\nDeviceName=" + chunk + "\n", settings = "Name,Value\n";
    for (int i = 0; i < lines; ++i)
    {
        metadata << chunk << "\n";
        settings << "x," << chunk << "\n";
    }
    metadata << "Lowpass=true\n";
    juce::String deviceName, cell;
    bool lowpass = false;
    size_t rows = 0;
    testing_support::run_on_stack(testing_support::small_stack, [&] {
        const auto entry = loadWith(*this, metadata, settings);
        deviceName = entry.DeviceName;
        lowpass = entry.Lowpass;
        rows = entry.Rows.size();
        if (!entry.Rows.empty())
            cell = entry.Rows.back()[1];
    });
    EXPECT_EQ(deviceName, chunk);
    EXPECT_TRUE(lowpass);
    EXPECT_EQ(rows, static_cast<size_t>(lines));
    EXPECT_EQ(cell, chunk);
}

TEST_F(Catalogue, ScaleSettingsMapsNumericCellsOntoHalfStepsOfZeroToTen)
{
    const auto entry = loadWith(*this, "ModelId=M\nScaleSettings=true\n",
                                "Name,a,b,c,d,e,f,g,h,i,j,k,l,m,n\n"
                                "1,1,2,3,4,5,6,7,8,9,10,1.5,0,,-1\n"
                                "9, 5,High,\"3\",.,-,5,5,5,5,5,5,5,5,5\n");
    ASSERT_EQ(entry.Rows.size(), 2u);
    EXPECT_EQ(joined(entry.Rows[0]), "1|0.0|1.0|2.5|4.0|5.0|6.0|7.5|9.0|10.0|11.0|0.5|-1.0|-1.0|-2.5");
    EXPECT_EQ(joined(entry.Rows[1]), "9| 5|High|\"3\"|-1.0|-1.0|5.0|5.0|5.0|5.0|5.0|5.0|5.0|5.0|5.0");
    EXPECT_EQ(entry.ColumnNames[1], "a");

    const auto plain = loadWith(*this, "ModelId=M\n", "Name,a,b\nClean,1,9\n");
    EXPECT_EQ(joined(plain.Rows[0]), "Clean|1|9");
}

TEST_F(Catalogue, SnapshotFileNamesArePaddedToThreeDigits)
{
    EXPECT_EQ(ModelSource::paddedIndex(0), "000");
    EXPECT_EQ(ModelSource::paddedIndex(7), "007");
    EXPECT_EQ(ModelSource::paddedIndex(42), "042");
    EXPECT_EQ(ModelSource::paddedIndex(999), "999");
    EXPECT_EQ(ModelSource::paddedIndex(1000), "1000");
}

TEST_F(Catalogue, GeneratedCatalogueReadsBack)
{
    makeCatalogue();
    const auto ids = ModelSource::getModelIds();
    EXPECT_EQ(std::set<juce::String>(ids.begin(), ids.end()),
              (std::set<juce::String> { "ConvCrunch", "LinearClean", "LstmLead", "WaveHigh" }));

    const auto conv = ModelSource::loadModel("ConvCrunch");
    EXPECT_EQ(conv.ModelId, "ConvCrunch");
    EXPECT_EQ(conv.DeviceName, "Conv Crunch");
    EXPECT_EQ(conv.GainAdjust, 2.0f);
    EXPECT_TRUE(conv.Lowpass);
    EXPECT_FALSE(conv.BassBoost);
    EXPECT_EQ(joined(conv.Rows[0]), "Rhythm|2.5|5.0|7.5");
    EXPECT_EQ(conv.ProgramIndex, -1);
    EXPECT_EQ(conv.LoudnessGain, 1.0f);
    EXPECT_EQ(conv.PendingModel.load(), nullptr);
    EXPECT_EQ(conv.ActiveModel.load(), nullptr);

    auto linear = ModelSource::loadModel("LinearClean");
    EXPECT_FLOAT_EQ(linear.GainAdjust, -3.5f);
    EXPECT_EQ(linear.getNumRows(), 2);
    EXPECT_EQ(joined(linear.Rows[1]), "Bright|4|8");
}

// Paints into a small image and tells whether anything non-transparent was drawn.
bool paintsSomething(const std::function<void(juce::Graphics&)>& paint)
{
    juce::Image image(juce::Image::ARGB, 200, 30, true);
    {
        juce::Graphics g(image);
        paint(g);
    }
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt(x, y).getAlpha() != 0)
                return true;
    return false;
}

TEST_F(Catalogue, TableCellsOutsideTheTableDrawNothing)
{
    auto entry = loadWith(*this, "ModelId=M\n", "A,B\nxx,yy\n");
    EXPECT_EQ(entry.TableFont.getHeight(), 22.0f);
    EXPECT_TRUE(entry.TableFont.getTypefaceName().contains("Open Sans")) << entry.TableFont.getTypefaceName();
    // Entries made on any thread share one face: building or freeing one never makes or frees a
    // face in the font engine, which must not do so on two threads at once.
    ModelSource other;
    EXPECT_EQ(other.TableFont.getTypefacePtr().get(), entry.TableFont.getTypefacePtr().get());
    EXPECT_TRUE(paintsSomething([&](juce::Graphics& g) { entry.paintCell(g, 0, 2, 200, 30, false); }));
    EXPECT_FALSE(paintsSomething([&](juce::Graphics& g) { entry.paintCell(g, 0, 0, 200, 30, false); }));
    EXPECT_FALSE(paintsSomething([&](juce::Graphics& g) { entry.paintCell(g, 0, 3, 200, 30, false); }));
    EXPECT_FALSE(paintsSomething([&](juce::Graphics& g) { entry.paintCell(g, 1, 1, 200, 30, false); }));
    EXPECT_FALSE(paintsSomething([&](juce::Graphics& g) { entry.paintCell(g, -1, 1, 200, 30, false); }));
}

TEST_F(Catalogue, RowBackgroundsAndSelectionCallback)
{
    ModelSource entry;
    auto alphaOf = [&](int row, bool selected) {
        juce::Image image(juce::Image::ARGB, 4, 4, true);
        {
            juce::Graphics g(image);
            entry.paintRowBackground(g, row, 4, 4, selected);
        }
        return image.getPixelAt(1, 1).getAlpha();
    };
    EXPECT_EQ(alphaOf(3, true), 51);
    EXPECT_EQ(alphaOf(2, false), 13);
    EXPECT_EQ(alphaOf(1, false), 0);

    entry.selectedRowsChanged(4); // the default callback does nothing
    std::vector<int> rows;
    entry.RowChangeCallback = [&](int row) { rows.push_back(row); };
    entry.selectedRowsChanged(2);
    entry.selectedRowsChanged(-1);
    EXPECT_EQ(rows, (std::vector<int> { 2, -1 }));
}

ModelSource loadWith(Catalogue& test, const juce::String& metadata, const juce::String& settings)
{
    static int counter = 0;
    const juce::String id = "Case" + juce::String(++counter);
    (void) test;
    const auto base = juce::File(ModelSource::getPluginResourceDir()).getChildFile("Models").getChildFile(id);
    base.createDirectory();
    base.getChildFile("metadata.txt").replaceWithData(metadata.toRawUTF8(), metadata.getNumBytesAsUTF8());
    if (settings.isNotEmpty())
        base.getChildFile("settings.txt").replaceWithData(settings.toRawUTF8(), settings.getNumBytesAsUTF8());
    return ModelSource::loadModel(id);
}

} // namespace
