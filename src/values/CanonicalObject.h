#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Walks the members of an object in canonical JSON text, as
// CanonicalJsonWriter writes it: no whitespace, every key once. Finding a
// member takes a scan for quotes and brackets, no parse.
class CanonicalObjectReader {
public:
	// `object` is the whole object's text, braces included.
	explicit CanonicalObjectReader(std::string_view object) : text(object) {}

	// The next member: its key as written between the quotes (escaped) and
	// the text of its value. False after the last one.
	bool next(std::string_view &key, std::string_view &value);

private:
	size_t endOfValue(size_t start) const;

	std::string_view text;
	size_t pos = 1;
};

// The string a canonical string value holds, decoded into out; false, with
// out as it was, when the value is not a string (and with out empty when its
// escapes are broken, which canonical text never has).
bool canonicalStringValue(std::string_view value, std::string &out);
