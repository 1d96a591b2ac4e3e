#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/load_limits.h"
#include "plugin_test_util.h"

// Every flush to the disk of this program goes through here: the path of what was flushed is
// recorded, then the flush is made.
namespace
{
std::mutex syncedLock;
std::vector<std::string> synced;
} // namespace

extern "C" int fsync(int fd)
{
    std::error_code ignored;
    const auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ignored);
    {
        std::lock_guard<std::mutex> lock(syncedLock);
        synced.push_back(path.string());
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace
{
using plugin_testing::FreshHome;
using testing_support::repeated;

juce::String fileBytes(const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData(data);
    return data.toString();
}

// The folder's entries, links and hidden files included, sorted and joined by "|".
juce::String childNames(const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& f : folder.findChildFiles(juce::File::findFilesAndDirectories, false, "*", juce::File::FollowSymlinks::no))
        names.add(f.getFileName());
    names.sort(false);
    return names.joinIntoString("|");
}

// Runs a case in a fixed time zone and restores the previous one afterwards.
class ZoneGuard
{
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            previous_ = old, hadZone_ = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard()
    {
        if (hadZone_)
            ::setenv("TZ", previous_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string previous_;
    bool hadZone_ = false;
};

class SettingsFile : public FreshHome
{
protected:
    // Loads the text as "Settings.json" on a 256 KiB stack; the UiScaling it gives (90 before).
    int uiScalingLoadedFrom(const juce::String& text)
    {
        writeResource("Settings.json", text);
        plugin_testing::changeSettings([](PluginSettings& s) { s.UiScaling = 90; });
        testing_support::run_on_stack(testing_support::small_stack, [] { PluginSettings::Load(); });
        return PluginSettings::Get().UiScaling;
    }
};

TEST_F(SettingsFile, FirstLoadCreatesFoldersAndWritesDefaultsByteForByte)
{
    PluginSettings::Load();

    EXPECT_TRUE(appData().getChildFile("Quorvex").isDirectory());
    EXPECT_TRUE(resourceDir().isDirectory());
    EXPECT_TRUE(resourceDir().getChildFile("Presets").isDirectory());
    EXPECT_FALSE(modelsDir().exists());

    const auto date = PluginSettings::Get().FirstUseDate.toISO8601(false);
    EXPECT_TRUE(std::regex_match(date.toStdString(), std::regex(R"(\d{8}T\d{6}\.\d{3}(Z|[+-]\d{4}))"))) << date;
    const juce::String expected = "{\r\n"
                                  "  \"UiScaling\": 100,\r\n"
                                  "  \"FirstUseDate\": \"" + date + "\",\r\n"
                                  "  \"LastSelectedModelId\": \"\",\r\n"
                                  "  \"LastSelectedModelIdx\": 0\r\n"
                                  "}";
    EXPECT_EQ(fileBytes(settingsFile()), expected);
}

TEST_F(SettingsFile, SaveWritesCurrentValuesEscapedAndLeavesNoTemporaryFile)
{
    ZoneGuard zone("UTC0");
    plugin_testing::changeSettings([](PluginSettings& s) {
        s.UiScaling = 150;
        s.FirstUseDate = juce::Time::fromISO8601("20240131T142305.123+0100");
        s.LastSelectedModelId = juce::String::fromUTF8("Amp \"5\" \\ \xc3\xa9");
        s.LastSelectedModelIdx = -3;
    });
    PluginSettings::Save();
    PluginSettings::Save(); // replacing an existing file

    EXPECT_EQ(fileBytes(settingsFile()), juce::String::fromUTF8("{\r\n"
                                                                "  \"UiScaling\": 150,\r\n"
                                                                "  \"FirstUseDate\": \"20240131T132305.123Z\",\r\n"
                                                                "  \"LastSelectedModelId\": \"Amp \\\"5\\\" \\\\ \\u00e9\",\r\n"
                                                                "  \"LastSelectedModelIdx\": -3\r\n"
                                                                "}"));
    EXPECT_EQ(childNames(resourceDir()), "Presets|Settings.json");

    // What was saved loads back unchanged.
    const auto saved = PluginSettings::Get();
    PluginSettings::Set(PluginSettings {});
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().UiScaling, saved.UiScaling);
    EXPECT_EQ(PluginSettings::Get().FirstUseDate, saved.FirstUseDate);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, saved.LastSelectedModelId);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, saved.LastSelectedModelIdx);
}

