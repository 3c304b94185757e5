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
