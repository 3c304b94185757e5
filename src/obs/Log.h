#pragma once

// The module's lines in OBS's log. Each starts with "[vorn-zorva] ", so that a
// user's log shows which lines are ours; the compiler checks every format
// against its arguments.

#if defined(__GNUC__) || defined(__clang__)
#define ZORVA_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define ZORVA_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

void logInfo(const char *format, ...) ZORVA_PRINTF_FORMAT(1, 2);
void logWarning(const char *format, ...) ZORVA_PRINTF_FORMAT(1, 2);
void logError(const char *format, ...) ZORVA_PRINTF_FORMAT(1, 2);
void logDebug(const char *format, ...) ZORVA_PRINTF_FORMAT(1, 2);
