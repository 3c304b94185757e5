#include "obs/Log.h"

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

bool isControlByte(unsigned char byte)
{
	return byte < 0x20 || byte == 0x7f;
}

// Lines carry values from outside the module: a login callback's error text,
// names and replies from the services. Written raw, a line feed among them
// would start a line of its own, forged under our prefix, in the log users
// share when they ask for help. The format texts hold no control bytes, so
// escaping the formatted line escapes exactly the values.
std::string escapeControlBytes(const char *text)
{
	static const char digits[] = "0123456789abcdef";
	std::string escaped;
	for (const char *at = text; *at; ++at) {
		const auto byte = static_cast<unsigned char>(*at);
		if (!isControlByte(byte)) {
			escaped.push_back(*at);
			continue;
		}
		escaped += "\\x";
		escaped.push_back(digits[byte >> 4]);
		escaped.push_back(digits[byte & 0xf]);
	}
	return escaped;
}

bool hasControlBytes(const char *text)
{
	for (const char *at = text; *at; ++at)
		if (isControlByte(static_cast<unsigned char>(*at)))
			return true;
	return false;
}

void logFormatted(int level, const char *format, va_list arguments)
{
	// Most lines fit the stack buffer; a longer one is formatted again in full.
	char line[1024];
	va_list first;
	va_copy(first, arguments);
	const int length = std::vsnprintf(line, sizeof(line), format, first);
	va_end(first);
	if (length < 0)
		return;
	std::string longLine;
	const char *text = line;
	if (size_t(length) >= sizeof(line)) {
		longLine.resize(size_t(length));
		std::vsnprintf(longLine.data(), size_t(length) + 1, format, arguments);
		text = longLine.c_str();
	}
	if (hasControlBytes(text))
		blog(level, "%s", escapeControlBytes(text).c_str());
	else
		blog(level, "%s", text);
}

} // namespace

void logLine(int level, const char *format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	logFormatted(level, format, arguments);
	va_end(arguments);
}