// A crash or a power cut right after a save finds the new text: the file reaches the disk, and
// then the folder that holds its new name.
TEST_F(SettingsFile, SaveFlushesTheFileAndThenItsFolder)
{
    PluginSettings::Save();
    {
        std::lock_guard<std::mutex> lock(syncedLock);
        synced.clear();
    }
    PluginSettings::Save();
    std::lock_guard<std::mutex> lock(syncedLock);
    const auto folder = std::filesystem::canonical(resourceDir().getFullPathName().toStdString()).string();
    ASSERT_EQ(synced.size(), 2u);
    EXPECT_EQ(synced[0].rfind(folder + "/.Settings_temp", 0), 0u) << synced[0];
    EXPECT_EQ(synced[1], folder);
}

// A disk that fills up while the settings are written: the file size limit makes the write
// stop after a few bytes, as a full disk would. The user's record stays as it was.
TEST_F(SettingsFile, WriteThatDoesNotReachTheDiskWholeKeepsTheOldFile)
{
    plugin_testing::changeSettings([](PluginSettings& s) { s.LastSelectedModelId = "Kept"; });
    PluginSettings::Save();
    const auto before = fileBytes(settingsFile());
    ASSERT_TRUE(before.contains("Kept"));

    rlimit previous {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    PluginSettings::Update([](PluginSettings& s) { s.LastSelectedModelId = "Lost"; });
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);

    EXPECT_EQ(fileBytes(settingsFile()), before);
    EXPECT_EQ(resourceDir().findChildFiles(juce::File::findFiles, false, "*", juce::File::FollowSymlinks::no).size(), 1)
        << "no temporary file is left behind";
    // The record in memory has the change; the next save that succeeds writes it.
    PluginSettings::Save();
    EXPECT_TRUE(fileBytes(settingsFile()).contains("Lost"));
}

TEST_F(SettingsFile, SaveWritesThroughAChainOfLinksAndKeepsTheMode)
{
    // Settings.json -> (absolute) store/hop -> "folder/../real.json", where store/folder ->
    // "deep/inner": the ".." leads to store/deep, as the system reads it.
    const auto store = home().getChildFile("store");
    const auto real = store.getChildFile("deep/real.json");
    const std::filesystem::path realPath = real.getFullPathName().toStdString();
    ASSERT_TRUE(store.getChildFile("deep/inner").createDirectory() && real.replaceWithText("old"));
    std::filesystem::permissions(realPath, std::filesystem::perms(0600));
    ASSERT_TRUE(juce::File::createSymbolicLink(store.getChildFile("folder"), "deep/inner", false));
    ASSERT_TRUE(juce::File::createSymbolicLink(store.getChildFile("hop"), "folder/../real.json", false));
    ASSERT_TRUE(resourceDir().createDirectory());
    ASSERT_TRUE(juce::File::createSymbolicLink(settingsFile(), store.getFullPathName() + "/hop", false));

    PluginSettings::Save();
    EXPECT_EQ(settingsFile().getNativeLinkedTarget(), store.getFullPathName() + "/hop");
    EXPECT_TRUE(fileBytes(real).startsWith("{\r\n  \"UiScaling\": 100,\r\n"));
    EXPECT_EQ(std::filesystem::status(realPath).permissions(), std::filesystem::perms(0600));
    EXPECT_EQ(childNames(store) + "|" + childNames(store.getChildFile("deep")), "deep|folder|hop|inner|real.json");
}

TEST_F(SettingsFile, LinkToAMissingFileCreatesItALoopIsLeftAsItIs)
{
    ASSERT_TRUE(resourceDir().createDirectory());
    ASSERT_TRUE(juce::File::createSymbolicLink(settingsFile(), "new.json", false));
    PluginSettings::Load();
    EXPECT_TRUE(settingsFile().isSymbolicLink());
    EXPECT_TRUE(resourceDir().getChildFile("new.json").existsAsFile());

    // A loop, and a missing file in a missing folder: nothing is written and nothing hangs.
    ASSERT_TRUE(juce::File::createSymbolicLink(resourceDir().getChildFile("other"), "Settings.json", false));
    for (const auto* link : { "other", "gone/new.json" })
    {
        ASSERT_TRUE(settingsFile().deleteFile() && juce::File::createSymbolicLink(settingsFile(), link, false));
        PluginSettings::Save();
        EXPECT_EQ(settingsFile().getNativeLinkedTarget(), link);
        EXPECT_EQ(childNames(resourceDir()), "Presets|Settings.json|new.json|other");
    }
}

