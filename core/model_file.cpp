#include "core/model_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/load_limits.h"

namespace kep
{

namespace
{
// The deepest nesting of arrays and objects in the first JSON value of the stream, counted the
// way the library's parser reads it: an optional byte order mark and white space, then strings
// in double quotes with backslash escapes and no comments. Stops at the end of that value (what
// follows it is never parsed) or once the count passes limit. Where the parser would stop at an
// error the count may go on and come out higher, never lower.
int first_value_nesting(std::istream& in, int limit)
{
    std::streambuf& text = *in.rdbuf();
    using traits = std::streambuf::traits_type;
    int c = text.sbumpc();
    if (c == 0xEF) // a byte order mark, which the parser skips
    {
        text.sbumpc();
        text.sbumpc();
        c = text.sbumpc();
    }
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r')
        c = text.sbumpc();
    if (c != '[' && c != '{')
        return 0;

    int depth = 1, deepest = 1;
    bool in_string = false;
    while (depth > 0 && deepest <= limit && (c = text.sbumpc()) != traits::eof())
    {
        if (in_string)
        {
            if (c == '\\')
                text.sbumpc();
            else if (c == '"')
                in_string = false;
        }
        else if (c == '"')
            in_string = true;
        else if (c == '[' || c == '{')
            deepest = std::max(deepest, ++depth);
        else if (c == ']' || c == '}')
            --depth;
    }
    return deepest;
}
} // namespace

double json_number(const nlohmann::json& value)
{
    if (!value.is_number())
        throw nlohmann::json::type_error::create(302, std::string("type must be number, but is ") + value.type_name(),
                                                 &value);
    return value.get<double>();
}

void verify_config_version(std::string version)
{
    std::stringstream stream(version);
    std::string major, minor, patch;
    std::getline(stream, major, '.');
    std::getline(stream, minor, '.');
    std::getline(stream, patch);

    int numbers[3] = {0, 0, 0};
    const std::string* fields[3] = {&major, &minor, &patch};
    for (int i = 0; i < 3; i++)
    {
        try
        {
            numbers[i] = std::stoi(*fields[i]);
        }
        catch (const std::invalid_argument&)
        {
            throw std::invalid_argument("Invalid version string: " + version);
        }
        catch (const std::out_of_range&)
        {
            throw std::out_of_range("Version string out of range: " + version);
        }
    }
    if (numbers[0] < 0 || numbers[1] < 0 || numbers[2] < 0)
        throw std::invalid_argument("Negative version component: " + version);
    if (numbers[0] != 0 || numbers[1] != 5)
        throw std::runtime_error("Model config is an unsupported version " + version
                                 + ". Try either converting the model to a more recent version, or update your "
                                   "version of the KEP plugin.");
}

dspData read_config_file(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::path(path), error))
        throw std::runtime_error("Config file doesn't exist!\n");
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error))
        throw std::runtime_error("Invalid model file: it is not a regular file");
    const auto size = std::filesystem::file_size(std::filesystem::path(path), error);
    if (error || size > load_limits::max_model_file_bytes)
        throw std::runtime_error("Invalid model file: it is larger than the "
                                 + std::to_string(load_limits::max_model_file_bytes >> 20) + " MiB allowed");

    std::ifstream file{std::filesystem::path(path)};
    // Deep nesting is refused before the parser runs: copying or comparing the values it builds
    // recurses once per level.
    if (first_value_nesting(file, load_limits::max_nesting) > load_limits::max_nesting)
        throw std::runtime_error("Invalid model file: it nests deeper than the " + std::to_string(load_limits::max_nesting)
                                 + " levels allowed");
    file.clear();
    file.seekg(0);
    nlohmann::json j;
    // Reads the first complete JSON value; anything after it is not examined.
    file >> j;

    verify_config_version(j["version"].get<std::string>());

    std::vector<float> weights;
    {
        const auto found = j.find("weights");
        if (found == j.end())
            throw std::runtime_error("Corrupted model file is missing weights.");
        weights = found->get<std::vector<float>>();
    }
    // A number beyond the float range (1e39, say) reads as infinity.
    for (size_t i = 0; i < weights.size(); i++)
        if (!std::isfinite(weights[i]))
            throw std::runtime_error("Invalid model file: weight " + std::to_string(i) + " is not a finite 32-bit float");

    dspData data;
    data.version = j["version"].get<std::string>();
    data.architecture = j["architecture"].get<std::string>();
    // Moved, not copied: copying a JSON value recurses once per level of nesting.
    data.config = std::move(j["config"]);
    data.metadata = std::move(j["metadata"]);
    data.weights = std::move(weights);

    const auto sample_rate = j.find("sample_rate");
    data.expected_sample_rate = sample_rate != j.end() ? json_number(*sample_rate) : -1.0;
    return data;
}

} // namespace kep
