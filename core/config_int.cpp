#include "core/config_int.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace kep
{

namespace
{
constexpr int64_t int_min = std::numeric_limits<int>::min();
constexpr int64_t int_max = std::numeric_limits<int>::max();

[[noreturn]] void refuse(const nlohmann::json& value, const std::string& key)
{
    throw std::runtime_error("Model config value \"" + key + "\" is outside the 32-bit integer range ("
                             + value.dump() + ")");
}
} // namespace

int config_int(const nlohmann::json& value, const std::string& key)
{
    if (value.is_number_integer() && !value.is_number_unsigned())
    {
        const int64_t v = value.get<int64_t>();
        if (v < int_min || v > int_max)
            refuse(value, key);
    }
    else if (value.is_number_unsigned())
    {
        if (value.get<uint64_t>() > static_cast<uint64_t>(int_max))
            refuse(value, key);
    }
    else if (value.is_number_float())
    {
        // Truncation toward zero must land in range: (-2^31 - 1, 2^31) exclusive; false for NaN.
        const double v = value.get<double>();
        if (!(v > -2147483649.0 && v < 2147483648.0))
            refuse(value, key);
    }
    return value.get<int>();
}

std::vector<int> config_int_list(const nlohmann::json& value, const std::string& key)
{
    if (!value.is_array())
        return value.get<std::vector<int>>(); // raises the library's "type must be array" error
    std::vector<int> result;
    result.reserve(value.size());
    for (size_t i = 0; i < value.size(); i++)
        result.push_back(config_int(value[i], key + "[" + std::to_string(i) + "]"));
    return result;
}

} // namespace kep
