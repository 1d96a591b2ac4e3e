#include <cfloat>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/load_limits.h"
#include "core/model_file.h"
#include "test_support.h"

using nlohmann::json;
using testing_support::repeated;
using testing_support::TempDir;

namespace
{

const std::string unsupported_tail =
    ". Try either converting the model to a more recent version, or update your version of the KEP plugin.";

// Runs f and returns the message of the exception of type E that it must throw.
template <typename E, typename F> std::string message_of(F&& f)
{
    try
    {
        f();
    }
    catch (const E& e)
    {
        return e.what();
    }
    catch (const std::exception& e)
    {
        ADD_FAILURE() << "unexpected exception type: " << e.what();
        return {};
    }
    ADD_FAILURE() << "no exception";
    return {};
}

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

json linear_file()
{
    return json{{"version", "0.5.2"},
                {"architecture", "Linear"},
                {"config", {{"receptive_field", 2}, {"bias", false}}},
                {"weights", {0.5, 0.25}},
                {"metadata", {{"loudness", -20.0}}},
                {"sample_rate", 48000}};
}

// A Linear model file with those weights whose key holds the value given.
std::string file_with(const std::string& key, const std::string& value, const std::string& weights = "[0.5]")
{
    return R"({"version": "0.5.0", "architecture": "Linear", "weights": )" + weights + R"(, ")" + key + "\": " + value
           + "}";
}

// The message of the exception that reading the file throws on a 256 KiB stack ("" when none).
std::string read_on_small_stack(const std::string& path)
{
    std::string message;
    testing_support::run_on_stack(testing_support::small_stack, [&] {
        try
        {
            kep::dspData data = kep::read_config_file(path);
            const kep::dspData copy = data; // copying recurses once per level
            (void)copy;
        }
        catch (const std::exception& e)
        {
            message = e.what();
        }
    });
    return message;
}

const std::string too_deep =
    "Invalid model file: it nests deeper than the " + std::to_string(kep::load_limits::max_nesting) + " levels allowed";

} // namespace

TEST(VersionCheck, AcceptsAnyPatchOfVersionZeroFive)
{
    for (const char* version : {"0.5.0", "0.5.7", "0.5.12", "0.5.1.2", "0.5.3beta", " 0.5.1", "0.5.1\nrest"})
        EXPECT_NO_THROW(kep::verify_config_version(version)) << version;
}

TEST(VersionCheck, RefusesMalformedVersionsWithTheirMessages)
{
    for (const std::string version : {"0.5", "a.b.c", "", "0..1", "0.5."})
        EXPECT_EQ(message_of<std::invalid_argument>([&] { kep::verify_config_version(version); }),
                  "Invalid version string: " + version);

    EXPECT_EQ(message_of<std::out_of_range>([] { kep::verify_config_version("0.99999999999.1"); }),
              "Version string out of range: 0.99999999999.1");
    EXPECT_EQ(message_of<std::invalid_argument>([] { kep::verify_config_version("0.5.-1"); }),
              "Negative version component: 0.5.-1");
    // The conversions run in order: an invalid first field wins over a later out-of-range one.
    EXPECT_EQ(message_of<std::invalid_argument>([] { kep::verify_config_version("x.99999999999.1"); }),
              "Invalid version string: x.99999999999.1");

    for (const std::string version : {"0.6.0", "1.0.0", "0.4.9", "1.5.0"})
        EXPECT_EQ(message_of<std::runtime_error>([&] { kep::verify_config_version(version); }),
                  "Model config is an unsupported version " + version + unsupported_tail);
}

TEST(ModelFileReader, ReadsEveryFieldOfAWellFormedFile)
{
    TempDir dir;
    const kep::dspData data = kep::read_config_file(dir.write_json("model.kep", linear_file()));
    EXPECT_EQ(data.version, "0.5.2");
    EXPECT_EQ(data.architecture, "Linear");
    EXPECT_EQ(data.config, (json{{"receptive_field", 2}, {"bias", false}}));
    EXPECT_EQ(data.metadata, (json{{"loudness", -20.0}}));
    EXPECT_EQ(data.weights, (std::vector<float>{0.5f, 0.25f}));
    EXPECT_DOUBLE_EQ(data.expected_sample_rate, 48000.0);
}

