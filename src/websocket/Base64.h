#pragma once

#include <string>
#include <string_view>

// Standard Base64 with padding, no line breaks.
std::string base64Encode(std::string_view bytes);

// Lenient decoding: blanks (tab, line feed, carriage return, space) are
// skipped, a trailing group of one to three characters is ignored, and a group
// whose first or second character is "=" or not in the alphabet empties the
// whole result.
std::string base64Decode(std::string_view text);
