#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Walks the members of an object in canonical JSON text, as
// CanonicalJsonWriter writes it: no whitespace, every key once. Finding a
// member takes a scan for quotes and brackets, no parse, and an object value
// can be read member by member in the same pass that goes past it.
class CanonicalObjectReader {
public:
	// `text` starts with the object and may go on past its end.
	explicit CanonicalObjectReader(std::string_view source) : text(source) {}

	// The next member's key as written between the quotes (escaped); its
	// value is then read with value() or objectValue(), or passed over by
	// the next call. False after the last member.
	bool next(std::string_view &key);

	// The current member's value.
	std::string_view value();

	// Whether the current member's value is an object, and a reader of it.
	// Once that reader has read its last member, pass() goes on behind it.
	bool valueIsObject() const { return valuePending && pos < text.size() && text[pos] == '{'; }
	CanonicalObjectReader objectValue() const { return CanonicalObjectReader(text.substr(pos)); }
	void pass(const CanonicalObjectReader &object);

	// After the last member: the object's text, braces included.
	std::string_view objectText() const { return text.substr(0, pos); }

private:
	size_t endOfValue() const;

	std::string_view text;
	size_t pos = 0;
	bool valuePending = false;
	bool finished = false;
};

// The string a canonical string value holds, decoded into out; false, with
// out as it was, when the value is not a string (and with out empty when its
// escapes are broken, which canonical text never has).
bool canonicalStringValue(std::string_view value, std::string &out);
