#pragma once

// The module's lines in OBS's log. Each starts with "[vorn-zorva] ", so that a
// user's log shows which lines are ours. The prefix joins the format text at
// compile time, and the compiler checks every format against its arguments:
// a line is formatted once, on the stack.

#include <util/base.h>

#if defined(__GNUC__) || defined(__clang__)
#define ZORVA_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define ZORVA_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

#define ZORVA_LOG_PREFIX "[vorn-zorva] "

// One line at an OBS log level; `format` already carries the prefix. Control
// bytes in the formatted line are written as \xNN.
void logLine(int level, const char *format, ...) ZORVA_PRINTF_FORMAT(2, 3);

// The format is the first of the arguments: a string literal, which the
// prefix joins.
#define logInfo(...) logLine(LOG_INFO, ZORVA_LOG_PREFIX __VA_ARGS__)
#define logWarning(...) logLine(LOG_WARNING, ZORVA_LOG_PREFIX __VA_ARGS__)
#define logError(...) logLine(LOG_ERROR, ZORVA_LOG_PREFIX __VA_ARGS__)
#define logDebug(...) logLine(LOG_DEBUG, ZORVA_LOG_PREFIX __VA_ARGS__)
