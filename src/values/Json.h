#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The module's name for an nlohmann JSON value.
using json = nlohmann::json;

// Compact JSON text with non-ASCII characters as UTF-8. Invalid UTF-8 in
// strings is replaced instead of throwing, so no exception can escape. The
// text is exactly nlohmann's dump(-1, ' ', false, replace), written faster.
std::string compactJson(const json &value);

// The content of a JSON string between its quotes, escaped as compactJson
// writes it; false, with nothing appended, when the text is not valid UTF-8.
bool appendJsonEscaped(std::string_view text, std::string &out);

// Length of the well-formed UTF-8 sequence at p (RFC 3629: no overlong forms,
// no surrogates, nothing past U+10FFFF), or 0. These are the sequences
// nlohmann's parser accepts in strings.
size_t utf8SequenceLength(const unsigned char *p, size_t left);

// Just past the closing quote of the JSON string whose content starts at
// `content`, or `end` when it does not close.
const char *jsonStringEnd(const char *content, const char *end);

// Arrays and objects nested deeper than this are refused. Serialising and
// copying a value recurse once per level: a message of a few hundred kilobytes
// of "[" would otherwise overflow the stack of the thread that relays it.
inline constexpr size_t maxJsonNesting = 512;

// Whether no array or object in the text lies deeper than the limit. Counts
// brackets outside strings, which for valid JSON is exactly its nesting.
bool jsonNestingWithin(std::string_view text, size_t limit);

// Non-throwing parse without comments; a discarded value on failure and for
// nesting beyond maxJsonNesting.
inline json parseJson(std::string_view text)
{
	if (!jsonNestingWithin(text, maxJsonNesting))
		return json(json::value_t::discarded);
	return json::parse(text.begin(), text.end(), nullptr, false, false);
}

// A string member, or the empty string when it is missing or of another type.
inline std::string stringMember(const json &object, const char *key)
{
	const auto it = object.find(key);
	return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}
