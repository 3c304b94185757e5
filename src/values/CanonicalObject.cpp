#include "values/CanonicalObject.h"

#include "values/Json.h"
#include "values/JsonEscape.h"

#include <cstring>

bool CanonicalObjectReader::next(std::string_view &key, std::string_view &value)
{
	if (pos >= text.size() || text[pos] != '"')
		return false;
	const char *const begin = text.data();
	const char *const keyEnd = endOfJsonString(begin + pos + 1, begin + text.size());
	const size_t colon = size_t(keyEnd - begin);
	if (colon >= text.size())
		return false;
	key = text.substr(pos + 1, colon - pos - 2);
	const size_t valueEnd = endOfValue(colon + 1);
	value = text.substr(colon + 1, valueEnd - colon - 1);
	pos = valueEnd + 1; // past the comma, or past the closing brace
	return true;
}

size_t CanonicalObjectReader::endOfValue(size_t start) const
{
	const char *const begin = text.data();
	const char *const end = begin + text.size();
	const char *p = begin + start;
	if (p >= end)
		return text.size();
	if (*p == '"')
		return size_t(endOfJsonString(p + 1, end) - begin);
	if (*p != '{' && *p != '[') {
		while (p < end && *p != ',' && *p != '}' && *p != ']')
			++p;
		return size_t(p - begin);
	}
	size_t depth = 0;
	while (p < end) {
		const char c = *p++;
		if (c == '"')
			p = endOfJsonString(p, end);
		else if (c == '{' || c == '[')
			++depth;
		else if ((c == '}' || c == ']') && --depth == 0)
			break;
	}
	return size_t(p - begin);
}

bool canonicalStringValue(std::string_view value, std::string &out)
{
	if (value.size() < 2 || value.front() != '"' || value.back() != '"')
		return false;
	out.clear();
	const char *p = value.data() + 1;
	const char *const end = value.data() + value.size() - 1;
	while (p < end) {
		const auto *backslash = static_cast<const char *>(std::memchr(p, '\\', size_t(end - p)));
		if (!backslash) {
			out.append(p, size_t(end - p));
			break;
		}
		out.append(p, size_t(backslash - p));
		p = backslash;
		if (!decodeJsonEscape(p, end, out)) {
			out.clear();
			return false;
		}
	}
	return true;
}
