#include "values/JsonEscape.h"

#include <cstdint>

namespace {

// The four hex digits at p as a number, or -1.
int hexQuad(const char *p)
{
	int value = 0;
	for (int i = 0; i < 4; ++i) {
		const char c = p[i];
		int digit;
		if (c >= '0' && c <= '9')
			digit = c - '0';
		else if (c >= 'a' && c <= 'f')
			digit = c - 'a' + 10;
		else if (c >= 'A' && c <= 'F')
			digit = c - 'A' + 10;
		else
			return -1;
		value = value * 16 + digit;
	}
	return value;
}

void appendUtf8(uint32_t codepoint, std::string &out)
{
	if (codepoint < 0x80) {
		out.push_back(char(codepoint));
	} else if (codepoint < 0x800) {
		out.push_back(char(0xC0 | (codepoint >> 6)));
		out.push_back(char(0x80 | (codepoint & 0x3F)));
	} else if (codepoint < 0x10000) {
		out.push_back(char(0xE0 | (codepoint >> 12)));
		out.push_back(char(0x80 | ((codepoint >> 6) & 0x3F)));
		out.push_back(char(0x80 | (codepoint & 0x3F)));
	} else {
		out.push_back(char(0xF0 | (codepoint >> 18)));
		out.push_back(char(0x80 | ((codepoint >> 12) & 0x3F)));
		out.push_back(char(0x80 | ((codepoint >> 6) & 0x3F)));
		out.push_back(char(0x80 | (codepoint & 0x3F)));
	}
}

} // namespace

bool decodeJsonEscape(const char *&p, const char *end, std::string &out)
{
	if (end - p < 2)
		return false;
	const char kind = p[1];
	p += 2;
	switch (kind) {
	case '"':
	case '\\':
	case '/':
		out.push_back(kind);
		return true;
	case 'b':
		out.push_back('\b');
		return true;
	case 'f':
		out.push_back('\f');
		return true;
	case 'n':
		out.push_back('\n');
		return true;
	case 'r':
		out.push_back('\r');
		return true;
	case 't':
		out.push_back('\t');
		return true;
	case 'u':
		break;
	default:
		return false;
	}
	const int first = end - p >= 4 ? hexQuad(p) : -1;
	if (first < 0)
		return false;
	p += 4;
	uint32_t codepoint = uint32_t(first);
	if (first >= 0xDC00 && first <= 0xDFFF)
		return false;
	if (first >= 0xD800 && first <= 0xDBFF) {
		if (end - p < 6 || p[0] != '\\' || p[1] != 'u')
			return false;
		const int second = hexQuad(p + 2);
		if (second < 0xDC00 || second > 0xDFFF)
			return false;
		p += 6;
		codepoint = 0x10000 + ((uint32_t(first) - 0xD800) << 10) + (uint32_t(second) - 0xDC00);
	}
	appendUtf8(codepoint, out);
	return true;
}