TEST(ModelFileReader, OnlyRegularFilesOfBoundedSizeAreRead)
{
    // A catalogue may be shared: a link to a device or a pipe would never end, nor would its read.
    TempDir dir;
    const auto model = dir.write_json("model.kep", linear_file());
    const auto link = dir.path() / "link.kep";
    std::filesystem::create_symlink(model, link);
    EXPECT_EQ(kep::read_config_file(link.string()).architecture, "Linear");

    const auto device = dir.path() / "device.kep";
    std::filesystem::create_symlink("/dev/zero", device);
    const auto pipe = dir.path() / "pipe.kep";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const auto& path : { device, pipe, dir.path() })
        EXPECT_EQ(message_of<std::runtime_error>([&] { kep::read_config_file(path.string()); }),
                  "Invalid model file: it is not a regular file") << path;

    // Sparse: the size is there without the bytes.
    const auto large = dir.write("large.kep", "");
    std::filesystem::resize_file(large, kep::load_limits::max_model_file_bytes + 1);
    EXPECT_EQ(message_of<std::runtime_error>([&] { kep::read_config_file(large); }),
              "Invalid model file: it is larger than the 256 MiB allowed");
}

TEST(ModelFileReader, OptionalPartsAndLenientForms)
{
    TempDir dir;
    json file = linear_file();
    file.erase("sample_rate");
    file.erase("metadata");
    file.erase("config");
    file["weights"] = json::array({true, false, 1, 2.5});
    kep::dspData data = kep::read_config_file(dir.write_json("a.kep", file));
    EXPECT_DOUBLE_EQ(data.expected_sample_rate, -1.0);
    EXPECT_TRUE(data.metadata.is_null());
    EXPECT_TRUE(data.config.is_null());
    EXPECT_EQ(data.weights, (std::vector<float>{1.0f, 0.0f, 1.0f, 2.5f}));

    file["weights"] = json::array();
    EXPECT_TRUE(kep::read_config_file(dir.write_json("b.kep", file)).weights.empty());

    // Stray text after the document is not examined.
    data = kep::read_config_file(dir.write("c.kep", linear_file().dump() + "}} trailing garbage"));
    EXPECT_EQ(data.architecture, "Linear");
}

TEST(ModelFileReader, DeeplyNestedConfigAndMetadataDoNotExhaustTheStack)
{
    TempDir dir;
    const int deep = 1000000;
    const std::string arrays = repeated("[", deep) + repeated("]", deep);
    const std::string objects = repeated(R"({"a": )", deep) + "1" + repeated("}", deep);
    const std::string mixed = repeated(R"([{"a": )", deep / 2) + repeated("}]", deep / 2);
    for (const auto& [key, value] : {std::pair{"config", &arrays}, {"metadata", &objects}, {"unknown", &mixed}})
        EXPECT_EQ(read_on_small_stack(dir.write("deep.kep", file_with(key, *value))), too_deep) << key;

    // Neither a byte order mark nor white space before the document hides it.
    EXPECT_EQ(read_on_small_stack(dir.write("deep.kep", "\xEF\xBB\xBF \r\n\t" + arrays)), too_deep);
    // A string ends at a quote after an escaped backslash: what follows it nests.
    EXPECT_EQ(read_on_small_stack(dir.write("deep.kep", file_with("config", R"(["\\", )" + arrays + "]"))), too_deep);
}

