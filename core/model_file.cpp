#include "core/model_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kep
{

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

    std::ifstream file{std::filesystem::path(path)};
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

    dspData data;
    data.version = j["version"].get<std::string>();
    data.architecture = j["architecture"].get<std::string>();
    // Moved, not copied: copying a JSON value recurses once per level of nesting, so a deeply
    // nested "config" or "metadata" would overflow the stack (destroying one does not recurse).
    data.config = std::move(j["config"]);
    data.metadata = std::move(j["metadata"]);
    data.weights = std::move(weights);

    const auto sample_rate = j.find("sample_rate");
    data.expected_sample_rate = sample_rate != j.end() ? json_number(*sample_rate) : -1.0;
    return data;
}

} // namespace kep
