#include "values/CanonicalObject.h"

#include "values/Json.h"
#include "values/JsonEscape.h"

#include <algorithm>
#include <cstring>

bool CanonicalObjectReader::next(std::string_view &key)
{
	if (finished)
		return false;
	if (valuePending)
		pos = endOfValue();
	valuePending = false;
	// Past the opening brace or the comma after the previous member; at the
	// closing brace, past it.
	if (pos == 0 || (pos < text.size() && text[pos] == ','))
		++pos;
	if (pos >= text.size() || text[pos] != '"') {
		finished = true;
		pos = std::min(pos + 1, text.size());
		return false;
	}
	const char *const begin = text.data();
	const size_t colon = size_t(jsonStringEnd(begin + pos + 1, begin + text.size()) - begin);
	if (colon >= text.size()) {
		finished = true;
		pos = text.size();
		return false;
	}
	key = text.substr(pos + 1, colon - pos - 2);
	pos = colon + 1;
	valuePending = true;
	return true;
}

std::string_view CanonicalObjectReader::value()
{
	if (!valuePending)
		return std::string_view();
	const size_t start = pos;
	pos = endOfValue();
	valuePending = false;
	return text.substr(start, pos - start);
}

void CanonicalObjectReader::pass(const CanonicalObjectReader &object)
{
	if (!valuePending)
		return;
	pos += object.objectText().size();
	valuePending = false;
}

size_t CanonicalObjectReader::endOfValue() const
{
	const char *const begin = text.data();
	const char *const end = begin + text.size();
	const char *p = begin + pos;
	if (p >= end)
		return text.size();
	if (*p == '"')
		return size_t(jsonStringEnd(p + 1, end) - begin);
	if (*p != '{' && *p != '[') {
		while (p < end && *p != ',' && *p != '}' && *p != ']')
			++p;
		return size_t(p - begin);
	}
	size_t depth = 0;
	while (p < end) {
		const char c = *p++;
		if (c == '"')
			p = jsonStringEnd(p, end);
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