TEST_F(SettingsFile, ZoneSuffixFollowsTheLocalZone)
{
    ZoneGuard zone("EST5");
    plugin_testing::changeSettings([](PluginSettings& s) { s.FirstUseDate = juce::Time(0); });
    EXPECT_TRUE(PluginSettings::ToJson().contains("\"FirstUseDate\": \"19691231T190000.000-0500\""));
}

TEST_F(SettingsFile, PartialFileChangesOnlyItsKeysAndIsNotRewritten)
{
    const auto defaults = PluginSettings::Get();
    const juce::String text = "{ \"UiScaling\": 120.7 }";
    writeResource("Settings.json", text);

    PluginSettings::Load();

    EXPECT_EQ(PluginSettings::Get().UiScaling, 120);
    EXPECT_EQ(PluginSettings::Get().FirstUseDate, defaults.FirstUseDate);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, "");
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 0);
    EXPECT_EQ(fileBytes(settingsFile()), text);
    EXPECT_TRUE(resourceDir().getChildFile("Presets").isDirectory());
}

TEST_F(SettingsFile, ValuesOfOtherTypesAreConverted)
{
    writeResource("Settings.json", R"({"UiScaling": "150", "LastSelectedModelId": 42, "LastSelectedModelIdx": "7"})");
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().UiScaling, 150);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, "42");
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 7);
}

TEST_F(SettingsFile, NumbersBeyondTheIntRangeKeepTheirFields)
{
    // In range, at the limits: converted as before.
    writeResource("Settings.json", R"({"UiScaling": "-2147483648", "LastSelectedModelIdx": 2147483647.5})");
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().UiScaling, -2147483648LL);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 2147483647);

    for (const juce::String values : { R"("UiScaling": 1e40, "LastSelectedModelIdx": 3000000000)",
                                       R"("UiScaling": "2147483648", "LastSelectedModelIdx": -1e999)",
                                       R"("UiScaling": "-99999999999999999999", "LastSelectedModelIdx": "4294967297")" })
    {
        plugin_testing::changeSettings([](PluginSettings& s) {
            s.UiScaling = 90;
            s.LastSelectedModelIdx = 3;
        });
        writeResource("Settings.json", "{" + values + ", \"LastSelectedModelId\": \"X\"}");
        PluginSettings::Load();
        EXPECT_EQ(PluginSettings::Get().UiScaling, 90) << values;
        EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 3) << values;
        EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, "X") << values;
    }

    // Integer digits that overflow the parser's 64-bit arithmetic: the text counts as not JSON.
    // The same digits inside a string or after a decimal point are harmless.
    plugin_testing::changeSettings([](PluginSettings& s) { s.LastSelectedModelId = "kept"; });
    // So do exponent digits that overflow its int, and a minus sign at the very end, after which
    // the parser reads past the end.
    for (const juce::String text : { R"({"LastSelectedModelId": "Y", "UiScaling": -99999999999999999999})",
                                     R"({"LastSelectedModelId": "Y", "UiScaling": 1e9999999999})",
                                     R"({"LastSelectedModelId": "Y", "UiScaling": 1.5E-2147483648})",
                                     R"({"LastSelectedModelId": "Y", "UiScaling": - )" })
    {
        writeResource("Settings.json", text);
        PluginSettings::Load();
        EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, "kept") << text;
    }
    writeResource("Settings.json", R"({"LastSelectedModelId": "99999999999999999999", "UiScaling": 0.12345678901234567890123})");
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, "99999999999999999999");
    EXPECT_EQ(PluginSettings::Get().UiScaling, 0);
}

TEST_F(SettingsFile, TextThatIsNotAJsonObjectChangesNothing)
{
    for (const juce::String text : { "not json at all", "[1, 2, 3]", "", "\"UiScaling\"" })
    {
        PluginSettings::Set(PluginSettings {});
        plugin_testing::changeSettings([](PluginSettings& s) { s.UiScaling = 90; });
        writeResource("Settings.json", text);
        PluginSettings::Load();
        EXPECT_EQ(PluginSettings::Get().UiScaling, 90) << text;
        EXPECT_EQ(fileBytes(settingsFile()), text);
    }
}

