#pragma once

#include <string>

// Decodes the escape sequence at p (a backslash) as nlohmann's parser does:
// appends its character as UTF-8 to out and moves p past it. False where the
// parser refuses it: an unknown escape, fewer than four hex digits, a high
// surrogate without a low one right after it, a low one alone.
bool decodeJsonEscape(const char *&p, const char *end, std::string &out);
