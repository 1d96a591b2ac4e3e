#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kep
{

// Every integer that a model file's "config" gives (sizes, dilations) is read through these.
//
// A number inside the 32-bit int range converts exactly as the JSON library's own conversion
// does (a fraction is cut off, a boolean reads as 1 or 0, any other type raises the library's
// type error). A number outside that range (an integer literal such as 3000000000 as well as a
// floating-point one such as 1e40), NaN and infinity are refused with std::runtime_error naming
// the key, instead of wrapping or converting with undefined behaviour.
int config_int(const nlohmann::json& value, const std::string& key);

// A list of such integers; key names the list, and an entry is named key[i]. A value that is
// not an array raises the library's type error, as the library's list conversion does.
std::vector<int> config_int_list(const nlohmann::json& value, const std::string& key);

} // namespace kep