TEST_F(SettingsFile, DeepNestingCountsAsTextThatIsNotJson)
{
    const int deep = 1000000;
    // The parser nests as deep in each: brackets in single-quoted strings, escaped quotes and
    // quotes after minus signs (which it takes as digits) hide nothing.
    const std::vector<std::pair<const char*, juce::String>> cases = {
        { "arrays", repeated("[", deep) + repeated("]", deep) },
        { "objects", repeated("{\"a\": ", deep) + "1" + repeated("}", deep) },
        { "mixed", repeated("[{\"a\": ", deep / 2) + "1" + repeated("}]", deep / 2) },
        { "brackets in single quotes", repeated("[']', ", deep) + "1" + repeated("]", deep) },
        { "escaped quotes", repeated(R"(["\"]", )", deep) + "1" + repeated("]", deep) },
        { "quotes after minus signs", "[" + repeated("-\", [-\", ", deep) + "1" + repeated("]", deep + 1) },
    };
    for (const auto& [name, nested] : cases)
    {
        const auto text = "{\"UiScaling\": 150, \"x\": " + nested + "}";
        EXPECT_EQ(uiScalingLoadedFrom(text), 90) << name;
        EXPECT_EQ(fileBytes(settingsFile()), text) << name;
    }
}

TEST_F(SettingsFile, NestingUpToTheLimitIsRead)
{
    const int limit = kep::load_limits::max_nesting;
    // The top-level object is the first level.
    const auto arrays = repeated("[", limit - 1) + repeated("]", limit - 1);
    EXPECT_EQ(uiScalingLoadedFrom("{\"UiScaling\": 150, \"x\": " + arrays + "}"), 150);
    EXPECT_EQ(uiScalingLoadedFrom("{\"UiScaling\": 150, \"x\": " + repeated("[{\"a\": ", limit / 2) + "1"
                                  + repeated("}]", limit / 2) + "}"),
              90);
    // Brackets in strings of either quote are not nesting.
    EXPECT_EQ(uiScalingLoadedFrom("{\"UiScaling\": 150, \"s\": \"[[[[\\\"[[\", \"t\": ['{{{{', \"]]]]\"], \"x\": "
                                  + arrays + "}"),
              150);
}

TEST_F(SettingsFile, FirstUseDateEmptyKeepsValueUnparsableGivesTimeZero)
{
    ZoneGuard zone("UTC0");
    const auto start = PluginSettings::Get().FirstUseDate;
    writeResource("Settings.json", R"({"FirstUseDate": ""})");
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().FirstUseDate, start);

    writeResource("Settings.json", R"({"FirstUseDate": "yesterday"})");
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().FirstUseDate.toMilliseconds(), 0);
    PluginSettings::Save();
    EXPECT_TRUE(fileBytes(settingsFile()).contains("\"FirstUseDate\": \"19700101T000000.000Z\""));

    writeResource("Settings.json", R"({"FirstUseDate": "2016-02-16T15:03:57.999+01:00"})");
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().FirstUseDate, juce::Time::fromISO8601("20160216T140357.999Z"));
}

TEST_F(SettingsFile, FolderInPlaceOfTheFileFailsSilently)
{
    writeResource("Settings.json/keep.txt", "x"); // a folder that cannot be removed
    plugin_testing::changeSettings([](PluginSettings& s) { s.UiScaling = 125; });
    PluginSettings::Load();
    EXPECT_EQ(PluginSettings::Get().UiScaling, 125);
    EXPECT_TRUE(settingsFile().isDirectory());
    EXPECT_EQ(resourceDir().findChildFiles(juce::File::findFiles, false, "*").size(), 0);
}

TEST_F(SettingsFile, PlainFileNamedLikeTheMakerFolderBlocksEverything)
{
    appData().createDirectory();
    appData().getChildFile("Quorvex").replaceWithText("x");
    PluginSettings::Load();
    EXPECT_TRUE(appData().getChildFile("Quorvex").existsAsFile());
    EXPECT_FALSE(resourceDir().exists());
}

TEST_F(SettingsFile, FoldersFollowHome)
{
    EXPECT_EQ(PluginPaths::getManufacturerDir(), appData().getFullPathName() + "/Quorvex");
    EXPECT_EQ(PluginPaths::getPluginResourceDir(), appData().getFullPathName() + "/Quorvex/Ferrowick");
}

} // namespace
