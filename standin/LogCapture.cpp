#include "LogCapture.h"

#include <cstdarg>
#include <cstdio>

#include <util/base.h>

namespace {

const char *levelName(int level)
{
	switch (level) {
	case LOG_ERROR:
		return "error";
	case LOG_WARNING:
		return "warning";
	case LOG_INFO:
		return "info";
	default:
		return "debug";
	}
}

void logHandler(int level, const char *format, va_list args, void *)
{
	char buffer[8192];
	vsnprintf(buffer, sizeof(buffer), format, args);
	LogCapture::instance().append(level, buffer);
}

} // namespace

LogCapture &LogCapture::instance()
{
	static LogCapture capture;
	return capture;
}

void LogCapture::install()
{
	base_set_log_handler(&logHandler, nullptr);
}

void LogCapture::clear()
{
	std::lock_guard<std::mutex> lock(mutex);
	captured.clear();
}

void LogCapture::append(int level, std::string text)
{
	std::lock_guard<std::mutex> lock(mutex);
	if (echo)
		fprintf(stderr, "[%s] %s\n", levelName(level), text.c_str());
	captured.push_back({level, std::move(text)});
}

std::vector<LogCapture::Line> LogCapture::lines() const
{
	std::lock_guard<std::mutex> lock(mutex);
	return captured;
}

std::vector<LogCapture::Line> LogCapture::matching(const std::string &fragment) const
{
	std::lock_guard<std::mutex> lock(mutex);
	std::vector<Line> result;
	for (const Line &line : captured) {
		if (line.text.find(fragment) != std::string::npos)
			result.push_back(line);
	}
	return result;
}

void LogCapture::setEcho(bool enabled)
{
	std::lock_guard<std::mutex> lock(mutex);
	echo = enabled;
}
