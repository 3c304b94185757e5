#pragma once

#include <string>

#include <nlohmann/json.hpp>

// The module's name for an nlohmann JSON value.
using json = nlohmann::json;

// Compact JSON text with non-ASCII characters as UTF-8. Invalid UTF-8 in
// strings is replaced instead of throwing, so no exception can escape.
inline std::string compactJson(const json &value)
{
	return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Non-throwing parse without comments; a discarded value on failure.
inline json parseJson(std::string_view text)
{
	return json::parse(text.begin(), text.end(), nullptr, false, false);
}

// A string member, or the empty string when it is missing or of another type.
inline std::string stringMember(const json &object, const char *key)
{
	const auto it = object.find(key);
	return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}
