#include "obs/Log.h"

#include <util/base.h>

#include <cstdarg>
#include <string>

namespace {

void logPrefixed(int level, const char *format, va_list arguments)
{
	std::string prefixed = "[vorn-zorva] ";
	prefixed += format;
	blogva(level, prefixed.c_str(), arguments);
}

} // namespace

#define ZORVA_DEFINE_LOG(name, level)                  \
	void name(const char *format, ...)             \
	{                                              \
		va_list arguments;                     \
		va_start(arguments, format);           \
		logPrefixed(level, format, arguments); \
		va_end(arguments);                     \
	}

ZORVA_DEFINE_LOG(logInfo, LOG_INFO)
ZORVA_DEFINE_LOG(logWarning, LOG_WARNING)
ZORVA_DEFINE_LOG(logError, LOG_ERROR)
ZORVA_DEFINE_LOG(logDebug, LOG_DEBUG)