TEST(ModelFileReader, NestingUpToTheLimitIsRead)
{
    TempDir dir;
    const int limit = kep::load_limits::max_nesting;
    // The file's object is the first level.
    const std::string at_limit = repeated("[", limit - 1) + repeated("]", limit - 1);
    EXPECT_EQ(read_on_small_stack(dir.write("m.kep", file_with("config", at_limit))), "");
    EXPECT_EQ(read_on_small_stack(dir.write("m.kep", file_with("config", "[" + at_limit + "]"))), too_deep);

    // Brackets inside strings, escaped quotes among them, are not nesting.
    const std::string in_strings = R"(["[[[{{{", "\"[[[[", "]]]]\\", ")" + repeated("[", 1000) + R"("])";
    const std::string config = "[" + in_strings + ", " + repeated("[", limit - 2) + repeated("]", limit - 2) + "]";
    const kep::dspData data = kep::read_config_file(dir.write("m.kep", file_with("config", config)));
    EXPECT_EQ(data.config[0][1], "\"[[[[");

    // Text after the document is never read, however deep.
    EXPECT_EQ(read_on_small_stack(dir.write("m.kep", file_with("config", at_limit) + repeated("[", 1000000))), "");
}

TEST(ModelFileReader, WeightsBeyondTheFloatRangeAreRefused)
{
    TempDir dir;
    auto read = [&](const std::string& weights) {
        return kep::read_config_file(dir.write("m.kep", file_with("metadata", "{}", weights)));
    };
    for (const std::string weight : {"1e39", "-1e39", "3.5e38"})
        EXPECT_EQ(message_of<std::runtime_error>([&] { read("[0.5, 2, " + weight + "]"); }),
                  "Invalid model file: weight 2 is not a finite 32-bit float")
            << weight;
    // Beyond the double range the JSON library refuses the number itself; numbers that round to
    // the largest float or to zero still read.
    EXPECT_THROW(read("[1e400]"), json::out_of_range);
    EXPECT_EQ(read("[3.4028234e38, -3.40282356e38, 1e-50]").weights, (std::vector<float>{FLT_MAX, -FLT_MAX, 0.0f}));
}

TEST(ModelFileReader, FailureTable)
{
    TempDir dir;
    auto read = [&](const std::string& text) { return kep::read_config_file(dir.write("m.kep", text)); };
    auto read_json = [&](json file) { return kep::read_config_file(dir.write_json("m.kep", file)); };

    EXPECT_EQ(message_of<std::runtime_error>([&] { kep::read_config_file((dir.path() / "none.kep").string()); }),
              "Config file doesn't exist!\n");
    EXPECT_THROW(read(""), json::parse_error);
    EXPECT_THROW(read("{\"version\": "), json::parse_error);
    EXPECT_THROW(read("not json"), json::parse_error);

    const std::string top_array = message_of<json::type_error>([&] { read("[1, 2]"); });
    EXPECT_TRUE(ends_with(top_array, "cannot use operator[] with a string argument with array")) << top_array;

    json file = linear_file();
    file.erase("version");
    EXPECT_TRUE(ends_with(message_of<json::type_error>([&] { read_json(file); }), "type must be string, but is null"));
    file["version"] = 0.5;
    EXPECT_TRUE(ends_with(message_of<json::type_error>([&] { read_json(file); }), "type must be string, but is number"));

    file = linear_file();
    file["version"] = "0.6.0";
    EXPECT_EQ(message_of<std::runtime_error>([&] { read_json(file); }),
              "Model config is an unsupported version 0.6.0" + unsupported_tail);

    file = linear_file();
    file.erase("weights");
    EXPECT_EQ(message_of<std::runtime_error>([&] { read_json(file); }), "Corrupted model file is missing weights.");
    file["weights"] = {{"a", 1}};
    EXPECT_TRUE(ends_with(message_of<json::type_error>([&] { read_json(file); }), "type must be array, but is object"));
    file["weights"] = {1.0, "2"};
    EXPECT_TRUE(ends_with(message_of<json::type_error>([&] { read_json(file); }), "type must be number, but is string"));

    file = linear_file();
    file.erase("architecture");
    EXPECT_TRUE(ends_with(message_of<json::type_error>([&] { read_json(file); }), "type must be string, but is null"));

    for (const json& rate : {json(nullptr), json(true), json("48000"), json::array(), json::object()})
    {
        file = linear_file();
        file["sample_rate"] = rate;
        EXPECT_TRUE(ends_with(message_of<json::type_error>([&] { read_json(file); }),
                              std::string("type must be number, but is ") + rate.type_name()))
            << rate.dump();
    }
}

TEST(ModelFileReader, ReportsTheFirstFaultInCheckOrder)
{
    TempDir dir;
    // Bad version, no weights and no architecture: the version is reported.
    json file = {{"version", "1.0.0"}};
    EXPECT_EQ(message_of<std::runtime_error>([&] { kep::read_config_file(dir.write_json("m.kep", file)); }),
              "Model config is an unsupported version 1.0.0" + unsupported_tail);
    // Missing weights and a bad sample rate: the weights are reported.
    file = {{"version", "0.5.0"}, {"sample_rate", "x"}};
    EXPECT_EQ(message_of<std::runtime_error>([&] { kep::read_config_file(dir.write_json("m.kep", file)); }),
              "Corrupted model file is missing weights.");
    // Missing architecture and a bad sample rate: the architecture is reported.
    file = {{"version", "0.5.0"}, {"weights", json::array()}, {"sample_rate", "x"}};
    EXPECT_TRUE(ends_with(message_of<json::type_error>([&] { kep::read_config_file(dir.write_json("m.kep", file)); }),
                          "type must be string, but is null"));
}
