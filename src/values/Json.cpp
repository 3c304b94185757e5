#include "values/Json.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

// Events are relayed to every page as compact text, and most of their bytes
// are in strings of plain ASCII or valid UTF-8. nlohmann's serialiser decodes
// and appends those a character at a time; this writer copies runs of them
// at once. Everything it does not handle itself (invalid UTF-8, floating-point
// numbers, binary values) is left to nlohmann, so the text stays identical.

namespace {

enum ByteClass : uint8_t { Plain, Escape, Lead2, Lead3, Lead4, Invalid };

constexpr std::array<uint8_t, 256> makeByteClasses()
{
	std::array<uint8_t, 256> classes{};
	for (size_t b = 0; b < 256; ++b) {
		if (b < 0x20 || b == '"' || b == '\\')
			classes[b] = Escape;
		else if (b < 0x80)
			classes[b] = Plain;
		else if (b >= 0xC2 && b <= 0xDF)
			classes[b] = Lead2;
		else if (b >= 0xE0 && b <= 0xEF)
			classes[b] = Lead3;
		else if (b >= 0xF0 && b <= 0xF4)
			classes[b] = Lead4;
		else
			classes[b] = Invalid;
	}
	return classes;
}

constexpr std::array<uint8_t, 256> kByteClasses = makeByteClasses();

bool continuation(uint8_t b)
{
	return (b & 0xC0) == 0x80;
}

} // namespace

size_t utf8SequenceLength(const unsigned char *p, size_t left)
{
	switch (kByteClasses[p[0]]) {
	case Lead2:
		return left >= 2 && continuation(p[1]) ? 2 : 0;
	case Lead3: {
		if (left < 3 || !continuation(p[1]) || !continuation(p[2]))
			return 0;
		if ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] > 0x9F))
			return 0;
		return 3;
	}
	case Lead4: {
		if (left < 4 || !continuation(p[1]) || !continuation(p[2]) || !continuation(p[3]))
			return 0;
		if ((p[0] == 0xF0 && p[1] < 0x90) || (p[0] == 0xF4 && p[1] > 0x8F))
			return 0;
		return 4;
	}
	default:
		return 0;
	}
}

namespace {

void appendEscape(uint8_t b, std::string &out)
{
	switch (b) {
	case '"':
		out += "\\\"";
		return;
	case '\\':
		out += "\\\\";
		return;
	case '\b':
		out += "\\b";
		return;
	case '\t':
		out += "\\t";
		return;
	case '\n':
		out += "\\n";
		return;
	case '\f':
		out += "\\f";
		return;
	case '\r':
		out += "\\r";
		return;
	default: {
		static const char hex[] = "0123456789abcdef";
		const char escaped[] = {'\\', 'u', '0', '0', hex[b >> 4], hex[b & 15]};
		out.append(escaped, sizeof(escaped));
	}
	}
}

} // namespace

bool appendJsonEscaped(std::string_view text, std::string &out)
{
	const size_t start = out.size();
	const auto *p = reinterpret_cast<const uint8_t *>(text.data());
	const size_t size = text.size();
	size_t runStart = 0;
	size_t i = 0;
	while (i < size) {
		const uint8_t kind = kByteClasses[p[i]];
		if (kind == Plain) {
			++i;
			continue;
		}
		if (kind == Escape) {
			out.append(text, runStart, i - runStart);
			appendEscape(p[i], out);
			runStart = ++i;
			continue;
		}
		const size_t length = utf8SequenceLength(p + i, size - i);
		if (length == 0) {
			out.resize(start);
			return false;
		}
		i += length;
	}
	out.append(text, runStart, size - runStart);
	return true;
}

namespace {

void appendString(const std::string &text, std::string &out)
{
	out.push_back('"');
	if (appendJsonEscaped(text, out)) {
		out.push_back('"');
		return;
	}
	out.pop_back();
	// nlohmann's replacement of invalid sequences, character for character.
	out += json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

template<typename Integer> void appendInteger(Integer value, std::string &out)
{
	char digits[24];
	const auto result = std::to_chars(digits, digits + sizeof(digits), value);
	out.append(digits, size_t(result.ptr - digits));
}

void appendValue(const json &value, std::string &out)
{
	switch (value.type()) {
	case json::value_t::object: {
		out.push_back('{');
		bool first = true;
		for (const auto &[key, member] : value.get_ref<const json::object_t &>()) {
			if (!first)
				out.push_back(',');
			first = false;
			appendString(key, out);
			out.push_back(':');
			appendValue(member, out);
		}
		out.push_back('}');
		return;
	}
	case json::value_t::array: {
		out.push_back('[');
		bool first = true;
		for (const json &element : value.get_ref<const json::array_t &>()) {
			if (!first)
				out.push_back(',');
			first = false;
			appendValue(element, out);
		}
		out.push_back(']');
		return;
	}
	case json::value_t::string:
		appendString(value.get_ref<const std::string &>(), out);
		return;
	case json::value_t::boolean:
		out += value.get<bool>() ? "true" : "false";
		return;
	case json::value_t::null:
		out += "null";
		return;
	case json::value_t::number_integer:
		appendInteger(value.get<json::number_integer_t>(), out);
		return;
	case json::value_t::number_unsigned:
		appendInteger(value.get<json::number_unsigned_t>(), out);
		return;
	default: // floating point, binary, discarded
		out += value.dump(-1, ' ', false, json::error_handler_t::replace);
		return;
	}
}

} // namespace

// A quote closes the string unless an odd number of backslashes stands right
// before it; memchr finds the quotes far faster than a look at every
// character would.
const char *jsonStringEnd(const char *content, const char *end)
{
	for (const char *from = content; from < end;) {
		const auto *quote = static_cast<const char *>(std::memchr(from, '"', size_t(end - from)));
		if (!quote)
			return end;
		size_t backslashes = 0;
		for (const char *p = quote; p > content && p[-1] == '\\'; --p)
			++backslashes;
		if (backslashes % 2 == 0)
			return quote + 1;
		from = quote + 1;
	}
	return end;
}

bool jsonNestingWithin(std::string_view text, size_t limit)
{
	// Going deeper than the limit takes more opening brackets than that.
	if (text.size() <= limit)
		return true;
	size_t depth = 0;
	const char *p = text.data();
	const char *const end = p + text.size();
	while (p < end) {
		const char c = *p++;
		if (c == '"') {
			p = jsonStringEnd(p, end);
		} else if (c == '[' || c == '{') {
			if (++depth > limit)
				return false;
		} else if ((c == ']' || c == '}') && depth > 0) {
			--depth;
		}
	}
	return true;
}

std::string compactJson(const json &value)
{
	std::string out;
	appendValue(value, out);
	return out;
}
